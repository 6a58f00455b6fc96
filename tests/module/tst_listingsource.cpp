// Several log files as one listing for the viewer: the merged keys, blocks,
// counts and fetched texts against each file's own reader, an unreadable
// file named while the others are listed, and an answer fixed by each
// machine's newest id.
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

#include <vxSyslog/ListingBlock.h>
#include <vxSyslog/LogSource.h>
#include <vxSyslog/LogReader.h>

#include "TestDatabase.h"

using SystemLog::ListedKey;
using SystemLog::LogSource;
using SystemLog::LogReader;
using SystemLog::LogQuery;

namespace {

struct Row
{
    const char* datetime;
    int type;
    const char* message;
};

// Equal stamps across machines, a drop record, a pattern's hits in two
// files, a day's edges and a character beyond the BMP.
const QList<QList<Row>> kMachines = {
    {{"2024-05-01 08:00:00", 3, "主轴温度过高"},
     {"2024-05-01 08:00:00", 0, "进给 80%"},
     {"2024-05-01 09:00:00", 4, "日志过多：已丢弃 3 条记录（2024-05-01 08:59:00 至 2024-05-01 09:00:00）"},
     {"2024-05-01 10:00:00", 2, "motor ok 😀"}},
    {{"2024-05-01 08:00:00", 3, "Motor 过载"}, {"2024-05-01 09:30:00", 1, "登录"}, {"2024-05-02 00:00:00", 3, "次日"}},
    {{"2024-04-30 23:59:59", 2, "前一天"}, {"2024-05-01 23:59:59", 3, "最后一秒"}},
};
const QStringList kNames = {"plc-7", "plc-8", "plc-9"};

struct Listed
{
    int machine;
    qint64 id;
    int length;
    int type;
    bool gap;
    QByteArray datetime;
    QString block;
};

bool operator==(const Listed& a, const Listed& b)
{
    return a.machine == b.machine && a.id == b.id && a.length == b.length && a.type == b.type && a.gap == b.gap
           && a.block == b.block;
}

char* toString(const Listed& l)
{
    return qstrdup(QStringLiteral("%1/%2 len %3 type %4 gap %5 %6")
                       .arg(l.machine).arg(l.id).arg(l.length).arg(l.type).arg(l.gap).arg(l.block)
                       .toUtf8().constData());
}

bool makeLog(const QString& path, const QList<Row>& rows)
{
    TestDatabase db(path);
    bool ok = db.createLogTable(true);
    for (const Row& row : rows)
        ok = ok && db.insertRow(QString::fromUtf8(row.datetime), row.type, QString::fromUtf8(row.message));
    return ok;
}

// One file's listing as its own reader gives it, named as a merged listing names it.
QList<Listed> ownListing(const QString& path, int machine, const QString& name, const LogQuery& query)
{
    LogReader reader(path);
    reader.setMachineName(name);
    QList<Listed> listed;
    QStringList blocks;
    if (!reader.open() || !reader.readBlocks(query, [&](const QString& block) { blocks << block; return true; })
        || !reader.readKeys(query, [&](const ListedKey& key) {
               listed.append({machine, key.id, key.blockLength, key.type, key.gap,
                              QByteArray(key.datetime, key.datetimeLength), blocks.value(listed.size())});
               return true;
           }))
        qWarning("%s", qPrintable(reader.errorText()));
    return listed;
}

} // namespace

class tst_ListingSource : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void mergedListingIsEachFileInTimeOrder_data();
    void mergedListingIsEachFileInTimeOrder();
    void anUnreadableFileIsNamedAndTheOthersListed_data();
    void anUnreadableFileIsNamedAndTheOthersListed();
    void newestIdsFixTheAnswer_data();
    void newestIdsFixTheAnswer();
    void keysGoOnAcrossPauses_data();
    void keysGoOnAcrossPauses();

private:
    QStringList locations() const;
    QString pathOf(int file) const;
    QTemporaryDir m_dir;
};

