// The alarm report's definitions at their edges, through the tally the
// report of a file is counted with: chattering bursts, floods at the flood
// threshold, texts merged by their numbers and the pattern that lists a
// text's records, the stored clock read as seconds; and the periods in
// which the fleet's database looks for bursts.
#include <QRegularExpression>
#include <QtTest>

#include <algorithm>

#include "report/PgChattering.h"
#include "report/ReportTally.h"

using SystemLog::AlarmReport;

namespace {

const QString kDay = QStringLiteral("2025-03-10");

// The report of one machine's records, (seconds after midnight, text) each.
AlarmReport reportOf(const QVector<QPair<int, QByteArray>>& records, bool mergeNumbers = false)
{
    AlarmReport report;
    report.request.since = kDay + QStringLiteral(" 00:00:00");
    report.request.until = kDay + QStringLiteral(" 23:59:59");
    report.request.mergeNumbers = mergeNumbers;
    SystemLog::ReportTally tally(report.request);
    for (const auto& record : records) {
        SystemLog::LogRecord row;
        row.type = 3;
        row.datetime = AlarmReport::stampOf(AlarmReport::secondsOf((kDay + QStringLiteral(" 00:00:00")).toUtf8()) + record.first).toUtf8();
        row.message = record.second;
        tally.add(row);
    }
    SystemLog::ReportTexts texts;
    tally.fill(report, texts);
    SystemLog::deriveFigures(report, texts);
    return report;
}

QVector<QPair<int, QByteArray>> at(const QVector<int>& seconds, const QByteArray& text = "阀门 V7 抖动")
{
    QVector<QPair<int, QByteArray>> records;
    for (int second : seconds)
        records << qMakePair(second, text);
    return records;
}

} // namespace

class tst_AlarmReport : public QObject
{
    Q_OBJECT

private slots:
    void bursts_data();
    void bursts();
    void floods_data();
    void floods();
    void mergedTextsAndTheirPattern_data();
    void mergedTextsAndTheirPattern();
    void storedClock_data();
    void storedClock();
    void burstSpans_data();
    void burstSpans();
};

void tst_AlarmReport::bursts_data()
{
    QTest::addColumn<QVector<int>>("seconds");
    QTest::addColumn<int>("bursts");
    QTest::newRow("three within a minute") << QVector<int>{0, 30, 59} << 1;
    QTest::newRow("the third exactly 60 s after the first") << QVector<int>{0, 30, 60} << 1;
    QTest::newRow("the third 61 s after the first") << QVector<int>{0, 30, 61} << 0;
    QTest::newRow("two occurrences only") << QVector<int>{0, 1} << 0;
    QTest::newRow("every 30 s for an hour is one burst") << [] {
        QVector<int> every;
        for (int second = 0; second <= 3600; second += 30)
            every << second;
        return every;
    }() << 1;
    QTest::newRow("windows sharing one occurrence are one burst") << QVector<int>{0, 10, 20, 75, 80} << 1;
    QTest::newRow("three, a quiet hour, three again") << QVector<int>{0, 10, 20, 3620, 3630, 3640} << 2;
    QTest::newRow("in the same second") << QVector<int>{100, 100, 100} << 1;
    QTest::newRow("every 31 s: never three in a minute") << QVector<int>{0, 31, 62, 93, 124} << 0;
}

void tst_AlarmReport::bursts()
{
    QFETCH(QVector<int>, seconds);
    QFETCH(int, bursts);
    // A steady alarm in between never chatters and does not break the valve's count.
    QVector<QPair<int, QByteArray>> records = at(seconds) + at({5, 3000, 6000}, "主轴温度过高");
    std::sort(records.begin(), records.end());
    const AlarmReport report = reportOf(records);
    QCOMPARE(report.chatteringTexts, bursts > 0 ? 1 : 0);
    QCOMPARE(report.chattering.value(0).bursts, qint64(bursts));
    if (bursts > 0)
        QCOMPARE(report.chattering.first().key, QByteArray("阀门 V7 抖动"));
}

void tst_AlarmReport::floods_data()
{
    QTest::addColumn<QVector<int>>("perPeriod");  // alarms in the periods from 08:00
    QTest::addColumn<QStringList>("floods");      // start-end count
    QTest::addColumn<int>("over");
    QTest::newRow("ten is no flood") << QVector<int>{10} << QStringList() << 0;
    QTest::newRow("eleven is one") << QVector<int>{11} << QStringList{"08:00:00-08:10:00 11"} << 1;
    QTest::newRow("consecutive periods are one flood") << QVector<int>{11, 30, 12} << QStringList{"08:00:00-08:30:00 53"} << 3;
    QTest::newRow("a calm period between makes two") << QVector<int>{20, 10, 15}
                                                     << QStringList{"08:00:00-08:10:00 20", "08:20:00-08:30:00 15"} << 2;
}

