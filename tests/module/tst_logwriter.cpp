#include <QtTest>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "DropRecords.h"
#include "NumberedLines.h"
#include "TempWorkingDir.h"
#include "TestDatabase.h"
#include "write/vxLogDB.h"
#include <vxSyslog/vxLogging.h>
#include <vxSyslog/vxSysLog.h>

using SystemLog::RecordList;
using SystemLog::vxLogDB;

namespace {

// Bounds around every time stamp the writer gives.
const QString kDawn = QStringLiteral("0000-01-01 00:00:00");
const QString kDusk = QStringLiteral("9999-12-31 23:59:59");

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
    void stopOnFailingStoreWaitsForOneBatchOnly();
    void floodIsBoundedCountedAndToldOnce_data();
    void floodIsBoundedCountedAndToldOnce();
    void dropsNoTakeHandedOverAreToldAtTheEnd_data();
    void dropsNoTakeHandedOverAreToldAtTheEnd();
    void queriesCuttingTransactionsLoseNothing();
    void fullDatabaseDropsAfterRetriesAndResumes();
    void failedAttemptsCountAgainAfterSuccess();
    void startDuringDrainKeepsWriterRunning();
    void idleWriterSleepsUntilALineArrives();
    void serviceReportsRefusedFileAndItsDrops();

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
    // Both bounds included.
    const RecordList day = writer.queryByDay(QStringLiteral("2024-05-01"), 2);
    QVERIFY(!writer.lastQueryFailed());
    QCOMPARE(day.size(), 5);
    QCOMPARE(day[0].first, QStringLiteral("2024-05-01 00:00:00"));
    QCOMPARE(day[2].first, QStringLiteral("2024-05-01 12:00:00"));
    QCOMPARE(day[4].second, QStringLiteral("2024-05-01 23:59:59"));

