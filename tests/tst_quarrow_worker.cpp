// The result pane's worker on log files the test makes: an answer is listed
// whole and in the store's order (also read in many slices), with block
// lengths that match the texts Qt's driver reads, malformed UTF-8 included;
// a second query cancels the first without a row of it reaching the second;
// failures give the Chinese reasons every program gives and never change the
// file; the strip's counts per interval agree with a direct SQL count, and a
// click on a bar shows that interval's first record.
#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <vxSyslog/RecordKeyReader.h>

#include "InterruptedWrite.h"
#include "PaneStrip.h"
#include "QueryWorker.h"
#include "ResultPane.h"
#include "TestDatabase.h"

using SystemLog::RecordKeyReader;
using SystemLog::ViewerQuery;

namespace {

// Read only by a ThreadSanitizer build (see QuarrowTestSupport.h).
extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_options()
{
    return "ignore_noninstrumented_modules=1";
}

const int kTimeoutMs = 30000;

const char* const kCreateTable =
    "CREATE TABLE SystemInfo(id INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, "
    "datetime DATETIME NOT NULL DEFAULT (datetime(CURRENT_TIMESTAMP,'localtime')), type INT(32), message TEXT)";
const char* const kCreateIndex = "CREATE INDEX SystemInfo_type_datetime ON SystemInfo(type, datetime)";

// 6,000 records of types 1 and 2 over two days, three to a time stamp, in
// reverse time order of their ids; then a few malformed or unusual texts.
bool fillLogFile(const QString& path, bool withIndex)
{
    TestDatabase db(path);
    QStringList sql{QString::fromLatin1(kCreateTable),
                    QStringLiteral("WITH RECURSIVE c(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM c WHERE i < 5999) "
                                   "INSERT INTO SystemInfo(datetime, type, message) SELECT strftime('%Y-%m-%d %H:%M:%S', "
                                   "'2024-04-30 22:00:00', '+' || ((5999 - i) / 3 * 87) || ' seconds'), 1 + i % 2, "
                                   "'记录 ' || i || ' 系统状态正常' FROM c"),
                    QStringLiteral("INSERT INTO SystemInfo(datetime, type, message) VALUES "
                                   "('2024-05-01 12:00:00', 1, CAST(x'41C3' AS TEXT)), "
                                   "('2024-05-01 12:00:00', 1, CAST(x'80E4B8AD' AS TEXT)), "
                                   "('2024-05-01 12:00:01', 1, CAST(x'F09F9880' AS TEXT)), "
                                   "('2024-05-01 12:00:02', 1, CAST(x'EDA080' AS TEXT)), "
                                   "('2024-05-01 12:00:03', 1, CAST(x'6100620D0A' AS TEXT)), "
                                   "('2024-05-01 12:00:04', 1, CAST(x'F4908080FFFE' AS TEXT)), "
                                   "('2024-05-01 12:00:05', 1, NULL)")};
    if (withIndex)
        sql << QString::fromLatin1(kCreateIndex);
    for (const QString& statement : sql)
        if (!db.exec(statement))
            return false;
    return true;
}

struct Key
{
    qint64 id;
    int length;
    bool operator==(const Key& other) const { return id == other.id && length == other.length; }
};

// The answer as Qt's SQLite driver reads it: ids in time order, and the
// length of each record block "time:\nmessage".
QVector<Key> expectedKeys(const QString& path, const ViewerQuery& query)
{
    TestDatabase db(path);
    QSqlQuery q(db.db());
    q.prepare(QStringLiteral("SELECT id, datetime, message FROM SystemInfo WHERE datetime >= ? AND datetime <= ? "
                             "AND type = ? ORDER BY datetime, id"));
    q.addBindValue(query.start);
    q.addBindValue(query.end);
    q.addBindValue(query.type);
    QVector<Key> keys;
    if (q.exec())
        while (q.next())
            keys.append({q.value(0).toLongLong(), q.value(1).toString().size() + 2 + q.value(2).toString().size()});
    return keys;
}

QByteArray checksum(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                                          : QByteArray();
}

// What a worker delivered for one listing.
struct Listing
{
    QVector<Key> keys;
    QVector<qint64> counts;
    QString error;
    int endings = 0;

