// vxlog follow run as a process beside writers: it prints the last records,
// then every row stored afterwards (by another process or another
// connection, stamps out of order included) exactly once in arrival order,
// and ends with status 0 on SIGINT or SIGTERM. query run beside a writer
// misses no row. Both on a rollback-journal database and on a WAL one.
// follow outlasts what happens to a log file (a long lock, a file renamed
// over it, deleted and made again, cut to nothing, its ids reset) with one
// notice each and every later row once. The tail under follow, driven
// directly as a forwarder drives it, keeps and hands back its place.
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdio>

#include <vxSyslog/LogTail.h>

#include "BuiltPath.h"
#include "VxlogTestSupport.h"

using namespace VxlogTest;

namespace {

const int kAppearTimeoutMs = 20000; // a bound for a stuck follow, not a speed check

// A follow process whose standard output is collected as it comes.
class Follower
{
public:
    Follower(const QStringList& arguments, const QString& workingDir, const QStringList& command = {"follow"})
    {
        m_process.setWorkingDirectory(workingDir);
        m_process.start(vxtest::built(VXLOG_BINARY), command + QStringList{"-o", "json"} + arguments);
    }
    ~Follower()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    bool started() { return m_process.waitForStarted(kRunTimeoutMs); }

    // Waits until `count` JSON lines have arrived; returns the messages so far.
    QStringList waitForLines(int count)
    {
        QElapsedTimer timer;
        timer.start();
        while (m_messages.size() < count && timer.elapsed() < kAppearTimeoutMs) {
            m_process.waitForReadyRead(100);
            takeLines();
        }
        return m_messages;
    }

    QList<qint64> ids() const { return m_ids; }
    QStringList messages() const { return m_messages; }

    // The notices on standard error so far, one a line.
    QStringList notices()
    {
        m_notices += QString::fromUtf8(m_process.readAllStandardError());
        return m_notices.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    bool endWith(int signal, int& exitCode)
    {
        ::kill(static_cast<pid_t>(m_process.processId()), signal);
        if (!m_process.waitForFinished(kRunTimeoutMs))
            return false;
        takeLines();
        exitCode = m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
        return true;
    }

private:
    void takeLines()
    {
        m_pending += m_process.readAllStandardOutput();
        int end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            const QJsonObject object = QJsonDocument::fromJson(m_pending.left(end)).object();
            m_messages << object.value(QStringLiteral("message")).toString();
            m_ids << static_cast<qint64>(object.value(QStringLiteral("id")).toDouble());
            m_pending.remove(0, end + 1);
        }
    }

    QProcess m_process;
    QString m_notices;
    QByteArray m_pending;
    QStringList m_messages;
    QList<qint64> m_ids;
};

void makeDatabase(const QString& path, const QString& journalMode, int rows = 3)
{
    TestDatabase db(path);
    db.exec(QStringLiteral("PRAGMA journal_mode=%1").arg(journalMode));
    createLogTable(db);
    for (int i = 1; i <= rows; ++i)
        db.insertRow(QStringLiteral("2024-05-01 08:00:0%1").arg(i), 2, QStringLiteral("old %1").arg(i));
}

bool insert(const QString& path, const QString& message)
{
    return TestDatabase(path).insertRow(QStringLiteral("2024-05-01 09:00:00"), 2, message);
}

} // namespace

class tst_VxlogFollow : public QObject
{
    Q_OBJECT

private slots:
    void followsRowsOfOtherWriters_data();
    void followsRowsOfOtherWriters();
    void resumesAfterItsCursor_data();
    void resumesAfterItsCursor();
    void startsAfterTheIdItIsGiven_data();
    void startsAfterTheIdItIsGiven();
    void outlastsWhatHappensToTheFile_data();
    void outlastsWhatHappensToTheFile();
    void tailKeepsItsPlace_data();
    void tailKeepsItsPlace();
    void goesOnInTheFileThatWasListed_data();
    void goesOnInTheFileThatWasListed();
    void missesNoRowOfABusyWriter_data();
    void missesNoRowOfABusyWriter();
    void leavesTheFileAlone_data();
    void leavesTheFileAlone();
};

