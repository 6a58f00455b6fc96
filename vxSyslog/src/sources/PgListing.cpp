#include "sources/PgListing.h"

#include <algorithm>
#include <limits>

#include <vxSyslog/ListingBlock.h>
#include <vxSyslog/RecordFormat.h>
#include <vxSyslog/RecordTypes.h>

#include "read/MessageMatcher.h"
#include "sources/PgConnection.h"
#include "sources/PgSource.h"

namespace SystemLog {

namespace {

const char* const kColumns = "host, id, datetime, type, message";

// The UTF-16 length of UTF-8 text as the server hands it over (always well
// formed): one unit per character, two for one past U+FFFF.
int utf16Length(const QByteArray& utf8)
{
    int units = 0;
    for (char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        units += (byte & 0xc0) != 0x80 ? 1 : 0;
        units += byte >= 0xf0 ? 1 : 0;
    }
    return units;
}

} // namespace

// One row of fleet_log as the COPY stream hands it over (valid during the call).
struct PgListing::Row
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

PgListing::PgListing(const QString& url, const QStringList& hosts)
    : m_url(url)
    , m_asked(hosts)
    , m_connection(std::make_unique<PgConnection>())
{
}

PgListing::~PgListing() = default;

void PgListing::setBusyTimeout(int milliseconds)
{
    m_connection->setWaitLimit(milliseconds);
}

bool PgListing::fail(FailureKind kind, const QString& reason)
{
    m_kind = kind;
    m_error = reason;
    return false;
}

// The URL as an operator may see it: it holds no password (acceptsUrl).
bool PgListing::failFromConnection()
{
    if (m_interrupted.load())
        return fail(FailureKind::Interrupted, describeFailure(FailureKind::Interrupted, QString()));
    const QString reason = QStringLiteral("无法读取中央日志数据库 %1：%2").arg(m_url, m_connection->reason());
    return fail(m_connection->lost() ? FailureKind::CannotOpen : FailureKind::Other, reason);
}

// A listing whose connection failed or was never made answers nothing,
// not even for no machines.
bool PgListing::usable()
{
    if (m_interrupted.load())
        return fail(FailureKind::Interrupted, describeFailure(FailureKind::Interrupted, QString()));
    if (!m_connection->connected())
        return failFromConnection();
    return true;
}

bool PgListing::run(const PgStatement& statement, const std::function<bool(const Values&, const Nulls&)>& onRow)
{
    if (!usable())
        return false;
    const bool ok = m_connection->stream(statement.sql, statement.parameters, onRow, [this] { return m_interrupted.load(); });
    // A stop the interrupt asked for reads as a success to the connection.
    return ok && !m_interrupted.load() ? true : failFromConnection();
}

bool PgListing::open()
{
    m_problems.clear();
    m_machines.clear();
    m_hosts.clear();
    m_places.clear();
    QString refused;
    if (!PgSource::acceptsUrl(m_url, refused)) {
        m_problems = QStringList{refused};
        return fail(FailureKind::Other, refused);
    }
    if (!m_connection->connect(m_url, [this] { return m_interrupted.load(); })) {
        if (m_interrupted.load())
            return usable();
        m_problems = QStringList{QStringLiteral("无法读取中央日志数据库 %1：%2").arg(m_url, m_connection->reason())};
        return fail(FailureKind::CannotOpen, m_problems.first());
    }
    PgStatement probe;
    probe.sql = QByteArray("SELECT ") + kColumns + " FROM fleet_log LIMIT 0";
    if (!run(probe, [](const Values&, const Nulls&) { return true; })) {
        const QString state = m_connection->sqlState();
        if (m_kind == FailureKind::Other && (state == QLatin1String("42P01") || state == QLatin1String("42703")))
            fail(FailureKind::NotALogDatabase,
                 QStringLiteral("无法读取中央日志数据库 %1：数据库中没有可用的 fleet_log 表（用 docs/fleet_log.sql 创建）").arg(m_url));
        if (m_kind != FailureKind::Interrupted)
            m_problems = QStringList{m_error};
        return false;
    }
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
bool PgListing::findAllHosts(QList<QByteArray>& hosts)
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

bool PgListing::newestIds(QVector<qint64>& ids)
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

bool PgListing::prepareMatcher(const LogQuery& query)
{
    if (query.grep.isEmpty() || query.onlyGaps) {
        m_matcher.reset();
        return true;
    }
    if (!m_matcher || m_matcherPattern != query.grep || m_matcherIgnoresCase != query.ignoreCase) {
        m_matcher = std::make_unique<MessageMatcher>(query.grep, query.ignoreCase);
        m_matcherPattern = query.grep;
        m_matcherIgnoresCase = query.ignoreCase;
    }
    return m_matcher->isValid()
           || fail(FailureKind::Other, QStringLiteral("无效的正则表达式：%1").arg(m_matcher->errorString()));
}

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

QByteArray PgListing::rowsOf(const LogQuery& query, PgStatement& statement) const
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

int PgListing::placeOf(const QByteArray& host) const
{
    return m_hosts.size() == 1 ? 0 : m_places.value(host, 0);
}

// Drop records of the period are listed whatever the pattern (LogQuery).
bool PgListing::listed(const LogQuery& query, const Row& row) const
{
    return !m_matcher || m_matcher->matches(row.message.constData(), row.message.size()) || (query.withGaps && row.isGap());
}

bool PgListing::readRows(const LogQuery& query, const std::function<bool(const Row&)>& onRow)
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

QString PgListing::blockOf(const LogQuery& query, const Row& row, bool gapsMarked) const
{
    return listingBlock(QString::fromUtf8(row.datetime), query.namesTypes(), query.namesTypes() ? row.typeName() : QString(),
                        QString::fromUtf8(row.message), gapsMarked && row.isGap(),
                        namesMachines() ? m_machines.value(row.place) : QString());
}

bool PgListing::readKeys(const LogQuery& query, const KeySink& sink)
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
        const int message = key.gap ? gapText(QString::fromUtf8(row.message)).size() : utf16Length(row.message);
        key.blockLength = utf16Length(row.datetime) + machineLengths.value(row.place) + names + 2 + message;
        return sink(key);
    });
}

