#pragma once

#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include <vxSyslog/DatabaseFailure.h>
#include <vxSyslog/LogQuery.h>
#include <vxSyslog/vxSyslogExport.h>

#include "store/FileIdentity.h"

struct sqlite3;

namespace SystemLog {

class MessageMatcher;

// The one way the module opens a log database to read it: every reader
// (LogReader, LogReader, and through them the sources, the tails and
// the service's queries) holds one of these.
//
// Read-only: SQLite's read-only flag, never the file's creation. The text
// index's tokenizer is registered on every connection, so that a search may
// read the index beside the log (IndexedSearch.h). A missing
// path is Missing, a folder CannotOpen, a file that is not SQLite
// NotADatabase, one without a SystemInfo table of the four columns
// NotALogDatabase (describeFailure's sentences); a view or a virtual table
// of that name is no log either.
// Untrusted files: a log from another machine is read with SQLite's
// defensive mode and an untrusted schema (PRAGMA trusted_schema=OFF).
// Interrupted writes: a writer killed mid-commit leaves a hot journal that a
// read-only connection may not use (InterruptedWrite). A reader that may
// let SQLite roll it back, as any writer would at its next open, calls
// rollBackCutOffWrite(): a read-write connection of its own for that one
// step. The viewer never does; it reads a private copy instead.
// Locks: another program's lock is waited for in short naps up to the busy
// timeout, then the statement fails with Locked.
// Stopping: interrupt() may be called from any thread; the running
// statement or wait ends at once (within a thousand steps of SQLite's
// machine) and every later call fails ("已取消").
// A stop check (a program's Ctrl-C) is looked at while statements run and
// while a lock is waited for; a call it ends fails with Interrupted.
// Threads: apart from interrupt(), one connection belongs to one thread.
class VXSYSLOG_EXPORT ReadConnection
{
public:
    static constexpr int kDefaultBusyTimeoutMs = 5000;

    explicit ReadConnection(const QString& path);
    ~ReadConnection();
    ReadConnection(const ReadConnection&) = delete;
    ReadConnection& operator=(const ReadConnection&) = delete;

    // Opens the file and checks that it holds the log table. With
    // `rollBackCutOffWrites`, a hot journal met on the way is rolled back
    // first (see above).
    bool open(bool rollBackCutOffWrites = false);
    void close();
    // Null unless open.
    sqlite3* handle() const { return m_db; }

    void setBusyTimeout(int milliseconds) { m_busyTimeoutMs = milliseconds; }
    void setStopCheck(const std::function<bool()>& stopRequested);
    void interrupt();
    bool isInterrupted() const { return m_interrupted.load(); }
    // Interrupted, or the stop check says so.
    bool stopRequested() const;

    // False with the reason when interrupted or not open.
    bool usable();
    // Lets SQLite roll back a write that was cut off; false with the reason.
    bool rollBackCutOffWrite();

    // The query's grep pattern (a regular expression or, with fixedStrings,
    // plain text) as the SQL function kGrepFunction(message), true at once
    // for an empty pattern; an invalid expression fails with InvalidPattern.
    static constexpr const char* kGrepFunction = "vxlog_grep";
    bool installGrep(const LogQuery& query);

    // Whether an index leads with (type, datetime), as the writer makes it.
    bool hasTimeIndex();
    // Whether texts are stored as UTF-8 (a database may choose UTF-16).
    bool storesUtf8();

    // Records a failure: always false, so that `return fail(...)` reads well.
    bool fail(FailureKind kind, const QString& detail);
    // The failure of the SQLite call that just failed on this connection.
    bool failFromSqlite();
    bool failWith(int code, const QString& message);

    QString path() const { return m_path; }
    // The file the last open found at the path; not `exists` when another
    // took its place during the open, or when none is open.
    const FileIdentity& openedFile() const { return m_openedFile; }
    FailureKind failureKind() const { return m_kind; }
    QString failureDetail() const { return m_detail; }
    // describeFailure()'s sentence for the last failure.
    QString errorText() const;

private:
    static int onBusy(void* self, int attempt);
    static int onProgress(void* self);
    static void distrustSchema(sqlite3* db);
    void installHandlers();
    bool checkSchema();

    QString m_path;
    FileIdentity m_openedFile;
    sqlite3* m_db = nullptr;
    std::mutex m_handleMutex;  // m_db against interrupt() from another thread
    std::atomic<bool> m_interrupted{false};
    std::function<bool()> m_stopCheck;
    int m_busyTimeoutMs = kDefaultBusyTimeoutMs;
    QElapsedTimer m_busyClock;
    FailureKind m_kind = FailureKind::Other;
    QString m_detail;
    std::unique_ptr<MessageMatcher> m_matcher;  // kGrepFunction's; outlives every statement
};

} // namespace SystemLog
