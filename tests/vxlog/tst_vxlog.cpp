// The vxlog program run as a process on databases the test builds: the
// filters and orders of query, the output formats read back by real parsers,
// type values no program of this system writes, export against the viewer's
// own export, write, stats, the journal tool's habits, reading after a
// writer was killed in mid-transaction, the failure and usage statuses (a
// full standard output included), and that no read command changes the
// database file.
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <vxSyslog/DayExport.h>
#include <vxSyslog/RecordTypes.h>
#include <vxSyslog/vxSysLog.h>

#include "BuiltPath.h"
#include "InterruptedWrite.h"
#include "VxlogTestSupport.h"

using namespace VxlogTest;

namespace {

using Ids = QList<qint64>;

// Ids of the JSON Lines output, in output order; every line must parse.
Ids idsOfJson(const QByteArray& out)
{
    Ids ids;
    for (const QByteArray& line : out.split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            return {-1};
        ids << static_cast<qint64>(document.object().value(QStringLiteral("id")).toDouble());
    }
    return ids;
}

} // namespace

class tst_Vxlog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void query_data();
    void query();
    void count_data();
    void count();
    void grepDecidesAsTheViewerReads_data();
    void grepDecidesAsTheViewerReads();
    void formatsRoundTripEveryMessage();
    void unexpectedTypeValues_data();
    void unexpectedTypeValues();
    void statsGivesUnexpectedTypesTheirColumns();
    void textIsTheViewersRecordBlock();
    void exportIsTheViewersFile_data();
    void exportIsTheViewersFile();
    void exportHoldsWhatThePaneLists_data();
    void exportHoldsWhatThePaneLists();
    void exportFolders_data();
    void exportFolders();
    void writeStoresWholeLines_data();
    void writeStoresWholeLines();
    void writeStoresALineUpToANulByte_data();
    void writeStoresALineUpToANulByte();
    void integerTypesBeyondIntShowTheirNumber_data();
    void integerTypesBeyondIntShowTheirNumber();
    void writeRefusesWhatItCannotStore_data();
    void writeRefusesWhatItCannotStore();
    void statsCountsPerDayAndType();
    void readsAfterACrash_data();
    void readsAfterACrash();
    void unreadableDatabase_data();
    void unreadableDatabase();
    void outputFailureIsStatusOne_data();
    void outputFailureIsStatusOne();
    void journalHabits_data();
    void journalHabits();
    void formatsAndZones_data();
    void formatsAndZones();
    void usageError_data();
    void usageError();
    void readCommandsLeaveTheFileAlone_data();
    void readCommandsLeaveTheFileAlone();

private:
    QTemporaryDir m_dir;
    QString m_db;
    QDateTime m_now;
    QString m_unexpectedTypes;  // a database whose types no program of this system writes
    QString m_twoRecords;       // two records of 2024-05-01, for exact output

    QString unexpectedTypesDatabase() const { return m_unexpectedTypes; }
};

void tst_Vxlog::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_db = m_dir.filePath(QStringLiteral("dbLog.db"));
    m_now = QDateTime::currentDateTime();
    TestDatabase db(m_db);
    createLogTable(db);
    // id: stamp, type, message. Row 7 was stored after row 3 with an earlier
    // stamp (the clock set back); rows 8 and 9 are relative to now.
    const struct { QString at; int type; QString message; } rows[] = {
        {QStringLiteral("2024-05-01 00:00:00"), 0, QStringLiteral("midnight start")},
        {QStringLiteral("2024-05-01 08:00:00"), 3, QStringLiteral("Alarm: motor HOT")},
        {QStringLiteral("2024-05-01 12:00:00"), 2, QStringLiteral("status ok")},
        {QStringLiteral("2024-05-01 23:59:59"), 3, QStringLiteral("alarm end of day")},
        {QStringLiteral("2024-05-02 00:00:00"), 4, QStringLiteral("next day")},
        {QStringLiteral("2024-04-30 23:59:59"), 1, QStringLiteral("day before")},
        {QStringLiteral("2024-05-01 10:00:00"), 3, QStringLiteral("clock set back")},
        {stamp(m_now.addSecs(-3600)), 4, QStringLiteral("an hour ago")},
        {stamp(m_now.addSecs(-3 * 3600)), 4, QStringLiteral("three hours ago")},
    };
    for (const auto& row : rows)
        QVERIFY(db.insertRow(row.at, row.type, row.message));

    m_unexpectedTypes = m_dir.filePath(QStringLiteral("types.db"));
    TestDatabase types(m_unexpectedTypes);
    createLogTable(types);
    QVERIFY(types.exec(QStringLiteral(
        "INSERT INTO SystemInfo(datetime, type, message) VALUES ('2024-07-01 10:00:00', 3, 'alarm'), "
        "('2024-07-01 10:00:01', 99, 'ninety-nine'), ('2024-07-01 10:00:02', -1, 'minus one'), "
        "('2024-07-01 10:00:03', NULL, 'no type'), ('2024-07-01 10:00:04', '报警', 'text type'), "
        "('2024-07-01 10:00:05', 3.5, 'real type')")));

    m_twoRecords = m_dir.filePath(QStringLiteral("two.db"));
    TestDatabase two(m_twoRecords);
    createLogTable(two);
    QVERIFY(two.insertRow(QStringLiteral("2024-05-01 08:00:00"), 3, QStringLiteral("Alarm: motor HOT")));
    QVERIFY(two.insertRow(QStringLiteral("2024-05-01 12:00:00"), 2, QStringLiteral("two\nlines\n")));
}

