#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <ctime>
#include <unistd.h>

#include "store/QDBSqlite.h"
#include "TestDatabase.h"

using SystemLog::FailureKind;
using SystemLog::QDBSqlite;
using SystemLog::RecordList;

// Bounds around every time stamp a test writes. Time texts must look like time
// texts: the datetime column has numeric affinity, so a bound such as "9" would
// be compared as a number.
static const QString kDawn = QStringLiteral("0000-01-01 00:00:00");
static const QString kDusk = QStringLiteral("9999-12-31 23:59:59");

static QStringList messagesOf(const RecordList& records)
{
    QStringList messages;
    for (const auto& record : records)
        messages << record.second;
    return messages;
}

class tst_RecordStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void freshFolderGetsTableAndIndex();
    void existingDatabaseKeepsItsRows();
    void querySelects_data();
    void querySelects();
    void insertStampsAndKeepsTypes();
    void messageRoundTrip_data();
    void messageRoundTrip();
    void batchIsWrittenInOrder();
    void batchFailsWholeWhileFileIsLocked();
    void unopenableDatabaseReportsFailure_data();
    void unopenableDatabaseReportsFailure();
    void batchIsAllOrNothing_data();
    void batchIsAllOrNothing();
    void prefixCommitsTheRowsBeforeTheYield_data();
    void prefixCommitsTheRowsBeforeTheYield();
    void queryFailingHalfWayReportsFailure();
    void connectionSettingsAreInForce();
    void readOnlyReaderReadsWhatWasWritten();
    void foreignFileIsRefusedUntouched_data();
    void foreignFileIsRefusedUntouched();
    void logOrEmptyFileIsAccepted_data();
    void logOrEmptyFileIsAccepted();
    void setupIsTriedAgainAfterAFailure();
    void fullDatabaseFailsBatchAndRecovers();
    void setupWithoutWaitingLeavesALockedFileForLater();
    void fileLeavingThePathIsFollowed_data();
    void fileLeavingThePathIsFollowed();
    void stampsRecordTheirZone_data();
    void stampsRecordTheirZone();

private:
    QString dbPath() const { return m_dir->filePath(QStringLiteral("dbLog.db")); }
    QDBSqlite* openStore(const QString& path);
    QDBSqlite* createdStore();

    QScopedPointer<QTemporaryDir> m_dir;
    QScopedPointer<QDBSqlite> m_store;
};

void tst_RecordStore::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

void tst_RecordStore::cleanup()
{
    if (m_store)
        m_store->close();
    m_store.reset();
    m_dir.reset();
}

QDBSqlite* tst_RecordStore::openStore(const QString& path)
{
    m_store.reset(new QDBSqlite(path, QString(), QString()));
    return m_store.data();
}

QDBSqlite* tst_RecordStore::createdStore()
{
    QDBSqlite* store = openStore(dbPath());
    return store->createTable() ? store : nullptr;
}

void tst_RecordStore::freshFolderGetsTableAndIndex()
{
    QDBSqlite* store = openStore(dbPath());
    QVERIFY(!store->isOpen());
    QVERIFY(store->createTable());
    QVERIFY(QFile::exists(dbPath()));
    QVERIFY(store->query(kDawn, kDusk, 0).isEmpty());
    QVERIFY(!store->lastQueryFailed());

    const QString tabs(6, QLatin1Char('\t'));
    const QString expected = QStringLiteral("CREATE TABLE IF NOT EXISTS SystemInfo(") + tabs
        + QStringLiteral("id INTEGER  PRIMARY KEY AUTOINCREMENT UNIQUE ") + tabs
        + QStringLiteral(", datetime DATETIME NOT NULL DEFAULT (datetime(CURRENT_TIMESTAMP,'localtime'))  ") + tabs
        + QStringLiteral(", type INT(32) ") + tabs + QStringLiteral(", message TEXT)");
    QCOMPARE(expected.size(), 217);
    QCOMPARE(QString::fromLatin1(QDBSqlite::kCreateTableSql), expected);

    TestDatabase side(dbPath());
    // SQLite keeps the statement as given, minus "IF NOT EXISTS".
    QCOMPARE(side.scalar(QStringLiteral("SELECT sql FROM sqlite_master WHERE type='table' AND name='SystemInfo'")),
             QString(expected).remove(QStringLiteral("IF NOT EXISTS ")));

    QSqlQuery plan(side.db());
    QVERIFY(plan.exec(QStringLiteral("EXPLAIN QUERY PLAN ")
                      + QString::fromLatin1(QDBSqlite::kQuerySql).replace(QLatin1Char('?'), QLatin1String("'x'"))));
    QString details;
    while (plan.next())
        details += plan.value(QStringLiteral("detail")).toString() + QLatin1Char(';');
    QVERIFY2(details.contains(QStringLiteral("USING INDEX SystemInfo_type_datetime")), qPrintable(details));
}

