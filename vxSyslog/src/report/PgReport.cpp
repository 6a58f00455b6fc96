#include "report/PgReport.h"

#include <QHash>
#include <QMap>

#include <algorithm>
#include <tuple>

#include "report/PgChattering.h"
#include "report/PgReportSql.h"
#include "report/SideBySide.h"
#include "sources/PgConnection.h"
#include "sources/PgSource.h"

namespace SystemLog {

using namespace PgReportSql;

namespace {

// The most frequent texts and every type's total of the period, each on a
// connection and thread of its own (SideBySide); read once it finished.
struct TextsAndTypes
{
    std::vector<AlarmReport::Text> top;
    qint64 distinct = 0;
    QMap<int, qint64> types;
};

void startTextsAndTypes(PgSource& source, const AlarmReport::Request& request, SideBySide& beside, TextsAndTypes& into)
{
    PgStatement top;
    top.sql = "SELECT " + keyOf(request) + " AS k, min(message COLLATE \"C\"), count(*), count(*) OVER ()"
              + fromWhere(source, request, top, true) + " GROUP BY 1 ORDER BY 3 DESC, 1 LIMIT "
              + QByteArray::number(qMax(request.top, int(AlarmReport::kTopShareTexts)));
    beside.start({{sessionSettings(), nullptr}, {top, [&into](const Row& row, const Nulls&) {
                                                      AlarmReport::Text text;
                                                      text.key = copyOf(row[0]);
                                                      text.example = copyOf(row[1]);
                                                      text.count = row[2].toLongLong();
                                                      into.distinct = row[3].toLongLong();
                                                      into.top.push_back(text);
                                                      return true;
                                                  }}});
    // Every type of the period, with the pattern.
    PgStatement types;
    types.sql = "SELECT type, count(*)" + fromWhere(source, request, types, false) + " GROUP BY 1 ORDER BY 1";
    beside.start({{sessionSettings(), nullptr}, {types, [&into](const Row& row, const Nulls& isNull) {
                                                      if (!isNull[0])
                                                          into.types.insert(row[0].toInt(), row[1].toLongLong());
                                                      return true;
                                                  }}});
}

// Records per period, machine and type into the report, machines by name;
// `machines` gets each host's place.
bool countCells(PgSource& source, AlarmReport& report, QMap<QByteArray, int>& machines)
{
    PgStatement cells;
    // A stamp of another length has no period, as in the files' report
    // (AlarmReport::secondsOf), which the prefix alone would not tell.
    cells.sql = "SELECT host, CASE WHEN octet_length(datetime) = 19 THEN substr(datetime, 1, 15) END, type, count(*)"
                + fromWhere(source, report.request, cells, true) + " GROUP BY 1, 2, 3";
    // A row per machine and period: the machines numbered as they come,
    // and by name once all have come.
    QHash<QByteArray, int> arrival;
    QList<QByteArray> arrived;
    report.cells.clear();
    if (!source.rows(cells, [&](const Row& row, const Nulls& isNull) {
            auto found = arrival.constFind(row[0]);
            if (found == arrival.constEnd()) {
                arrived << copyOf(row[0]);
                found = arrival.insert(arrived.last(), arrived.size() - 1);
            }
            const qint64 seconds = isNull[1] ? -1 : AlarmReport::secondsOf(row[1] + "0:00");
            report.cells.push_back({seconds < 0 ? -1 : seconds / AlarmReport::kPeriodSeconds, *found,
                                    isNull[2] ? -1 : row[2].toInt(), row[3].toLongLong()});
            return true;
        }))
        return false;
    machines.clear();
    for (const QByteArray& host : arrived)
        machines.insert(host, 0);
    report.machines.clear();
    for (auto it = machines.begin(); it != machines.end(); ++it) {
        it.value() = report.machines.size();
        report.machines << QString::fromUtf8(it.key());
    }
    QVector<int> placeOf(arrived.size());
    for (int i = 0; i < arrived.size(); ++i)
        placeOf[i] = machines.value(arrived[i]);
    for (AlarmReport::Cell& cell : report.cells)
        cell.machine = placeOf[cell.machine];
    std::sort(report.cells.begin(), report.cells.end(), [](const AlarmReport::Cell& a, const AlarmReport::Cell& b) {
        return std::tie(a.period, a.machine, a.type) < std::tie(b.period, b.machine, b.type);
    });
    return true;
}

// Every type the report lists: the five, those asked for, and with no
// types asked for, any other the period holds.
void fillTypes(const QMap<int, qint64>& counted, AlarmReport& report)
{
    QMap<int, qint64> perType;
    for (int type = 0; type < 5; ++type)
        perType.insert(type, 0);
    for (int type : report.request.types)
        perType.insert(type, 0);
    for (auto it = counted.cbegin(); it != counted.cend(); ++it) {
        if (perType.contains(it.key()) || report.request.types.isEmpty())
            perType[it.key()] = it.value();
    }
    report.perType.clear();
    for (auto it = perType.cbegin(); it != perType.cend(); ++it)
        report.perType.push_back({it.key(), it.value()});
}

// The machines' chattering texts as the report's, one per text.
void fillChattering(const std::vector<ChatterRow>& rows, const QMap<QByteArray, int>& machines, ReportTexts& texts)
{
    QMap<QByteArray, AlarmReport::Text> chattering;
    texts.chatteringPerMachine.fill(0, machines.size());
    for (const ChatterRow& row : rows) {
        AlarmReport::Text& text = chattering[row.key];
        if (text.key.isEmpty() || row.example < text.example)
            text.example = row.example;
        text.key = row.key;
        text.count += row.count;
        text.bursts += row.bursts;
        const int machine = machines.value(row.host, -1);
        if (machine >= 0)
            ++texts.chatteringPerMachine[machine];
    }
    texts.chattering = chattering.values().toVector();
    texts.chatteringTexts = texts.chattering.size();
    sortTexts(texts.chattering, true);
}

} // namespace

bool countInDatabase(PgSource& source, AlarmReport& report, ReportTexts& texts, QString& error)
{
    const AlarmReport::Request& request = report.request;
    auto failed = [&] {
        error = source.errorText();
        return false;
    };

    // The texts and the types on connections of their own while this one
    // counts the periods and the chattering; the server runs the three
    // side by side.
    TextsAndTypes textsAndTypes;  // before `beside`, which ends first
    SideBySide beside(source);
    if (!request.periodsOnly)
        startTextsAndTypes(source, request, beside, textsAndTypes);

    QMap<QByteArray, int> machines;
    if (!source.rows(sessionSettings(), [](const Row&, const Nulls&) { return true; }) || !countCells(source, report, machines))
        return failed();
    if (request.periodsOnly)
        return true;

    std::vector<ChatterRow> chatterRows;
    if (!countChattering(source, report, chatterRows))
        return failed();
    if (!beside.finish(error))
        return false;
    texts.top = QVector<AlarmReport::Text>(textsAndTypes.top.begin(), textsAndTypes.top.end());
    texts.distinct = textsAndTypes.distinct;
    fillTypes(textsAndTypes.types, report);
    fillChattering(chatterRows, machines, texts);
    return true;
}

} // namespace SystemLog