void tst_Vxlog::query_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Ids>("ids");

    const Ids byTime{6, 1, 2, 7, 3, 4, 5, 9, 8};
    QTest::newRow("everything, time order") << QStringList() << byTime;
    QTest::newRow("type all") << QStringList{"--type", "all"} << byTime;
    QTest::newRow("one type code") << QStringList{"--type", "3"} << Ids{2, 7, 4};
    QTest::newRow("caption and code") << QStringList{"--type", "报警记录,2"} << Ids{2, 7, 3, 4};
    QTest::newRow("short -p") << QStringList{"-p", "0,1"} << Ids{6, 1};
    QTest::newRow("day keeps both ends") << QStringList{"--day", "2024-05-01"} << Ids{1, 2, 7, 3, 4};
    QTest::newRow("since/until include their bounds")
        << QStringList{"--since", "2024-05-01 08:00:00", "--until", "2024-05-01 12:00:00"} << Ids{2, 7, 3};
    QTest::newRow("since a date is its midnight") << QStringList{"--since", "2024-05-02"} << Ids{5, 9, 8};
    QTest::newRow("until a date is its midnight") << QStringList{"--until", "2024-05-01"} << Ids{6, 1};
    QTest::newRow("until yesterday") << QStringList{"--until", "yesterday", "--type", "4"} << Ids{5};
    QTest::newRow("since -2h") << QStringList{"--since", "-2h"} << Ids{8};
    QTest::newRow("between -4h and -2h") << QStringList{"--since", "-4h", "--until", "-2h"} << Ids{9};
    QTest::newRow("since -30min") << QStringList{"--since=-30min"} << Ids{};
    QTest::newRow("since -7d") << QStringList{"-S", "-7d"} << Ids{9, 8};
    QTest::newRow("since -1w") << QStringList{"-S", "-1w"} << Ids{9, 8};
    QTest::newRow("since -3d") << QStringList{"-S", "-3d"} << Ids{9, 8};
    QTest::newRow("since -90m") << QStringList{"--since", "-90m"} << Ids{8};
    QTest::newRow("since 100 min ago") << QStringList{"--since", "100 min ago"} << Ids{8};
    QTest::newRow("until +1h") << QStringList{"--until", "+1h", "-p", "4"} << Ids{5, 9, 8};
    // A clock time is today's: two hours ago, unless that was yesterday.
    const QDateTime twoHoursAgo = m_now.addSecs(-2 * 3600);
    QTest::newRow("since hh:mm:ss today") << QStringList{"--since", twoHoursAgo.toString(QStringLiteral("hh:mm:ss"))}
                                          << (twoHoursAgo.date() == m_now.date() ? Ids{8} : Ids{});
    QTest::newRow("type names in English, any case") << QStringList{"-p", "ALARM,status"} << Ids{2, 7, 3, 4};
    QTest::newRow("a type number no row has") << QStringList{"-p", "99"} << Ids{};
    QTest::newRow("grep in lower case ignores case") << QStringList{"--grep", "alarm"} << Ids{2, 4};
    QTest::newRow("grep with an upper-case letter keeps it") << QStringList{"-g", "Alarm"} << Ids{2};
    QTest::newRow("grep ignoring case") << QStringList{"--grep", "Alarm", "--ignore-case"} << Ids{2, 4};
    QTest::newRow("grep case-sensitive") << QStringList{"-g", "alarm", "--case-sensitive"} << Ids{4};
    QTest::newRow("grep is a regular expression") << QStringList{"-g", "^s.*k$"} << Ids{3};
    QTest::newRow("last 2") << QStringList{"-n", "2"} << Ids{9, 8};
    QTest::newRow("last 5 in time order, not id order") << QStringList{"-n", "5"} << Ids{3, 4, 5, 9, 8};
    QTest::newRow("last more than there are") << QStringList{"-n", "100"} << byTime;
    QTest::newRow("last 2 newest first") << QStringList{"-n", "2", "--reverse"} << Ids{8, 9};
    QTest::newRow("newest first") << QStringList{"--reverse", "--type", "3"} << Ids{4, 7, 2};
    QTest::newRow("last 2 of a grep and a type") << QStringList{"-n", "2", "-g", "a", "-p", "3"} << Ids{7, 4};
    QTest::newRow("last 0") << QStringList{"-n", "0"} << Ids{};
    QTest::newRow("last all") << QStringList{"-n", "all"} << byTime;
    QTest::newRow("last more than an int holds") << QStringList{"-n", "99999999999"} << byTime;
    QTest::newRow("last with leading zeros") << QStringList{"-n", "002"} << Ids{9, 8};
    QTest::newRow("-e: the last 1000") << QStringList{"-e"} << byTime;
    QTest::newRow("-e with -n") << QStringList{"-e", "-n", "2"} << Ids{9, 8};
    QTest::newRow("since ISO with T") << QStringList{"-S", "2024-05-01T12:00:00"} << Ids{3, 4, 5, 9, 8};
    QTest::newRow("since ISO with T, no seconds") << QStringList{"-S", "2024-05-01T12:00"} << Ids{3, 4, 5, 9, 8};
    QTest::newRow("since -1M") << QStringList{"-S", "-1M"} << Ids{9, 8};
    QTest::newRow("until 2 months ago") << QStringList{"-U", "2 months ago"} << Ids{6, 1, 2, 7, 3, 4, 5};
    QTest::newRow("until -1y") << QStringList{"--until", "-1y"} << Ids{6, 1, 2, 7, 3, 4, 5};
    QTest::newRow("nothing matches") << QStringList{"--day", "2020-01-01"} << Ids{};
    // Rows 9 and 8 were stamped three hours and an hour ago: today's or yesterday's.
    Ids today, yesterday;
    for (const auto& [id, hours] : {std::pair<qint64, int>{9, 3}, {8, 1}})
        (m_now.addSecs(-hours * 3600).date() == m_now.date() ? today : yesterday) << id;
    QTest::newRow("day today, as --since today takes it") << QStringList{"--day", "today"} << today;
    QTest::newRow("day yesterday") << QStringList{"--day", "yesterday", "-p", "4"} << yesterday;
    QTest::newRow("after id 5, in time order") << QStringList{"--after-id", "5"} << Ids{6, 7, 9, 8};
    QTest::newRow("the last 2 after id 5") << QStringList{"--after-id", "5", "-n", "2"} << Ids{9, 8};
    QTest::newRow("after the newest id") << QStringList{"--after-id", "9"} << Ids{};
}

void tst_Vxlog::query()
{
    QFETCH(QStringList, arguments);
    QFETCH(Ids, ids);
    const Result r = runVxlog(QStringList{"query", "-o", "json"} + arguments, m_dir.path());
    QVERIFY2(!r.crashed && r.exitCode == 0, r.err.constData());
    QCOMPARE(idsOfJson(r.out), ids);
}

void tst_Vxlog::count_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("count");
    QTest::newRow("all") << QStringList() << QByteArray("9\n");
    QTest::newRow("one type") << QStringList{"--type", "3"} << QByteArray("3\n");
    QTest::newRow("grep") << QStringList{"--grep", "ALARM", "--ignore-case"} << QByteArray("2\n");
    QTest::newRow("day") << QStringList{"--day", "2024-05-02"} << QByteArray("1\n");
    QTest::newRow("none") << QStringList{"--type", "1", "--day", "2024-05-01"} << QByteArray("0\n");
}

void tst_Vxlog::count()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, count);
    const Result r = runVxlog(QStringList{"query", "--count"} + arguments, m_dir.path());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, count);
}

