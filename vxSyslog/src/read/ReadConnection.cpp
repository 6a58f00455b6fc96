#include "read/ReadConnection.h"

#include <QFileInfo>
#include <QStringList>

#include <sqlite3.h>

#include <chrono>
#include <thread>

#include "read/MessageMatcher.h"
#include "search/IndexTokenizer.h"
#include "store/ReaderChecks.h"
#include "store/SqliteStatement.h"

namespace SystemLog {

namespace {

// Virtual machine steps between two looks at the stop check.
constexpr int kStopCheckSteps = 1000;

} // namespace

ReadConnection::ReadConnection(const QString& path)
    : m_path(path)
{
}

ReadConnection::~ReadConnection()
{
    close();
}

bool ReadConnection::installGrep(const LogQuery& query)
{
    if (query.grep.isEmpty())
        return true;
    if (!usable())
        return false;
    if (!m_matcher || !m_matcher->isFor(query))
        m_matcher = std::make_unique<MessageMatcher>(query);
    if (!m_matcher->isValid())
        return fail(FailureKind::InvalidPattern, m_matcher->errorString());
    return m_matcher->installAsSqlFunction(m_db, kGrepFunction) == SQLITE_OK || failFromSqlite();
}

void ReadConnection::close()
{
    std::lock_guard<std::mutex> lock(m_handleMutex);
    sqlite3_close(m_db);
    m_db = nullptr;
    m_openedFile = FileIdentity();
}

bool ReadConnection::open(bool rollBackCutOffWrites)
{
    close();
    const QFileInfo file(m_path);
    // Checked first: SQLite would report a missing file only as "cannot
    // open", and a reader must never be the one to create it.
    if (!file.exists())
        return fail(FailureKind::Missing, QString());
    if (!file.isFile())
        return fail(FailureKind::CannotOpen, QStringLiteral("不是普通文件"));
    sqlite3* handle = nullptr;
    const FileIdentity before = FileIdentity::of(m_path);
    const int rc = sqlite3_open_v2(m_path.toUtf8().constData(), &handle, SQLITE_OPEN_READONLY, nullptr);
    const FileIdentity after = FileIdentity::of(m_path);
    {
        std::lock_guard<std::mutex> lock(m_handleMutex);
        m_db = handle;
    }
    if (after.isSameFileAs(before))
        m_openedFile = after;
    if (rc != SQLITE_OK) {
        failFromSqlite();
        close();
        return false;
    }
    distrustSchema(m_db);
    installHandlers();
    IndexTokenizer::registerOn(m_db);
    bool checked = checkSchema();
    if (!checked && rollBackCutOffWrites && m_kind == FailureKind::InterruptedWrite)
        checked = rollBackCutOffWrite() && checkSchema();
    if (!checked)
        close();  // not a log: no statement of a later call may run on it
    return checked;
}

// A file from another machine is untrusted input: its schema may hold views,
// triggers or virtual tables that run anything SQL can when read. SQLite's
// defensive mode and an untrusted schema (PRAGMA trusted_schema=OFF) keep
// its functions out of them, and the log must be a plain table: a view of
// that name (an endless recursive query, say) is no log.
void ReadConnection::distrustSchema(sqlite3* db)
{
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
}

bool ReadConnection::checkSchema()
{
    if (!usable())
        return false;
    SqliteStatement kind(m_db, "SELECT type, sql FROM sqlite_master WHERE name = 'SystemInfo' COLLATE NOCASE "
                               "AND type IN ('table', 'view')");
    if (!kind.prepared())
        return failFromSqlite();
    const int found = kind.step();
    if (found != SQLITE_ROW && found != SQLITE_DONE)
        return failFromSqlite();
    if (found == SQLITE_DONE)
        return fail(FailureKind::NotALogDatabase, QString());
    if (kind.textAt(0) == "view")
        return fail(FailureKind::NotALogDatabase, QStringLiteral("SystemInfo 是视图，不是表"));
    if (QByteArray(kind.textAt(1)).trimmed().toUpper().startsWith("CREATE VIRTUAL"))
        return fail(FailureKind::NotALogDatabase, QStringLiteral("SystemInfo 是虚拟表，不是普通的表"));
    SqliteStatement info(m_db, "PRAGMA table_info(SystemInfo)");
    if (!info.prepared())
        return failFromSqlite();
    QStringList columns;
    int rc;
    while ((rc = info.step()) == SQLITE_ROW)
        columns << QString::fromUtf8(info.textAt(1)).toLower();
    if (rc != SQLITE_DONE)
        return failFromSqlite();
    return holdsLogColumns(columns) || fail(FailureKind::NotALogDatabase, QString());
}

void ReadConnection::setStopCheck(const std::function<bool()>& stopRequested)
{
    m_stopCheck = stopRequested;
    if (m_db)
        installHandlers();
}

void ReadConnection::interrupt()
{
    m_interrupted.store(true);
    std::lock_guard<std::mutex> lock(m_handleMutex);
    if (m_db)
        sqlite3_interrupt(m_db);
}

bool ReadConnection::stopRequested() const
{
    return m_interrupted.load() || (m_stopCheck && m_stopCheck());
}

// Waits for another program's lock in short naps, so that a stop ends the
// wait at once.
int ReadConnection::onBusy(void* self, int attempt)
{
    auto* c = static_cast<ReadConnection*>(self);
    if (attempt == 0)
        c->m_busyClock.start();
    if (c->stopRequested() || c->m_busyClock.elapsed() >= c->m_busyTimeoutMs)
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(attempt < 10 ? 1 : 5));
    return 1;
}

