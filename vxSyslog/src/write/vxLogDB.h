#pragma once

#include <QString>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>

#include <vxSyslog/FlushResult.h>

#include "write/DropLedger.h"
#include "store/MsgItem.h"
#include "write/MsgQueue.h"
#include "search/IndexKeeper.h"
#include "store/QDBSqlite.h"
#include "write/UnwrittenLines.h"

namespace SystemLog {

// The writer side of the log store. Owns the connection (m_db), queues the
// lines handed to pushMsg from any thread, and writes them on its own thread.
// Every line handed to pushMsg is, in the end, either stored, or counted
// (droppedCount(), flush()) and told by a drop record that reaches the file,
// or kept in a side file that the next writer of the file stores.
//
// Memory: the queue is bounded in bytes (setCapacityBytes, default 64 MiB);
// a line that finds it full is dropped and counted, and pushMsg never waits.
// The batch being written (at most one transaction's lines) is held outside
// the queue, so the lines in memory stay below the capacity plus one batch.
// Time stamps: pushMsg notes the second a line was logged; the row gets that
// stamp, however long the line waited for a lock or a retry.
// Batches: one transaction holds at most kMaxLinesPerTransaction lines (and
// kMaxBytesPerTransaction of queue cost) and the connection is released
// between transactions. While queries come, the writer fits the number of
// lines to a budget of kTransactionBudgetMs per transaction from the rate of
// the last one that a query waited for; while none come, batches grow back to
// the maximum, where the writer keeps up with a plain SQLite program. Under a
// flood that leaves the writer a small share of a core, a full batch takes
// several times the budget, which is why the budget applies while a query
// waits (bench/README.md). Each thread's lines keep their order: the queue is
// FIFO and a failed batch is retried before anything taken after it.
// Fairness: a query announces itself (m_queriesWaiting) before it takes
// m_dbMutex, and the writer does not begin another transaction while one is
// announced, so a flood cannot starve the viewer of the lock. A transaction
// that a query waits for stops inserting after m_queryYieldMs (20 ms) and
// commits the rows so far; the rest follow after the query. That bounds the
// wait even when inserts run far slower than the budget expected.
// Setting up: the constructor opens the file and creates the table, but
// never waits for a lock another program holds (a Session starts at once);
// the writer thread's first cycle then sets the file up. When
// that fails for a passing reason (a full disk, an I/O error, a lock, a
// folder that cannot be opened), the lines are kept like a batch that failed:
// every attempt opens and sets up again, and once the file works the table is
// made and the kept lines are stored. A refused file (not a log database) is
// never written: its lines are given up at once, counted under that reason.
// Following the path: before each transaction the writer checks that the
// file it has open is still the one at its path (one stat(), and again just
// before COMMIT, QDBSqlite.h). When the file was replaced (renamed over, a
// backup restored) or deleted, it says so once on standard error
// (WriteFailureNotice::fileMoved), closes it and writes the lines, the one in
// flight too, into the file now at the path, creating it as at the start when
// there is none; nothing more goes into the file that left the path.
// A vacuum's turn: while a vacuum of another process asks for its turn at
// the lock (store/VacuumTurn.h), the writer begins no transaction, for at
// most VacuumTurn::kWriterYieldMs, and a transaction under way commits the
// rows so far after kYieldAfterMs, as for a query (it looks for the turn
// every kVacuumLookMs); a drain at the end does not wait for it.
// Failures: a batch that fails is kept and retried after a pause of
// m_retryPauseMs, up to m_maxAttempts attempts in a row (default 10, about
// 2 s); then it is given up, counted and owed a drop record, and the next
// batch gets the same number of attempts. A batch that meets a lock held by
// another process past the busy timeout is retried up to kMaxBusyAttempts
// times, each after a busy wait of 1 s: a reader holds its lock for a whole
// query, and a large day read while two writers compete can keep a commit
// waiting for several seconds. The kind of the last failure (m_lastFailure)
// only sets that patience; each loss keeps its own reason (DropLedger.h).
// Drop records: the DropLedger holds the tallies; the writer stores one
// record of type 4 per tally in the next transaction it can write, placed
// where the gap is. After a batch was given up, the records wait for the
// next lines (or the end) instead of being retried on their own.
// Ending: stopProcess() wakes the writer, which writes everything queued and
// then ends, unless start() was called meanwhile: start() during that drain
// leaves the loop running. The drain writes what was accepted when it began,
// not what keeps arriving (but the record of drops that no later take would
// hand over, MsgQueue::holdsDropsWithoutLines), until m_endLockWait
// (kEndLockWaitMs) after the first stop request; a lock held elsewhere is
// waited for until then, any other failure for one batch's attempts but not
// past then, and no attempt's busy wait or retry pause runs past that
// deadline (the destructor's own drain keeps the same one). So the end takes
// the deadline, what an attempt already under way at the request still waits
// (at most kBusyTimeoutMs), and the writing of a side file. What is still not stored
// then (a lock, a failure, or a flood too large to write in that time), with
// every drop record still owed, goes into a side file next to the database
// (UnwrittenLines.h), which the next writer of that file stores; only when the
// side file cannot be written either are the lines given up. The destructor
// stops, joins, handles what was queued after the thread's end the same way,
// and closes the store.
// Taking in: the writer thread, never the constructor, takes in the side
// files next to its database: at its first cycle, then every
// kUnwrittenCheckInterval, one batch of at most kTakeInBatchLines rows per
// cycle between its own batches, each committed with its record
// (UnwrittenLines.h says how that makes it exactly once). A drain goes on
// taking in for at most kEndTakeInLimit (or until its deadline) and gives a
// file it has not finished back.
// Notices: lines given up because the file cannot be opened or written are
// said once on standard error (WriteFailureNotice.h).
// flush() waits until every line accepted before it is stored, given up or
// set aside, or until its timeout (kFlushTimeout without one), and returns
// the counts with the lines still pending.
// Idle: the writer sleeps on the queue's condition variable until a line
// arrives or a stop is asked; a line arriving at an idle writer is written at
// once; after a small batch the writer pauses m_intervalMs (10 ms) so that a
// burst shares one transaction.
// Text index: while the writer runs, an IndexKeeper keeps the index beside
// its file up to date on a thread of its own, told after every batch stored;
// it never holds up a batch, a drain or the end (IndexKeeper.h).
// Locks: m_stopMutex (stop and running flags), the queue's mutex, m_dbMutex
// (every statement on m_db, and the database path), m_progressMutex (the
// count of lines finished, for flush); none is held while another is taken.
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
    static constexpr int kEndLockWaitMs = 10000;
    static constexpr std::size_t kMaxLinesPerTransaction = 10000;
    static constexpr std::size_t kMinLinesPerTransaction = 500;
    static constexpr int kTransactionBudgetMs = 50;
    static constexpr int kYieldAfterMs = 20;
    static constexpr int kVacuumLookMs = 20;
    static constexpr std::size_t kMaxBytesPerTransaction = std::size_t(4) * 1024 * 1024;
    static constexpr std::chrono::seconds kUnwrittenCheckInterval{5};
    static constexpr std::size_t kTakeInBatchLines = 5000;
    static constexpr std::chrono::seconds kEndTakeInLimit{1};
    static constexpr std::chrono::milliseconds kFlushTimeout{90000};