void tst_VxlogFollow::followsRowsOfOtherWriters_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("journalMode");
    QTest::addColumn<int>("signal");
    QTest::newRow("rollback journal, SIGINT") << QStringList{"follow"} << QStringLiteral("DELETE") << int(SIGINT);
    QTest::newRow("WAL, SIGTERM") << QStringList{"follow"} << QStringLiteral("WAL") << int(SIGTERM);
    QTest::newRow("query -f") << QStringList{"query", "-f"} << QStringLiteral("DELETE") << int(SIGINT);
}

void tst_VxlogFollow::followsRowsOfOtherWriters()
{
    QFETCH(QStringList, command);
    QFETCH(QString, journalMode);
    QFETCH(int, signal);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    makeDatabase(path, journalMode);

    Follower follow({"-n", "2", "--type", "2,4"}, dir.path(), command);
    QVERIFY(follow.started());
    QCOMPARE(follow.waitForLines(2), QStringList({"old 2", "old 3"}));

    // Another process, through the log service.
    const Result written = runVxlog({"write", "--type", "4", "from another process"}, dir.path());
    QCOMPARE(written.exitCode, 0);
    QCOMPARE(follow.waitForLines(3).value(2), QStringLiteral("from another process\n"));

    // Another connection: a stamp older than everything (the clock set back),
    // and a type the filter leaves out.
    {
        TestDatabase db(path);
        QVERIFY(db.insertRow(QStringLiteral("2020-01-01 00:00:00"), 0, QStringLiteral("filtered out")));
        QVERIFY(db.insertRow(QStringLiteral("2020-01-01 00:00:00"), 2, QStringLiteral("clock set back")));
    }
    QCOMPARE(follow.waitForLines(4).value(3), QStringLiteral("clock set back"));

    int exitCode = -1;
    QVERIFY(follow.endWith(signal, exitCode));
    QCOMPARE(exitCode, 0);
    QCOMPARE(follow.ids(), QList<qint64>({2, 3, 4, 6}));
}

// follow --cursor-file: the file's id decides where the first run starts
// (the last N without one), the last id written out is left in it, and the
// next run goes on right after it: no row lost, none twice.
void tst_VxlogFollow::resumesAfterItsCursor_data()
{
    QTest::addColumn<QByteArray>("cursor");  // empty: no cursor file
    QTest::addColumn<QString>("lines");
    QTest::addColumn<QList<qint64>>("firstRun");
    QTest::newRow("no cursor file: the last one") << QByteArray() << QStringLiteral("1") << QList<qint64>{3, 4};
    QTest::newRow("no cursor file, -n all: from the first") << QByteArray() << QStringLiteral("all") << QList<qint64>{1, 2, 3, 4};
    QTest::newRow("after record 1") << QByteArray("1\n") << QStringLiteral("1") << QList<qint64>{2, 3, 4};
    QTest::newRow("after record 1, whatever -n says") << QByteArray("1\n") << QStringLiteral("all") << QList<qint64>{2, 3, 4};
    QTest::newRow("past the newest: ids went back") << QByteArray("9\n") << QStringLiteral("1") << QList<qint64>{1, 2, 3, 4};
}

void tst_VxlogFollow::resumesAfterItsCursor()
{
    QFETCH(QByteArray, cursor);
    QFETCH(QString, lines);
    QFETCH(QList<qint64>, firstRun);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    const QString cursorPath = dir.filePath(QStringLiteral("cursor"));
    makeDatabase(path, QStringLiteral("DELETE"));
    if (!cursor.isEmpty())
        QVERIFY(writeFile(cursorPath, cursor));
    const QStringList arguments{"-n", lines, "--cursor-file", cursorPath};
    int exitCode = -1;
    {
        Follower follow(arguments, dir.path());
        QVERIFY(follow.started());
        follow.waitForLines(firstRun.size() - 1);
        QVERIFY(insert(path, QStringLiteral("while the first ran")));
        follow.waitForLines(firstRun.size());
        QVERIFY(follow.endWith(SIGTERM, exitCode));
        QCOMPARE(exitCode, 0);
        QCOMPARE(follow.ids(), firstRun);
    }
    QCOMPARE(readFile(cursorPath), QByteArray("4\n"));

    QVERIFY(insert(path, QStringLiteral("between the runs")));
    Follower next(arguments, dir.path());
    QVERIFY(next.started());
    QCOMPARE(next.waitForLines(1), QStringList{"between the runs"});
    QVERIFY(next.endWith(SIGTERM, exitCode));
    QCOMPARE(next.ids(), QList<qint64>{5});
    QCOMPARE(readFile(cursorPath), QByteArray("5\n"));
}

