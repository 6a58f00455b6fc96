#include "retain/VacuumConnection.h"

#include <vxSyslog/DatabaseFailure.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

namespace SystemLog {

VacuumConnection::VacuumConnection(const QString& path)
    : m_path(path)
    , m_db(path, QString(), QString())
{
}

VacuumConnection::~VacuumConnection()
{
    close();
}

bool VacuumConnection::open(int busyTimeoutMs)
{
    // A vacuum never creates the log it is to clean.
    if (!QFileInfo(m_path).isFile()) {
        m_error = describeFailure(FailureKind::Missing, QDir::toNativeSeparators(m_path));
        return false;
    }
    if (!m_db.createTable()) {
        m_error = m_db.openFailure().isEmpty() ? describeFailure(m_db.lastWriteFailure(), m_db.lastWriteError())
                                               : m_db.openFailure();
        return false;
    }
    return exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(busyTimeoutMs));
}

void VacuumConnection::close()
{
    m_db.close();
}

bool VacuumConnection::fail(const QSqlError& error)
{
    m_error = describeFailure(error);
    return false;
}

bool VacuumConnection::exec(const QString& sql)
{
    QSqlQuery query(m_db);
    return query.exec(sql) || fail(query.lastError());
}

bool VacuumConnection::number(const QString& sql, qint64& value)
{
    QSqlQuery query(m_db);
    if (!query.exec(sql))
        return fail(query.lastError());
    value = query.next() ? query.value(0).toLongLong() : 0;
    return true;
}

bool VacuumConnection::text(const QString& sql, QString& value)
{
    QSqlQuery query(m_db);
    if (!query.exec(sql))
        return fail(query.lastError());
    value = query.next() ? query.value(0).toString() : QString();
    return true;
}

bool VacuumConnection::execToEnd(const QByteArray& sql)
{
    const QVariant handle = m_db.driver()->handle();
    if (qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return false;
    char* message = nullptr;
    const int code = sqlite3_exec(*static_cast<sqlite3* const*>(handle.constData()), sql.constData(), nullptr, nullptr, &message);
    if (code == SQLITE_OK)
        return true;
    m_error = describeFailure(failureKindOfSqliteCode(code), QString::fromUtf8(message));
    sqlite3_free(message);
    return false;
}

void VacuumConnection::timed(qint64 heldMs)
{
    m_longestLockMs = qMax(m_longestLockMs, heldMs);
    ++m_transactions;
}

bool VacuumConnection::transaction(const std::function<bool(QSqlQuery&)>& work, qint64& heldMs)
{
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return fail(query.lastError());
    QElapsedTimer held;
    held.start();
    if (!work(query) || !query.exec(QStringLiteral("COMMIT"))) {
        if (query.lastError().isValid())
            fail(query.lastError());
        QSqlQuery rollback(m_db);
        rollback.exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    heldMs = held.elapsed();
    timed(heldMs);
    return true;
}

bool VacuumConnection::timedStatement(const QString& sql)
{
    QElapsedTimer held;
    held.start();
    if (!exec(sql))
        return false;
    timed(held.elapsed());
    return true;
}

bool VacuumConnection::insert(int type, const QString& message)
{
    if (m_db.insert(type, message))
        return true;
    m_error = describeFailure(m_db.lastWriteFailure(), m_db.lastWriteError());
    return false;
}

} // namespace SystemLog
