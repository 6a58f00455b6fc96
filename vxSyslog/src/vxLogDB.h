#pragma once

#include <QString>
#include <QThread>

#include <atomic>
#include <cstdint>
#include <list>
#include <mutex>

#include "MsgItem.h"
#include "MsgQueue.h"
#include "QDBSqlite.h"

namespace SystemLog {

// The writer side of the log store. Owns the connection (m_db), queues the
// lines handed to pushMsg from any thread, and writes them on its own thread.
//
// Every cycle (one per m_intervalMs) takes all queued lines and writes them in
// one transaction, in queue order. A batch that fails while the store is open
// (the file busy or locked by another program past the busy timeout) is kept
// and retried in the next cycles, together with what arrives meanwhile, at most
// kMaxBatchAttempts times; then it is dropped and counted. When the store is not
// open at all, lines are dropped and counted at once. droppedCount() reads the
// count. Stopping (stopProcess or the destructor) writes everything still queued
// before the thread ends, and the destructor writes what arrives after that, so
// nothing is left queued once the object is gone.
//
// Statements on the one connection never run on two threads at once: the
// writer's inserts and the callers' queries all take m_dbMutex around their
// database work. Qt's SQLite driver opens connections without SQLite's own
// mutex, so this lock is what keeps the connection sound. A query therefore
// waits at most for the batch being written.
class vxLogDB : public QThread
{
    Q_OBJECT
public:
    using tag_MsgItem = SystemLog::tag_MsgItem;
    using MsgQueue = SystemLog::MsgQueue;

    static constexpr int kMaxBatchAttempts = 10;
    static constexpr int kBusyTimeoutMs = 1000;

    explicit vxLogDB(QObject* parent = nullptr);
    virtual ~vxLogDB();

    void start();

    void pushMsg(int type, const char* text, int length);

    RecordList queryByDay(QString day, int type);
    RecordList queryByRange(QString start, QString end, int type);
    // The same queries with their own outcome.
    QueryResult queryDayResult(const QString& day, int type);
    QueryResult queryRangeResult(const QString& start, const QString& end, int type);
    bool lastQueryFailed();
    QString lastQueryError();

    // Lines given up on: the store was not open, or a batch kept failing.
    std::uint64_t droppedCount() const { return m_dropped.load(std::memory_order_relaxed); }

public slots:
    void stopProcess();

protected:
    void run() override;

private:
    bool stopRequested();
    void writeCycle();
    void drainAll();
    RecordList runQuery(const QString& start, const QString& end, int type);

    QDBSqlite* m_db = nullptr;
    bool m_stop = false;
    std::mutex m_stopMutex;
    int m_intervalMs = 10;
    MsgQueue m_queue;

    std::mutex m_dbMutex;                 // held around every statement on m_db
    std::list<tag_MsgItem> m_pending;     // taken from the queue, not yet written; writer thread only
    int m_failedAttempts = 0;             // consecutive failed writes of m_pending
    std::atomic<std::uint64_t> m_dropped{0};
};

} // namespace SystemLog