void tst_VxlogFollow::startsAfterTheIdItIsGiven_data()
{
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QList<qint64>>("ids");  // with a record written while it runs (id 4)
    QTest::newRow("after record 1") << QStringList{"follow"} << QStringList{"--after-id", "1"} << QList<qint64>{2, 3, 4};
    QTest::newRow("after record 0: all, -n not looked at") << QStringList{"follow"} << QStringList{"--after-id", "0", "-n", "1"}
                                                           << QList<qint64>{1, 2, 3, 4};
    QTest::newRow("past the newest") << QStringList{"follow"} << QStringList{"--after-id", "3"} << QList<qint64>{4};
    QTest::newRow("query -f") << QStringList{"query", "-f"} << QStringList{"--after-id", "2"} << QList<qint64>{3, 4};
}

void tst_VxlogFollow::startsAfterTheIdItIsGiven()
{
    QFETCH(QStringList, command);
    QFETCH(QStringList, arguments);
    QFETCH(QList<qint64>, ids);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    makeDatabase(path, QStringLiteral("DELETE"));
    Follower follow(arguments, dir.path(), command);
    QVERIFY(follow.started());
    follow.waitForLines(ids.size() - 1);
    QVERIFY(insert(path, QStringLiteral("while it ran")));
    follow.waitForLines(ids.size());
    int exitCode = -1;
    QVERIFY(follow.endWith(SIGTERM, exitCode));
    QCOMPARE(exitCode, 0);
    QCOMPARE(follow.ids(), ids);
}

void tst_VxlogFollow::outlastsWhatHappensToTheFile_data()
{
    QTest::addColumn<QString>("event");
    QTest::addColumn<int>("rowsAtStart");
    QTest::addColumn<QStringList>("printed");
    QTest::addColumn<int>("notices");
    // Follow has started once the last old row is out.
    const QStringList startsOver{"old 3", "before", "new 1", "after"};
    // Longer than a reader's wait for a lock: follow says so once and waits on.
    QTest::newRow("a lock held long") << QStringLiteral("lock") << 3
                                      << QStringList{"old 3", "before", "during the lock", "after"} << 1;
    QTest::newRow("another file renamed over it") << QStringLiteral("rename") << 3 << startsOver << 1;
    QTest::newRow("deleted and made again") << QStringLiteral("delete") << 3 << startsOver << 1;
    QTest::newRow("cut to nothing") << QStringLiteral("truncate") << 3 << startsOver << 1;
    QTest::newRow("emptied, ids reset") << QStringLiteral("reset") << 3 << startsOver << 1;
    QTest::newRow("empty at the start") << QString() << 0 << QStringList{"before", "after"} << 0;
}

