#include <QtTest>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include <unistd.h>

#include "BuiltPath.h"
#include "DropRecords.h"
#include "store/QDBSqlite.h"
#include "TestDatabase.h"
#include "write/SideFileFormat.h"

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
    void sideFilesNeverStopAWriter_data();
    void sideFilesNeverStopAWriter();
    void killDuringTakeInStoresEachLineOnce();
    void forkedChildLogsAndEnds_data();
    void forkedChildLogsAndEnds();
    void endUnderFloodIsBounded_data();
    void endUnderFloodIsBounded();
    void flushWithTimeoutReturnsUnderAHeldLock();
    void linesSetAsideUnderAHeldLockKeepTheirTime();
    void serviceAfterItsEndOpensNoFile();
    void lastResortSaysHowManyWereLost();
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

// Only catches an end that hangs (the writer's bound is the lock deadline
// and about a second; bench/ measures it). Sanitizer builds run 32 flooding
// threads several times slower on a machine that others share.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr qint64 kEndHangMs = 60000;
#else
constexpr qint64 kEndHangMs = 15000;
#endif

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run runHelper(const QString& folder, const QString& mode, int lines, const QString& timeZone = QString())
{
    QProcess helper;
    helper.setWorkingDirectory(folder);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!timeZone.isEmpty())
        environment.insert(QStringLiteral("TZ"), timeZone);
    // LeakSanitizer cannot judge a forked child of a process with threads:
    // the parent's threads, whose stacks hold pointers, do not exist there.
    if (mode.startsWith(QLatin1String("fork-")) && environment.contains(QStringLiteral("ASAN_OPTIONS")))
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
                           environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
    helper.setProcessEnvironment(environment);
    helper.start(vxtest::built(LOGFAULT_HELPER), {mode, QString::number(lines)});
    helper.closeWriteChannel();
    Run run;
    if (helper.waitForFinished(kProcessTimeoutMs) && helper.exitStatus() == QProcess::NormalExit)
        run.exitCode = helper.exitCode();
    run.out = helper.readAllStandardOutput();
    run.err = helper.readAllStandardError();
    return run;
}

// The numbers of the rows "<tag> n<k>" of type 2 and what the drop records
// count; a number stored twice is a failure of its own.
struct Numbered
{
    std::set<qint64> stored;
    std::uint64_t dropped = 0;
    QString twice;
    int otherRows = 0;
};

Numbered numberedRows(const QString& path)
{
    const QRegularExpression line(QStringLiteral("^fault n(\\d+)x*\\n$"));
    Numbered found;
    for (const StoredRow& row : TestDatabase(path).rows()) {
        if (row.type == 4) {
            found.dropped += droppedIn(row.message);
            continue;
        }
        const QRegularExpressionMatch match = line.match(row.message);
        if (!match.hasMatch()) {
            ++found.otherRows;
            continue;
        }
        if (!found.stored.insert(match.captured(1).toLongLong()).second && found.twice.isEmpty())
            found.twice = row.message;
    }
    return found;
}

QStringList sideFiles(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("*-unwritten-*")}, QDir::Files);
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A side file as a writer leaves it: lines "fault n<first>" ... of type 2.
QByteArray sideFileOf(int first, int count)
{
    std::list<SystemLog::tag_MsgItem> rows;
    for (int k = first; k < first + count; ++k)
        rows.emplace_back(QStringLiteral("fault n%1\n").arg(k), 2);
    return SystemLog::SideFileReader::encode(rows);
}

// Reads the process's current channel into `text` until it holds `token`,
// the process ends or `timeoutMs` pass.
bool readUntil(QProcess& process, QByteArray& text, const char* token, qint64 timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!text.contains(token) && !deadline.hasExpired() && process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(100);
        text += process.readAll();
    }
    text += process.readAll();
    return text.contains(token);
}

