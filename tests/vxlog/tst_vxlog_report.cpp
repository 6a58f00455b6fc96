// vxlog report, run as a process on a generated day whose figures are
// known: each figure of its JSON is compared with a direct computation
// over the same records (written here from the definitions, one window of
// three at a time), of one file, several files, the central PostgreSQL.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>

#include "BuiltPath.h"
#include "PostgresServer.h"
#include "VxlogTestSupport.h"

using namespace VxlogTest;

namespace {

// A day in the past, so that no period of it lies ahead of the clock.
const QString kDay = QStringLiteral("2025-03-10");
const QString kEmptyDay = QStringLiteral("2025-03-01");

struct Row
{
    QString host;
    QString datetime;
    int type;
    QString message;
};

QString at(int hour, int minute, int second)
{
    return QStringLiteral("%1 %2:%3:%4")
        .arg(kDay)
        .arg(hour, 2, 10, QLatin1Char('0'))
        .arg(minute, 2, 10, QLatin1Char('0'))
        .arg(second, 2, 10, QLatin1Char('0'));
}

// The day: a steady alarm every 20 minutes; a flood of 15, 12 and 20
// alarms in 08:00-08:30 (texts differing only in their numbers); exactly
// 10 at 09:10 (no flood); a chattering valve (a burst at 12:00 of four,
// one at 14:00 whose third comes 60 s after the first, and three at 16:00
// spread over 61 s, which is none); status and info records around them.
QVector<Row> generatedDay()
{
    QVector<Row> rows;
    for (int minute = 0; minute < 24 * 60; minute += 20)
        rows << Row{QString(), at(minute / 60, minute % 60, 5), 3, QStringLiteral("主轴温度过高")};
    const int flood[] = {15, 12, 20};
    for (int period = 0; period < 3; ++period)
        for (int i = 0; i < flood[period]; ++i)
            rows << Row{QString(), at(8, period * 10 + i % 10, (i * 7) % 60), 3,
                        QStringLiteral("压力 P%1 超限：%2.%3 bar").arg(i % 4).arg(10 + i).arg(i % 10)};
    for (int i = 0; i < 10; ++i)
        rows << Row{QString(), at(9, 10 + i, 30), 3, QStringLiteral("门 %1 打开").arg(i % 2)};
    for (const QString& time : {at(12, 0, 0), at(12, 0, 20), at(12, 0, 40), at(12, 0, 50), at(14, 0, 0), at(14, 0, 30),
                                at(14, 1, 0), at(16, 0, 0), at(16, 0, 30), at(16, 1, 1)})
        rows << Row{QString(), time, 3, QStringLiteral("阀门 V7 抖动")};
    for (int hour = 0; hour < 24; hour += 3) {
        rows << Row{QString(), at(hour, 30, 0), 2, QStringLiteral("系统运行正常")};
        rows << Row{QString(), at(hour, 45, 0), 4, QStringLiteral("备份完成")};
    }
    rows << Row{QString(), QStringLiteral("2025-03-09 23:59:59"), 3, QStringLiteral("前一天的报警")};
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.datetime < b.datetime; });
    return rows;
}

// The rows into fleet_log, ids counted from 1 per host.
QString insertStatement(const QVector<Row>& rows)
{
    QString sql = QStringLiteral("INSERT INTO fleet_log(host, id, datetime, type, message) VALUES ");
    QMap<QString, int> ids;
    for (int i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        sql += QStringLiteral("%1('%2', %3, '%4', %5, '%6')")
                   .arg(i ? QStringLiteral(", ") : QString(), row.host)
                   .arg(++ids[row.host])
                   .arg(row.datetime)
                   .arg(row.type)
                   .arg(QString(row.message).replace(QLatin1Char('\''), QStringLiteral("''")));
    }
    return sql;
}