    // The log database "dbLog.db" in the working directory.
    explicit vxLogDB(QObject* parent = nullptr);
    // Another log database; a relative path is taken from the working
    // directory now, and later changes of directory do not move the log.
    explicit vxLogDB(const QString& databasePath, QObject* parent = nullptr);
    virtual ~vxLogDB();

    void start();

    // Settings, before start().
    void setCapacityBytes(std::size_t bytes) { m_queue.setCapacity(bytes); }
    void setRetryLimit(int attempts, int pauseMs);
    // How long a transaction may go on inserting once a query waits
    // (kYieldAfterMs by default).
    void setQueryYieldMs(int ms) { m_queryYieldMs = ms; }
    // How long the drain at the end waits for a lock held elsewhere.
    void setEndLockWait(std::chrono::milliseconds wait) { m_endLockWait = wait; }
    // Closes the store and opens `databasePath` instead; only while the
    // writer thread is not running. Queued lines go to the new file.
    void setDatabasePath(const QString& databasePath);
    QString databasePath();
    bool usesDatabase(const QString& databasePath);
    // Caps the database at `pages` pages (PRAGMA max_page_count on the
    // writer's connection); any time. Returns the cap in force, 0 on failure.
    qint64 setMaxPageCount(qint64 pages);

    void pushMsg(int type, const char* text, int length);

    // Waits until every line pushed before the call is stored, given up or
    // set aside, or until `timeout` passed; returns at once when the writer
    // thread is not running. `pending` counts the lines not finished then.
    FlushResult flush(std::chrono::milliseconds timeout);
    FlushResult flush();  // flush(kFlushTimeout)

    RecordList queryByDay(QString day, int type);
    RecordList queryByRange(QString start, QString end, int type);
    // The same queries with their own outcome.
    QueryResult queryDayResult(const QString& day, int type);
    QueryResult queryRangeResult(const QString& start, const QString& end, int type);
    bool lastQueryFailed();
    QString lastQueryError();

    // Lines given up on: refused by the full queue, refused by the file, or a
    // batch that kept failing.
    std::uint64_t droppedCount() const;
    // Times the writer thread came back from waiting (for lines, a pause or a
    // retry), and batches that failed; both since construction.
    std::uint64_t wakeUpCount() const { return m_wakeUps.load(std::memory_order_relaxed); }
    std::uint64_t failedWriteCount() const { return m_failedWrites.load(std::memory_order_relaxed); }

