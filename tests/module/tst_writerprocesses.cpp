#include <QtTest>

#include "BuiltPath.h"
#include "NumberedLines.h"
#include "TempWorkingDir.h"
#include "TestDatabase.h"
#include "write/vxLogDB.h"

// Two processes, each with its own log service and three logging threads,
// write into one dbLog.db while this process queries it as the viewer does.
class tst_WriterProcesses : public QObject
{
    Q_OBJECT

private slots:
    void twoProcessesLoseNothingWhileViewerQueries();
};

void tst_WriterProcesses::twoProcessesLoseNothingWhileViewerQueries()
{
    TempWorkingDir dir;
    QVERIFY(dir.isValid());
    const int lines = 5000;
    SystemLog::vxLogDB viewer;  // creates the table; never started, queries only

    const QStringList tags{QStringLiteral("A"), QStringLiteral("B")};
    QProcess helpers[2];
    for (int i = 0; i < 2; ++i) {
        helpers[i].setWorkingDirectory(dir.path());
        helpers[i].setProcessChannelMode(QProcess::ForwardedErrorChannel);
        helpers[i].start(vxtest::built(WRITER_HELPER), {tags[i], QStringLiteral("3"), QString::number(lines)});
    }
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    int queries = 0;
    const QDeadlineTimer deadline(120000);
    while (helpers[0].state() != QProcess::NotRunning || helpers[1].state() != QProcess::NotRunning) {
        QVERIFY2(!deadline.hasExpired(), "the writing programs did not end within two minutes");
        viewer.queryByDay(today, 2);
        QVERIFY2(!viewer.lastQueryFailed(), qPrintable(viewer.lastQueryError()));
        ++queries;
        for (QProcess& helper : helpers)
            helper.waitForFinished(25);
    }
    QVERIFY(queries > 0);

    const QVector<StoredRow> rows = TestDatabase(dir.filePath(QStringLiteral("dbLog.db"))).rows();
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(helpers[i].exitStatus(), QProcess::NormalExit);
        QCOMPARE(helpers[i].exitCode(), 0);
        QVERIFY(helpers[i].readAllStandardOutput().contains("dropped 0"));
        const NumberedStreams streams = numberedStreams(rows, tags[i]);
        const QString problem = prefixProblem(streams);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(streams.size(), 3);
        for (const QVector<qint64>& stream : streams)
            QCOMPARE(stream.size(), lines);
    }
    QCOMPARE(rows.size(), 2 * 3 * lines);
}

QTEST_GUILESS_MAIN(tst_WriterProcesses)
#include "tst_writerprocesses.moc"
