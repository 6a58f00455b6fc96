#include "sources/PgSource.h"

#include <QUrl>

#include <libpq-fe.h>

#include "read/MessageMatcher.h"
#include "sources/LocationSecrets.h"
#include "sources/PgConnection.h"

namespace SystemLog {

namespace {

const char* const kColumns = "host, id, datetime, type, message";

void recordOf(const std::vector<QByteArray>& values, const std::vector<bool>& isNull, LogRecord& record)
{
    record.host = values[0];
    record.id = values[1].toLongLong();
    record.datetime = values[2];
    record.storedType = isNull[3] ? LogRecord::StoredType::Null : LogRecord::StoredType::Int;
    record.type = isNull[3] ? 0 : values[3].toInt();
    record.typeText.clear();
    record.message = values[4];
}

} // namespace

PgSource::PgSource(const QString& url, const QStringList& hosts)
    : m_url(url)
    , m_hosts(hosts)
{
}

PgSource::~PgSource() = default;

bool PgSource::acceptsUrl(const QString& url, QString& error)
{
    // Before libpq, whose own complaints may quote any part of the address.
    if (Locations::holdsPassword(url)) {
        error = Locations::passwordRefusedText();
        return false;
    }
    char* parseError = nullptr;
    PQconninfoOption* options = PQconninfoParse(url.toUtf8().constData(), &parseError);
    if (!options) {
        error = QStringLiteral("无法识别的数据库地址“%1”：%2").arg(Locations::withoutPassword(url), QString::fromUtf8(parseError).trimmed());
        PQfreemem(parseError);
        return false;
    }
    bool hasPassword = false;
    for (PQconninfoOption* option = options; option->keyword; ++option) {
        if (qstrcmp(option->keyword, "password") == 0 && option->val && *option->val)
            hasPassword = true;
    }
    PQconninfoFree(options);
    if (hasPassword) {
        error = Locations::passwordRefusedText();
        return false;
    }
    return true;
}

// The URL as an operator may see it: no password can be in it (acceptsUrl).
bool PgSource::failed()
{
    addProblem(QStringLiteral("无法读取中央日志数据库 %1：%2").arg(m_url, m_connection->reason()));
    return false;
}

bool PgSource::open()
{
    m_connection = std::make_unique<PgConnection>();
    if (!m_connection->connect(m_url))
        return failed();
    PgStatement probe;
    probe.sql = QByteArray("SELECT ") + kColumns + " FROM fleet_log LIMIT 0";
    if (m_connection->stream(probe.sql, probe.parameters,
                             [](const std::vector<QByteArray>&, const std::vector<bool>&) { return true; }, m_stopCheck))
        return true;
    const QString state = m_connection->sqlState();
    if (state != QLatin1String("42P01") && state != QLatin1String("42703"))
        return failed();
    addProblem(QStringLiteral("无法读取中央日志数据库 %1：数据库中没有可用的 fleet_log 表（用 docs/fleet_log.sql 创建）").arg(m_url));
    return false;
}

void PgSource::setStopCheck(const std::function<bool()>& stopRequested)
{
    m_stopCheck = stopRequested;
}

bool PgSource::stream(const PgStatement& query, const std::function<bool(const std::vector<QByteArray>&, const std::vector<bool>&)>& row)
{
    if (!m_connection)
        return false;
    return m_connection->stream(query.sql, query.parameters, row, m_stopCheck) || failed();
}

void PgSource::where(const RecordFilter& filter, PgStatement& query, bool withHosts) const
{
    QList<QByteArray> clauses;
    // One host as an equality, so that the planner walks that host's index in time order.
    if (withHosts && m_hosts.size() == 1) {
        clauses << "host = " + query.add(m_hosts.first().toUtf8());
    } else if (withHosts && !m_hosts.isEmpty()) {
        QList<QByteArray> hosts;
        for (const QString& host : m_hosts)
            hosts << host.toUtf8();
        clauses << "host = ANY(" + query.add(pgTextArray(hosts)) + "::text[])";
    }
    if (filter.types.size() == 1) {
        clauses << "type = " + query.add(QByteArray::number(filter.types.first())) + "::int";
    } else if (filter.types.size() > 1) {
        QList<qint64> types;
        for (int type : filter.types)
            types << type;
        clauses << "type = ANY(" + query.add(pgNumberArray(types)) + "::int[])";
    }
    if (!filter.since.isEmpty())
        clauses << "datetime >= " + query.add(filter.since.toUtf8());
    if (!filter.until.isEmpty())
        clauses << "datetime <= " + query.add(filter.until.toUtf8());
    if (filter.afterId > 0)
        clauses << "id > " + query.add(QByteArray::number(filter.afterId)) + "::bigint";
    if (filter.upToId > 0)
        clauses << "id <= " + query.add(QByteArray::number(filter.upToId)) + "::bigint";
    if (!clauses.isEmpty())
        query.sql += " WHERE " + clauses.join(" AND ");
}

namespace {

QByteArray orderBy(const RecordFilter& filter, bool descending)
{
    const QByteArray direction = descending ? " DESC" : "";
    const QByteArray first = filter.order == RecordFilter::Order::Arrival ? "received" : "datetime";
    return " ORDER BY " + first + direction + ", host" + direction + ", id" + direction;
}

} // namespace

bool PgSource::read(const RecordFilter& filter, const LogReader::RecordSink& sink)
{
    std::unique_ptr<MessageMatcher> matcher;
    if (!filter.grep.isEmpty()) {
        matcher = std::make_unique<MessageMatcher>(filter.grep, filter.ignoreCase);
        if (!matcher->isValid()) {
            addProblem(QStringLiteral("无效的正则表达式：%1").arg(matcher->errorString()));
            return false;
        }
        if (filter.last > 0 && !filter.reverse)
            return readLastWithGrep(filter, sink);
    }
    PgStatement query;
    query.sql = QByteArray("SELECT ") + kColumns + " FROM fleet_log";
    where(filter, query);
    const bool serverLast = filter.last > 0 && !matcher;
    if (serverLast && !filter.reverse) {
        query.sql += orderBy(filter, true) + " LIMIT " + QByteArray::number(filter.last);
        query.sql = QByteArray("SELECT * FROM (") + query.sql + ") AS newest" + orderBy(filter, false);
    } else {
        query.sql += orderBy(filter, filter.reverse);
        if (serverLast)
            query.sql += " LIMIT " + QByteArray::number(filter.last);
    }
    LogRecord record;
    int delivered = 0;
    return stream(query, [&](const std::vector<QByteArray>& values, const std::vector<bool>& isNull) {
        if (matcher && !matcher->matches(values[4].constData(), values[4].size()))
            return true;
        recordOf(values, isNull, record);
        if (!sink(record))
            return false;
        return !(matcher && filter.last > 0 && ++delivered >= filter.last);
    });
}

// The last N matches of a pattern: where they begin is found newest first,
// then they are read in order from there.
bool PgSource::readLastWithGrep(const RecordFilter& filter, const LogReader::RecordSink& sink)
{
    RecordFilter newestFirst = filter;
    newestFirst.reverse = true;
    LogRecord start;
    int seen = 0;
    if (!read(newestFirst, [&](const LogRecord& record) {
            // The row's bytes live only as long as the call.
            start.datetime = QByteArray(record.datetime.constData(), record.datetime.size());
            start.host = QByteArray(record.host.constData(), record.host.size());
            start.id = record.id;
            ++seen;
            return true;
        }))
        return false;
    RecordFilter fromStart = filter;
    fromStart.last = 0;
    if (seen < filter.last)
        return read(fromStart, sink);
    MessageMatcher matcher(filter.grep, filter.ignoreCase);
    PgStatement query;
    query.sql = QByteArray("SELECT ") + kColumns + " FROM fleet_log";
    where(fromStart, query);
    const QByteArray time = query.add(start.datetime);
    const QByteArray host = query.add(start.host);
    const QByteArray id = query.add(QByteArray::number(start.id));
    query.sql += (query.sql.contains(" WHERE ") ? " AND " : " WHERE ") + QByteArray("(datetime, host, id) >= (") + time + ", "
                 + host + ", " + id + "::bigint)" + orderBy(filter, false);
    LogRecord record;
    return stream(query, [&](const std::vector<QByteArray>& values, const std::vector<bool>& isNull) {
        if (!matcher.matches(values[4].constData(), values[4].size()))
            return true;
        recordOf(values, isNull, record);
        return sink(record);
    });
}

bool PgSource::count(const RecordFilter& filter, qint64& result)
{
    result = 0;
    PgStatement query;
    if (filter.grep.isEmpty()) {
        query.sql = "SELECT count(*) FROM fleet_log";
        where(filter, query);
        return stream(query, [&](const std::vector<QByteArray>& values, const std::vector<bool>&) {
            result = values[0].toLongLong();
            return true;
        });
    }
    RecordFilter all = filter;
    all.last = 0;
    return read(all, [&result](const LogRecord&) {
        ++result;
        return true;
    });
}

bool PgSource::countPerDayAndType(const RecordFilter& filter, const LogReader::DayTypeSink& sink)
{
    RecordFilter bounds = filter;
    bounds.afterId = bounds.upToId = 0;
    PgStatement query;
    query.sql = "SELECT substr(datetime, 1, 10), type, count(*) FROM fleet_log";
    where(bounds, query);
    query.sql += " GROUP BY 1, 2 ORDER BY 1, 2 NULLS FIRST";
    return stream(query, [&](const std::vector<QByteArray>& values, const std::vector<bool>& isNull) {
        sink({QString::fromUtf8(values[0]), isNull[1] ? 0 : values[1].toLongLong(), values[2].toLongLong(), !isNull[1]});
        return true;
    });
}

bool PgSource::span(const RecordFilter& filter, LogReader::Span& result)
{
    result = LogReader::Span();
    RecordFilter bounds = filter;
    bounds.afterId = bounds.upToId = 0;
    PgStatement query;
    query.sql = "SELECT count(*), min(datetime), max(datetime) FROM fleet_log";
    where(bounds, query);
    return stream(query, [&](const std::vector<QByteArray>& values, const std::vector<bool>&) {
        result.total = values[0].toLongLong();
        result.oldest = QString::fromUtf8(values[1]);
        result.newest = QString::fromUtf8(values[2]);
        return true;
    });
}

bool PgSource::newestIds(Positions& result)
{
    result.clear();
    // A skip scan over the primary key: one index probe per machine,
    // however many rows each has.
    PgStatement query;
    query.sql = "WITH RECURSIVE machines AS ("
                " SELECT min(host) AS host FROM fleet_log"
                " UNION ALL SELECT (SELECT min(f.host) FROM fleet_log f WHERE f.host > m.host) FROM machines m"
                " WHERE m.host IS NOT NULL)"
                " SELECT m.host, (SELECT max(f.id) FROM fleet_log f WHERE f.host = m.host) FROM machines m"
                " WHERE m.host IS NOT NULL";
    return stream(query, [&](const std::vector<QByteArray>& values, const std::vector<bool>&) {
        if (m_hosts.isEmpty() || m_hosts.contains(QString::fromUtf8(values[0])))
            result.insert(QByteArray(values[0].constData(), values[0].size()), values[1].toLongLong());
        return true;
    });
}

bool PgSource::readAfter(const RecordFilter& filter, Positions& after, int limit, const LogReader::RecordSink& sink)
{
    Positions machines;
    if (!newestIds(machines))
        return false;
    QList<QByteArray> hosts;
    QList<qint64> ids;
    for (auto it = machines.cbegin(); it != machines.cend(); ++it) {
        hosts << it.key();
        ids << after.value(it.key(), 0);
    }
    if (hosts.isEmpty())
        return true;
    std::unique_ptr<MessageMatcher> matcher;
    if (!filter.grep.isEmpty())
        matcher = std::make_unique<MessageMatcher>(filter.grep, filter.ignoreCase);
    RecordFilter bounds = filter;
    bounds.afterId = bounds.upToId = 0;
    PgStatement query;
    const QByteArray hostList = query.add(pgTextArray(hosts));
    const QByteArray idList = query.add(pgNumberArray(ids));
    const QByteArray perMachine = QByteArray::number(limit);
    // Each machine's new rows through the primary key, then in arrival order.
    PgStatement inner = query;
    inner.sql = QByteArray("SELECT ") + kColumns + ", received FROM fleet_log f";
    where(bounds, inner, false);
    inner.sql += (inner.sql.contains(" WHERE ") ? " AND " : " WHERE ") + QByteArray("f.host = a.host AND f.id > a.after");
    query.parameters = inner.parameters;
    query.sql = "SELECT n.host, n.id, n.datetime, n.type, n.message FROM unnest(" + hostList + "::text[], " + idList
                + "::bigint[]) AS a(host, after) CROSS JOIN LATERAL (" + inner.sql + " ORDER BY f.id LIMIT " + perMachine
                + ") AS n ORDER BY n.received, n.host, n.id LIMIT " + perMachine;
    LogRecord record;
    return stream(query, [&](const std::vector<QByteArray>& values, const std::vector<bool>& isNull) {
        after[QByteArray(values[0].constData(), values[0].size())] = values[1].toLongLong();
        if (matcher && !matcher->matches(values[4].constData(), values[4].size()))
            return true;
        recordOf(values, isNull, record);
        return sink(record);
    });
}

class PgSource::Tail : public SourceTail
{
public:
    Tail(PgSource& source, const RecordFilter& filter, NoticeSink notices)
        : m_source(source)
        , m_filter(filter)
        , m_notices(std::move(notices))
    {
        m_filter.last = 0;
        m_filter.reverse = false;
    }

