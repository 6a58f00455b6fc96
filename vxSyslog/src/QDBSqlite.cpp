#include "QDBSqlite.h"

#include <vxSyslog/DatabaseFailure.h>

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <sqlite3.h>

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

const char* const QDBSqlite::kInsertSql =
    "INSERT INTO SystemInfo(type ,message) VALUES(?, ?)";

const char* const QDBSqlite::kQuerySql =
    "select datetime,message from SystemInfo where datetime >? and datetime < ? and type = ?";

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

bool QDBSqlite::createTable()
{
    if (!isOpen() && !open()) {
        m_openFailure = describeFailure(lastError());
        return false;
    }
    if (refuseForeignFile())
        return false;
    // Per connection; the file itself is not changed by it.
    exec(QStringLiteral("PRAGMA synchronous = FULL"));
    exec(QString::fromLatin1(kCreateTableSql));
    if (lastError().type() != QSqlError::NoError)
        return false;
    exec(QString::fromLatin1(kCreateIndexSql));
    return lastError().type() == QSqlError::NoError;
}

void QDBSqlite::refuse(FailureKind kind, const QString& detail)
{
    m_openFailure = describeFailure(kind, detail);
    close();
}

namespace {

bool sameName(const QString& a, const char* b)
{
    return a.compare(QLatin1String(b), Qt::CaseInsensitive) == 0;
}

} // namespace

// Reads only the schema, so a foreign file is left exactly as it was.
bool QDBSqlite::refuseForeignFile()
{
    QSqlQuery master(*this);
    if (!master.exec(QStringLiteral("SELECT type, name FROM sqlite_master WHERE type IN ('table', 'view')"))) {
        // A lock held elsewhere is no reason to give the file up for good.
        if (failureKindOf(master.lastError()) == FailureKind::NotADatabase) {
            refuse(FailureKind::NotADatabase, master.lastError().text());
            return true;
        }
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
            return false;
        refuse(FailureKind::NotALogDatabase,
               QStringLiteral("no table SystemInfo; tables: %1").arg(otherTables.join(QLatin1String(", "))));
        return true;
    }
    if (systemInfoKind != QLatin1String("table")) {
        refuse(FailureKind::NotALogDatabase, QStringLiteral("SystemInfo is a %1").arg(systemInfoKind));
        return true;
    }
    QSqlQuery columns(*this);
    QStringList names;
    if (columns.exec(QStringLiteral("PRAGMA table_info(SystemInfo)")))
        while (columns.next())
            names << columns.value(1).toString();
    const char* const expected[] = {"id", "datetime", "type", "message"};
    bool matches = names.size() == 4;
    for (int i = 0; matches && i < 4; ++i)
        matches = sameName(names[i], expected[i]);
    if (!matches) {
        refuse(FailureKind::NotALogDatabase,
               QStringLiteral("SystemInfo columns: %1").arg(names.join(QLatin1String(", "))));
        return true;
    }
    return false;
}

namespace {

bool execInsert(QSqlQuery& statement, int type, const QString& message)
{
    statement.bindValue(0, type);
    statement.bindValue(1, message);
    return statement.exec();
}

} // namespace

bool QDBSqlite::insert(int type, QString message)
{
    if (!isOpen())
        return false;
    QSqlQuery statement(*this);
    return statement.prepare(QString::fromLatin1(kInsertSql)) && execInsert(statement, type, message);
}

sqlite3* QDBSqlite::sqliteHandle() const
{
    if (!isOpen())
        return nullptr;
    const QVariant handle = driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.constData());
}

bool QDBSqlite::failWrite(sqlite3* handle, int code)
{
    m_lastWriteFailure = failureKindOfSqliteCode(code);
    m_lastWriteError = QString::fromUtf8(sqlite3_errmsg(handle));
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
    if (items.empty())
        return 0;
    sqlite3* handle = sqliteHandle();
    if (!handle) {
        m_lastWriteFailure = FailureKind::CannotOpen;
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
    for (auto it = items.begin(); code == SQLITE_OK && it != items.end(); ++it) {
        if (yieldNow && rows > 0 && rows % kRowsBetweenAsks == 0 && yieldNow())
            break;
        sqlite3_bind_int(statement, 1, it->type);
        sqlite3_bind_text16(statement, 2, it->message.utf16(), it->message.size() * int(sizeof(QChar)), SQLITE_STATIC);
        code = sqlite3_step(statement);
        if (code == SQLITE_DONE) {
            code = sqlite3_reset(statement);
            ++rows;
        }
    }
    // The step's error is the one to report; finalize repeats it.
    sqlite3_finalize(statement);
    if (code == SQLITE_OK)
        code = sqlite3_exec(handle, "COMMIT", nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) {
        failWrite(handle, code);
        return -1;
    }
    return rows;
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