void tst_Vxlog::grepDecidesAsTheViewerReads_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("fixed"); // -F
    QTest::addColumn<QByteArray>("count");
    QTest::newRow("plain, lower case: any case") << QStringLiteral("alarm") << false << QByteArray("3\n");
    QTest::newRow("plain, upper case: that case") << QStringLiteral("ALARM") << false << QByteArray("1\n");
    QTest::newRow("Chinese") << QStringLiteral("温度") << false << QByteArray("1\n");
    QTest::newRow("k folds from the Kelvin sign") << QStringLiteral("k sign") << false << QByteArray("1\n");
    QTest::newRow("bytes that are not UTF-8 read as U+FFFD") << QStringLiteral("d\uFFFD a") << false << QByteArray("1\n");
    QTest::newRow("a regular expression") << QStringLiteral("al.rm$") << false << QByteArray("3\n");
    QTest::newRow("brackets group a regular expression") << QStringLiteral("号(4001)") << false << QByteArray("1\n");
    QTest::newRow("-F: brackets are text") << QStringLiteral("号(4001)") << true << QByteArray("1\n");
    QTest::newRow("-F: an unbalanced bracket is text") << QStringLiteral("(4001") << true << QByteArray("1\n");
    QTest::newRow("-F: a dot is a dot") << QStringLiteral("al.rm") << true << QByteArray("0\n");
    QTest::newRow("-F: upper case keeps its case") << QStringLiteral("ALARM") << true << QByteArray("1\n");
    QTest::newRow("-F: lower case ignores case, Kelvin sign too") << QStringLiteral("k sign") << true << QByteArray("1\n");
    QTest::newRow("-F: bytes that are not UTF-8 read as U+FFFD") << QStringLiteral("d\uFFFD a") << true << QByteArray("1\n");
}

void tst_Vxlog::grepDecidesAsTheViewerReads()
{
    QFETCH(QString, pattern);
    QFETCH(bool, fixed);
    QFETCH(QByteArray, count);
    QTemporaryDir dir;
    {
        TestDatabase db(dir.filePath(QStringLiteral("dbLog.db")));
        createLogTable(db);
        for (const QString& message : {QStringLiteral("plain alarm"), QStringLiteral("温度过高 ALARM"),
                                       QStringLiteral("\u212A sign"), QStringLiteral("nothing here"),
                                       QStringLiteral("报警号(4001) 过载"), QStringLiteral("报警号4001 过载")})
            QVERIFY(db.insertRow(QStringLiteral("2024-05-01 08:00:00"), 3, message));
        QVERIFY(db.exec(QStringLiteral("INSERT INTO SystemInfo(datetime, type, message) "
                                       "VALUES('2024-05-01 08:00:00', 3, CAST(X'626164FF20616C61726D' AS TEXT))")));
    }
    const Result r = runVxlog(QStringList{"query", "--count", "-g", pattern} + (fixed ? QStringList{"-F"} : QStringList()),
                              dir.path());
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(r.out, count);
}

void tst_Vxlog::formatsRoundTripEveryMessage()
{
    QStringList messages{
        QStringLiteral("plain"),
        QStringLiteral("say \"hi\", then \"bye\""),
        QStringLiteral("a,b,,c"),
        QStringLiteral("two\nlines\n"),
        QStringLiteral("crlf\r\nend"),
        QStringLiteral("tab\there\\back\\slash"),
        QStringLiteral("报警：温度过高，请检查冷却系统"),
        QStringLiteral("<b>bold</b> &amp; <script>x</script>"),
        QStringLiteral("control \x01 char"),
        QString(),
        QStringLiteral("'single' quotes"),
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    {
        TestDatabase db(path);
        createLogTable(db);
        for (int i = 0; i < messages.size(); ++i)
            QVERIFY(db.insertRow(QStringLiteral("2024-06-01 10:00:%1").arg(i, 2, 10, QLatin1Char('0')), i % 5, messages.at(i)));
        // Bytes that are not UTF-8, as another program may store them (one
        // with a NUL byte after them, which is no end of the text).
        for (const char* hex : {"61FF62", "E4B8206F6B00E4B8AD"})
            QVERIFY(db.exec(QStringLiteral("INSERT INTO SystemInfo(datetime, type, message) VALUES('2024-06-01 10:00:%1', %2, "
                                           "CAST(X'%3' AS TEXT))")
                                .arg(messages.size() + (hex[0] == 'E'))
                                .arg((messages.size() + (hex[0] == 'E')) % 5)
                                .arg(QLatin1String(hex))));
    }
    messages << QStringLiteral("a\uFFFDb") << QStringLiteral("\uFFFD\uFFFD ok") + QChar(0) + QStringLiteral("中");

    const Result json = runVxlog({"query", "--format", "json"}, dir.path());
    QCOMPARE(json.exitCode, 0);
    QList<QByteArray> lines = json.out.split('\n');
    QCOMPARE(lines.takeLast(), QByteArray());
    QCOMPARE(lines.size(), messages.size());
    for (int i = 0; i < messages.size(); ++i) {
        const QJsonObject object = QJsonDocument::fromJson(lines.at(i)).object();
        QCOMPARE(object.value(QStringLiteral("message")).toString(), messages.at(i));
        QCOMPARE(object.value(QStringLiteral("id")).toInt(), i + 1);
        QCOMPARE(object.value(QStringLiteral("type")).toInt(), i % 5);
        QCOMPARE(object.value(QStringLiteral("type_name")).toString(), SystemLog::recordTypeCaption(i % 5));
        QCOMPARE(object.value(QStringLiteral("datetime")).toString(),
                 QStringLiteral("2024-06-01 10:00:%1").arg(i, 2, 10, QLatin1Char('0')));
    }

    const Result csv = runVxlog({"query", "--format", "csv"}, dir.path());
    QCOMPARE(csv.exitCode, 0);
    const QList<QStringList> records = parseCsv(QString::fromUtf8(csv.out.constData(), csv.out.size()));
    QCOMPARE(records.size(), messages.size() + 1);
    QCOMPARE(records.first(), QStringList({"id", "datetime", "type", "type_name", "message"}));
    for (int i = 0; i < messages.size(); ++i) {
        const QStringList& fields = records.at(i + 1);
        QCOMPARE(fields.size(), 5);
        QCOMPARE(fields.at(0), QString::number(i + 1));
        QCOMPARE(fields.at(3), SystemLog::recordTypeCaption(i % 5));
        QCOMPARE(fields.at(4), messages.at(i));
    }

    // One line per record, line ends shown, the message's last one dropped.
    const Result oneLine = runVxlog({"query", "-o", "short"}, dir.path());
    QCOMPARE(oneLine.exitCode, 0);
    const QStringList shortLines = QString::fromUtf8(oneLine.out.constData(), oneLine.out.size()).split(QLatin1Char('\n'));
    QCOMPARE(shortLines.size(), messages.size() + 1);
    QCOMPARE(shortLines.at(3), QStringLiteral("2024-06-01 10:00:03 报警记录 two⏎lines"));
    QCOMPARE(shortLines.at(4), QStringLiteral("2024-06-01 10:00:04 其他信息 crlf⏎end"));
}

void tst_Vxlog::unexpectedTypeValues_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("out");
    QTest::newRow("short names every type")
        << QStringList{"-o", "short"}
        << QStringLiteral("2024-07-01 10:00:00 报警记录 alarm\n2024-07-01 10:00:01 类型 99 ninety-nine\n"
                          "2024-07-01 10:00:02 类型 -1 minus one\n2024-07-01 10:00:03 类型 ? no type\n"
                          "2024-07-01 10:00:04 类型 ? text type\n2024-07-01 10:00:05 类型 ? real type\n");
    QTest::newRow("json keeps the stored value")
        << QStringList{"-o", "json", "-S", "2024-07-01 10:00:02"}
        << QStringLiteral("{\"id\":3,\"datetime\":\"2024-07-01 10:00:02\",\"type\":-1,\"type_name\":\"类型 -1\",\"message\":\"minus one\"}\n"
                          "{\"id\":4,\"datetime\":\"2024-07-01 10:00:03\",\"type\":null,\"type_name\":\"类型 ?\",\"message\":\"no type\"}\n"
                          "{\"id\":5,\"datetime\":\"2024-07-01 10:00:04\",\"type\":\"报警\",\"type_name\":\"类型 ?\",\"message\":\"text type\"}\n"
                          "{\"id\":6,\"datetime\":\"2024-07-01 10:00:05\",\"type\":3.5,\"type_name\":\"类型 ?\",\"message\":\"real type\"}\n");
    QTest::newRow("csv, found by its number")
        << QStringList{"-o", "csv", "-p", "99"}
        << QStringLiteral("id,datetime,type,type_name,message\r\n2,2024-07-01 10:00:01,99,类型 99,ninety-nine\r\n");
    QTest::newRow("not found as type 0") << QStringList{"-o", "short", "-p", "0"} << QString();
    QTest::newRow("counted by its number") << QStringList{"--count", "-p", "-1,99"} << QStringLiteral("2\n");
}

