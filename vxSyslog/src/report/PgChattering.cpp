#include "report/PgChattering.h"

#include <QHash>
#include <QList>

#include <algorithm>
#include <tuple>

#include "report/PgReportSql.h"
#include "sources/PgConnection.h"
#include "sources/PgSource.h"

namespace SystemLog {

using namespace PgReportSql;

namespace {

// A stamp's seconds for the chattering windows, NULL for one the files'
// report reads none from (AlarmReport::secondsOf). The cast is cheap, and
// its shape test leaves out the stamps other programs write that it would
// read (no seconds, fractions of a second, a T), but it fails the
// statement on a stamp PostgreSQL cannot read at all; `tolerant` reads
// only "yyyy-MM-dd hh:mm:ss" with each field in its range (a day past its
// month's end runs on into the next), as secondsOf does, at the cost of a
// regular expression per row.
QByteArray secondsOfStamp(bool tolerant)
{
    if (!tolerant)
        return "CASE WHEN octet_length(datetime) = 19 AND substr(datetime, 11, 1) = ' ' "
               "THEN date_part('epoch', datetime::timestamp)::int8 END";
    return "CASE WHEN datetime ~ '^(19[7-9][0-9]|[2-9][0-9]{3})-(0[1-9]|1[0-2])-(0[1-9]|[12][0-9]|3[01]) "
           "([01][0-9]|2[0-3]):[0-5][0-9]:([0-5][0-9]|60)$' THEN ((substr(datetime, 1, 8) || '01')::date - date '1970-01-01' "
           "+ substr(datetime, 9, 2)::int - 1) * 86400::int8 + substr(datetime, 12, 2)::int * 3600 "
           "+ substr(datetime, 15, 2)::int * 60 + substr(datetime, 18, 2)::int END";
}

// Chattering bursts per machine and text (AlarmReport.h): an occurrence
// completes a window when the one two before lies within the time; it
// starts a burst when neither of the two before completed one. Occurrences
// without seconds sort last and complete nothing. Partitions are sorted by
// the text's hash first, which settles most comparisons without comparing
// texts. `rows` is a FROM item of host, k, example and t.
QByteArray burstsOf(const QByteArray& rows)
{
    const QByteArray window = QByteArray::number(AlarmReport::kChatterSeconds);
    return "SELECT host, k, min(example), count(*), sum(b) FROM (SELECT host, h, k, example, CASE WHEN t - lag(t, 2) OVER w <= "
           + window + " AND coalesce(lag(t, 1) OVER w - lag(t, 3) OVER w > " + window
           + ", true) AND coalesce(lag(t, 2) OVER w - lag(t, 4) OVER w > " + window
           + ", true) THEN 1 ELSE 0 END AS b FROM (SELECT host, hashtextextended(k, 0) AS h, k, example, t FROM " + rows
           + ") AS a WINDOW w AS (PARTITION BY h, host, k ORDER BY t)) AS s GROUP BY h, host, k HAVING sum(b) > 0";
}

// The columns a text is counted by: its key, and the stored text as its
// example when numbers are merged (else the key is the text).
QByteArray textColumns(const AlarmReport::Request& request)
{
    return keyOf(request) + " AS k, " + (request.mergeNumbers ? "message COLLATE \"C\"" : "NULL::text") + " AS example";
}

// The bursts of every record of the request.
PgStatement everyBurst(PgSource& source, const AlarmReport::Request& request, bool tolerant)
{
    PgStatement chatter;
    const QByteArray rows = "SELECT host, " + textColumns(request) + ", " + secondsOfStamp(tolerant) + " AS t"
                            + fromWhere(source, request, chatter, true);
    chatter.sql = burstsOf("(" + rows + ") AS r");
    return chatter;
}

// The bursts of the records in `spans` alone, each span read through the
// machine's time index. Their stamps are read tolerantly: they are few.
PgStatement spanBursts(PgSource& source, const AlarmReport::Request& request, const std::vector<Span>& spans)
{
    QList<QByteArray> hosts, since, until;
    for (const Span& span : spans) {
        hosts << span.host;
        since << span.since;
        until << span.until;
    }
    PgStatement chatter;
    const QByteArray spanRows = "unnest(" + chatter.add(pgTextArray(hosts)) + "::text[], " + chatter.add(pgTextArray(since))
                                + "::text[], " + chatter.add(pgTextArray(until)) + "::text[]) AS span(machine, since, until)";
    const QByteArray rows = "SELECT host, " + textColumns(request) + ", " + secondsOfStamp(true) + " AS t"
                            + narrowed(fromWhere(source, request, chatter, true),
                                       "host = span.machine AND datetime >= span.since AND datetime <= span.until");
    chatter.sql = burstsOf(spanRows + " CROSS JOIN LATERAL (" + rows + ") AS r");
    return chatter;
}

// Every record's count and example of the (machine, text) pairs given.
PgStatement pairTotals(PgSource& source, const AlarmReport::Request& request, const QList<QByteArray>& hosts,
                       const QList<QByteArray>& keys)
{
    PgStatement totals;
    const QByteArray pairs = "SELECT * FROM unnest(" + totals.add(pgTextArray(hosts)) + "::text[], " + totals.add(pgTextArray(keys))
                             + "::text[])";
    const QByteArray machines = totals.add(pgTextArray(hosts));
    totals.sql = "SELECT host, k, min(example), count(*) FROM (SELECT host, " + textColumns(request)
                 + narrowed(fromWhere(source, request, totals, true), "host = ANY(" + machines + "::text[])")
                 + ") AS r WHERE (host, k) IN ("
                 + pairs + ") GROUP BY 1, 2";
    return totals;
}

PgSource::StatementRows chatterRowsInto(std::vector<ChatterRow>& rows)
{
    return [&rows](const Row& row, const Nulls& isNull) {
        rows.push_back({copyOf(row[0]), copyOf(row[1]), isNull[2] ? copyOf(row[1]) : copyOf(row[2]), row[3].toLongLong(),
                        row[4].toLongLong()});
        return true;
    };
}

// Past this many spans, or half the records in them, reading the spans
// costs more than reading the period once (bench/README.md, "Bursts only
// where they can be").
constexpr size_t kMostSpans = 5000;
constexpr qint64 kSpanShareDivisor = 2;

} // namespace

// A burst is kChatterCount records of one machine within kChatterSeconds,
// so it lies within two neighbouring periods that hold that many of the
// machine's records between them. A record of any other period is in no
// window, and leaving it out forms no new one (a window that spans it
// would hold it), so the bursts counted over these spans alone are all
// the bursts.
static_assert(AlarmReport::kChatterSeconds <= AlarmReport::kPeriodSeconds, "a burst spans at most two periods");
std::vector<Span> burstSpans(const AlarmReport& report, qint64& records)
{
    // Each machine's periods in order, the types of one added up.
    struct Counted
    {
        int machine;
        qint64 period;
        qint64 count;
    };
    std::vector<Counted> counted;
    counted.reserve(size_t(report.cells.size()));
    for (const AlarmReport::Cell& cell : report.cells) {
        if (cell.period >= 0)
            counted.push_back({cell.machine, cell.period, cell.count});
    }
    std::sort(counted.begin(), counted.end(),
              [](const Counted& a, const Counted& b) { return std::tie(a.machine, a.period) < std::tie(b.machine, b.period); });
    size_t kept = 0;
    for (size_t i = 0; i < counted.size(); ++i) {
        if (kept > 0 && counted[kept - 1].machine == counted[i].machine && counted[kept - 1].period == counted[i].period)
            counted[kept - 1].count += counted[i].count;
        else
            counted[kept++] = counted[i];
    }
    counted.resize(kept);

    // The count of the same machine's period just before or after `i`, if it has records.
    const auto neighbour = [&counted](size_t i, int step) -> qint64 {
        const size_t j = i + size_t(step);
        if (j >= counted.size() || counted[j].machine != counted[i].machine || counted[j].period != counted[i].period + step)
            return 0;
        return counted[j].count;
    };
    std::vector<Span> spans;
    records = 0;
    for (size_t i = 0; i < counted.size(); ++i) {
        const qint64 count = counted[i].count;
        if (count + neighbour(i, -1) < AlarmReport::kChatterCount && count + neighbour(i, 1) < AlarmReport::kChatterCount)
            continue;
        records += count;
        const qint64 until = counted[i].period * AlarmReport::kPeriodSeconds + AlarmReport::kPeriodSeconds - 1;
        const QByteArray host = report.machines.value(counted[i].machine).toUtf8();
        if (!spans.empty() && spans.back().host == host && spans.back().lastPeriod + 1 == counted[i].period) {
            spans.back().until = AlarmReport::stampOf(until).toUtf8();
        } else {
            spans.push_back({host, AlarmReport::stampOf(counted[i].period * AlarmReport::kPeriodSeconds).toUtf8(),
                             AlarmReport::stampOf(until).toUtf8(), 0});
        }
        spans.back().lastPeriod = counted[i].period;
    }
    return spans;
}

// The chattering texts per machine with their counts and examples, on the
// source's connection; false: the source's errorText() says why.
bool countChattering(PgSource& source, const AlarmReport& report, std::vector<ChatterRow>& rows)
{
    const AlarmReport::Request& request = report.request;
    qint64 all = 0;
    for (const AlarmReport::Cell& cell : report.cells)
        all += cell.count;
    qint64 inSpans = 0;
    const std::vector<Span> spans = burstSpans(report, inSpans);
    QString state;
    rows.clear();
    if (spans.empty())
        return true;
    if (spans.size() > kMostSpans || inSpans * kSpanShareDivisor > all) {
        if (source.rowsOnce(everyBurst(source, request, false), chatterRowsInto(rows), state))
            return true;
        // invalid_datetime_format, datetime_field_overflow
        if (state != QLatin1String("22007") && state != QLatin1String("22008"))
            return false;
        rows.clear();
        return source.rowsOnce(everyBurst(source, request, true), chatterRowsInto(rows), state);
    }
    if (!source.rowsOnce(spanBursts(source, request, spans), chatterRowsInto(rows), state))
        return false;
    if (rows.empty())
        return true;
    // The spans' counts are of the spans; the totals are of the period.
    QList<QByteArray> hosts, keys;
    QHash<QPair<QByteArray, QByteArray>, size_t> places;
    for (size_t i = 0; i < rows.size(); ++i) {
        hosts << rows[i].host;
        keys << rows[i].key;
        places.insert({rows[i].host, rows[i].key}, i);
    }
    return source.rowsOnce(pairTotals(source, request, hosts, keys),
                           [&](const Row& row, const Nulls& isNull) {
                               const auto found = places.constFind({row[0], row[1]});
                               if (found != places.constEnd()) {
                                   ChatterRow& chatter = rows[*found];
                                   chatter.example = isNull[2] ? copyOf(row[1]) : copyOf(row[2]);
                                   chatter.count = row[3].toLongLong();
                               }
                               return true;
                           },
                           state);
}

} // namespace SystemLog