void tst_VxlogFollow::outlastsWhatHappensToTheFile()
{
    QFETCH(QString, event);
    QFETCH(int, rowsAtStart);
    QFETCH(QStringList, printed);
    QFETCH(int, notices);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    makeDatabase(path, QStringLiteral("DELETE"), rowsAtStart);
    // On an empty table a row stored at once may come before or after the
    // history is read: it is printed once either way.
    Follower follow({"-n", rowsAtStart > 0 ? "1" : "10"}, dir.path());
    QVERIFY(follow.started());
    if (rowsAtStart > 0)
        QCOMPARE(follow.waitForLines(1), QStringList{"old 3"});
    QVERIFY(insert(path, QStringLiteral("before")));
    const int before = printed.indexOf(QStringLiteral("before"));
    QCOMPARE(follow.waitForLines(before + 1).value(before), QStringLiteral("before"));

    const QString other = dir.filePath(QStringLiteral("other.db"));
    if (event == QLatin1String("lock")) {
        TestDatabase locker(path);
        QVERIFY(locker.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        QVERIFY(locker.insertRow(QStringLiteral("2024-05-01 09:00:00"), 2, QStringLiteral("during the lock")));
        QTRY_COMPARE_WITH_TIMEOUT(follow.notices().size(), 1, kAppearTimeoutMs);
        QVERIFY(locker.exec(QStringLiteral("COMMIT")));
    } else if (event == QLatin1String("rename")) {
        makeDatabase(other, QStringLiteral("DELETE"), 0);
        QVERIFY(insert(other, QStringLiteral("new 1")));
        QCOMPARE(std::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()), 0);
    } else if (event == QLatin1String("delete")) {
        QVERIFY(QFile::remove(path));
        makeDatabase(path, QStringLiteral("DELETE"), 0);
        QVERIFY(insert(path, QStringLiteral("new 1")));
    } else if (event == QLatin1String("truncate")) {
        QVERIFY(QFile::resize(path, 0));
        makeDatabase(path, QStringLiteral("DELETE"), 0);
        QVERIFY(insert(path, QStringLiteral("new 1")));
    } else if (event == QLatin1String("reset")) {
        TestDatabase db(path);
        QVERIFY(db.exec(QStringLiteral("DELETE FROM SystemInfo")));
        QVERIFY(db.exec(QStringLiteral("DELETE FROM sqlite_sequence")));
        QVERIFY(db.insertRow(QStringLiteral("2024-05-01 09:00:00"), 2, QStringLiteral("new 1")));
    }
    QVERIFY(insert(path, QStringLiteral("after")));

    QCOMPARE(follow.waitForLines(printed.size()), printed);
    int exitCode = -1;
    QVERIFY(follow.endWith(SIGINT, exitCode));
    QCOMPARE(exitCode, 0);
    QCOMPARE(follow.messages(), printed);
    QCOMPARE(follow.notices().size(), notices);
}

using Ids = QList<qint64>;

void tst_VxlogFollow::tailKeepsItsPlace_data()
{
    QTest::addColumn<QString>("seek");       // "after N", "end" or "last N"
    QTest::addColumn<bool>("typeThreeOnly");
    QTest::addColumn<int>("batch");
    QTest::addColumn<bool>("sinkStops");     // the sink takes one record a fetch
    QTest::addColumn<Ids>("first");
    QTest::addColumn<qint64>("firstPosition");
    QTest::addColumn<qint64>("rewindTo");    // -1: none
    QTest::addColumn<Ids>("second");         // after row 6 (type 2) was stored
    QTest::addColumn<qint64>("secondPosition");
    // Rows 1 to 5 alternate types 2 and 3.
    QTest::newRow("after 2, two at a time") << "after 2" << false << 2 << false << Ids{3, 4} << 4LL << -1LL << Ids{5, 6} << 6LL;
    QTest::newRow("from the end") << "end" << false << 10 << false << Ids{} << 5LL << -1LL << Ids{6} << 6LL;
    QTest::newRow("the last 2 of type 3") << "last 2" << true << 10 << false << Ids{2, 4} << 5LL << -1LL << Ids{} << 6LL;
    QTest::newRow("the last 10 of 5") << "last 10" << false << 10 << false << Ids{1, 2, 3, 4, 5} << 5LL << -1LL << Ids{6} << 6LL;
    QTest::newRow("a sink that stops") << "after 0" << false << 10 << true << Ids{1} << 1LL << -1LL << Ids{2} << 2LL;
    QTest::newRow("rewound after a fetch") << "after 0" << false << 10 << false << Ids{1, 2, 3, 4, 5} << 5LL << 3LL
                                           << Ids{4, 5, 6} << 6LL;
    QTest::newRow("past the newest: ids went back") << "after 9" << false << 10 << false << Ids{1, 2, 3, 4, 5} << 5LL
                                                    << -1LL << Ids{6} << 6LL;
}