// Another program's write transaction on the log, held until releaseLock().
std::unique_ptr<TestDatabase> holdLock(const QString& path)
{
    auto locker = std::make_unique<TestDatabase>(path);
    if (!locker->exec(QString::fromLatin1(SystemLog::QDBSqlite::kCreateTableSql)) || !locker->exec(QStringLiteral("BEGIN EXCLUSIVE")))
        return nullptr;
    return locker;
}

bool releaseLock(std::unique_ptr<TestDatabase>& locker)
{
    const bool committed = locker->exec(QStringLiteral("COMMIT"));
    locker.reset();
    return committed;
}

constexpr int kFloodThreads = 32;

// "flood t<t> n<k>\n" as the flooding helper logs it, in [p, end). Parsed
// in place: standard output holds millions of these.
bool floodLine(const char* p, const char* end, int& thread, qint64& k)
{
    if (end - p < 11 || std::memcmp(p, "flood t", 7) != 0 || end[-1] != '\n')
        return false;
    const std::from_chars_result t = std::from_chars(p + 7, end, thread);
    if (t.ec != std::errc() || end - t.ptr < 4 || std::memcmp(t.ptr, " n", 2) != 0)
        return false;
    const std::from_chars_result n = std::from_chars(t.ptr + 2, end, k);
    return n.ec == std::errc() && n.ptr == end - 1 && thread >= 0 && thread < kFloodThreads && k >= 0;
}

// Per flooding thread: the lines it finished (its "logged <t> <k>") and those
// that went to standard output once the service had ended. Those must be its
// last ones, n<first> ... n<logged - 1>: the lines before went to the service.
struct FloodThreads
{
    std::vector<qint64> logged = std::vector<qint64>(kFloodThreads, -1);
    std::vector<qint64> firstOut = std::vector<qint64>(kFloodThreads, -1);
    std::vector<qint64> lastOut = std::vector<qint64>(kFloodThreads, -1);
    QString wrong;  // a line or a count that does not fit the above

    qint64 toService(int t) const { return firstOut[t] < 0 ? logged[t] : firstOut[t]; }
};

// `loggedTold`: the helper says what each thread finished; otherwise the
// threads were still logging when the process exited under them, and their
// last lines on standard output are simply the last that got there.
FloodThreads floodThreads(const QByteArray& err, const QString& stdoutPath, bool loggedTold)
{
    FloodThreads found;
    static const QRegularExpression logged(QStringLiteral("^logged (\\d+) (\\d+)$"), QRegularExpression::MultilineOption);
    for (auto m = logged.globalMatch(QString::fromUtf8(err)); m.hasNext();) {
        const QRegularExpressionMatch match = m.next();
        found.logged[std::size_t(match.captured(1).toInt() % kFloodThreads)] = match.captured(2).toLongLong();
    }
    QFile file(stdoutPath);
    if (!file.open(QIODevice::ReadOnly))
        found.wrong = QStringLiteral("no standard output");
    const QByteArray out = file.readAll();
    for (const char* line = out.constData(); found.wrong.isEmpty() && line < out.constData() + out.size();) {
        const char* const next = static_cast<const char*>(std::memchr(line, '\n', std::size_t(out.constData() + out.size() - line)));
        const char* const end = next ? next + 1 : out.constData() + out.size();
        int t = 0;
        qint64 k = 0;
        if (!floodLine(line, end, t, k) || (found.lastOut[t] >= 0 && k != found.lastOut[t] + 1)) {
            found.wrong = QStringLiteral("on standard output: ") + QString::fromUtf8(line, int(end - line));
            break;
        }
        line = end;
        if (found.firstOut[t] < 0)
            found.firstOut[t] = k;
        found.lastOut[t] = k;
    }
    for (int t = 0; t < kFloodThreads && found.wrong.isEmpty(); ++t) {
        if (!loggedTold) {
            if (found.firstOut[t] < 0)
                found.wrong = QStringLiteral("thread %1 wrote nothing to standard output after the end").arg(t);
            found.logged[t] = found.lastOut[t] + 1;
        } else if (found.logged[t] < 0 || (found.lastOut[t] >= 0 && found.lastOut[t] != found.logged[t] - 1)) {
            found.wrong = QStringLiteral("thread %1 logged %2, the last on standard output n%3")
                              .arg(t).arg(found.logged[t]).arg(found.lastOut[t]);
        }
    }
    return found;
}

