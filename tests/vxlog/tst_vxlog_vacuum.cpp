// vxlog vacuum and --disk-usage run as processes on log databases the test
// builds, also while this process logs to and reads the same file.
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

#include <vxSyslog/DatabaseFailure.h>
#include <vxSyslog/LogReader.h>
#include <vxSyslog/vxLogging.h>
#include <vxSyslog/vxSysLog.h>

#include "BuiltPath.h"
#include "VxlogTestSupport.h"

using namespace VxlogTest;

namespace {

using Ids = QList<qint64>;

struct AgedRow
{
    qint64 ageSeconds;
    int type;
    QString message;
};
using AgedRows = QVector<AgedRow>;

constexpr qint64 kDay = 24 * 3600;

// Old rows of the tables that run a vacuum beside writers, readers and
// attacks; sanitizer builds run slower, with fewer.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kAttackRows = 30000;
#else
constexpr int kAttackRows = 100000;
#endif
// Lines fed to each flooding writer at most.
constexpr qint64 kFloodLines = 30000;

// A log file as the writer makes it (incremental auto-vacuum), or as an
// older version or another program made it (without).
void createLog(const QString& path, bool incremental)
{
    if (incremental) {
        SystemLog::QDBSqlite db(path, QString(), QString());
        QVERIFY(db.createTable());
        db.close();
    } else {
        TestDatabase db(path);
        createLogTable(db);
    }
}

// `count` rows of about 400 bytes, one a second from 2026-01-01 00:00:00.
void fillRows(const QString& path, int count, const QString& prefix = QStringLiteral("row"))
{
    TestDatabase db(path);
    QVERIFY(db.exec(QStringLiteral(
        "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < %1) "
        "INSERT INTO SystemInfo(datetime, type, message) "
        "SELECT datetime('2026-01-01 00:00:00', '+' || x || ' seconds'), 2, '%2 ' || x || ' ' || printf('%.400c', 'x') FROM n")
                        .arg(count)
                        .arg(prefix)));
}

qint64 fileSize(const QString& path)
{
    return QFileInfo(path).size();
}

// The records the vacuum wrote: type 4 saying what it removed.
QStringList removalRecords(const TestDatabase& db)
{
    QStringList texts;
    for (const StoredRow& row : db.rows()) {
        if (row.type == 4 && row.message.startsWith(QStringLiteral("已清理 ")))
            texts << row.message;
    }
    return texts;
}

// The command line the record names: the options by their own names.
QString requestOf(const QStringList& arguments)
{
    QStringList request = arguments;
    request.replaceInStrings(QStringLiteral("--vacuum-"), QStringLiteral("--"));
    return QStringLiteral("vxlog vacuum ") + request.join(QLatin1Char(' ')).replace(QLatin1Char('='), QLatin1Char(' '));
}

// What the records of removal say against what went of `oldRows` rows made
// by fillRows(): together they count exactly the rows removed, those are the
// oldest (nothing half removed) and all were stamped before the bound the
// last record names. Empty when all holds.
QString recordProblem(const QString& path, qint64 oldRows)
{
    TestDatabase db(path);
    const qint64 left = db.scalar(QStringLiteral("SELECT count(*) FROM SystemInfo WHERE message LIKE 'old %'")).toLongLong();
    const qint64 firstLeft = db.scalar(QStringLiteral("SELECT min(id) FROM SystemInfo WHERE message LIKE 'old %'")).toLongLong();
    const qint64 removed = oldRows - left;
    if (left > 0 && firstLeft != removed + 1)
        return QStringLiteral("%1 rows went, but the first kept is row %2").arg(removed).arg(firstLeft);
    static const QRegularExpression form(QStringLiteral("^已清理 (\\d+) 条早于 (\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d) 的记录（vxlog vacuum"));
    qint64 told = 0;
    QString bound;
    for (const QString& record : removalRecords(db)) {
        const QRegularExpressionMatch match = form.match(record);
        if (!match.hasMatch())
            return QStringLiteral("a record of another form: ") + record;
        told += match.captured(1).toLongLong();
        bound = match.captured(2);
    }
    if (told != removed)
        return QStringLiteral("%1 rows went, the records say %2").arg(removed).arg(told);
    const QString newestRemoved =
        db.scalar(QStringLiteral("SELECT datetime('2026-01-01 00:00:00', '+%1 seconds')").arg(removed));
    if (removed > 0 && !(newestRemoved < bound))
        return QStringLiteral("row %1, stamped %2, went before %3").arg(removed).arg(newestRemoved, bound);
    return QString();
}

// `env` runs vxlog under another time zone.
Result runVxlogInZone(const QByteArray& zone, const QStringList& arguments, const QString& workingDir,
                      const QByteArray& input = QByteArray())
{
    return runVxlog(QStringList{QStringLiteral("TZ=") + QString::fromLatin1(zone), vxtest::built(VXLOG_BINARY)} + arguments,
                    workingDir, input, QString(), QStringLiteral("env"));
}

} // namespace

