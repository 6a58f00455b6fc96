#include <QtTest>

#include <atomic>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "StdoutCapture.h"
#include "TempWorkingDir.h"
#include "TestDatabase.h"
#include <vxSyslog/vxLogging.h>
#include <vxSyslog/vxSysLog.h>
#include <vxSyslog/vx_singleton_sys.h>

using SystemLog::LogLine;
using SystemLog::vxSysLog;

namespace {

// Counts its constructions; slow to build, so that racing first callers
// really overlap inside instance(). The sleep only widens that window: one
// construction is the right outcome however the callers happen to meet.
class SlowToBuild : public SystemLog::vx_singleton_sys<SlowToBuild>
{
public:
    SlowToBuild()
    {
        ++constructed;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    static std::atomic<int> constructed;
};
std::atomic<int> SlowToBuild::constructed{0};

template <typename T>
std::vector<T*> instancesFromRacingThreads(int threads)
{
    std::atomic<bool> go{false};
    std::vector<T*> seen(threads, nullptr);
    std::vector<std::thread> callers;
    for (int i = 0; i < threads; ++i)
        callers.emplace_back([&go, &seen, i] {
            // A start line for all callers; go is set right after they are made.
            while (!go.load())
                std::this_thread::yield();
            seen[i] = T::instance();
        });
    go = true;
    for (auto& caller : callers)
        caller.join();
    return seen;
}

void log(int type, const QByteArray& text)
{
    LogLine::output(type, text.constData(), text.size());
}

} // namespace

class tst_LogService : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void racingFirstCallsBuildOneObject();
    void racingFirstCallsShareOneService();
    void releaseWithoutServiceDoesNothing();
    void instanceAfterReleaseOpensFreshService();
    void initRoutesFinishedLinesIntoTheStore();
    void releaseWritesEverythingQueued();
    void linesAfterReleaseGoToStandardOutput();
    void loggingDuringReleaseLosesNothing();
    void queriesAnswerThroughTheService();
    void failedQueryIsReportedThroughTheService();
    void queryingThreadsEachSeeTheirOwnOutcome();
    void initWithAPathLogsIntoThatFile();

private:
    QString dbPath() const { return m_dir->filePath(QStringLiteral("dbLog.db")); }

    std::unique_ptr<TempWorkingDir> m_dir;
};

void tst_LogService::init()
{
    m_dir.reset(new TempWorkingDir);
    QVERIFY(m_dir->isValid());
}

void tst_LogService::cleanup()
{
    vxSysLog::release();
    m_dir.reset();
}

void tst_LogService::racingFirstCallsBuildOneObject()
{
    SlowToBuild::constructed = 0;
    const std::vector<SlowToBuild*> seen = instancesFromRacingThreads<SlowToBuild>(8);
    QCOMPARE(SlowToBuild::constructed.load(), 1);
    for (SlowToBuild* p : seen)
        QCOMPARE(p, seen.front());

    SlowToBuild::release();
    SlowToBuild::release();
    QVERIFY(SlowToBuild::instance() != nullptr);
    QCOMPARE(SlowToBuild::constructed.load(), 2);
    SlowToBuild::release();
}

void tst_LogService::racingFirstCallsShareOneService()
{
    const std::vector<vxSysLog*> seen = instancesFromRacingThreads<vxSysLog>(4);
    QVERIFY(seen.front() != nullptr);
    for (vxSysLog* p : seen)
        QCOMPARE(p, seen.front());
    QCOMPARE(vxSysLog::instance(), seen.front());
}

void tst_LogService::releaseWithoutServiceDoesNothing()
{
    vxSysLog::release();
    vxSysLog::release();
    QVERIFY(!QFile::exists(dbPath()));
}

void tst_LogService::instanceAfterReleaseOpensFreshService()
{
    vxSysLog::instance()->init();
    vxSysLog::release();
    QVERIFY(QFile::remove(dbPath()));

    vxSysLog* fresh = vxSysLog::instance();
    QVERIFY(QFile::exists(dbPath()));
    fresh->init();
    log(1, "second life\n");
    vxSysLog::release();

    const QVector<StoredRow> rows = TestDatabase(dbPath()).rows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].message, QStringLiteral("second life\n"));
}