// The flood lines in side files, before anyone takes them in.
qint64 floodLinesSetAside(const QString& folder, QString& wrong)
{
    qint64 lines = 0;
    for (const QString& name : sideFiles(folder)) {
        SystemLog::SideFileReader reader;
        reader.open(QDir(folder).filePath(name).toStdString());
        SystemLog::tag_MsgItem row;
        SystemLog::SideFileReader::Step step;
        while ((step = reader.next(row)) == SystemLog::SideFileReader::Step::Row)
            lines += row.type == 2 ? 1 : 0;
        if (step != SystemLog::SideFileReader::Step::End)  // also one that did not open
            wrong = name;
    }
    return lines;
}

// What the files hold of the flood: its rows (thread and number, sorted) and
// the lines their drop records count; anything else is `wrong`.
struct FloodRows
{
    std::vector<std::pair<int, qint64>> stored;
    std::uint64_t dropped = 0;
    QString wrong;
};

void readFloodRows(const QString& path, FloodRows& rows)
{
    TestDatabase file(path);
    QSqlQuery query(file.db());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT type, message FROM SystemInfo")))
        rows.wrong = path + QStringLiteral(": ") + query.lastError().text();
    while (query.next()) {
        const QString message = query.value(1).toString();
        const QByteArray text = message.toUtf8();
        int t = 0;
        qint64 k = 0;
        if (query.value(0).toInt() == 4 && droppedIn(message) > 0)
            rows.dropped += droppedIn(message);
        else if (floodLine(text.constData(), text.constData() + text.size(), t, k))
            rows.stored.emplace_back(t, k);
        else
            rows.wrong = message;
    }
}

// The numbers a FlushResult line of the helper holds, in its order.
QVector<qint64> numbersIn(const QByteArray& text, const QByteArray& prefix)
{
    QVector<qint64> numbers;
    const int at = text.indexOf(prefix);
    if (at < 0)
        return numbers;
    static const QRegularExpression number(QStringLiteral("\\d+"));
    const QString line = QString::fromUtf8(text.mid(at, text.indexOf('\n', at) - at));
    for (auto m = number.globalMatch(line); m.hasNext();)
        numbers << m.next().captured().toLongLong();
    return numbers;
}

// Numbered lines in the file at `path`, or -1 when there is no file yet (a
// reader would create one).
int numberedLinesIn(const QString& path)
{
    if (!QFileInfo::exists(path))
        return -1;
    return TestDatabase(path).scalar(QStringLiteral("SELECT count(*) FROM SystemInfo WHERE message LIKE 'fault n%'")).toInt();
}

bool waitForNumberedLines(const QString& path, int lines)
{
    const QDeadlineTimer deadline(kProcessTimeoutMs);
    while (numberedLinesIn(path) < lines && !deadline.hasExpired())
        QThread::msleep(20);
    return numberedLinesIn(path) >= lines;
}

// The writer's notices of a file that left its path, in order, as moves
// ("replace", "delete").
QStringList noticesOfMoves(const QByteArray& err)
{
    static const QRegularExpression notice(QStringLiteral("^日志文件 .* 被(替换|删除)："), QRegularExpression::MultilineOption);
    QStringList moves;
    for (auto m = notice.globalMatch(QString::fromUtf8(err)); m.hasNext();)
        moves << (m.next().captured(1) == QStringLiteral("替换") ? QStringLiteral("replace") : QStringLiteral("delete"));
    return moves;
}

