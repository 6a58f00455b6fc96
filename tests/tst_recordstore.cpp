#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "QDBSqlite.h"
#include "TestDatabase.h"

using SystemLog::QDBSqlite;
using SystemLog::RecordList;

// Bounds around every time stamp a test writes. Time texts must look like time
// texts: the datetime column has numeric affinity, so a bound such as "9" would
// be compared as a number.
static const QString kDawn = QStringLiteral("0000-01-01 00:00:00");
static const QString kDusk = QStringLiteral("9999-12-31 23:59:59");

class tst_RecordStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void freshFolderCreatesFileAndTable();
    void creationStatementIsStoredVerbatim();
    void createTableAddsTypeDatetimeIndex();
    void existingDatabaseKeepsItsRows();

    void boundsAreStrict_data();
    void boundsAreStrict();
    void startNotBeforeEndGivesEmptySuccess_data();
    void startNotBeforeEndGivesEmptySuccess();
    void rowsOfOneSecondAllReturn();
    void resultsComeInTimeOrder();
    void typeIsComparedAsNumber();

    void insertStampsAndTypes();
    void messageRoundTrip_data();
    void messageRoundTrip();
    void rangeTextCannotChangeStatement_data();
    void rangeTextCannotChangeStatement();
    void batchIsWrittenInOrder();
    void batchFailsWholeWhileFileIsLocked();

    void unopenableDatabaseReportsFailure_data();
    void unopenableDatabaseReportsFailure();

private:
    QString dbPath() const { return m_dir->filePath(QStringLiteral("dbLog.db")); }
    QDBSqlite* openStore();

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

QDBSqlite* tst_RecordStore::openStore()
{
    m_store.reset(new QDBSqlite(dbPath(), QString(), QString()));
    return m_store.data();
}

void tst_RecordStore::freshFolderCreatesFileAndTable()
{
    QVERIFY(!QFile::exists(dbPath()));
    QDBSqlite* store = openStore();
    QVERIFY(!store->isOpen());
    QVERIFY(store->createTable());
    QVERIFY(QFile::exists(dbPath()));
    QVERIFY(store->tables().contains(QStringLiteral("SystemInfo")));

    const RecordList none = store->query(kDawn, kDusk, 0);
    QVERIFY(none.isEmpty());
    QVERIFY(!store->lastQueryFailed());
}

void tst_RecordStore::creationStatementIsStoredVerbatim()
{
    const QString tabs(6, QLatin1Char('\t'));
    const QString expected = QStringLiteral("CREATE TABLE IF NOT EXISTS SystemInfo(") + tabs
        + QStringLiteral("id INTEGER  PRIMARY KEY AUTOINCREMENT UNIQUE ") + tabs
        + QStringLiteral(", datetime DATETIME NOT NULL DEFAULT (datetime(CURRENT_TIMESTAMP,'localtime'))  ") + tabs
        + QStringLiteral(", type INT(32) ") + tabs + QStringLiteral(", message TEXT)");
    QCOMPARE(expected.size(), 217);

    QVERIFY(openStore()->createTable());
    TestDatabase side(dbPath());
    // SQLite keeps the statement as given, minus "IF NOT EXISTS".
    QString stored = side.scalar(QStringLiteral("SELECT sql FROM sqlite_master WHERE type='table' AND name='SystemInfo'"));
    QString expectedStored = expected;
    expectedStored.replace(QStringLiteral("CREATE TABLE IF NOT EXISTS "), QStringLiteral("CREATE TABLE "));
    QCOMPARE(stored, expectedStored);
    QCOMPARE(QString::fromLatin1(QDBSqlite::kCreateTableSql), expected);
}

void tst_RecordStore::createTableAddsTypeDatetimeIndex()
{
    QVERIFY(openStore()->createTable());
    TestDatabase side(dbPath());
    QSqlQuery plan(side.db());
    QVERIFY(plan.exec(QString::fromLatin1("EXPLAIN QUERY PLAN ") + QString::fromLatin1(QDBSqlite::kQuerySql)
                          .replace(QLatin1Char('?'), QLatin1String("'2024-05-01 00:00:00'"))));
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
    QDBSqlite* store = openStore();
    QVERIFY(store->createTable());
    QVERIFY(store->createTable());

    TestDatabase side(dbPath());
    const QVector<StoredRow> rows = side.rows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].id, 1);
    QCOMPARE(rows[0].datetime, QStringLiteral("2020-09-22 10:00:00"));
    QCOMPARE(rows[0].message, QStringLiteral("old row"));
}

void tst_RecordStore::boundsAreStrict_data()
{
    QTest::addColumn<QString>("stamp");
    QTest::addColumn<bool>("returned");
    QTest::newRow("exactly at start") << "2024-05-01 00:00:00" << false;
    QTest::newRow("one second after start") << "2024-05-01 00:00:01" << true;
    QTest::newRow("midday") << "2024-05-01 12:30:00" << true;
    QTest::newRow("one second before end") << "2024-05-01 23:59:58" << true;
    QTest::newRow("exactly at end") << "2024-05-01 23:59:59" << false;
    QTest::newRow("day before") << "2024-04-30 23:59:59" << false;
}

