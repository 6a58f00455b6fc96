#include <QtTest>

#include <set>

#include "DropRecords.h"
#include "store/QDBSqlite.h"
#include "TestDatabase.h"

// A program meets a fault at the start or the end of its log service, each
// case in a process of its own (logfault_helper); afterwards another program
// opens the same file. Every line logged is then either a row or counted in
// a drop record in the file: stored + counted = logged.
class tst_WriterFaults : public QObject
{
    Q_OBJECT

private slots:
    void everyLineIsStoredOrCounted_data();
    void everyLineIsStoredOrCounted();
    void refusedFileIsToldOnce();
};

namespace {

constexpr int kProcessTimeoutMs = 120000;  // sanitizer builds start and log slowly

// Sanitizer builds run the large cases with a tenth of the lines, to stay
// quick; the lines are still queued when those programs end.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kLargeCase = 20000;
#else
constexpr int kLargeCase = 200000;
#endif

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run runHelper(const QString& folder, const QString& mode, int lines)
{
    QProcess helper;
    helper.setWorkingDirectory(folder);
    helper.start(QStringLiteral(LOGFAULT_HELPER), {mode, QString::number(lines)});
    helper.closeWriteChannel();
    Run run;
    if (helper.waitForFinished(kProcessTimeoutMs) && helper.exitStatus() == QProcess::NormalExit)
        run.exitCode = helper.exitCode();
    run.out = helper.readAllStandardOutput();
    run.err = helper.readAllStandardError();
    return run;
}

} // namespace

void tst_WriterFaults::everyLineIsStoredOrCounted_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("logged");
    QTest::addColumn<int>("counted");   // -1: as it happens
    QTest::addColumn<QString>("told");  // a drop record that must be there

    const QString queueFull = QStringLiteral("日志过多：");
    QTest::newRow("full disk at start, space comes back")
        << "full-at-start" << 300 << 600 << 300 << QStringLiteral("日志写入失败（磁盘读写错误）：");
    QTest::newRow("first table creation fails") << "journal-blocked" << 300 << 600 << -1 << QString();
    QTest::newRow("lock held across the end of a Session") << "lock-at-end" << 1000 << 1000 << 0 << QString();
    QTest::newRow("overflow, then give-up at the end")
        << "overflow-end" << kLargeCase / 2 << kLargeCase / 2 << -1 << queueFull;
    QTest::newRow("exit() from main") << "exit-main" << kLargeCase << kLargeCase << 0 << QString();
    QTest::newRow("exit() from a thread") << "exit-thread" << kLargeCase << kLargeCase << 0 << QString();
    QTest::newRow("Session ended during static destruction")
        << "static-end" << kLargeCase << kLargeCase << 0 << QString();
}

void tst_WriterFaults::everyLineIsStoredOrCounted()
{
    QFETCH(QString, mode);
    QFETCH(int, lines);
    QFETCH(int, logged);
    QFETCH(int, counted);
    QFETCH(QString, told);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    const QString journal = path + QStringLiteral("-journal");
    std::unique_ptr<TestDatabase> locker;
    if (mode == QLatin1String("lock-at-end")) {
        locker.reset(new TestDatabase(path));
        QVERIFY(locker->exec(QString::fromLatin1(SystemLog::QDBSqlite::kCreateTableSql)));
        QVERIFY(locker->exec(QStringLiteral("BEGIN EXCLUSIVE")));
    }

    QProcess helper;
    helper.setWorkingDirectory(dir.path());
    if (mode == QLatin1String("journal-blocked")) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("dbLog.db-journal")));
        helper.start(QStringLiteral(LOGFAULT_HELPER), {mode, QString::number(lines)});
        // The first half is logged while the table cannot be made.
        QDeadlineTimer deadline(kProcessTimeoutMs);
        while (!helper.canReadLine() && !deadline.hasExpired())
            helper.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1)));
        QVERIFY2(helper.canReadLine(), "the helper never said it had logged the first half");
        QVERIFY(QDir(dir.path()).rmdir(QStringLiteral("dbLog.db-journal")));
        helper.write("go\n");
    } else {
        helper.start(QStringLiteral(LOGFAULT_HELPER), {mode, QString::number(lines)});
    }
    helper.closeWriteChannel();
    QVERIFY2(helper.waitForFinished(kProcessTimeoutMs), qPrintable(mode));
    const QByteArray out = helper.readAllStandardOutput();
    QVERIFY2(helper.exitStatus() == QProcess::NormalExit && helper.exitCode() == 0, helper.readAllStandardError());
    // Nothing was cut off in the middle of a transaction.
    QVERIFY(!QFileInfo::exists(journal));
    if (mode == QLatin1String("full-at-start"))
        QVERIFY2(out.contains("given up " + QByteArray::number(lines)), out.constData());
    if (locker) {
        QVERIFY(locker->exec(QStringLiteral("COMMIT")));
        locker.reset();
    }

    // The next program to open the file stores what was left for it.
    const Run next = runHelper(dir.path(), QStringLiteral("open"), 0);
    QVERIFY2(next.exitCode == 0, next.err.constData());
    const QStringList left = QDir(dir.path()).entryList({QStringLiteral("*-unwritten-*")}, QDir::Files);
    QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char(' '))));

    static const QRegularExpression line(QStringLiteral("^fault n(\\d+)x*\\n$"));
    static const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"));
    std::set<qint64> stored;
    std::uint64_t dropped = 0;
    bool toldFound = told.isEmpty();
    for (const StoredRow& row : TestDatabase(path).rows()) {
        QVERIFY2(stamp.match(row.datetime).hasMatch(), qPrintable(row.datetime));
        if (row.type == 4) {
            dropped += droppedIn(row.message);
            toldFound = toldFound || row.message.startsWith(told);
            continue;
        }
        const QRegularExpressionMatch match = line.match(row.message);
        QVERIFY2(match.hasMatch(), qPrintable(row.message));
        QVERIFY2(stored.insert(match.captured(1).toLongLong()).second, qPrintable(row.message));
    }
    QCOMPARE(std::uint64_t(stored.size()) + dropped, std::uint64_t(logged));
    if (counted >= 0)
        QCOMPARE(dropped, std::uint64_t(counted));
    QVERIFY2(toldFound, qPrintable(told));
}

// A program whose file is not a log database says so once on standard
// error, naming the file and the reason, however many lines it gives up.
void tst_WriterFaults::refusedFileIsToldOnce()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    const QByteArray content = QByteArray("machine settings\nspeed=1200\n").repeated(50);
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), qint64(content.size()));
    }
    const Run run = runHelper(dir.path(), QStringLiteral("refused"), 1000);
    QCOMPARE(run.exitCode, 0);
    const QList<QByteArray> notices = run.err.trimmed().split('\n');
    QCOMPARE(notices.size(), 1);
    const QString notice = QString::fromUtf8(notices.first());
    QVERIFY2(notice.contains(path) && notice.contains(SystemLog::failureKindText(SystemLog::FailureKind::NotADatabase)),
             qPrintable(notice));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), content);
}

QTEST_GUILESS_MAIN(tst_WriterFaults)
#include "tst_writerfaults.moc"