// While the helper logs into ./dbLog.db: each move once the file at the path
// holds lines, the file leaving the path kept as moved-<i>.db (appended to
// `files`). A fresh log is made beside and renamed over the path, never
// opened there: the writer may still be in a transaction on the file that
// left, with its journal at the path's name, until it has said that it
// noticed (after which it writes the new file).
void moveUnderTheWriter(QProcess& helper, const QTemporaryDir& dir, const QStringList& moves, QStringList& files, QByteArray& err)
{
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    helper.setReadChannel(QProcess::StandardError);
    for (int i = 0; i < moves.size(); ++i) {
        QVERIFY2(waitForNumberedLines(path, 50), "no lines reached the file at the path");
        const QString kept = dir.filePath(QStringLiteral("moved-%1.db").arg(i));
        QCOMPARE(::link(QFile::encodeName(path).constData(), QFile::encodeName(kept).constData()), 0);
        files << kept;
        if (moves[i] == QLatin1String("replace")) {
            const QString fresh = dir.filePath(QStringLiteral("fresh-%1.db").arg(i));
            QVERIFY(TestDatabase(fresh).exec(QString::fromLatin1(SystemLog::QDBSqlite::kCreateTableSql)));
            QCOMPARE(::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(path).constData()), 0);
        } else {
            QCOMPARE(::unlink(QFile::encodeName(path).constData()), 0);
        }
        const QDeadlineTimer deadline(kProcessTimeoutMs);
        while (noticesOfMoves(err).size() <= i && !deadline.hasExpired() && helper.state() != QProcess::NotRunning) {
            helper.waitForReadyRead(100);
            err += helper.readAllStandardError();
        }
        QVERIFY2(noticesOfMoves(err).size() == i + 1, err.constData());
    }
    QVERIFY2(waitForNumberedLines(path, 50), "no lines reached the file now at the path");
}

} // namespace

void tst_WriterFaults::everyLineIsStoredOrCounted_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("logged");
    QTest::addColumn<int>("counted");   // -1: as it happens
    QTest::addColumn<QString>("told");  // a drop record that must be there
    // What the test does to ./dbLog.db while the helper logs (mode follow):
    // "replace" renames a fresh log over it, "delete" deletes it; each time
    // the file that leaves the path is kept under another name (a hard
    // link), so that its rows count too.
    QTest::addColumn<QStringList>("moves");

    const QString queueFull = QStringLiteral("日志过多：");
    const QStringList none;
    QTest::newRow("full disk at start, space comes back")
        << "full-at-start" << 300 << 600 << 300 << QStringLiteral("日志写入失败（磁盘读写错误）：") << none;
    QTest::newRow("first table creation fails") << "journal-blocked" << 300 << 600 << -1 << QString() << none;
    QTest::newRow("lock held across the end of a Session") << "lock-at-end" << 1000 << 1000 << 0 << QString() << none;
    QTest::newRow("overflow, then give-up at the end")
        << "overflow-end" << kLargeCase / 2 << kLargeCase / 2 << -1 << queueFull << none;
    QTest::newRow("exit() from main") << "exit-main" << kLargeCase << kLargeCase << 0 << QString() << none;
    QTest::newRow("exit() from a thread") << "exit-thread" << kLargeCase << kLargeCase << 0 << QString() << none;
    QTest::newRow("Session ended during static destruction")
        << "static-end" << kLargeCase << kLargeCase << 0 << QString() << none;
    // The writer follows its path: every line is in the file that was at
    // the path when it was written, none lost, none twice.
    QTest::newRow("path replaced while logging") << "follow" << 0 << -1 << 0 << QString() << QStringList{"replace"};
    QTest::newRow("path deleted while logging") << "follow" << 0 << -1 << 0 << QString() << QStringList{"delete"};
    QTest::newRow("path replaced twice while logging")
        << "follow" << 0 << -1 << 0 << QString() << QStringList{"replace", "replace"};
    QTest::newRow("path deleted, then replaced") << "follow" << 0 << -1 << 0 << QString() << QStringList{"delete", "replace"};
}