Q_DECLARE_METATYPE(AgedRows)

class tst_VxlogVacuum : public QObject
{
    Q_OBJECT

private slots:
    void byTime_data();
    void byTime();
    void bySize_data();
    void bySize();
    void whileWritingAndReading_data();
    void whileWritingAndReading();
    void recordSaysWhatWent_data();
    void recordSaysWhatWent();
    void timeZonesKeepFreshRecords_data();
    void timeZonesKeepFreshRecords();
    void diskUsage_data();
    void diskUsage();
    void usageAndFailures_data();
    void usageAndFailures();
};

void tst_VxlogVacuum::byTime_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("boundDays");  // the bound the record names, in days before now
    QTest::addColumn<Ids>("kept");
    QTest::newRow("90 days: old rows of every type go, drop records of the kept period stay")
        << QStringList{"--time", "90d"} << 90 << Ids{3, 5, 7};
    QTest::newRow("journal tool's name") << QStringList{"--vacuum-time", "90d"} << 90 << Ids{3, 5, 7};
    QTest::newRow("six months") << QStringList{"--time", "6M"} << 0 << Ids{1, 2, 3, 4, 5, 7};
    QTest::newRow("five days") << QStringList{"--time", "5d"} << 5 << Ids{7};
    QTest::newRow("nothing that old") << QStringList{"--time", "1y"} << 0 << Ids{1, 2, 3, 4, 5, 6, 7};
    QTest::newRow("journal tool's way, without a command") << QStringList{"--vacuum-time=90d"} << 90 << Ids{3, 5, 7};
    QTest::newRow("time and a size the file fits") << QStringList{"--time", "90d", "--size", "100M"} << 90 << Ids{3, 5, 7};
}