void tst_Vxlog::unexpectedTypeValues()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, out);
    const Result r = runVxlog(QStringList{"query", "--db", unexpectedTypesDatabase()} + arguments, m_dir.path());
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(QString::fromUtf8(r.out), out);
}

void tst_Vxlog::statsGivesUnexpectedTypesTheirColumns()
{
    const Result r = runVxlog({"stats", "--db", unexpectedTypesDatabase()}, m_dir.path());
    QVERIFY2(r.exitCode == 0, r.err.constData());
    // Columns are at least two blanks apart; a title may hold one.
    const QStringList lines = QString::fromUtf8(r.out).split(QLatin1Char('\n'));
    const QRegularExpression gap(QStringLiteral("\\s{2,}"));
    const QStringList header = QStringList{"日期", "类型 -1"} + SystemLog::recordTypeCaptions() + QStringList{"类型 99", "类型 ?", "合计"};
    QCOMPARE(lines.value(0).split(gap), header);
    QCOMPARE(lines.value(2).split(gap), QStringList({"合计", "1", "0", "0", "0", "1", "0", "1", "3", "6"}));
    QVERIFY(lines.contains(QStringLiteral("记录总数：6")));
}

void tst_Vxlog::textIsTheViewersRecordBlock()
{
    const Result r = runVxlog({"query", "--type", "3"}, m_dir.path());
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(QString::fromUtf8(r.out),
             QStringLiteral("2024-05-01 08:00:00:\nAlarm: motor HOT\n"
                            "2024-05-01 10:00:00:\nclock set back\n"
                            "2024-05-01 23:59:59:\nalarm end of day\n"));
}

void tst_Vxlog::exportIsTheViewersFile_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("alarms: the day's last second, clock set back") << 3;
    QTest::newRow("status") << 2;
}

void tst_Vxlog::exportIsTheViewersFile()
{
    QFETCH(int, type);
    const QString day = QStringLiteral("2024-05-01");
    // The viewer's export, through the log service in this process.
    QTemporaryDir viewerOut;
    QTemporaryDir cliOut;
    const QString viewerPath = SystemLog::DayExport::filePath(viewerOut.path(), day);
    {
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        const SystemLog::RecordList records = SystemLog::vxSysLog::instance()->queryByDay(day, type);
        SystemLog::vxSysLog::release();
        QDir::setCurrent(previous);
        QVERIFY(!records.isEmpty());
        QCOMPARE(SystemLog::DayExport::writeRecords(viewerPath, records).status, SystemLog::DayExport::Status::Written);
    }

    const Result r = runVxlog({"export", "--day", day, "--type", QString::number(type), "--dir", cliOut.path()},
                              m_dir.path());
    QVERIFY2(r.exitCode == 0, r.err.constData());
    const QString cliPath = SystemLog::DayExport::filePath(cliOut.path(), day);
    QCOMPARE(QString::fromUtf8(r.out), cliPath + QLatin1Char('\n'));
    QFile viewerFile(viewerPath);
    QFile cliFile(cliPath);
    QVERIFY(viewerFile.open(QIODevice::ReadOnly));
    QVERIFY(cliFile.open(QIODevice::ReadOnly));
    QCOMPARE(cliFile.readAll(), viewerFile.readAll());
}

void tst_Vxlog::exportHoldsWhatThePaneLists_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("content"); // the file's text; each header starts a line
    const QString gap = QStringLiteral("2024-05-01 09:00:00:\n此期间有 3 条日志未能写入：日志过多（2024-05-01 08:59:58 至 09:00:00）\n");
    QTest::newRow("alarms, a drop record of another type among them")
        << 3
        << QStringLiteral("2024-05-01 08:00:00:\nno line feed\n") + gap
               + QStringLiteral("2024-05-01 10:00:00:\nends with one\n2024-05-01 11:00:00:\n\uFFFD\uFFFD ok\n");
    QTest::newRow("other information, whose type the drop record has")
        << 4 << gap + QStringLiteral("2024-05-01 12:00:00:\ninfo\n");
    QTest::newRow("status: only the drop record") << 2 << gap;
}

void tst_Vxlog::exportHoldsWhatThePaneLists()
{
    QFETCH(int, type);
    QFETCH(QString, content);
    QTemporaryDir dir;
    {
        TestDatabase db(dir.filePath(QStringLiteral("dbLog.db")));
        createLogTable(db);
        QVERIFY(db.insertRow(QStringLiteral("2024-05-01 08:00:00"), 3, QStringLiteral("no line feed")));
        QVERIFY(db.insertRow(QStringLiteral("2024-05-01 09:00:00"), 4,
                             QStringLiteral("日志过多：已丢弃 3 条记录（2024-05-01 08:59:58 至 09:00:00）")));
        QVERIFY(db.insertRow(QStringLiteral("2024-05-01 10:00:00"), 3, QStringLiteral("ends with one\n")));
        QVERIFY(db.exec(QStringLiteral("INSERT INTO SystemInfo(datetime, type, message) "
                                       "VALUES('2024-05-01 11:00:00', 3, CAST(X'E4B8206F6B' AS TEXT))")));
        QVERIFY(db.insertRow(QStringLiteral("2024-05-01 12:00:00"), 4, QStringLiteral("info")));
    }
    const Result r = runVxlog({"export", "--day", "2024-05-01", "--type", QString::number(type), "--dir", dir.path()},
                              dir.path());
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(readFile(SystemLog::DayExport::filePath(dir.path(), QStringLiteral("2024-05-01"))),
             QTextCodec::codecForLocale()->fromUnicode(content));
}

