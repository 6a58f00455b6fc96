#include <QtTest>

#include <memory>
#include <thread>
#include <vector>

#include "TempWorkingDir.h"
#include "TestDatabase.h"
#include "vxLogDB.h"

using SystemLog::RecordList;
using SystemLog::vxLogDB;

namespace {

QByteArray numbered(int thread, int n)
{
    return "t" + QByteArray::number(thread) + " n" + QByteArray::number(n);
}

void pushNumbered(vxLogDB& writer, int thread, int from, int to)
{
    for (int n = from; n < to; ++n) {
        const QByteArray text = numbered(thread, n);
        writer.pushMsg(thread, text.constData(), text.size());
    }
}

QStringList numberedLines(int thread, int count)
{
    QStringList lines;
    for (int n = 0; n < count; ++n)
        lines << QString::fromLatin1(numbered(thread, n));
    return lines;
}

QStringList storedMessages()
{
    QStringList messages;
    for (const StoredRow& row : TestDatabase(QStringLiteral("dbLog.db")).rows())
        messages << row.message;
    return messages;
}

} // namespace

class tst_LogWriter : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void linePushedBeforeStartIsWrittenAfterIt();
    void linesFromSeveralThreadsAllArrive();
    void everythingQueuedAtStopIsWritten_data();
    void everythingQueuedAtStopIsWritten();
    void messageIsStoredAsPushed_data();
    void messageIsStoredAsPushed();
    void queriesWidenDayAndPassRangeUnchanged();
    void queriesNeverFailWhileWriterIsBusy();
    void lockedDatabaseLosesNoLine();
    void persistentFailureIsDroppedAndCounted();
    void unopenableStoreFailsQueriesAndCountsDrops_data();
    void unopenableStoreFailsQueriesAndCountsDrops();

private:
    std::unique_ptr<TempWorkingDir> m_dir;
};

void tst_LogWriter::init()
{
    m_dir.reset(new TempWorkingDir);
    QVERIFY(m_dir->isValid());
}

void tst_LogWriter::cleanup()
{
    m_dir.reset();
}

void tst_LogWriter::linePushedBeforeStartIsWrittenAfterIt()
{
    vxLogDB writer;
    QVERIFY(QFile::exists(QStringLiteral("dbLog.db")));
    writer.pushMsg(1, "early\n", 6);
    TestDatabase side(QStringLiteral("dbLog.db"));
    QCOMPARE(side.rows().size(), 0);

    writer.start();
    QTRY_COMPARE_WITH_TIMEOUT(side.rows().size(), 1, 20000);
    QCOMPARE(side.rows()[0].message, QStringLiteral("early\n"));
    QCOMPARE(side.rows()[0].type, 1);
}

void tst_LogWriter::linesFromSeveralThreadsAllArrive()
{
    const int threads = 4;
    const int perThread = 2000;
    {
        vxLogDB writer;
        writer.start();
        std::vector<std::thread> loggers;
        for (int t = 0; t < threads; ++t)
            loggers.emplace_back([&writer, t] { pushNumbered(writer, t, 0, perThread); });
        for (auto& logger : loggers)
            logger.join();
    }

    // Interleaved as they came, but each thread's lines in its own order.
    const QVector<StoredRow> rows = TestDatabase(QStringLiteral("dbLog.db")).rows();
    QCOMPARE(rows.size(), threads * perThread);
    std::vector<QStringList> perType(threads);
    for (const StoredRow& row : rows) {
        QVERIFY(row.type >= 0 && row.type < threads);
        perType[row.type] << row.message;
    }
    for (int t = 0; t < threads; ++t)
        QCOMPARE(perType[t], numberedLines(t, perThread));
}

void tst_LogWriter::everythingQueuedAtStopIsWritten_data()
{
    QTest::addColumn<bool>("started");
    QTest::addColumn<bool>("stopFirst");
    QTest::newRow("stopProcess and wait") << true << true;
    QTest::newRow("destroyed while running") << true << false;
    QTest::newRow("destroyed, never started") << false << false;
}

void tst_LogWriter::everythingQueuedAtStopIsWritten()
{
    QFETCH(bool, started);
    QFETCH(bool, stopFirst);
    const int lines = 5000;
    {
        vxLogDB writer;
        if (started)
            writer.start();
        pushNumbered(writer, 0, 0, lines);
        if (stopFirst) {
            writer.stopProcess();
            QVERIFY(writer.wait(60000));
            QCOMPARE(storedMessages().size(), lines);
        }
        QCOMPARE(writer.droppedCount(), 0u);
    }
    QCOMPARE(storedMessages(), numberedLines(0, lines));
}

void tst_LogWriter::messageIsStoredAsPushed_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("stored");
    QTest::newRow("type above range") << 9 << QByteArray("nine") << 4 << "nine";
    QTest::newRow("negative type") << -7 << QByteArray("minus") << 5 << "minus";
    QTest::newRow("length shorter than text") << 2 << QByteArray("abcdef") << 3 << "abc";
    QTest::newRow("zero length") << 2 << QByteArray("abc") << 0 << "";
    const QByteArray chinese("报警：过温\n");
    QTest::newRow("utf-8 chinese with newline") << 3 << chinese << chinese.size() << QString::fromUtf8(chinese);
}

