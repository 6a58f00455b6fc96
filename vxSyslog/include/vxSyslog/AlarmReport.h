#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

#include <vxSyslog/LogQuery.h>

namespace SystemLog {

class LogSource;

// The alarm figures of a period, as the process industries measure an alarm
// system (ISA-18.2 / IEC 62682, EEMUA 191), computed from a log's records of
// the chosen types (alarms, type 3, unless told otherwise): vxlog report
// and the viewer's 统计 page both show this, from one computation.
//
// Definitions (docs/alarm-report.md says them for the operator):
// - Periods: the clock's 10-minute periods (hh:00, hh:10, ...) from the
//   start of the period asked for to its end, or to now when the end lies
//   ahead; an average is over all of them, empty ones included.
// - The same alarm is the same text; with mergeNumbers, texts that differ
//   only in their digits are one (every run of digits is one number).
// - A flood: consecutive 10-minute periods that each hold more than
//   kFloodAlarms records; its start is its first period's start, its end the
//   last one's end.
// - Chattering: a text that occurs kChatterCount times within kChatterSeconds
//   (the third at most 60 s after the first, by their time stamps, on one
//   machine). A burst is a maximal run of such occurrences in which each
//   window of three overlaps the one before: every occurrence that completes
//   a window while neither of the two before it completed one starts a new
//   burst. A text every 30 s for an hour is one burst; three within a
//   minute, quiet for an hour, three again, are two.
// Failures: the source's own (LogSource.h); a read that fails leaves no
// report (computeAlarmReport() returns false with the reason).
// Threads: the computation runs on the caller's thread with the source's
// stop check; a report once made is a plain value.
struct AlarmReport
{
    static constexpr int kPeriodSeconds = 600;
    static constexpr int kFloodAlarms = 10;
    static constexpr int kChatterCount = 3;
    static constexpr int kChatterSeconds = 60;
    static constexpr int kTopShareTexts = 10;

    struct Request
    {
        QVector<int> types{3};  // empty: every type
        QString since;          // "yyyy-MM-dd hh:mm:ss", both ends included
        QString until;
        QString grep;           // as vxlog --grep
        bool ignoreCase = false;
        bool mergeNumbers = false;
        int top = 10;           // texts listed (top and chattering)
        // Only the counts per period and what follows from them (per day and
        // hour, the largest period, floods): no texts, no other types, for a
        // caller that marks floods.
        bool periodsOnly = false;
        // What "now" is (an end ahead of it counts periods only up to it);
        // empty: the clock's local time.
        QString now;
    };

    // Records per 10-minute period: its start as seconds of the stored
    // (local) clock since 1970-01-01 00:00:00, the machine (its place in
    // machines), the type.
    struct Cell
    {
        qint64 period;
        int machine;
        int type;
        qint64 count;
    };
    struct TypeTotal
    {
        int type;
        qint64 count;
    };
    struct DayCount
    {
        QString day;  // "yyyy-MM-dd"
        qint64 count;
    };
    struct Flood
    {
        QString start;  // "yyyy-MM-dd hh:mm:ss"
        QString end;    // the end of its last period
        qint64 count;
        int periods;
    };
    struct Text
    {
        QByteArray key;      // the text, or with mergeNumbers its shape (digit runs as one "0")
        QByteArray example;  // a stored text of that shape (the text itself without mergeNumbers)
        qint64 count = 0;
        qint64 bursts = 0;   // chattering bursts, on all machines together
        double share = 0;    // of all records reported
    };
    struct Machine
    {
        QString name;
        qint64 total = 0;
        double perPeriod = 0;
        qint64 maxPeriod = 0;
        qint64 periodsOver = 0;
        int floods = 0;
        int chatteringTexts = 0;
    };

    Request request;
    QString start;        // the periods counted: from start to end, both "yyyy-MM-dd hh:mm:ss"
    QString end;
    qint64 periods = 0;   // 10-minute periods from start to end
    QStringList machines; // more than one where the source names machines
    QVector<Cell> cells;  // by period, machine, type

    qint64 total = 0;
    QVector<TypeTotal> perType;    // every type 0 to 4 and the chosen ones, within period and grep
    QVector<DayCount> perDay;      // every day from start to end
    QVector<qint64> perHour;       // 24: the hour of the day
    double perPeriod = 0;          // average per 10-minute period
    double perDayAverage = 0;
    qint64 maxPeriod = 0;
    QString maxPeriodStart;
    qint64 periodsOver = 0;        // periods with more than kFloodAlarms
    QVector<Flood> floods;
    QVector<Text> top;             // the most frequent texts, request.top of them
    qint64 distinctTexts = 0;
    double topShare = 0;           // the kTopShareTexts most frequent texts' share of all
    QVector<Text> chattering;      // by bursts, request.top of them
    qint64 chatteringTexts = 0;
    QVector<Machine> perMachine;   // where there are several

    double periodsOverShare() const { return periods > 0 ? double(periodsOver) / double(periods) : 0; }
    // The grep pattern that lists exactly a text's records: the whole
    // message, case as it is, any digits where mergeNumbers merged them.
    static QString patternOf(const QByteArray& key, bool mergeNumbers);
    // The 10-minute period's start as "yyyy-MM-dd hh:mm:ss".
    static QString periodText(qint64 period);
    static qint64 secondsOf(const QByteArray& stamp);  // -1 when it is no time stamp
    static QString stampOf(qint64 seconds);
    // Every digit run as one "0", the key texts are merged by.
    static QByteArray shapeOf(const QByteArray& text);
};

// The reference values of the figures (public summaries of ISA-18.2 /
// EEMUA 191, docs/alarm-report.md), and whether a figure lies outside.
struct AlarmReference
{
    static constexpr double kPerPeriodAcceptable = 1;
    static constexpr double kPerPeriodManageable = 2;
    static constexpr double kPerDayAcceptable = 150;
    static constexpr double kPerDayManageable = 300;
    static constexpr qint64 kMaxPeriod = 10;
    static constexpr double kPeriodsOverShare = 0.01;
    static constexpr double kTopShare = 0.05;
};

// A figure beside its reference value, as every form of the report shows
// it; `outside` when it lies beyond the reference.
struct AlarmKpi
{
    QString name;
    QString value;
    QString reference;
    bool outside = false;
    QString note;  // where or of what, when it says more
};
QVector<AlarmKpi> alarmReportKpis(const AlarmReport& report);
// "超出参考值" or "正常".
QString alarmKpiMark(bool outside);
// The caption of a type in a report ("报警记录", "类型 9").
QString alarmReportTypeName(int type);

// Computes the report from `source` (opened), its stop check included;
// false with `error` when the source could not be read. On the central
// PostgreSQL every figure is counted in the database; of files, each is
// read once in time order through its time index.
bool computeAlarmReport(LogSource& source, const AlarmReport::Request& request, AlarmReport& report, QString& error);

// The report as text (Chinese, aligned columns), as one JSON object, or as a
// self-contained HTML page with its charts as inline SVG. `source` names
// what was read.
QByteArray alarmReportText(const AlarmReport& report, const QString& source);
QByteArray alarmReportJson(const AlarmReport& report, const QString& source);
QByteArray alarmReportHtml(const AlarmReport& report, const QString& source);

// What the log cannot tell (it records no alarm states or priorities), one
// line each.
QStringList alarmReportOutOfReach();

} // namespace SystemLog
