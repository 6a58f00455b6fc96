#include <QtTest>

#include <thread>
#include <vector>

#include "write/MsgQueue.h"

using SystemLog::MsgQueue;
using SystemLog::tag_MsgItem;

namespace {

// Lines whose queue cost is exactly `cost` bytes.
tag_MsgItem lineCosting(std::size_t cost, int type = 0)
{
    const int units = static_cast<int>((cost - MsgQueue::kItemOverheadBytes) / sizeof(QChar));
    return {QString(units, QLatin1Char('x')), type};
}

} // namespace

class tst_MsgQueue : public QObject
{
    Q_OBJECT

private slots:
    void popsInPushOrder();
    void tryPopOnEmptyLeavesItemUntouched();
    void takeAllHandsOverEverythingInOrder();
    void concurrentProducersAndDrainingConsumerLoseNothing();
    void capacityRefusesAndCounts_data();
    void capacityRefusesAndCounts();
    void takeStopsAtLineAndByteLimits_data();
    void takeStopsAtLineAndByteLimits();
    void overflowTallyTravelsWithItsBatch();
    void writerWakesForLinesAndWakeCalls();
    void dropRecordsTellCountAndSpan_data();
    void dropRecordsTellCountAndSpan();
};

void tst_MsgQueue::popsInPushOrder()
{
    MsgQueue queue;
    QVERIFY(queue.push({QStringLiteral("first"), 1}));
    QVERIFY(queue.push({QStringLiteral("second"), 2}));
    QCOMPARE(queue.size(), std::size_t(2));

    tag_MsgItem item;
    QVERIFY(queue.tryPop(item));
    QCOMPARE(item.message, QStringLiteral("first"));
    QCOMPARE(item.type, 1);
    QVERIFY(queue.tryPop(item));
    QCOMPARE(item.message, QStringLiteral("second"));
    QCOMPARE(queue.size(), std::size_t(0));
}

void tst_MsgQueue::tryPopOnEmptyLeavesItemUntouched()
{
    MsgQueue queue;
    tag_MsgItem item{QStringLiteral("keep"), 7};
    QVERIFY(!queue.tryPop(item));
    QCOMPARE(item.message, QStringLiteral("keep"));
    QCOMPARE(item.type, 7);
}

void tst_MsgQueue::takeAllHandsOverEverythingInOrder()
{
    // Room for ten lines of 200 bytes; the two refused count in the tally
    // that takeAll hands over with the lines, after the ten queued first.
    MsgQueue queue(10 * 200);
    for (int i = 0; i < 12; ++i)
        queue.push(lineCosting(200, i));
    const MsgQueue::Batch taken = queue.takeAll();
    QCOMPARE(taken.lines.size(), std::size_t(10));
    QCOMPARE(queue.size(), std::size_t(0));
    int expected = 0;
    for (const tag_MsgItem& item : taken.lines)
        QCOMPARE(item.type, expected++);
    QCOMPARE(taken.overflow.count, std::uint64_t(2));
    QCOMPARE(taken.overflow.reason, SystemLog::DropReason::QueueFull);
    QCOMPARE(taken.overflowPosition, std::size_t(10));
    const MsgQueue::Batch again = queue.takeAll();
    QVERIFY(again.lines.empty());
    QVERIFY(again.overflow.empty());
    QCOMPARE(queue.acceptedTotal(), std::uint64_t(10));
}

void tst_MsgQueue::concurrentProducersAndDrainingConsumerLoseNothing()
{
    const int producers = 4;
    const int perProducer = 20000;
    MsgQueue queue;
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p)
        threads.emplace_back([&queue, &finished, p] {
            for (int n = 0; n < perProducer; ++n)
                queue.push({QString::number(n), p});
            ++finished;
        });

    std::vector<int> next(producers, 0);
    bool inOrder = true;
    auto drain = [&] {
        for (const tag_MsgItem& item : queue.takeAll().lines) {
            inOrder = inOrder && item.message == QString::number(next[item.type]);
            ++next[item.type];
        }
    };
    const QDeadlineTimer deadline(60000);
    while (finished < producers && !deadline.hasExpired())
        drain();
    for (auto& t : threads)
        t.join();
    drain();
    QVERIFY2(!deadline.hasExpired(), "the producers took longer than a minute");

    QVERIFY(inOrder);
    for (int p = 0; p < producers; ++p)
        QCOMPARE(next[p], perProducer);
}

