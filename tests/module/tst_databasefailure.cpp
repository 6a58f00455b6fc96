// Failures of real databases, made the way an operator meets them, sorted
// into their kinds and described in Chinese with the database's own text;
// system error texts given in Chinese before their own.
// Every fault holds for root: no permission bits.
#include <QDir>
#include <QLibraryInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <cerrno>

#include <vxSyslog/DatabaseFailure.h>

using SystemLog::FailureKind;

Q_DECLARE_METATYPE(SystemLog::FailureKind)

namespace {

const QString kSchema = QStringLiteral(
    "CREATE TABLE SystemInfo(id INTEGER PRIMARY KEY AUTOINCREMENT, datetime TEXT, type INTEGER, message TEXT)");
const QString kDayQuery = QStringLiteral(
    "SELECT datetime, message FROM SystemInfo WHERE type = 1 AND datetime > '2024-05-01 00:00:00' "
    "AND datetime < '2024-05-01 23:59:59'");

// A named connection that is closed and removed when it goes.
class Connection
{
public:
    Connection(const QString& name, const QString& path)
        : m_name(name)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
        m_opened = db.open();
    }
    ~Connection()
    {
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool opened() const { return m_opened; }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }
    bool exec(const QString& sql) const { return QSqlQuery(db()).exec(sql); }

private:
    QString m_name;
    bool m_opened = false;
};

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Inserts rows until the statement fails; its error, or none if it never did.
QSqlError fillUntilFull(const QSqlDatabase& db)
{
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO SystemInfo(datetime, type, message) VALUES('2024-05-01 10:00:00', 1, ?)"));
    for (int i = 0; i < 1000; ++i) {
        insert.addBindValue(QString(2000, QLatin1Char('x')));
        if (!insert.exec())
            return insert.lastError();
    }
    return QSqlError();
}

} // namespace

class tst_DatabaseFailure : public QObject
{
    Q_OBJECT

private slots:
    void realFailures_data();
    void realFailures();
    void describedInChinese_data();
    void describedInChinese();
    void systemErrorsInChinese_data();
    void systemErrorsInChinese();
};

void tst_DatabaseFailure::realFailures_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<FailureKind>("kind");
    QTest::newRow("a file of garbage") << "garbage" << FailureKind::NotADatabase;
    QTest::newRow("a folder at the file's path") << "folder" << FailureKind::CannotOpen;
    QTest::newRow("locked by another connection") << "locked" << FailureKind::Locked;
    QTest::newRow("size limit reached") << "full" << FailureKind::DiskFull;
    QTest::newRow("a database without SystemInfo") << "no table" << FailureKind::NotALogDatabase;
}

// The day query (or, for the full database, an insert) on the faulty file.
void tst_DatabaseFailure::realFailures()
{
    QFETCH(QString, fault);
    QFETCH(FailureKind, kind);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));

    std::unique_ptr<Connection> holder;
    if (fault == QLatin1String("garbage")) {
        QVERIFY(writeFile(path, QByteArray("this is a log exported as text, not a database\n").repeated(100)));
    } else if (fault == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(path));
    } else {
        holder.reset(new Connection(QStringLiteral("holder"), path));
        QVERIFY(holder->opened());
        QVERIFY(holder->exec(fault == QLatin1String("no table") ? QStringLiteral("CREATE TABLE Other(x)") : kSchema));
        if (fault == QLatin1String("locked"))
            QVERIFY(holder->exec(QStringLiteral("BEGIN EXCLUSIVE")));
    }

    QSqlError error;
    {
        Connection reader(QStringLiteral("reader"), path);
        if (!reader.opened()) {
            error = reader.db().lastError();
        } else if (fault == QLatin1String("full")) {
            QVERIFY(reader.exec(QStringLiteral("PRAGMA max_page_count = 8")));
            error = fillUntilFull(reader.db());
        } else {
            QSqlQuery query(reader.db());
            QVERIFY(!query.exec(kDayQuery));
            error = query.lastError();
        }
    }
    QVERIFY(error.isValid());
    QCOMPARE(SystemLog::failureKindOf(error), kind);
    const QString described = SystemLog::describeFailure(error);
    QVERIFY2(described.startsWith(SystemLog::failureKindText(kind) + QStringLiteral("（数据库信息：")),
             qPrintable(described));
    QVERIFY2(described.contains(error.text().trimmed()), qPrintable(described));
}

void tst_DatabaseFailure::describedInChinese_data()
{
    QTest::addColumn<FailureKind>("kind");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("text");
    QTest::newRow("kind and detail") << FailureKind::NotADatabase << " file is not a database "
                                     << "文件不是数据库（数据库信息：file is not a database）";
    QTest::newRow("no detail") << FailureKind::Locked << "  " << "数据库被其他程序锁定，请稍后再试";
    QTest::newRow("unknown kind") << FailureKind::Other << "disk I/O error"
                                  << "数据库操作失败（数据库信息：disk I/O error）";
}

void tst_DatabaseFailure::describedInChinese()
{
    QFETCH(FailureKind, kind);
    QFETCH(QString, detail);
    QFETCH(QString, text);
    QCOMPARE(SystemLog::describeFailure(kind, detail), text);
}

void tst_DatabaseFailure::systemErrorsInChinese_data()
{
    QTest::addColumn<bool>("qtCatalogue");
    QTest::addColumn<QString>("system");
    QTest::addColumn<QString>("text");
    QTest::newRow("the module's own") << false << qt_error_string(ENOTDIR) << "路径中有一部分不是文件夹（Not a directory）";
    QTest::newRow("the module's own, by number") << false << QString::number(ENOSPC) << "磁盘已满（No space left on device）";
    QTest::newRow("Qt's catalogue first") << true << qt_error_string(ENOSPC) << "设备中已没有剩余空间（No space left on device）";
    QTest::newRow("unknown: as it is") << false << "Something odd happened" << "Something odd happened";
    QTest::newRow("already Chinese: as it is") << false << "磁盘已满（No space left on device）"
                                               << "磁盘已满（No space left on device）";
}

void tst_DatabaseFailure::systemErrorsInChinese()
{
    QFETCH(bool, qtCatalogue);
    QFETCH(QString, system);
    QFETCH(QString, text);
    QTranslator qtTexts;
    if (qtCatalogue) {
        QVERIFY(qtTexts.load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::location(QLibraryInfo::TranslationsPath)));
        QVERIFY(QCoreApplication::installTranslator(&qtTexts));
    }
    bool isNumber = false;
    const int code = system.toInt(&isNumber);
    QCOMPARE(isNumber ? SystemLog::chineseSystemError(code) : SystemLog::chineseSystemError(system), text);
}

QTEST_GUILESS_MAIN(tst_DatabaseFailure)
#include "tst_databasefailure.moc"
