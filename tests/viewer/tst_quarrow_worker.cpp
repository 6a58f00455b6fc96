// The result pane's worker on log files the test makes: an answer is listed
// whole and in the store's order (also read in many slices), with block
// lengths that match the texts QString::fromUtf8 reads, malformed UTF-8 included;
// a second query cancels the first without a row of it reaching the second;
// failures give the Chinese reasons every program gives and never change the
// file; the strip's counts per interval agree with a direct SQL count, and a
// click on a bar shows that interval's first record.
#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <numeric>
#include <sys/resource.h>
#include <QtTest>

#include <vxSyslog/ListingBlock.h>
#include <vxSyslog/LogReader.h>
#include <vxSyslog/TextIndex.h>

#include "InterruptedWrite.h"
#include "PaneStrip.h"
#include "QueryWorker.h"
#include "RecordKeys.h"
#include "ResultPane.h"
#include "TestDatabase.h"

using SystemLog::LogReader;
using SystemLog::LogQuery;

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
                                   "('2024-05-01 12:00:05', 1, NULL), "
                                   "('2024-05-01 12:00:06', 1, CAST(x'E4B8206F6B' AS TEXT)), "
                                   "('2024-05-01 12:00:07', 1, CAST(x'B1A8BEAFBAC52034303031' AS TEXT)), "
                                   "('2024-05-01 12:00:08', 1, CAST(x'C0AFE08080EFBFBE' AS TEXT)), "
                                   "('2024-05-01 12:00:09', 1, CAST(x'F09F98F0A8B8AF41' AS TEXT)), "
                                   "('2024-05-01 12:00:10', 1, CAST(x'C3A9E282ACF48FBFBFF8888080' AS TEXT))")};
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