    void watch(QueryWorker& worker)
    {
        QObject::connect(&worker, &QueryWorker::keysListed, [this](const std::vector<qint64>& ids, const std::vector<int>& lengths) {
            for (std::size_t i = 0; i < ids.size(); ++i)
                keys.append({ids[i], lengths[i]});
        });
        QObject::connect(&worker, &QueryWorker::intervalsCounted, [this](const QVector<qint64>& c) { counts = c; });
        QObject::connect(&worker, &QueryWorker::listingEnded, [this](const QString& e) {
            error = e;
            ++endings;
        });
    }
};

ViewerQuery dayQuery(int type)
{
    return {type, QStringLiteral("2024-05-01 00:00:00"), QStringLiteral("2024-05-01 23:59:59"), 0};
}

} // namespace

Q_DECLARE_METATYPE(ViewerQuery)

class TestQuarrowWorker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void listsTheWholeAnswerInOrder_data();
    void listsTheWholeAnswerInOrder();
    void aSecondQueryCancelsTheFirst();
    void failuresGiveTheReasonAndLeaveTheFile_data();
    void failuresGiveTheReasonAndLeaveTheFile();
    void stripCountsMatchSql_data();
    void stripCountsMatchSql();

private:
    QTemporaryDir m_dir;
    QString m_indexed;
    QString m_unindexed;
};

void TestQuarrowWorker::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_indexed = m_dir.filePath(QStringLiteral("indexed.db"));
    m_unindexed = m_dir.filePath(QStringLiteral("unindexed.db"));
    QVERIFY(fillLogFile(m_indexed, true));
    QVERIFY(fillLogFile(m_unindexed, false));
}

void TestQuarrowWorker::listsTheWholeAnswerInOrder_data()
{
    QTest::addColumn<bool>("indexed");
    QTest::addColumn<ViewerQuery>("query");
    QTest::newRow("a day of type 1, malformed texts among them") << true << dayQuery(1);
    QTest::newRow("a day of type 2") << true << dayQuery(2);
    QTest::newRow("a range across midnight")
        << true << ViewerQuery{1, QStringLiteral("2024-04-30 23:00:00"), QStringLiteral("2024-05-01 01:00:00"), 0};
    QTest::newRow("bounds at shared time stamps are included")
        << true << ViewerQuery{2, QStringLiteral("2024-05-01 10:03:03"), QStringLiteral("2024-05-01 10:07:24"), 0};
    QTest::newRow("a range with nothing in it")
        << true << ViewerQuery{1, QStringLiteral("2024-06-01 00:00:00"), QStringLiteral("2024-06-02 00:00:00"), 0};
    QTest::newRow("a file without the time index") << false << dayQuery(1);
}

// Through the worker, and through a reader that starts a new slice every 64
// rows, so that every tie of time stamps is crossed.
void TestQuarrowWorker::listsTheWholeAnswerInOrder()
{
    QFETCH(bool, indexed);
    QFETCH(ViewerQuery, query);
    const QString path = indexed ? m_indexed : m_unindexed;
    const QVector<Key> expected = expectedKeys(path, query);

    QueryWorker worker;
    Listing listing;
    listing.watch(worker);
    worker.list(path, query, {});
    QTRY_COMPARE_WITH_TIMEOUT(listing.endings, 1, kTimeoutMs);
    QCOMPARE(listing.error, QString());
    QVERIFY(!worker.isListing());
    QCOMPARE(listing.keys.size(), expected.size());
    QVERIFY(listing.keys == expected);

    RecordKeyReader sliced(path);
    sliced.setSliceTime(0);
    QVERIFY2(sliced.open(), qPrintable(sliced.errorText()));
    QVector<Key> keys;
    QVERIFY(sliced.readKeys(query, [&keys](qint64 id, int length) {
        keys.append({id, length});
        return true;
    }));
    QVERIFY(keys == expected);
}

