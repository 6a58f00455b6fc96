#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <mutex>
#include <vector>

struct pg_conn;
struct pg_result;
struct pg_cancel;

namespace SystemLog {

// One libpq connection to the fleet's PostgreSQL, for reading only.
// Failures: every call returns false and leaves the reason in Chinese, the
// server's or libpq's own text after it; a connection the server or the
// network ended reads "连接已断开", so that no caller can mistake it for an
// empty answer. Stopping: a row callback that returns false (or a stop
// check that turns true) cancels the statement on the server.
// Threads: one connection belongs to one thread; cancel() alone may be
// called from any other thread at any time (the cancel key it uses is made
// at connect and guarded by its own mutex).
class PgConnection
{
public:
    using Row = std::function<bool(const std::vector<QByteArray>& values, const std::vector<bool>& isNull)>;

    PgConnection() = default;
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // `stopRequested` turning true ends the attempt (checked every few
    // tens of milliseconds while the server has not answered).
    bool connect(const QString& url, const std::function<bool()>& stopRequested = nullptr);
    // Runs `sql` with its $1… text parameters, handing each row to `row`.
    bool stream(const QByteArray& sql, const std::vector<QByteArray>& parameters, const Row& row,
                const std::function<bool()>& stopRequested);

    // Ends the statement running on the server, if one runs; from any thread.
    void cancel();

    QString reason() const { return m_reason; }
    QString sqlState() const { return m_sqlState; }
    // Whether the last failure was the connection ending (not a refused statement).
    bool lost() const { return m_lost; }

private:
    bool fail(const QString& headline, const QString& detail);
    bool failLost(const QString& detail);
    void replaceCancelKey(pg_cancel* key);
    // Takes the failed result (null: the connection's error) and clears it.
    bool failWithResult(pg_result* result);

    pg_conn* m_conn = nullptr;
    std::mutex m_cancelMutex;
    pg_cancel* m_cancelKey = nullptr;
    QString m_reason;
    QString m_sqlState;
    bool m_lost = false;
};

} // namespace SystemLog
