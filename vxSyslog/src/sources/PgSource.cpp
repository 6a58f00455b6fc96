#include "sources/PgSource.h"

#include <algorithm>
#include <limits>

#include <libpq-fe.h>

#include <vxSyslog/ListingBlock.h>
#include <vxSyslog/RecordFormat.h>
#include <vxSyslog/RecordTypes.h>

#include "format/Utf8.h"
#include "read/MessageMatcher.h"
#include "sources/LocationSecrets.h"
#include "sources/PgConnection.h"
#include "sources/PgTextSearch.h"

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

// One row of fleet_log as the COPY stream hands it over (valid during the call).
struct PgSource::Row
{
    int place = 0;
    qint64 id = 0;
    QByteArray datetime;
    bool typeIsNull = true;
    int type = 0;
    QByteArray message;

    bool isGap() const { return !typeIsNull && type == kGapRecordType && isGapMessage(message.constData(), message.size()); }
    int typeCode() const { return !typeIsNull && type >= 0 && type < kRecordTypeCount ? type : ListedKey::kOtherType; }
    QString typeName() const { return typeIsNull ? unknownRecordTypeName() : recordTypeName(type); }
};

PgSource::PgSource(const QString& url, const QStringList& hosts)
    : m_url(url)
    , m_asked(hosts)
    , m_connection(std::make_unique<PgConnection>())
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

void PgSource::setBusyTimeout(int milliseconds)
{
    m_waitLimitMs = milliseconds;
    m_connection->setWaitLimit(milliseconds);
}

void PgSource::setStopCheck(const std::function<bool()>& stopRequested)
{
    m_stopCheck = stopRequested;
}

bool PgSource::stopRequested() const
{
    return m_interrupted.load() || (m_stopCheck && m_stopCheck());
}

// The URL as an operator may see it: it holds no password (acceptsUrl).
bool PgSource::failFromConnection()
{
    if (m_interrupted.load())
        return fail(FailureKind::Interrupted, describeFailure(FailureKind::Interrupted, QString()));
    const QString reason = QStringLiteral("无法读取中央日志数据库 %1：%2").arg(m_url, m_connection->reason());
    return fail(m_connection->lost() ? FailureKind::CannotOpen : FailureKind::Other, reason);
}

// A listing whose connection failed or was never made answers nothing,
// not even for no machines.
bool PgSource::usable()
{
    if (m_interrupted.load())
        return fail(FailureKind::Interrupted, describeFailure(FailureKind::Interrupted, QString()));
    if (!m_connection->connected())
        return failFromConnection();
    return true;
}

bool PgSource::run(const PgStatement& statement, const OnRow& onRow)
{
    if (!usable())
        return false;
    const bool ok = m_connection->stream(statement.sql, statement.parameters, onRow, [this] { return stopRequested(); });
    // A stop the interrupt asked for reads as a success to the connection.
    return ok && !m_interrupted.load() ? true : failFromConnection();
}

// The URL as an operator may see it: no password can be in it (acceptsUrl).
bool PgSource::recordsFailed()
{
    return failWithProblem(m_connection->lost() ? FailureKind::CannotOpen : FailureKind::Other,
                           QStringLiteral("无法读取中央日志数据库 %1：%2").arg(m_url, m_connection->reason()));
}

bool PgSource::rowsOnce(const PgStatement& query, const StatementRows& row, QString& sqlState)
{
    if (run(query, row))
        return true;
    sqlState = m_connection->sqlState();
    return false;
}