// One machine's records: an alarm every 20 minutes over `days` days from
// kDay back, two valves' bursts at 12:00 of kDay (texts that merging
// numbers makes one), the first valve alone at 06:00 and at the stamps
// given (odd ones), and a level alarm at the stamps given.
QVector<Row> steadyDays(const QString& host, int days, const QStringList& stamps, const QStringList& levelAlarms = {})
{
    QVector<Row> rows;
    const QDateTime last = QDateTime::fromString(kDay + QStringLiteral(" 00:00:05"), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    for (int minute = 0; minute < days * 24 * 60; minute += 20)
        rows << Row{host, last.addSecs(qint64(minute - (days - 1) * 24 * 60) * 60).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), 3,
                    QStringLiteral("主轴温度过高")};
    for (int i = 0; i < 4; ++i)
        rows << Row{host, at(12, 0, i * 15), 3, QStringLiteral("阀门 V7 抖动")};
    for (int i = 0; i < 3; ++i)
        rows << Row{host, at(12, 2, i * 20), 3, QStringLiteral("阀门 V8 抖动")};
    for (const QString& stamp : stamps + QStringList{at(6, 0, 0)})
        rows << Row{host, stamp, 3, QStringLiteral("阀门 V7 抖动")};
    for (const QString& stamp : levelAlarms)
        rows << Row{host, stamp, 3, QStringLiteral("液位 L2 低")};
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.datetime < b.datetime; });
    return rows;
}

QString merged(const QString& text)
{
    QString shape = text;
    shape.replace(QRegularExpression(QStringLiteral("[0-9]+")), QStringLiteral("0"));
    return shape;
}

qint64 secondsOf(const QString& stamp)
{
    return QDateTime::fromString(stamp, QStringLiteral("yyyy-MM-dd hh:mm:ss")).toSecsSinceEpoch();
}

// Bursts of one machine's occurrences of one text, by the definition:
// every window of three consecutive occurrences whose third lies at most
// 60 s after its first; overlapping windows are one burst.
int burstsOf(QVector<qint64> times)
{
    std::sort(times.begin(), times.end());
    int bursts = 0;
    int lastWindowEnd = -1;  // index of the last occurrence of the last window
    for (int i = 2; i < times.size(); ++i) {
        if (times[i] - times[i - 2] > 60)
            continue;
        if (lastWindowEnd < i - 2)
            ++bursts;
        lastWindowEnd = i;
    }
    return bursts;
}