// As LogReader's blocks: a drop record reads as one where the query
// lists the period's drop records (withGaps).
bool PgListing::readBlocks(const LogQuery& query, const BlockSink& sink)
{
    return readRows(query, [&](const Row& row) { return sink(blockOf(query, row, query.withGaps || query.onlyGaps)); });
}

bool PgListing::countListed(const LogQuery& query, qint64& result)
{
    result = 0;
    QVector<qint64> counts;
    if (!countBetween(query, QStringList(), counts))
        return false;
    result = counts.value(0);
    return true;
}

bool PgListing::countBetween(const LogQuery& query, const QStringList& bounds, QVector<qint64>& counts)
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

bool PgListing::fetch(const LogQuery& query, const int* machines, const qint64* ids, int count, const FetchSink& sink)
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
    Row row;
    return run(statement, [&](const Values& values, const Nulls& isNull) {
        row.place = placeOf(values[0]);
        row.datetime = values[2];
        row.typeIsNull = isNull[3];
        row.type = isNull[3] ? 0 : values[3].toInt();
        row.message = values[4];
        sink(indexes.at(values[5].toInt()), blockOf(query, row, query.withGaps || query.onlyGaps));
        return true;
    });
}

bool PgListing::fetchRecords(const int* machines, const qint64* ids, int count, const FetchRecordSink& sink)
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
    PgStatement statement;
    statement.sql = "SELECT f.host, f.id, f.datetime, f.type, f.message, a.n - 1 FROM unnest("
                    + statement.add(pgTextArray(hosts)) + "::text[], " + statement.add(pgNumberArray(wanted))
                    + "::bigint[]) WITH ORDINALITY AS a(host, id, n) JOIN fleet_log f ON f.host = a.host AND f.id = a.id";
    LogRecord record;
    return run(statement, [&](const Values& values, const Nulls& isNull) {
        record.host = values[0];
        record.id = values[1].toLongLong();
        record.datetime = values[2];
        record.storedType = isNull[3] ? LogRecord::StoredType::Null : LogRecord::StoredType::Int;
        record.type = isNull[3] ? 0 : values[3].toInt();
        record.message = values[4];
        sink(indexes.at(values[5].toInt()), record);
        return true;
    });
}

void PgListing::interrupt()
{
    m_interrupted.store(true);
    m_connection->cancel();
}

} // namespace SystemLog