void tst_AlarmReport::floods()
{
    QFETCH(QVector<int>, perPeriod);
    QFETCH(QStringList, floods);
    QFETCH(int, over);
    QVector<QPair<int, QByteArray>> records;
    for (int period = 0; period < perPeriod.size(); ++period)
        for (int i = 0; i < perPeriod[period]; ++i)
            records << qMakePair(8 * 3600 + period * 600 + i * 599 / perPeriod[period], QByteArray("压力 P") + QByteArray::number(i) + " 超限");
    const AlarmReport report = reportOf(records);
    QStringList found;
    for (const AlarmReport::Flood& flood : report.floods)
        found << QStringLiteral("%1-%2 %3").arg(flood.start.mid(11), flood.end.mid(11)).arg(flood.count);
    QCOMPARE(found, floods);
    QCOMPARE(report.periodsOver, qint64(over));
    QCOMPARE(report.periods, qint64(144));
    QCOMPARE(report.maxPeriod, qint64(*std::max_element(perPeriod.begin(), perPeriod.end())));
}

void tst_AlarmReport::mergedTextsAndTheirPattern_data()
{
    QTest::addColumn<QByteArrayList>("texts");
    QTest::addColumn<bool>("mergeNumbers");
    QTest::addColumn<QByteArray>("example");  // of the most frequent
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArrayList>("notListed");  // texts the pattern must not match
    QTest::newRow("numbers merged, the first in byte order shown")
        << QByteArrayList{"温度 78.5 °C", "温度 80.25 °C", "温度 9.0 °C"} << true << QByteArray("温度 78.5 °C") << 3
        << QByteArrayList{"温度 78.5 °C 超限", "温度 x °C", "Temp 78.5 °C"};
    QTest::newRow("numbers kept apart without merging")
        << QByteArrayList{"温度 78.5 °C", "温度 80.25 °C", "温度 78.5 °C"} << false << QByteArray("温度 78.5 °C") << 2
        << QByteArrayList{"温度 80.25 °C", "温度 78.5 °C!", "温度 78X5 °C"};
    QTest::newRow("case is kept; pattern characters are plain")
        << QByteArrayList{"Motor (1) 过载*", "Motor (1) 过载*"} << false << QByteArray("Motor (1) 过载*") << 2
        << QByteArrayList{"motor (1) 过载*", "Motor 1 过载", "Motor (1) 过载**"};
}

void tst_AlarmReport::mergedTextsAndTheirPattern()
{
    QFETCH(QByteArrayList, texts);
    QFETCH(bool, mergeNumbers);
    QFETCH(QByteArray, example);
    QFETCH(int, count);
    QFETCH(QByteArrayList, notListed);
    QVector<QPair<int, QByteArray>> records;
    for (int i = 0; i < texts.size(); ++i)
        records << qMakePair(i * 600, texts[i]);
    const AlarmReport report = reportOf(records, mergeNumbers);
    QCOMPARE(report.top.first().example, example);
    QCOMPARE(report.top.first().count, qint64(count));
    const QRegularExpression pattern(AlarmReport::patternOf(report.top.first().key, mergeNumbers),
                                     QRegularExpression::CaseInsensitiveOption);  // as a filter without upper case would ask
    QVERIFY2(pattern.isValid(), qPrintable(pattern.errorString()));
    for (const QByteArray& text : texts) {
        const bool same = mergeNumbers || text == example;
        QCOMPARE(pattern.match(QString::fromUtf8(text)).hasMatch(), same);
    }
    for (const QByteArray& text : notListed)
        QVERIFY2(!pattern.match(QString::fromUtf8(text)).hasMatch(), text.constData());
}

void tst_AlarmReport::storedClock_data()
{
    QTest::addColumn<QByteArray>("stamp");
    QTest::addColumn<qint64>("seconds");  // -1: not a time stamp
    QTest::newRow("the epoch") << QByteArray("1970-01-01 00:00:00") << qint64(0);
    QTest::newRow("a leap day") << QByteArray("2024-02-29 12:34:56") << qint64(1709210096);
    QTest::newRow("the last second of a year") << QByteArray("2025-12-31 23:59:59") << qint64(1767225599);
    QTest::newRow("ISO form with T") << QByteArray("2025-12-31T23:59:59") << qint64(-1);
    QTest::newRow("no seconds") << QByteArray("2025-12-31 23:59") << qint64(-1);
    QTest::newRow("hour 24") << QByteArray("2025-12-31 24:00:00") << qint64(-1);
    QTest::newRow("letters") << QByteArray("2025-1x-31 23:59:59") << qint64(-1);
}