// Every figure straight from the rows of the day asked for, of the types asked.
QJsonObject directFigures(const QVector<Row>& all, const QString& day, const QVector<int>& types, bool mergeNumbers)
{
    QVector<Row> rows;
    for (const Row& row : all)
        if (row.datetime.startsWith(day) && (types.isEmpty() || types.contains(row.type)))
            rows << row;
    QJsonObject figures;
    figures["total"] = rows.size();
    QVector<qint64> perHour(24, 0);
    QMap<QString, int> perPeriod;
    QMap<QString, int> texts;
    QMap<QString, QString> examples;
    QMap<QPair<QString, QString>, QVector<qint64>> times;  // (host, text)
    for (const Row& row : rows) {
        ++perHour[row.datetime.mid(11, 2).toInt()];
        ++perPeriod[row.datetime.left(15)];
        const QString key = mergeNumbers ? merged(row.message) : row.message;
        ++texts[key];
        if (!examples.contains(key) || row.message.toUtf8() < examples[key].toUtf8())
            examples[key] = row.message;
        times[qMakePair(row.host, key)] << secondsOf(row.datetime);
    }
    QJsonArray hours;
    for (qint64 count : perHour)
        hours << count;
    figures["per_hour"] = hours;
    int most = 0, over = 0;
    QJsonArray floods;
    QString floodStart, floodEnd;
    int floodCount = 0;
    const QDateTime midnight = QDateTime::fromString(day + QStringLiteral(" 00:00:00"), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    for (int period = 0; period <= 144; ++period) {
        const QString start = midnight.addSecs(period * 600).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        const int count = period < 144 ? perPeriod.value(start.left(15)) : 0;
        most = qMax(most, count);
        if (count > 10) {
            ++over;
            if (floodStart.isEmpty())
                floodStart = start;
            floodCount += count;
            floodEnd = midnight.addSecs((period + 1) * 600).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        } else if (!floodStart.isEmpty()) {
            floods << QJsonObject{{"start", floodStart}, {"end", floodEnd}, {"count", floodCount}};
            floodStart.clear();
            floodCount = 0;
        }
    }
    figures["max_10min"] = most;
    figures["periods_over_10"] = over;
    figures["floods"] = floods;
    QVector<QPair<int, QString>> byCount;
    for (auto it = texts.cbegin(); it != texts.cend(); ++it)
        byCount << qMakePair(-it.value(), it.key());
    std::sort(byCount.begin(), byCount.end(), [](const QPair<int, QString>& a, const QPair<int, QString>& b) {
        return a.first != b.first ? a.first < b.first : a.second.toUtf8() < b.second.toUtf8();
    });
    QJsonArray top;
    int topTen = 0;
    for (int i = 0; i < byCount.size(); ++i) {
        if (i < 10) {
            top << QJsonObject{{"message", examples[byCount[i].second]}, {"count", -byCount[i].first}};
            topTen -= byCount[i].first;
        }
    }
    figures["top"] = top;
    figures["top10_share"] = rows.isEmpty() ? 0.0 : double(topTen) / rows.size();
    QMap<QString, int> bursts;
    for (auto it = times.cbegin(); it != times.cend(); ++it)
        if (const int b = burstsOf(it.value()))
            bursts[it.key().second] += b;
    QJsonArray chattering;
    for (auto it = bursts.cbegin(); it != bursts.cend(); ++it)
        chattering << QJsonObject{{"message", examples[it.key()]}, {"bursts", it.value()}};
    figures["chattering"] = chattering;
    return figures;
}

// The figures of the report's JSON that directFigures() computes, in its form.
QJsonObject reportedFigures(const QJsonObject& report)
{
    QJsonObject figures;
    for (const char* key : {"total", "per_hour", "max_10min", "periods_over_10", "top10_share"})
        figures[key] = report[key];
    QJsonArray floods;
    for (const QJsonValue& flood : report["floods"].toArray())
        floods << QJsonObject{{"start", flood["start"]}, {"end", flood["end"]}, {"count", flood["count"]}};
    figures["floods"] = floods;
    QJsonArray top;
    for (const QJsonValue& text : report["top"].toArray())
        top << QJsonObject{{"message", text["message"]}, {"count", text["count"]}};
    figures["top"] = top;
    QMap<QString, QJsonValue> chattering;
    for (const QJsonValue& text : report["chattering"].toArray())
        chattering[text["message"].toString()] = text["bursts"];
    QJsonArray sorted;
    for (auto it = chattering.cbegin(); it != chattering.cend(); ++it)
        sorted << QJsonObject{{"message", it.key()}, {"bursts", it.value()}};
    figures["chattering"] = sorted;
    return figures;
}

} // namespace

Q_DECLARE_METATYPE(Row)

class tst_VxlogReport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void figuresAsComputedDirectly_data();
    void figuresAsComputedDirectly();
    void forms_data();
    void forms();
    void databaseAsTheMachinesFile_data();
    void databaseAsTheMachinesFile();

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    void writeFile(const QString& name, const QVector<Row>& rows);
    bool startPostgres(QString& why);

    QTemporaryDir m_dir;
    QTemporaryDir m_serverDir;
    QVector<Row> m_day;
    QVector<Row> m_machines;  // the day on two machines
    std::unique_ptr<PostgresServer> m_server;
    QString m_databaseUrl;
    QString m_noDatabase;  // why PostgreSQL rows are skipped
};

void tst_VxlogReport::writeFile(const QString& name, const QVector<Row>& rows)
{
    TestDatabase db(path(name));
    createLogTable(db);
    db.exec(QStringLiteral("BEGIN"));
    for (const Row& row : rows)
        QVERIFY(db.insertRow(row.datetime, row.type, row.message));
    db.exec(QStringLiteral("COMMIT"));
}

bool tst_VxlogReport::startPostgres(QString& why)
{
    m_server = std::make_unique<PostgresServer>(m_serverDir.path());
    if (!m_server->start(why))
        return false;
    if (!m_server->psql(QStringLiteral("postgres"), {"-c", "CREATE DATABASE fleet TEMPLATE template0 ENCODING 'UTF8' LOCALE 'C'"}, why)
        || !m_server->psql(QStringLiteral("fleet"), {"-f", vxtest::built(VX_SOURCE_DIR "/docs/fleet_log.sql")}, why))
        return false;
    if (!m_server->psql(QStringLiteral("fleet"), {"-c", insertStatement(m_machines)}, why)
        || !m_server->psql(QStringLiteral("fleet"), {"-c", "CREATE ROLE one_connection LOGIN CONNECTION LIMIT 1; "
                                                           "GRANT SELECT ON fleet_log TO one_connection"},
                           why))
        return false;
    m_databaseUrl = m_server->url(QStringLiteral("fleet"));
    return true;
}