void tst_Vxlog::exportFolders_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("fileInTheWay");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("written");
    const QStringList day{"--day", "2024-05-01", "--type", "3"};
    // Only a record of another type on that day.
    const QStringList empty{"--day", "2024-05-02", "--type", "3"};
    QTest::newRow("no records") << empty << QStringLiteral("a") << false << 0
                                << SystemLog::DayExport::noRecordsText(QStringLiteral("2024-05-02")) << false;
    QTest::newRow("no records, quiet") << empty + QStringList{"-q"} << QStringLiteral("a") << false << 0 << QString() << false;
    QTest::newRow("missing folders are made") << day << QStringLiteral("a/b") << false << 0 << QString() << true;
    QTest::newRow("a file where a folder should be") << day << QStringLiteral("a/b") << true << 1 << QStringLiteral("不是文件夹")
                                                     << false;
    // The system's reason in Chinese, its own text after it.
    QTest::newRow("a folder name too long") << day << QStringLiteral("a/") + QString(300, QLatin1Char('x')) << false << 1
                                            << QStringLiteral("文件名过长（File name too long）") << false;
}

void tst_Vxlog::exportFolders()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, folder);
    QFETCH(bool, fileInTheWay);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QFETCH(bool, written);
    QTemporaryDir out;
    if (fileInTheWay) {
        QFile file(out.filePath(QStringLiteral("a")));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QString target = out.filePath(folder);
    const Result r = runVxlog(QStringList{"export", "--dir", target} + arguments, m_dir.path());
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(QString::fromUtf8(r.err).trimmed().isEmpty(), message.isEmpty());
    QVERIFY2(QString::fromUtf8(r.err).contains(message), r.err.constData());
    const QString file = SystemLog::DayExport::filePath(target, QStringLiteral("2024-05-01"));
    QCOMPARE(QFile::exists(file), written);
    QCOMPARE(QDir(target).exists(), written);
    QCOMPARE(QString::fromUtf8(r.out), written ? file + QLatin1Char('\n') : QString());
}

void tst_Vxlog::writeStoresWholeLines_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("database");  // --db, in a folder other than the working one; empty: ./dbLog.db
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("stored");

    QTest::newRow("words joined, default type")
        << QStringList{"write", "motor", "started,", "speed \"3\""} << QByteArray() << QString() << 4
        << QStringList{"motor started, speed \"3\"\n"};
    QTest::newRow("caption as type") << QStringList{"write", "--type", "报警记录", "温度过高"} << QByteArray() << QString()
                                     << 3 << QStringList{"温度过高\n"};
    QTest::newRow("one record per input line")
        << QStringList{"write", "-p", "1"} << QByteArray("first\nsecond, with comma\n\n'quoted'\n第五行") << QString() << 1
        << QStringList{"first\n", "second, with comma\n", "\n", "'quoted'\n", "第五行\n"};
    // A log line holds 3999 bytes with its newline; the text is cut at a
    // character boundary within that, not dropped.
    QTest::newRow("a long line is cut at the line's capacity")
        << QStringList{"write", QString(2000, QChar(0x6E29))} << QByteArray() << QString() << 4
        << QStringList{QString(1332, QChar(0x6E29)) + QLatin1Char('\n')};
    // Stored as the log service stores it (U+FFFD), and that is success.
    QTest::newRow("invalid UTF-8") << QStringList{"write"} << QByteArray("bad \xff byte\n") << QString() << 4
                                   << QStringList{QStringLiteral("bad \uFFFD byte\n")};
    QTest::newRow("any file, without changing folder")
        << QStringList{"write", "elsewhere"} << QByteArray() << QStringLiteral("machine.log.db") << 4
        << QStringList{"elsewhere\n"};
}

void tst_Vxlog::writeStoresWholeLines()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(QString, database);
    QFETCH(int, type);
    QFETCH(QStringList, stored);
    QTemporaryDir dir;
    QTemporaryDir other;
    QString path = dir.filePath(QStringLiteral("dbLog.db"));
    if (!database.isEmpty()) {
        path = other.filePath(database);
        arguments << QStringLiteral("--db") << path;
    }
    // The file is created by write, as by the log service.
    const Result r = runVxlog(arguments, dir.path(), input);
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QVERIFY(r.err.isEmpty());
    TestDatabase db(path);
    const QVector<StoredRow> rows = db.rows();
    QCOMPARE(rows.size(), stored.size());
    for (int i = 0; i < rows.size(); ++i) {
        QCOMPARE(rows.at(i).message, stored.at(i));
        QCOMPARE(rows.at(i).type, type);
    }
    QCOMPARE(QFileInfo::exists(dir.filePath(QStringLiteral("dbLog.db"))), database.isEmpty());
}

void tst_Vxlog::writeStoresALineUpToANulByte_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QString>("said");  // null: exit 0, nothing said
    QTest::newRow("in the middle") << QByteArray("a\0b\nok\n", 7) << QStringList{"a\n", "ok\n"}
                                   << QStringLiteral("1 行含 NUL 字节（第一处在第 1 行）");
    QTest::newRow("at the end of later lines") << QByteArray("ok\nc\0\n\0d\n", 9) << QStringList{"ok\n", "c\n", "\n"}
                                               << QStringLiteral("2 行含 NUL 字节（第一处在第 2 行）");
    QTest::newRow("none") << QByteArray("plain\n") << QStringList{"plain\n"} << QString();
}

void tst_Vxlog::writeStoresALineUpToANulByte()
{
    QFETCH(QByteArray, input);
    QFETCH(QStringList, stored);
    QFETCH(QString, said);
    QTemporaryDir dir;
    const Result r = runVxlog({"write"}, dir.path(), input);
    QCOMPARE(r.exitCode, said.isNull() ? 0 : 1);
    QVERIFY2(said.isNull() ? r.err.isEmpty() : QString::fromUtf8(r.err).contains(said), r.err.constData());
    TestDatabase db(dir.filePath(QStringLiteral("dbLog.db")));
    QStringList messages;
    for (const StoredRow& row : db.rows())
        messages << row.message;
    QCOMPARE(messages, stored);
}