// The answer as QString::fromUtf8 reads the stored bytes (each byte that
// begins no character one U+FFFD): ids in time order, and the length of
// each record block "time:\nmessage".
QVector<Key> expectedKeys(const QString& path, const LogQuery& query)
{
    TestDatabase db(path);
    QSqlQuery q(db.db());
    q.prepare(QStringLiteral("SELECT id, datetime, CAST(message AS BLOB) FROM SystemInfo WHERE datetime >= ? "
                             "AND datetime <= ? AND type = ? ORDER BY datetime, id"));
    q.addBindValue(query.since);
    q.addBindValue(query.until);
    q.addBindValue(query.types.first());
    QVector<Key> keys;
    if (!q.exec())
        return keys;
    while (q.next()) {
        const QByteArray message = q.value(2).toByteArray(); // a NUL byte included
        keys.append({q.value(0).toLongLong(),
                     q.value(1).toString().size() + 2 + QString::fromUtf8(message.constData(), message.size()).size()});
    }
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
        QObject::connect(&worker, &QueryWorker::keysListed, [this](const std::vector<qint64>& ids, const std::vector<int>& lengths,
                                                                   const std::vector<qint8>&) {
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

LogQuery query(int type, const char* start, const char* end)
{
    LogQuery q;
    q.types = {type};
    q.since = QString::fromLatin1(start);
    q.until = QString::fromLatin1(end);
    return q;
}

LogQuery dayQuery(int type)
{
    return query(type, "2024-05-01 00:00:00", "2024-05-01 23:59:59");
}

// Records of every type and some others on 2024-05-01 and around it, among
// them drop records of type 4 and records at the day's first and last second.
bool fillMixedFile(const QString& path)
{
    TestDatabase db(path);
    const QStringList sql{
        QString::fromLatin1(kCreateTable), QString::fromLatin1(kCreateIndex),
        QStringLiteral("WITH RECURSIVE c(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM c WHERE i < 2999) "
                       "INSERT INTO SystemInfo(datetime, type, message) SELECT strftime('%Y-%m-%d %H:%M:%S', "
                       "'2024-04-30 23:00:00', '+' || (i * 29) || ' seconds'), i % 5, "
                       "CASE WHEN i % 7 = 0 THEN '主轴温度 ' || i WHEN i % 11 = 0 THEN 'Motor stop ' || i "
                       "ELSE 'motor ok ' || i END FROM c"),
        QStringLiteral("INSERT INTO SystemInfo(datetime, type, message) VALUES "
                       "('2024-05-01 00:00:00', 3, '午夜报警'), ('2024-05-01 23:59:59', 0, '最后一秒'), "
                       "('2024-05-01 23:59:59', 3, '最后一秒报警'), ('2024-05-02 00:00:00', 3, '次日'), "
                       "('2024-05-01 06:00:00', 9, '类型九'), ('2024-05-01 06:00:01', NULL, '没有类型'), "
                       "('2024-05-01 07:00:00', 4, '日志过多：已丢弃 1234 条记录（2024-05-01 06:59:50 至 07:00:00）'), "
                       "('2024-05-01 08:00:00', 4, '日志写入失败（磁盘已满或数据库已达到大小上限）：已丢弃 5 条记录（2024-05-01 07:59:00 至 08:00:00）'), "
                       "('2024-05-01 07:00:00', 3, '日志过多：已丢弃 9 条记录 (an alarm that only looks like one)')")};
    for (const QString& statement : sql)
        if (!db.exec(statement))
            return false;
    return true;
}

struct Block
{
    qint64 id;
    QString text;
    bool operator==(const Block& other) const { return id == other.id && text == other.text; }
};

QString typeName(const QVariant& type)
{
    if (type.isNull())
        return QStringLiteral("类型 ?");
    const char* captions[] = {"参数修改记录", "用户使用记录", "系统状态记录", "报警记录", "其他信息"};
    const int code = type.toInt();
    return code >= 0 && code < 5 ? QString::fromUtf8(captions[code]) : QStringLiteral("类型 %1").arg(code);
}

bool isGap(const QVariant& type, const QString& message)
{
    return !type.isNull() && type.toInt() == 4
           && (message.startsWith(QStringLiteral("日志过多：已丢弃")) || message.startsWith(QStringLiteral("日志写入失败")));
}

// The listing as plain SQL gives it: `where` chooses the records, the
// blocks are put together here.
QVector<Block> expectedBlocks(const QString& path, const LogQuery& query, const QString& where, bool namesTypes)
{
    TestDatabase db(path);
    QSqlQuery q(db.db());
    const QString order = query.newestFirst ? QStringLiteral(" ORDER BY datetime DESC, id DESC") : QStringLiteral(" ORDER BY datetime, id");
    q.prepare(QStringLiteral("SELECT id, datetime, type, message FROM SystemInfo WHERE datetime >= ? AND datetime <= ? AND (")
              + where + QLatin1Char(')') + order);
    q.addBindValue(query.since);
    q.addBindValue(query.until);
    QVector<Block> blocks;
    if (!q.exec())
        return blocks;
    while (q.next()) {
        const QString message = q.value(3).toString();
        QString text = q.value(1).toString();
        if (namesTypes)
            text += QStringLiteral(" [%1]").arg(typeName(q.value(2)));
        text += QStringLiteral(":\n");
        if (query.withGaps && isGap(q.value(2), message)) {
            if (message.startsWith(QStringLiteral("日志过多")))
                text += QStringLiteral("此期间有 1,234 条日志未能写入：日志过多（2024-05-01 06:59:50 至 07:00:00）");
            else
                text += QStringLiteral("此期间有 5 条日志未能写入：磁盘已满或数据库已达到大小上限（2024-05-01 07:59:00 至 08:00:00）");
        } else {
            text += message;
        }
        blocks.append({q.value(0).toLongLong(), text});
    }
    return blocks;
}

} // namespace

Q_DECLARE_METATYPE(LogQuery)

class tst_QuarrowWorker : public QObject
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
    void newestFirstBarShowsItsNewestRecord();
    void readsAnInterruptedWriteFromACopy();
    void indexNoticesGoToThePaneThatSearched_data();
    void indexNoticesGoToThePaneThatSearched();
    void copyThatCannotBeMadeSaysWhy_data();
    void copyThatCannotBeMadeSaysWhy();
    void stripMarksTheGapsOfAnotherType_data();
    void stripMarksTheGapsOfAnotherType();
    void liveRecordsAppearOnceInOrder_data();
    void liveRecordsAppearOnceInOrder();
    void liveViewFollowsOnlyAtTheNewest_data();
    void liveViewFollowsOnlyAtTheNewest();
    void newestFirstLiveCountsNewRecords();
    void listingsMatchSql_data();
    void listingsMatchSql();

private:
    QTemporaryDir m_dir;
    QString m_indexed;
    QString m_unindexed;
    QString m_mixed;
};

void tst_QuarrowWorker::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_indexed = m_dir.filePath(QStringLiteral("indexed.db"));
    m_unindexed = m_dir.filePath(QStringLiteral("unindexed.db"));
    QVERIFY(fillLogFile(m_indexed, true));
    QVERIFY(fillLogFile(m_unindexed, false));
    m_mixed = m_dir.filePath(QStringLiteral("mixed.db"));
    QVERIFY(fillMixedFile(m_mixed));
}

void tst_QuarrowWorker::listsTheWholeAnswerInOrder_data()
{
    QTest::addColumn<bool>("indexed");
    QTest::addColumn<LogQuery>("query");
    QTest::newRow("a day of type 1, malformed texts among them") << true << dayQuery(1);
    QTest::newRow("a day of type 2") << true << dayQuery(2);
    QTest::newRow("a range across midnight")
        << true << query(1, "2024-04-30 23:00:00", "2024-05-01 01:00:00");
    QTest::newRow("bounds at shared time stamps are included")
        << true << query(2, "2024-05-01 10:03:03", "2024-05-01 10:07:24");
    QTest::newRow("a range with nothing in it")
        << true << query(1, "2024-06-01 00:00:00", "2024-06-02 00:00:00");
    QTest::newRow("a file without the time index") << false << dayQuery(1);
}