void tst_LogWriter::messageIsStoredAsPushed()
{
    QFETCH(int, type);
    QFETCH(QByteArray, bytes);
    QFETCH(int, length);
    QFETCH(QString, stored);
    {
        vxLogDB writer;
        writer.pushMsg(type, bytes.constData(), length);
    }
    const QVector<StoredRow> rows = TestDatabase(QStringLiteral("dbLog.db")).rows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].type, type);
    QCOMPARE(rows[0].message, stored);
}

void tst_LogWriter::queriesWidenDayAndPassRangeUnchanged()
{
    vxLogDB writer;
    {
        TestDatabase side(QStringLiteral("dbLog.db"));
        for (const char* stamp : {"2024-04-30 23:59:59", "2024-05-01 00:00:00", "2024-05-01 00:00:01", "2024-05-01 12:00:00",
                                  "2024-05-01 23:59:58", "2024-05-01 23:59:59", "2024-05-02 00:00:00"})
            QVERIFY(side.insertRow(QString::fromLatin1(stamp), 2, QString::fromLatin1(stamp)));
        QVERIFY(side.insertRow(QStringLiteral("2024-05-01 12:00:00"), 1, QStringLiteral("other type")));
    }
    const RecordList day = writer.queryByDay(QStringLiteral("2024-05-01"), 2);
    QVERIFY(!writer.lastQueryFailed());
    QCOMPARE(day.size(), 3);
    QCOMPARE(day[0].first, QStringLiteral("2024-05-01 00:00:01"));
    QCOMPARE(day[1].first, QStringLiteral("2024-05-01 12:00:00"));
    QCOMPARE(day[2].second, QStringLiteral("2024-05-01 23:59:58"));

    const RecordList range =
        writer.queryByRange(QStringLiteral("2024-05-01 00:00:01"), QStringLiteral("2024-05-01 23:59:58"), 2);
    QCOMPARE(range.size(), 1);
    QCOMPARE(range[0].first, QStringLiteral("2024-05-01 12:00:00"));
}

void tst_LogWriter::queriesNeverFailWhileWriterIsBusy()
{
    vxLogDB writer;
    writer.start();
    std::atomic<bool> done{false};
    std::thread logger([&] {
        pushNumbered(writer, 1, 0, 40000);
        done = true;
    });
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    for (int queries = 0; !done || queries < 20; ++queries) {
        writer.queryByDay(today, 1);
        QVERIFY2(!writer.lastQueryFailed(), qPrintable(writer.lastQueryError()));
    }
    logger.join();
}

void tst_LogWriter::lockedDatabaseLosesNoLine()
{
    const int lines = 300;
    {
        vxLogDB writer;
        TestDatabase locker(QStringLiteral("dbLog.db"));
        QVERIFY(locker.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        writer.start();
        pushNumbered(writer, 0, 0, lines / 2);
        // Longer than the writer's busy timeout, so at least one batch fails
        // and has to be retried.
        QThread::msleep(static_cast<unsigned long>(vxLogDB::kBusyTimeoutMs * 3 / 2));
        pushNumbered(writer, 0, lines / 2, lines);
        QVERIFY(locker.exec(QStringLiteral("COMMIT")));
        writer.stopProcess();
        QVERIFY(writer.wait(60000));
        QCOMPARE(writer.droppedCount(), 0u);
    }
    QCOMPARE(storedMessages(), numberedLines(0, lines));
}

void tst_LogWriter::persistentFailureIsDroppedAndCounted()
{
    vxLogDB writer;
    QVERIFY(TestDatabase(QStringLiteral("dbLog.db")).exec(QStringLiteral("DROP TABLE SystemInfo")));
    pushNumbered(writer, 0, 0, 3);
    writer.start();
    QTRY_COMPARE_WITH_TIMEOUT(writer.droppedCount(), 3u, 20000);

    // The writer goes on: once the table is back, new lines are written.
    QVERIFY(TestDatabase(QStringLiteral("dbLog.db")).exec(QString::fromLatin1(SystemLog::QDBSqlite::kCreateTableSql)));
    writer.pushMsg(0, "after", 5);
    writer.stopProcess();
    QVERIFY(writer.wait(60000));
    QCOMPARE(storedMessages(), QStringList{"after"});
}

void tst_LogWriter::unopenableStoreFailsQueriesAndCountsDrops_data()
{
    QTest::addColumn<bool>("folderRemoved");
    QTest::newRow("working folder removed") << true;
    QTest::newRow("folder at the file's place") << false;
}

void tst_LogWriter::unopenableStoreFailsQueriesAndCountsDrops()
{
    QFETCH(bool, folderRemoved);
    QDir here = QDir::current();
    if (folderRemoved) {
        QVERIFY(here.mkdir(QStringLiteral("gone")));
        QVERIFY(QDir::setCurrent(here.filePath(QStringLiteral("gone"))));
        QVERIFY(here.rmdir(QStringLiteral("gone")));
    } else {
        QVERIFY(here.mkdir(QStringLiteral("dbLog.db")));
    }

    vxLogDB writer;
    QVERIFY(writer.queryByDay(QStringLiteral("2024-05-01"), 0).isEmpty());
    QVERIFY(writer.lastQueryFailed());
    QVERIFY(!writer.lastQueryError().isEmpty());

    writer.start();
    pushNumbered(writer, 0, 0, 7);
    writer.stopProcess();
    QVERIFY(writer.wait(60000));
    QCOMPARE(writer.droppedCount(), 7u);
}

QTEST_GUILESS_MAIN(tst_LogWriter)
#include "tst_logwriter.moc"
