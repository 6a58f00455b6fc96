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
    QTest::newRow("bounds strict, time order") << dayStart << dayEnd << 2
                                               << QStringList{"after start", "noon", "before end"};
    QTest::newRow("start equals end") << dayStart << dayStart << 2 << QStringList();
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

QTEST_GUILESS_MAIN(tst_RecordStore)
#include "tst_recordstore.moc"