void tst_MsgQueue::capacityRefusesAndCounts_data()
{
    QTest::addColumn<int>("capacityLines");
    QTest::addColumn<int>("slackBytes");
    QTest::addColumn<int>("pushes");
    QTest::newRow("room for all") << 10 << 0 << 10;
    QTest::newRow("exactly full, then refused") << 10 << 0 << 25;
    QTest::newRow("slack below one line is no room") << 4 << 199 << 9;
    QTest::newRow("no room at all") << 0 << 0 << 3;
}

void tst_MsgQueue::capacityRefusesAndCounts()
{
    QFETCH(int, capacityLines);
    QFETCH(int, slackBytes);
    QFETCH(int, pushes);
    const std::size_t cost = 200;
    MsgQueue queue(capacityLines * cost + slackBytes);
    int accepted = 0;
    for (int i = 0; i < pushes; ++i)
        accepted += queue.push(lineCosting(cost, i)) ? 1 : 0;
    const int expected = std::min(capacityLines, pushes);
    QCOMPARE(accepted, expected);
    QCOMPARE(queue.size(), std::size_t(expected));
    QCOMPARE(queue.bytes(), expected * cost);
    QCOMPARE(queue.droppedTotal(), std::uint64_t(pushes - expected));

    // What is taken frees its room again; the accepted lines are the first ones.
    const std::list<tag_MsgItem> taken = queue.takeAll().lines;
    QCOMPARE(int(taken.size()), expected);
    if (expected > 0)
        QCOMPARE(taken.back().type, expected - 1);
    QCOMPARE(queue.bytes(), std::size_t(0));
    QCOMPARE(queue.push(lineCosting(cost)), capacityLines > 0);
}

void tst_MsgQueue::takeStopsAtLineAndByteLimits_data()
{
    QTest::addColumn<int>("maxLines");
    QTest::addColumn<int>("maxBytes");
    QTest::addColumn<int>("expected");
    QTest::newRow("line limit") << 3 << 100000 << 3;
    QTest::newRow("byte limit") << 100 << 1000 << 5;
    QTest::newRow("byte limit between lines") << 100 << 1199 << 5;
    QTest::newRow("one line even above the byte limit") << 100 << 10 << 1;
    QTest::newRow("more than queued") << 100 << 100000 << 8;
}

void tst_MsgQueue::takeStopsAtLineAndByteLimits()
{
    QFETCH(int, maxLines);
    QFETCH(int, maxBytes);
    QFETCH(int, expected);
    MsgQueue queue;
    for (int i = 0; i < 8; ++i)
        queue.push(lineCosting(200, i));
    const MsgQueue::Batch batch = queue.take(maxLines, maxBytes);
    QCOMPARE(int(batch.lines.size()), expected);
    QCOMPARE(batch.bytes, expected * std::size_t(200));
    QCOMPARE(batch.lines.front().type, 0);
    QCOMPARE(queue.size(), std::size_t(8 - expected));
    QCOMPARE(queue.bytes(), (8 - expected) * std::size_t(200));
    QVERIFY(batch.overflow.empty());
}

void tst_MsgQueue::overflowTallyTravelsWithItsBatch()
{
    MsgQueue queue(3 * 200);
    for (int i = 0; i < 3; ++i)
        QVERIFY(queue.push(lineCosting(200, i)));
    const std::time_t before = std::time(nullptr);
    QVERIFY(!queue.push(lineCosting(200, 3)));
    QVERIFY(!queue.push(lineCosting(200, 4)));

    // The drops came after the three queued lines: not in a batch of two.
    MsgQueue::Batch first = queue.take(2, 100000);
    QCOMPARE(first.lines.size(), std::size_t(2));
    QVERIFY(first.overflow.empty());

    // Room for two again; one more drop while one line still waits.
    QVERIFY(queue.push(lineCosting(200, 5)));
    QVERIFY(queue.push(lineCosting(200, 6)));
    QVERIFY(!queue.push(lineCosting(200, 7)));

    MsgQueue::Batch second = queue.take(100, 100000);
    QCOMPARE(second.lines.size(), std::size_t(3));
    QCOMPARE(second.overflow.count, std::uint64_t(3));
    QCOMPARE(second.overflowPosition, std::size_t(1));
    QVERIFY(second.overflow.first >= before);
    QVERIFY(second.overflow.last >= second.overflow.first);
    QCOMPARE(queue.droppedTotal(), std::uint64_t(3));

    QVERIFY(queue.push(lineCosting(200, 8)));
    QVERIFY(queue.take(100, 100000).overflow.empty());
}

