#include <QtTest>

#include <thread>
#include <vector>

#include "MsgQueue.h"

using SystemLog::MsgQueue;
using SystemLog::tag_MsgItem;

class tst_MsgQueue : public QObject
{
    Q_OBJECT

private slots:
    void popsInPushOrder();
    void tryPopOnEmptyLeavesItemUntouched();
    void takeAllHandsOverEverythingInOrder();
    void concurrentProducersAndDrainingConsumerLoseNothing();
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
    MsgQueue queue;
    for (int i = 0; i < 10; ++i)
        queue.push({QString::number(i), i});
    const std::list<tag_MsgItem> taken = queue.takeAll();
    QCOMPARE(taken.size(), std::size_t(10));
    QCOMPARE(queue.size(), std::size_t(0));
    int expected = 0;
    for (const tag_MsgItem& item : taken)
        QCOMPARE(item.type, expected++);
    QVERIFY(queue.takeAll().empty());
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
        for (const tag_MsgItem& item : queue.takeAll()) {
            inOrder = inOrder && item.message == QString::number(next[item.type]);
            ++next[item.type];
        }
    };
    while (finished < producers)
        drain();
    for (auto& t : threads)
        t.join();
    drain();

    QVERIFY(inOrder);
    for (int p = 0; p < producers; ++p)
        QCOMPARE(next[p], perProducer);
}

QTEST_GUILESS_MAIN(tst_MsgQueue)
#include "tst_msgqueue.moc"