void tst_VxlogVacuum::byTime()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, boundDays);
    QFETCH(Ids, kept);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    createLog(path, true);
    const QDateTime before = QDateTime::currentDateTime();
    // Row 6 was stored last of the old ones with the oldest stamp (a clock
    // set back); row 5 is a day inside the bound of 90 days.
    const AgedRows rows{{100 * kDay, 2, QStringLiteral("old status")},
                        {95 * kDay, 4, QStringLiteral("日志过多：已丢弃 5 条记录")},
                        {10 * kDay, 4, QStringLiteral("日志写入失败（磁盘已满）：2 条记录")},
                        {91 * kDay, 3, QStringLiteral("old alarm")},
                        {89 * kDay, 3, QStringLiteral("inside the bound")},
                        {200 * kDay, 1, QStringLiteral("clock set back")},
                        {0, 2, QStringLiteral("now")}};
    {
        TestDatabase db(path);
        for (const AgedRow& row : rows)
            QVERIFY(db.insertRow(stamp(before.addSecs(-row.ageSeconds)), row.type, row.message));
    }
    const bool command = !arguments.first().contains(QLatin1Char('='));
    const Result r = runVxlog((command ? QStringList{"vacuum"} : QStringList()) + arguments, dir.path());
    const QDateTime after = QDateTime::currentDateTime();
    QVERIFY2(!r.crashed && r.exitCode == 0, r.err.constData());

    TestDatabase db(path);
    Ids remaining;
    for (const StoredRow& row : db.rows()) {
        if (row.id <= rows.size())
            remaining << row.id;
    }
    QCOMPARE(remaining, kept);
    const int removed = rows.size() - kept.size();
    const QStringList records = removalRecords(db);
    if (removed == 0) {
        QVERIFY(records.isEmpty());
        QVERIFY2(QString::fromUtf8(r.out).contains(QStringLiteral("没有需要清理的记录")), r.out.constData());
        return;
    }
    QCOMPARE(records.size(), 1);
    const QRegularExpression form(QStringLiteral("^已清理 (\\d+) 条早于 (\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d) 的记录（%1）$")
                                      .arg(QRegularExpression::escape(requestOf(arguments))));
    const QRegularExpressionMatch match = form.match(records.first());
    QVERIFY2(match.hasMatch(), qPrintable(records.first()));
    QCOMPARE(match.captured(1).toInt(), removed);
    if (boundDays > 0) {
        QVERIFY(match.captured(2) >= stamp(before.addDays(-boundDays)));
        QVERIFY(match.captured(2) <= stamp(after.addDays(-boundDays)));
    }
    QVERIFY2(QString::fromUtf8(r.out).startsWith(QStringLiteral("已清理 %1 条早于 %2 的记录。\n").arg(removed).arg(match.captured(2))),
             r.out.constData());
}

void tst_VxlogVacuum::bySize_data()
{
    QTest::addColumn<bool>("incremental");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("fitsLimit");     // the file ends at most the limit
    QTest::addColumn<bool>("someRemoved");
    QTest::addColumn<QString>("said");       // a piece of standard output
    QTest::newRow("oldest rows go until the file fits") << true << QStringList{"--size", "300K"} << true << true << QString();
    QTest::newRow("journal tool's name, bytes") << true << QStringList{"--vacuum-size", "307200"} << true << true << QString();
    QTest::newRow("the file fits already") << true << QStringList{"--size", "1G"} << true << false
                                           << QStringLiteral("没有需要清理的记录");
    QTest::newRow("nothing may stay") << true << QStringList{"--size", "0"} << false << true << QString();
    QTest::newRow("old file: free pages stay in it") << false << QStringList{"--size", "300K"} << false << true
                                                     << QStringLiteral("--compact");
    QTest::newRow("old file, compacted") << false << QStringList{"--size", "300K", "--compact"} << true << true << QString();
}

void tst_VxlogVacuum::bySize()
{
    QFETCH(bool, incremental);
    QFETCH(QStringList, arguments);
    QFETCH(bool, fitsLimit);
    QFETCH(bool, someRemoved);
    QFETCH(QString, said);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    createLog(path, incremental);
    constexpr int kRows = 4000;
    fillRows(path, kRows);
    const qint64 sizeBefore = fileSize(path);
    const Result r = runVxlog(QStringList{"vacuum"} + arguments, dir.path());
    QVERIFY2(!r.crashed && r.exitCode == 0, r.err.constData());
    if (!said.isEmpty())
        QVERIFY2(QString::fromUtf8(r.out).contains(said), r.out.constData());

    const qint64 limit = arguments.at(1) == QLatin1String("1G") ? (1LL << 30)
                         : arguments.at(1) == QLatin1String("0") ? 0 : 300 * 1024;
    QCOMPARE(fileSize(path) <= limit, fitsLimit);
    if (!incremental && !fitsLimit)
        QCOMPARE(fileSize(path), sizeBefore);  // nothing given back without --compact

    TestDatabase db(path);
    Ids remaining;
    QString firstKept;
    for (const StoredRow& row : db.rows()) {
        if (row.id > kRows)
            continue;
        if (remaining.isEmpty())
            firstKept = row.datetime;
        remaining << row.id;
    }
    // What stays are the newest rows, every one of them.
    for (int i = 1; i < remaining.size(); ++i)
        QCOMPARE(remaining.at(i), remaining.at(i - 1) + 1);
    if (!remaining.isEmpty())
        QCOMPARE(remaining.last(), qint64(kRows));
    const int removed = kRows - remaining.size();
    QCOMPARE(removed > 0, someRemoved);
    const QStringList records = removalRecords(db);
    QCOMPARE(records.size(), someRemoved ? 1 : 0);
    if (someRemoved && !firstKept.isEmpty())
        QCOMPARE(records.first(), QStringLiteral("已清理 %1 条早于 %2 的记录（%3）").arg(removed).arg(firstKept, requestOf(arguments)));
}