    const RecordList range =
        writer.queryByRange(QStringLiteral("2024-05-01 00:00:01"), QStringLiteral("2024-05-01 23:59:58"), 2);
    QCOMPARE(range.size(), 3);
    QCOMPARE(range[0].first, QStringLiteral("2024-05-01 00:00:01"));
    QCOMPARE(range[2].first, QStringLiteral("2024-05-01 23:59:58"));
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

// Lines logged while another program holds the lock for three seconds are
// all stored once it lets go, in order, each with the second it was logged
// rather than the second it could be stored.
void tst_LogWriter::lockedDatabaseLosesNoLine()
{
    const int lines = 300;
    std::time_t firstHalfFrom = 0;
    std::time_t firstHalfTo = 0;
    std::time_t secondHalfFrom = 0;
    std::time_t secondHalfTo = 0;
    {
        vxLogDB writer;
        TestDatabase locker(QStringLiteral("dbLog.db"));
        QVERIFY(locker.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        writer.start();
        firstHalfFrom = std::time(nullptr);
        pushNumbered(writer, 0, 0, lines / 2);
        firstHalfTo = std::time(nullptr);
        // At least one attempt met the lock, and the clock moved on.
        QTRY_VERIFY_WITH_TIMEOUT(writer.failedWriteCount() > 0, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(std::time(nullptr) >= firstHalfTo + 3, 20000);
        secondHalfFrom = std::time(nullptr);
        pushNumbered(writer, 0, lines / 2, lines);
        secondHalfTo = std::time(nullptr);
        QVERIFY(locker.exec(QStringLiteral("COMMIT")));
        writer.stopProcess();
        QVERIFY(writer.wait(60000));
        QCOMPARE(writer.droppedCount(), 0u);
    }
    QCOMPARE(storedMessages(), numberedLines(0, lines));
    const QVector<StoredRow> rows = TestDatabase(QStringLiteral("dbLog.db")).rows();
    for (int i = 0; i < lines; ++i) {
        const std::time_t stamp = std::time_t(
            QDateTime::fromString(rows[i].datetime, QStringLiteral("yyyy-MM-dd hh:mm:ss")).toSecsSinceEpoch());
        const bool firstHalf = i < lines / 2;
        QVERIFY2(stamp >= (firstHalf ? firstHalfFrom : secondHalfFrom) && stamp <= (firstHalf ? firstHalfTo : secondHalfTo),
                 qPrintable(rows[i].datetime));
    }
}

namespace {

// Every insert fails while it exists, as long as another program wants it so.
const QString kRefuseInserts = QStringLiteral(
    "CREATE TRIGGER refuse BEFORE INSERT ON SystemInfo BEGIN SELECT RAISE(ABORT, 'refused'); END");

} // namespace

void tst_LogWriter::persistentFailureIsDroppedAndCounted()
{
    vxLogDB writer;
    writer.setRetryLimit(3, 20);
    QVERIFY(TestDatabase(QStringLiteral("dbLog.db")).exec(kRefuseInserts));
    pushNumbered(writer, 0, 0, 3);
    writer.start();
    QTRY_COMPARE_WITH_TIMEOUT(writer.droppedCount(), 3u, 20000);
    // Three attempts for the lines; their record then waits for the next lines.
    QCOMPARE(writer.failedWriteCount(), 3u);

    // The writer goes on: once inserts work again, the loss is told, then new
    // lines are written.
    QVERIFY(TestDatabase(QStringLiteral("dbLog.db")).exec(QStringLiteral("DROP TRIGGER refuse")));
    writer.pushMsg(0, "after", 5);
    writer.stopProcess();
    QVERIFY(writer.wait(60000));
    const QVector<StoredRow> rows = TestDatabase(QStringLiteral("dbLog.db")).rows();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0].type, 4);
    QVERIFY2(rows[0].message.startsWith(QStringLiteral("日志写入失败（数据库操作失败）：已丢弃 3 条记录（")),
             qPrintable(rows[0].message));
    QCOMPARE(rows[1].message, QStringLiteral("after"));
}

void tst_LogWriter::unopenableStoreFailsQueriesAndCountsDrops_data()
{
    QTest::addColumn<bool>("folderRemoved");
    QTest::addColumn<bool>("setAside");
    // Nowhere to keep them: given up and counted.
    QTest::newRow("working folder removed") << true << false;
    // Kept beside the folder for the next writer of that path.
    QTest::newRow("folder at the file's place") << false << true;
}

void tst_LogWriter::unopenableStoreFailsQueriesAndCountsDrops()
{
    QFETCH(bool, folderRemoved);
    QFETCH(bool, setAside);
    QDir here = QDir::current();
    if (folderRemoved) {
        QVERIFY(here.mkdir(QStringLiteral("gone")));
        QVERIFY(QDir::setCurrent(here.filePath(QStringLiteral("gone"))));
        QVERIFY(here.rmdir(QStringLiteral("gone")));
    } else {
        QVERIFY(here.mkdir(QStringLiteral("dbLog.db")));
    }

    vxLogDB writer;
    writer.setRetryLimit(2, 10);
    QVERIFY(writer.queryByDay(QStringLiteral("2024-05-01"), 0).isEmpty());
    QVERIFY(writer.lastQueryFailed());
    QVERIFY(!writer.lastQueryError().isEmpty());

    writer.start();
    pushNumbered(writer, 0, 0, 7);
    writer.stopProcess();
    QVERIFY(writer.wait(60000));
    QCOMPARE(writer.droppedCount(), setAside ? 0u : 7u);
    QCOMPARE(here.entryList({QStringLiteral("dbLog.db-unwritten-*")}, QDir::Files).size(), setAside ? 1 : 0);
}

namespace {

// Same length for every n below 100,000, so every line costs the queue the same.
QByteArray fixedWidth(int thread, int n)
{
    return "t" + QByteArray::number(thread) + " n" + QByteArray::number(n).rightJustified(5, '0');
}

QVector<StoredRow> rowsOfType(int type)
{
    QVector<StoredRow> found;
    for (const StoredRow& row : TestDatabase(QStringLiteral("dbLog.db")).rows())
        if (row.type == type)
            found << row;
    return found;
}

QString bigLine(int n)
{
    return QStringLiteral("big %1 ").arg(n) + QString(5000, QLatin1Char('x'));
}

void pushText(vxLogDB& writer, int type, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    writer.pushMsg(type, bytes.constData(), bytes.size());
}

qint64 pageCount()
{
    return TestDatabase(QStringLiteral("dbLog.db")).scalar(QStringLiteral("PRAGMA page_count")).toLongLong();
}

} // namespace

// Stopping on a store that keeps failing waits for one batch's attempts; the
// rest is kept in a side file, and the next writer of the file stores it all,
// in order, once the file takes rows again.
void tst_LogWriter::stopOnFailingStoreWaitsForOneBatchOnly()
{
    const int lines = int(vxLogDB::kMaxLinesPerTransaction) * 2 + 500;
    {
        vxLogDB writer;
        writer.setRetryLimit(2, 10);
        QVERIFY(TestDatabase(QStringLiteral("dbLog.db")).exec(kRefuseInserts));
        pushNumbered(writer, 0, 0, lines);
        writer.start();
        writer.stopProcess();
        QVERIFY(writer.wait(60000));
        // The drain tries the first batch twice and sets the rest aside
        // (trying every batch would be six). The thread may have made one
        // ordinary attempt before it saw the stop.
        const std::uint64_t failed = writer.failedWriteCount();
        QVERIFY2(failed == 2u || failed == 3u, qPrintable(QString::number(failed)));
        QCOMPARE(writer.droppedCount(), 0u);
    }
    QCOMPARE(QDir::current().entryList({QStringLiteral("dbLog.db-unwritten-*")}, QDir::Files).size(), 1);
    QVERIFY(TestDatabase(QStringLiteral("dbLog.db")).exec(QStringLiteral("DROP TRIGGER refuse")));

    // Taken in by the next writer's thread, in batches, not by its constructor.
    vxLogDB next;
    next.start();
    QTRY_VERIFY_WITH_TIMEOUT(QDir::current().entryList({QStringLiteral("dbLog.db-unwritten-*")}, QDir::Files).isEmpty(),
                             60000);
    QCOMPARE(storedMessages(), numberedLines(0, lines));
}

void tst_LogWriter::floodIsBoundedCountedAndToldOnce_data()
{
    QTest::addColumn<bool>("fileLocked");
    QTest::newRow("writer not started") << false;
    QTest::newRow("writer waits for a locked file") << true;
}

void tst_LogWriter::floodIsBoundedCountedAndToldOnce()
{
    QFETCH(bool, fileLocked);
    const int lines = 400;
    const int room = 50;
    vxLogDB writer;
    const QByteArray sample = fixedWidth(0, 0);
    writer.setCapacityBytes(room * (SystemLog::MsgQueue::kItemOverheadBytes + sample.size() * sizeof(QChar)));
    std::unique_ptr<TestDatabase> locker;
    if (fileLocked) {
        locker.reset(new TestDatabase(QStringLiteral("dbLog.db")));
        QVERIFY(locker->exec(QStringLiteral("BEGIN EXCLUSIVE")));
        writer.start();
    }
    // The logging thread returns although nothing is written meanwhile.
    std::thread logger([&writer] {
        for (int n = 0; n < lines; ++n) {
            const QByteArray text = fixedWidth(0, n);
            writer.pushMsg(2, text.constData(), text.size());
        }
    });
    logger.join();
    const std::uint64_t dropped = writer.droppedCount();
    if (fileLocked) {
        QVERIFY(dropped > 0);
        QVERIFY(locker->exec(QStringLiteral("COMMIT")));
    } else {
        QCOMPARE(dropped, std::uint64_t(lines - room));
        writer.start();
    }
    const SystemLog::FlushResult flushed = writer.flush();
    writer.stopProcess();
    QVERIFY(writer.wait(60000));
    QCOMPARE(writer.droppedCount(), dropped);
    QCOMPARE(flushed.dropped, dropped);
    QCOMPARE(flushed.droppedBecause(SystemLog::DropReason::QueueFull), dropped);
    QCOMPARE(flushed.stored + dropped, std::uint64_t(lines));

    // One gap, one record. A running writer may have taken lines between two
    // runs of drops: then each run is a gap of its own with its own record.
    const QVector<StoredRow> records = rowsOfType(4);
    if (fileLocked)
        QVERIFY(!records.isEmpty());
    else
        QCOMPARE(records.size(), 1);
    std::uint64_t told = 0;
    for (const StoredRow& record : records) {
        QVERIFY2(record.message.startsWith(QStringLiteral("日志过多：")), qPrintable(record.message));
        told += droppedIn(record.message);
    }
    QCOMPARE(told, dropped);
    const QVector<StoredRow> written = rowsOfType(2);
    QCOMPARE(written.size() + dropped, std::uint64_t(lines));
    // Accepted lines keep their order; the record stands after the lines
    // queued before the first drop.
    int previous = -1;
    for (const StoredRow& row : written) {
        const int n = row.message.mid(4).toInt();
        QVERIFY(n > previous);
        previous = n;
    }
    if (!fileLocked)
        QVERIFY(records[0].id > written[room - 1].id);
}

// Drops that no take of the writer handed over before it ends (a line
// refused by an empty queue, lines turned away without the queue's lock) are
// still told by a record: the end takes once more. The queue here is smaller
// than any line; a running writer idles meanwhile, since refused lines never
// wake it.
void tst_LogWriter::dropsNoTakeHandedOverAreToldAtTheEnd_data()
{
    QTest::addColumn<int>("lines");
    QTest::addColumn<bool>("started");
    QTest::newRow("one line refused, writer never started") << 1 << false;
    QTest::newRow("refused, then turned away, writer never started") << 5 << false;
    QTest::newRow("one line refused, writer idle") << 1 << true;
    QTest::newRow("refused, then turned away, writer idle") << 5 << true;
}

void tst_LogWriter::dropsNoTakeHandedOverAreToldAtTheEnd()
{
    QFETCH(int, lines);
    QFETCH(bool, started);
    {
        vxLogDB writer;
        writer.setCapacityBytes(SystemLog::MsgQueue::kItemOverheadBytes);
        std::atomic<bool> idle{false};
        writer.setWaitHook([&idle](const vxLogDB::Wait& wait) {
            if (wait.kind == vxLogDB::Wait::ForLines)
                idle = true;
        });
        if (started) {
            writer.start();
            QTRY_VERIFY_WITH_TIMEOUT(idle.load(), 20000);
        }
        pushNumbered(writer, 0, 0, lines);
        QCOMPARE(writer.droppedCount(), std::uint64_t(lines));
        writer.stopProcess();
        QVERIFY(writer.wait(60000));
    }
    const QVector<StoredRow> records = rowsOfType(4);
    QCOMPARE(records.size(), 1);
    QVERIFY2(records[0].message.startsWith(QStringLiteral("日志过多：")), qPrintable(records[0].message));
    QCOMPARE(droppedIn(records[0].message), std::uint64_t(lines));
    QCOMPARE(storedMessages().size(), 1);
}

// Queries that keep cutting the writer's transactions short (it yields to a
// waiting query at once here) change neither what is stored nor its order, and
// every drop is still told exactly once.
void tst_LogWriter::queriesCuttingTransactionsLoseNothing()
{
    const int lines = 20000;
    vxLogDB writer;
    const QByteArray sample = fixedWidth(0, 0);
    writer.setCapacityBytes(2000 * (SystemLog::MsgQueue::kItemOverheadBytes + sample.size() * sizeof(QChar)));
    writer.setQueryYieldMs(0);
    writer.start();
    std::atomic<bool> done{false};
    std::thread logger([&] {
        for (int n = 0; n < lines; ++n) {
            const QByteArray text = fixedWidth(0, n);
            writer.pushMsg(2, text.constData(), text.size());
        }
        done = true;
    });
    // Queries go on until every line is either a row or dropped, whatever
    // day the rows are stamped with.
    const QDeadlineTimer deadline(60000);
    bool allThere = false;
    while (!allThere && !deadline.hasExpired()) {
        const SystemLog::QueryResult result = writer.queryRangeResult(kDawn, kDusk, 2);
        QVERIFY2(!result.failed, qPrintable(result.error));
        allThere = done && std::uint64_t(result.records.size()) + writer.droppedCount() >= std::uint64_t(lines);
    }
    logger.join();
    QVERIFY2(allThere, "the rows and the drops did not add up to every line within a minute");
    writer.stopProcess();
    QVERIFY(writer.wait(60000));

    const std::uint64_t dropped = writer.droppedCount();
    const QVector<StoredRow> written = rowsOfType(2);
    QCOMPARE(written.size() + dropped, std::uint64_t(lines));
    int previous = -1;
    for (const StoredRow& row : written) {
        const int n = row.message.mid(4).toInt();
        QVERIFY2(n > previous, qPrintable(row.message));
        previous = n;
    }
    std::uint64_t told = 0;
    for (const StoredRow& record : rowsOfType(4))
        told += droppedIn(record.message);
    QCOMPARE(told, dropped);
}

void tst_LogWriter::fullDatabaseDropsAfterRetriesAndResumes()
{
    vxLogDB writer;
    writer.setRetryLimit(3, 20);
    writer.start();
    pushNumbered(writer, 0, 0, 10);
    QTRY_COMPARE_WITH_TIMEOUT(storedMessages().size(), 10, 20000);

    QCOMPARE(writer.setMaxPageCount(pageCount()), pageCount());
    // Each line needs new pages, which the cap refuses.
    const int lost = 6;
    for (int n = 0; n < lost; ++n)
        pushText(writer, 2, bigLine(n));
    QTRY_COMPARE_WITH_TIMEOUT(writer.droppedCount(), std::uint64_t(lost), 20000);
    QVERIFY(writer.failedWriteCount() >= 3u);

    // Space returns, but another program holds the lock for a while: the
    // next attempt fails for that, which must not change why the lines were lost.
    QVERIFY(writer.setMaxPageCount(pageCount() * 1000) > pageCount());
    {
        TestDatabase locker(QStringLiteral("dbLog.db"));
        QVERIFY(locker.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        const std::uint64_t failedBefore = writer.failedWriteCount();
        writer.pushMsg(0, "after", 5);
        QTRY_VERIFY_WITH_TIMEOUT(writer.failedWriteCount() > failedBefore, 20000);
        QVERIFY(locker.exec(QStringLiteral("COMMIT")));
    }
    // Then writing resumes by itself and the loss is told first.
    QTRY_COMPARE_WITH_TIMEOUT(storedMessages().size(), 12, 20000);
    const QVector<StoredRow> rows = TestDatabase(QStringLiteral("dbLog.db")).rows();
    QCOMPARE(rows[10].type, 4);
    QVERIFY2(rows[10].message.startsWith(QStringLiteral("日志写入失败（磁盘已满或数据库已达到大小上限）：")),
             qPrintable(rows[10].message));
    QCOMPARE(droppedIn(rows[10].message), std::uint64_t(lost));
    QCOMPARE(rows[11].message, QStringLiteral("after"));
    QCOMPARE(storedMessages().mid(0, 10), numberedLines(0, 10));
    QCOMPARE(TestDatabase(QStringLiteral("dbLog.db")).scalar(QStringLiteral("PRAGMA integrity_check")),
             QStringLiteral("ok"));
}

void tst_LogWriter::failedAttemptsCountAgainAfterSuccess()
{
    // Seven attempts per batch; the cap is lifted after four failures of
    // each batch, on the writer's own thread before its next retry, so that
    // no attempt can slip in between. Were the count carried over from the
    // first batch, the second would be given up at its third failure.
    const int attempts = 7;
    const int failuresBeforeLift = 4;
    vxLogDB writer;
    writer.setRetryLimit(attempts, 10);
    std::atomic<int> round{0};
    writer.setWaitHook([&writer, &round](const vxLogDB::Wait& wait) {
        if (wait.kind == vxLogDB::Wait::Retry && writer.failedWriteCount() == std::uint64_t(failuresBeforeLift * round))
            writer.setMaxPageCount(std::numeric_limits<std::int32_t>::max());
    });
    writer.start();
    for (round = 1; round <= 2; ++round) {
        QCOMPARE(writer.setMaxPageCount(pageCount()), pageCount());
        pushText(writer, 2, bigLine(round));
        QTRY_COMPARE_WITH_TIMEOUT(storedMessages().size(), int(round), 20000);
        QCOMPARE(writer.failedWriteCount(), std::uint64_t(failuresBeforeLift * round));
    }
    QCOMPARE(writer.droppedCount(), 0u);
}

// A start() while the writer drains after a stop keeps it running. The lock
// held here keeps the drain going for as long as the test needs: the drain
// waits a minute for it, and the hook shows it is retrying in the drain.
void tst_LogWriter::startDuringDrainKeepsWriterRunning()
{
    vxLogDB writer;
    writer.setEndLockWait(std::chrono::minutes(1));
    std::atomic<bool> retriedWhileDraining{false};
    writer.setWaitHook([&retriedWhileDraining](const vxLogDB::Wait& wait) {
        if (wait.kind == vxLogDB::Wait::Retry && wait.draining)
            retriedWhileDraining = true;
    });
    TestDatabase locker(QStringLiteral("dbLog.db"));
    QVERIFY(locker.exec(QStringLiteral("BEGIN EXCLUSIVE")));
    writer.start();
    pushNumbered(writer, 0, 0, 100);
    writer.stopProcess();
    QTRY_VERIFY_WITH_TIMEOUT(retriedWhileDraining.load(), 20000);
    QVERIFY(writer.isRunning());
    writer.start();
    pushNumbered(writer, 0, 100, 200);
    QVERIFY(locker.exec(QStringLiteral("COMMIT")));

    QTRY_COMPARE_WITH_TIMEOUT(storedMessages().size(), 200, 30000);
    QVERIFY(writer.isRunning());
    pushNumbered(writer, 0, 200, 201);
    QTRY_COMPARE_WITH_TIMEOUT(storedMessages().size(), 201, 20000);
    QCOMPARE(storedMessages(), numberedLines(0, 201));
}

// An idle writer sleeps until a line comes: its wait for lines has no short
// limit, and a line wakes it once to write and once after the pause that
// follows; then it sleeps again.
void tst_LogWriter::idleWriterSleepsUntilALineArrives()
{
    vxLogDB writer;
    std::mutex mutex;
    std::vector<vxLogDB::Wait> waits;
    writer.setWaitHook([&mutex, &waits](const vxLogDB::Wait& wait) {
        std::lock_guard<std::mutex> lock(mutex);
        waits.push_back(wait);
    });
    auto idleWaits = [&mutex, &waits] {
        std::lock_guard<std::mutex> lock(mutex);
        return std::count_if(waits.begin(), waits.end(),
                             [](const vxLogDB::Wait& w) { return w.kind == vxLogDB::Wait::ForLines; });
    };
    // The last two waits: after storing, the writer pauses for more lines,
    // then sleeps until one arrives. It may have gone idle once before
    // "first" came, but that wait follows no pause.
    auto pausedThenIdle = [&mutex, &waits] {
        std::lock_guard<std::mutex> lock(mutex);
        const std::size_t n = waits.size();
        return n >= 2 && waits[n - 2].kind == vxLogDB::Wait::Pause && waits[n - 1].kind == vxLogDB::Wait::ForLines;
    };
    writer.start();
    writer.pushMsg(1, "first", 5);
    QTRY_COMPARE_WITH_TIMEOUT(storedMessages().size(), 1, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(pausedThenIdle(), 20000);
    {
        std::lock_guard<std::mutex> lock(mutex);
        QVERIFY(waits.back().limit >= std::chrono::minutes(1));
    }

    const std::uint64_t wakeUpsBefore = writer.wakeUpCount();
    const auto idleBefore = idleWaits();
    writer.pushMsg(1, "second", 6);
    QTRY_COMPARE_WITH_TIMEOUT(storedMessages(), (QStringList{"first", "second"}), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(idleWaits(), idleBefore + 1, 20000);
    QCOMPARE(writer.wakeUpCount() - wakeUpsBefore, 2u);
}

void tst_LogWriter::serviceReportsRefusedFileAndItsDrops()
{
    {
        QFile file(QStringLiteral("dbLog.db"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("not a database\n").repeated(100));
    }
    const QByteArray before = QCryptographicHash::hash(QByteArray("not a database\n").repeated(100),
                                                       QCryptographicHash::Sha256);
    SystemLog::vxSysLog* service = SystemLog::vxSysLog::instance();
    QVERIFY(service->queryByDay(QStringLiteral("2024-05-01"), 2).isEmpty());
    QVERIFY(service->lastQueryFailed());
    QVERIFY2(service->lastQueryError().startsWith(SystemLog::failureKindText(SystemLog::FailureKind::NotADatabase)),
             qPrintable(service->lastQueryError()));

    service->init();
    for (int n = 0; n < 5; ++n)
        SystemLog::LogLine::output(2, "lost\n", 5);
    QTRY_COMPARE_WITH_TIMEOUT(service->droppedCount(), 5u, 20000);
    SystemLog::vxSysLog::release();

    QFile file(QStringLiteral("dbLog.db"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256), before);
    QCOMPARE(QDir::current().entryList(QDir::Files), QStringList{"dbLog.db"});
}

QTEST_GUILESS_MAIN(tst_LogWriter)
#include "tst_logwriter.moc"
