#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <map>

#include "BuiltPath.h"
#include "TempWorkingDir.h"
#include "TestDatabase.h"

// A console program with no QCoreApplication and no event loop starts the log
// service through vxSysLog::Session, logs from threads, and ends through the
// guard: every line is a row, each thread's lines in the order logged.
class tst_LogSession : public QObject
{
    Q_OBJECT

private slots:
    void everyLineLoggedBeforeTheGuardEndsIsStored_data();
    void everyLineLoggedBeforeTheGuardEndsIsStored();
};

void tst_LogSession::everyLineLoggedBeforeTheGuardEndsIsStored_data()
{
    QTest::addColumn<int>("threads");
    QTest::addColumn<int>("lines");

    QTest::newRow("no line") << 1 << 0;
    QTest::newRow("one thread") << 1 << 50;
    QTest::newRow("five threads, one per type") << 5 << 400;
}

void tst_LogSession::everyLineLoggedBeforeTheGuardEndsIsStored()
{
    QFETCH(int, threads);
    QFETCH(int, lines);

    TempWorkingDir dir;
    QVERIFY(dir.isValid());
    QProcess helper;
    helper.setWorkingDirectory(dir.path());
    helper.start(vxtest::built(LOGSESSION_HELPER), {QString::number(threads), QString::number(lines)});
    QVERIFY2(helper.waitForFinished(60000), qPrintable(helper.errorString()));
    const QByteArray errors = helper.readAllStandardError();
    QVERIFY2(helper.exitStatus() == QProcess::NormalExit && helper.exitCode() == 0, errors.constData());
    // Every line went to the service; none fell back to standard output.
    QCOMPARE(helper.readAllStandardOutput(), QByteArray());

    const QVector<StoredRow> rows = TestDatabase(dir.filePath(QStringLiteral("dbLog.db"))).rows();
    QCOMPARE(rows.size(), threads * lines);
    static const QRegularExpression linePattern(QStringLiteral("^thread (\\d+) line (\\d+)\n$"));
    std::map<int, int> nextLineOfThread;
    for (const StoredRow& row : rows) {
        const QRegularExpressionMatch match = linePattern.match(row.message);
        QVERIFY2(match.hasMatch(), qPrintable(row.message));
        const int thread = match.captured(1).toInt();
        QCOMPARE(row.type, thread % 5);
        QCOMPARE(match.captured(2).toInt(), nextLineOfThread[thread]++);
    }
    for (int t = 0; t < threads && lines > 0; ++t)
        QCOMPARE(nextLineOfThread[t], lines);
}

QTEST_MAIN(tst_LogSession)
#include "tst_logsession.moc"