// The second starts when the first's first batch arrives, so the rest of the
// first (at least its end) is still on its way: none of it may arrive.
void TestQuarrowWorker::aSecondQueryCancelsTheFirst()
{
    const ViewerQuery first = dayQuery(1);
    const ViewerQuery second = dayQuery(2);
    QueryWorker worker;
    Listing listing;
    listing.watch(worker);
    QMetaObject::Connection restart;
    restart = connect(&worker, &QueryWorker::keysListed, this, [&] {
        disconnect(restart);
        QCOMPARE(listing.endings, 0);
        listing = Listing{};
        worker.list(m_indexed, second, {});
    });
    worker.list(m_indexed, first, {QStringLiteral("2024-05-01 00:00:00"), QStringLiteral("2024-05-02 00:00:00")});
    QTRY_COMPARE_WITH_TIMEOUT(listing.endings, 1, kTimeoutMs);
    QVERIFY(listing.keys == expectedKeys(m_indexed, second));
    QVERIFY(listing.counts.isEmpty()); // the first query's, if they came, were dropped
    QCOMPARE(listing.error, QString());
}

void TestQuarrowWorker::failuresGiveTheReasonAndLeaveTheFile_data()
{
    QTest::addColumn<QByteArray>("content"); // the file's bytes; null: the fault is made below
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("kind");
    QTest::newRow("a text file") << QByteArray("不是数据库\n").repeated(500) << QString()
                                 << int(SystemLog::FailureKind::NotADatabase);
    QTest::newRow("another program's database") << QByteArray() << "CREATE TABLE orders(id INTEGER, item TEXT)"
                                                 << int(SystemLog::FailureKind::NotALogDatabase);
    QTest::newRow("a SystemInfo table without a message") << QByteArray()
                                                           << "CREATE TABLE SystemInfo(id INTEGER, datetime TEXT, type INT)"
                                                           << int(SystemLog::FailureKind::NotALogDatabase);
    QTest::newRow("an empty file") << QByteArray("") << QString() << int(SystemLog::FailureKind::NotALogDatabase);
    QTest::newRow("no file") << QByteArray() << "missing" << int(SystemLog::FailureKind::Missing);
    QTest::newRow("a folder at the path") << QByteArray() << "folder" << int(SystemLog::FailureKind::CannotOpen);
    // Rolling it back would write the file: the reason says what to do instead.
    QTest::newRow("a write cut off by a crash") << QByteArray() << "interrupted"
                                                << int(SystemLog::FailureKind::InterruptedWrite);
}

void TestQuarrowWorker::failuresGiveTheReasonAndLeaveTheFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, fault);
    QFETCH(int, kind);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    if (!content.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    } else if (fault == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(path));
    } else if (fault == QLatin1String("interrupted")) {
        QVERIFY(TestDatabase(path).exec(QStringLiteral("CREATE TABLE SystemInfo(id INTEGER PRIMARY KEY AUTOINCREMENT, "
                                                       "datetime DATETIME, type INT, message TEXT)")));
        leaveInterruptedWrite(path);
        if (QTest::currentTestFailed())
            return;
    } else if (fault != QLatin1String("missing")) {
        QVERIFY(TestDatabase(path).exec(fault));
    }
    const QByteArray before = checksum(path);
    const QStringList filesBefore = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    QueryWorker worker;
    Listing listing;
    listing.watch(worker);
    worker.list(path, dayQuery(1), {QStringLiteral("2024-05-01 00:00:00"), QStringLiteral("2024-05-02 00:00:00")});
    QTRY_COMPARE_WITH_TIMEOUT(listing.endings, 1, kTimeoutMs);
    const QString reason = SystemLog::failureKindText(SystemLog::FailureKind(kind));
    QVERIFY2(listing.error.startsWith(reason), qPrintable(listing.error));
    QVERIFY(listing.keys.isEmpty());
    QCOMPARE(checksum(path), before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), filesBefore);
}