bool PgSource::rowsAside(const std::vector<AsideStatement>& statements, const std::function<bool()>& alsoStop,
                         AsideFailure& failure) const
{
    PgConnection aside;
    aside.setWaitLimit(m_waitLimitMs);
    const auto stop = [&] { return stopRequested() || (alsoStop && alsoStop()); };
    const OnRow dropped = [](const Values&, const Nulls&) { return true; };
    bool ok = aside.connect(m_url, stop);
    failure.connecting = !ok;
    for (size_t i = 0; ok && i < statements.size(); ++i) {
        const AsideStatement& one = statements[i];
        ok = aside.stream(one.statement.sql, one.statement.parameters, one.rows ? one.rows : dropped, stop);
    }
    // A stop reads as a success, as it does to the connection; the stopped
    // caller knows it stopped. An interrupt fails, as it fails this source.
    if ((ok || stop()) && !m_interrupted.load())
        return true;
    failure.sqlState = aside.sqlState();
    failure.error = m_interrupted.load() ? describeFailure(FailureKind::Interrupted, QString())
                                         : QStringLiteral("无法读取中央日志数据库 %1：%2").arg(m_url, aside.reason());
    return false;
}

// An interrupt fails the read, and every later one, as the interrupt it
// is: to the connection its stop reads as a success (or as the connection
// it closed).
bool PgSource::stream(const PgStatement& statement, const OnRow& onRow)
{
    const bool ok = !m_interrupted.load() && m_connection->connected()
                    && m_connection->stream(statement.sql, statement.parameters, onRow, [this] { return stopRequested(); });
    if (m_interrupted.load())
        return fail(FailureKind::Interrupted, describeFailure(FailureKind::Interrupted, QString()));
    return ok || recordsFailed();
}

bool PgSource::open()
{
    clearProblems();
    m_machines.clear();
    m_hosts.clear();
    m_places.clear();
    QString refused;
    if (!PgSource::acceptsUrl(m_url, refused))
        return failWithProblem(FailureKind::Other, refused);
    if (!m_connection->connect(m_url, [this] { return stopRequested(); })) {
        if (stopRequested())
            return usable();
        return failWithProblem(FailureKind::CannotOpen,
                               QStringLiteral("无法读取中央日志数据库 %1：%2").arg(m_url, m_connection->reason()));
    }
    PgStatement probe;
    probe.sql = QByteArray("SELECT ") + kColumns + " FROM fleet_log LIMIT 0";
    if (!run(probe, [](const Values&, const Nulls&) { return true; })) {
        const QString state = m_connection->sqlState();
        if (failureKind() == FailureKind::Other && (state == QLatin1String("42P01") || state == QLatin1String("42703")))
            fail(FailureKind::NotALogDatabase,
                 QStringLiteral("无法读取中央日志数据库 %1：数据库中没有可用的 fleet_log 表（用 docs/fleet_log.sql 创建）").arg(m_url));
        if (failureKind() != FailureKind::Interrupted)
            failWithProblem(failureKind(), errorText());
        return false;
    }
    m_textIndexed = PgTextSearch::hasIndex(*m_connection, [this] { return stopRequested(); });
    QList<QByteArray> hosts;
    if (m_asked.isEmpty()) {
        if (!findAllHosts(hosts))
            return false;
    } else {
        for (const QString& host : m_asked)
            hosts << host.toUtf8();
    }
    std::sort(hosts.begin(), hosts.end());
    hosts.erase(std::unique(hosts.begin(), hosts.end()), hosts.end());
    m_hosts = hosts;
    for (const QByteArray& host : hosts) {
        m_places.insert(host, m_machines.size());
        m_machines << QString::fromUtf8(host);
    }
    return true;
}

// A skip scan over the primary key: one index probe per machine, however
// many rows each has.
bool PgSource::findAllHosts(QList<QByteArray>& hosts)
{
    PgStatement statement;
    statement.sql = "WITH RECURSIVE machines AS ("
                    " SELECT min(host) AS host FROM fleet_log"
                    " UNION ALL SELECT (SELECT min(f.host) FROM fleet_log f WHERE f.host > m.host) FROM machines m"
                    " WHERE m.host IS NOT NULL)"
                    " SELECT host FROM machines WHERE host IS NOT NULL";
    return run(statement, [&](const Values& values, const Nulls&) {
        hosts << QByteArray(values[0].constData(), values[0].size());
        return true;
    });
}