void tst_VxlogVacuum::whileWritingAndReading_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("by time") << QStringList{"--time", "30d"};
    QTest::newRow("by size") << QStringList{"--size", "2M"};
}

// This process logs through the log service and reads the file with a
// reader for as long as the vacuum runs: no line is lost or dropped, no read
// fails, and the old rows go.
void tst_VxlogVacuum::whileWritingAndReading()
{
    QFETCH(QStringList, arguments);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    createLog(path, true);
    constexpr int kOldRows = kAttackRows;
    fillRows(path, kOldRows, QStringLiteral("old"));

    int logged = 0;
    int reads = 0;
    QStringList readFailures;
    SystemLog::FlushResult flushed;
    QProcess vacuum;
    {
        SystemLog::vxSysLog::Session log(path);
        vacuum.start(vxtest::built(VXLOG_BINARY), QStringList{"vacuum", "--db", path} + arguments);
        QVERIFY(vacuum.waitForStarted(kRunTimeoutMs));
        do {
            VXLOG_STATUS << "live " << logged++;
            SystemLog::LogReader reader(path);
            qint64 count = 0;
            if (!reader.open() || !reader.count(SystemLog::LogQuery(), count))
                readFailures << reader.errorText();
            ++reads;
        } while (!vacuum.waitForFinished(1));
        flushed = log.service()->flush();
    }
    QVERIFY2(vacuum.exitStatus() == QProcess::NormalExit && vacuum.exitCode() == 0, vacuum.readAllStandardError().constData());
    QVERIFY2(readFailures.isEmpty(), qPrintable(readFailures.join(QLatin1Char('\n'))));
    qInfo("%d lines logged and %d reads while the vacuum ran", logged, reads);
    QCOMPARE(flushed.dropped, std::uint64_t(0));
    QCOMPARE(flushed.stored, std::uint64_t(logged));

    TestDatabase db(path);
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM SystemInfo WHERE message LIKE 'live %'")), QString::number(logged));
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM SystemInfo WHERE message LIKE '日志过多%' OR message LIKE '日志写入失败%'")),
             QStringLiteral("0"));
    const qint64 oldLeft = db.scalar(QStringLiteral("SELECT count(*) FROM SystemInfo WHERE message LIKE 'old %'")).toLongLong();
    QVERIFY(oldLeft < kOldRows);
    QCOMPARE(removalRecords(db).size(), 1);
    QVERIFY(removalRecords(db).first().startsWith(QStringLiteral("已清理 %1 条").arg(kOldRows - oldLeft)));
}

void tst_VxlogVacuum::diskUsage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("incremental");
    QTest::newRow("stats --disk-usage, new file") << QStringList{"stats", "--disk-usage"} << true;
    QTest::newRow("vxlog --disk-usage, old file with free pages") << QStringList{"--disk-usage"} << false;
}