void tst_RecordStore::existingDatabaseKeepsItsRows()
{
    {
        TestDatabase side(dbPath());
        QVERIFY(side.exec(QString::fromLatin1(QDBSqlite::kCreateTableSql)));
        QVERIFY(side.insertRow(QStringLiteral("2020-09-22 10:00:00"), 1, QStringLiteral("old row")));
    }
    QVERIFY(createdStore());
    QVERIFY(m_store->createTable());

    const QVector<StoredRow> rows = TestDatabase(dbPath()).rows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].id, 1);
    QCOMPARE(rows[0].datetime, QStringLiteral("2020-09-22 10:00:00"));
    QCOMPARE(rows[0].message, QStringLiteral("old row"));
}

void tst_RecordStore::querySelects_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("expected");

    const QString dayStart = QStringLiteral("2024-05-01 00:00:00");
    const QString dayEnd = QStringLiteral("2024-05-01 23:59:59");
    const QStringList allOfType2{"at start", "after start", "noon", "before end", "at end"};
    QTest::newRow("bounds included, time order") << dayStart << dayEnd << 2 << allOfType2;
    QTest::newRow("inside the bounds") << QStringLiteral("2024-05-01 00:00:01") << QStringLiteral("2024-05-01 23:59:58") << 2
                                       << QStringList{"after start", "noon", "before end"};
    QTest::newRow("start equals end") << dayStart << dayStart << 2 << QStringList{"at start"};
    QTest::newRow("start after end") << dayEnd << dayStart << 2 << QStringList();
    QTest::newRow("type compared as number") << dayStart << dayEnd << 3 << QStringList{"text three", "int three"};
    QTest::newRow("type without rows") << dayStart << dayEnd << 4 << QStringList();
    // Pasted into the statement, these would return other rows or change the
    // table; bound, they are plain texts compared with datetime.
    QTest::newRow("quote in start") << "0' or '1'='1" << "0" << 2 << QStringList();
    QTest::newRow("quote in end") << kDawn << "9' or type = 3 --" << 2 << allOfType2;
    QTest::newRow("statement in end") << kDawn << "9'; DELETE FROM SystemInfo; --" << 3
                                      << QStringList{"text three", "int three"};
    QTest::newRow("arg placeholders") << "%2" << "%3" << 2 << QStringList();
}

void tst_RecordStore::querySelects()
{
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(int, type);
    QFETCH(QStringList, expected);
    QDBSqlite* store = createdStore();
    QVERIFY(store);
    TestDatabase side(dbPath());
    // Stored out of time order, so that time order in the result is the index's doing.
    const QList<QPair<QString, QString>> typeTwo{{"2024-05-01 00:00:00", "at start"}, {"2024-05-01 23:59:58", "before end"},
                                                 {"2024-05-01 00:00:01", "after start"}, {"2024-05-01 23:59:59", "at end"},
                                                 {"2024-05-01 12:00:00", "noon"}};
    for (const auto& row : typeTwo)
        QVERIFY(side.insertRow(row.first, 2, row.second));
    // The type column has integer affinity: the text '3' is stored as 3.
    QVERIFY(side.exec(QStringLiteral("INSERT INTO SystemInfo(datetime, type, message) "
                                     "VALUES('2024-05-01 10:00:00', '3', 'text three')")));
    QVERIFY(side.insertRow(QStringLiteral("2024-05-01 10:00:01"), 3, QStringLiteral("int three")));
    QVERIFY(side.insertRow(QStringLiteral("2024-05-01 10:00:02"), 30, QStringLiteral("thirty")));

    const RecordList found = store->query(start, end, type);
    QVERIFY2(!store->lastQueryFailed(), qPrintable(store->lastQueryError()));
    QVERIFY(store->lastQueryError().isEmpty());
    QCOMPARE(messagesOf(found), expected);
    QCOMPARE(side.rows().size(), 8);
}

