#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

struct pg_conn;
struct pg_result;

namespace SystemLog {

// One libpq connection to the fleet's PostgreSQL, for reading only.
// Failures: every call returns false and leaves the reason in Chinese, the
// server's or libpq's own text after it; a connection the server or the
// network ended reads "连接已断开", so that no caller can mistake it for an
// empty answer. Stopping: a row callback that returns false (or a stop
// check that turns true) cancels the statement on the server.
// Threads: one connection belongs to one thread.
class PgConnection
{
public:
    using Row = std::function<bool(const std::vector<QByteArray>& values, const std::vector<bool>& isNull)>;

    PgConnection() = default;
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    bool connect(const QString& url);
    // Runs `sql` with its $1… text parameters, handing each row to `row`.
    bool stream(const QByteArray& sql, const std::vector<QByteArray>& parameters, const Row& row,
                const std::function<bool()>& stopRequested);

    QString reason() const { return m_reason; }
    QString sqlState() const { return m_sqlState; }

private:
    bool fail(const QString& headline, const QString& detail);
    // Takes the failed result (null: the connection's error) and clears it.
    bool failWithResult(pg_result* result);

    pg_conn* m_conn = nullptr;
    QString m_reason;
    QString m_sqlState;
};

} // namespace SystemLog