void tst_Vxlog::integerTypesBeyondIntShowTheirNumber_data()
{
    QTest::addColumn<QString>("stored");  // the SQL literal
    QTest::addColumn<QString>("shortName");
    QTest::addColumn<QString>("jsonType");
    QTest::newRow("9999999999") << "9999999999" << "类型 9999999999" << "\"type\":9999999999,\"type_name\":\"类型 9999999999\"";
    QTest::newRow("just beyond int") << "2147483648" << "类型 2147483648" << "\"type\":2147483648,\"type_name\":\"类型 2147483648\"";
    QTest::newRow("far below int") << "-9999999999" << "类型 -9999999999"
                                   << "\"type\":-9999999999,\"type_name\":\"类型 -9999999999\"";
    QTest::newRow("a real is no integer") << "3.5" << "类型 ?" << "\"type\":3.5,\"type_name\":\"类型 ?\"";
}

void tst_Vxlog::integerTypesBeyondIntShowTheirNumber()
{
    QFETCH(QString, stored);
    QFETCH(QString, shortName);
    QFETCH(QString, jsonType);
    QTemporaryDir dir;
    TestDatabase db(dir.filePath(QStringLiteral("dbLog.db")));
    createLogTable(db);
    QVERIFY(db.exec(QStringLiteral("INSERT INTO SystemInfo(datetime, type, message) VALUES ('2024-07-01 10:00:00', %1, 'x')")
                        .arg(stored)));
    const Result text = runVxlog({"query", "-o", "short"}, dir.path());
    QCOMPARE(QString::fromUtf8(text.out), QStringLiteral("2024-07-01 10:00:00 %1 x\n").arg(shortName));
    const Result json = runVxlog({"query", "-o", "json"}, dir.path());
    QVERIFY2(QString::fromUtf8(json.out).contains(jsonType), json.out.constData());
    // stats gives it a column of that name.
    const Result stats = runVxlog({"stats"}, dir.path());
    QVERIFY2(QString::fromUtf8(stats.out).split(QLatin1Char('\n')).value(0).contains(shortName), stats.out.constData());
}

void tst_Vxlog::writeRefusesWhatItCannotStore_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("errorLines");
    // The log service says why once; write adds how many records were not written.
    QTest::newRow("not a database") << QByteArray("garbage, not SQLite at all\n") << QStringLiteral("dbLog.db") << 2;
    QTest::newRow("folder missing") << QByteArray() << QStringLiteral("missing/dbLog.db") << 1;
}

void tst_Vxlog::writeRefusesWhatItCannotStore()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, fileName);
    QFETCH(int, errorLines);
    QTemporaryDir dir;
    const QString path = dir.filePath(fileName);
    if (!content.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    const QByteArray before = checksum(path);
    const Result r = runVxlog({"write", "--db", path, "hello"}, dir.path());
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.err.count('\n'), errorLines);
    QVERIFY2(r.err.contains(QDir::toNativeSeparators(path).toUtf8()), r.err.constData());
    QCOMPARE(checksum(path), before);
}

void tst_Vxlog::statsCountsPerDayAndType()
{
    const Result r = runVxlog({"stats", "--until", "2024-05-02 00:00:00"}, m_dir.path());
    QVERIFY2(r.exitCode == 0, r.err.constData());
    const QStringList lines = QString::fromUtf8(r.out).split(QLatin1Char('\n'));
    QStringList header = lines.value(0).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QCOMPARE(header, QStringList{"日期"} + SystemLog::recordTypeCaptions() + QStringList{"合计"});
    auto cells = [&lines](int i) { return lines.value(i).split(QLatin1Char(' '), Qt::SkipEmptyParts); };
    QCOMPARE(cells(1), QStringList({"2024-04-30", "0", "1", "0", "0", "0", "1"}));
    QCOMPARE(cells(2), QStringList({"2024-05-01", "1", "0", "1", "3", "0", "5"}));
    QCOMPARE(cells(3), QStringList({"2024-05-02", "0", "0", "0", "0", "1", "1"}));
    QCOMPARE(cells(4), QStringList({"合计", "1", "1", "1", "3", "1", "7"}));
    QVERIFY(lines.contains(QStringLiteral("记录总数：7")));
    QVERIFY(lines.contains(QStringLiteral("最早记录：2024-04-30 23:59:59")));
    QVERIFY(lines.contains(QStringLiteral("最新记录：2024-05-02 00:00:00")));
    QVERIFY(r.out.contains(QByteArray::number(QFileInfo(m_db).size()) + " 字节"));
}

void tst_Vxlog::readsAfterACrash_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("mayWrite");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::newRow("query --count") << QStringList{"query", "--count"} << true << 0 << QStringLiteral("3\n") << QString();
    QTest::newRow("query") << QStringList{"query", "-o", "short", "-n", "1"} << true << 0
                           << QStringLiteral("2024-05-01 08:00:03 系统状态记录 old 3\n") << QString();
    QTest::newRow("stats") << QStringList{"stats"} << true << 0 << QStringLiteral("记录总数：3") << QString();
    QTest::newRow("report") << QStringList{"report", "-p", "all", "--day", "2024-05-01", "-o", "json"} << true << 0
                            << QStringLiteral("\"total\": 3") << QString();
    QTest::newRow("write") << QStringList{"write", "after the crash"} << true << 0 << QString() << QString();
    // Not even one byte may be written: the reason, and what to do.
    QTest::newRow("file may not be written") << QStringList{"query", "--count"} << false << 1 << QString()
                                             << QStringLiteral("上次写入时被中断");
}

void tst_Vxlog::readsAfterACrash()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, mayWrite);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    {
        TestDatabase db(path);
        createLogTable(db);
        for (int i = 1; i <= 3; ++i)
            QVERIFY(db.insertRow(QStringLiteral("2024-05-01 08:00:0%1").arg(i), 2, QStringLiteral("old %1").arg(i)));
    }
    leaveInterruptedWrite(path);
    if (QTest::currentTestFailed())
        return;
    const QFile journal(path + QStringLiteral("-journal"));

    const QStringList limitedShell{"-c", "trap '' XFSZ; ulimit -f 0; exec \"$0\" \"$@\"", vxtest::built(VXLOG_BINARY)};
    const Result r = mayWrite ? runVxlog(arguments, dir.path())
                              : runVxlog(limitedShell + arguments, dir.path(), QByteArray(), QString(), QStringLiteral("sh"));
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(QString::fromUtf8(r.out).contains(out), r.out.constData());
    QVERIFY2(QString::fromUtf8(r.err).contains(err), r.err.constData());
    QCOMPARE(journal.exists(), !mayWrite);
    TestDatabase db(path);
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM SystemInfo WHERE message LIKE 'lost%'")), QStringLiteral("0"));
}

void tst_Vxlog::unreadableDatabase_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("kind");

    const QList<QStringList> commands{
        {"query"}, {"query", "--count"}, {"stats"}, {"report"}, {"follow"}, {"export", "--day", "2024-05-01", "--type", "3", "--dir", "."}};
    const QStringList kinds{"missing", "garbage", "empty file", "no SystemInfo", "SystemInfo without message",
                            "SystemInfo a view over an endless query"};
    for (const QStringList& command : commands)
        for (const QString& kind : kinds)
            QTest::addRow("%s, %s", qPrintable(command.join(QLatin1Char(' '))), qPrintable(kind)) << command << kind;
}