void tst_RecordStore::insertStampsAndKeepsTypes()
{
    QDBSqlite* store = createdStore();
    QVERIFY(store);
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    for (int type : {2, 2, 9, -1})
        QVERIFY(store->insert(type, QStringLiteral("abc")));
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);

    const QVector<StoredRow> rows = TestDatabase(dbPath()).rows();
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows[0].id, 1);
    QCOMPARE(rows[3].id, 4);
    QCOMPARE(rows[0].type, 2);
    QCOMPARE(rows[2].type, 9);
    QCOMPARE(rows[3].type, -1);
    QCOMPARE(rows[0].message, QStringLiteral("abc"));
    // Rows written within one second all come back.
    QCOMPARE(store->query(kDawn, kDusk, 2).size(), 2);
    const QDateTime stamp = QDateTime::fromString(rows[0].datetime, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QVERIFY2(stamp >= before && stamp <= after, qPrintable(rows[0].datetime));
}

void tst_RecordStore::messageRoundTrip_data()
{
    QTest::addColumn<QString>("message");
    QTest::newRow("single quote") << QStringLiteral("it's a 'quoted' text");
    QTest::newRow("double quote and backslash") << QStringLiteral("say \"hi\" C:\\logs\\");
    QTest::newRow("arg placeholders") << QStringLiteral("%1 then %2 and %3");
    QTest::newRow("line feeds") << QStringLiteral("line one\nline two\r\nline three\n");
    QTest::newRow("chinese") << QStringLiteral("参数修改：温度 25℃");
    QTest::newRow("embedded NUL") << QString::fromUtf8("before\0after", 12);
    QTest::newRow("sql comment and semicolon") << QStringLiteral("x'); DROP TABLE SystemInfo; --");
    QTest::newRow("empty") << QString();
}

void tst_RecordStore::messageRoundTrip()
{
    QFETCH(QString, message);
    QDBSqlite* store = createdStore();
    QVERIFY(store);
    QVERIFY(store->insert(0, message));
    QVERIFY(store->insertBatch({{message, 1}}));
    for (int type : {0, 1})
        QCOMPARE(messagesOf(store->query(kDawn, kDusk, type)), QStringList{message});
}

void tst_RecordStore::batchIsWrittenInOrder()
{
    QDBSqlite* store = createdStore();
    QVERIFY(store);
    std::list<SystemLog::tag_MsgItem> batch;
    for (int i = 0; i < 100; ++i)
        batch.push_back({QStringLiteral("line %1").arg(i), i % 5});
    QVERIFY(store->insertBatch(batch));
    QVERIFY(store->insertBatch({}));

    const QVector<StoredRow> rows = TestDatabase(dbPath()).rows();
    QCOMPARE(rows.size(), 100);
    for (int i = 0; i < 100; ++i) {
        QCOMPARE(rows[i].message, QStringLiteral("line %1").arg(i));
        QCOMPARE(rows[i].type, i % 5);
    }
}