// Through the worker, and through a reader that starts a new slice every 64
// rows, so that every tie of time stamps is crossed.
void tst_QuarrowWorker::listsTheWholeAnswerInOrder()
{
    QFETCH(bool, indexed);
    QFETCH(LogQuery, query);
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

    LogReader sliced(path);
    sliced.setSliceTime(0);
    QVERIFY2(sliced.open(), qPrintable(sliced.errorText()));
    QVector<Key> keys;
    QVERIFY(sliced.readKeys(query, [&keys](const SystemLog::ListedKey& key) {
        keys.append({key.id, key.blockLength});
        return true;
    }));
    QVERIFY(keys == expected);
}

// The second starts when the first's first batch arrives, so the rest of the
// first (at least its end) is still on its way: none of it may arrive.
void tst_QuarrowWorker::aSecondQueryCancelsTheFirst()
{
    const LogQuery first = dayQuery(1);
    const LogQuery second = dayQuery(2);
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

void tst_QuarrowWorker::failuresGiveTheReasonAndLeaveTheFile_data()
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
}

void tst_QuarrowWorker::failuresGiveTheReasonAndLeaveTheFile()
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

void tst_QuarrowWorker::stripCountsMatchSql_data()
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
void tst_QuarrowWorker::stripCountsMatchSql()
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
    QVERIFY(strip->barToolTip(fullest).endsWith(QStringLiteral("：%1 条").arg(SystemLog::groupedCount(strip->barTotal(fullest)))));
    QTest::mousePress(strip, Qt::LeftButton, Qt::NoModifier, strip->barRect(fullest).center());
    QCOMPARE(pane.firstVisibleRecord(), first);
    QCOMPARE(pane.firstVisibleRecordOffset(), 0);
}

// Newest first, a bar's first record is its newest: the records of every
// later interval come before it.
void tst_QuarrowWorker::newestFirstBarShowsItsNewestRecord()
{
    ResultPane pane;
    pane.resize(776, 500);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    LogQuery newest = dayQuery(2);
    newest.newestFirst = true;
    pane.showDayQuery(m_indexed, newest, QDate(2024, 5, 1));
    PaneStrip* strip = pane.strip();
    const QStringList bounds = strip->bounds();
    QTRY_VERIFY_WITH_TIMEOUT(!pane.isBusy() && strip->counts().size() == bounds.size() + 1, kTimeoutMs);
    TestDatabase db(m_indexed);
    for (int bar : {10, 40, 90}) {
        const qint64 later = db.scalar(QStringLiteral("SELECT count(*) FROM SystemInfo WHERE type = 2 AND datetime >= '%1' "
                                                      "AND datetime <= '2024-05-01 23:59:59'")
                                           .arg(bounds.at(bar + 1)))
                                 .toLongLong();
        QCOMPARE(qint64(strip->firstRecordOfBar(bar)), later);
        QTest::mousePress(strip, Qt::LeftButton, Qt::NoModifier, strip->barRect(bar).center());
        QCOMPARE(pane.firstVisibleRecord(), int(later));
    }
}

