#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

#include <vxSyslog/vxLogging.h>

using namespace SystemLog;

// The process-wide level, flush function and output function are read and
// replaced while other threads log. Run under ThreadSanitizer, a data race on
// any of them fails the test.
class tst_LogSettings : public QObject
{
    Q_OBJECT

private slots:
    void changesRaceWithLoggingThreads_data();
    void changesRaceWithLoggingThreads();
};

void tst_LogSettings::changesRaceWithLoggingThreads_data()
{
    QTest::addColumn<bool>("swapSinks");
    QTest::newRow("level and flush function") << false;
    QTest::newRow("level, flush and output functions") << true;
}

void tst_LogSettings::changesRaceWithLoggingThreads()
{
    QFETCH(bool, swapSinks);
    constexpr int kThreads = 4;
    constexpr int kLinesEach = 2000;

    std::atomic<int> delivered{0};
    std::atomic<int> flushes{0};
    const SinkFunc counting = [&delivered](int, const char*, int length) {
        if (length > 0)
            delivered.fetch_add(1, std::memory_order_relaxed);
    };
    LogLine::setSink(counting);

    // Each logger waits at its halfway line until a change was made, so the
    // changes provably overlap the logging, however the threads are scheduled.
    std::atomic<int> running{kThreads};
    std::atomic<int> changes{0};
    std::vector<std::thread> loggers;
    for (int t = 0; t < kThreads; ++t)
        loggers.emplace_back([&running, &changes, t] {
            for (int i = 0; i < kLinesEach; ++i) {
                if (i == kLinesEach / 2) {
                    const QDeadlineTimer deadline(120000);
                    while (changes.load() == 0 && !deadline.hasExpired())
                        std::this_thread::yield();
                }
                VXLOG(t % 5) << "thread " << t << " line " << i << " level " << LogLine::level();
                if (i % 64 == 0)
                    LogLine::flush();
            }
            running.fetch_sub(1);
        });

    const QDeadlineTimer deadline(120000);
    do {
        // The loggers cannot be abandoned while they run; a hang ends here.
        if (deadline.hasExpired())
            qFatal("the logging threads did not finish within two minutes");
        const int change = changes.load();
        LogLine::setLevel(change % 7);
        LogLine::setFlushSink([&flushes, change] { flushes.fetch_add(1 + change % 2); });
        if (swapSinks)
            LogLine::setSink(counting);
        changes.fetch_add(1);
    } while (running.load() > 0);
    for (auto& logger : loggers)
        logger.join();

    LogLine::setSink(SinkFunc());
    LogLine::setFlushSink(FlushSinkFunc());
    LogLine::setLevel(4);

    // Every line reached an output function, none twice, none lost to a swap.
    QCOMPARE(delivered.load(), kThreads * kLinesEach);
    QCOMPARE(LogLine::level(), 4);
}

QTEST_MAIN(tst_LogSettings)
#include "tst_logsettings.moc"
