#include "store/QDBSqlite.h"

#include <vxSyslog/DatabaseFailure.h>

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <algorithm>

#include <sqlite3.h>

#include "format/LocalTimeText.h"

namespace SystemLog {

const char* const QDBSqlite::kCreateTableSql =
    "CREATE TABLE IF NOT EXISTS SystemInfo("
    "\t\t\t\t\t\t"
    "id INTEGER  PRIMARY KEY AUTOINCREMENT UNIQUE "
    "\t\t\t\t\t\t"
    ", datetime DATETIME NOT NULL DEFAULT (datetime(CURRENT_TIMESTAMP,'localtime'))  "
    "\t\t\t\t\t\t"
    ", type INT(32) "
    "\t\t\t\t\t\t"
    ", message TEXT)";

// Lets a day or range query of one type seek instead of scanning the table.
const char* const QDBSqlite::kCreateIndexSql =
    "CREATE INDEX IF NOT EXISTS SystemInfo_type_datetime ON SystemInfo(type, datetime)";

// The time stamp is the line's own, never the column's default: a line that
// waited in the queue keeps the second it was logged, and a table made by
// another program without that default never gets an empty stamp.
const char* const QDBSqlite::kInsertSql =
    "INSERT INTO SystemInfo(datetime, type, message) VALUES(?, ?, ?)";

const char* const QDBSqlite::kQuerySql =
    "select datetime,message from SystemInfo where datetime >= ? and datetime <= ? and type = ?";

// One row per side file being taken in: its own name and how many of its
// rows are stored (UnwrittenLines.h). Only the writers use it.
const char* const QDBSqlite::kTakenInTable = "UnwrittenTakenIn";

// The UTC offsets (seconds east) the stamps of SystemInfo were formatted in,
// one row each, whichever program wrote them.
const char* const QDBSqlite::kStampOffsetsTable = "StampOffsets";

QDBSqlite::QDBSqlite(const QString& databaseName, const QString& userName, const QString& password)
    : QSqlDatabase(QStringLiteral("QSQLITE"))
{
    // A lock held by another writer or reader is waited for this long.
    setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    setDatabaseName(databaseName);
    if (!userName.isEmpty()) {
        setUserName(userName);
        setPassword(password);
    }
}

bool QDBSqlite::createTable(LockWait wait)
{
    if (m_refused)
        return false;
    if (!openConnection()) {
        m_ready = false;
        return false;
    }
    if (wait == LockWait::None)
        setBusyTimeout(0);
    m_ready = setUp();
    if (wait == LockWait::None)
        setBusyTimeout(kBusyTimeoutMs);
    return m_ready;
}

void QDBSqlite::setBusyTimeout(int ms)
{
    if (sqlite3* handle = sqliteHandle())
        sqlite3_busy_timeout(handle, ms);
}

bool QDBSqlite::movedFromPath()
{
    return m_openedFile.exists && !FileIdentity::of(databaseName()).isSameFileAs(m_openedFile);
}

QDBSqlite::PathChange QDBSqlite::followPath()
{
    if (!m_openedFile.exists)
        return PathChange::None;
    const FileIdentity atPath = FileIdentity::of(databaseName());
    if (atPath.isSameFileAs(m_openedFile))
        return PathChange::None;
    m_handle = nullptr;
    close();
    m_ready = false;
    m_refused = false;
    m_openFailure.clear();
    m_openedFile = FileIdentity();
    return atPath.exists ? PathChange::Replaced : PathChange::Deleted;
}

namespace {

// The reason an SQLite result code (primary or extended) gives lines up for.
DropReason dropReasonOfSqliteCode(int code)
{
    switch (code & 0xff) {
    case SQLITE_FULL:
        return DropReason::DiskFull;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return DropReason::Locked;
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
        return DropReason::IoError;
    case SQLITE_CANTOPEN:
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return DropReason::Unwritable;
    case SQLITE_NOTADB:
        return DropReason::Refused;
    default:
        return DropReason::Other;
    }
}

DropReason reasonOf(const QSqlError& error)
{
    bool isNumber = false;
    const int code = error.nativeErrorCode().toInt(&isNumber);
    if (isNumber && code != 0)
        return dropReasonOfSqliteCode(code);
    switch (failureKindOf(error)) {
    case FailureKind::NotADatabase:
    case FailureKind::NotALogDatabase:
        return DropReason::Refused;
    case FailureKind::Locked:
        return DropReason::Locked;
    case FailureKind::DiskFull:
        return DropReason::DiskFull;
    case FailureKind::Missing:
    case FailureKind::CannotOpen:
    case FailureKind::ReadOnly:
    case FailureKind::InterruptedWrite:
        return DropReason::Unwritable;
    case FailureKind::Corrupt:
        return DropReason::IoError;
    case FailureKind::Interrupted:
    case FailureKind::InvalidPattern:
    case FailureKind::Other:
        break;
    }
    return DropReason::Other;
}

} // namespace

void QDBSqlite::failSetup(const QSqlError& error)
{
    m_lastWriteFailure = failureKindOf(error);
    m_lastWriteReason = reasonOf(error);
    m_lastWriteError = error.text();
}

bool QDBSqlite::openConnection()
{
    if (isOpen())
        return true;
    m_handle = nullptr;
    if (!QSqlDatabase::open()) {
        m_openFailure = describeFailure(lastError());
        failSetup(lastError());
        return false;
    }
    m_openFailure.clear();
    m_openedFile = FileIdentity::of(databaseName());
    m_offsetsRecorded.clear();
    sqliteHandle();
    return true;
}

bool QDBSqlite::setUp()
{
    if (!isLogFileOrEmpty())
        return false;
    // Per connection; the file itself is not changed by it.
    exec(QStringLiteral("PRAGMA synchronous = FULL"));
    // A new file hands the pages of removed records back to the file system
    // in steps (vxlog vacuum); it takes effect only before the first table.
    exec(QStringLiteral("PRAGMA auto_vacuum = INCREMENTAL"));
    for (const char* statement : {kCreateTableSql, kCreateIndexSql}) {
        const QSqlError error = exec(QString::fromLatin1(statement)).lastError();
        if (error.type() != QSqlError::NoError) {
            failSetup(error);
            return false;
        }
    }
    return true;
}

void QDBSqlite::refuse(FailureKind kind, const QString& detail)
{
    m_openFailure = describeFailure(kind, detail);
    m_lastWriteFailure = kind;
    m_lastWriteReason = DropReason::Refused;
    m_lastWriteError = detail;
    m_refused = true;
    m_handle = nullptr;
    close();
}

namespace {

bool sameName(const QString& a, const char* b)
{
    return a.compare(QLatin1String(b), Qt::CaseInsensitive) == 0;
}

} // namespace

// Reads only the schema, so a foreign file is left exactly as it was. True
// when the file is empty or a log database; false when it was refused, or
// when its schema could not be read (a lock held elsewhere is no reason to
// give the file up for good: the next attempt reads it again).
bool QDBSqlite::isLogFileOrEmpty()
{
    QSqlQuery master(*this);
    if (!master.exec(QStringLiteral("SELECT type, name FROM sqlite_master WHERE type IN ('table', 'view')"))) {
        if (failureKindOf(master.lastError()) == FailureKind::NotADatabase)
            refuse(FailureKind::NotADatabase, master.lastError().text());
        else
            failSetup(master.lastError());
        return false;
    }
    QString systemInfoKind;
    QStringList otherTables;
    while (master.next()) {
        const QString name = master.value(1).toString();
        if (sameName(name, "SystemInfo"))
            systemInfoKind = master.value(0).toString();
        else if (!name.startsWith(QLatin1String("sqlite_"), Qt::CaseInsensitive))
            otherTables << name;
    }
    if (systemInfoKind.isEmpty()) {
        if (otherTables.isEmpty())
            return true;
        refuse(FailureKind::NotALogDatabase,
               QStringLiteral("no table SystemInfo; tables: %1").arg(otherTables.join(QLatin1String(", "))));
        return false;
    }
    if (systemInfoKind != QLatin1String("table")) {
        refuse(FailureKind::NotALogDatabase, QStringLiteral("SystemInfo is a %1").arg(systemInfoKind));
        return false;
    }
    QSqlQuery columns(*this);
    if (!columns.exec(QStringLiteral("PRAGMA table_info(SystemInfo)"))) {
        failSetup(columns.lastError());
        return false;
    }
    QStringList names;
    while (columns.next())
        names << columns.value(1).toString();
    const char* const expected[] = {"id", "datetime", "type", "message"};
    bool matches = names.size() == 4;
    for (int i = 0; matches && i < 4; ++i)
        matches = sameName(names[i], expected[i]);
    if (!matches) {
        refuse(FailureKind::NotALogDatabase,
               QStringLiteral("SystemInfo columns: %1").arg(names.join(QLatin1String(", "))));
        return false;
    }
    return true;
}

bool QDBSqlite::insert(int type, QString message)
{
    return insertBatch({tag_MsgItem{message, type}});
}

sqlite3* QDBSqlite::sqliteHandle()
{
    if (!isOpen())
        return nullptr;
    if (!m_handle) {
        const QVariant handle = driver()->handle();
        if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
            m_handle = *static_cast<sqlite3* const*>(handle.constData());
    }
    return m_handle;
}

bool QDBSqlite::failWrite(sqlite3* handle, int code)
{
    m_lastWriteFailure = failureKindOfSqliteCode(code);
    m_lastWriteReason = dropReasonOfSqliteCode(code);
    m_lastWriteError = QString::fromUtf8(sqlite3_errmsg(handle));
    // The table or the file may have changed under the connection: check
    // and set up again before the next write.
    const int primary = code & 0xff;
    if (primary == SQLITE_ERROR || primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT || primary == SQLITE_SCHEMA
        || code == SQLITE_READONLY_DBMOVED)
        m_ready = false;
    // Some errors (a full disk, an I/O error) end the transaction themselves.
    if (!sqlite3_get_autocommit(handle))
        sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

bool QDBSqlite::insertBatch(const std::list<tag_MsgItem>& items)
{
    return insertPrefix(items, {}) == static_cast<long>(items.size());
}

long QDBSqlite::insertPrefix(const std::list<tag_MsgItem>& items, const std::function<bool()>& yieldNow)
{
    return insertRows(items, yieldNow, nullptr);
}

bool QDBSqlite::insertTakenIn(const std::list<tag_MsgItem>& items, const std::string& sideFile, std::uint64_t rowsTaken)
{
    const TakenIn takenIn{sideFile, rowsTaken};
    return insertRows(items, {}, &takenIn) == static_cast<long>(items.size());
}

int QDBSqlite::recordTakenIn(sqlite3* handle, const TakenIn& takenIn)
{
    const std::string create = std::string("CREATE TABLE IF NOT EXISTS ") + kTakenInTable
        + "(name TEXT PRIMARY KEY, rows INTEGER NOT NULL)";
    int code = sqlite3_exec(handle, create.c_str(), nullptr, nullptr, nullptr);
    if (code != SQLITE_OK)
        return code;
    const std::string upsert = std::string("INSERT OR REPLACE INTO ") + kTakenInTable + "(name, rows) VALUES(?, ?)";
    sqlite3_stmt* statement = nullptr;
    code = sqlite3_prepare_v2(handle, upsert.c_str(), -1, &statement, nullptr);
    if (code == SQLITE_OK) {
        sqlite3_bind_text(statement, 1, takenIn.sideFile.data(), int(takenIn.sideFile.size()), SQLITE_STATIC);
        sqlite3_bind_int64(statement, 2, sqlite3_int64(takenIn.rows));
        code = sqlite3_step(statement);
        if (code == SQLITE_DONE)
            code = SQLITE_OK;
    }
    sqlite3_finalize(statement);
    return code;
}

int QDBSqlite::recordStampOffsets(sqlite3* handle, const std::vector<long>& offsets)
{
    bool created = false;
    for (const long offset : offsets) {
        if (std::find(m_offsetsRecorded.begin(), m_offsetsRecorded.end(), offset) != m_offsetsRecorded.end())
            continue;
        int code = SQLITE_OK;
        if (!created) {
            const std::string create = std::string("CREATE TABLE IF NOT EXISTS ") + kStampOffsetsTable
                + "(utcOffsetSeconds INTEGER PRIMARY KEY)";
            code = sqlite3_exec(handle, create.c_str(), nullptr, nullptr, nullptr);
            created = true;
        }
        const std::string insert = std::string("INSERT OR IGNORE INTO ") + kStampOffsetsTable
            + "(utcOffsetSeconds) VALUES(" + std::to_string(offset) + ')';
        if (code == SQLITE_OK)
            code = sqlite3_exec(handle, insert.c_str(), nullptr, nullptr, nullptr);
        if (code != SQLITE_OK)
            return code;
    }
    return SQLITE_OK;
}

bool QDBSqlite::noteStampOffset(long utcOffsetSeconds)
{
    sqlite3* handle = sqliteHandle();
    if (!handle)
        return false;
    // Not remembered: the caller's transaction may still be rolled back.
    const std::vector<long> recorded = std::move(m_offsetsRecorded);
    m_offsetsRecorded.clear();
    const int code = recordStampOffsets(handle, {utcOffsetSeconds});
    m_offsetsRecorded = recorded;
    return code == SQLITE_OK;
}

bool QDBSqlite::stampOffsets(std::vector<long>& offsets)
{
    offsets.clear();
    sqlite3* handle = sqliteHandle();
    if (!handle)
        return false;
    const std::string select = std::string("SELECT utcOffsetSeconds FROM ") + kStampOffsetsTable;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(handle, select.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(statement);
        // No writer recorded any: a file of an earlier version or another program.
        return sqlite3_errcode(handle) == SQLITE_ERROR;
    }
    int code = SQLITE_ROW;
    while ((code = sqlite3_step(statement)) == SQLITE_ROW)
        offsets.push_back(long(sqlite3_column_int64(statement, 0)));
    sqlite3_finalize(statement);
    return code == SQLITE_DONE;
}

qint64 QDBSqlite::takenInRows(const std::string& sideFile)
{
    sqlite3* handle = sqliteHandle();
    if (!handle)
        return -1;
    const std::string select = std::string("SELECT rows FROM ") + kTakenInTable + " WHERE name = ?";
    sqlite3_stmt* statement = nullptr;
    int code = sqlite3_prepare_v2(handle, select.c_str(), -1, &statement, nullptr);
    if (code != SQLITE_OK) {
        sqlite3_finalize(statement);
        // No take-in was ever recorded in this file.
        return sqlite3_errcode(handle) == SQLITE_ERROR ? 0 : -1;
    }
    sqlite3_bind_text(statement, 1, sideFile.data(), int(sideFile.size()), SQLITE_STATIC);
    code = sqlite3_step(statement);
    qint64 rows = code == SQLITE_ROW ? qint64(sqlite3_column_int64(statement, 0)) : (code == SQLITE_DONE ? 0 : -1);
    sqlite3_finalize(statement);
    return rows < -1 ? -1 : rows;
}

void QDBSqlite::forgetTakenIn(const std::string& sideFile)
{
    sqlite3* handle = sqliteHandle();
    if (!handle)
        return;
    const std::string remove = std::string("DELETE FROM ") + kTakenInTable + " WHERE name = ?";
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(handle, remove.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
        sqlite3_bind_text(statement, 1, sideFile.data(), int(sideFile.size()), SQLITE_STATIC);
        sqlite3_step(statement);
    }
    sqlite3_finalize(statement);
}

long QDBSqlite::insertRows(const std::list<tag_MsgItem>& items, const std::function<bool()>& yieldNow,
                           const TakenIn* takenIn)
{
    if (items.empty())
        return 0;
    sqlite3* handle = sqliteHandle();
    if (!handle) {
        m_lastWriteFailure = m_refused ? m_lastWriteFailure : FailureKind::CannotOpen;
        m_lastWriteReason = m_refused ? DropReason::Refused : DropReason::Unwritable;
        m_lastWriteError = m_openFailure;
        return -1;
    }
    int code = sqlite3_exec(handle, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) {
        failWrite(handle, code);
        return -1;
    }
    sqlite3_stmt* statement = nullptr;
    code = sqlite3_prepare_v2(handle, kInsertSql, -1, &statement, nullptr);
    // Asking costs a clock read, so only every few rows.
    constexpr long kRowsBetweenAsks = 16;
    long rows = 0;
    LocalTimeText stamp;
    std::vector<long> offsets;
    auto noteOffset = [&offsets](long offset) {
        if (offset != kUnknownStampOffset && (offsets.empty() || offsets.back() != offset)
            && std::find(offsets.begin(), offsets.end(), offset) == offsets.end())
            offsets.push_back(offset);
    };
    for (auto it = items.begin(); code == SQLITE_OK && it != items.end(); ++it) {
        if (yieldNow && rows > 0 && rows % kRowsBetweenAsks == 0 && yieldNow())
            break;
        // A line from a side file keeps the stamp its own program formatted.
        if (it->stamp.size() == kLocalTimeTextLength) {
            sqlite3_bind_text(statement, 1, it->stamp.constData(), kLocalTimeTextLength, SQLITE_STATIC);
            noteOffset(it->stampOffset);
        } else {
            sqlite3_bind_text(statement, 1, stamp.of(it->loggedAt), kLocalTimeTextLength, SQLITE_STATIC);
            noteOffset(stamp.offset());
        }
        sqlite3_bind_int(statement, 2, it->type);
        sqlite3_bind_text16(statement, 3, it->message.utf16(), it->message.size() * int(sizeof(QChar)), SQLITE_STATIC);
        code = sqlite3_step(statement);
        if (code == SQLITE_DONE) {
            code = sqlite3_reset(statement);
            ++rows;
        }
    }
    // The step's error is the one to report; finalize repeats it.
    sqlite3_finalize(statement);
    if (code == SQLITE_OK && takenIn)
        code = recordTakenIn(handle, *takenIn);
    if (code == SQLITE_OK)
        code = recordStampOffsets(handle, offsets);
    // Never into a file that is no longer at the path (renamed away or
    // deleted meanwhile): rolled back, and written into the file now there.
    if (code == SQLITE_OK && movedFromPath())
        return failMoved(handle);
    if (code == SQLITE_OK)
        code = sqlite3_exec(handle, "COMMIT", nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) {
        failWrite(handle, code);
        return -1;
    }
    for (const long offset : offsets)
        if (std::find(m_offsetsRecorded.begin(), m_offsetsRecorded.end(), offset) == m_offsetsRecorded.end())
            m_offsetsRecorded.push_back(offset);
    return rows;
}

long QDBSqlite::failMoved(sqlite3* handle)
{
    failWrite(handle, SQLITE_READONLY_DBMOVED);
    m_lastWriteError = QStringLiteral("the file is no longer at its path");
    return -1;
}

qint64 QDBSqlite::setMaxPageCount(qint64 pages)
{
    QSqlQuery pragma(*this);
    if (!pragma.exec(QStringLiteral("PRAGMA max_page_count = %1").arg(pages)) || !pragma.next())
        return 0;
    return pragma.value(0).toLongLong();
}

void QDBSqlite::setQueryOutcome(bool failed, const QString& reason)
{
    m_lastQueryFailed = failed;
    m_lastQueryError = reason;
}

namespace {

QueryResult failedQuery(const QString& reason)
{
    QueryResult result;
    result.failed = true;
    result.error = reason;
    return result;
}

} // namespace

QueryResult QDBSqlite::queryResult(const QString& start, const QString& end, int type)
{
    QueryResult result = runQuery(start, end, type);
    setQueryOutcome(result.failed, result.error);
    return result;
}

QueryResult QDBSqlite::runQuery(const QString& start, const QString& end, int type)
{
    if (!isOpen()) {
        // Keeps the reason the open failed with, when there was one.
        return failedQuery(m_openFailure.isEmpty() ? failureKindText(FailureKind::CannotOpen) : m_openFailure);
    }
    QSqlQuery statement(*this);
    statement.setForwardOnly(true);
    if (!statement.prepare(QString::fromLatin1(kQuerySql)))
        return failedQuery(describeFailure(statement.lastError()));
    statement.bindValue(0, start);
    statement.bindValue(1, end);
    statement.bindValue(2, type);
    if (!statement.exec())
        return failedQuery(describeFailure(statement.lastError()));
    QueryResult result;
    while (statement.next())
        result.records.append(qMakePair(statement.value(0).toString(), statement.value(1).toString()));
    // A step can fail half way (the file locked past the busy timeout, a
    // corrupt page): then the rows so far are not the answer.
    if (statement.lastError().type() != QSqlError::NoError)
        return failedQuery(describeFailure(statement.lastError()));
    return result;
}

RecordList QDBSqlite::query(QString start, QString end, int type)
{
    return queryResult(start, end, type).records;
}

} // namespace SystemLog