namespace {

// A log whose last write was cut off (a hot journal) in `dir`, with two
// committed records.
QString interruptedLogFile(const QTemporaryDir& dir)
{
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    {
        TestDatabase db(path);
        if (!db.exec(QString::fromLatin1(kCreateTable))
            || !db.insertRow(QStringLiteral("2024-05-01 08:00:00"), 1, QStringLiteral("committed"))
            || !db.insertRow(QStringLiteral("2024-05-02 08:00:00"), 2, QStringLiteral("committed too")))
            return QString();
    }
    leaveInterruptedWrite(path);
    return QTest::currentTestFailed() ? QString() : path;
}

// The copies' folders in the temporary folder.
QStringList copyFolders(const QString& temp)
{
    return QDir(temp).entryList({QStringLiteral("vxSyslog-copy-*")}, QDir::Dirs | QDir::NoDotAndDotDot);
}

// TMPDIR for the lifetime of the object.
class TemporaryFolder
{
public:
    explicit TemporaryFolder(const QString& path)
        : m_saved(qgetenv("TMPDIR"))
    {
        qputenv("TMPDIR", QFile::encodeName(path));
    }
    ~TemporaryFolder()
    {
        if (m_saved.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", m_saved);
    }

private:
    QByteArray m_saved;
};

} // namespace

// Rolling the cut-off write back would write the file: the check and the
// listing read a rolled-back copy instead, one copy for both, which the pane
// keeps, and the file stays as it was.
void tst_QuarrowWorker::readsAnInterruptedWriteFromACopy()
{
    QTemporaryDir dir;
    QTemporaryDir temp;
    const TemporaryFolder tmpdir(temp.path());
    const QString path = interruptedLogFile(dir);
    QVERIFY(!path.isEmpty());
    const QByteArray before = checksum(path);
    const QByteArray journalBefore = checksum(path + QStringLiteral("-journal"));
    const QStringList filesBefore = QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    {
        ResultPane pane;
        pane.showRangeQuery(path, query(2, "2024-04-01 00:00:00", "2024-06-01 00:00:00"), QDateTime(QDate(2024, 4, 1), QTime()),
                            QDateTime(QDate(2024, 6, 1), QTime()));
        QTRY_VERIFY_WITH_TIMEOUT(!pane.isBusy(), kTimeoutMs);
        QCOMPARE(pane.toPlainText(), QStringLiteral("2024-05-02 08:00:00:\ncommitted too"));
        QVERIFY2(pane.strip()->status().endsWith(SystemLog::CommittedCopy::noteText()), qPrintable(pane.strip()->status()));
    }
    QTRY_COMPARE_WITH_TIMEOUT(copyFolders(temp.path()), QStringList(), kTimeoutMs);

    // The check on opening the file and the first query: one copy.
    QueryWorker worker;
    QString checked = QStringLiteral("not yet");
    QString note;
    connect(&worker, &QueryWorker::checkEnded, this, [&](const QString& error, const QString& n) {
        checked = error;
        note = n;
    });
    std::shared_ptr<SystemLog::CommittedCopy> listed;
    connect(&worker, &QueryWorker::copyTaken, this, [&](const std::shared_ptr<SystemLog::CommittedCopy>& copy) { listed = copy; });
    bool ended = false;
    connect(&worker, &QueryWorker::listingEnded, this, [&](const QString&) { ended = true; });
    worker.check(path);
    QTRY_COMPARE_WITH_TIMEOUT(checked, QString(), kTimeoutMs);
    QCOMPARE(note, SystemLog::CommittedCopy::noteText());
    const QStringList checkCopy = copyFolders(temp.path());
    QCOMPARE(checkCopy.size(), 1);
    worker.list(path, query(2, "2024-04-01 00:00:00", "2024-06-01 00:00:00"), QStringList());
    QTRY_VERIFY_WITH_TIMEOUT(ended, kTimeoutMs);
    QVERIFY(listed);
    QCOMPARE(QFileInfo(listed->path()).dir().dirName(), checkCopy.first());
    QCOMPARE(copyFolders(temp.path()), checkCopy);

    QCOMPARE(checksum(path), before);
    QCOMPARE(checksum(path + QStringLiteral("-journal")), journalBefore);
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), filesBefore);
}

void tst_QuarrowWorker::copyThatCannotBeMadeSaysWhy_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("why");  // the system's reason, in Chinese
    QTest::newRow("temporary folder is a file") << "file" << QStringLiteral("路径中有一部分不是文件夹");
    QTest::newRow("copy larger than the file size limit") << "size-limit" << QStringLiteral("文件超过系统允许的大小");
}