void tst_RecordStore::batchFailsWholeWhileFileIsLocked()
{
    QDBSqlite* store = openStore(dbPath());
    store->setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=50"));
    QVERIFY(store->createTable());
    TestDatabase locker(dbPath());
    QVERIFY(locker.exec(QStringLiteral("BEGIN EXCLUSIVE")));

    const std::list<SystemLog::tag_MsgItem> batch{{QStringLiteral("a"), 0}, {QStringLiteral("b"), 0}};
    QVERIFY(!store->insertBatch(batch));
    QVERIFY(store->query(kDawn, kDusk, 0).isEmpty());
    QVERIFY(store->lastQueryFailed());
    QVERIFY(!store->lastQueryError().isEmpty());

    QVERIFY(locker.exec(QStringLiteral("COMMIT")));
    QVERIFY(store->insertBatch(batch));
    QCOMPARE(messagesOf(store->query(kDawn, kDusk, 0)), (QStringList{"a", "b"}));
    QVERIFY(!store->lastQueryFailed());
}

void tst_RecordStore::unopenableDatabaseReportsFailure_data()
{
    QTest::addColumn<bool>("folderMissing");
    QTest::newRow("folder missing") << true;
    QTest::newRow("folder at the file's place") << false;
}

void tst_RecordStore::unopenableDatabaseReportsFailure()
{
    QFETCH(bool, folderMissing);
    QString path = dbPath();
    if (folderMissing)
        path = m_dir->filePath(QStringLiteral("no/such/folder/dbLog.db"));
    else
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("dbLog.db")));

    QDBSqlite* store = openStore(path);
    QVERIFY(!store->createTable());
    QVERIFY(!store->insert(0, QStringLiteral("lost")));
    QVERIFY(!store->insertBatch({{QStringLiteral("lost"), 0}}));
    QVERIFY(store->query(kDawn, kDusk, 0).isEmpty());
    QVERIFY(store->lastQueryFailed());
    QVERIFY(!store->lastQueryError().isEmpty());
}

namespace {

QByteArray fileHash(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

std::list<SystemLog::tag_MsgItem> numberedBatch(int count)
{
    std::list<SystemLog::tag_MsgItem> batch;
    for (int i = 0; i < count; ++i)
        batch.push_back({QStringLiteral("row %1").arg(i), 1});
    return batch;
}

} // namespace

void tst_RecordStore::batchIsAllOrNothing_data()
{
    QTest::addColumn<int>("failingRow");
    QTest::newRow("first row fails") << 0;
    QTest::newRow("middle row fails") << 2;
    QTest::newRow("last row fails") << 4;
}

void tst_RecordStore::batchIsAllOrNothing()
{
    QFETCH(int, failingRow);
    QDBSqlite* store = createdStore();
    QVERIFY(store);
    QVERIFY(store->insert(0, QStringLiteral("before")));
    TestDatabase side(dbPath());
    QVERIFY(side.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON SystemInfo "
                                     "WHEN NEW.message = 'row %1' BEGIN SELECT RAISE(ABORT, 'refused'); END")
                          .arg(failingRow)));

    QVERIFY(!store->insertBatch(numberedBatch(5)));
    QVERIFY(store->lastWriteError().contains(QStringLiteral("refused")));
    QCOMPARE(side.rows().size(), 1);
    QCOMPARE(side.rows()[0].message, QStringLiteral("before"));

    // The connection is left outside any transaction: the next batch commits.
    QVERIFY(side.exec(QStringLiteral("DROP TRIGGER refuse")));
    QVERIFY(store->insertBatch(numberedBatch(5)));
    QCOMPARE(side.rows().size(), 6);
}

void tst_RecordStore::prefixCommitsTheRowsBeforeTheYield_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("yieldAtAsk");  // 0: never
    QTest::addColumn<int>("committed");

    QTest::newRow("never asked to yield") << 100 << 0 << 100;
    QTest::newRow("yield at the first ask") << 100 << 1 << 16;
    QTest::newRow("yield at the third ask") << 100 << 3 << 48;
    QTest::newRow("asked only between rows") << 16 << 1 << 16;
}

// A yield ends the transaction early: the rows before it are committed in
// order, the rest are not written, and nothing counts as a failure.
void tst_RecordStore::prefixCommitsTheRowsBeforeTheYield()
{
    QFETCH(int, rows);
    QFETCH(int, yieldAtAsk);
    QFETCH(int, committed);
    QDBSqlite* store = createdStore();
    QVERIFY(store);

    int asks = 0;
    const long written = store->insertPrefix(numberedBatch(rows), [&asks, yieldAtAsk] {
        return ++asks == yieldAtAsk;
    });
    QCOMPARE(written, long(committed));
    const QVector<StoredRow> stored = TestDatabase(dbPath()).rows();
    QCOMPARE(stored.size(), committed);
    for (int i = 0; i < committed; ++i)
        QCOMPARE(stored[i].message, QStringLiteral("row %1").arg(i));
}