void tst_VxlogReport::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_day = generatedDay();
    writeFile(QStringLiteral("dbLog.db"), m_day);
    // The same records on two machines: every third on plc-2, so that the
    // valve chatters on neither alone in part of its bursts.
    QVector<Row> first, second;
    for (int i = 0; i < m_day.size(); ++i) {
        Row row = m_day[i];
        row.host = i % 3 == 2 ? QStringLiteral("plc-2") : QStringLiteral("plc-1");
        (i % 3 == 2 ? second : first) << row;
        m_machines << row;
    }
    writeFile(QStringLiteral("plc-1.db"), first);
    writeFile(QStringLiteral("plc-2.db"), second);
    // The day holds what it is made for: one flood, the valve's two bursts.
    const QJsonObject day = directFigures(m_day, kDay, {3}, false);
    QCOMPARE(day["floods"].toArray().size(), 1);
    QCOMPARE(day["chattering"].toArray(), (QJsonArray{QJsonObject{{"message", "阀门 V7 抖动"}, {"bursts", 2}}}));
    QString why;
    if (!startPostgres(why))
        m_noDatabase = why;
}

void tst_VxlogReport::figuresAsComputedDirectly_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("machines");     // the day on two machines
    QTest::addColumn<bool>("database");     // read from PostgreSQL
    QTest::addColumn<QString>("day");
    QTest::addColumn<QVector<int>>("types");
    QTest::addColumn<bool>("mergeNumbers");

    const QStringList day{"--day", kDay};
    QTest::newRow("one file, alarms") << day << false << false << kDay << QVector<int>{3} << false;
    QTest::newRow("one file, merge numbers") << day + QStringList{"--merge-numbers"} << false << false << kDay << QVector<int>{3} << true;
    QTest::newRow("one file, every type") << day + QStringList{"-p", "all"} << false << false << kDay << QVector<int>() << false;
    QTest::newRow("one file, an empty day") << QStringList{"--day", kEmptyDay} << false << false << kEmptyDay
                                            << QVector<int>{3} << false;
    QTest::newRow("two files") << day << true << false << kDay << QVector<int>{3} << false;
    QTest::newRow("two files, merge numbers") << day + QStringList{"--merge-numbers"} << true << false << kDay << QVector<int>{3} << true;
    QTest::newRow("PostgreSQL") << day << true << true << kDay << QVector<int>{3} << false;
    QTest::newRow("PostgreSQL, merge numbers") << day + QStringList{"--merge-numbers"} << true << true << kDay << QVector<int>{3} << true;
    QTest::newRow("PostgreSQL, every type") << day + QStringList{"-p", "all"} << true << true << kDay << QVector<int>() << false;
    QTest::newRow("PostgreSQL, an empty day") << QStringList{"--day", kEmptyDay} << true << true << kEmptyDay
                                              << QVector<int>{3} << false;
}