void tst_WriterFaults::everyLineIsStoredOrCounted()
{
    QFETCH(QString, mode);
    QFETCH(int, lines);
    QFETCH(int, logged);
    QFETCH(int, counted);
    QFETCH(QString, told);
    QFETCH(QStringList, moves);

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
        helper.start(vxtest::built(LOGFAULT_HELPER), {mode, QString::number(lines)});
        // The first half is logged while the table cannot be made.
        QDeadlineTimer deadline(kProcessTimeoutMs);
        while (!helper.canReadLine() && !deadline.hasExpired())
            helper.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1)));
        QVERIFY2(helper.canReadLine(), "the helper never said it had logged the first half");
        QVERIFY(QDir(dir.path()).rmdir(QStringLiteral("dbLog.db-journal")));
        helper.write("go\n");
    } else {
        helper.start(vxtest::built(LOGFAULT_HELPER), {mode, QString::number(lines)});
    }
    QStringList files{path};
    QByteArray err;
    if (!moves.isEmpty()) {
        moveUnderTheWriter(helper, dir, moves, files, err);
        if (QTest::currentTestFailed())
            return;
        helper.write("stop\n");
    }
    helper.closeWriteChannel();
    QVERIFY2(helper.waitForFinished(kProcessTimeoutMs), qPrintable(mode));
    const QByteArray out = helper.readAllStandardOutput();
    err += helper.readAllStandardError();
    if (!moves.isEmpty()) {
        QCOMPARE(noticesOfMoves(err), moves);
        logged = int(numbersIn(out, "logged ").value(0, -1));
        QVERIFY2(logged > 0, out.constData());
    }
    QVERIFY2(helper.exitStatus() == QProcess::NormalExit && helper.exitCode() == 0, err.constData());
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
    for (const QString& file : files) {
        for (const StoredRow& row : TestDatabase(file).rows()) {
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

// A side file that does not decode neither crashes nor stops the next
// writer: it is set aside as unreadable and the good one sorted after it is
// taken in. How each kind of damage is refused is tst_sidefiles' table.
void tst_WriterFaults::sideFilesNeverStopAWriter_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("readable");
    QTest::newRow("length overflowing an int") << QByteArray("vxSyslog unwritten lines 1\n0 2 2147483647\nX\nend 0\n") << false;
    QTest::newRow("truncated in a row") << sideFileOf(100000, 50).left(300) << false;
    QTest::newRow("impossible time stamp")
        << QByteArray("vxSyslog unwritten lines 2\n2026-13-45 25:61:61 2 14\nfault n100000\n\nend 1\n") << false;
    // Written by earlier programs: still taken in.
    QTest::newRow("version 1 file") << QByteArray("vxSyslog unwritten lines 1\n1700000000 2 14\nfault n100000\n\nend 1\n") << true;
}

void tst_WriterFaults::sideFilesNeverStopAWriter()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, readable);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    QVERIFY(writeFile(path + QStringLiteral("-unwritten-1-2-3"), content));
    QVERIFY(writeFile(path + QStringLiteral("-unwritten-1-2-4"), sideFileOf(0, 100)));

    const Run run = runHelper(dir.path(), QStringLiteral("open"), 0);
    QVERIFY2(run.exitCode == 0, run.err.constData());
    const QStringList expectedLeft = readable ? QStringList() : QStringList{QStringLiteral("dbLog.db-unwritten-1-2-3.unreadable")};
    QCOMPARE(sideFiles(dir.path()), expectedLeft);
    const Numbered rows = numberedRows(path);
    QVERIFY2(rows.twice.isEmpty(), qPrintable(rows.twice));
    QCOMPARE(int(rows.stored.size()), readable ? 101 : 100);
    QCOMPARE(*rows.stored.begin(), qint64(0));
}