void tst_RecordStore::queryFailingHalfWayReportsFailure()
{
    // A SystemInfo whose second row makes the step fail (integer overflow in
    // abs()), after the first row was already delivered.
    {
        TestDatabase side(dbPath());
        QVERIFY(side.exec(QStringLiteral("CREATE TABLE rows(id INTEGER PRIMARY KEY, datetime TEXT, type INT, message TEXT)")));
        QVERIFY(side.exec(QStringLiteral("INSERT INTO rows VALUES(1, '2024-05-01 10:00:00', 2, 'fine'), "
                                         "(2, '2024-05-01 11:00:00', 2, 'boom')")));
        QVERIFY(side.exec(QStringLiteral("CREATE VIEW SystemInfo AS SELECT id, datetime, type, CASE WHEN message = "
                                         "'boom' THEN abs(-9223372036854775807 - 1) ELSE message END AS message "
                                         "FROM rows ORDER BY id")));
    }
    QDBSqlite* store = openStore(dbPath());
    QVERIFY(store->open());
    QVERIFY(store->query(kDawn, kDusk, 2).isEmpty());
    QVERIFY(store->lastQueryFailed());
    QVERIFY2(store->lastQueryError().contains(QStringLiteral("overflow")), qPrintable(store->lastQueryError()));
}

void tst_RecordStore::connectionSettingsAreInForce()
{
    QDBSqlite* store = createdStore();
    QVERIFY(store);
    auto pragma = [store](const char* name) {
        QSqlQuery q(*store);
        return q.exec(QStringLiteral("PRAGMA %1").arg(QLatin1String(name))) && q.next() ? q.value(0).toString()
                                                                                         : QString();
    };
    QCOMPARE(pragma("busy_timeout"), QString::number(QDBSqlite::kBusyTimeoutMs));
    QCOMPARE(pragma("synchronous"), QStringLiteral("2"));   // FULL
    QCOMPARE(pragma("journal_mode"), QStringLiteral("delete"));
}

void tst_RecordStore::readOnlyReaderReadsWhatWasWritten()
{
    QDBSqlite* store = createdStore();
    QVERIFY(store);
    QVERIFY(store->insertBatch(numberedBatch(3)));
    // As the command-line reader opens the file: no journal files of a WAL
    // database are needed, the file header is what ordinary SQLite expects.
    {
        QSqlDatabase reader = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("reader"));
        reader.setDatabaseName(dbPath());
        reader.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QVERIFY(reader.open());
        QSqlQuery q(reader);
        QVERIFY(q.exec(QStringLiteral("SELECT count(*) FROM SystemInfo")) && q.next());
        QCOMPARE(q.value(0).toInt(), 3);
        q.finish();
        reader.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("reader"));
    QVERIFY(!QFile::exists(dbPath() + QStringLiteral("-wal")));
    QFile file(dbPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray header = file.read(20);
    QVERIFY(header.startsWith(QByteArray("SQLite format 3\0", 16)));
    // Bytes 18 and 19: file format versions, 1 for the rollback journal (2 would be WAL).
    QCOMPARE(int(header[18]), 1);
    QCOMPARE(int(header[19]), 1);
}