void tst_ListingSource::initTestCase()
{
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("a=b")));
    for (int i = 0; i < kMachines.size(); ++i)
        QVERIFY(makeLog(pathOf(i), kMachines[i]));
}

// The third file is named NAME=PATH, through a folder whose name holds '='.
QString tst_ListingSource::pathOf(int file) const
{
    return m_dir.filePath(file == 2 ? QStringLiteral("a=b/dbLog.db") : kNames[file] + ".db");
}

QStringList tst_ListingSource::locations() const
{
    return {pathOf(0), pathOf(1), "plc-9=" + pathOf(2)};
}

void tst_ListingSource::mergedListingIsEachFileInTimeOrder_data()
{
    QTest::addColumn<QVector<int>>("types");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<bool>("newestFirst");
    QTest::addColumn<bool>("withGaps");
    QTest::addColumn<QStringList>("hosts");
    QTest::addColumn<bool>("onlyGaps");
    const QString dayStart = QStringLiteral("2024-05-01 00:00:00");
    const QString dayEnd = QStringLiteral("2024-05-01 23:59:59");
    QTest::newRow("a day, every type") << QVector<int>() << dayStart << dayEnd << false << false << QStringList() << false;
    QTest::newRow("alarms, newest first") << QVector<int>{3} << dayStart << dayEnd << true << false << QStringList() << false;
    QTest::newRow("two types, equal stamps cut by the range")
        << QVector<int>{0, 3} << QStringLiteral("2024-05-01 08:00:00") << QStringLiteral("2024-05-01 08:00:00")
        << false << false << QStringList() << false;
    QTest::newRow("one type with the gaps of every type")
        << QVector<int>{2} << dayStart << dayEnd << false << true << QStringList() << false;
    QTest::newRow("two machines of three, over three days")
        << QVector<int>() << QStringLiteral("2024-04-30 00:00:00") << QStringLiteral("2024-05-02 23:59:59")
        << true << true << QStringList{"plc-9", "plc-7"} << false;
    QTest::newRow("one machine: its blocks name none")
        << QVector<int>() << dayStart << dayEnd << false << true << QStringList{"plc-8"} << false;
    QTest::newRow("only the drop records") << QVector<int>{3} << dayStart << dayEnd << false << false
                                           << QStringList() << true;
}

