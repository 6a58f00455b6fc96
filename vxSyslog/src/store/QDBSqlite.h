#pragma once

#include <QSqlDatabase>
#include <QString>

#include <functional>
#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include <vxSyslog/DatabaseFailure.h>
#include <vxSyslog/DropReason.h>
#include <vxSyslog/RecordList.h>

#include "store/FileIdentity.h"
#include "store/MsgItem.h"

struct sqlite3;

namespace SystemLog {

// The one connection to the log database: an SQLite file (by default
// "dbLog.db" in the working directory) with its table SystemInfo. The
// connection is a private QSqlDatabase, never registered by name.
//
// Locking: the class takes no lock; its owner (vxLogDB) serialises every call,
// because Qt's SQLite driver opens connections without SQLite's own mutex.
// Other processes: a writer waits kBusyTimeoutMs for a lock another process
// holds (SQLite's busy timeout, set as the connection's option), and a batch
// takes the write lock at its start (BEGIN IMMEDIATE), so two writers queue
// behind each other instead of failing each other with a deadlock.
// Setting up: createTable() opens the file, checks it and creates the table
// and its index. When that fails for a passing reason (a full disk, an I/O
// error, a lock, a folder that cannot be opened) the store is not ready() and
// createTable() may simply be called again; a failed write that suggests the
// table or the file changed under it (no such table, not a database) makes
// the store not ready again, so the next attempt checks and creates anew.
// Foreign files: createTable() first checks that the file is empty or already
// a log database (SystemInfo with exactly the columns id, datetime, type,
// message). A file that is not an SQLite database, a SystemInfo with other
// columns, or a database of other tables without SystemInfo is refused for
// good: the connection is closed, the file is never opened again by this
// object, openFailure() tells why, and every later query fails with that reason.
// Not waiting at the caller's start: createTable(LockWait::None) gives up at
// once on a lock another program holds (the owner's writer thread sets the
// file up later), so that starting the log service never waits for one.
// Following the path: the connection remembers which file it opened
// (FileIdentity). followPath() notices when the file at the path is another
// one (replaced by a rename, or deleted) and closes the connection, so that
// the next createTable() opens (or creates) the file now at the path; a
// write checks the same before its COMMIT and rolls back instead of writing
// into a file that is no longer at the path.
// Time zones: each stamp is local time text. Every transaction records the
// UTC offsets its stamps were formatted in, in the table kStampOffsetsTable
// (made by the first such record, beside SystemInfo, whose schema stays as
// it is), so that a vacuum in another zone can read the stamps right
// (LogVacuum.h). A stamp taken in from a side file of the earlier formats
// has no known offset and records none.
// Durability: the rollback journal in its default DELETE mode with
// synchronous=FULL, so a SIGKILL or a power cut loses nothing committed. NORMAL
// would save a sync per batch, but in DELETE mode a power cut at the wrong
// moment could corrupt the file. WAL is not used: it changes the file for
// other programs (a read-only reader, such as the command-line tool, cannot
// open a WAL file whose -shm/-wal are missing in a folder it cannot write).
// Inserts: insertPrefix() steps through SQLite's C API on the driver's handle
// (the QSQLITE driver links the system libsqlite3), which writes at nearly the
// rate of a plain C program where binding through QSqlQuery does not (figures
// in bench/README.md). The handle is taken once, when the file is opened: what
// Qt needs to hand it over (its registry of variant types) may already be gone
// when a program's last lines are written while the process exits. Every row
// gets its line's time stamp explicitly; all values are bound, never pasted
// into SQL.
// Exported for the reading library's vacuum, which writes through it.
class VXSYSLOG_EXPORT QDBSqlite : public QSqlDatabase
{
public:
    static constexpr int kBusyTimeoutMs = 1000;

    enum class LockWait { BusyTimeout, None };
    enum class PathChange { None, Replaced, Deleted };

    QDBSqlite(const QString& databaseName, const QString& userName, const QString& password);
    virtual ~QDBSqlite() {}

    // Opens the connection if needed, refuses a foreign file (see above), sets
    // the durability pragma, creates SystemInfo and its (type, datetime) index
    // if missing. An existing log table and its rows are left as they are.
    // False when the store is not ready; lastWriteReason() then says why.
    // With LockWait::None a lock held elsewhere is not waited for.
    bool createTable(LockWait wait = LockWait::BusyTimeout);
    bool ready() const { return m_ready; }
    bool refused() const { return m_refused; }
    // Why the connection is not usable (open failed or the file was refused);
    // empty otherwise.
    QString openFailure() const { return m_openFailure; }

