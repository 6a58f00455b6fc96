#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <thread>
#include <vector>

#include "TestDatabase.h"
#include "vxLogDB.h"

using SystemLog::RecordList;
using SystemLog::vxLogDB;

namespace {

void pushText(vxLogDB& writer, int type, const QByteArray& text)
{
    writer.pushMsg(type, text.constData(), text.size());
}

QByteArray numbered(int thread, int n)
{
    return QByteArray("t") + QByteArray::number(thread) + " n" + QByteArray::number(n);
}

} // namespace

class tst_LogWriter : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void constructionCreatesTheStore();
    void linePushedBeforeStartIsWrittenAfterIt();
    void linesFromSeveralThreadsAllArrive();
    void everythingQueuedAtStopIsWritten_data();
    void everythingQueuedAtStopIsWritten();
    void messageIsStoredAsPushed_data();
    void messageIsStoredAsPushed();
    void dayQueryCoversTheWholeDay();
    void rangeQueryPassesTextsUnchanged();
    void queriesNeverFailWhileWriterIsBusy();
    void lockedDatabaseLosesNoLine();
    void persistentFailureIsDroppedAndCounted();
    void unopenableStoreFailsQueriesAndCountsDrops_data();
    void unopenableStoreFailsQueriesAndCountsDrops();

private:
    QString dbPath() const { return QDir::current().filePath(QStringLiteral("dbLog.db")); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ScopedWorkingDir> m_cwd;
};

void tst_LogWriter::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    m_cwd.reset(new ScopedWorkingDir(m_dir->path()));
}

void tst_LogWriter::cleanup()
{
    m_cwd.reset();
    m_dir.reset();
}

void tst_LogWriter::constructionCreatesTheStore()
{
    vxLogDB writer;
    QVERIFY(QFile::exists(dbPath()));
    TestDatabase side(dbPath());
    QVERIFY(side.db().tables().contains(QStringLiteral("SystemInfo")));
    QVERIFY(!writer.isRunning());
}

void tst_LogWriter::linePushedBeforeStartIsWrittenAfterIt()
{
    vxLogDB writer;
    pushText(writer, 1, "early\n");
    TestDatabase side(dbPath());
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
            loggers.emplace_back([&writer, t] {
                for (int n = 0; n < perThread; ++n)
                    pushText(writer, t, numbered(t, n));
            });
        for (auto& logger : loggers)
            logger.join();
    }

    TestDatabase side(dbPath());
    const QVector<StoredRow> rows = side.rows();
    QCOMPARE(rows.size(), threads * perThread);
    std::vector<int> next(threads, 0);
    for (const StoredRow& row : rows) {
        QVERIFY(row.type >= 0 && row.type < threads);
        QCOMPARE(row.message, QString::fromLatin1(numbered(row.type, next[row.type])));
        ++next[row.type];
    }
}

void tst_LogWriter::everythingQueuedAtStopIsWritten_data()
{
    QTest::addColumn<QString>("howStopped");
    QTest::newRow("stopProcess and wait") << "stopProcess";
    QTest::newRow("destroyed while running") << "destroy";
    QTest::newRow("destroyed, never started") << "neverStarted";
}

void tst_LogWriter::everythingQueuedAtStopIsWritten()
{
    QFETCH(QString, howStopped);
    const int lines = 5000;
    {
        vxLogDB writer;
        if (howStopped != QLatin1String("neverStarted"))
            writer.start();
        for (int n = 0; n < lines; ++n)
            pushText(writer, 0, numbered(0, n));
        if (howStopped == QLatin1String("stopProcess")) {
            writer.stopProcess();
            QVERIFY(writer.wait(60000));
            TestDatabase side(dbPath());
            QCOMPARE(side.rows().size(), lines);
        }
        QCOMPARE(writer.droppedCount(), 0u);
    }
    TestDatabase side(dbPath());
    const QVector<StoredRow> rows = side.rows();
    QCOMPARE(rows.size(), lines);
    for (int n = 0; n < lines; ++n)
        QCOMPARE(rows[n].message, QString::fromLatin1(numbered(0, n)));
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
    QTest::newRow("utf-8 chinese with newline") << 3 << QByteArray("报警：过温\n") << int(qstrlen("报警：过温\n"))
                                                << QString::fromUtf8("报警：过温\n");
    QTest::newRow("quote and placeholders") << 0 << QByteArray("it's %1 %2") << 10 << "it's %1 %2";
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
    TestDatabase side(dbPath());
    const QVector<StoredRow> rows = side.rows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].type, type);
    QCOMPARE(rows[0].message, stored);
}

void tst_LogWriter::dayQueryCoversTheWholeDay()
{
    vxLogDB writer;
    {
        TestDatabase side(dbPath());
        const char* stamps[] = {"2024-04-30 23:59:59", "2024-05-01 00:00:00", "2024-05-01 00:00:01", "2024-05-01 12:00:00",
                                "2024-05-01 23:59:58", "2024-05-01 23:59:59", "2024-05-02 00:00:00"};
        for (const char* stamp : stamps)
            QVERIFY(side.insertRow(QString::fromLatin1(stamp), 2, QString::fromLatin1(stamp)));
        QVERIFY(side.insertRow(QStringLiteral("2024-05-01 12:00:00"), 1, QStringLiteral("other type")));
    }
    const RecordList found = writer.queryByDay(QStringLiteral("2024-05-01"), 2);
    QVERIFY(!writer.lastQueryFailed());
    QCOMPARE(found.size(), 3);
    QCOMPARE(found[0].first, QStringLiteral("2024-05-01 00:00:01"));
    QCOMPARE(found[1].first, QStringLiteral("2024-05-01 12:00:00"));
    QCOMPARE(found[2].first, QStringLiteral("2024-05-01 23:59:58"));
    QCOMPARE(found[2].second, QStringLiteral("2024-05-01 23:59:58"));
}