int ReadConnection::onProgress(void* self)
{
    return static_cast<ReadConnection*>(self)->stopRequested() ? 1 : 0;
}

// The progress handler is always there: sqlite3_interrupt() ends only the
// statements running when it is called, and interrupt() may come between
// two of them.
void ReadConnection::installHandlers()
{
    sqlite3_busy_handler(m_db, &ReadConnection::onBusy, this);
    sqlite3_progress_handler(m_db, kStopCheckSteps, &ReadConnection::onProgress, this);
}

bool ReadConnection::usable()
{
    if (m_interrupted.load())
        return fail(FailureKind::Other, QStringLiteral("已取消"));
    if (!m_db)
        return fail(FailureKind::CannotOpen, QStringLiteral("未打开"));
    return true;
}

bool ReadConnection::rollBackCutOffWrite()
{
    sqlite3* writable = nullptr;
    int rc = sqlite3_open_v2(m_path.toUtf8().constData(), &writable, SQLITE_OPEN_READWRITE, nullptr);
    QString detail;
    if (rc == SQLITE_OK && sqlite3_db_readonly(writable, "main") == 1) {
        rc = SQLITE_READONLY;
    } else if (rc == SQLITE_OK) {
        distrustSchema(writable);
        sqlite3_busy_handler(writable, &ReadConnection::onBusy, this);
        rc = sqlite3_exec(writable, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            detail = QString::fromUtf8(sqlite3_errmsg(writable));
    }
    sqlite3_close(writable);
    if (rc == SQLITE_OK)
        return true;
    const FailureKind kind = (rc & 0xff) == SQLITE_BUSY ? FailureKind::Locked : FailureKind::InterruptedWrite;
    return fail(m_stopCheck && m_stopCheck() ? FailureKind::Interrupted : kind, detail);
}

bool ReadConnection::hasTimeIndex()
{
    if (!m_db)
        return false;
    SqliteStatement indexes(m_db, "SELECT il.name FROM pragma_index_list('SystemInfo') AS il "
                                  "WHERE (SELECT group_concat(name, ',') FROM (SELECT name FROM pragma_index_info(il.name) "
                                  "ORDER BY seqno LIMIT 2)) = 'type,datetime'");
    return indexes.prepared() && indexes.step() == SQLITE_ROW;
}

bool ReadConnection::storesUtf8()
{
    if (!m_db)
        return true;
    SqliteStatement encoding(m_db, "PRAGMA encoding");
    return encoding.prepared() && encoding.step() == SQLITE_ROW && encoding.textAt(0) == "UTF-8";
}

bool ReadConnection::fail(FailureKind kind, const QString& detail)
{
    m_kind = kind;
    m_detail = detail;
    return false;
}

bool ReadConnection::failFromSqlite()
{
    if (!m_db)
        return fail(FailureKind::CannotOpen, QString());
    return failWith(sqlite3_extended_errcode(m_db), QString::fromUtf8(sqlite3_errmsg(m_db)));
}

bool ReadConnection::failWith(int code, const QString& message)
{
    if (m_interrupted.load())
        return fail(FailureKind::Other, QStringLiteral("已取消"));
    FailureKind kind = failureKindOfSqliteError(code, message);
    // A stop check ends a statement as an interrupt, a wait for a lock as busy.
    if (m_stopCheck && m_stopCheck() && (kind == FailureKind::Interrupted || kind == FailureKind::Locked))
        kind = FailureKind::Interrupted;
    return fail(kind, message);
}

QString ReadConnection::errorText() const
{
    return describeFailure(m_kind, m_detail);
}

} // namespace SystemLog