void tst_VxlogFollow::tailKeepsItsPlace()
{
    QFETCH(QString, seek);
    QFETCH(bool, typeThreeOnly);
    QFETCH(int, batch);
    QFETCH(bool, sinkStops);
    QFETCH(Ids, first);
    QFETCH(qint64, firstPosition);
    QFETCH(qint64, rewindTo);
    QFETCH(Ids, second);
    QFETCH(qint64, secondPosition);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    {
        TestDatabase db(path);
        createLogTable(db);
        for (int i = 1; i <= 5; ++i)
            QVERIFY(db.insertRow(QStringLiteral("2024-05-01 08:00:00"), i % 2 == 0 ? 3 : 2, QStringLiteral("r%1").arg(i)));
    }
    SystemLog::LogQuery filter;
    if (typeThreeOnly)
        filter.types = {3};
    QStringList notices;
    SystemLog::LogTail tail(path, filter, [&notices](const QString& notice) { notices << notice; });
    QVERIFY(tail.open());
    const QStringList words = seek.split(QLatin1Char(' '));
    if (words.first() == QLatin1String("after"))
        tail.seekAfter(words.last().toLongLong());
    else if (words.first() == QLatin1String("end"))
        tail.seekToEnd();
    else
        tail.seekToLast(words.last().toInt());
    QCOMPARE(tail.position() == -1, words.first() != QLatin1String("after"));

    auto fetch = [&] {
        Ids ids;
        tail.fetch(batch, [&](const SystemLog::LogRecord& record) {
            ids << record.id;
            return !sinkStops;
        });
        return ids;
    };
    QCOMPARE(fetch(), first);
    QCOMPARE(tail.position(), firstPosition);
    QVERIFY(insert(path, QStringLiteral("r6")));
    if (rewindTo >= 0)
        tail.seekAfter(rewindTo);
    QCOMPARE(fetch(), second);
    QCOMPARE(tail.position(), secondPosition);
    // Only a position past the newest row is news.
    QCOMPARE(notices.size(), seek == QLatin1String("after 9") ? 1 : 0);
}

void tst_VxlogFollow::goesOnInTheFileThatWasListed_data()
{
    QTest::addColumn<bool>("replaced"); // another file renamed over it after the listing, before the tail
    QTest::addColumn<QStringList>("fetched");
    QTest::addColumn<int>("restarts");
    QTest::newRow("the listed file grew") << false << QStringList{"later"} << 0;
    QTest::newRow("another put in its place meanwhile") << true << QStringList{"new 1", "new 2"} << 1;
}

// A tail that goes on after a listing's newest id: the id belongs to the
// file the listing read, whatever is at the path when the tail starts.
void tst_VxlogFollow::goesOnInTheFileThatWasListed()
{
    QFETCH(bool, replaced);
    QFETCH(QStringList, fetched);
    QFETCH(int, restarts);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    const QString other = dir.filePath(QStringLiteral("other.db"));
    for (const QString& file : {path, other}) {
        TestDatabase db(file);
        createLogTable(db);
    }
    QVERIFY(insert(path, QStringLiteral("listed 1")) && insert(path, QStringLiteral("listed 2")));
    QVERIFY(insert(other, QStringLiteral("new 1")) && insert(other, QStringLiteral("new 2")));

    SystemLog::LogReader listing(path);
    QVERIFY(listing.open());
    qint64 newest = 0;
    QVERIFY(listing.lastId(newest));
    if (replaced)
        QCOMPARE(std::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()), 0);
    else
        QVERIFY(insert(path, QStringLiteral("later")));

    SystemLog::LogTail tail(path, SystemLog::LogQuery(), {});
    tail.seekAfter(newest, listing);
    QStringList messages;
    tail.fetch(10, [&messages](const SystemLog::LogRecord& record) {
        messages << QString::fromUtf8(record.message);
        return true;
    });
    QCOMPARE(messages, fetched);
    QCOMPARE(tail.restartCount(), restarts);
}