void tst_MsgQueue::writerWakesForLinesAndWakeCalls()
{
    MsgQueue queue;
    // A wake-up that comes before the wait is kept, not lost.
    queue.wake();
    QVERIFY(queue.waitForItems(std::chrono::minutes(2)));
    queue.wake();
    QVERIFY(queue.pause(std::chrono::minutes(2)));
    // Used up: the next pause runs out.
    QVERIFY(!queue.pause(std::chrono::milliseconds(1)));
    QVERIFY(!queue.waitForItems(std::chrono::milliseconds(1)));

    // The short sleeps make the waits below block before the line or the
    // wake comes, so that the wake-up path is the one taken; a line or wake
    // that came first would end the wait just the same.
    std::thread producer([&queue] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        queue.push({QStringLiteral("line"), 1});
    });
    QVERIFY(queue.waitForItems(std::chrono::minutes(2)));
    producer.join();
    QCOMPARE(queue.size(), std::size_t(1));

    std::thread stopper([&queue] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        queue.wake();
    });
    // A pause ignores queued lines and ends on wake().
    QVERIFY(queue.pause(std::chrono::minutes(2)));
    stopper.join();
}

void tst_MsgQueue::dropRecordsTellCountAndSpan_data()
{
    QTest::addColumn<QDateTime>("from");
    QTest::addColumn<QDateTime>("to");
    QTest::addColumn<int>("reason");
    QTest::addColumn<QString>("text");
    const QDate day(2026, 12, 8);
    using SystemLog::DropReason;
    QTest::newRow("queue full, one day")
        << QDateTime(day, QTime(10, 0, 1)) << QDateTime(day, QTime(10, 0, 5)) << int(DropReason::QueueFull)
        << QStringLiteral("日志过多：已丢弃 1234 条记录（2026-12-08 10:00:01 至 10:00:05）\n");
    QTest::newRow("queue full, across midnight")
        << QDateTime(day, QTime(23, 59, 58)) << QDateTime(day.addDays(1), QTime(0, 0, 3)) << int(DropReason::QueueFull)
        << QStringLiteral("日志过多：已丢弃 1234 条记录（2026-12-08 23:59:58 至 2026-12-09 00:00:03）\n");
    QTest::newRow("disk full")
        << QDateTime(day, QTime(8, 0, 0)) << QDateTime(day, QTime(8, 0, 0)) << int(DropReason::DiskFull)
        << QStringLiteral("日志写入失败（磁盘已满或数据库已达到大小上限）：已丢弃 1234 条记录（2026-12-08 08:00:00 至 08:00:00）\n");
    QTest::newRow("locked")
        << QDateTime(day, QTime(8, 0, 0)) << QDateTime(day, QTime(8, 0, 9)) << int(DropReason::Locked)
        << QStringLiteral("日志写入失败（数据库被其他程序锁定）：已丢弃 1234 条记录（2026-12-08 08:00:00 至 08:00:09）\n");
    QTest::newRow("file refused")
        << QDateTime(day, QTime(8, 0, 0)) << QDateTime(day, QTime(8, 0, 0)) << int(DropReason::Refused)
        << QStringLiteral("日志写入失败（文件不是日志数据库）：已丢弃 1234 条记录（2026-12-08 08:00:00 至 08:00:00）\n");
}

void tst_MsgQueue::dropRecordsTellCountAndSpan()
{
    QFETCH(QDateTime, from);
    QFETCH(QDateTime, to);
    QFETCH(int, reason);
    QFETCH(QString, text);
    // Two runs of drops summed into one tally: the span covers both, and the
    // reason is the first one's.
    SystemLog::DropTally tally;
    tally.reason = SystemLog::DropReason(reason);
    tally.add(1000, std::time_t(to.toSecsSinceEpoch()));
    SystemLog::DropTally earlier;
    earlier.reason = SystemLog::DropReason::Other;
    earlier.add(234, std::time_t(from.toSecsSinceEpoch()));
    tally.merge(earlier);
    tally.add(0, std::time_t(to.addSecs(60).toSecsSinceEpoch()));
    QCOMPARE(tally.count, std::uint64_t(1234));
    QCOMPARE(SystemLog::dropRecordText(tally), text);
}

QTEST_GUILESS_MAIN(tst_MsgQueue)
#include "tst_msgqueue.moc"