    // For tests: told on the writer thread before each wait, with what it
    // waits for and how long at most. Set before start().
    struct Wait
    {
        enum Kind { ForLines, Pause, Retry } kind;
        std::chrono::milliseconds limit;
        bool draining;
    };
    void setWaitHook(std::function<void(const Wait&)> hook) { m_waitHook = std::move(hook); }

    // For tests that run a program with its own service: the settings that
    // writers constructed from now on start with. Set before the first one.
    struct Settings
    {
        std::size_t capacityBytes = MsgQueue::kDefaultCapacityBytes;
        int attempts = kMaxBatchAttempts;
        int retryPauseMs = kRetryPauseMs;
        std::chrono::milliseconds endLockWait{kEndLockWaitMs};
        bool keepsTextIndex = true;
    };
    static void setInitialSettings(const Settings& settings);

public slots:
    void stopProcess();

protected:
    void run() override;

private:
    enum class Cycle { Idle, Wrote, Failed };
    enum class Store { Ready, Refused, Failing };

    bool stopRequested();
    void askToStop();
    std::chrono::steady_clock::time_point endDeadline();
    bool endUnlessRestarted();
    Cycle writeCycle();
    Cycle failedAttempt();
    void drainAll();
    bool endWaitOver(std::chrono::steady_clock::time_point deadline);
    bool writePending();
    void giveUpPending(DropReason reason);
    void giveUpForRefusedFile();
    // `reason` for the notice; the store's last failure when empty.
    void setAsideRest(const QString& reason = QString());
    bool takeInDue() const;
    bool claimSideFile();
    bool takeInStep();
    void linesDone(std::size_t lines);
    void waitFor(Wait::Kind kind, std::chrono::milliseconds limit);
    QString failureText();
    void fitBatchToBudget(std::size_t lines, std::chrono::steady_clock::duration spent, bool queryWaited);
    Store storeState();
    int attemptBusyMs() const;
    void yieldToVacuum();
    std::unique_lock<std::mutex> writerTurn();
    std::unique_lock<std::mutex> callerTurn();
    void endCallerTurn(std::unique_lock<std::mutex>& lock);
    QueryResult runQuery(const QString& start, const QString& end, int type);
    void setQueryOutcome(const QueryResult& result);

    QString m_path;                       // written under m_dbMutex while the writer thread is not running
    std::string m_vacuumTurn;             // VacuumTurn's file for m_path; written with m_path
    QDBSqlite* m_db = nullptr;
    bool m_stop = false;
    bool m_loopActive = false;            // guarded by m_stopMutex
    std::chrono::steady_clock::time_point m_stopAskedAt{};  // guarded by m_stopMutex; while m_stop
    std::mutex m_stopMutex;
    int m_intervalMs = 10;
    MsgQueue m_queue;

    std::mutex m_dbMutex;                 // held around every statement on m_db
    std::condition_variable m_dbTurn;     // a caller finished with m_db
    std::atomic<int> m_queriesWaiting{0};

    std::mutex m_queryOutcomeMutex;       // the outcome of the query of any thread that ended last
    bool m_lastQueryFailed = false;
    QString m_lastQueryError;

    // Writer thread only (and the destructor, after the join).
    std::list<tag_MsgItem> m_pending;     // taken from the queue, not yet written
    DropLedger m_drops;
    UnwrittenLines m_unwritten;
    std::chrono::steady_clock::time_point m_nextUnwrittenCheck{};  // the epoch: at the first cycle
    DropReason m_lastFailure = DropReason::Other;
    int m_failedAttempts = 0;             // consecutive failed writes of m_pending
    bool m_draining = false;
    std::chrono::steady_clock::time_point m_drainDeadline{};  // while m_draining
    bool m_recordsWaitForLines = false;   // a batch was given up: its record rides with the next lines
    bool m_endWaitUsedUp = false;         // a drain already waited out its lock deadline
    int m_maxAttempts = kMaxBatchAttempts;
    int m_retryPauseMs = kRetryPauseMs;
    int m_queryYieldMs = kYieldAfterMs;
    std::chrono::milliseconds m_endLockWait{kEndLockWaitMs};
    std::size_t m_batchLines = kMinLinesPerTransaction * 4;  // lines per transaction, fitted to the budget
    std::function<void(const Wait&)> m_waitHook;
    bool m_keepsTextIndex = true;
    IndexKeeper m_keeper;

    // Lines finished (stored, given up or set aside), for flush().
    std::mutex m_progressMutex;
    std::condition_variable m_progress;
    std::uint64_t m_finished = 0;         // guarded by m_progressMutex
    std::atomic<bool> m_running{false};
    std::atomic<std::uint64_t> m_stored{0};
    std::atomic<std::uint64_t> m_setAside{0};
    std::atomic<std::uint64_t> m_wakeUps{0};
    std::atomic<std::uint64_t> m_failedWrites{0};
};

} // namespace SystemLog