// A copy that cannot be made says why, how much room it needs, in which
// folder, and how to choose another (TMPDIR); nothing is left behind.
void tst_QuarrowWorker::copyThatCannotBeMadeSaysWhy()
{
    QFETCH(QString, fault);
    QFETCH(QString, why);
    QTemporaryDir dir;
    QTemporaryDir temp;
    const QString path = interruptedLogFile(dir);
    QVERIFY(!path.isEmpty());
    QString folder = temp.path();
    if (fault == QLatin1String("file")) {
        folder = temp.filePath(QStringLiteral("not-a-folder"));
        QFile file(folder);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const TemporaryFolder tmpdir(folder);
    QueryWorker worker;
    QString checked = QStringLiteral("not yet");
    connect(&worker, &QueryWorker::checkEnded, this, [&](const QString& error, const QString&) { checked = error; });
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    if (fault == QLatin1String("size-limit")) {
        // Past the limit a write fails (EFBIG) instead of ending the process.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved;
        limit.rlim_cur = 16 * 1024;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    worker.check(path);
    const bool ended = QTest::qWaitFor([&] { return checked != QLatin1String("not yet"); }, kTimeoutMs);
    setrlimit(RLIMIT_FSIZE, &saved);
    QVERIFY(ended);
    const qint64 needed = QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-journal")).size();
    QVERIFY2(checked.contains(QStringLiteral("TMPDIR")), qPrintable(checked));
    QVERIFY2(checked.contains(why), qPrintable(checked));
    QVERIFY2(checked.contains(QDir::toNativeSeparators(QDir(folder).absolutePath())), qPrintable(checked));
    QVERIFY2(checked.contains(QLocale::c().formattedDataSize(needed, 1)), qPrintable(checked));
    QVERIFY2(checked.contains(QStringLiteral("dbLog.db")), qPrintable(checked));
    QCOMPARE(copyFolders(temp.path()), QStringList());
}

void tst_QuarrowWorker::stripMarksTheGapsOfAnotherType_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("alarms") << 3; // an alarm that merely reads like a drop record is no gap
    QTest::newRow("parameter changes") << 0;
    QTest::newRow("other information, where the drop records are") << 4;
}

// The day's drop records (type 4, at 07:00 and 08:00) mark their quarter-hours
// whatever type is listed, and are listed themselves as gaps.
void tst_QuarrowWorker::stripMarksTheGapsOfAnotherType()
{
    QFETCH(int, type);
    ResultPane pane;
    pane.resize(776, 500);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    pane.showDayQuery(m_mixed, type, QDate(2024, 5, 1));
    PaneStrip* strip = pane.strip();
    QTRY_VERIFY_WITH_TIMEOUT(!pane.isBusy() && strip->barGaps(28) > 0, kTimeoutMs);
    QCOMPARE(strip->barCount(), 96);
    QVector<int> marked;
    for (int bar = 0; bar < strip->barCount(); ++bar)
        if (strip->barGaps(bar) > 0)
            marked << bar;
    QCOMPARE(marked, (QVector<int>{28, 32}));
    // Counted apart from the records: a drop record among alarms is no alarm.
    QCOMPARE(strip->barRecords(28), strip->barTotal(28) - 1);
    QVERIFY2(strip->barToolTip(28).endsWith(QStringLiteral("：%1 条 · 1 处空缺").arg(strip->barRecords(28))),
             qPrintable(strip->barToolTip(28)));
    QCOMPARE(strip->status(), QStringLiteral("共 %1 条 · 2 处空缺").arg(SystemLog::groupedCount(pane.recordCount() - 2)));
    const QString text = pane.toPlainText();
    QVERIFY(text.contains(QStringLiteral("2024-05-01 07:00:00:\n此期间有 1,234 条日志未能写入：日志过多（2024-05-01 06:59:50 至 07:00:00）")));
    QVERIFY(text.contains(QStringLiteral("此期间有 5 条日志未能写入：磁盘已满或数据库已达到大小上限")));
    QCOMPARE(text.contains(QStringLiteral("日志过多：已丢弃 9 条记录 (an alarm")), type == 3);
}

// Runs SQL through the sqlite3 shell, another process, as a program that
// logs would (waiting while the pane's reads hold the file, as the log
// module's writer does); returns once it has ended.
void runSqliteShell(const QString& path, const QByteArray& sql)
{
    QProcess shell;
    shell.start(QStringLiteral("sqlite3"), {path});
    QVERIFY(shell.waitForStarted());
    shell.write(".timeout " + QByteArray::number(kTimeoutMs) + "\n" + sql);
    shell.closeWriteChannel();
    QVERIFY(shell.waitForFinished(kTimeoutMs));
    QCOMPARE(shell.exitCode(), 0);
}

QByteArray insertsAt(const QDate& day, const QStringList& messages, int firstSecond)
{
    QByteArray sql;
    for (int i = 0; i < messages.size(); ++i)
        sql += QStringLiteral("INSERT INTO SystemInfo(datetime, type, message) VALUES('%1 00:00:%2', 3, '%3');\n")
                   .arg(day.toString(QStringLiteral("yyyy-MM-dd")))
                   .arg(firstSecond + i, 2, 10, QLatin1Char('0'))
                   .arg(messages.at(i))
                   .toUtf8();
    return sql;
}

void tst_QuarrowWorker::indexNoticesGoToThePaneThatSearched_data()
{
    QTest::addColumn<int>("searching"); // which of two workers, 0 made first
    QTest::newRow("the older of two") << 0;
    QTest::newRow("the newer of two") << 1;
}

// A search of a log whose text index cannot be made (a folder at its path)
// reads the records and says so once: to the pane that searched, not to
// another pane of the window.
void tst_QuarrowWorker::indexNoticesGoToThePaneThatSearched()
{
    QFETCH(int, searching);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    QVERIFY(fillLogFile(path, true));
    QVERIFY(QDir().mkpath(SystemLog::TextIndex::pathFor(path)));
    QueryWorker workers[2];
    QSignalSpy older(&workers[0], &QueryWorker::searchNoticed);
    QSignalSpy newer(&workers[1], &QueryWorker::searchNoticed);
    Listing listing;
    listing.watch(workers[searching]);
    LogQuery query = dayQuery(1);
    query.grep = QStringLiteral("系统状态");
    workers[searching].list(path, query, {});
    QTRY_COMPARE_WITH_TIMEOUT(listing.endings, 1, kTimeoutMs);
    QCOMPARE(listing.error, QString());
    QTRY_COMPARE_WITH_TIMEOUT((searching == 0 ? older : newer).count(), 1, kTimeoutMs);
    QCOMPARE((searching == 0 ? newer : older).count(), 0);
}

void tst_QuarrowWorker::liveRecordsAppearOnceInOrder_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("startsEmpty");
    QTest::addColumn<bool>("besideAnother"); // listed with a second file, a.db, as two machines
    QTest::newRow("appended one by one") << "append" << false << false;
    QTest::newRow("into a day that had none") << "append" << true << false;
    QTest::newRow("committed after holding the lock") << "lock" << false << false;
    QTest::newRow("in a file put in the old one's place") << "replace" << false << false;
    QTest::newRow("two files, appended to one") << "append" << false << true;
    QTest::newRow("two files, one replaced") << "replace" << false << true;
}