void tst_VxlogVacuum::diskUsage()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, incremental);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    createLog(path, incremental);
    fillRows(path, 1000);
    QString freeBytes;
    {
        TestDatabase db(path);
        QVERIFY(db.exec(QStringLiteral("DELETE FROM SystemInfo WHERE id <= 500")));
        freeBytes = db.scalar(QStringLiteral("SELECT freelist_count * page_size FROM pragma_freelist_count, pragma_page_size"));
    }
    QVERIFY(incremental || freeBytes.toLongLong() > 0);
    QVERIFY(writeFile(path + QStringLiteral("-unwritten-1234"), QByteArray(100, 'x')));
    QVERIFY(writeFile(path + QStringLiteral("-index"), QByteArray(300, 'x')));
    const Result r = runVxlog(arguments, dir.path());
    QVERIFY2(!r.crashed && r.exitCode == 0, r.err.constData());
    const QString out = QString::fromUtf8(r.out);
    QVERIFY2(out.contains(QStringLiteral("%1 字节）").arg(fileSize(path))), r.out.constData());
    QVERIFY2(out.contains(QStringLiteral("其中空闲页 ")) && out.contains(QStringLiteral("%1 字节").arg(freeBytes)), r.out.constData());
    QVERIFY2(out.contains(QStringLiteral("另占 100 字节")), r.out.constData());
    QVERIFY2(out.contains(QStringLiteral("文本索引 dbLog.db-index 另占 300 字节")), r.out.constData());
    QCOMPARE(r.out.count('\n'), 1);
}

void tst_VxlogVacuum::usageAndFailures_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("no limit") << QStringList{"vacuum"} << 2;
    QTest::newRow("a time that is not a span") << QStringList{"vacuum", "--time", "2024-01-01"} << 2;
    QTest::newRow("an unknown unit") << QStringList{"vacuum", "--time", "3q"} << 2;
    QTest::newRow("a size without a number") << QStringList{"vacuum", "--size", "M"} << 2;
    QTest::newRow("a negative size") << QStringList{"vacuum", "--size", "-5M"} << 2;
    QTest::newRow("missing file") << QStringList{"vacuum", "--time", "1d", "--db", "missing.db"} << 1;
    QTest::newRow("not a database") << QStringList{"vacuum", "--time", "1d", "--db", "garbage.db"} << 1;
    QTest::newRow("disk usage of a missing file") << QStringList{"--disk-usage", "--db", "missing.db"} << 1;
    QTest::newRow("disk usage of a file that is not a database") << QStringList{"--disk-usage", "--db", "garbage.db"} << 1;
}

void tst_VxlogVacuum::usageAndFailures()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("garbage.db")), QByteArray(4096, 'g')));
    const QByteArray before = checksum(dir.filePath(QStringLiteral("garbage.db")));
    const Result r = runVxlog(arguments, dir.path());
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY(r.out.isEmpty());
    QVERIFY(!r.err.isEmpty());
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("missing.db"))));
    QCOMPARE(checksum(dir.filePath(QStringLiteral("garbage.db"))), before);
}

void tst_VxlogVacuum::recordSaysWhatWent_data()
{
    QTest::addColumn<QString>("attack");
    QTest::addColumn<int>("oldRows");
    // Four vacuums killed after seeded random delays, then one to its end.
    QTest::newRow("killed at random moments") << "kill" << kAttackRows;
    // Four writers storing lines as fast as they come: the vacuum gets its
    // turn and ends, and no writer drops a line.
    QTest::newRow("beside four flooding writers") << "writers" << kAttackRows;
    // Once rows went, another program keeps the lock: the vacuum stops with
    // status 1 and says what it did, which its record says too.
    QTest::newRow("another program takes the lock part way") << "lock" << 2 * kAttackRows;
}