void tst_LogWriter::rangeQueryPassesTextsUnchanged()
{
    vxLogDB writer;
    {
        TestDatabase side(dbPath());
        QVERIFY(side.insertRow(QStringLiteral("2024-05-01 08:00:00"), 4, QStringLiteral("a")));
        QVERIFY(side.insertRow(QStringLiteral("2024-05-01 08:00:01"), 4, QStringLiteral("b")));
        QVERIFY(side.insertRow(QStringLiteral("2024-05-01 08:00:02"), 4, QStringLiteral("c")));
    }
    const RecordList found = writer.queryByRange(QStringLiteral("2024-05-01 08:00:00"), QStringLiteral("2024-05-01 08:00:02"), 4);
    QCOMPARE(found.size(), 1);
    QCOMPARE(found[0].second, QStringLiteral("b"));
    QVERIFY(writer.queryByRange(QStringLiteral("2024-05-02 00:00:00"), QStringLiteral("2024-05-01 00:00:00"), 4).isEmpty());
    QVERIFY(!writer.lastQueryFailed());
}

void tst_LogWriter::queriesNeverFailWhileWriterIsBusy()
{
    vxLogDB writer;
    writer.start();
    std::atomic<bool> done{false};
    std::thread logger([&] {
        for (int n = 0; n < 40000; ++n)
            pushText(writer, 1, numbered(1, n));
        done = true;
    });
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    int queries = 0;
    while (!done || queries < 20) {
        writer.queryByDay(today, 1);
        QVERIFY2(!writer.lastQueryFailed(), qPrintable(writer.lastQueryError()));
        ++queries;
    }
    logger.join();
}

void tst_LogWriter::lockedDatabaseLosesNoLine()
{
    const int lines = 300;
    {
        vxLogDB writer;
        TestDatabase locker(dbPath());
        QVERIFY(locker.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        writer.start();
        for (int n = 0; n < lines / 2; ++n)
            pushText(writer, 0, numbered(0, n));
        // Longer than the writer's busy timeout, so at least one batch fails
        // and has to be retried.
        QThread::msleep(static_cast<unsigned long>(vxLogDB::kBusyTimeoutMs * 3 / 2));
        for (int n = lines / 2; n < lines; ++n)
            pushText(writer, 0, numbered(0, n));
        QVERIFY(locker.exec(QStringLiteral("COMMIT")));
        writer.stopProcess();
        QVERIFY(writer.wait(60000));
        QCOMPARE(writer.droppedCount(), 0u);
    }
    TestDatabase side(dbPath());
    const QVector<StoredRow> rows = side.rows();
    QCOMPARE(rows.size(), lines);
    for (int n = 0; n < lines; ++n)
        QCOMPARE(rows[n].message, QString::fromLatin1(numbered(0, n)));
}

void tst_LogWriter::persistentFailureIsDroppedAndCounted()
{
    vxLogDB writer;
    {
        TestDatabase side(dbPath());
        QVERIFY(side.exec(QStringLiteral("DROP TABLE SystemInfo")));
    }
    for (int n = 0; n < 3; ++n)
        pushText(writer, 0, numbered(0, n));
    writer.start();
    QTRY_COMPARE_WITH_TIMEOUT(writer.droppedCount(), 3u, 20000);

    // The writer goes on: once the table is back, new lines are written.
    {
        TestDatabase side(dbPath());
        QVERIFY(side.exec(QString::fromLatin1(SystemLog::QDBSqlite::kCreateTableSql)));
    }
    pushText(writer, 0, "after");
    writer.stopProcess();
    QVERIFY(writer.wait(60000));
    TestDatabase side(dbPath());
    QCOMPARE(side.rows().size(), 1);
    QCOMPARE(side.rows()[0].message, QStringLiteral("after"));
}

void tst_LogWriter::unopenableStoreFailsQueriesAndCountsDrops_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("working folder removed") << "missing";
    QTest::newRow("folder at the file's place") << "folder";
}

void tst_LogWriter::unopenableStoreFailsQueriesAndCountsDrops()
{
    QFETCH(QString, fault);
    QDir here = QDir::current();
    if (fault == QLatin1String("missing")) {
        QVERIFY(here.mkdir(QStringLiteral("gone")));
        QVERIFY(QDir::setCurrent(here.filePath(QStringLiteral("gone"))));
        QVERIFY(here.rmdir(QStringLiteral("gone")));
    } else {
        QVERIFY(here.mkdir(QStringLiteral("dbLog.db")));
    }

    vxLogDB writer;
    const RecordList found = writer.queryByDay(QStringLiteral("2024-05-01"), 0);
    QVERIFY(found.isEmpty());
    QVERIFY(writer.lastQueryFailed());
    QVERIFY(!writer.lastQueryError().isEmpty());

    writer.start();
    for (int n = 0; n < 7; ++n)
        pushText(writer, 0, numbered(0, n));
    writer.stopProcess();
    QVERIFY(writer.wait(60000));
    QCOMPARE(writer.droppedCount(), 7u);
}

QTEST_GUILESS_MAIN(tst_LogWriter)
#include "tst_logwriter.moc"