bool PgSource::newestIds(QVector<qint64>& ids)
{
    ids.fill(0, m_hosts.size());
    if (m_hosts.isEmpty())
        return usable();
    PgStatement statement;
    statement.sql = "SELECT a.n - 1, (SELECT max(f.id) FROM fleet_log f WHERE f.host = a.host) FROM unnest("
                    + statement.add(pgTextArray(m_hosts)) + "::text[]) WITH ORDINALITY AS a(host, n)";
    return run(statement, [&](const Values& values, const Nulls& isNull) {
        if (!isNull[1])
            ids[values[0].toInt()] = values[1].toLongLong();
        return true;
    });
}

bool PgSource::prepareMatcher(const LogQuery& query)
{
    if (query.grep.isEmpty() || query.onlyGaps) {
        m_matcher.reset();
        return true;
    }
    if (!m_matcher || !m_matcher->isFor(query))
        m_matcher = std::make_unique<MessageMatcher>(query);
    return m_matcher->isValid() || fail(FailureKind::InvalidPattern, m_matcher->errorString());
}

// ---- Whole records

void PgSource::where(const LogQuery& filter, PgStatement& query, bool withHosts, bool withPattern) const
{
    QList<QByteArray> clauses;
    // One host as an equality, so that the planner walks that host's index in time order.
    if (withHosts && m_asked.size() == 1) {
        clauses << "host = " + query.add(m_asked.first().toUtf8());
    } else if (withHosts && !m_asked.isEmpty()) {
        QList<QByteArray> hosts;
        for (const QString& host : m_asked)
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
    if (withPattern && m_textIndexed && !filter.grep.isEmpty()) {
        const QByteArray search = PgTextSearch::condition(filter, false, query);
        if (!search.isEmpty())
            clauses << search;
    }
    if (!clauses.isEmpty())
        query.sql += " WHERE " + clauses.join(" AND ");
}

namespace {

QByteArray orderBy(const LogQuery& filter, bool descending)
{
    const QByteArray direction = descending ? " DESC" : "";
    const QByteArray first = filter.order == LogQuery::Order::Arrival ? "received" : "datetime";
    return " ORDER BY " + first + direction + ", host" + direction + ", id" + direction;
}

} // namespace

bool PgSource::read(const LogQuery& filter, const RecordSink& sink)
{
    std::unique_ptr<MessageMatcher> matcher;
    if (!filter.grep.isEmpty()) {
        matcher = std::make_unique<MessageMatcher>(filter);
        if (!matcher->isValid())
            return failWithProblem(FailureKind::InvalidPattern, matcher->errorString());
        if (filter.last > 0 && !filter.newestFirst)
            return readLastWithGrep(filter, sink);
    }
    PgStatement query;
    query.sql = QByteArray("SELECT ") + kColumns + " FROM fleet_log";
    where(filter, query, true, true);
    const bool serverLast = filter.last > 0 && !matcher;
    if (serverLast && !filter.newestFirst) {
        query.sql += orderBy(filter, true) + " LIMIT " + QByteArray::number(filter.last);
        query.sql = QByteArray("SELECT * FROM (") + query.sql + ") AS newest" + orderBy(filter, false);
    } else {
        query.sql += orderBy(filter, filter.newestFirst);
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
bool PgSource::readLastWithGrep(const LogQuery& filter, const RecordSink& sink)
{
    LogQuery newestFirst = filter;
    newestFirst.newestFirst = true;
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
    LogQuery fromStart = filter;
    fromStart.last = 0;
    if (seen < filter.last)
        return read(fromStart, sink);
    MessageMatcher matcher(filter);
    PgStatement query;
    query.sql = QByteArray("SELECT ") + kColumns + " FROM fleet_log";
    where(fromStart, query, true, true);
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

bool PgSource::count(const LogQuery& filter, qint64& result)
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
    LogQuery all = filter;
    all.last = 0;
    return read(all, [&result](const LogRecord&) {
        ++result;
        return true;
    });
}

bool PgSource::countPerDayAndType(const LogQuery& filter, const DayTypeSink& sink)
{
    LogQuery bounds = filter;
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

bool PgSource::span(const LogQuery& filter, Span& result)
{
    result = Span();
    LogQuery bounds = filter;
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

bool PgSource::newestByHost(Positions& result)
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
        if (m_asked.isEmpty() || m_asked.contains(QString::fromUtf8(values[0])))
            result.insert(QByteArray(values[0].constData(), values[0].size()), values[1].toLongLong());
        return true;
    });
}

bool PgSource::readAfter(const LogQuery& filter, Positions& after, int limit, const RecordSink& sink)
{
    Positions machines;
    if (!newestByHost(machines))
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
        matcher = std::make_unique<MessageMatcher>(filter);
    LogQuery bounds = filter;
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

// ---- A listing

namespace {

// "id <= bound" per machine, by place; a negative bound is none (a bound of
// 0 is a machine that had no records when the answer was fixed).
QByteArray upToCondition(const QVector<qint64>& bounds, const QList<QByteArray>& hosts,
                          const std::function<QByteArray(const QByteArray&)>& add)
{
    QByteArray cases;
    QList<qint64> used;
    for (int place = 0; place < hosts.size() && place < bounds.size(); ++place) {
        if (bounds.at(place) < 0)
            continue;
        cases += " WHEN " + add(hosts.at(place)) + " THEN " + add(QByteArray::number(bounds.at(place))) + "::bigint";
        used << bounds.at(place);
    }
    if (used.isEmpty())
        return QByteArray();
    const bool alike = used.size() == hosts.size() && std::count(used.cbegin(), used.cend(), used.first()) == used.size();
    if (alike)
        return "id <= " + add(QByteArray::number(used.first())) + "::bigint";
    // A machine without a bound compares with NULL, which keeps its rows.
    return "coalesce(id <= CASE host" + cases + " END, true)";
}

QVector<qint64> perMachine(const QVector<qint64>& given, qint64 forAll, int machines)
{
    if (!given.isEmpty())
        return given;
    return QVector<qint64>(machines, forAll);
}

} // namespace

QByteArray PgSource::rowsOf(const LogQuery& query, PgStatement& statement) const
{
    const auto add = [&statement](const QByteArray& value) { return statement.add(value); };
    QList<QByteArray> clauses;
    clauses << "datetime >= " + add(query.since.toUtf8()) << "datetime <= " + add(query.until.toUtf8());
    const QByteArray upTo =
        upToCondition(perMachine(query.upToIds, query.upToId > 0 ? query.upToId : -1, m_hosts.size()), m_hosts, add);
    if (!upTo.isEmpty())
        clauses << upTo;
    QByteArray gap = "type = " + QByteArray::number(kGapRecordType) + " AND (";
    for (int i = 0; i < kGapMessagePrefixCount; ++i)
        gap += QByteArray(i ? " OR " : "") + "starts_with(message, " + add(gapMessagePrefix(i)) + ")";
    gap += ")";
    QByteArray types;
    if (query.types.size() == 1)
        types = "type = " + add(QByteArray::number(query.types.first())) + "::int";
    else if (!query.types.isEmpty())
        types = "type = ANY(" + add(pgNumberArray(query.types)) + "::int[])";
    if (query.onlyGaps)
        clauses << gap;
    else if (query.withGaps && !types.isEmpty())
        clauses << "(" + types + " OR (" + gap + "))";
    else if (!types.isEmpty())
        clauses << types;
    // The pattern, where the index of character pairs can narrow it down.
    if (m_textIndexed && !query.onlyGaps && !query.grep.isEmpty()) {
        const QByteArray search = PgTextSearch::condition(query, query.withGaps, statement);
        if (!search.isEmpty())
            clauses << search;
    }

    // The rows after per-machine ids (a live view's new records) are few:
    // each machine's are found by its own index probe, not by passing over
    // the whole period.
    const QVector<qint64> after = perMachine(query.afterIds, query.afterId, m_hosts.size());
    QList<qint64> since;
    for (int place = 0; place < m_hosts.size(); ++place)
        since << (after.value(place) > 0 ? after.value(place) : std::numeric_limits<qint64>::min());
    const QByteArray rows = QByteArray("SELECT ") + kColumns + " FROM fleet_log WHERE " + clauses.join(" AND ");
    if (std::none_of(after.cbegin(), after.cend(), [](qint64 id) { return id > 0; }))
        return "(" + rows + " AND "
               + (m_hosts.size() == 1 ? "host = " + add(m_hosts.first()) : "host = ANY(" + add(pgTextArray(m_hosts)) + "::text[])")
               + ")";
    // OFFSET 0 keeps the planner from turning the per-machine probes into
    // one join over the period.
    return "(SELECT r.* FROM unnest(" + add(pgTextArray(m_hosts)) + "::text[], " + add(pgNumberArray(since))
           + "::bigint[]) AS m(machine, since_id) CROSS JOIN LATERAL (" + rows
           + " AND host = m.machine AND id > m.since_id OFFSET 0) AS r)";
}

int PgSource::placeOf(const QByteArray& host) const
{
    return m_hosts.size() == 1 ? 0 : m_places.value(host, 0);
}

// Drop records of the period are listed whatever the pattern (LogQuery).
bool PgSource::listed(const LogQuery& query, const Row& row) const
{
    return !m_matcher || m_matcher->matches(row.message.constData(), row.message.size()) || (query.withGaps && row.isGap());
}

bool PgSource::readRows(const LogQuery& query, const std::function<bool(const Row&)>& onRow)
{
    if (!usable() || !prepareMatcher(query))
        return false;
    if (m_hosts.isEmpty())
        return true;
    PgStatement statement;
    statement.sql = QByteArray("SELECT ") + kColumns + " FROM " + rowsOf(query, statement) + " AS listed";
    statement.sql += query.newestFirst ? " ORDER BY datetime DESC, host DESC, id DESC" : " ORDER BY datetime, host, id";
    Row row;
    return run(statement, [&](const Values& values, const Nulls& isNull) {
        row.place = placeOf(values[0]);
        row.id = values[1].toLongLong();
        row.datetime = values[2];
        row.typeIsNull = isNull[3];
        row.type = isNull[3] ? 0 : values[3].toInt();
        row.message = values[4];
        return !listed(query, row) || onRow(row);
    });
}

QString PgSource::blockOf(const LogQuery& query, const Row& row, bool gapsMarked) const
{
    return listingBlock(decodeUtf8(row.datetime.constData(), row.datetime.size()), query.namesTypes(),
                        query.namesTypes() ? row.typeName() : QString(),
                        decodeUtf8(row.message.constData(), row.message.size()), gapsMarked && row.isGap(),
                        namesMachines() ? m_machines.value(row.place) : QString());
}

bool PgSource::readKeys(const LogQuery& query, const KeySink& sink)
{
    // The texts a block adds to its time stamp and message, per machine and type.
    QVector<int> machineLengths;
    for (const QString& machine : m_machines)
        machineLengths << (namesMachines() ? machine.size() + 1 : 0);
    QVector<int> typeLengths;
    for (int type = 0; type < kRecordTypeCount; ++type)
        typeLengths << recordTypeName(type).size() + 3;
    const bool gapsMarked = query.withGaps || query.onlyGaps;
    ListedKey key;
    return readRows(query, [&](const Row& row) {
        key.id = row.id;
        key.machine = row.place;
        key.type = row.typeCode();
        key.gap = gapsMarked && row.isGap();
        key.datetime = row.datetime.constData();
        key.datetimeLength = row.datetime.size();
        const int names = !query.namesTypes() ? 0
                          : key.type != ListedKey::kOtherType ? typeLengths.at(key.type)
                                                              : row.typeName().size() + 3;
        // Counted as the block's text is decoded: a database of encoding
        // SQL_ASCII hands over whatever bytes were stored.
        const int message = key.gap ? gapText(decodeUtf8(row.message.constData(), row.message.size())).size()
                                    : utf16LengthOfUtf8(row.message.constData(), row.message.size());
        key.blockLength = utf16LengthOfUtf8(row.datetime.constData(), row.datetime.size())
                          + machineLengths.value(row.place) + names + 2 + message;
        return sink(key);
    });
}

// As LogReader's blocks: a drop record reads as one where the query
// lists the period's drop records (withGaps).
bool PgSource::readBlocks(const LogQuery& query, const BlockSink& sink)
{
    return readRows(query, [&](const Row& row) { return sink(blockOf(query, row, query.withGaps || query.onlyGaps)); });
}

bool PgSource::countListed(const LogQuery& query, qint64& result)
{
    result = 0;
    QVector<qint64> counts;
    if (!countBetween(query, QStringList(), counts))
        return false;
    result = counts.value(0);
    return true;
}

bool PgSource::countBetween(const LogQuery& query, const QStringList& bounds, QVector<qint64>& counts)
{
    QList<QByteArray> limits;
    for (const QString& bound : bounds)
        limits << bound.toUtf8();
    counts.fill(0, limits.size() + 1);
    if (!usable() || !prepareMatcher(query))
        return false;
    if (m_hosts.isEmpty())
        return true;
    PgStatement statement;
    if (m_matcher) {
        // The pattern is matched here: the period's rows are counted as they come.
        statement.sql = QByteArray("SELECT ") + kColumns + " FROM " + rowsOf(query, statement) + " AS listed";
        Row row;
        return run(statement, [&](const Values& values, const Nulls& isNull) {
            row.typeIsNull = isNull[3];
            row.type = isNull[3] ? 0 : values[3].toInt();
            row.message = values[4];
            if (listed(query, row))
                ++counts[int(std::upper_bound(limits.cbegin(), limits.cend(), values[2]) - limits.cbegin())];
            return true;
        });
    }
    // Interval i holds the times from bounds[i-1] on: width_bucket's numbering.
    const QByteArray interval = limits.isEmpty() ? QByteArray("0")
                                                 : "width_bucket(datetime COLLATE \"C\", "
                                                       + statement.add(pgTextArray(limits)) + "::text[])";
    statement.sql = "SELECT " + interval + ", count(*) FROM " + rowsOf(query, statement) + " AS listed GROUP BY 1";
    return run(statement, [&](const Values& values, const Nulls&) {
        counts[values[0].toInt()] = values[1].toLongLong();
        return true;
    });
}

bool PgSource::fetchRows(const int* machines, const qint64* ids, int count, const OnFetchedRow& onRow)
{
    if (!usable())
        return false;
    QList<QByteArray> hosts;
    QList<qint64> wanted;
    QVector<int> indexes;
    for (int i = 0; i < count; ++i) {
        const int place = machines ? machines[i] : 0;
        if (place < 0 || place >= m_hosts.size())
            continue;
        hosts << m_hosts.at(place);
        wanted << ids[i];
        indexes << i;
    }
    if (hosts.isEmpty())
        return true;
    // One round trip for the whole batch.
    PgStatement statement;
    statement.sql = "SELECT f.host, f.id, f.datetime, f.type, f.message, a.n - 1 FROM unnest("
                    + statement.add(pgTextArray(hosts)) + "::text[], " + statement.add(pgNumberArray(wanted))
                    + "::bigint[]) WITH ORDINALITY AS a(host, id, n) JOIN fleet_log f ON f.host = a.host AND f.id = a.id";
    return run(statement, [&](const Values& values, const Nulls& isNull) {
        onRow(indexes.at(values[5].toInt()), values, isNull);
        return true;
    });
}

bool PgSource::fetch(const LogQuery& query, const int* machines, const qint64* ids, int count, const FetchSink& sink)
{
    Row row;
    return fetchRows(machines, ids, count, [&](int index, const Values& values, const Nulls& isNull) {
        row.place = placeOf(values[0]);
        row.datetime = values[2];
        row.typeIsNull = isNull[3];
        row.type = isNull[3] ? 0 : values[3].toInt();
        row.message = values[4];
        sink(index, blockOf(query, row, query.withGaps || query.onlyGaps));
    });
}

bool PgSource::fetchRecords(const int* machines, const qint64* ids, int count, const FetchRecordSink& sink)
{
    LogRecord record;
    return fetchRows(machines, ids, count, [&](int index, const Values& values, const Nulls& isNull) {
        record.host = values[0];
        record.id = values[1].toLongLong();
        record.datetime = values[2];
        record.storedType = isNull[3] ? LogRecord::StoredType::Null : LogRecord::StoredType::Int;
        record.type = isNull[3] ? 0 : values[3].toInt();
        record.message = values[4];
        sink(index, record);
    });
}

void PgSource::interrupt()
{
    m_interrupted.store(true);
    m_connection->cancel();
}

// ---- Following

// Each machine's new records by its ids, which its forwarder sends in order.
class PgSource::Tail : public SourceTail
{
public:
    Tail(PgSource& source, const LogQuery& query, NoticeSink notices)
        : m_source(source)
        , m_query(query)
        , m_notices(std::move(notices))
    {
        m_query.last = 0;
        m_query.newestFirst = false;
    }

    bool start(int lastCount, const LogReader::RecordSink& sink) override
    {
        if (!m_source.newestByHost(m_positions))
            return false;
        if (lastCount <= 0)
            return true;
        LogQuery last = m_query;
        last.last = lastCount;
        return m_source.read(last, [&](const LogRecord& record) {
            // Stored after the positions were taken: fetch() hands it over.
            return record.id > m_positions.value(record.host, 0) || sink(labelled(record));
        });
    }

    bool startAfter(const QVector<qint64>& ids) override
    {
        m_positions.clear();
        for (int place = 0; place < m_source.m_hosts.size(); ++place)
            m_positions.insert(m_source.m_hosts.at(place), ids.value(place));
        return true;
    }

    int fetch(int maxRecords, const LogReader::RecordSink& sink) override
    {
        int delivered = 0;
        const bool ok = m_source.readAfter(m_query, m_positions, maxRecords, [&](const LogRecord& record) {
            ++delivered;
            return sink(labelled(record));
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

    QVector<qint64> positions() const override
    {
        QVector<qint64> ids;
        for (const QByteArray& host : m_source.m_hosts)
            ids << m_positions.value(host);
        return ids;
    }

    int restartCount() const override { return 0; }

    void setStopCheck(const std::function<bool()>& stopRequested) override { m_source.setStopCheck(stopRequested); }

private:
    const LogRecord& labelled(const LogRecord& record)
    {
        m_labelled = record;
        m_labelled.machine = m_source.m_places.value(record.host, 0);
        return m_labelled;
    }

    PgSource& m_source;
    LogQuery m_query;
    NoticeSink m_notices;
    Positions m_positions;
    LogRecord m_labelled;
    bool m_failing = false;
};

std::unique_ptr<SourceTail> PgSource::tail(const LogQuery& filter, SourceTail::NoticeSink notices)
{
    return std::make_unique<Tail>(*this, filter, std::move(notices));
}

void PgSource::reconnect()
{
    m_connection->connect(m_url, [this] { return stopRequested(); });
}

} // namespace SystemLog