void tst_RecordStore::foreignFileIsRefusedUntouched_data()
{
    QTest::addColumn<QByteArray>("bytes");   // the file's content, or empty for the SQL below
    QTest::addColumn<QString>("schema");     // statements run on a fresh SQLite file
    QTest::addColumn<int>("kind");
    const int notDb = int(FailureKind::NotADatabase);
    const int notLog = int(FailureKind::NotALogDatabase);
    QTest::newRow("text file") << QByteArray("machine settings\nspeed=1200\n").repeated(200) << QString() << notDb;
    QTest::newRow("binary file") << QByteArray(8192, char(0xA5)) << QString() << notDb;
    QTest::newRow("SystemInfo with other columns")
        << QByteArray() << "CREATE TABLE SystemInfo(name TEXT, value TEXT); INSERT INTO SystemInfo VALUES('a', 'b')" << notLog;
    QTest::newRow("SystemInfo without message")
        << QByteArray() << "CREATE TABLE SystemInfo(id INTEGER PRIMARY KEY, datetime TEXT, type INT)" << notLog;
    QTest::newRow("SystemInfo is a view")
        << QByteArray()
        << "CREATE TABLE t(id, datetime, type, message); CREATE VIEW SystemInfo AS SELECT * FROM t" << notLog;
    QTest::newRow("other tables only") << QByteArray() << "CREATE TABLE recipes(id INTEGER, name TEXT)" << notLog;
}

void tst_RecordStore::foreignFileIsRefusedUntouched()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, schema);
    QFETCH(int, kind);
    if (schema.isEmpty()) {
        QFile file(dbPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), qint64(bytes.size()));
    } else {
        TestDatabase side(dbPath());
        for (const QString& statement : schema.split(QStringLiteral("; ")))
            QVERIFY2(side.exec(statement), qPrintable(statement));
    }
    const QByteArray before = fileHash(dbPath());
    QVERIFY(!before.isEmpty());

    QDBSqlite* store = openStore(dbPath());
    QVERIFY(!store->createTable());
    const QString reason = SystemLog::failureKindText(FailureKind(kind));
    QVERIFY2(store->openFailure().startsWith(reason), qPrintable(store->openFailure()));
    QVERIFY(!store->insertBatch({{QStringLiteral("never"), 0}}));
    QVERIFY(!store->insert(0, QStringLiteral("never")));
    QVERIFY(store->query(kDawn, kDusk, 0).isEmpty());
    QVERIFY(store->lastQueryFailed());
    QCOMPARE(store->lastQueryError(), store->openFailure());
    // Refused for good: asked again, it does not even open the file.
    QVERIFY(!store->createTable());
    QVERIFY(store->refused());
    QVERIFY(!store->isOpen());
    store->close();

    QCOMPARE(fileHash(dbPath()), before);
    QVERIFY(!QFile::exists(dbPath() + QStringLiteral("-journal")));
}

void tst_RecordStore::logOrEmptyFileIsAccepted_data()
{
    QTest::addColumn<QString>("schema");
    QTest::newRow("empty file") << QString();
    QTest::newRow("SQLite database without tables") << "PRAGMA user_version = 7";
    QTest::newRow("log without the index") << QString::fromLatin1(QDBSqlite::kCreateTableSql);
    // Made by another program: no default time, so the writer's own stamp is all there is.
    QTest::newRow("log table without a time default")
        << "CREATE TABLE SystemInfo(id INTEGER PRIMARY KEY AUTOINCREMENT, datetime TEXT, type INT, message TEXT)";
}

void tst_RecordStore::logOrEmptyFileIsAccepted()
{
    QFETCH(QString, schema);
    if (schema.isEmpty()) {
        QFile file(dbPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else {
        QVERIFY(TestDatabase(dbPath()).exec(schema));
    }
    QDBSqlite* store = openStore(dbPath());
    QVERIFY(store->createTable());
    QVERIFY(store->openFailure().isEmpty());
    // The row carries the line's own time, not the time of the insert.
    const QDateTime logged(QDate(2024, 5, 1), QTime(8, 30, 0));
    QVERIFY(store->insertBatch({{QStringLiteral("kept"), 3, std::time_t(logged.toSecsSinceEpoch())}}));
    const RecordList found = store->query(kDawn, kDusk, 3);
    QCOMPARE(found.size(), 1);
    QCOMPARE(found[0], qMakePair(QStringLiteral("2024-05-01 08:30:00"), QStringLiteral("kept")));
}

// A setup that fails for a passing reason (here the journal cannot be made:
// a folder stands at its path) leaves the store not ready but not refused,
// and the next createTable() sets it up.
void tst_RecordStore::setupIsTriedAgainAfterAFailure()
{
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("dbLog.db-journal")));
    QDBSqlite* store = openStore(dbPath());
    QVERIFY(!store->createTable());
    QVERIFY(!store->ready());
    QVERIFY(!store->refused());
    QCOMPARE(store->lastWriteReason(), SystemLog::DropReason::Unwritable);
    QVERIFY(!store->insertBatch({{QStringLiteral("not yet"), 1}}));

    QVERIFY(QDir(m_dir->path()).rmdir(QStringLiteral("dbLog.db-journal")));
    QVERIFY(store->createTable());
    QVERIFY(store->ready());
    QVERIFY(store->insertBatch({{QStringLiteral("kept"), 1}}));
    QCOMPARE(messagesOf(store->query(kDawn, kDusk, 1)), QStringList{"kept"});
}