void TestQuarrowWorker::stripCountsMatchSql_data()
{
    QTest::addColumn<bool>("day"); // a day query of start's day, or a range query
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<QDateTime>("end");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("intervals");
    const QDateTime may1(QDate(2024, 5, 1), QTime(0, 0));
    QTest::newRow("a day in quarter-hours") << true << may1 << QDateTime() << 1 << 776 << 96;
    QTest::newRow("a day, narrow: quarter-hours counted, hours drawn") << true << may1 << QDateTime() << 2 << 300 << 96;
    QTest::newRow("two days of another type") << false << may1.addSecs(-7200) << may1.addDays(2) << 2 << 776 << 0;
    QTest::newRow("seven minutes") << false << may1.addSecs(36183) << may1.addSecs(36604) << 1 << 776 << 0;
}

// Every interval's count is SQL's count of the answer in it; the counts add
// up to the answer; a click on the fullest bar shows its first record.
void TestQuarrowWorker::stripCountsMatchSql()
{
    QFETCH(bool, day);
    QFETCH(QDateTime, start);
    QFETCH(QDateTime, end);
    QFETCH(int, type);
    QFETCH(int, width);
    QFETCH(int, intervals);
    ResultPane pane;
    pane.resize(width, 500);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    if (day)
        pane.showDayQuery(m_indexed, type, start.date());
    else
        pane.showRangeQuery(m_indexed, type, start, end);
    PaneStrip* strip = pane.strip();
    const QStringList bounds = strip->bounds();
    QTRY_VERIFY_WITH_TIMEOUT(!pane.isBusy() && strip->counts().size() == bounds.size() + 1, kTimeoutMs);
    if (intervals)
        QCOMPARE(bounds.size(), intervals + 1);
    QCOMPARE(strip->barCount(), width < 400 && day ? 24 : bounds.size() - 1);

    const QString answerStart = day ? start.toString(QStringLiteral("yyyy-MM-dd 00:00:00")) : start.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    const QString answerEnd = day ? start.toString(QStringLiteral("yyyy-MM-dd 23:59:59")) : end.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    TestDatabase db(m_indexed);
    auto sqlCount = [&](const QString& from, const QString& to) {
        return db.scalar(QStringLiteral("SELECT count(*) FROM SystemInfo WHERE type = %1 AND datetime >= '%2' AND datetime <= '%3' "
                                        "AND datetime >= '%4' AND datetime < '%5'")
                             .arg(type).arg(answerStart, answerEnd, from, to)).toLongLong();
    };
    const QVector<qint64> counts = strip->counts();
    qint64 total = 0;
    for (int i = 0; i + 1 < bounds.size(); ++i) {
        QCOMPARE(counts.at(i + 1), sqlCount(bounds.at(i), bounds.at(i + 1)));
        total += counts.at(i + 1);
    }
    QCOMPARE(counts.first() + counts.last(), qint64(0));
    QCOMPARE(total, qint64(pane.recordCount()));
    QVERIFY(total > 0);

    int fullest = 0;
    for (int bar = 1; bar < strip->barCount() / 2; ++bar)
        if (strip->barTotal(bar) > strip->barTotal(fullest))
            fullest = bar;
    const int first = strip->firstRecordOfBar(fullest);
    QCOMPARE(qint64(first), sqlCount(QStringLiteral("0"), bounds.at(fullest * (bounds.size() - 1) / strip->barCount())));
    QVERIFY(strip->barToolTip(fullest).endsWith(QStringLiteral("：%1 条").arg(strip->barTotal(fullest))));
    QTest::mousePress(strip, Qt::LeftButton, Qt::NoModifier, strip->barRect(fullest).center());
    QCOMPARE(pane.firstVisibleRecord(), first);
    QCOMPARE(pane.firstVisibleRecordOffset(), 0);
}

QTEST_MAIN(TestQuarrowWorker)
#include "tst_quarrow_worker.moc"