void tst_RecordStore::boundsAreStrict()
{
    QFETCH(QString, stamp);
    QFETCH(bool, returned);
    QDBSqlite* store = openStore();
    QVERIFY(store->createTable());
    {
        TestDatabase side(dbPath());
        QVERIFY(side.insertRow(stamp, 2, QStringLiteral("m")));
    }
    const RecordList found = store->query(QStringLiteral("2024-05-01 00:00:00"), QStringLiteral("2024-05-01 23:59:59"), 2);
    QVERIFY(!store->lastQueryFailed());
    QCOMPARE(found.size(), returned ? 1 : 0);
    if (returned)
        QCOMPARE(found[0].first, stamp);
}

void tst_RecordStore::startNotBeforeEndGivesEmptySuccess_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::newRow("start equals end") << "2024-05-01 12:00:00" << "2024-05-01 12:00:00";
    QTest::newRow("start after end") << "2024-05-02 00:00:00" << "2024-05-01 00:00:00";
}

void tst_RecordStore::startNotBeforeEndGivesEmptySuccess()
{
    QFETCH(QString, start);
    QFETCH(QString, end);
    QDBSqlite* store = openStore();
    QVERIFY(store->createTable());
    {
        TestDatabase side(dbPath());
        QVERIFY(side.insertRow(QStringLiteral("2024-05-01 12:00:00"), 0, QStringLiteral("m")));
    }
    QVERIFY(store->query(start, end, 0).isEmpty());
    QVERIFY(!store->lastQueryFailed());
    QVERIFY(store->lastQueryError().isEmpty());
}

void tst_RecordStore::rowsOfOneSecondAllReturn()
{
    QDBSqlite* store = openStore();
    QVERIFY(store->createTable());
    for (int i = 0; i < 5; ++i)
        QVERIFY(store->insert(1, QString::number(i)));
    const RecordList found = store->query(kDawn, kDusk, 1);
    QCOMPARE(found.size(), 5);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(found[i].second, QString::number(i));
}

void tst_RecordStore::resultsComeInTimeOrder()
{
    QDBSqlite* store = openStore();
    QVERIFY(store->createTable());
    {
        TestDatabase side(dbPath());
        QVERIFY(side.insertRow(QStringLiteral("2024-05-01 15:00:00"), 4, QStringLiteral("third")));
        QVERIFY(side.insertRow(QStringLiteral("2024-05-01 09:00:00"), 4, QStringLiteral("first")));
        QVERIFY(side.insertRow(QStringLiteral("2024-05-01 12:00:00"), 4, QStringLiteral("second")));
    }
    const RecordList found = store->query(QStringLiteral("2024-05-01 00:00:00"), QStringLiteral("2024-05-01 23:59:59"), 4);
    QCOMPARE(found.size(), 3);
    QCOMPARE(found[0].second, QStringLiteral("first"));
    QCOMPARE(found[1].second, QStringLiteral("second"));
    QCOMPARE(found[2].second, QStringLiteral("third"));
}

void tst_RecordStore::typeIsComparedAsNumber()
{
    QDBSqlite* store = openStore();
    QVERIFY(store->createTable());
    {
        TestDatabase side(dbPath());
        // The type column has integer affinity: the text '3' is stored as 3.
        QVERIFY(side.exec(QStringLiteral("INSERT INTO SystemInfo(datetime, type, message) VALUES('2024-05-01 10:00:00', '3', 'text three')")));
        QVERIFY(side.insertRow(QStringLiteral("2024-05-01 10:00:01"), 3, QStringLiteral("int three")));
        QVERIFY(side.insertRow(QStringLiteral("2024-05-01 10:00:02"), 30, QStringLiteral("thirty")));
    }
    const RecordList found = store->query(QStringLiteral("2024-05-01 00:00:00"), QStringLiteral("2024-05-01 23:59:59"), 3);
    QCOMPARE(found.size(), 2);
    QCOMPARE(found[0].second, QStringLiteral("text three"));
    QCOMPARE(found[1].second, QStringLiteral("int three"));
}