// The taking program is killed at random moments while it takes in a large
// side file; one more program finishes it: every line stored exactly once.
void tst_WriterFaults::killDuringTakeInStoresEachLineOnce()
{
    const quint32 seed = QRandomGenerator::global()->generate();
    qInfo("kill seed %u", seed);
    QRandomGenerator random(seed);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    QVERIFY(writeFile(path + QStringLiteral("-unwritten-1-2-3"), sideFileOf(0, kLargeCase)));
    for (int round = 0; round < 4; ++round) {
        QProcess helper;
        helper.setWorkingDirectory(dir.path());
        helper.start(vxtest::built(LOGFAULT_HELPER), {QStringLiteral("open"), QStringLiteral("0")});
        QVERIFY(helper.waitForStarted());
        const int delayMs = int(random.bounded(50, 1500));
        if (!helper.waitForFinished(delayMs)) {
            helper.kill();
            QVERIFY(helper.waitForFinished(kProcessTimeoutMs));
        }
        qInfo("round %d: killed after %d ms, %d rows", round, delayMs, int(TestDatabase(path).rows().size()));
    }
    const Run last = runHelper(dir.path(), QStringLiteral("open"), 0);
    QVERIFY2(last.exitCode == 0, last.err.constData());
    QCOMPARE(sideFiles(dir.path()), QStringList());
    const Numbered rows = numberedRows(path);
    QVERIFY2(rows.twice.isEmpty(), qPrintable(rows.twice));
    QCOMPARE(int(rows.stored.size()), kLargeCase);
    QCOMPARE(*rows.stored.rbegin(), qint64(kLargeCase - 1));
}

// A child of a process that started the service logs and ends, whichever
// way, without hanging: its lines go to standard error after one notice,
// and the parent's lines before and after the fork are all stored.
void tst_WriterFaults::forkedChildLogsAndEnds_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("child returns from main") << "fork-return";
    QTest::newRow("child calls exit()") << "fork-exit";
    QTest::newRow("child's exec fails, exit(127)") << "fork-exec-fail";
}

void tst_WriterFaults::forkedChildLogsAndEnds()
{
    QFETCH(QString, mode);
    const int lines = 1000;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const Run run = runHelper(dir.path(), mode, lines);
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QCOMPARE(run.err.count("子进程"), 1);
    QCOMPARE(run.err.count("child n"), lines);
    const Numbered rows = numberedRows(dir.filePath(QStringLiteral("dbLog.db")));
    QVERIFY2(rows.twice.isEmpty(), qPrintable(rows.twice));
    QCOMPARE(int(rows.stored.size()), 2 * lines);
    QCOMPARE(rows.otherRows, 0);
}

// 32 threads log without pause while the service ends. The end returns
// (the bound only catches a hang; bench/ measures it) and leaves the file
// sound: no transaction cut off. Every line a thread handed to the service
// (those before its first on standard output) is then, once the next
// program has taken the side files in, stored once or counted by a drop
// record: stored + counted = handed over. The side files hold what the
// notices said was set aside; where the program still has its service
// (init(path)) its flush() counts agree with the files.
void tst_WriterFaults::endUnderFloodIsBounded_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("files");  // where the service's lines go
    QTest::addColumn<bool>("lockHeld");      // by another program, through the end
    const QStringList one{QStringLiteral("dbLog.db")};
    const QStringList two{QStringLiteral("dbLog.db"), QStringLiteral("second.db")};
    QTest::newRow("release()") << "flood-release" << one << false;
    QTest::newRow("end of the Session") << "flood-session" << one << false;
    QTest::newRow("exit()") << "flood-exit" << one << false;
    QTest::newRow("init(path)") << "flood-init" << two << false;
    // The threads log on while the process exits: what reaches standard
    // output after the end is whole lines, each once, in each thread's order.
    QTest::newRow("main returns, threads log on") << "flood-return" << one << false;
    QTest::newRow("main returns under a held lock") << "flood-return" << one << true;
    QTest::newRow("end of the Session under a held lock") << "flood-session" << one << true;
}

