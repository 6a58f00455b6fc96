#include "FleetDatabase.h"

#include <QDeadlineTimer>

#include <libpq-fe.h>
#include <poll.h>

#include <cerrno>

namespace {

constexpr int kConnectLimitMs = 3000;
constexpr int kStatementLimitMs = 10000;

// One statement per batch: the reject rows and the table's rows, each
// column an array. ON CONFLICT needs SELECT on (host, id) as well as INSERT
// (docs/fleet_roles.sql).
const char kStatement[] =
    "WITH rejected AS ("
    " INSERT INTO fleet_log_rejects (host, id, stored, reason, structured_data, message)"
    " SELECT * FROM unnest($6::text[], $7::bigint[], $8::boolean[], $9::text[], $10::text[], $11::bytea[])"
    " ON CONFLICT (host, id) DO NOTHING)"
    " INSERT INTO fleet_log (host, id, datetime, type, message)"
    " SELECT * FROM unnest($1::text[], $2::bigint[], $3::text[], $4::integer[], $5::text[])"
    " ON CONFLICT (host, id) DO NOTHING";

// Elements of PostgreSQL array literals: every text quoted with '"' and '\'
// escaped; NULL bare.
class ArrayLiteral
{
public:
    void addText(const QByteArray& text)
    {
        separate();
        m_text += '"';
        for (char c : text) {
            if (c == '"' || c == '\\')
                m_text += '\\';
            m_text += c;
        }
        m_text += '"';
    }
    void addBare(const QByteArray& word)
    {
        separate();
        m_text += word;
    }
    void addBytes(const QByteArray& bytes) { addText("\\x" + bytes.toHex()); }
    QByteArray text() const { return m_text + '}'; }

private:
    void separate() { m_text += m_text.size() > 1 ? "," : ""; }
    QByteArray m_text{"{"};
};

// Data errors, constraint violations and limits a row exceeded: the row's
// fault, not the database's.
bool isRecordFault(const QByteArray& sqlState)
{
    return sqlState.startsWith("22") || sqlState.startsWith("23") || sqlState.startsWith("54") || sqlState.startsWith("P0");
}

// What the administrator can act on, in Chinese, before the server's words.
QString headline(const QByteArray& sqlState, const QString& detail)
{
    if (sqlState == "42501")
        return QStringLiteral("没有写入的权限（写入用户需要 fleet_log 与 fleet_log_rejects 的 INSERT 以及 (host, id) 列的 SELECT，"
                              "见 fleet_roles.sql）");
    if (sqlState == "42P01" || sqlState == "42703")
        return QStringLiteral("数据库中没有可用的 fleet_log 或 fleet_log_rejects 表（用 fleet_log.sql 创建）");
    if (sqlState == "53100")
        return QStringLiteral("数据库服务器的磁盘已满");
    if (sqlState.startsWith("53"))
        return QStringLiteral("数据库服务器资源不足");
    if (sqlState.startsWith("57P"))
        return QStringLiteral("数据库服务器正在关闭或重启");
    if (sqlState == "25006")
        return QStringLiteral("数据库只能读不能写（连到了备用服务器？）");
    if (detail.contains(QLatin1String("password")) || detail.contains(QLatin1String("authentication")))
        return QStringLiteral("数据库拒绝了登录（密码从 passfile=、PGPASSFILE、~/.pgpass 或 PGPASSWORD 读取）");
    if (detail.contains(QLatin1String("does not exist")))
        return QStringLiteral("数据库或用户不存在");
    return QString();
}

// A value of COPY's text format: backslash, tab, line feed and carriage
// return escaped (the text is valid UTF-8 without NUL).
void appendCopyText(QByteArray& out, const QByteArray& text)
{
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
}

QString serverText(const char* text)
{
    return QString::fromUtf8(text).trimmed().replace(QLatin1Char('\n'), QLatin1Char(' '));
}

// Waits until the connection's socket is ready for `events`; false past the deadline.
bool awaitSocket(PGconn* conn, short events, const QDeadlineTimer& deadline)
{
    pollfd fd{PQsocket(conn), events, 0};
    int ready;
    do {
        ready = ::poll(&fd, 1, int(qMax<qint64>(0, deadline.remainingTime())));
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

} // namespace

FleetDatabase::FleetDatabase(const QString& url)
    : m_url(url)
{
}

FleetDatabase::~FleetDatabase()
{
    close();
}

void FleetDatabase::close()
{
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
}

bool FleetDatabase::fail(const QString& why, const QByteArray& sqlState)
{
    m_lost = m_conn && PQstatus(m_conn) == CONNECTION_BAD;
    const QString head = headline(sqlState, why);
    m_reason = QStringLiteral("无法写入中央日志数据库 %1：%2").arg(m_url, head.isEmpty() ? why : head + QStringLiteral("：") + why);
    close();
    return false;
}

bool FleetDatabase::connect()
{
    if (m_conn && PQstatus(m_conn) == CONNECTION_OK)
        return true;
    close();
    const QByteArray url = m_url.toUtf8();
    const char* const keywords[] = {"fallback_application_name", "dbname", nullptr};
    const char* const values[] = {"vxlog store", url.constData(), nullptr};
    m_conn = PQconnectStartParams(keywords, values, 1);
    if (!m_conn)
        return fail(QStringLiteral("内存不足"));
    const QDeadlineTimer deadline(kConnectLimitMs);
    for (PostgresPollingStatusType state = PGRES_POLLING_WRITING;;) {
        if (PQstatus(m_conn) == CONNECTION_BAD || state == PGRES_POLLING_FAILED)
            return fail(QStringLiteral("无法连接数据库服务器：%1").arg(serverText(PQerrorMessage(m_conn))));
        if (state == PGRES_POLLING_OK)
            break;
        if (!awaitSocket(m_conn, state == PGRES_POLLING_READING ? POLLIN : POLLOUT, deadline))
            return fail(QStringLiteral("连接数据库服务器超时（%1 秒）").arg(kConnectLimitMs / 1000));
        state = PQconnectPoll(m_conn);
    }
    PQsetnonblocking(m_conn, 1);
    return true;
}

bool FleetDatabase::flush(const QDeadlineTimer& deadline)
{
    for (int left; (left = PQflush(m_conn)) != 0;) {
        if (left < 0 || !awaitSocket(m_conn, POLLIN | POLLOUT, deadline) || !PQconsumeInput(m_conn)) {
            return fail(deadline.hasExpired() ? QStringLiteral("数据库服务器没有及时接收（%1 秒）").arg(kStatementLimitMs / 1000)
                                              : QStringLiteral("与数据库服务器的连接已断开：%1").arg(serverText(PQerrorMessage(m_conn))));
        }
    }
    return true;
}

// Waits for the answer to what was sent; a statement past the deadline is
// cancelled.
bool FleetDatabase::awaitAnswer(const QDeadlineTimer& deadline)
{
    if (!flush(deadline))
        return false;
    while (PQisBusy(m_conn)) {
        if (!awaitSocket(m_conn, POLLIN, deadline)) {
            if (PGcancel* cancel = PQgetCancel(m_conn)) {
                char ignored[256];
                PQcancel(cancel, ignored, sizeof ignored);
                PQfreeCancel(cancel);
            }
            return fail(QStringLiteral("数据库服务器没有及时应答（%1 秒）").arg(kStatementLimitMs / 1000));
        }
        if (!PQconsumeInput(m_conn))
            return fail(QStringLiteral("与数据库服务器的连接已断开：%1").arg(serverText(PQerrorMessage(m_conn))));
    }
    return true;
}

// The results of the statement sent, up to the last: Stored when each is
// `expected`; a refused record (m_refusal says why) or a failure otherwise.
FleetDatabase::Outcome FleetDatabase::results(const QDeadlineTimer& deadline, int expected)
{
    if (!awaitAnswer(deadline))
        return Outcome::Failed;
    Outcome outcome = Outcome::Stored;
    QString why;
    QByteArray state;
    while (PGresult* result = PQgetResult(m_conn)) {
        const ExecStatusType status = PQresultStatus(result);
        if (status != expected && outcome == Outcome::Stored) {
            state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
            why = serverText(PQresultErrorMessage(result));
            outcome = isRecordFault(state) ? Outcome::RecordRefused : Outcome::Failed;
        }
        PQclear(result);
        // COPY waits for its rows: no other result comes before them.
        if (status == PGRES_COPY_IN)
            break;
    }
    if (outcome == Outcome::RecordRefused)
        m_refusal = why;
    else if (outcome == Outcome::Failed)
        fail(why.isEmpty() ? QStringLiteral("与数据库服务器的连接已断开") : why, state);
    return outcome;
}

FleetDatabase::Outcome FleetDatabase::exec(const char* sql, const QDeadlineTimer& deadline, int expected)
{
    if (!PQsendQuery(m_conn, sql)) {
        fail(QStringLiteral("与数据库服务器的连接已断开：%1").arg(serverText(PQerrorMessage(m_conn))));
        return Outcome::Failed;
    }
    return results(deadline, expected);
}

// The one statement of both tables, each column an array: the way that
// skips records stored already (the forwarder sends at least once).
FleetDatabase::Outcome FleetDatabase::insert(const std::vector<const FleetRecord*>& records, bool rejectsOnly)
{
    ArrayLiteral hosts, ids, datetimes, types, messages;
    ArrayLiteral rejectHosts, rejectIds, rejectStored, reasons, structuredData, sent;
    for (const FleetRecord* record : records) {
        if (record->stored && !rejectsOnly) {
            hosts.addText(record->host);
            ids.addBare(QByteArray::number(record->id));
            datetimes.addText(record->datetime);
            types.addBare(record->hasType ? QByteArray::number(record->type) : QByteArray("NULL"));
            messages.addText(record->message);
        }
        if (record->rejected()) {
            rejectHosts.addText(record->host);
            rejectIds.addBare(record->hasId ? QByteArray::number(record->id) : QByteArray("NULL"));
            rejectStored.addBare(record->stored ? "t" : "f");
            reasons.addText(record->reason.toUtf8());
            structuredData.addText(record->structuredData);
            sent.addBytes(record->sentMessage);
        }
    }
    const QByteArray parameters[] = {hosts.text(), ids.text(), datetimes.text(), types.text(), messages.text(),
                                     rejectHosts.text(), rejectIds.text(), rejectStored.text(), reasons.text(),
                                     structuredData.text(), sent.text()};
    const char* values[11];
    for (int i = 0; i < 11; ++i)
        values[i] = parameters[i].constData();
    const QDeadlineTimer deadline(kStatementLimitMs);
    if (!PQsendQueryParams(m_conn, kStatement, 11, nullptr, values, nullptr, nullptr, 0)) {
        fail(QStringLiteral("与数据库服务器的连接已断开：%1").arg(serverText(PQerrorMessage(m_conn))));
        return Outcome::Failed;
    }
    return results(deadline, PGRES_COMMAND_OK);
}

// The fast way, when no record of the batch is stored yet: COPY into
// fleet_log (the database's bulk load) and the reject rows, in one
// transaction. A record stored already fails the COPY on the key: then
// the batch is stored by insert() instead.
FleetDatabase::Outcome FleetDatabase::copy(const std::vector<const FleetRecord*>& records)
{
    QByteArray rows;
    bool anyRejected = false;
    for (const FleetRecord* record : records) {
        anyRejected = anyRejected || record->rejected();
        if (!record->stored)
            continue;
        appendCopyText(rows, record->host);
        rows += '\t' + QByteArray::number(record->id) + '\t';
        appendCopyText(rows, record->datetime);
        rows += '\t' + (record->hasType ? QByteArray::number(record->type) : QByteArray("\\N")) + '\t';
        appendCopyText(rows, record->message);
        rows += '\n';
    }
    const QDeadlineTimer deadline(kStatementLimitMs);
    Outcome outcome = exec("BEGIN", deadline, PGRES_COMMAND_OK);
    if (outcome == Outcome::Stored)
        outcome = exec("COPY fleet_log (host, id, datetime, type, message) FROM STDIN", deadline, PGRES_COPY_IN);
    if (outcome == Outcome::Stored) {
        int queued = 0;
        while ((queued = PQputCopyData(m_conn, rows.constData(), rows.size())) == 0) {
            if (!awaitSocket(m_conn, POLLOUT, deadline) || !flush(deadline))
                return Outcome::Failed;
        }
        while (queued > 0 && (queued = PQputCopyEnd(m_conn, nullptr)) == 0) {
            if (!awaitSocket(m_conn, POLLOUT, deadline) || !flush(deadline))
                return Outcome::Failed;
        }
        if (queued < 0) {
            fail(QStringLiteral("与数据库服务器的连接已断开：%1").arg(serverText(PQerrorMessage(m_conn))));
            return Outcome::Failed;
        }
        outcome = results(deadline, PGRES_COMMAND_OK);
    }
    if (outcome == Outcome::Stored && anyRejected)
        outcome = insert(records, true);
    if (outcome == Outcome::Stored)
        return exec("COMMIT", deadline, PGRES_COMMAND_OK);
    if (outcome == Outcome::RecordRefused && exec("ROLLBACK", deadline, PGRES_COMMAND_OK) != Outcome::Stored)
        return Outcome::Failed;
    return outcome;
}

bool FleetDatabase::store(std::vector<FleetRecord>& records)
{
    // A connection made for an earlier batch may have ended meanwhile (a
    // server restarted): that alone is worth one more try at once.
    const bool reused = m_conn != nullptr;
    if (!connect())
        return false;
    std::vector<const FleetRecord*> all;
    all.reserve(records.size());
    for (const FleetRecord& record : records)
        all.push_back(&record);
    Outcome outcome = copy(all);
    if (outcome == Outcome::Failed && reused && m_lost && connect())
        outcome = copy(all);
    if (outcome == Outcome::RecordRefused)
        outcome = insert(all);
    switch (outcome) {
    case Outcome::Stored:
        return true;
    case Outcome::Failed:
        return false;
    case Outcome::RecordRefused:
        break;
    }
    return storeOneByOne(records);
}

// After the server refused a row of the batch: each record alone, the
// refused ones into fleet_log_rejects only.
bool FleetDatabase::storeOneByOne(std::vector<FleetRecord>& records)
{
    for (FleetRecord& record : records) {
        Outcome outcome = insert({&record});
        if (outcome == Outcome::RecordRefused) {
            record.refuse(m_refusal);
            outcome = insert({&record});
        }
        if (outcome != Outcome::Stored) {
            if (outcome == Outcome::RecordRefused)
                fail(QStringLiteral("连被拒绝记录的说明也无法存入 fleet_log_rejects：%1").arg(m_refusal));
            return false;
        }
    }
    return true;
}