void tst_LogService::initRoutesFinishedLinesIntoTheStore()
{
    StdoutCapture out(m_dir->filePath(QStringLiteral("stdout.txt")));
    vxSysLog::instance()->init();
    log(2, "abc \n");
    log(9, "out of range\n");
    TestDatabase side(dbPath());
    QTRY_COMPARE_WITH_TIMEOUT(side.rows().size(), 2, 20000);
    QCOMPARE(side.rows()[0].type, 2);
    QCOMPARE(side.rows()[0].message, QStringLiteral("abc \n"));
    QCOMPARE(side.rows()[1].type, 9);
    vxSysLog::release();
    QCOMPARE(out.finish(), QByteArray());
}

void tst_LogService::releaseWritesEverythingQueued()
{
    vxSysLog::instance()->init();
    for (int n = 0; n < 3000; ++n)
        log(n % 5, QByteArray::number(n));
    vxSysLog::release();

    const QVector<StoredRow> rows = TestDatabase(dbPath()).rows();
    QCOMPARE(rows.size(), 3000);
    for (int n = 0; n < 3000; ++n) {
        QCOMPARE(rows[n].message, QString::number(n));
        QCOMPARE(rows[n].type, n % 5);
    }
}

void tst_LogService::linesAfterReleaseGoToStandardOutput()
{
    vxSysLog::instance()->init();
    vxSysLog::release();

    StdoutCapture out(m_dir->filePath(QStringLiteral("stdout.txt")));
    log(3, "after release\n");
    QCOMPARE(out.finish(), QByteArray("after release\n"));
    QCOMPARE(TestDatabase(dbPath()).rows().size(), 0);
}

void tst_LogService::loggingDuringReleaseLosesNothing()
{
    const int threads = 4;
    const int perThread = 3000;
    StdoutCapture out(m_dir->filePath(QStringLiteral("stdout.txt")));
    vxSysLog::instance()->init();

    std::atomic<int> logged{0};
    std::vector<std::thread> loggers;
    for (int t = 0; t < threads; ++t)
        loggers.emplace_back([&logged, t] {
            for (int n = 0; n < perThread; ++n) {
                log(t, "t" + QByteArray::number(t) + " n" + QByteArray::number(n) + "\n");
                ++logged;
            }
        });
    // Released while the loggers are a quarter through.
    const QDeadlineTimer deadline(60000);
    while (logged < threads * perThread / 4 && !deadline.hasExpired())
        std::this_thread::yield();
    const bool quarterThrough = logged >= threads * perThread / 4;
    vxSysLog::release();
    for (auto& logger : loggers)
        logger.join();
    const QByteArray printed = out.finish();
    QVERIFY2(quarterThrough, "the loggers did not get a quarter through within a minute");

    // Every line is either a row or a line on standard output, exactly once.
    std::multiset<QString> lines;
    const QVector<StoredRow> rows = TestDatabase(dbPath()).rows();
    for (const StoredRow& row : rows)
        lines.insert(row.message);
    for (const QByteArray& line : printed.split('\n'))
        if (!line.isEmpty())
            lines.insert(QString::fromLatin1(line + "\n"));
    QVERIFY(rows.size() > 0);
    QCOMPARE(int(lines.size()), threads * perThread);
    for (int t = 0; t < threads; ++t)
        for (int n = 0; n < perThread; n += 97)
            QCOMPARE(int(lines.count(QStringLiteral("t%1 n%2\n").arg(t).arg(n))), 1);
}

