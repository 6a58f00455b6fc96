#include "sources/PgConnection.h"

#include <QDeadlineTimer>

#include <libpq-fe.h>
#ifdef _WIN32
#include <winsock2.h>
#define poll WSAPoll
#else
#include <poll.h>
#endif

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>

namespace SystemLog {

QByteArray pgTextArray(const QList<QByteArray>& items)
{
    QByteArray out("{");
    for (int i = 0; i < items.size(); ++i) {
        out += i > 0 ? ",\"" : "\"";
        for (char c : items.at(i)) {
            if (c == '"' || c == '\\')
                out += '\\';
            out += c;
        }
        out += '"';
    }
    return out + '}';
}

namespace {

constexpr int kConnectTimeoutMs = 10000;
constexpr int kConnectPollMs = 50; // how soon a stop asked for ends a connect

QString detailOf(const char* text)
{
    return QString::fromUtf8(text).trimmed().replace(QLatin1Char('\n'), QLatin1Char(' '));
}

// libpq says why a connection failed only in English: the cases an
// operator can act on are told in Chinese before it.
QString connectHeadline(const QString& detail)
{
    if (detail.contains(QLatin1String("password")) || detail.contains(QLatin1String("authentication")))
        return QStringLiteral("数据库拒绝了登录（检查用户名，密码只从 ~/.pgpass 或 PGPASSWORD 读取）");
    if (detail.contains(QLatin1String("does not exist")))
        return QStringLiteral("数据库或用户不存在");
    if (detail.contains(QLatin1String("timeout")))
        return QStringLiteral("连接数据库服务器超时");
    return QStringLiteral("无法连接数据库服务器");
}

} // namespace

PgConnection::~PgConnection()
{
    close();
}

void PgConnection::replaceCancelKey(PGcancel* key)
{
    std::lock_guard<std::mutex> lock(m_cancelMutex);
    m_cancelKey = key ? std::shared_ptr<PGcancel>(key, &PQfreeCancel) : nullptr;
}

std::shared_ptr<PGcancel> PgConnection::cancelKey()
{
    std::lock_guard<std::mutex> lock(m_cancelMutex);
    return m_cancelKey;
}

// PQcancel connects to the server and waits for it: on a thread of its own,
// which keeps the key alive for as long as it needs it.
void PgConnection::cancel()
{
    if (const std::shared_ptr<PGcancel> key = cancelKey())
        std::thread([key] {
            char error[256];
            PQcancel(key.get(), error, sizeof error);
        }).detach();
}

// The owner's own stop, while the server answers: the cancel has reached it
// before the next statement is sent, so it cannot end that one instead.
void PgConnection::cancelAndWait()
{
    if (const std::shared_ptr<PGcancel> key = cancelKey()) {
        char error[256];
        PQcancel(key.get(), error, sizeof error);
    }
}

PgConnection::Wait PgConnection::awaitServer(bool forResult, const std::function<bool()>& stopRequested)
{
    const QDeadlineTimer deadline = m_waitLimitMs > 0 ? QDeadlineTimer(m_waitLimitMs) : QDeadlineTimer(QDeadlineTimer::Forever);
    // A result is ready once libpq is no longer busy; COPY's data once the
    // socket has bytes.
    while (!forResult || PQisBusy(m_conn)) {
        if (stopRequested && stopRequested()) {
            close();
            return Wait::Stopped;
        }
        if (deadline.hasExpired()) {
            close();
            failLost(QString());
            m_reason = QStringLiteral("数据库服务器在 %1 毫秒内没有及时应答，连接已关闭").arg(m_waitLimitMs);
            return Wait::Silent;
        }
        const qint64 left = deadline.isForever() ? kConnectPollMs : std::min<qint64>(deadline.remainingTime(), kConnectPollMs);
        pollfd socket{PQsocket(m_conn), POLLIN, 0};
        // A read error is reported by the libpq call that follows.
        if (poll(&socket, 1, int(std::max<qint64>(left, 0))) > 0 && (!PQconsumeInput(m_conn) || !forResult))
            return Wait::Answered;
    }
    return Wait::Answered;
}

bool PgConnection::connected() const
{
    return m_conn && PQstatus(m_conn) == CONNECTION_OK;
}

void PgConnection::close()
{
    replaceCancelKey(nullptr);
    PQfinish(m_conn);
    m_conn = nullptr;
}

bool PgConnection::failLost(const QString& detail)
{
    fail(QStringLiteral("与数据库服务器的连接已断开"), detail);
    m_lost = true;
    return false;
}

bool PgConnection::fail(const QString& headline, const QString& detail)
{
    m_lost = false;
    m_reason = detail.isEmpty() ? headline : QStringLiteral("%1（数据库信息：%2）").arg(headline, detail);
    return false;
}

bool PgConnection::connect(const QString& url, const std::function<bool()>& stopRequested)
{
    replaceCancelKey(nullptr);
    PQfinish(m_conn);
    const QByteArray dbname = url.toUtf8();
    // Messages come as they were stored: no conversion on the way.
    const char* const keys[] = {"dbname", "client_encoding", "application_name", nullptr};
    const char* const values[] = {dbname.constData(), "UTF8", "vxlog", nullptr};
    // Connected step by step, so that a stop asked for ends the wait for a
    // server that does not answer.
    m_conn = PQconnectStartParams(keys, values, 1);
    const QDeadlineTimer deadline(m_waitLimitMs > 0 ? std::min(m_waitLimitMs, kConnectTimeoutMs) : kConnectTimeoutMs);
    PostgresPollingStatusType progress = PGRES_POLLING_WRITING;
    while (m_conn && PQstatus(m_conn) != CONNECTION_BAD && progress != PGRES_POLLING_OK
           && progress != PGRES_POLLING_FAILED) {
        const bool stop = stopRequested && stopRequested();
        if (stop || deadline.hasExpired()) {
            PQfinish(m_conn);
            m_conn = nullptr;
            return fail(stop ? QStringLiteral("已取消连接数据库服务器") : QStringLiteral("连接数据库服务器超时"), QString());
        }
        pollfd socket{PQsocket(m_conn), short(progress == PGRES_POLLING_READING ? POLLIN : POLLOUT), 0};
        if (poll(&socket, 1, kConnectPollMs) > 0)
            progress = PQconnectPoll(m_conn);
    }
    if (m_conn && PQstatus(m_conn) == CONNECTION_OK) {
        // The server's notices ("terminating connection …") would go to
        // standard error in English; what matters reaches the caller as a failure.
        PQsetNoticeProcessor(m_conn, [](void*, const char*) {}, nullptr);
        replaceCancelKey(PQgetCancel(m_conn));
        return true;
    }
    const QString detail = m_conn ? detailOf(PQerrorMessage(m_conn)) : QString();
    return fail(connectHeadline(detail), detail);
}

bool PgConnection::failWithResult(PGresult* result)
{
    m_sqlState = QString::fromLatin1(PQresultErrorField(result, PG_DIAG_SQLSTATE));
    const QString detail = detailOf(result ? PQresultErrorMessage(result) : PQerrorMessage(m_conn));
    PQclear(result);
    const bool lost = PQstatus(m_conn) != CONNECTION_OK || m_sqlState.startsWith(QLatin1String("08"))
                      || m_sqlState.startsWith(QLatin1String("57P"));
    return lost ? failLost(detail) : fail(QStringLiteral("查询失败"), detail);
}

namespace {

// One field of COPY's text format back to its bytes: "\\N" is NULL, a
// backslash escapes the separators and control characters. A field without
// one is handed on where it lies; another is decoded into `buffer`.
void unescapeCopyField(const char* begin, const char* end, std::string& buffer, QByteArray& field, bool& isNull)
{
    isNull = end - begin == 2 && begin[0] == '\\' && begin[1] == 'N';
    const char* slash = isNull ? nullptr : static_cast<const char*>(std::memchr(begin, '\\', static_cast<size_t>(end - begin)));
    if (!slash) {
        field = QByteArray::fromRawData(isNull ? "" : begin, isNull ? 0 : static_cast<int>(end - begin));
        return;
    }
    buffer.assign(begin, slash);
    for (const char* p = slash; p != end;) {
        if (*p != '\\') {
            const auto* next = static_cast<const char*>(std::memchr(p, '\\', static_cast<size_t>(end - p)));
            const char* stop = next ? next : end;
            buffer.append(p, static_cast<size_t>(stop - p));
            p = stop;
            continue;
        }
        if (++p == end)
            break;
        const char c = *p++;
        switch (c) {
        case 'b': buffer += '\b'; break;
        case 'f': buffer += '\f'; break;
        case 'n': buffer += '\n'; break;
        case 'r': buffer += '\r'; break;
        case 't': buffer += '\t'; break;
        case 'v': buffer += '\v'; break;
        default:
            if (c >= '0' && c <= '7') {
                int value = c - '0';
                for (int digits = 1; digits < 3 && p != end && *p >= '0' && *p <= '7'; ++digits)
                    value = value * 8 + (*p++ - '0');
                buffer += static_cast<char>(value);
            } else {
                buffer += c;
            }
        }
    }
    field = QByteArray::fromRawData(buffer.data(), static_cast<int>(buffer.size()));
}

} // namespace

// The rows come as COPY's text stream, the server's fastest way out (what
// psql's \copy uses); COPY takes no parameters, so they are put into the
// statement as literals quoted by libpq for this connection.
bool PgConnection::stream(const QByteArray& sql, const std::vector<QByteArray>& parameters, const Row& row,
                          const std::function<bool()>& stopRequested)
{
    m_sqlState.clear();
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK)
        return failLost(m_conn ? detailOf(PQerrorMessage(m_conn)) : QString());
    // One pass over the statement, so that a value holding "$2" stays a value.
    QByteArray statement;
    for (int i = 0; i < sql.size(); ++i) {
        int end = i + 1;
        while (sql.at(i) == '$' && end < sql.size() && sql.at(end) >= '0' && sql.at(end) <= '9')
            ++end;
        const size_t number = end > i + 1 ? sql.mid(i + 1, end - i - 1).toULong() : 0;
        if (number == 0 || number > parameters.size()) {
            statement += sql.at(i);
            continue;
        }
        const QByteArray& value = parameters[number - 1];
        char* literal = PQescapeLiteral(m_conn, value.constData(), static_cast<size_t>(value.size()));
        if (!literal)
            return fail(QStringLiteral("查询失败"), detailOf(PQerrorMessage(m_conn)));
        statement += literal;
        PQfreemem(literal);
        i = end - 1;
    }
    statement = "COPY (" + statement + ") TO STDOUT";
    if (!PQsendQuery(m_conn, statement.constData()))
        return failLost(detailOf(PQerrorMessage(m_conn)));
    bool ok = true;
    bool stopped = false;
    // A stop asked for while the statement was on its way ends the wait at once.
    if (const Wait wait = awaitServer(true, stopRequested); wait != Wait::Answered)
        return wait == Wait::Stopped;
    PGresult* started = PQgetResult(m_conn);
    if (PQresultStatus(started) != PGRES_COPY_OUT) {
        failWithResult(started);
        while (PGresult* rest = PQgetResult(m_conn))
            PQclear(rest);
        return false;
    }
    PQclear(started);
    std::vector<QByteArray> fields;
    std::vector<bool> nulls;
    std::vector<std::string> buffers;
    char* line = nullptr;
    int length = 0;
    while ((length = PQgetCopyData(m_conn, &line, 1)) >= 0) {
        if (length == 0) {
            // Read without waiting, libpq says "no data yet" also once the
            // server has gone.
            if (PQstatus(m_conn) == CONNECTION_BAD) {
                length = -2;
                break;
            }
            if (const Wait wait = awaitServer(false, stopRequested); wait != Wait::Answered)
                return wait == Wait::Stopped;
            continue;
        }
        if (!stopped) {
            const char* p = line;
            const char* end = line + length - (line[length - 1] == '\n' ? 1 : 0);
            size_t column = 0;
            for (const char* start = p;; ++p) {
                if (p != end && *p != '\t')
                    continue;
                if (fields.size() <= column) {
                    fields.resize(column + 1);
                    nulls.resize(column + 1);
                    buffers.resize(column + 1);
                }
                bool isNull = false;
                unescapeCopyField(start, p, buffers[column], fields[column], isNull);
                nulls[column] = isNull;
                ++column;
                if (p == end)
                    break;
                start = p + 1;
            }
            fields.resize(column);
            nulls.resize(column);
            if (!row(fields, nulls) || (stopRequested && stopRequested())) {
                stopped = true;
                cancelAndWait();
            }
        }
        PQfreemem(line);
    }
    // The end of the stream carries the statement's outcome; a cancelled
    // one is the stop asked for, not a failure.
    for (;;) {
        if (const Wait wait = awaitServer(true, stopRequested); wait != Wait::Answered)
            return wait == Wait::Stopped;
        PGresult* result = PQgetResult(m_conn);
        if (!result)
            break;
        if (ok && !stopped && PQresultStatus(result) != PGRES_COMMAND_OK) {
            ok = false;
            failWithResult(result);
        } else {
            PQclear(result);
        }
    }
    if (ok && !stopped && (length == -2 || PQstatus(m_conn) != CONNECTION_OK))
        ok = failLost(detailOf(PQerrorMessage(m_conn)));
    return ok;
}

} // namespace SystemLog