void tst_VxlogReport::figuresAsComputedDirectly()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, machines);
    QFETCH(bool, database);
    QFETCH(QString, day);
    QFETCH(QVector<int>, types);
    QFETCH(bool, mergeNumbers);
    if (database && m_databaseUrl.isEmpty())
        QSKIP(qPrintable(QStringLiteral("PostgreSQL cannot be started here: ") + m_noDatabase));
    QStringList sources;
    if (database)
        sources << "--db" << m_databaseUrl;
    else if (machines)
        sources << "--db" << path("plc-1.db") << "--db" << path("plc-2.db");
    else
        sources << "--db" << path("dbLog.db");

    const Result result = runVxlog(QStringList{"report", "-o", "json"} + sources + arguments, m_dir.path());
    QVERIFY2(!result.crashed && result.exitCode == 0, result.err.constData());
    QJsonParseError error;
    const QJsonObject report = QJsonDocument::fromJson(result.out, &error).object();
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
    const QJsonObject expected = directFigures(machines ? m_machines : m_day, day, types, mergeNumbers);
    const QJsonObject actual = reportedFigures(report);
    for (const QString& key : expected.keys()) {
        if (key == QLatin1String("top10_share"))
            QVERIFY2(qAbs(actual[key].toDouble() - expected[key].toDouble()) < 1e-9, qPrintable(key));
        else
            QVERIFY2(actual[key] == expected[key],
                     qPrintable(QStringLiteral("%1: %2 against %3")
                                    .arg(key, QString::fromUtf8(QJsonDocument(QJsonObject{{key, actual[key]}}).toJson(QJsonDocument::Compact)),
                                         QString::fromUtf8(QJsonDocument(QJsonObject{{key, expected[key]}}).toJson(QJsonDocument::Compact)))));
    }
    // A day has 144 periods; its days and types are listed whatever they hold.
    QCOMPARE(report["periods"].toInt(), 144);
    QCOMPARE(report["per_day"].toArray(), (QJsonArray{QJsonObject{{"day", day}, {"count", expected["total"]}}}));
    QMap<int, int> perType;
    for (const Row& row : m_day)
        if (row.datetime.startsWith(day))
            ++perType[row.type];
    for (const QJsonValue& type : report["per_type"].toArray())
        QCOMPARE(type["count"].toInt(), perType.value(type["type"].toInt()));
    QCOMPARE(report["machines"].toArray().size(), machines && expected["total"].toInt() > 0 ? 2 : 0);
}

void tst_VxlogReport::forms_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("expected");  // texts the output holds

    const QStringList day{"--day", kDay};
    QTest::newRow("text: figures beside references, the flood, the valve")
        << day << 0
        << QStringList{"报警指标", "一个十分钟时段内最多报警数", "超出参考值", kDay + " 08:00:00  " + kDay + " 08:30:00",
                       "阀门 V7 抖动", "无法统计的指标", "优先级"};
    QTest::newRow("text: -n 2 lists two texts") << day + QStringList{"-n", "2"} << 0 << QStringList{"最常见的报警（前 2"};
    QTest::newRow("html: one page with its charts") << day + QStringList{"-o", "html"} << 0
                                                    << QStringList{"<!DOCTYPE html>", "<svg", "</html>", "阀门 V7 抖动"};
    QTest::newRow("grep keeps those texts") << day + QStringList{"-o", "json", "-g", "阀门"} << 0 << QStringList{"\"total\": 10"};
    QTest::newRow("an unknown form is a usage error") << day + QStringList{"-o", "csv"} << 2 << QStringList();
    QTest::newRow("a missing file fails") << QStringList{"--db", "missing.db"} << 1 << QStringList();
}

void tst_VxlogReport::forms()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, expected);
    const Result result = runVxlog(QStringList{"report"} + arguments, m_dir.path());
    QVERIFY(!result.crashed);
    QCOMPARE(result.exitCode, exitCode);
    const QString out = QString::fromUtf8(result.out);
    for (const QString& text : expected)
        QVERIFY2(out.contains(text), qPrintable(text + QStringLiteral(" not in:\n") + out));
    if (exitCode != 0)
        QVERIFY(!result.err.isEmpty());
}

