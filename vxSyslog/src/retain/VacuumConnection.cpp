#include "retain/VacuumConnection.h"

#include <vxSyslog/DatabaseFailure.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QVariant>

#include <ctime>

#include <sqlite3.h>

#include "format/LocalTimeText.h"

namespace SystemLog {

VacuumConnection::VacuumConnection(const QString& path)
    : m_path(path)
    , m_db(path, QString(), QString())
    , m_turn(path)
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
        fail(FailureKind::Missing, describeFailure(FailureKind::Missing, QDir::toNativeSeparators(m_path)));
        return false;
    }
    m_turn.request();
    if (!m_db.createTable()) {
        fail(m_db.lastWriteFailure(), m_db.openFailure().isEmpty() ? describeFailure(m_db.lastWriteFailure(), m_db.lastWriteError())
                                                                   : m_db.openFailure());
        return false;
    }
    return exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(busyTimeoutMs));
}

void VacuumConnection::close()
{
    m_turn.release();
    m_db.close();
}

void VacuumConnection::fail(FailureKind kind, const QString& text)
{
    m_failureKind = kind;
    m_error = text;
}

bool VacuumConnection::fail(const QSqlError& error)
{
    fail(failureKindOf(error), describeFailure(error));
    return false;
}

bool VacuumConnection::exec(const QString& sql)
{
    m_turn.request();
    QSqlQuery query(m_db);
    return query.exec(sql) || fail(query.lastError());
}

bool VacuumConnection::number(const QString& sql, qint64& value)
{
    m_turn.request();
    QSqlQuery query(m_db);
    if (!query.exec(sql))
        return fail(query.lastError());
    value = query.next() ? query.value(0).toLongLong() : 0;
    return true;
}

bool VacuumConnection::text(const QString& sql, QString& value)
{
    m_turn.request();
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
    fail(failureKindOfSqliteCode(code), describeFailure(failureKindOfSqliteCode(code), QString::fromUtf8(message)));
    sqlite3_free(message);
    return false;
}

void VacuumConnection::timed(qint64 heldMs)
{
    m_longestLockMs = qMax(m_longestLockMs, heldMs);
    ++m_transactions;
}

void VacuumConnection::endTurn(qint64 heldMs)
{
    m_turn.release();
    // Whoever waited for the lock meanwhile gets it now: as long as the
    // vacuum held it, up to kTurnGapMs, which a program whose busy handler
    // looks only every 100 ms (SQLite's own) cannot miss.
    QThread::msleep(static_cast<unsigned long>(qBound<qint64>(10, heldMs, VacuumTurn::kTurnGapMs)));
}

bool VacuumConnection::transaction(const std::function<bool(QSqlQuery&)>& work, qint64& heldMs)
{
    m_turn.request();
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        m_turn.release();
        return fail(query.lastError());
    }
    QElapsedTimer held;
    held.start();
    if (!work(query) || !query.exec(QStringLiteral("COMMIT"))) {
        if (query.lastError().isValid())
            fail(query.lastError());
        QSqlQuery rollback(m_db);
        rollback.exec(QStringLiteral("ROLLBACK"));
        m_turn.release();
        return false;
    }
    heldMs = held.elapsed();
    endTurn(heldMs);
    timed(heldMs);
    return true;
}

bool VacuumConnection::timedStatement(const QString& sql)
{
    m_turn.request();
    QElapsedTimer held;
    held.start();
    const bool done = exec(sql);
    m_turn.release();
    if (!done)
        return false;
    timed(held.elapsed());
    return true;
}

bool VacuumConnection::insertRow(QSqlQuery& query, int type, const QString& message, qint64& id)
{
    char stamp[32];
    long offset = 0;
    formatLocalTime(std::time(nullptr), stamp, offset);
    if (!m_db.noteStampOffset(offset)) {
        fail(FailureKind::Other, describeFailure(FailureKind::Other, m_db.lastError().text()));
        return false;
    }
    query.prepare(QString::fromLatin1(QDBSqlite::kInsertSql));
    query.addBindValue(QString::fromLatin1(stamp));
    query.addBindValue(type);
    query.addBindValue(message);
    if (!query.exec())
        return fail(query.lastError());
    id = query.lastInsertId().toLongLong();
    return true;
}

bool VacuumConnection::updateMessage(QSqlQuery& query, qint64 id, const QString& message)
{
    query.prepare(QStringLiteral("UPDATE SystemInfo SET message = ? WHERE id = ?"));
    query.addBindValue(message);
    query.addBindValue(id);
    return query.exec() || fail(query.lastError());
}

bool VacuumConnection::stampOffsets(std::vector<long>& offsets)
{
    if (m_db.stampOffsets(offsets))
        return true;
    fail(FailureKind::Other, describeFailure(FailureKind::Other, QStringLiteral("StampOffsets")));
    return false;
}

} // namespace SystemLog