void tst_AlarmReport::storedClock()
{
    QFETCH(QByteArray, stamp);
    QFETCH(qint64, seconds);
    QCOMPARE(AlarmReport::secondsOf(stamp), seconds);
    if (seconds >= 0)
        QCOMPARE(AlarmReport::stampOf(seconds).toUtf8(), stamp);
}

// A cell: machine (0 "plc-1", 1 "plc-2"), period (10-minute periods
// after kDay's midnight; -1 for a stamp without seconds), type, count.
// A span: machine, first and last period.
using Cells = QVector<QVector<qint64>>;
using Spans = QVector<QVector<qint64>>;

void tst_AlarmReport::burstSpans_data()
{
    QTest::addColumn<Cells>("cells");
    QTest::addColumn<Spans>("spans");
    QTest::addColumn<qint64>("records");
    QTest::newRow("three in one period") << Cells{{0, 60, 3, 3}} << Spans{{0, 60, 60}} << qint64(3);
    QTest::newRow("two beside one") << Cells{{0, 60, 3, 2}, {0, 61, 3, 1}} << Spans{{0, 60, 61}} << qint64(3);
    QTest::newRow("two and two with a period between") << Cells{{0, 60, 3, 2}, {0, 62, 3, 2}} << Spans{} << qint64(0);
    QTest::newRow("the types of a period add up") << Cells{{0, 60, 2, 2}, {0, 60, 3, 1}} << Spans{{0, 60, 60}} << qint64(3);
    QTest::newRow("neighbouring periods join") << Cells{{0, 60, 3, 3}, {0, 61, 3, 1}, {0, 62, 3, 3}} << Spans{{0, 60, 62}} << qint64(7);
    QTest::newRow("a gap starts another span") << Cells{{0, 60, 3, 3}, {0, 63, 3, 3}} << Spans{{0, 60, 60}, {0, 63, 63}}
                                               << qint64(6);
    QTest::newRow("two machines' neighbouring periods are not neighbours")
        << Cells{{0, 60, 3, 2}, {1, 61, 3, 2}} << Spans{} << qint64(0);
    QTest::newRow("two machines' spans stay apart") << Cells{{0, 60, 3, 3}, {1, 61, 3, 3}} << Spans{{0, 60, 60}, {1, 61, 61}}
                                                    << qint64(6);
    QTest::newRow("across midnight") << Cells{{0, 143, 3, 2}, {0, 144, 3, 1}} << Spans{{0, 143, 144}} << qint64(3);
    QTest::newRow("stamps without seconds") << Cells{{0, -1, 3, 5}} << Spans{} << qint64(0);
}

void tst_AlarmReport::burstSpans()
{
    QFETCH(Cells, cells);
    QFETCH(Spans, spans);
    QFETCH(qint64, records);
    const qint64 midnight = AlarmReport::secondsOf((kDay + QStringLiteral(" 00:00:00")).toUtf8()) / AlarmReport::kPeriodSeconds;
    AlarmReport report;
    report.machines = QStringList{"plc-1", "plc-2"};
    for (const QVector<qint64>& cell : cells)
        report.cells.push_back({cell[1] < 0 ? -1 : midnight + cell[1], int(cell[0]), int(cell[2]), cell[3]});
    std::sort(report.cells.begin(), report.cells.end(), [](const AlarmReport::Cell& a, const AlarmReport::Cell& b) {
        return std::tie(a.period, a.machine, a.type) < std::tie(b.period, b.machine, b.type);
    });
    qint64 held = -1;
    const std::vector<SystemLog::Span> found = SystemLog::burstSpans(report, held);
    QStringList actual, expected;
    for (const SystemLog::Span& span : found)
        actual << QString::fromUtf8(span.host + ' ' + span.since + ' ' + span.until);
    for (const QVector<qint64>& span : spans)
        expected << report.machines[int(span[0])] + ' ' + AlarmReport::periodText(midnight + span[1]) + ' '
                        + AlarmReport::stampOf((midnight + span[2] + 1) * AlarmReport::kPeriodSeconds - 1);
    QCOMPARE(actual, expected);
    QCOMPARE(held, records);
}

QTEST_GUILESS_MAIN(tst_AlarmReport)
#include "tst_alarmreport.moc"