// Whatever happens to a vacuum, the file says how many rows went and up to when.
void tst_VxlogVacuum::recordSaysWhatWent()
{
    QFETCH(QString, attack);
    QFETCH(int, oldRows);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    createLog(path, true);
    fillRows(path, oldRows, QStringLiteral("old"));
    const QStringList arguments{"vacuum", "--db", path, "--time", "30d"};

    if (attack == QLatin1String("kill")) {
        const quint32 seed = QRandomGenerator::global()->generate();
        qInfo("kill seed %u", seed);
        QRandomGenerator random(seed);
        for (int round = 0; round < 4; ++round) {
            QProcess vacuum;
            vacuum.start(vxtest::built(VXLOG_BINARY), arguments);
            QVERIFY(vacuum.waitForStarted(kRunTimeoutMs));
            const int delayMs = int(random.bounded(20, 1500));
            if (!vacuum.waitForFinished(delayMs)) {
                vacuum.kill();
                QVERIFY(vacuum.waitForFinished(kRunTimeoutMs));
            }
            const QString problem = recordProblem(path, oldRows);
            QVERIFY2(problem.isEmpty(), qPrintable(QStringLiteral("after %1 ms: %2").arg(delayMs).arg(problem)));
        }
    } else if (attack == QLatin1String("writers")) {
        std::vector<std::unique_ptr<QProcess>> writers;
        for (int w = 0; w < 4; ++w) {
            writers.push_back(std::make_unique<QProcess>());
            writers.back()->start(vxtest::built(VXLOG_BINARY), {"write", "--type", "2", "--db", path});
            QVERIFY(writers.back()->waitForStarted(kRunTimeoutMs));
        }
        QProcess vacuum;
        vacuum.start(vxtest::built(VXLOG_BINARY), arguments);
        QVERIFY(vacuum.waitForStarted(kRunTimeoutMs));
        qint64 fed = 0;
        const QDeadlineTimer deadline(5 * kRunTimeoutMs);
        while (!vacuum.waitForFinished(1) && !deadline.hasExpired() && fed < kFloodLines) {
            for (int w = 0; w < 4; ++w) {
                QByteArray lines;
                for (int k = 0; k < 200; ++k)
                    lines += "live w" + QByteArray::number(w) + " n" + QByteArray::number(fed + k) + '\n';
                writers[std::size_t(w)]->write(lines);
                writers[std::size_t(w)]->waitForBytesWritten(kRunTimeoutMs);
            }
            fed += 200;
        }
        QVERIFY(vacuum.waitForFinished(5 * kRunTimeoutMs));
        QVERIFY2(vacuum.exitStatus() == QProcess::NormalExit && vacuum.exitCode() == 0,
                 vacuum.readAllStandardError().constData());
        for (const std::unique_ptr<QProcess>& writer : writers) {
            writer->closeWriteChannel();
            QVERIFY(writer->waitForFinished(5 * kRunTimeoutMs));
            // Status 0: every line stored, none dropped, none pending.
            QVERIFY2(writer->exitStatus() == QProcess::NormalExit && writer->exitCode() == 0,
                     writer->readAllStandardError().constData());
        }
        qInfo("%lld lines from each writer while the vacuum ran", fed);
        QCOMPARE(TestDatabase(path).scalar(QStringLiteral("SELECT count(*) FROM SystemInfo WHERE message LIKE 'live w%'")),
                 QString::number(4 * fed));
        QCOMPARE(TestDatabase(path).scalar(QStringLiteral("SELECT count(*) FROM SystemInfo WHERE message LIKE 'old %'")),
                 QStringLiteral("0"));
    } else {
        QProcess vacuum;
        vacuum.start(vxtest::built(VXLOG_BINARY), arguments);
        QVERIFY(vacuum.waitForStarted(kRunTimeoutMs));
        TestDatabase locker(path);
        // Through the (type, datetime) index: a look that holds no lock for long.
        const QString recorded = QStringLiteral("SELECT count(*) FROM SystemInfo WHERE type = 4 AND message LIKE '已清理 %'");
        const QDeadlineTimer deadline(5 * kRunTimeoutMs);
        while (locker.scalar(recorded).toInt() == 0 && !deadline.hasExpired() && vacuum.state() != QProcess::NotRunning)
            QThread::msleep(1);
        QVERIFY(locker.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        QVERIFY(vacuum.waitForFinished(5 * kRunTimeoutMs));
        QVERIFY(locker.exec(QStringLiteral("COMMIT")));
        const QString err = QString::fromUtf8(vacuum.readAllStandardError());
        QVERIFY2(vacuum.exitStatus() == QProcess::NormalExit && vacuum.exitCode() == 1, qPrintable(err));
        QVERIFY2(err.contains(SystemLog::failureKindText(SystemLog::FailureKind::Locked)), qPrintable(err));
        QVERIFY2(err.contains(QStringLiteral("并已在日志中写入记录")), qPrintable(err));
        QVERIFY2(vacuum.readAllStandardOutput().isEmpty(), "a stopped vacuum printed a result");
    }
    const QString problem = recordProblem(path, oldRows);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    if (attack == QLatin1String("kill")) {
        // The next vacuum finishes what the killed ones left.
        const Result r = runVxlog(arguments, dir.path());
        QVERIFY2(!r.crashed && r.exitCode == 0, r.err.constData());
        const QString afterAll = recordProblem(path, oldRows);
        QVERIFY2(afterAll.isEmpty(), qPrintable(afterAll));
        QCOMPARE(TestDatabase(path).scalar(QStringLiteral("SELECT count(*) FROM SystemInfo WHERE message LIKE 'old %'")),
                 QStringLiteral("0"));
    }
    QVERIFY(!QFileInfo::exists(path + QStringLiteral("-vacuum-turn")));
}

void tst_VxlogVacuum::timeZonesKeepFreshRecords_data()
{
    QTest::addColumn<QByteArray>("writerZone");
    QTest::addColumn<QByteArray>("vacuumZone");
    QTest::addColumn<int>("ageMinutes");  // of the 300 lines when vxlog vacuum --time 1h runs
    QTest::addColumn<int>("removed");
    QTest::newRow("writer in UTC, vacuum in UTC+8, fresh lines") << QByteArray("UTC0") << QByteArray("CST-8") << 0 << 0;
    QTest::newRow("writer in UTC+8, vacuum in UTC, fresh lines") << QByteArray("CST-8") << QByteArray("UTC0") << 0 << 0;
    QTest::newRow("writer in UTC-5, vacuum in UTC+14, fresh lines") << QByteArray("EST5") << QByteArray("LINT-14") << 0 << 0;
    // Lines older than the bound go, whichever zone each side is in.
    QTest::newRow("writer in UTC, vacuum in UTC+8, old lines") << QByteArray("UTC0") << QByteArray("CST-8") << 90 << 300;
    QTest::newRow("writer in UTC+8, vacuum in UTC, old lines") << QByteArray("CST-8") << QByteArray("UTC0") << 90 << 300;
    QTest::newRow("both in UTC+8, old lines") << QByteArray("CST-8") << QByteArray("CST-8") << 90 << 300;
}

// Stamps are local time text: a vacuum in another zone than the writer's
// never takes fresh records for old ones, nor old ones for fresh (the file
// records the zones its stamps were written in).
void tst_VxlogVacuum::timeZonesKeepFreshRecords()
{
    QFETCH(QByteArray, writerZone);
    QFETCH(QByteArray, vacuumZone);
    QFETCH(int, ageMinutes);
    QFETCH(int, removed);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    QByteArray lines;
    for (int k = 0; k < 300; ++k)
        lines += "fresh n" + QByteArray::number(k) + '\n';
    const Result written = runVxlogInZone(writerZone, {"write", "--type", "2", "--db", path}, dir.path(), lines);
    QVERIFY2(!written.crashed && written.exitCode == 0, written.err.constData());
    if (ageMinutes > 0)  // as if logged that long ago, in the writer's zone
        QVERIFY(TestDatabase(path).exec(
            QStringLiteral("UPDATE SystemInfo SET datetime = datetime(datetime, '-%1 minutes')").arg(ageMinutes)));
    const Result r = runVxlogInZone(vacuumZone, {"vacuum", "--db", path, "--time", "1h"}, dir.path());
    QVERIFY2(!r.crashed && r.exitCode == 0, r.err.constData());
    TestDatabase db(path);
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM SystemInfo WHERE message LIKE 'fresh n%'")),
             QString::number(300 - removed));
    QCOMPARE(removalRecords(db).size(), removed > 0 ? 1 : 0);
}

QTEST_MAIN(tst_VxlogVacuum)
#include "tst_vxlog_vacuum.moc"