    bool start(int lastCount, const LogReader::RecordSink& sink) override
    {
        if (!m_source.newestIds(m_positions))
            return false;
        if (lastCount <= 0)
            return true;
        RecordFilter last = m_filter;
        last.last = lastCount;
        return m_source.read(last, [&](const LogRecord& record) {
            // Stored after the positions were taken: fetch() hands it over.
            return record.id > m_positions.value(record.host, 0) || sink(record);
        });
    }

    int fetch(int maxRecords, const LogReader::RecordSink& sink) override
    {
        int delivered = 0;
        const bool ok = m_source.readAfter(m_filter, m_positions, maxRecords, [&](const LogRecord& record) {
            ++delivered;
            return sink(record);
        });
        if (ok) {
            m_failing = false;
        } else if (!m_failing) {
            m_failing = true;
            const QString reason = m_source.problems().value(m_source.problems().size() - 1);
            if (m_notices)
                m_notices(QStringLiteral("%1；稍后重试").arg(reason));
        }
        if (!ok)
            m_source.reconnect();
        return delivered;
    }

    void setStopCheck(const std::function<bool()>& stopRequested) override { m_source.setStopCheck(stopRequested); }

private:
    PgSource& m_source;
    RecordFilter m_filter;
    NoticeSink m_notices;
    Positions m_positions;
    bool m_failing = false;
};

std::unique_ptr<SourceTail> PgSource::tail(const RecordFilter& filter, SourceTail::NoticeSink notices)
{
    return std::make_unique<Tail>(*this, filter, std::move(notices));
}

void PgSource::reconnect()
{
    m_connection->connect(m_url);
}

} // namespace SystemLog
