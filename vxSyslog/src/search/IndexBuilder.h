#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>

#include <vxSyslog/vxSyslogExport.h>

struct sqlite3;

namespace SystemLog {

// Brings the text index of one log up to date (IndexLayout.h): builds it
// when it is missing, from another log or of another format, and indexes
// the rows added since, whoever wrote them, by id.
//
// Connections: the log is opened read-only and only read, in short
// statements (a batch's rows are read, then the statement ends before
// anything is written), so a writer of the log never waits for the index;
// the index file is opened read-write and created when missing.
// Transactions: each batch is one transaction on the index, the rows and the
// record of how far the index goes together, so a crash or a kill at any
// moment leaves the index as it was after the last whole batch, and the
// next builder goes on from there. Several builders (two programs that log,
// a reader catching up) take turns on the index file's lock; a batch
// already done by one is not done again by the other.
// Stopping: a stop check or interrupt() (any thread) ends a batch at once;
// it is rolled back.
// Failures: every call returns false with errorText(); cannotWrite() tells
// that the index cannot be written here at all (a read-only folder or file).
// An index file that is not a database, or is damaged, is removed and made
// again.
// Threads: one builder belongs to one thread; interrupt() may be called from
// any thread.
class VXSYSLOG_EXPORT IndexBuilder
{
public:
    static constexpr int kBatchRows = 20000;
    static constexpr int kBatchMs = 300;

    explicit IndexBuilder(const QString& logPath);
    ~IndexBuilder();
    IndexBuilder(const IndexBuilder&) = delete;
    IndexBuilder& operator=(const IndexBuilder&) = delete;

    void setStopCheck(const std::function<bool()>& stopRequested) { m_stopCheck = stopRequested; }
    void setBusyTimeout(int milliseconds) { m_busyTimeoutMs = milliseconds; }
    // Rows per part (IndexLayout::kPartRows unless a test wants small parts).
    void setPartRows(qint64 rows) { m_partRows = rows; }
    void interrupt();
    // Closes the connections; the next call opens them again (the log
    // replaced meanwhile is then the one indexed).
    void close();

    // How many rows of the log the index lacks (by id, an upper bound).
    bool rowsBehind(qint64& rows);

    // Indexes one batch; `done` when none was left.
    bool step(bool& done);
    // Steps until every row is indexed; `progress` after each batch with
    // the rows indexed so far by this call and the rows still left.
    bool catchUp(const std::function<void(qint64 indexed, qint64 left)>& progress = {});
    // Drops the parts whose rows have all left the log.
    bool prune();

    QString errorText() const { return m_error; }
    bool cannotWrite() const { return m_cannotWrite; }

private:
    bool open();
    bool openIndex();
    bool remakeIndex();
    bool begin();
    bool fail(sqlite3* db);
    bool fail(const QString& message);
    bool exec(sqlite3* db, const char* sql);
    bool ensureSchema();
    bool dropParts(qint64 belowId);
    bool indexedUpTo(qint64& lastId, qint64& part, qint64& partRows);
    bool belongsToLog(qint64 lastId, bool& belongs);
    bool addRows(qint64 after, qint64 part, qint64 partRows, int& added);
    bool stopRequested() const;
    static int onBusy(void* self, int attempt);
    static int onProgress(void* self);

    QString m_logPath;
    QString m_indexPath;
    sqlite3* m_log = nullptr;
    sqlite3* m_index = nullptr;
    std::mutex m_handleMutex;  // the handles against interrupt() from another thread
    std::atomic<bool> m_interrupted{false};
    std::function<bool()> m_stopCheck;
    int m_busyTimeoutMs = 5000;
    QElapsedTimer m_busyClock;
    QString m_error;
    bool m_cannotWrite = false;
    bool m_remade = false;  // the damaged index file was removed once already
    qint64 m_partRows;
};

} // namespace SystemLog