void tst_Vxlog::unreadableDatabase()
{
    QFETCH(QStringList, command);
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    if (kind == QLatin1String("garbage") || kind == QLatin1String("empty file")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (kind == QLatin1String("garbage"))
            file.write(QByteArray(4096, 'x'));
    } else if (kind != QLatin1String("missing")) {
        TestDatabase db(path);
        QVERIFY(db.exec(kind == QLatin1String("no SystemInfo")                ? QStringLiteral("CREATE TABLE Other(a)")
                        : kind == QLatin1String("SystemInfo without message") ? QStringLiteral("CREATE TABLE SystemInfo(id, datetime, type)")
                                                                              : QString::fromLatin1(kEndlessView)));
    }
    const QByteArray before = checksum(path);
    const Result r = runVxlog(command + QStringList{"--db", path}, dir.path());
    QCOMPARE(r.exitCode, 1);
    QVERIFY(r.out.isEmpty());
    QCOMPARE(r.err.count('\n'), 1);
    QVERIFY2(QString::fromUtf8(r.err).contains(path), r.err.constData());
    QCOMPARE(QFile::exists(path), kind != QLatin1String("missing"));
    QCOMPARE(checksum(path), before);
}

void tst_Vxlog::outputFailureIsStatusOne_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("query") << QStringList{"query"};
    QTest::newRow("query --count") << QStringList{"query", "--count"};
    QTest::newRow("stats") << QStringList{"stats"};
    QTest::newRow("report") << QStringList{"report", "--day", "2024-05-01"};
    QTest::newRow("export's report") << QStringList{"export", "--day", "2024-05-01", "--type", "3", "--dir", "exports"};
    QTest::newRow("follow") << QStringList{"follow", "-n", "1"};
    QTest::newRow("help") << QStringList{"--help"};
    QTest::newRow("command help") << QStringList{"write", "--help"};
    QTest::newRow("version") << QStringList{"--version"};
}

void tst_Vxlog::outputFailureIsStatusOne()
{
    QFETCH(QStringList, arguments);
    QTemporaryDir exports;
    const Result r = runVxlog(arguments + QStringList{"--db", m_db}, exports.path(), QByteArray(), QStringLiteral("/dev/full"));
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(QString::fromUtf8(r.err).contains(QStringLiteral("无法写出结果：设备中已没有剩余空间（No space left on device）")),
             r.err.constData());
}

void tst_Vxlog::journalHabits_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("pieces");  // what standard output holds
    QTest::newRow("version") << QStringList{"--version"} << QStringList{"vxlog 1.0\n"};
    QTest::newRow("version after a command") << QStringList{"stats", "--version"} << QStringList{"vxlog 1.0\n"};
    QTest::newRow("options before the command") << QStringList{"--db", m_db, "-p", "3", "query", "--count"} << QStringList{"3\n"};
    QTest::newRow("no pager") << QStringList{"query", "--count", "--db", m_db, "--no-pager"} << QStringList{"9\n"};
    QTest::newRow("general help: every command with an example")
        << QStringList{"--help"} << QStringList{"例：vxlog query", "例：vxlog export", "例：vxlog follow", "| vxlog write",
                                                "例：vxlog stats", "退出状态：0"};
    QTest::newRow("command help: an example, times, exit statuses")
        << QStringList{"query", "--help"}
        << QStringList{"\n例子：\n  vxlog query ", "\n  -S, --since <时间>\n      ", "\"yyyy-MM-dd hh:mm:ss\"", "tomorrow",
                       "\"hh:mm[:ss]\"", "退出状态：0"};
    QTest::newRow("query help: the journal tool's options, each with an example")
        << QStringList{"query", "--help"}
        << QStringList{"-o short-iso", "-o json-pretty", "-o verbose", "cat（", "-n 50、-n all", "\n  -e, --pager-end\n",
                       "vxlog query -e -p alarm", "\n  --utc\n", "--utc -S", "-S @1733700000", "-S 2026-12-09T08:30:00",
                       "-S -3M"};
    QTest::newRow("follow help: -n all, no reverse") << QStringList{"follow", "--help"}
                                                     << QStringList{"-n all", "--utc", "不能与 -f（follow）同用"};
}

// Exact output of the formats and times, in a zone eight hours east of UTC
// (a POSIX zone, so that no time zone data is needed), where local and UTC
// times differ.
void tst_Vxlog::formatsAndZones_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("out");
    const QByteArray bothShort = "2024-05-01 08:00:00 报警记录 Alarm: motor HOT\n"
                                 "2024-05-01 12:00:00 系统状态记录 two⏎lines\n";
    const QByteArray secondShort = "2024-05-01 12:00:00 系统状态记录 two⏎lines\n";
    QTest::newRow("cat: messages alone") << QStringList{"-o", "cat"} << QByteArray("Alarm: motor HOT\ntwo\nlines\n");
    QTest::newRow("short-iso: local offset")
        << QStringList{"-o", "short-iso"}
        << QByteArray("2024-05-01T08:00:00+08:00 报警记录 Alarm: motor HOT\n"
                      "2024-05-01T12:00:00+08:00 系统状态记录 two⏎lines\n");
    QTest::newRow("short-iso in UTC")
        << QStringList{"-o", "short-iso", "--utc"}
        << QByteArray("2024-05-01T00:00:00+00:00 报警记录 Alarm: motor HOT\n"
                      "2024-05-01T04:00:00+00:00 系统状态记录 two⏎lines\n");
    QTest::newRow("short in UTC")
        << QStringList{"-o", "short", "--utc"}
        << QByteArray("2024-05-01 00:00:00 报警记录 Alarm: motor HOT\n2024-05-01 04:00:00 系统状态记录 two⏎lines\n");
    QTest::newRow("text in UTC") << QStringList{"--utc", "-n", "1", "-p", "status"} << QByteArray("2024-05-01 04:00:00:\ntwo\nlines\n\n");
    QTest::newRow("json-pretty")
        << QStringList{"-o", "json-pretty", "-n", "1"}
        << QByteArray("{\n\t\"id\" : 2,\n\t\"datetime\" : \"2024-05-01 12:00:00\",\n\t\"type\" : 2,\n"
                      "\t\"type_name\" : \"系统状态记录\",\n\t\"message\" : \"two\\nlines\\n\"\n}\n");
    QTest::newRow("verbose: every column, message lines indented")
        << QStringList{"-o", "verbose", "-n", "1"}
        << QByteArray("2024-05-01T12:00:00+08:00 [id=2]\n    ID=2\n    DATETIME=2024-05-01 12:00:00\n    TYPE=2\n"
                      "    TYPE_NAME=系统状态记录\n    MESSAGE=two\n            lines\n");
    QTest::newRow("since read as local time") << QStringList{"-o", "short", "-S", "2024-05-01 02:00"} << bothShort;
    QTest::newRow("since read as UTC")
        << QStringList{"-o", "short", "--utc", "-S", "2024-05-01 02:00"}
        << QByteArray("2024-05-01 04:00:00 系统状态记录 two⏎lines\n");
    QTest::newRow("until read as UTC, bound included")
        << QStringList{"-o", "short", "--utc", "-U", "2024-05-01 00:00:00"}
        << QByteArray("2024-05-01 00:00:00 报警记录 Alarm: motor HOT\n");
    QTest::newRow("UTC day") << QStringList{"-o", "cat", "--utc", "--day", "2024-04-30"} << QByteArray();
    QTest::newRow("ISO with T") << QStringList{"-o", "short", "-S", "2024-05-01T09:00:00"} << secondShort;
    QTest::newRow("ISO with a zone of its own") << QStringList{"-o", "short", "-S", "2024-05-01T01:00:00Z"} << secondShort;
    QTest::newRow("epoch seconds, bound included") << QStringList{"-o", "short", "-S", "@1714536000"} << secondShort;
    QTest::newRow("epoch one second later") << QStringList{"-o", "short", "-S", "@1714536001"} << QByteArray();
}