void tst_ListingSource::mergedListingIsEachFileInTimeOrder()
{
    QFETCH(QVector<int>, types);
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(bool, newestFirst);
    QFETCH(bool, withGaps);
    QFETCH(QStringList, hosts);
    QFETCH(bool, onlyGaps);
    LogQuery query;
    query.types = types;
    query.since = start;
    query.until = end;
    query.newestFirst = newestFirst;
    query.withGaps = withGaps;
    query.onlyGaps = onlyGaps;

    QString error;
    const std::unique_ptr<LogSource> source = LogSource::create(locations(), hosts, error);
    QVERIFY2(source && source->open(), qPrintable(error));
    const QStringList machines = source->machines();
    QStringList expectedMachines;
    for (const QString& name : kNames)
        if (hosts.isEmpty() || hosts.contains(name))
            expectedMachines << name;
    QCOMPARE(machines, expectedMachines);
    QCOMPARE(source->namesMachines(), machines.size() > 1);

    QList<Listed> expected;
    for (int machine = 0; machine < machines.size(); ++machine) {
        const int file = kNames.indexOf(machines[machine]);
        expected += ownListing(pathOf(file), machine, source->namesMachines() ? machines[machine] : QString(), query);
    }
    std::stable_sort(expected.begin(), expected.end(), [newestFirst](const Listed& a, const Listed& b) {
        const auto ka = std::make_tuple(a.datetime, a.machine, a.id);
        const auto kb = std::make_tuple(b.datetime, b.machine, b.id);
        return newestFirst ? kb < ka : ka < kb;
    });
    QVERIFY(!expected.isEmpty());

    QList<Listed> listed;
    QVERIFY(source->readKeys(query, [&](const ListedKey& key) {
        listed.append({key.machine, key.id, key.blockLength, key.type, key.gap, QByteArray(), QString()});
        return true;
    }));
    QStringList blocks;
    QVERIFY(source->readBlocks(query, [&](const QString& block) { blocks << block; return true; }));
    QCOMPARE(blocks.size(), listed.size());
    std::vector<int> machineOf;
    std::vector<qint64> ids;
    for (int i = 0; i < listed.size(); ++i) {
        listed[i].block = blocks[i];
        QCOMPARE(listed[i].length, blocks[i].size());
        machineOf.push_back(listed[i].machine);
        ids.push_back(listed[i].id);
    }
    QCOMPARE(listed, expected);

    QVector<QString> fetched(listed.size());
    QVERIFY(source->fetch(query, machineOf.data(), ids.data(), int(ids.size()),
                          [&](int index, const QString& block) { fetched[index] = block; }));
    QCOMPARE(QStringList(fetched.toList()), blocks);
    // Whole, each naming its machine, with one id no longer stored left out.
    machineOf.push_back(0);
    ids.push_back(999);
    QVector<SystemLog::LogRecord> records(int(ids.size()));
    QVERIFY(source->fetchRecords(machineOf.data(), ids.data(), int(ids.size()), [&](int index, const SystemLog::LogRecord& r) {
        records[index] = r;
        records[index].datetime = QByteArray(r.datetime.constData(), r.datetime.size());
        records[index].message = QByteArray(r.message.constData(), r.message.size());
        records[index].host = QByteArray(r.host.constData(), r.host.size());
    }));
    QCOMPARE(records.last().id, 0);
    for (int i = 0; i < listed.size(); ++i) {
        QCOMPARE(records[i].id, listed[i].id);
        QCOMPARE(QString::fromUtf8(records[i].host), machines[listed[i].machine]);
        QCOMPARE(records[i].datetime, expected[i].datetime);
        QCOMPARE(records[i].type, listed[i].type < 0 ? records[i].type : listed[i].type);
        const QByteArray message = records[i].message;
        QVERIFY(listed[i].block.endsWith(listed[i].gap ? SystemLog::gapText(QString::fromUtf8(message)) : QString::fromUtf8(message)));
    }
    qint64 counted = 0;
    QVERIFY(source->countListed(query, counted));
    QCOMPARE(counted, qint64(listed.size()));
    QVector<qint64> perInterval;
    QVERIFY(source->countBetween(query, {QStringLiteral("2024-05-01 09:00:00")}, perInterval));
    const qint64 before = std::count_if(expected.begin(), expected.end(),
                                        [](const Listed& l) { return l.datetime < "2024-05-01 09:00:00"; });
    QCOMPARE(perInterval, (QVector<qint64>{before, listed.size() - before}));
}

void tst_ListingSource::anUnreadableFileIsNamedAndTheOthersListed_data()
{
    QTest::addColumn<QString>("fault");
    // The reason is each file's reader's; any of them leaves the others listed.
    QTest::newRow("a folder at the path") << "folder";
    QTest::newRow("no log table") << "foreign";
}

void tst_ListingSource::anUnreadableFileIsNamedAndTheOthersListed()
{
    QFETCH(QString, fault);
    const QString bad = m_dir.filePath(QStringLiteral("bad-") + fault + ".db");
    if (fault == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(bad));
    if (fault == QLatin1String("foreign"))
        QVERIFY(TestDatabase(bad).exec(QStringLiteral("CREATE TABLE other(x)")));
    QString error;
    const std::unique_ptr<LogSource> source = LogSource::create({locations()[0], bad, locations()[1]}, {}, error);
    QVERIFY(source && source->open());
    QCOMPARE(source->problems().size(), 1);
    QVERIFY2(source->problems().first().contains(QDir::toNativeSeparators(bad)), qPrintable(source->problems().first()));
    LogQuery query;
    query.since = QStringLiteral("2024-05-01 00:00:00");
    query.until = QStringLiteral("2024-05-02 23:59:59");
    QSet<int> machines;
    int keys = 0;
    QVERIFY(source->readKeys(query, [&](const ListedKey& key) {
        machines.insert(key.machine);
        ++keys;
        return true;
    }));
    QCOMPARE(keys, kMachines[0].size() + kMachines[1].size());
    QCOMPARE(machines, (QSet<int>{0, 2}));

    const std::unique_ptr<LogSource> alone = LogSource::create({bad}, {}, error);
    QVERIFY(alone && !alone->open());
    QVERIFY(!alone->errorText().isEmpty());
}

