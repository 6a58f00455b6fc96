#include "report/PgReport.h"

#include <QHash>
#include <QMap>

#include "sources/PgConnection.h"
#include "sources/PgSource.h"

namespace SystemLog {

namespace {

using Row = std::vector<QByteArray>;
using Nulls = std::vector<bool>;

QByteArray copyOf(const QByteArray& field)
{
    return QByteArray(field.constData(), field.size());
}

// "FROM fleet_log WHERE …" for the request, the pattern included.
QByteArray fromWhere(PgSource& source, const AlarmReport::Request& request, PgStatement& statement, bool withTypes)
{
    LogQuery filter;
    if (withTypes)
        filter.types = request.types;
    filter.since = request.since;
    filter.until = request.until;
    filter.grep = request.grep;
    filter.ignoreCase = request.ignoreCase;
    PgStatement where;
    where.sql = " FROM fleet_log";
    source.whereOf(filter, where);
    // The statement's parameters so far come first.
    QByteArray sql = where.sql;
    for (int i = int(where.parameters.size()); i >= 1; --i)
        sql.replace("$" + QByteArray::number(i), "$" + QByteArray::number(i + qint64(statement.parameters.size())));
    for (const QByteArray& value : where.parameters)
        statement.parameters.push_back(value);
    if (!request.grep.isEmpty()) {
        sql += sql.contains(" WHERE ") ? " AND " : " WHERE ";
        sql += "message " + QByteArray(request.ignoreCase ? "~*" : "~") + " " + statement.add(request.grep.toUtf8());
    }
    return sql;
}

QByteArray keyOf(const AlarmReport::Request& request)
{
    return request.mergeNumbers ? "regexp_replace(message, '[0-9]+', '0', 'g')" : "message";
}

} // namespace

bool countInDatabase(PgSource& source, AlarmReport& report, ReportTexts& texts, QString& error)
{
    const AlarmReport::Request& request = report.request;
    auto failed = [&] {
        error = source.errorText();
        return false;
    };

    // The sorts and hash tables of texts (one group per text, and a text per
    // record is common) in memory rather than spilled to disk, for this
    // session: a few times this much at most, while the report runs.
    PgStatement memory;
    memory.sql = "SELECT set_config('work_mem', '64MB', false)";
    if (!source.rows(memory, [](const Row&, const Nulls&) { return true; }))
        return failed();

    // Records per period, machine and type; machines by name.
    PgStatement cells;
    cells.sql = "SELECT host, substr(datetime, 1, 15), type, count(*)" + fromWhere(source, request, cells, true)
                + " GROUP BY 1, 2, 3 ORDER BY 1, 2, 3";
    QMap<QByteArray, int> machines;
    QVector<std::tuple<QByteArray, qint64, int, qint64>> rows;
    if (!source.rows(cells, [&](const Row& row, const Nulls& isNull) {
            const QByteArray host = copyOf(row[0]);
            machines.insert(host, 0);
            const qint64 seconds = AlarmReport::secondsOf(row[1] + "0:00");
            rows.push_back({host, seconds < 0 ? -1 : seconds / AlarmReport::kPeriodSeconds, isNull[2] ? -1 : row[2].toInt(),
                            row[3].toLongLong()});
            return true;
        }))
        return failed();
    report.machines.clear();
    for (auto it = machines.begin(); it != machines.end(); ++it) {
        it.value() = report.machines.size();
        report.machines << QString::fromUtf8(it.key());
    }
    report.cells.clear();
    for (const auto& row : rows)
        report.cells.push_back({std::get<1>(row), machines.value(std::get<0>(row)), std::get<2>(row), std::get<3>(row)});
    std::sort(report.cells.begin(), report.cells.end(), [](const AlarmReport::Cell& a, const AlarmReport::Cell& b) {
        return std::tie(a.period, a.machine, a.type) < std::tie(b.period, b.machine, b.type);
    });

    if (request.periodsOnly)
        return true;

    // The most frequent texts, and how many there are.
    const QByteArray key = keyOf(request);
    PgStatement top;
    top.sql = "SELECT " + key + " AS k, min(message), count(*), count(*) OVER ()" + fromWhere(source, request, top, true)
              + " GROUP BY 1 ORDER BY 3 DESC, 1 LIMIT "
              + QByteArray::number(qMax(request.top, int(AlarmReport::kTopShareTexts)));
    texts.top.clear();
    texts.distinct = 0;
    if (!source.rows(top, [&](const Row& row, const Nulls&) {
            AlarmReport::Text text;
            text.key = copyOf(row[0]);
            text.example = copyOf(row[1]);
            text.count = row[2].toLongLong();
            texts.distinct = row[3].toLongLong();
            texts.top << text;
            return true;
        }))
        return failed();

    // Chattering bursts per machine and text (AlarmReport.h): an occurrence
    // completes a window when the one two before lies within the time; it
    // starts a burst when neither of the two before completed one.
    const QByteArray window = QByteArray::number(AlarmReport::kChatterSeconds);
    PgStatement chatter;
    chatter.sql = "SELECT host, k, min(message), count(*), sum(b) FROM (SELECT host, k, message, CASE WHEN t - lag(t, 2) OVER w <= "
                  + window + " AND coalesce(lag(t, 1) OVER w - lag(t, 3) OVER w > " + window
                  + ", true) AND coalesce(lag(t, 2) OVER w - lag(t, 4) OVER w > " + window
                  + ", true) THEN 1 ELSE 0 END AS b FROM (SELECT host, " + key
                  + " AS k, message, extract(epoch FROM datetime::timestamp) AS t" + fromWhere(source, request, chatter, true)
                  + ") AS a WINDOW w AS (PARTITION BY host, k ORDER BY t)) AS s GROUP BY 1, 2 HAVING sum(b) > 0";
    QMap<QByteArray, AlarmReport::Text> chattering;
    texts.chatteringPerMachine.fill(0, report.machines.size());
    if (!source.rows(chatter, [&](const Row& row, const Nulls&) {
            AlarmReport::Text& text = chattering[copyOf(row[1])];
            if (text.key.isEmpty() || row[2] < text.example)
                text.example = copyOf(row[2]);
            text.key = copyOf(row[1]);
            text.count += row[3].toLongLong();
            text.bursts += row[4].toLongLong();
            const int machine = machines.value(row[0], -1);
            if (machine >= 0)
                ++texts.chatteringPerMachine[machine];
            return true;
        }))
        return failed();
    texts.chattering = chattering.values().toVector();
    texts.chatteringTexts = texts.chattering.size();
    sortTexts(texts.chattering, true);

    // Every type of the period, with the pattern.
    PgStatement types;
    types.sql = "SELECT type, count(*)" + fromWhere(source, request, types, false) + " GROUP BY 1 ORDER BY 1";
    report.perType.clear();
    QMap<int, qint64> perType;
    for (int type = 0; type < 5; ++type)
        perType.insert(type, 0);
    for (int type : request.types)
        perType.insert(type, 0);
    if (!source.rows(types, [&](const Row& row, const Nulls& isNull) {
            if (isNull[0])
                return true;
            const int type = row[0].toInt();
            if (perType.contains(type) || request.types.isEmpty())
                perType[type] = row[1].toLongLong();
            return true;
        }))
        return failed();
    for (auto it = perType.cbegin(); it != perType.cend(); ++it)
        report.perType.push_back({it.key(), it.value()});
    return true;
}

} // namespace SystemLog