void tst_WriterFaults::endUnderFloodIsBounded()
{
    QFETCH(QString, mode);
    QFETCH(QStringList, files);
    QFETCH(bool, lockHeld);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    std::unique_ptr<TestDatabase> locker;
    if (lockHeld) {
        locker = holdLock(dir.filePath(QStringLiteral("dbLog.db")));
        QVERIFY(locker);
    }
    QProcess helper;
    helper.setWorkingDirectory(dir.path());
    helper.setReadChannel(QProcess::StandardError);
    helper.start(vxtest::built(LOGFAULT_HELPER), {mode, QStringLiteral("0")});
    QByteArray err;
    QVERIFY2(readUntil(helper, err, "ending\n", kProcessTimeoutMs), err.constData());
    QElapsedTimer ending;
    ending.start();
    readUntil(helper, err, "ended\n", 2 * kEndHangMs);
    const qint64 took = ending.elapsed();
    QVERIFY2(took < kEndHangMs, qPrintable(QStringLiteral("the end took %1 ms").arg(took)));
    QVERIFY(helper.state() == QProcess::NotRunning || helper.waitForFinished(kProcessTimeoutMs));
    err += helper.readAllStandardError();
    QVERIFY2(helper.exitStatus() == QProcess::NormalExit && helper.exitCode() == 0, err.constData());
    if (locker)
        QVERIFY(releaseLock(locker));
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("dbLog.db-journal"))));

    const FloodThreads threads =
        floodThreads(err, dir.filePath(QStringLiteral("flood-stdout")), mode != QLatin1String("flood-return"));
    QVERIFY2(threads.wrong.isEmpty(), qPrintable(threads.wrong));
    qint64 handedOver = 0;
    for (int t = 0; t < kFloodThreads; ++t)
        handedOver += threads.toService(t);
    QString wrong;
    const qint64 setAside = floodLinesSetAside(dir.path(), wrong);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    static const QRegularExpression notice(QStringLiteral("：(\\d+) 条日志行已保存在 "));
    qint64 told = 0;
    for (auto m = notice.globalMatch(QString::fromUtf8(err)); m.hasNext();)
        told += m.next().captured(1).toLongLong();
    QCOMPARE(setAside, told);

    const Run next = runHelper(dir.path(), QStringLiteral("open"), 0);
    QVERIFY2(next.exitCode == 0, next.err.constData());
    QCOMPARE(sideFiles(dir.path()), QStringList());
    FloodRows rows;
    for (const QString& file : files)
        readFloodRows(dir.filePath(file), rows);
    QVERIFY2(rows.wrong.isEmpty(), qPrintable(rows.wrong));
    std::sort(rows.stored.begin(), rows.stored.end());
    const auto twice = std::adjacent_find(rows.stored.begin(), rows.stored.end());
    if (twice != rows.stored.end())
        QFAIL(qPrintable(QStringLiteral("t%1 n%2 stored twice").arg(twice->first).arg(twice->second)));
    const auto alsoOut = std::find_if(rows.stored.begin(), rows.stored.end(),
                                      [&threads](const auto& row) { return row.second >= threads.toService(row.first); });
    if (alsoOut != rows.stored.end())
        QFAIL(qPrintable(QStringLiteral("t%1 n%2 stored and on standard output").arg(alsoOut->first).arg(alsoOut->second)));
    qInfo("handed over %lld: stored %zu (set aside %lld), counted %llu", handedOver, rows.stored.size(), setAside,
          static_cast<unsigned long long>(rows.dropped));
    QCOMPARE(qint64(rows.stored.size()) + qint64(rows.dropped), handedOver);

    // The service of release(), the Session and exit() is gone with its counts.
    if (mode == QLatin1String("flood-init"))  // stored, set aside, dropped, pending
        QCOMPARE(numbersIn(err, "flushed "),
                 (QVector<qint64>{qint64(rows.stored.size()) - setAside, setAside, qint64(rows.dropped), 0}));
}

