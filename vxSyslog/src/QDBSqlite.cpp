#include "QDBSqlite.h"

#include <vxSyslog/DatabaseFailure.h>

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

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
    setDatabaseName(databaseName);
    if (!userName.isEmpty()) {
        setUserName(userName);
        setPassword(password);
    }
}

bool QDBSqlite::createTable()
{
    if (!isOpen() && !open())
        return false;
    exec(QString::fromLatin1(kCreateTableSql));
    if (lastError().type() != QSqlError::NoError)
        return false;
    exec(QString::fromLatin1(kCreateIndexSql));
    return lastError().type() == QSqlError::NoError;
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
    QSqlQuery statement(*this);
    return statement.prepare(QString::fromLatin1(kInsertSql)) && execInsert(statement, type, message);
}

bool QDBSqlite::insertBatch(const std::list<tag_MsgItem>& items)
{
    if (items.empty())
        return true;
    if (!isOpen() || !transaction())
        return false;
    bool ok = true;
    {
        QSqlQuery statement(*this);
        ok = statement.prepare(QString::fromLatin1(kInsertSql));
        for (auto it = items.begin(); ok && it != items.end(); ++it)
            ok = execInsert(statement, it->type, it->message);
    }
    if (ok && commit())
        return true;
    rollback();
    return false;
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
        const QSqlError openError = lastError();
        return failedQuery(openError.type() == QSqlError::NoError ? failureKindText(FailureKind::CannotOpen)
                                                                   : describeFailure(openError));
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