// Today's alarms listed live: records another process commits afterwards
// appear, each once, in time order; a file renamed over the listed one is
// listed afresh and followed on. Beside another file, each names its machine.
void tst_QuarrowWorker::liveRecordsAppearOnceInOrder()
{
    QFETCH(QString, how);
    QFETCH(bool, startsEmpty);
    QFETCH(bool, besideAnother);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    const QString other = dir.filePath(QStringLiteral("a.db"));
    const QDate today = QDate::currentDate();
    const QByteArray schema = QByteArray(kCreateTable) + ";\n" + kCreateIndex + ";\n";
    runSqliteShell(path, schema + (startsEmpty ? QByteArray() : insertsAt(today, {QStringLiteral("before")}, 0)));
    if (besideAnother)
        runSqliteShell(other, schema + insertsAt(today, {QStringLiteral("a before")}, 0));
    ResultPane pane;
    pane.resize(600, 400);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    pane.showDayQuery(besideAnother ? LogSources(QStringList{other, path}) : LogSources(path), 3, today);
    QTRY_VERIFY_WITH_TIMEOUT(!pane.isBusy(), kTimeoutMs);
    if (startsEmpty)
        QCOMPARE(pane.toPlainText(), ResultPane::notFoundText());
    QVERIFY(pane.isLive());
    QVERIFY(pane.strip()->status().endsWith(ResultPane::liveText()));
    const QString day = today.toString(QStringLiteral("yyyy-MM-dd"));
    auto named = [&day](int second, const QString& machine, const char* message) {
        return QStringLiteral("%1 00:00:%2%3:\n%4").arg(day).arg(second, 2, 10, QLatin1Char('0')).arg(machine, QLatin1String(message));
    };
    auto block = [&](int second, const char* message) { return named(second, besideAnother ? QStringLiteral(" dbLog") : QString(), message); };

    QStringList expected;
    if (besideAnother)
        expected << named(0, QStringLiteral(" a"), "a before");
    if (!startsEmpty)
        expected << block(0, "before");
    QCOMPARE(pane.recordCount(), std::max(1, int(expected.size()))); // the records, or the notice
    if (how == QLatin1String("append")) {
        runSqliteShell(path, insertsAt(today, {QStringLiteral("one")}, 1));
        runSqliteShell(path, insertsAt(today, {QStringLiteral("two"), QStringLiteral("three")}, 2));
        expected << block(1, "one") << block(2, "two") << block(3, "three");
    } else if (how == QLatin1String("lock")) {
        QProcess holder;
        holder.start(QStringLiteral("sqlite3"), {path});
        QVERIFY(holder.waitForStarted());
        holder.write("BEGIN EXCLUSIVE;\n" + insertsAt(today, {QStringLiteral("held"), QStringLiteral("held too")}, 5));
        QTest::qWait(600); // the lock is held this long, whatever the pane does meanwhile
        holder.write("COMMIT;\n");
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(kTimeoutMs));
        expected << block(5, "held") << block(6, "held too");
    } else {
        const QString replacement = dir.filePath(QStringLiteral("new.db"));
        runSqliteShell(replacement, schema + insertsAt(today, {QStringLiteral("new file")}, 9));
        QCOMPARE(std::rename(replacement.toLocal8Bit().constData(), path.toLocal8Bit().constData()), 0);
        expected = besideAnother ? QStringList{named(0, QStringLiteral(" a"), "a before")} : QStringList();
        expected << block(9, "new file");
        QTRY_COMPARE_WITH_TIMEOUT(pane.toPlainText(), expected.join(QLatin1Char('\n')), kTimeoutMs);
        runSqliteShell(path, insertsAt(today, {QStringLiteral("then this")}, 10));
        expected << block(10, "then this");
    }
    QTRY_COMPARE_WITH_TIMEOUT(pane.recordCount(), expected.size(), kTimeoutMs);
    QCOMPARE(pane.toPlainText(), expected.join(QLatin1Char('\n')));
    auto stripTotal = [&pane] {
        const QVector<qint64> counts = pane.strip()->counts();
        return std::accumulate(counts.begin(), counts.end(), qint64(0));
    };
    QTRY_COMPARE_WITH_TIMEOUT(stripTotal(), qint64(expected.size()), kTimeoutMs);
}