void tst_LogService::queriesAnswerThroughTheService()
{
    vxSysLog* service = vxSysLog::instance();
    {
        TestDatabase side(dbPath());
        QVERIFY(side.insertRow(QStringLiteral("2020-09-22 10:00:00"), 3, QStringLiteral("alarm")));
        QVERIFY(side.insertRow(QStringLiteral("2020-09-22 23:59:59"), 3, QStringLiteral("at the end")));
    }
    // Both bounds included, as vxlog's --day and --since/--until.
    const SystemLog::RecordList day = service->queryByDay(QStringLiteral("2020-09-22"), 3);
    QCOMPARE(day.size(), 2);
    QCOMPARE(day[0], qMakePair(QStringLiteral("2020-09-22 10:00:00"), QStringLiteral("alarm")));
    QCOMPARE(day[1].second, QStringLiteral("at the end"));
    const SystemLog::RecordList range =
        service->queryByRange(QStringLiteral("2020-09-22 10:00:01"), QStringLiteral("2020-09-22 23:59:59"), 3);
    QCOMPARE(range.size(), 1);
    QCOMPARE(range[0].second, QStringLiteral("at the end"));
    QVERIFY(!service->lastQueryFailed());

    const SystemLog::QueryResult dayResult = service->queryDayResult(QStringLiteral("2020-09-22"), 3);
    QVERIFY(!dayResult.failed);
    QVERIFY(dayResult.error.isEmpty());
    QCOMPARE(dayResult.records, day);
    const SystemLog::QueryResult rangeResult =
        service->queryRangeResult(QStringLiteral("2020-09-22 10:00:01"), QStringLiteral("2020-09-22 23:59:59"), 3);
    QVERIFY(!rangeResult.failed);
    QCOMPARE(rangeResult.records, range);
}

void tst_LogService::failedQueryIsReportedThroughTheService()
{
    QVERIFY(QDir::current().mkdir(QStringLiteral("dbLog.db")));
    vxSysLog* service = vxSysLog::instance();
    service->init();
    QVERIFY(service->queryByDay(QStringLiteral("2020-09-22"), 0).isEmpty());
    QVERIFY(service->lastQueryFailed());
    QVERIFY(!service->lastQueryError().isEmpty());
    log(0, "cannot be stored\n");
    vxSysLog::release();
}

// One thread queries while the table is missing (another program renamed it)
// and fails; then another thread queries with the table back and succeeds.
// Each reads its own outcome from its result, whatever the other did since.
void tst_LogService::queryingThreadsEachSeeTheirOwnOutcome()
{
    vxSysLog* service = vxSysLog::instance();
    TestDatabase side(dbPath());
    QVERIFY(side.insertRow(QStringLiteral("2020-09-22 10:00:00"), 3, QStringLiteral("alarm")));
    QVERIFY(side.exec(QStringLiteral("ALTER TABLE SystemInfo RENAME TO SystemInfoAway")));

    SystemLog::QueryResult failing;
    SystemLog::QueryResult succeeding;
    std::thread first([&] { failing = service->queryDayResult(QStringLiteral("2020-09-22"), 3); });
    first.join();
    QVERIFY(side.exec(QStringLiteral("ALTER TABLE SystemInfoAway RENAME TO SystemInfo")));
    std::thread second([&] { succeeding = service->queryDayResult(QStringLiteral("2020-09-22"), 3); });
    second.join();

    QVERIFY(failing.failed);
    QVERIFY(!failing.error.isEmpty());
    QVERIFY(failing.records.isEmpty());
    QVERIFY(!succeeding.failed);
    QVERIFY(succeeding.error.isEmpty());
    QCOMPARE(succeeding.records.size(), 1);
    QCOMPARE(succeeding.records[0].second, QStringLiteral("alarm"));
    // The shared status is now the second thread's: read by the first thread
    // it would have hidden that thread's failure.
    QVERIFY(!service->lastQueryFailed());
}

// A service on ./dbLog.db moved to another file by init(path): the lines
// logged before stay in the first file, the later ones go to the second, and
// flush() counts both as stored.
void tst_LogService::initWithAPathLogsIntoThatFile()
{
    QTemporaryDir other;
    QVERIFY(other.isValid());
    const QString otherPath = other.filePath(QStringLiteral("machine.db"));
    vxSysLog* service = vxSysLog::instance();
    service->init();
    log(2, "before\n");
    service->init(otherPath);
    log(3, "after\n");
    const SystemLog::FlushResult flushed = service->flush();
    QCOMPARE(flushed.stored, 2u);
    QCOMPARE(flushed.dropped, 0u);
    vxSysLog::release();

    const QVector<StoredRow> here = TestDatabase(dbPath()).rows();
    QCOMPARE(here.size(), 1);
    QCOMPARE(here[0].message, QStringLiteral("before\n"));
    const QVector<StoredRow> there = TestDatabase(otherPath).rows();
    QCOMPARE(there.size(), 1);
    QCOMPARE(there[0].message, QStringLiteral("after\n"));
}

QTEST_GUILESS_MAIN(tst_LogService)
#include "tst_logservice.moc"
