#include <QtTest>

#include "BuiltPath.h"
#include "NumberedLines.h"
#include "TestDatabase.h"

// A process that logs from three threads is killed (SIGKILL) at random
// moments, again and again on the same dbLog.db. After every kill the file
// must be sound, each thread's rows a gap-free prefix of what it logged, and
// no row committed before must be lost; the next process writes on.
class tst_WriterCrash : public QObject
{
    Q_OBJECT

private slots:
    void killedWritersLeaveSoundPrefixes();

private:
    bool startHelper(QProcess& helper, const QString& tag, const QString& lines);
    void checkRound(const QString& tag);
    void checkNothingLost();

    QTemporaryDir m_dir;
    QMap<QString, int> m_committed;  // rows seen per stream; must never shrink
};

bool tst_WriterCrash::startHelper(QProcess& helper, const QString& tag, const QString& lines)
{
    helper.setWorkingDirectory(m_dir.path());
    helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Paced a little, so that the queue never overflows and every gap would be a fault.
    helper.start(vxtest::built(WRITER_HELPER), {tag, QStringLiteral("3"), lines, QStringLiteral("5")});
    if (!helper.waitForStarted(10000))
        return false;
    QByteArray out;
    while (!out.contains("\n") && helper.waitForReadyRead(20000))
        out += helper.readAll();
    return out.startsWith("started");
}

void tst_WriterCrash::checkRound(const QString& tag)
{
    const TestDatabase side(m_dir.filePath(QStringLiteral("dbLog.db")));
    QCOMPARE(side.scalar(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    QVector<StoredRow> rows;
    QSqlQuery q(side.db());
    q.prepare(QStringLiteral("SELECT id, message FROM SystemInfo WHERE message >= ? AND message < ? ORDER BY id"));
    q.addBindValue(tag + QLatin1Char(' '));
    q.addBindValue(tag + QLatin1Char('!'));
    QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
    while (q.next())
        rows.append({q.value(0).toLongLong(), QString(), 2, q.value(1).toString()});
    const NumberedStreams streams = numberedStreams(rows, tag);
    const QString problem = prefixProblem(streams);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    for (auto it = streams.begin(); it != streams.end(); ++it)
        m_committed[it.key()] = it.value().size();
}

void tst_WriterCrash::checkNothingLost()
{
    const TestDatabase side(m_dir.filePath(QStringLiteral("dbLog.db")));
    QSqlQuery q(side.db());
    QVERIFY(q.exec(QStringLiteral("SELECT substr(message, 1, instr(message, ' n') - 1) AS stream, count(*) "
                                  "FROM SystemInfo GROUP BY stream")));
    QMap<QString, int> stored;
    while (q.next())
        stored[q.value(0).toString()] = q.value(1).toInt();
    for (auto it = m_committed.begin(); it != m_committed.end(); ++it)
        QCOMPARE(stored.value(it.key()), it.value());
}

void tst_WriterCrash::killedWritersLeaveSoundPrefixes()
{
    QVERIFY(m_dir.isValid());
    const int rounds = 20;
    bool seedGiven = false;
    quint32 seed = qEnvironmentVariable("VX_CRASH_SEED").toUInt(&seedGiven);
    if (!seedGiven)
        seed = QRandomGenerator::global()->generate();
    qInfo("kill moments from seed %u (replay: VX_CRASH_SEED=%u)", seed, seed);
    QRandomGenerator random(seed);

    for (int round = 0; round <= rounds; ++round) {
        const bool last = round == rounds;
        const QString tag = last ? QStringLiteral("final") : QStringLiteral("r%1").arg(round);
        QProcess helper;
        // The next process starts on the file the killed one left behind.
        QVERIFY2(startHelper(helper, tag, last ? QStringLiteral("2000") : QStringLiteral("-1")), qPrintable(tag));
        if (round > 0) {
            checkRound(QStringLiteral("r%1").arg(round - 1));
            if (QTest::currentTestFailed())
                return;
        }
        if (last) {
            QVERIFY(helper.waitForFinished(60000));
            QCOMPARE(helper.exitCode(), 0);
            QCOMPARE(helper.readAll().trimmed(), QByteArray("dropped 0"));
            break;
        }
        // A random kill moment from the seed above, not a wait for anything:
        // every check holds whatever the moment.
        QThread::msleep(random.bounded(30u, 300u));
        helper.kill();
        QVERIFY(helper.waitForFinished(10000));
        QCOMPARE(helper.exitStatus(), QProcess::CrashExit);
    }

    checkRound(QStringLiteral("final"));
    // No row committed in any round went missing later.
    checkNothingLost();
    for (const char* stream : {"final t0", "final t1", "final t2"})
        QCOMPARE(m_committed.value(QLatin1String(stream)), 2000);
    int killedRows = 0;
    for (auto it = m_committed.begin(); it != m_committed.end(); ++it)
        if (!it.key().startsWith(QLatin1String("final")))
            killedRows += it.value();
    // The kills came while rows were being written, not before the first.
    QVERIFY(killedRows > 0);
}

QTEST_GUILESS_MAIN(tst_WriterCrash)
#include "tst_writercrash.moc"