void tst_QuarrowWorker::liveViewFollowsOnlyAtTheNewest_data()
{
    QTest::addColumn<bool>("atNewest");
    QTest::newRow("at the newest record: follows") << true;
    QTest::newRow("scrolled up: stays") << false;
}

void tst_QuarrowWorker::liveViewFollowsOnlyAtTheNewest()
{
    QFETCH(bool, atNewest);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    const QDate today = QDate::currentDate();
    QStringList many;
    for (int i = 0; i < 50; ++i)
        many << QStringLiteral("record %1").arg(i);
    runSqliteShell(path, QByteArray(kCreateTable) + ";\n" + kCreateIndex + ";\n" + insertsAt(today, many, 0));
    ResultPane pane;
    pane.resize(500, 300);
    pane.show();
    QVERIFY(QTest::qWaitForWindowExposed(&pane));
    pane.showDayQuery(path, 3, today);
    QTRY_VERIFY_WITH_TIMEOUT(!pane.isBusy() && pane.recordCount() == 50, kTimeoutMs);
    pane.scrollToRecord(atNewest ? 49 : 10);
    QCOMPARE(pane.lastVisibleRecord() == 49, atNewest);
    const int top = pane.firstVisibleRecord();
    runSqliteShell(path, insertsAt(today, {QStringLiteral("newest")}, 59));
    QTRY_COMPARE_WITH_TIMEOUT(pane.recordCount(), 51, kTimeoutMs);
    if (atNewest) {
        QCOMPARE(pane.lastVisibleRecord(), 50);
    } else {
        QCOMPARE(pane.firstVisibleRecord(), top);
        QCOMPARE(pane.firstVisibleRecordOffset(), 0);
    }
}

// Newest first, new records would land on top of what is read: they are
// counted on the line until the query runs again.
void tst_QuarrowWorker::newestFirstLiveCountsNewRecords()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    const QDate today = QDate::currentDate();
    runSqliteShell(path, QByteArray(kCreateTable) + ";\n" + kCreateIndex + ";\n" + insertsAt(today, {QStringLiteral("a")}, 0));
    ResultPane pane;
    LogQuery newest = query(3, "", "");
    newest.newestFirst = true;
    pane.showDayQuery(path, newest, today);
    QTRY_VERIFY_WITH_TIMEOUT(!pane.isBusy() && pane.recordCount() == 1, kTimeoutMs);
    QVERIFY(pane.isLive());
    runSqliteShell(path, insertsAt(today, {QStringLiteral("b"), QStringLiteral("c")}, 1));
    QTRY_VERIFY_WITH_TIMEOUT(pane.strip()->status().endsWith(ResultPane::waitingText(2)), kTimeoutMs);
    QCOMPARE(pane.recordCount(), 1);
    pane.showDayQuery(path, newest, today);
    QTRY_VERIFY_WITH_TIMEOUT(!pane.isBusy() && pane.recordCount() == 3, kTimeoutMs);
    QVERIFY(pane.toPlainText().endsWith(QStringLiteral(":\na")));
    QVERIFY(!pane.strip()->status().contains(ResultPane::waitingText(2)));
}

