#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <vector>

#include <vxSyslog/DatabaseFailure.h>

#include "store/QDBSqlite.h"
#include "store/VacuumTurn.h"

class QSqlError;
class QSqlQuery;

namespace SystemLog {

// The vacuum's connection to a log database, through the store's own
// connection class (its check that the file is a log database, its failure
// reasons, its stamps and their zones). Every change runs in transaction():
// one write transaction, timed from the moment it holds the write lock until
// it has committed, so that the caller can size the next one. The vacuum
// holds its turn (store/VacuumTurn.h) from its first statement on, also for
// the reads between its transactions (a reader could otherwise wait for ever
// beside writers whose big transactions hold the file exclusively), and
// gives it back only for a gap after each transaction. A lock held by
// another program is waited for up to busyTimeoutMs.
class VacuumConnection
{
public:
    explicit VacuumConnection(const QString& path);
    ~VacuumConnection();

    // False (errorText() says why) when the file is missing or not a log database.
    bool open(int busyTimeoutMs);
    void close();

    // The first column of the first row of `sql`, as a number.
    bool number(const QString& sql, qint64& value);
    // The first column of the first row of `sql` as text; a null text when there is no row.
    bool text(const QString& sql, QString& value);
    bool exec(const QString& sql);
    // A statement run to its end by SQLite itself (pragmas that do their work step by step).
    bool execToEnd(const QByteArray& sql);

    // BEGIN IMMEDIATE, `work`, COMMIT; rolled back when `work` or the commit fails.
    bool transaction(const std::function<bool(QSqlQuery&)>& work, qint64& heldMs);
    // The same for one statement that holds the lock by itself (VACUUM).
    bool timedStatement(const QString& sql);

    // Within a transaction: a row of `type` stamped now (its zone recorded
    // too), and its id; and a new text for the row `id`.
    bool insertRow(QSqlQuery& query, int type, const QString& message, qint64& id);
    bool updateMessage(QSqlQuery& query, qint64 id, const QString& message);

    // The UTC offsets the file records its stamps in (QDBSqlite.h).
    bool stampOffsets(std::vector<long>& offsets);

    // For a failed step of the caller's own.
    bool fail(const QSqlError& error);

    QString errorText() const { return m_error; }
    FailureKind failureKind() const { return m_failureKind; }
    qint64 longestLockMs() const { return m_longestLockMs; }
    int transactions() const { return m_transactions; }

private:
    void timed(qint64 heldMs);
    void fail(FailureKind kind, const QString& text);
    // Gives the turn back and lets the others go first.
    void endTurn(qint64 heldMs);

    QString m_path;
    QDBSqlite m_db;
    VacuumTurn m_turn;
    QString m_error;
    FailureKind m_failureKind = FailureKind::Other;
    qint64 m_longestLockMs = 0;
    int m_transactions = 0;
};

} // namespace SystemLog