// flush(timeout) returns by its deadline while another program holds the
// lock, saying how many lines are still pending; they are stored once the
// lock is gone.
void tst_WriterFaults::flushWithTimeoutReturnsUnderAHeldLock()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    std::unique_ptr<TestDatabase> locker = holdLock(path);
    QVERIFY(locker);
    QProcess helper;
    helper.setWorkingDirectory(dir.path());
    helper.start(vxtest::built(LOGFAULT_HELPER), {QStringLiteral("flush-timeout"), QStringLiteral("3000")});
    QElapsedTimer flushing;
    flushing.start();
    QByteArray out;
    readUntil(helper, out, "\n", kProcessTimeoutMs);
    QCOMPARE(out, QByteArray("pending 3000 stored 0\n"));
    // Catches only a flush that waits for the lock instead of its deadline.
    QVERIFY2(flushing.elapsed() < 15000, qPrintable(QString::number(flushing.elapsed())));
    QVERIFY(releaseLock(locker));
    helper.write("go\n");
    helper.closeWriteChannel();
    QVERIFY(helper.waitForFinished(kProcessTimeoutMs));
    QCOMPARE(helper.exitCode(), 0);
    const Run next = runHelper(dir.path(), QStringLiteral("open"), 0);
    QVERIFY2(next.exitCode == 0, next.err.constData());
    QCOMPARE(int(numberedRows(path).stored.size()), 3000);
}

// Lines set aside when the service switches files under a held lock are
// counted as such (a program that checks its flush result sees them), and
// when a program under another time zone takes them in they keep the time
// their own program (UTC) gave them.
void tst_WriterFaults::linesSetAsideUnderAHeldLockKeepTheirTime()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("dbLog.db"));
    std::unique_ptr<TestDatabase> locker = holdLock(path);
    QVERIFY(locker);
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-2);
    const Run run = runHelper(dir.path(), QStringLiteral("set-aside"), 3000, QStringLiteral("UTC0"));
    const QDateTime after = QDateTime::currentDateTimeUtc().addSecs(2);
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QCOMPARE(run.out, QByteArray("set aside 3000 dropped 0 pending 0\n"));
    QVERIFY(releaseLock(locker));
    const Run next = runHelper(dir.path(), QStringLiteral("open"), 0, QStringLiteral("CST-8"));
    QVERIFY2(next.exitCode == 0, next.err.constData());
    QCOMPARE(int(numberedRows(path).stored.size()), 3000);
    for (const StoredRow& row : TestDatabase(path).rows()) {
        QDateTime stamp = QDateTime::fromString(row.datetime, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        stamp.setTimeSpec(Qt::UTC);
        QVERIFY2(stamp >= before && stamp <= after,
                 qPrintable(QStringLiteral("%1 not between %2 and %3").arg(row.datetime, before.toString(), after.toString())));
    }
}

// After the service ended at exit, instance(), flush(), init() and logging
// neither crash nor open a file: the lines go to standard output.
void tst_WriterFaults::serviceAfterItsEndOpensNoFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const Run run = runHelper(dir.path(), QStringLiteral("after-exit"), 100);
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QVERIFY2(run.out.contains("after the end 0\n") && run.out.contains("after init\n"), run.out.constData());
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("dbLog.db"))));
    QCOMPARE(int(numberedRows(dir.filePath(QStringLiteral("other.db"))).stored.size()), 100);
}

// Neither the file nor a side file beside it can be written (its folder is
// gone): standard error, the only trace left, says how many lines were lost.
void tst_WriterFaults::lastResortSaysHowManyWereLost()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const Run run = runHelper(dir.path(), QStringLiteral("nowhere"), 700);
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QVERIFY2(run.err.contains("：700 条日志行已丢失"), run.err.constData());
}

QTEST_GUILESS_MAIN(tst_WriterFaults)
#include "tst_writerfaults.moc"