void tst_ListingSource::newestIdsFixTheAnswer_data()
{
    QTest::addColumn<QList<int>>("appendedTo"); // machines a record is logged to after the answer was fixed
    QTest::newRow("one machine") << QList<int>{1};
    QTest::newRow("every machine") << QList<int>{0, 1};
}

void tst_ListingSource::newestIdsFixTheAnswer()
{
    QFETCH(QList<int>, appendedTo);
    QTemporaryDir dir;
    const QStringList files = {dir.filePath("a.db"), dir.filePath("b.db")};
    for (int i = 0; i < files.size(); ++i)
        QVERIFY(makeLog(files[i], kMachines[i]));
    QString error;
    const std::unique_ptr<LogSource> source = LogSource::create(files, {}, error);
    QVERIFY(source && source->open());
    LogQuery query;
    query.since = QStringLiteral("2024-05-01 00:00:00");
    query.until = QStringLiteral("2024-05-02 23:59:59");
    QVERIFY(source->newestIds(query.upToIds));
    QCOMPARE(query.upToIds, (QVector<qint64>{4, 3}));
    for (int machine : appendedTo)
        QVERIFY(TestDatabase(files[machine]).insertRow(QStringLiteral("2024-05-01 12:00:00"), 3, QStringLiteral("后来")));

    qint64 fixed = 0;
    QVERIFY(source->countListed(query, fixed));
    QCOMPARE(fixed, qint64(7));
    LogQuery later = query;
    later.afterIds = query.upToIds;
    QVERIFY(source->newestIds(later.upToIds));
    QList<int> machines;
    QVERIFY(source->readKeys(later, [&](const ListedKey& key) {
        machines << key.machine;
        return true;
    }));
    QCOMPARE(machines, appendedTo);
}

QTEST_MAIN(tst_ListingSource)
void tst_ListingSource::keysGoOnAcrossPauses_data()
{
    QTest::addColumn<int>("pauseEvery"); // a pause after every n-th key; 0: none
    QTest::addColumn<bool>("withGaps");
    QTest::newRow("no pause") << 0 << false;
    QTest::newRow("a pause after every key") << 1 << false;
    QTest::newRow("a pause after every second key, gaps marked") << 2 << true;
}

// A merge of several files pauses each reader while it holds a key whose
// block is still to be read: every block is the one the reader's own
// listing gives, and no key is skipped or given twice.
void tst_ListingSource::keysGoOnAcrossPauses()
{
    QFETCH(int, pauseEvery);
    QFETCH(bool, withGaps);
    LogQuery query;
    query.since = QStringLiteral("2024-05-01 00:00:00");
    query.until = QStringLiteral("2024-05-02 00:00:00");
    query.withGaps = withGaps;
    LogReader reader(pathOf(0));
    QVERIFY(reader.open());
    QStringList expected;
    QVERIFY(reader.readBlocks(query, [&expected](const QString& block) {
        expected << block;
        return true;
    }));
    QVERIFY(expected.size() >= 3);

    QStringList blocks;
    QVERIFY(reader.startKeys(query));
    ListedKey key;
    bool atEnd = false;
    while (reader.nextKey(key, atEnd)) {
        if (pauseEvery > 0 && (blocks.size() + 1) % pauseEvery == 0)
            reader.pauseKeys();
        blocks << reader.keyBlock();
    }
    QVERIFY(atEnd);
    QCOMPARE(blocks, expected);
}

#include "tst_listingsource.moc"