void tst_QuarrowWorker::listingsMatchSql_data()
{
    QTest::addColumn<LogQuery>("query");
    QTest::addColumn<QString>("where"); // the records SQL lists
    const QString gaps = QStringLiteral("(type = 4 AND (message GLOB '日志过多：已丢弃*' OR message GLOB '日志写入失败*'))");
    auto listing = [](QVector<int> types, const char* start, const char* end) {
        LogQuery q = query(0, start, end);
        q.types = types;
        return q;
    };
    const char* dayStart = "2024-05-01 00:00:00";
    const char* dayEnd = "2024-05-01 23:59:59";
    QTest::newRow("one type, both ends of the day") << listing({3}, dayStart, dayEnd) << QStringLiteral("type = 3");
    QTest::newRow("two types, named") << listing({0, 3}, dayStart, dayEnd) << QStringLiteral("type IN (0, 3)");
    QTest::newRow("all types, also 9 and none") << listing({}, dayStart, dayEnd) << QStringLiteral("1");
    LogQuery withGaps = listing({3}, dayStart, dayEnd);
    withGaps.withGaps = true;
    QTest::newRow("alarms with the gaps of other types") << withGaps << QStringLiteral("type = 3 OR ") + gaps;
    LogQuery allWithGaps = listing({}, dayStart, dayEnd);
    allWithGaps.withGaps = true;
    QTest::newRow("all types, gaps marked") << allWithGaps << QStringLiteral("1");
    LogQuery filtered = listing({0, 1, 2}, dayStart, dayEnd);
    filtered.grep = QStringLiteral("motor");
    filtered.ignoreCase = true;
    QTest::newRow("filter, case ignored") << filtered << QStringLiteral("type IN (0, 1, 2) AND lower(message) LIKE '%motor%'");
    LogQuery upper = filtered;
    upper.grep = QStringLiteral("Motor");
    upper.ignoreCase = false;
    QTest::newRow("filter with an upper-case letter") << upper << QStringLiteral("type IN (0, 1, 2) AND message GLOB '*Motor*'");
    LogQuery regex = listing({4}, dayStart, dayEnd);
    regex.grep = QStringLiteral("^主轴.*9$");
    regex.withGaps = true;
    QTest::newRow("a regular expression, gaps whatever it says")
        << regex << QStringLiteral("(type = 4 AND message GLOB '主轴*9') OR ") + gaps;
    LogQuery newest = listing({1, 3}, "2024-04-30 23:30:00", "2024-05-01 01:00:00");
    newest.newestFirst = true;
    QTest::newRow("newest first, across midnight") << newest << QStringLiteral("type IN (1, 3)");
    LogQuery oneNewest = listing({2}, dayStart, dayEnd);
    oneNewest.newestFirst = true;
    QTest::newRow("one type, newest first") << oneNewest << QStringLiteral("type = 2");
}

// Keys through the worker and blocks fetched by id, against plain SQL;
// through a reader that starts a new slice every 64 rows as well.
void tst_QuarrowWorker::listingsMatchSql()
{
    QFETCH(LogQuery, query);
    QFETCH(QString, where);
    const QVector<Block> expected = expectedBlocks(m_mixed, query, where, query.types.size() != 1);
    QVERIFY(expected.size() > 3);

    QueryWorker worker;
    Listing listing;
    QVector<qint8> kinds;
    listing.watch(worker);
    connect(&worker, &QueryWorker::keysListed, this, [&kinds](const std::vector<qint64>&, const std::vector<int>&,
                                                              const std::vector<qint8>& k) {
        for (qint8 kind : k)
            kinds.append(kind);
    });
    worker.list(m_mixed, query, {});
    QTRY_COMPARE_WITH_TIMEOUT(listing.endings, 1, kTimeoutMs);
    QCOMPARE(listing.error, QString());
    QCOMPARE(listing.keys.size(), expected.size());

    LogReader reader(m_mixed);
    reader.setSliceTime(0);
    QVERIFY2(reader.open(), qPrintable(reader.errorText()));
    QVector<qint64> sliced;
    QVERIFY(reader.readKeys(query, [&sliced](const SystemLog::ListedKey& key) {
        sliced.append(key.id);
        return true;
    }));
    std::vector<qint64> ids;
    for (const Key& key : listing.keys)
        ids.push_back(key.id);
    QVector<Block> fetched(int(ids.size()));
    QVERIFY(reader.fetch(query, ids.data(), int(ids.size()), [&](int index, const QString& block) {
        fetched[index] = {ids[std::size_t(index)], block};
    }));
    qint64 counted = 0;
    QVERIFY(reader.countListed(query, counted));
    QCOMPARE(counted, qint64(expected.size()));
    // The strip's counts are of what is listed: filtered, gaps included.
    QVector<qint64> counts;
    QVERIFY(reader.countBetween(query, {QStringLiteral("2024-05-01 12:00:00")}, counts));
    const auto morning = std::count_if(expected.begin(), expected.end(),
                                       [](const Block& b) { return b.text < QStringLiteral("2024-05-01 12:00:00"); });
    QCOMPARE(counts, (QVector<qint64>{qint64(morning), qint64(expected.size() - morning)}));
    for (int i = 0; i < expected.size(); ++i) {
        QCOMPARE(fetched.at(i).id, expected.at(i).id);
        QCOMPARE(fetched.at(i).text, expected.at(i).text);
        QCOMPARE(listing.keys.at(i).length, expected.at(i).text.size());
        QCOMPARE(sliced.at(i), expected.at(i).id);
        QCOMPARE(RecordKeys::isGapKind(kinds.at(i)), expected.at(i).text.contains(QStringLiteral("条日志未能写入")));
    }
}

QTEST_MAIN(tst_QuarrowWorker)
#include "tst_quarrow_worker.moc"
