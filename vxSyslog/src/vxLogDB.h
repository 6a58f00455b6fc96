#pragma once

#include <QString>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>

#include "DropTally.h"
#include "MsgItem.h"
#include "MsgQueue.h"
#include "QDBSqlite.h"

namespace SystemLog {

// The writer side of the log store. Owns the connection (m_db), queues the
// lines handed to pushMsg from any thread, and writes them on its own thread.
//
// Memory: the queue is bounded in bytes (setCapacityBytes, default 64 MiB);
// a line that finds it full is dropped and counted, and pushMsg never waits.
// The batch being written (at most one transaction's lines) is held outside
// the queue, so the lines in memory stay below the capacity plus one batch.
// Batches: one transaction holds at most kMaxLinesPerTransaction lines (and
// kMaxBytesPerTransaction of queue cost) and the connection is released
// between transactions. While queries come, the writer fits the number of
// lines to a budget of kTransactionBudgetMs per transaction from the rate of
// the last one that a query waited for; while none come, batches grow back to
// the maximum, where the writer's rate matches a plain SQLite program's. On
// the development machine 10,000 short lines take about 30 ms when it is
// quiet (synchronous=FULL included); under a flood that leaves the writer a
// share of a core they took up to 300 ms, which the budget keeps a query from
// waiting for. Each thread's lines keep their order: the queue is FIFO and a
// failed batch is retried before anything taken after it.
// Fairness: a query announces itself (m_queriesWaiting) before it takes
// m_dbMutex, and the writer does not begin another transaction while one is
// announced, so a flood cannot starve the viewer of the lock. A transaction
// that a query waits for stops inserting after m_queryYieldMs (20 ms) and
// commits the rows so far; the rest follow after the query. That bounds the
// wait even when inserts run far slower than the budget expected.
// Failures: a batch that fails while the store is open (a full disk, a size
// cap, an I/O error) is kept and retried after a pause of m_retryPauseMs, up
// to m_maxAttempts attempts in a row (default 10, about 2 s); then it is
// dropped and counted, and the next batch gets the same number of attempts.
// A batch that meets a lock held by another process past the busy timeout is
// retried up to kMaxBusyAttempts times, each after a busy wait of 1 s: a
// reader holds its lock for a whole query, and a day of 100,000 rows read
// while two writers compete can keep a commit waiting for several seconds.
// While stopping, locks get the ordinary number of attempts, and once one
// batch is given up the rest of the queue is given up with it.
// When the store is not open (or refused a foreign file) lines are dropped and
// counted at once: nothing is written anywhere.
// Drop records: lines refused by the full queue and lines given up after
// failures are each summed into a tally; the writer stores one record of type
// 4 per tally (DropTally.h) in the next transaction it can write, placed where
// the gap is. droppedCount() counts every line given up on, for any reason.
// Idle: the writer sleeps on the queue's condition variable until a line
// arrives or a stop is asked; a line arriving at an idle writer is written at
// once; after a small batch the writer pauses m_intervalMs (10 ms) so that a
// burst shares one transaction.
// Start and stop: stopProcess() wakes the writer, which writes (or gives up
// on) everything queued and then ends, unless start() was called meanwhile:
// start() during that drain leaves the loop running. The destructor stops,
// joins, writes what was queued after the thread's end, and closes the store.
// Locks: m_stopMutex (stop and running flags), the queue's mutex, m_dbMutex
// (every statement on m_db); none is held while another is taken.
class vxLogDB : public QThread
{
    Q_OBJECT
public:
    using tag_MsgItem = SystemLog::tag_MsgItem;
    using MsgQueue = SystemLog::MsgQueue;

    static constexpr int kMaxBatchAttempts = 10;
    static constexpr int kMaxBusyAttempts = 60;
    static constexpr int kRetryPauseMs = 200;
    static constexpr int kBusyTimeoutMs = QDBSqlite::kBusyTimeoutMs;
    static constexpr std::size_t kMaxLinesPerTransaction = 10000;
    static constexpr std::size_t kMinLinesPerTransaction = 500;
    static constexpr int kTransactionBudgetMs = 50;
    static constexpr int kYieldAfterMs = 20;
    static constexpr std::size_t kMaxBytesPerTransaction = std::size_t(4) * 1024 * 1024;