// What the central PostgreSQL reports of one machine is what that
// machine's own file reports: the periods, the texts, the chattering and
// the totals,
// whichever way the database counts the bursts (over the periods that can
// hold them when they are few, or over the whole period) and whatever
// stamps it holds.
void tst_VxlogReport::databaseAsTheMachinesFile_data()
{
    QTest::addColumn<QVector<Row>>("records");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("role");  // the database's role, none: the test's own

    const QStringList week{"--since", "2025-03-04 00:00:00", "--until", kDay + " 23:59:59"};
    // Stamps within the day that the database's cast refuses, by a field's
    // range and by their form.
    const QStringList odd{at(12, 0, 0).left(14) + "61:00", at(12, 0, 0).left(11) + "1x:00:00"};
    // Stamps other programs write (no seconds, fractions of a second),
    // which the cast would read as a burst of three, and a file's report
    // reads no time from.
    const QStringList otherForms{at(14, 0, 0).left(16), at(14, 0, 10) + ".250", at(14, 0, 20) + ".5"};
    QTest::newRow("a quiet week, bursts in a few periods") << steadyDays("quiet", 7, {}) << week << QString();
    QTest::newRow("a quiet week, merge numbers") << steadyDays("quiet-merged", 7, {}) << week + QStringList{"--merge-numbers"}
                                                 << QString();
    QTest::newRow("a quiet week, odd stamps") << steadyDays("quiet-odd", 7, odd) << week << QString();
    // Three level alarms within a minute in two periods that hold two
    // alarms each (the steady alarm at hh:20:05 in the second): the burst
    // lies in their span only through the neighbour's count.
    QTest::newRow("a burst across two periods") << steadyDays("border", 7, {}, {at(12, 19, 30), at(12, 19, 50), at(12, 20, 20)})
                                                << week << QString();
    QTest::newRow("a burst across midnight")
        << steadyDays("midnight", 7, {}, {"2025-03-09 23:59:50", "2025-03-09 23:59:55", at(0, 0, 30)}) << week << QString();
    QTest::newRow("nothing but bursts, odd stamps") << steadyDays("bursts-odd", 0, odd) << QStringList{"--day", kDay} << QString();
    QTest::newRow("a quiet week, stamps in other forms") << steadyDays("quiet-forms", 7, otherForms) << week << QString();
    QTest::newRow("nothing but bursts, stamps in other forms") << steadyDays("bursts-forms", 0, otherForms)
                                                               << QStringList{"--day", kDay} << QString();
    // A reader the database allows one connection: the figures counted side
    // by side elsewhere are counted on it, one after the other, and a
    // refused cast read again there is no failure.
    QTest::newRow("one connection, a quiet week") << steadyDays("one-quiet", 7, {}) << week << QStringLiteral("one_connection");
    QTest::newRow("one connection, odd stamps") << steadyDays("one-odd", 0, odd) << QStringList{"--day", kDay}
                                                << QStringLiteral("one_connection");
}

void tst_VxlogReport::databaseAsTheMachinesFile()
{
    QFETCH(QVector<Row>, records);
    QFETCH(QStringList, arguments);
    QFETCH(QString, role);
    if (m_databaseUrl.isEmpty())
        QSKIP(qPrintable(QStringLiteral("PostgreSQL cannot be started here: ") + m_noDatabase));
    const QString host = records.first().host;
    writeFile(host + QStringLiteral(".db"), records);
    QString why;
    QVERIFY2(m_server->psql(QStringLiteral("fleet"), {"-c", insertStatement(records)}, why), qPrintable(why));

    QJsonObject reports[2];
    const QString url = role.isEmpty() ? m_databaseUrl : m_server->url(QStringLiteral("fleet"), role);
    const QStringList sources[2] = {{"--db", path(host + QStringLiteral(".db"))}, {"--db", url, "--host", host}};
    for (int i = 0; i < 2; ++i) {
        const Result result = runVxlog(QStringList{"report", "-o", "json"} + sources[i] + arguments, m_dir.path());
        QVERIFY2(!result.crashed && result.exitCode == 0, result.err.constData());
        reports[i] = QJsonDocument::fromJson(result.out).object();
    }
    for (const char* key : {"total", "per_day", "per_hour", "max_10min", "floods", "top", "distinct_texts", "chattering",
                            "chattering_texts", "per_type"})
        QVERIFY2(reports[1][key] == reports[0][key],
                 qPrintable(QStringLiteral("%1: %2 against the file's %3")
                                .arg(QLatin1String(key),
                                     QString::fromUtf8(QJsonDocument(QJsonObject{{key, reports[1][key]}}).toJson(QJsonDocument::Compact)),
                                     QString::fromUtf8(QJsonDocument(QJsonObject{{key, reports[0][key]}}).toJson(QJsonDocument::Compact)))));
    QVERIFY(reports[0]["chattering_texts"].toInt() > 0);
}

QTEST_GUILESS_MAIN(tst_VxlogReport)
#include "tst_vxlog_report.moc"