void tst_Vxlog::formatsAndZones()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, out);
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "CST-8");
    const Result r = runVxlog(QStringList{"query", "--db", m_twoRecords} + arguments, m_dir.path());
    if (zone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", zone);
    QVERIFY2(!r.crashed && r.exitCode == 0, r.err.constData());
    QCOMPARE(r.out, out);
}

void tst_Vxlog::journalHabits()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, pieces);
    QTemporaryDir elsewhere;
    const Result r = runVxlog(arguments, elsewhere.path());
    QVERIFY2(r.exitCode == 0, r.err.constData());
    for (const QString& piece : pieces)
        QVERIFY2(QString::fromUtf8(r.out).contains(piece), qPrintable(piece));
}

void tst_Vxlog::usageError_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no command") << QStringList();
    QTest::newRow("unknown command") << QStringList{"tail"};
    QTest::newRow("unknown option") << QStringList{"query", "--colour"};
    QTest::newRow("unknown type") << QStringList{"query", "--type", "alarms"};
    QTest::newRow("unknown caption") << QStringList{"query", "--type", "报警"};
    QTest::newRow("bad day") << QStringList{"query", "--day", "2024-13-01"};
    QTest::newRow("a word that names no day") << QStringList{"query", "--day", "todays"};
    QTest::newRow("bad since") << QStringList{"query", "--since", "last week"};
    QTest::newRow("day with since") << QStringList{"query", "--day", "2024-05-01", "--since", "today"};
    QTest::newRow("since after until") << QStringList{"query", "--since", "2026-12-07", "--until", "2026-12-06"};
    QTest::newRow("ignore and keep case") << QStringList{"query", "-g", "x", "--ignore-case", "--case-sensitive"};
    QTest::newRow("after-id not an id") << QStringList{"query", "--after-id", "-1"};
    QTest::newRow("after-id with a cursor file") << QStringList{"follow", "--after-id", "1", "--cursor-file", "c"};
    QTest::newRow("follow with count") << QStringList{"query", "-f", "--count"};
    QTest::newRow("bad format") << QStringList{"query", "-o", "xml"};
    QTest::newRow("bad regular expression") << QStringList{"query", "--grep", "(unclosed"};
    QTest::newRow("negative lines") << QStringList{"query", "-n", "-3"};
    QTest::newRow("lines with a plus") << QStringList{"query", "-n", "+2"};
    QTest::newRow("lines with a blank") << QStringList{"query", "-n", " 2"};
    QTest::newRow("lines not whole") << QStringList{"query", "-n", "2.5"};
    QTest::newRow("follow lines with a plus") << QStringList{"follow", "-n", "+2"};
    QTest::newRow("epoch not a number") << QStringList{"query", "-S", "@soon"};
    QTest::newRow("unknown unit") << QStringList{"query", "-S", "-3q"};
    QTest::newRow("export without folder") << QStringList{"export", "--day", "2024-05-01", "--type", "3"};
    QTest::newRow("export with two types") << QStringList{"export", "--day", "2024-05-01", "--type", "2,3", "--dir", "."};
    QTest::newRow("follow with reverse") << QStringList{"follow", "--reverse"};
    QTest::newRow("follow with -r") << QStringList{"follow", "-r", "-n", "3"};
    QTest::newRow("query -r -f") << QStringList{"query", "-r", "-f"};
    QTest::newRow("write with two types") << QStringList{"write", "--type", "all", "x"};
}

void tst_Vxlog::usageError()
{
    QFETCH(QStringList, arguments);
    const Result r = runVxlog(arguments, m_dir.path());
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.out.isEmpty());
    QCOMPARE(r.err.count('\n'), 1);
    QVERIFY2(r.err.contains("--help"), r.err.constData());
}

void tst_Vxlog::readCommandsLeaveTheFileAlone_data()
{
    QTest::addColumn<QString>("journalMode");
    QTest::addColumn<QStringList>("arguments");
    const QList<QStringList> commands{{"query"},
                                      {"query", "-o", "csv", "-n", "1", "-g", "x"},
                                      {"query", "--count", "--type", "3"},
                                      {"stats"},
                                      {"export", "--day", "2024-05-01", "--type", "3", "--dir", "out"}};
    for (const char* mode : {"DELETE", "WAL"})
        for (const QStringList& command : commands)
            QTest::addRow("%s, %s", mode, qPrintable(command.join(QLatin1Char(' ')))) << QString::fromLatin1(mode) << command;
}

void tst_Vxlog::readCommandsLeaveTheFileAlone()
{
    QFETCH(QString, journalMode);
    QFETCH(QStringList, arguments);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("out")));
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    {
        TestDatabase db(path);
        QCOMPARE(db.scalar(QStringLiteral("PRAGMA journal_mode=%1").arg(journalMode)).toUpper(), journalMode);
        // No index: a reader must not add the writer's.
        createLogTable(db, false);
        QVERIFY(db.insertRow(QStringLiteral("2024-05-01 08:00:00"), 3, QStringLiteral("x")));
    }
    const QByteArray before = checksum(path);
    const Result r = runVxlog(arguments, dir.path());
    QVERIFY2(r.exitCode == 0, r.err.constData());
    QCOMPARE(checksum(path), before);
    TestDatabase db(path);
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL")),
             QStringLiteral("0"));
}

QTEST_MAIN(tst_Vxlog)
#include "tst_vxlog.moc"