    explicit vxLogDB(QObject* parent = nullptr);
    virtual ~vxLogDB();

    void start();

    // Settings, before start().
    void setCapacityBytes(std::size_t bytes) { m_queue.setCapacity(bytes); }
    void setRetryLimit(int attempts, int pauseMs);
    // How long a transaction may go on inserting once a query waits
    // (kYieldAfterMs by default).
    void setQueryYieldMs(int ms) { m_queryYieldMs = ms; }
    // Caps the database at `pages` pages (PRAGMA max_page_count on the
    // writer's connection); any time. Returns the cap in force, 0 on failure.
    qint64 setMaxPageCount(qint64 pages);

    void pushMsg(int type, const char* text, int length);

    RecordList queryByDay(QString day, int type);
    RecordList queryByRange(QString start, QString end, int type);
    // The same queries with their own outcome.
    QueryResult queryDayResult(const QString& day, int type);
    QueryResult queryRangeResult(const QString& start, const QString& end, int type);
    bool lastQueryFailed();
    QString lastQueryError();

    // Lines given up on: refused by the full queue, the store not open, or a
    // batch that kept failing.
    std::uint64_t droppedCount() const;
    // Times the writer thread came back from waiting (for lines, a pause or a
    // retry), and batches that failed; both since construction.
    std::uint64_t wakeUpCount() const { return m_wakeUps.load(std::memory_order_relaxed); }
    std::uint64_t failedWriteCount() const { return m_failedWrites.load(std::memory_order_relaxed); }

public slots:
    void stopProcess();

protected:
    void run() override;

private:
    enum class Cycle { Idle, Wrote, Failed };

    bool stopRequested();
    bool endUnlessRestarted();
    Cycle writeCycle();
    void drainAll();
    bool writePending();
    void giveUpPending();
    void fitBatchToBudget(std::size_t lines, std::chrono::steady_clock::duration spent, bool queryWaited);
    bool storeOpen();
    std::unique_lock<std::mutex> writerTurn();
    std::unique_lock<std::mutex> callerTurn();
    void endCallerTurn(std::unique_lock<std::mutex>& lock);
    QueryResult runQuery(const QString& start, const QString& end, int type);

    QDBSqlite* m_db = nullptr;
    bool m_stop = false;
    bool m_loopActive = false;            // guarded by m_stopMutex
    std::mutex m_stopMutex;
    int m_intervalMs = 10;
    MsgQueue m_queue;

    std::mutex m_dbMutex;                 // held around every statement on m_db
    std::condition_variable m_dbTurn;     // a caller finished with m_db
    std::atomic<int> m_queriesWaiting{0};

    // Writer thread only (and the destructor, after the join).
    std::list<tag_MsgItem> m_pending;     // taken from the queue, not yet written
    DropTally m_pendingOverflow;          // drops that fall among m_pending
    std::size_t m_pendingOverflowPosition = 0;
    DropTally m_unwrittenOverflow;        // overflow tallies whose batch was given up
    DropTally m_givenUp;                  // lines given up after failed writes
    FailureKind m_givenUpKind = FailureKind::Other;
    int m_failedAttempts = 0;             // consecutive failed writes of m_pending
    bool m_draining = false;              // stopping: no extra patience for locks
    std::uint64_t m_consumedLines = 0;    // lines taken and then written or given up
    int m_maxAttempts = kMaxBatchAttempts;
    int m_retryPauseMs = kRetryPauseMs;
    int m_queryYieldMs = kYieldAfterMs;
    std::size_t m_batchLines = kMinLinesPerTransaction * 4;  // lines per transaction, fitted to the budget

    std::atomic<std::uint64_t> m_dropped{0};  // given up by the writer (the queue counts its own)
    std::atomic<std::uint64_t> m_wakeUps{0};
    std::atomic<std::uint64_t> m_failedWrites{0};
};

} // namespace SystemLog