void tst_RecordStore::fullDatabaseFailsBatchAndRecovers()
{
    QDBSqlite* store = createdStore();
    QVERIFY(store);
    QVERIFY(store->insertBatch(numberedBatch(10)));
    const qint64 pages = TestDatabase(dbPath()).scalar(QStringLiteral("PRAGMA page_count")).toLongLong();
    QCOMPARE(store->setMaxPageCount(pages), pages);

    QVERIFY(!store->insertBatch(numberedBatch(2000)));
    QCOMPARE(store->lastWriteFailure(), FailureKind::DiskFull);

    QVERIFY(store->setMaxPageCount(pages * 100) > pages);
    QVERIFY(store->insertBatch(numberedBatch(2000)));
    TestDatabase side(dbPath());
    QCOMPARE(side.rows().size(), 2010);
    QCOMPARE(side.scalar(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
}

// A lock another program holds is not waited for when asked so (the log
// service's start): the store stays not ready, with the reason, and the
// next setup, once the lock is gone, makes it ready.
void tst_RecordStore::setupWithoutWaitingLeavesALockedFileForLater()
{
    TestDatabase locker(dbPath());
    QVERIFY(locker.exec(QString::fromLatin1(QDBSqlite::kCreateTableSql)));
    QVERIFY(locker.exec(QStringLiteral("BEGIN EXCLUSIVE")));
    QDBSqlite* store = openStore(dbPath());
    QVERIFY(!store->createTable(QDBSqlite::LockWait::None));
    QVERIFY(!store->ready());
    QCOMPARE(store->lastWriteReason(), SystemLog::DropReason::Locked);
    // The connection's own busy timeout is back for every later statement.
    QSqlQuery timeout(*store);
    QVERIFY(timeout.exec(QStringLiteral("PRAGMA busy_timeout")) && timeout.next());
    QCOMPARE(timeout.value(0).toInt(), QDBSqlite::kBusyTimeoutMs);
    QVERIFY(locker.exec(QStringLiteral("COMMIT")));
    QVERIFY(store->createTable());
    QVERIFY(store->insertBatch({{QStringLiteral("after the lock"), 2}}));
}

void tst_RecordStore::fileLeavingThePathIsFollowed_data()
{
    QTest::addColumn<QString>("move");
    QTest::addColumn<int>("change");  // QDBSqlite::PathChange
    QTest::newRow("renamed over by a fresh log") << "replace" << int(QDBSqlite::PathChange::Replaced);
    QTest::newRow("deleted") << "delete" << int(QDBSqlite::PathChange::Deleted);
    QTest::newRow("renamed away, nothing in its place") << "rename" << int(QDBSqlite::PathChange::Deleted);
    QTest::newRow("left where it is") << "none" << int(QDBSqlite::PathChange::None);
}

// A batch is never committed into a file that left the path (it fails and is
// rolled back); followPath() says what happened, and the next setup writes
// the file now at the path, made as at the start when there is none.
void tst_RecordStore::fileLeavingThePathIsFollowed()
{
    QFETCH(QString, move);
    QFETCH(int, change);
    QDBSqlite* store = createdStore();
    QVERIFY(store);
    QVERIFY(store->insertBatch({{QStringLiteral("before"), 2}}));
    const QString kept = m_dir->filePath(QStringLiteral("kept.db"));
    const QByteArray path = QFile::encodeName(dbPath());
    if (move != QLatin1String("none"))
        QCOMPARE(::link(path.constData(), QFile::encodeName(kept).constData()), 0);
    if (move == QLatin1String("replace")) {
        const QString fresh = m_dir->filePath(QStringLiteral("fresh.db"));
        QVERIFY(TestDatabase(fresh).exec(QString::fromLatin1(QDBSqlite::kCreateTableSql)));
        QCOMPARE(::rename(QFile::encodeName(fresh).constData(), path.constData()), 0);
    } else if (move == QLatin1String("delete") || move == QLatin1String("rename")) {
        QCOMPARE(::unlink(path.constData()), 0);
    }
    const std::list<SystemLog::tag_MsgItem> batch{{QStringLiteral("after"), 2}};
    QCOMPARE(store->insertBatch(batch), move == QLatin1String("none"));
    QCOMPARE(int(store->followPath()), change);
    QVERIFY(store->ready() || store->createTable());
    if (move != QLatin1String("none")) {
        QVERIFY(store->insertBatch(batch));
        QCOMPARE(TestDatabase(kept).scalar(QStringLiteral("SELECT group_concat(message) FROM SystemInfo")),
                 QStringLiteral("before"));
    }
    const QString expected = move == QLatin1String("none") ? QStringLiteral("before,after") : QStringLiteral("after");
    QCOMPARE(TestDatabase(dbPath()).scalar(QStringLiteral("SELECT group_concat(message) FROM SystemInfo")), expected);
    QCOMPARE(int(store->followPath()), int(QDBSqlite::PathChange::None));
}

void tst_RecordStore::stampsRecordTheirZone_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<qint64>("takenInOffset");  // of a row with its stamp text (a side file's)
    QTest::addColumn<QList<qint64>>("recorded");
    const qint64 unknown = SystemLog::kUnknownStampOffset;
    QTest::newRow("UTC") << QByteArray("UTC0") << unknown << QList<qint64>{0};
    QTest::newRow("UTC+8") << QByteArray("CST-8") << unknown << QList<qint64>{8 * 3600};
    QTest::newRow("UTC-3:30, a side file's row of UTC+1")
        << QByteArray("NST3:30") << qint64(3600) << QList<qint64>{-(3 * 3600 + 1800), 3600};
}

// Every transaction records the UTC offsets its stamps were formatted in
// (a vacuum in another zone reads them); the table SystemInfo is not changed.
void tst_RecordStore::stampsRecordTheirZone()
{
    QFETCH(QByteArray, zone);
    QFETCH(qint64, takenInOffset);
    QFETCH(QList<qint64>, recorded);
    const QByteArray savedZone = qgetenv("TZ");
    qputenv("TZ", zone);
    tzset();
    QDBSqlite* store = createdStore();
    QVERIFY(store);
    std::list<SystemLog::tag_MsgItem> batch{{QStringLiteral("logged here"), 2}};
    batch.emplace_back(QStringLiteral("taken in"), 2, 0, QByteArray("2026-12-08 03:01:00"), long(takenInOffset));
    const bool written = store->insertBatch(batch) && store->insertBatch(batch);
    if (savedZone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", savedZone);
    tzset();
    QVERIFY(written);
    std::vector<long> offsets;
    QVERIFY(store->stampOffsets(offsets));
    std::sort(offsets.begin(), offsets.end());
    std::sort(recorded.begin(), recorded.end());
    QCOMPARE(QList<qint64>(offsets.begin(), offsets.end()), recorded);
    TestDatabase db(dbPath());
    QCOMPARE(db.scalar(QStringLiteral("SELECT group_concat(name) FROM pragma_table_info('SystemInfo')")),
             QStringLiteral("id,datetime,type,message"));
}

QTEST_GUILESS_MAIN(tst_RecordStore)
#include "tst_recordstore.moc"