void tst_RecordStore::insertStampsAndTypes()
{
    QDBSqlite* store = openStore();
    QVERIFY(store->createTable());
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    QVERIFY(store->insert(2, QStringLiteral("abc")));
    QVERIFY(store->insert(9, QStringLiteral("out of range")));
    QVERIFY(store->insert(-1, QStringLiteral("negative")));
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);

    TestDatabase side(dbPath());
    const QVector<StoredRow> rows = side.rows();
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0].id, 1);
    QCOMPARE(rows[0].type, 2);
    QCOMPARE(rows[0].message, QStringLiteral("abc"));
    QCOMPARE(rows[1].id, 2);
    QCOMPARE(rows[1].type, 9);
    QCOMPARE(rows[2].type, -1);
    const QDateTime stamp = QDateTime::fromString(rows[0].datetime, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QVERIFY2(stamp.isValid(), qPrintable(rows[0].datetime));
    QVERIFY(stamp >= before.addSecs(-1) && stamp <= after);
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
    QDBSqlite* store = openStore();
    QVERIFY(store->createTable());
    QVERIFY(store->insert(0, message));
    std::list<SystemLog::tag_MsgItem> batch{{message, 1}};
    QVERIFY(store->insertBatch(batch));

    for (int type : {0, 1}) {
        const RecordList found = store->query(kDawn, kDusk, type);
        QCOMPARE(found.size(), 1);
        QCOMPARE(found[0].second.size(), message.size());
        QCOMPARE(found[0].second, message);
    }
}

void tst_RecordStore::rangeTextCannotChangeStatement_data()
{
    // Pasted into the statement, each of these would return other rows or
    // change the table; bound, they are plain texts compared with datetime.
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("quote in start") << "0' or '1'='1" << "0" << QStringList();
    QTest::newRow("quote in end") << "0" << "9' or type = 1 --" << QStringList{"a"};
    QTest::newRow("placeholders") << "%2" << "%3" << QStringList();
    QTest::newRow("statement in end") << "0" << "9'; DELETE FROM SystemInfo; --" << QStringList{"a"};
}

void tst_RecordStore::rangeTextCannotChangeStatement()
{
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(QStringList, expected);
    QDBSqlite* store = openStore();
    QVERIFY(store->createTable());
    {
        TestDatabase side(dbPath());
        QVERIFY(side.insertRow(QStringLiteral("2024-05-01 10:00:00"), 0, QStringLiteral("a")));
        QVERIFY(side.insertRow(QStringLiteral("2024-05-01 11:00:00"), 1, QStringLiteral("b")));
    }
    const RecordList found = store->query(start, end, 0);
    QVERIFY(!store->lastQueryFailed());
    QStringList messages;
    for (const auto& record : found)
        messages << record.second;
    QCOMPARE(messages, expected);
    TestDatabase side(dbPath());
    QCOMPARE(side.rows().size(), 2);
}

void tst_RecordStore::batchIsWrittenInOrder()
{
    QDBSqlite* store = openStore();
    QVERIFY(store->createTable());
    std::list<SystemLog::tag_MsgItem> batch;
    for (int i = 0; i < 100; ++i)
        batch.push_back({QStringLiteral("line %1").arg(i), i % 5});
    QVERIFY(store->insertBatch(batch));
    QVERIFY(store->insertBatch({}));

    TestDatabase side(dbPath());
    const QVector<StoredRow> rows = side.rows();
    QCOMPARE(rows.size(), 100);
    for (int i = 0; i < 100; ++i) {
        QCOMPARE(rows[i].message, QStringLiteral("line %1").arg(i));
        QCOMPARE(rows[i].type, i % 5);
    }
}

void tst_RecordStore::batchFailsWholeWhileFileIsLocked()
{
    QDBSqlite* store = openStore();
    store->setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=50"));
    QVERIFY(store->createTable());
    TestDatabase locker(dbPath());
    QVERIFY(locker.exec(QStringLiteral("BEGIN EXCLUSIVE")));

    std::list<SystemLog::tag_MsgItem> batch{{QStringLiteral("a"), 0}, {QStringLiteral("b"), 0}};
    QVERIFY(!store->insertBatch(batch));
    QVERIFY(store->query(kDawn, kDusk, 0).isEmpty());
    QVERIFY(store->lastQueryFailed());
    QVERIFY(!store->lastQueryError().isEmpty());

    QVERIFY(locker.exec(QStringLiteral("COMMIT")));
    QVERIFY(store->insertBatch(batch));
    QCOMPARE(store->query(kDawn, kDusk, 0).size(), 2);
    QVERIFY(!store->lastQueryFailed());
}

void tst_RecordStore::unopenableDatabaseReportsFailure_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("folder missing") << "missing";
    QTest::newRow("folder at the file's place") << "folder";
}

void tst_RecordStore::unopenableDatabaseReportsFailure()
{
    QFETCH(QString, fault);
    QString path = dbPath();
    if (fault == QLatin1String("missing"))
        path = m_dir->filePath(QStringLiteral("no/such/folder/dbLog.db"));
    else
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("dbLog.db")));

    m_store.reset(new QDBSqlite(path, QString(), QString()));
    QVERIFY(!m_store->createTable());
    QVERIFY(!m_store->insert(0, QStringLiteral("lost")));
    QVERIFY(!m_store->insertBatch({{QStringLiteral("lost"), 0}}));
    QVERIFY(m_store->query(kDawn, kDusk, 0).isEmpty());
    QVERIFY(m_store->lastQueryFailed());
    QVERIFY(!m_store->lastQueryError().isEmpty());
}

QTEST_GUILESS_MAIN(tst_RecordStore)
#include "tst_recordstore.moc"
