#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

struct pg_conn;
struct pg_result;
struct pg_cancel;

namespace SystemLog {

// A statement with its $1… text parameters, each added where the SQL names
// it; PgConnection::stream() quotes them.
struct PgStatement
{
    QByteArray sql;
    std::vector<QByteArray> parameters;

    QByteArray add(const QByteArray& value)
    {
        parameters.push_back(value);
        return '$' + QByteArray::number(static_cast<qulonglong>(parameters.size()));
    }
};

// PostgreSQL array literals for a parameter ("{\"a\",\"b\"}", "{1,2}"):
// every text quoted, '"' and '\' escaped.
QByteArray pgTextArray(const QList<QByteArray>& items);
template <typename Numbers>
QByteArray pgNumberArray(const Numbers& numbers)
{
    QByteArray out("{");
    for (auto number : numbers)
        out += (out.size() > 1 ? "," : "") + QByteArray::number(number);
    return out + '}';
}

// One libpq connection to the fleet's PostgreSQL, for reading only.
// Failures: every call returns false and leaves the reason in Chinese, the
// server's or libpq's own text after it; a connection the server or the
// network ended reads "连接已断开", so that no caller can mistake it for an
// empty answer. Stopping: a row callback that returns false (or a stop
// check that turns true) cancels the statement on the server.
// Waiting: with a wait limit, no call waits longer than that for the server,
// whether connecting or for the next part of an answer; past it the
// connection is closed and the call fails ("没有及时应答"), so that a hung
// server or a dead network holds up its caller (the viewer's window) no
// longer. Without one, a connect waits up to ten seconds and an answer as
// long as it takes.
// A stop asked for while the server is silent closes the connection rather
// than wait for it.
// Threads: one connection belongs to one thread; cancel() alone may be
// called from any other thread at any time. It never waits for the server:
// the cancel request (a connection of its own) is sent from a thread of its
// own, with the cancel key made at connect, shared with it.
class PgConnection
{
public:
    using Row = std::function<bool(const std::vector<QByteArray>& values, const std::vector<bool>& isNull)>;

    PgConnection() = default;
    // 0: no limit.
    void setWaitLimit(int milliseconds) { m_waitLimitMs = milliseconds; }
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

    // Connected, and not known to be lost.
    bool connected() const;

    QString reason() const { return m_reason; }
    QString sqlState() const { return m_sqlState; }
    // Whether the last failure was the connection ending (not a refused statement).
    bool lost() const { return m_lost; }

private:
    bool fail(const QString& headline, const QString& detail);
    bool failLost(const QString& detail);
    void replaceCancelKey(pg_cancel* key);
    std::shared_ptr<pg_cancel> cancelKey();
    void cancelAndWait();
    // How a wait for the server ended: it answered; a stop was asked for
    // (the connection is closed: the statement may run on, unread); or it
    // stayed silent past the wait limit (closed, and the call has failed).
    enum class Wait { Answered, Stopped, Silent };
    // Waits for a result (or, for COPY's data, the server's next bytes), in
    // short polls that look at `stopRequested`.
    Wait awaitServer(bool forResult, const std::function<bool()>& stopRequested);
    void close();
    // Takes the failed result (null: the connection's error) and clears it.
    bool failWithResult(pg_result* result);

    pg_conn* m_conn = nullptr;
    std::mutex m_cancelMutex;
    std::shared_ptr<pg_cancel> m_cancelKey;
    int m_waitLimitMs = 0;
    QString m_reason;
    QString m_sqlState;
    bool m_lost = false;
};

} // namespace SystemLog