void tst_VxlogFollow::missesNoRowOfABusyWriter_data()
{
    QTest::addColumn<QString>("journalMode");
    QTest::newRow("rollback journal") << QStringLiteral("DELETE");
    QTest::newRow("WAL") << QStringLiteral("WAL");
}

void tst_VxlogFollow::missesNoRowOfABusyWriter()
{
    QFETCH(QString, journalMode);
    const int rows = 200;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    makeDatabase(path, journalMode);

    // Started with the last row, so that the writer starts only once follow
    // has found the end: on a loaded machine follow may otherwise find it
    // only after the writer is done, and rightly print nothing.
    Follower follow({"-n", "1"}, dir.path());
    QVERIFY(follow.started());
    QCOMPARE(follow.waitForLines(1), QStringList{"old 3"});

    // The writer commits row by row, stamps running backwards, while follow
    // polls and query reads.
    QProcess writer;
    writer.start(QStringLiteral("sqlite3"), {path});
    QVERIFY(writer.waitForStarted());
    writer.write("PRAGMA busy_timeout=10000; PRAGMA synchronous=OFF;\n");
    for (int i = 0; i < rows; ++i)
        writer.write(QStringLiteral("INSERT INTO SystemInfo(datetime, type, message) VALUES('2024-06-01 10:%1:%2', 3, 'row %3');\n")
                         .arg(59 - i / 60, 2, 10, QLatin1Char('0')).arg(59 - i % 60, 2, 10, QLatin1Char('0')).arg(i)
                         .toUtf8());
    int queriesDuringWrites = 0;
    while (writer.state() == QProcess::Running && queriesDuringWrites < 5) {
        const Result r = runVxlog({"query", "--count", "--type", "3"}, dir.path());
        QVERIFY2(r.exitCode == 0, r.err.constData());
        ++queriesDuringWrites;
    }
    writer.closeWriteChannel();
    QVERIFY(writer.waitForFinished(kRunTimeoutMs));
    QCOMPARE(writer.exitCode(), 0);

    const QStringList seen = follow.waitForLines(1 + rows).mid(1);
    QCOMPARE(seen.size(), rows);
    for (int i = 0; i < rows; ++i)
        QCOMPARE(seen.at(i), QStringLiteral("row %1").arg(i));

    // query: every row once, in time order (the reverse of arrival here).
    const Result all = runVxlog({"query", "--type", "3", "-o", "json"}, dir.path());
    QCOMPARE(all.exitCode, 0);
    QList<QByteArray> lines = all.out.split('\n');
    lines.removeLast();
    QCOMPARE(lines.size(), rows);
    for (int i = 0; i < rows; ++i)
        QCOMPARE(QJsonDocument::fromJson(lines.at(i)).object().value(QStringLiteral("message")).toString(),
                 QStringLiteral("row %1").arg(rows - 1 - i));

    int exitCode = -1;
    QVERIFY(follow.endWith(SIGINT, exitCode));
    QCOMPARE(exitCode, 0);
}

void tst_VxlogFollow::leavesTheFileAlone_data()
{
    missesNoRowOfABusyWriter_data();
}

void tst_VxlogFollow::leavesTheFileAlone()
{
    QFETCH(QString, journalMode);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    {
        TestDatabase db(path);
        db.exec(QStringLiteral("PRAGMA journal_mode=%1").arg(journalMode));
        // No index: a reader must not add the writer's.
        createLogTable(db, false);
        QVERIFY(db.insertRow(QStringLiteral("2024-05-01 08:00:00"), 3, QStringLiteral("x")));
    }
    const QByteArray before = checksum(path);
    Follower follow({}, dir.path());
    QVERIFY(follow.started());
    QCOMPARE(follow.waitForLines(1), QStringList{"x"});
    int exitCode = -1;
    QVERIFY(follow.endWith(SIGINT, exitCode));
    QCOMPARE(exitCode, 0);
    QCOMPARE(checksum(path), before);
    TestDatabase db(path);
    QCOMPARE(db.scalar(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL")),
             QStringLiteral("0"));
}

QTEST_MAIN(tst_VxlogFollow)
#include "tst_vxlog_follow.moc"