    // Writes one row stamped now; true when the statement reported no error.
    bool insert(int type, QString message);

    // Writes all rows in one transaction, in list order; all or nothing. False
    // (and nothing written) on any error; lastWriteFailure() then tells its kind.
    bool insertBatch(const std::list<tag_MsgItem>& items);
    // The same, except that `yieldNow` is asked between rows: once it answers
    // true the transaction ends early and commits the rows so far. Returns how
    // many leading rows were committed, or -1 on failure (nothing written).
    long insertPrefix(const std::list<tag_MsgItem>& items, const std::function<bool()>& yieldNow);
    // Side files taken in: `items` (all of them, or nothing) committed in one
    // transaction together with the record that the first `rowsTaken` rows
    // of the side file `sideFile` are stored. The record lives in the table
    // kTakenInTable, made by the first take-in; SystemInfo is not changed.
    bool insertTakenIn(const std::list<tag_MsgItem>& items, const std::string& sideFile, std::uint64_t rowsTaken);
    // Rows of `sideFile` stored before (0 when none are recorded); -1 when
    // the record cannot be read.
    qint64 takenInRows(const std::string& sideFile);
    // Removes the record once the side file is gone.
    void forgetTakenIn(const std::string& sideFile);

    // Whether the file opened last is still the one at the path. When not,
    // the connection is closed (also a refused file is forgotten), so that
    // the next createTable() opens the file now there or creates one.
    PathChange followPath();

    // SQLite's busy timeout of this connection from now on.
    void setBusyTimeout(int ms);

    // Within a transaction the caller holds on this connection: records
    // that stamps were formatted at `utcOffsetSeconds` (kStampOffsetsTable).
    bool noteStampOffset(long utcOffsetSeconds);
    // The UTC offsets recorded in the file (none for a file whose writers
    // recorded none); false when they cannot be read.
    bool stampOffsets(std::vector<long>& offsets);

    // Of the last failed setup or write.
    FailureKind lastWriteFailure() const { return m_lastWriteFailure; }
    DropReason lastWriteReason() const { return m_lastWriteReason; }
    QString lastWriteError() const { return m_lastWriteError; }

    // Caps the file at `pages` pages (PRAGMA max_page_count, this connection
    // only); never below the current size. Returns the cap in force, 0 on failure.
    qint64 setMaxPageCount(qint64 pages);

    // Rows of `type` stamped from `start` to `end`, both included (text
    // comparison), with the outcome; the outcome is also kept for
    // lastQueryFailed()/lastQueryError().
    QueryResult queryResult(const QString& start, const QString& end, int type);
    // The same rows without the outcome.
    RecordList query(QString start, QString end, int type);

    // Outcome of the most recent query(): failed or not, and the driver's reason.
    bool lastQueryFailed() const { return m_lastQueryFailed; }
    QString lastQueryError() const { return m_lastQueryError; }

    static const char* const kCreateTableSql;
    static const char* const kCreateIndexSql;
    static const char* const kInsertSql;
    static const char* const kQuerySql;
    static const char* const kTakenInTable;
    static const char* const kStampOffsetsTable;

private:
    QueryResult runQuery(const QString& start, const QString& end, int type);
    bool openConnection();
    bool setUp();
    bool isLogFileOrEmpty();
    void refuse(FailureKind kind, const QString& detail);
    void failSetup(const QSqlError& error);
    sqlite3* sqliteHandle();
    bool failWrite(sqlite3* handle, int code);
    struct TakenIn
    {
        const std::string& sideFile;
        std::uint64_t rows;
    };
    long insertRows(const std::list<tag_MsgItem>& items, const std::function<bool()>& yieldNow, const TakenIn* takenIn);
    int recordTakenIn(sqlite3* handle, const TakenIn& takenIn);
    int recordStampOffsets(sqlite3* handle, const std::vector<long>& offsets);
    bool movedFromPath();
    long failMoved(sqlite3* handle);
    void setQueryOutcome(bool failed, const QString& reason);

    sqlite3* m_handle = nullptr;  // taken at open; valid while isOpen()
    FileIdentity m_openedFile;    // the file the last open found at the path
    std::vector<long> m_offsetsRecorded;  // in the file, by this connection
    bool m_ready = false;
    bool m_refused = false;
    bool m_lastQueryFailed = false;
    QString m_lastQueryError;
    QString m_openFailure;
    FailureKind m_lastWriteFailure = FailureKind::Other;
    DropReason m_lastWriteReason = DropReason::Other;
    QString m_lastWriteError;
};

} // namespace SystemLog
