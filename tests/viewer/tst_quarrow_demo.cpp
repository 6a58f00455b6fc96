// The demo writer behind scripts/run --demo, run as a process in a folder of
// the test's own: the history it leaves, and that it says so in Chinese and
// exits non-zero when the lines could not be stored.
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "BuiltPath.h"
#include "TestDatabase.h"

namespace {

struct Run
{
    int exitCode = -1;
    QString output;
    QString errors;
};

Run runDemoWriter(const QString& folder, const QStringList& arguments)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(vxtest::built(QUARROW_DEMO_WRITER), arguments);
    Run run;
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.output = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.errors = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

} // namespace

class tst_QuarrowDemo : public QObject
{
    Q_OBJECT

private slots:
    void writesTodayAndSevenEarlierDays();
    void failsLoudlyWhenNothingIsStored();
    void writesNothingForHelpOrAnUnknownArgument_data();
    void writesNothingForHelpOrAnUnknownArgument();
};

void tst_QuarrowDemo::writesTodayAndSevenEarlierDays()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString started = QDateTime::currentDateTime().addSecs(-1).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    const Run run = runDemoWriter(dir.path(), {QStringLiteral("25")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.output.contains(QStringLiteral("已写入")), qPrintable(run.output));

    TestDatabase db(dir.filePath(QStringLiteral("dbLog.db")));
    QMap<QString, int> perDay;  // the history: rows stamped before the run
    int loggedNow = 0;          // rows the service stamped during the run
    QSet<QString> times;
    QSet<int> types;
    for (const StoredRow& row : db.rows()) {
        QVERIFY2(QDateTime::fromString(row.datetime, QStringLiteral("yyyy-MM-dd hh:mm:ss")).isValid(),
                 qPrintable(row.datetime));
        if (row.datetime >= started)
            ++loggedNow;
        else
            ++perDay[row.datetime.left(10)];
        times.insert(row.datetime.mid(11, 2));
        types.insert(row.type);
    }
    const QDate today = QDate::currentDate();
    QCOMPARE(loggedNow, 25);
    // Today's hours before the run hold a share of a day's history.
    QVERIFY(perDay.value(today.toString(Qt::ISODate)) <= 500);
    QCOMPARE(perDay.size() - perDay.contains(today.toString(Qt::ISODate)), 7);
    for (int back = 1; back <= 7; ++back) {
        const int rows = perDay.value(today.addDays(-back).toString(Qt::ISODate));
        QVERIFY2(rows >= 100 && rows <= 500, qPrintable(QString::number(rows)));
    }
    QVERIFY(times.size() >= 12); // spread over the day, not one burst
    QCOMPARE(types.size(), 5);
}

// A folder stands where dbLog.db belongs: nothing can be stored.
void tst_QuarrowDemo::failsLoudlyWhenNothingIsStored()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("dbLog.db")));
    const Run run = runDemoWriter(dir.path(), {QStringLiteral("10")});
    QVERIFY(run.exitCode > 0);
    QVERIFY2(run.errors.contains(QStringLiteral("./dbLog.db 无法写入")) || run.errors.contains(QStringLiteral("未能写入")),
             qPrintable(run.errors));
    QVERIFY(!run.output.contains(QStringLiteral("已写入")));
}

void tst_QuarrowDemo::writesNothingForHelpOrAnUnknownArgument_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output"); // on standard output (status 0) or standard error
    QTest::newRow("--help") << QStringList{"--help"} << 0 << QStringLiteral("[COUNT]");
    QTest::newRow("-h") << QStringList{"-h"} << 0 << QStringLiteral("今天要写入的记录条数");
    QTest::newRow("an unknown option") << QStringList{"--count=5"} << 2 << QStringLiteral("未知的选项：--count");
    QTest::newRow("a count that is no number") << QStringList{"many"} << 2 << QStringLiteral("无法识别的参数“many”");
    QTest::newRow("a negative count") << QStringList{"--", "-3"} << 2 << QStringLiteral("无法识别的参数“-3”");
    QTest::newRow("two counts") << QStringList{"5", "6"} << 2 << QStringLiteral("无法识别的参数“5 6”");
}

// No ./dbLog.db is made, and the writer says what it takes.
void tst_QuarrowDemo::writesNothingForHelpOrAnUnknownArgument()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QTemporaryDir dir;
    const Run run = runDemoWriter(dir.path(), arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2((exitCode == 0 ? run.output : run.errors).contains(output), qPrintable(run.output + run.errors));
    QVERIFY(!run.output.contains(QStringLiteral("已写入")));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("dbLog.db"))));
}

QTEST_GUILESS_MAIN(tst_QuarrowDemo)
#include "tst_quarrow_demo.moc"
