#pragma once

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QVector>

#include <map>
#include <tuple>
#include <vector>

#include <vxSyslog/AlarmReport.h>
#include <vxSyslog/LogRecord.h>

namespace SystemLog {

// The texts of a report before its figures are derived: the most frequent
// (at least AlarmReport::kTopShareTexts, in order), how many texts there
// are, the chattering ones (in order) and per machine how many chatter.
struct ReportTexts
{
    QVector<AlarmReport::Text> top;
    qint64 distinct = 0;
    QVector<AlarmReport::Text> chattering;
    qint64 chatteringTexts = 0;
    QVector<int> chatteringPerMachine;
};

// The order of both lists: the larger figure first, then the text's bytes.
void sortTexts(QVector<AlarmReport::Text>& texts, bool byBursts);

// Counts a report's records one at a time, in time order per machine (as a
// log file's time index delivers them): records per 10-minute period,
// machine and type; per text its count and its chattering bursts (the
// state of the last two occurrences per machine and text is all a burst
// needs). fill() hands the counts to the report; every figure is then
// derived from them (deriveFigures()).
class ReportTally
{
public:
    explicit ReportTally(const AlarmReport::Request& request);

    void add(const LogRecord& record);
    // Cells and machines into the report (machines by name), the texts
    // into `texts`.
    void fill(AlarmReport& report, ReportTexts& texts) const;

private:
    struct Occurrences
    {
        qint64 count = 0;
        qint64 bursts = 0;
        qint64 last = -1;      // time stamps of the last two occurrences, in seconds
        qint64 beforeLast = -1;
        bool lastHit = false;  // whether the last (the one before) completed a window of three
        bool beforeLastHit = false;
        QByteArray example;
    };
    int machineOf(const QByteArray& host);
    static void occur(Occurrences& text, qint64 seconds);

    bool m_mergeNumbers;
    bool m_withTexts;
    QHash<QByteArray, int> m_machineIndex;
    QVector<QByteArray> m_machineNames;
    std::vector<QHash<QByteArray, Occurrences>> m_texts;  // per machine
    std::map<std::tuple<qint64, int, int>, qint64> m_cells;
    // The last record's cell, which the next one shares most of the time.
    std::tuple<qint64, int, int> m_lastCell{-1, -1, 0};
    qint64* m_lastCount = nullptr;
};

// Every figure of the report from its cells, texts and request: the
// periods counted, per day and hour, the averages, the largest period,
// the periods over the flood threshold and the floods, the top and
// chattering lists in order, and the figures per machine.
// Without a time stamp (a row written by other means) a record counts in
// the totals and texts but in no period.
void deriveFigures(AlarmReport& report, ReportTexts texts);

} // namespace SystemLog
