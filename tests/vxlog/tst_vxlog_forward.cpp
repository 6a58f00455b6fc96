// vxlog forward run as a process against a real rsyslogd that the test
// starts: every record arrives at least once, first in order, through
// SIGKILLs and receiver restarts with bounded duplicates; growing waits for a
// receiver that drops every session; long records cut or whole; a cursor
// that knows its log; a log replaced, emptied or locked; TLS with
// certificates made here by openssl; notices that say what is wrong; a
// cursor that survives a kill before its rename; refused arguments.
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include <vxSyslog/SyslogFormat.h>

#include "BuiltPath.h"
#include "CursorFile.h"
#include "DroppingRelpReceiver.h"
#include "forward/RelpClient.h"
#include "RsyslogReceiver.h"
#include "VxlogTestSupport.h"

using namespace VxlogTest;

namespace {

const int kArrivalTimeoutMs = 60000;  // a bound for a stuck forwarder, not a speed check

// A forwarder process; its standard error is kept as it comes.
class Forwarder
{
public:
    Forwarder(const QStringList& arguments, const QString& folder)
    {
        m_process.setWorkingDirectory(folder);
        m_process.start(vxtest::built(VXLOG_BINARY), QStringList{"forward", "--hostname", "test-host"} + arguments);
    }
    ~Forwarder() { end(SIGKILL); }
    bool started() { return m_process.waitForStarted(kRunTimeoutMs); }

    // The exit status after `signal` (0: waits for it to end by itself); -1
    // when it was killed or did not end.
    int end(int signal)
    {
        if (signal && m_process.state() != QProcess::NotRunning)
            ::kill(static_cast<pid_t>(m_process.processId()), signal);
        if (!m_process.waitForFinished(kRunTimeoutMs) && m_process.state() != QProcess::NotRunning)
            return -1;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }

    qint64 pid() const { return m_process.processId(); }

    // User and system CPU time used so far, from /proc.
    double cpuSeconds() const
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid()));
        if (!stat.open(QIODevice::ReadOnly))
            return -1;
        const QByteArray text = stat.readAll();
        // The fields after the command name, which ends at the last ')'.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
    }

    QString errors()
    {
        m_errors += m_process.readAllStandardError();
        return QString::fromUtf8(m_errors);
    }

private:
    QProcess m_process;
    QByteArray m_errors;
};

// Records "记录 <id>" of the five types in turn, in one transaction, into a
// log that is made when missing; stored now, or at `datetime`.
bool appendRecords(const QString& path, int first, int count, const QString& datetime = QString())
{
    TestDatabase db(path);
    createLogTable(db);
    QSqlDatabase connection = db.db();
    connection.transaction();
    QSqlQuery insert(connection);
    insert.prepare(datetime.isEmpty() ? QStringLiteral("INSERT INTO SystemInfo(id, type, message) VALUES(?, ?, ?)")
                                      : QStringLiteral("INSERT INTO SystemInfo(id, type, message, datetime) VALUES(?, ?, ?, ?)"));
    for (int id = first; id < first + count; ++id) {
        insert.addBindValue(id);
        insert.addBindValue(id % 5);
        insert.addBindValue(QStringLiteral("记录 %1\n").arg(id));
        if (!datetime.isEmpty())
            insert.addBindValue(datetime);
        if (!insert.exec())
            return false;
    }
    return connection.commit();
}

// One record with the given message and the next id.
bool appendMessage(const QString& path, const QByteArray& message)
{
    TestDatabase db(path);
    createLogTable(db);
    QSqlQuery insert(db.db());
    insert.prepare(QStringLiteral("INSERT INTO SystemInfo(type, message) VALUES(4, ?)"));
    insert.addBindValue(QString::fromUtf8(message));
    return insert.exec();
}

// The ids received so far in the order they came, each line as rsyslog
// parsed it; -1 for a line whose fields do not fit its record.
QList<int> receivedIds(const RsyslogReceiver& receiver)
{
    static const QRegularExpression shape(QStringLiteral(
        "^(\\d+) test-host quarrow (\\w+) \\[vxlog@32473 id=\"(\\d+)\" type=\"(\\d+)\" eol=\"n\"\\] \\x{FEFF}记录 (\\d+)$"));
    static const int pri[] = {133, 134, 134, 131, 133};  // local0 and the severity of each type
    static const QStringList names{"param", "user", "status", "alarm", "info"};
    QList<int> ids;
    for (const QByteArray& line : receiver.received().split('\n')) {
        const QRegularExpressionMatch match = shape.match(QString::fromUtf8(line));
        const int id = match.captured(3).toInt();
        if (!line.isEmpty())
            ids << (match.hasMatch() && match.captured(5).toInt() == id && match.captured(4).toInt() == id % 5
                            && match.captured(1).toInt() == pri[id % 5] && match.captured(2) == names.at(id % 5)
                        ? id : -1);
    }
    return ids;
}

// "cannot connect" and "connection lost": each said once per outage.
int outageNotices(const QString& errors)
{
    return errors.count(QStringLiteral("无法连接到")) + errors.count(QStringLiteral("的连接中断"));
}

QByteArray fileText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The id a cursor file holds, its first line; -1 when there is none.
qint64 cursorId(const QString& path)
{
    bool isNumber = false;
    const qint64 id = fileText(path).split('\n').first().toLongLong(&isNumber);
    return isNumber ? id : -1;
}

// Each id once, in the order it first came.
QList<int> firstArrivals(const QList<int>& ids)
{
    QList<int> first;
    QSet<int> seen;
    for (int id : ids) {
        if (!seen.contains(id))
            first << id;
        seen << id;
    }
    return first;
}

QList<int> range(int first, int last)
{
    QList<int> ids;
    for (int id = first; id <= last; ++id)
        ids << id;
    return ids;
}

// A CA with a certificate for the receiver (server.test and ::1) and one for the
// forwarder (client.test), a second CA with a client certificate of the same
// name (rogue), and the SHA-256 fingerprints of both leaf certificates.
const char* const kMakeCertificates = R"(set -e
for ca in ca otherca; do
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "/CN=$ca" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign -keyout $ca.key -out $ca.pem
done
for leaf in server:ca:server.test client:ca:client.test rogue:otherca:client.test; do
  IFS=: read name ca dns <<EOF
$leaf
EOF
  openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=$dns" -keyout $name.key -out $name.csr
  san="DNS:$dns"
  # The receiver is also reached as relp://[::1]:PORT, whose host is the name it must carry.
  [ $name = server ] && san="$san,DNS:::1"
  printf "subjectAltName=$san\nbasicConstraints=CA:FALSE\n" > $name.ext
  openssl x509 -req -in $name.csr -CA $ca.pem -CAkey $ca.key -CAcreateserial -days 2 -extfile $name.ext -out $name.pem
  openssl x509 -in $name.pem -noout -fingerprint -sha256 | cut -d= -f2 | tr A-F a-f > $name.sha256
done
)";

} // namespace

enum class Peer { TlsReceiver, PlainReceiver, Nobody, DropsSessions, NeverAnswers };
Q_DECLARE_METATYPE(Peer)

enum class WhileStopped { ReplacedByAnother, MoreRecords, CursorRecordDeleted };
Q_DECLARE_METATYPE(WhileStopped)

enum class LogEvent { ReplacedByRename, DeletedAndRecreated, IdsStartAgain, LockedLong };
Q_DECLARE_METATYPE(LogEvent)

class tst_VxlogForward : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void deliversEveryRecordThroughKillsAndRestarts();
    void sendsLongRecords_data();
    void sendsLongRecords();
    void startsOnTheLogItsCursorBelongsTo_data();
    void startsOnTheLogItsCursorBelongsTo();
    void readsAReplacedLogToItsEnd();
    void followsTheLogFile_data();
    void followsTheLogFile();
    void tls_data();
    void tls();
    void saysWhatIsWrongAndWhatToDo_data();
    void saysWhatIsWrongAndWhatToDo();
    void cursorSurvivesAKillBeforeItsRename();
    void refusesWhatCannotWork_data();
    void refusesWhatCannotWork();

private:
    QTemporaryDir m_certificates;
};

void tst_VxlogForward::initTestCase()
{
    QProcess openssl;
    openssl.setWorkingDirectory(m_certificates.path());
    openssl.start(QStringLiteral("sh"), {"-c", kMakeCertificates});
    QVERIFY(openssl.waitForFinished(kRunTimeoutMs));
    QVERIFY2(openssl.exitCode() == 0, openssl.readAllStandardError().constData());
}

#define START_RECEIVER(receiver)                                                                   \
    do {                                                                                           \
        QString why;                                                                               \
        if (!(receiver).start(why))                                                                \
            QSKIP(qPrintable(QStringLiteral("rsyslogd cannot be started here: %1").arg(why)));     \
    } while (false)

void tst_VxlogForward::deliversEveryRecordThroughKillsAndRestarts()
{
    const int chunks = 40;
    const int chunkSize = 500;
    const int records = chunks * chunkSize;
    const quint32 seed = qEnvironmentVariableIsSet("VX_FORWARD_SEED") ? qgetenv("VX_FORWARD_SEED").toUInt()
                                                                      : QRandomGenerator::securelySeeded().generate();
    qInfo("random seed %u (VX_FORWARD_SEED=%u repeats this run)", seed, seed);
    QRandomGenerator random(seed);
    // Not after the last chunk: the forwarder stopped at the end is the one
    // that sent the last record, so its cursor must hold that record's id.
    QSet<int> killAt, restartAt;
    qint64 resentAfterKills = 0;
    while (killAt.size() < 5)
        killAt << random.bounded(chunks - 1);
    while (restartAt.size() < 2)
        restartAt << random.bounded(chunks);

    QTemporaryDir dir;
    RsyslogReceiver receiver(dir.filePath(QStringLiteral("receiver")));
    START_RECEIVER(receiver);
    const QString log = dir.filePath(QStringLiteral("dbLog.db"));
    QVERIFY(appendRecords(log, 1, 0));
    const QStringList arguments{"--db", log, "--to", receiver.url(), "--cursor-file", dir.filePath("cursor")};
    auto forwarder = std::make_unique<Forwarder>(arguments, dir.path());
    QVERIFY(forwarder->started());
    // Without a cursor it starts after the records already there: the first
    // are written once it has stored that starting point.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("cursor")), kArrivalTimeoutMs);

    // The moments of the stops and kills are random by design; what follows
    // is checked whatever they were.
    for (int chunk = 0; chunk < chunks; ++chunk) {
        const bool restart = restartAt.contains(chunk);
        const int notices = outageNotices(forwarder->errors());
        const int reconnects = forwarder->errors().count(QStringLiteral("已重新连接"));
        if (restart) {
            QThread::msleep(random.bounded(150));
            QVERIFY(receiver.stop());
        }
        QVERIFY(appendRecords(log, chunk * chunkSize + 1, chunkSize));
        if (restart) {
            // Records wait while the receiver is down: said once, and once more when it is back.
            QTRY_VERIFY2_WITH_TIMEOUT(outageNotices(forwarder->errors()) == notices + 1, qPrintable(forwarder->errors()),
                                      kArrivalTimeoutMs);
            QString why;
            QVERIFY2(receiver.start(why), qPrintable(why));
            QTRY_VERIFY2_WITH_TIMEOUT(forwarder->errors().count(QStringLiteral("已重新连接")) == reconnects + 1,
                                      qPrintable(forwarder->errors()), kArrivalTimeoutMs);
            QCOMPARE(outageNotices(forwarder->errors()), notices + 1);
        }
        if (killAt.contains(chunk)) {
            QThread::msleep(random.bounded(150));
            QCOMPARE(forwarder->end(SIGKILL), -1);
            // The next one sends again what came after the cursor, at most
            // every record written so far.
            resentAfterKills += (chunk + 1) * chunkSize - cursorId(dir.filePath("cursor"));
            forwarder = std::make_unique<Forwarder>(arguments, dir.path());
            QVERIFY(forwarder->started());
        }
    }
    QTRY_VERIFY_WITH_TIMEOUT(receivedIds(receiver).contains(records), kArrivalTimeoutMs);
    // With the log quiet the cursor is made durable without a stop, up to the
    // records still in the window.
    QTRY_VERIFY_WITH_TIMEOUT(cursorId(dir.filePath("cursor")) >= records - RelpClient::kWindow, kArrivalTimeoutMs);
    QVERIFY2(forwarder->end(SIGTERM) == 0, qPrintable(forwarder->errors()));
    QCOMPARE(cursorId(dir.filePath("cursor")), qint64(records));
    QVERIFY(receiver.stop());

    const QList<int> ids = receivedIds(receiver);
    QVERIFY(!ids.contains(-1));
    QVector<bool> seen(records + 1);
    int newest = 0;
    for (int id : ids) {
        QVERIFY2(id >= 1 && id <= records && (seen.at(id) || id == newest + 1), qPrintable(QStringLiteral("record %1 first came after %2").arg(id).arg(newest)));
        newest = qMax(newest, id);
        seen[id] = true;
    }
    QCOMPARE(newest, records);
    const int duplicates = ids.size() - records;
    const qint64 bound = resentAfterKills + restartAt.size() * RelpClient::kWindow;
    qInfo("%d records arrived %d times (%d sent again; at most %lld allowed)", records, int(ids.size()), duplicates, bound);
    QVERIFY(duplicates <= bound);
}

void tst_VxlogForward::sendsLongRecords_data()
{
    QTest::addColumn<int>("maxDataSize");  // the receiver's; 0: imrelp's default
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("whole");
    QTest::newRow("imrelp's default: cut with a marker, said") << 0 << QStringList() << false;
    QTest::newRow("maxDataSize raised: whole") << 2097152 << QStringList{"--max-message-size", "2097152"} << true;
}

void tst_VxlogForward::sendsLongRecords()
{
    QFETCH(int, maxDataSize);
    QFETCH(QStringList, arguments);
    QFETCH(bool, whole);
    QTemporaryDir dir;
    RsyslogReceiver receiver(dir.filePath(QStringLiteral("receiver")));
    receiver.setMaxDataSize(maxDataSize);
    START_RECEIVER(receiver);
    const QString log = dir.filePath(QStringLiteral("dbLog.db"));
    QByteArray longText("开始");
    while (longText.size() < 200000)
        longText += "主轴温度 78.5 °C ";
    QVERIFY(appendMessage(log, longText) && appendMessage(log, "之后的记录"));
    Forwarder forwarder(QStringList{"--db", log, "--to", receiver.url(), "--since", "2000-01-01"} + arguments, dir.path());
    QVERIFY(forwarder.started());
    // The record after the long one arrives: the long one did not stop the run.
    QTRY_VERIFY_WITH_TIMEOUT(receiver.received().contains("之后的记录"), kArrivalTimeoutMs);
    QCOMPARE(forwarder.end(SIGTERM), 0);
    const QList<QByteArray> lines = receiver.received().split('\n');
    QCOMPARE(lines.size(), 3);
    const QByteArray& line = lines.first();
    const QByteArray marker = QStringLiteral("…[截断，原长 %1 字节]").arg(longText.size()).toUtf8();
    if (whole) {
        QVERIFY(line.endsWith("\xEF\xBB\xBF" + longText));
        QVERIFY2(!forwarder.errors().contains(QStringLiteral("截短")), qPrintable(forwarder.errors()));
        return;
    }
    QVERIFY2(line.endsWith(marker), line.right(100).constData());
    QVERIFY(line.size() <= SystemLog::SyslogFormatter::kReceiverDefaultMaxSize);
    const QByteArray kept = line.mid(line.indexOf("开始"), line.size() - marker.size() - line.indexOf("开始"));
    QVERIFY(kept.size() > 7000 && longText.startsWith(kept));
    QCOMPARE(forwarder.errors().count(QStringLiteral("超过 --max-message-size（8096 字节）")), 2);
    QVERIFY2(forwarder.errors().contains(QStringLiteral("记录 1 超过")) && forwarder.errors().contains(QStringLiteral("共有 1 条")),
             qPrintable(forwarder.errors()));
}

void tst_VxlogForward::startsOnTheLogItsCursorBelongsTo_data()
{
    QTest::addColumn<QByteArray>("cursor");  // null: written by a first run that sent records 1 to 5
    QTest::addColumn<WhileStopped>("change");
    QTest::addColumn<QList<int>>("received");  // by the second run, in order
    QTest::addColumn<bool>("notice");
    const QByteArray first;
    QTest::newRow("log replaced while stopped") << first << WhileStopped::ReplacedByAnother << range(1, 8) << true;
    QTest::newRow("same log, more records") << first << WhileStopped::MoreRecords << range(6, 8) << false;
    QTest::newRow("same log, the cursor's record deleted") << first << WhileStopped::CursorRecordDeleted << range(6, 8) << false;
    QTest::newRow("old cursor format, log with fewer records") << QByteArray("500\n") << WhileStopped::MoreRecords << range(1, 8)
                                                               << true;
    QTest::newRow("old cursor format, same log") << QByteArray("3\n") << WhileStopped::MoreRecords << range(4, 8) << false;
}

void tst_VxlogForward::startsOnTheLogItsCursorBelongsTo()
{
    QFETCH(QByteArray, cursor);
    QFETCH(WhileStopped, change);
    QFETCH(QList<int>, received);
    QFETCH(bool, notice);
    QTemporaryDir dir;
    RsyslogReceiver receiver(dir.filePath(QStringLiteral("receiver")));
    START_RECEIVER(receiver);
    const QString log = dir.filePath(QStringLiteral("dbLog.db"));
    const QString cursorPath = dir.filePath(QStringLiteral("cursor"));
    const QStringList arguments{"--db", log, "--to", receiver.url(), "--cursor-file", cursorPath};
    QVERIFY(appendRecords(log, 1, 5));
    int sentBefore = 0;
    if (cursor.isNull()) {
        Forwarder first(arguments + QStringList{"--since", "2000-01-01"}, dir.path());
        QVERIFY(first.started());
        QTRY_COMPARE_WITH_TIMEOUT(receivedIds(receiver), range(1, 5), kArrivalTimeoutMs);
        QCOMPARE(first.end(SIGTERM), 0);
        QCOMPARE(cursorId(cursorPath), qint64(5));
        sentBefore = 5;
    } else {
        QFile file(cursorPath);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(cursor) == cursor.size());
    }
    TestDatabase db(log);
    switch (change) {
    case WhileStopped::ReplacedByAnother: {
        // The same ids and messages, written at another time: only the mark tells them apart.
        const QString replacement = dir.filePath(QStringLiteral("new.db"));
        QVERIFY(appendRecords(replacement, 1, 8, QStringLiteral("2001-01-01 00:00:00")));
        QCOMPARE(::rename(QFile::encodeName(replacement).constData(), QFile::encodeName(log).constData()), 0);
        break;
    }
    case WhileStopped::CursorRecordDeleted:
        QVERIFY(db.exec(QStringLiteral("DELETE FROM SystemInfo WHERE id = 5")));
        QVERIFY(appendRecords(log, 6, 3));
        break;
    case WhileStopped::MoreRecords:
        QVERIFY(appendRecords(log, 6, 3));
        break;
    }
    Forwarder second(arguments, dir.path());
    QVERIFY(second.started());
    QTRY_COMPARE_WITH_TIMEOUT(receivedIds(receiver).mid(sentBefore), received, kArrivalTimeoutMs);
    QCOMPARE(second.end(SIGTERM), 0);
    QCOMPARE(second.errors().count(QStringLiteral("不属于日志")), notice ? 1 : 0);
    QCOMPARE(cursorId(cursorPath), qint64(8));
}

void tst_VxlogForward::readsAReplacedLogToItsEnd()
{
    QTemporaryDir dir;
    RsyslogReceiver receiver(dir.filePath(QStringLiteral("receiver")));
    START_RECEIVER(receiver);
    const QString log = dir.filePath(QStringLiteral("dbLog.db"));
    QVERIFY(appendRecords(log, 1, 3));
    Forwarder forwarder({"--db", log, "--to", receiver.url(), "--since", "2000-01-01"}, dir.path());
    QVERIFY(forwarder.started());
    QTRY_COMPARE_WITH_TIMEOUT(receivedIds(receiver).size(), 3, kArrivalTimeoutMs);
    // Records the forwarder has read but cannot send: they wait in the old
    // file while the new one takes its place.
    QVERIFY(receiver.stop());
    QVERIFY(appendRecords(log, 4, 2 * RelpClient::kWindow));
    QTRY_COMPARE_WITH_TIMEOUT(outageNotices(forwarder.errors()), 1, kArrivalTimeoutMs);
    const QString replacement = dir.filePath(QStringLiteral("new.db"));
    QVERIFY(appendRecords(replacement, 1001, 2));
    QCOMPARE(::rename(QFile::encodeName(replacement).constData(), QFile::encodeName(log).constData()), 0);
    QString why;
    QVERIFY2(receiver.start(why), qPrintable(why));
    const QList<int> expected = range(1, 3 + 2 * RelpClient::kWindow) + QList<int>{1001, 1002};
    QTRY_COMPARE_WITH_TIMEOUT(firstArrivals(receivedIds(receiver)), expected, kArrivalTimeoutMs);
    QCOMPARE(forwarder.end(SIGTERM), 0);
    QCOMPARE(forwarder.errors().count(QStringLiteral("已被替换或重新创建")), 1);
}

void tst_VxlogForward::followsTheLogFile_data()
{
    QTest::addColumn<LogEvent>("event");
    QTest::addColumn<QString>("notice");
    QTest::addColumn<QList<int>>("received");  // ids, in the order they arrive
    QTest::newRow("replaced by a rename") << LogEvent::ReplacedByRename << "已被替换或重新创建" << QList<int>{1, 2, 3, 1, 2};
    QTest::newRow("deleted and made again") << LogEvent::DeletedAndRecreated << "已被替换或重新创建" << QList<int>{1, 2, 3, 1, 2};
    QTest::newRow("rows deleted, ids start again") << LogEvent::IdsStartAgain << "记录编号变小了" << QList<int>{1, 2, 3, 1, 2};
    // Longer than the reader's busy timeout.
    QTest::newRow("locked by another program") << LogEvent::LockedLong << "被其他程序锁定" << QList<int>{1, 2, 3, 4, 5};
}

void tst_VxlogForward::followsTheLogFile()
{
    QFETCH(LogEvent, event);
    QFETCH(QString, notice);
    QFETCH(QList<int>, received);
    QTemporaryDir dir;
    RsyslogReceiver receiver(dir.filePath(QStringLiteral("receiver")));
    START_RECEIVER(receiver);
    const QString log = dir.filePath(QStringLiteral("dbLog.db"));
    QVERIFY(appendRecords(log, 1, 3));
    const QString cursor = dir.filePath(QStringLiteral("cursor"));
    Forwarder forwarder({"--db", log, "--to", receiver.url(), "--since", "2000-01-01", "--cursor-file", cursor}, dir.path());
    QVERIFY(forwarder.started());
    QTRY_COMPARE_WITH_TIMEOUT(receivedIds(receiver).size(), 3, kArrivalTimeoutMs);

    const QString replacement = dir.filePath(QStringLiteral("new.db"));
    TestDatabase db(log);
    switch (event) {
    case LogEvent::ReplacedByRename:
        QVERIFY(appendRecords(replacement, 1, 2));
        QCOMPARE(::rename(QFile::encodeName(replacement).constData(), QFile::encodeName(log).constData()), 0);
        break;
    case LogEvent::DeletedAndRecreated:
        QVERIFY(QFile::remove(log) && appendRecords(log, 1, 2));
        break;
    case LogEvent::IdsStartAgain:
        QVERIFY(db.exec(QStringLiteral("DELETE FROM SystemInfo")) && db.exec(QStringLiteral("DELETE FROM sqlite_sequence")));
        QVERIFY(appendRecords(log, 1, 2));
        break;
    case LogEvent::LockedLong:
        QVERIFY(db.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        QTRY_VERIFY_WITH_TIMEOUT(forwarder.errors().contains(notice), kArrivalTimeoutMs);
        QVERIFY(db.exec(QStringLiteral("COMMIT")) && appendRecords(log, 4, 2));
        break;
    }
    QTRY_COMPARE_WITH_TIMEOUT(receivedIds(receiver), received, kArrivalTimeoutMs);
    QCOMPARE(forwarder.end(SIGTERM), 0);
    QCOMPARE(forwarder.errors().count(notice), 1);
    // The cursor holds an id of the file as it is now, not of the one before.
    QCOMPARE(cursorId(cursor), qint64(received.last()));
}

void tst_VxlogForward::tls_data()
{
    const QString ca = m_certificates.filePath("ca.pem");
    const QString serverPrint = QStringLiteral("sha256:") + fileText(m_certificates.filePath("server.sha256")).trimmed();
    const QString clientPrint = QStringLiteral("sha256:") + fileText(m_certificates.filePath("client.sha256")).trimmed();
    const QStringList client{"--cert", "client.pem", "--key", "client.key"};
    QTest::addColumn<QStringList>("tlsArguments");
    QTest::addColumn<QString>("refusal");  // null: delivers
    QTest::addColumn<QString>("address");  // the receiver's
    const QString ipv4 = QStringLiteral("127.0.0.1");

    QTest::newRow("both verified, receiver by name") << QStringList{"--ca", ca, "--peer", "server.test"} + client << QString() << ipv4;
    QTest::newRow("both verified, receiver by fingerprint") << QStringList{"--ca", ca, "--peer", serverPrint} + client << QString() << ipv4;
    QTest::newRow("client certificate of another CA")
        << QStringList{"--ca", ca, "--peer", "server.test", "--cert", "rogue.pem", "--key", "rogue.key"} << "不接受本机的证书" << ipv4;
    QTest::newRow("receiver signed by a CA not trusted here")
        << QStringList{"--ca", m_certificates.filePath("otherca.pem"), "--peer", "server.test"} + client << "未通过验证" << ipv4;
    QTest::newRow("receiver name not the one permitted") << QStringList{"--ca", ca, "--peer", "other.test"} + client << "未通过验证" << ipv4;
    QTest::newRow("receiver fingerprint not the one permitted") << QStringList{"--ca", ca, "--peer", clientPrint} + client
                                                                << "未通过验证" << ipv4;
    QTest::newRow("IPv6, receiver by the default name") << QStringList{"--ca", ca} + client << QString() << "::1";
    QTest::newRow("default name not in the receiver's certificate") << QStringList{"--ca", ca} + client << "未通过验证" << ipv4;
}

void tst_VxlogForward::tls()
{
    QFETCH(QStringList, tlsArguments);
    QFETCH(QString, refusal);
    QFETCH(QString, address);
    QTemporaryDir dir;
    RsyslogReceiver receiver(dir.filePath(QStringLiteral("receiver")));
    receiver.setAddress(address);
    receiver.enableTls({m_certificates.filePath("ca.pem"), m_certificates.filePath("server.pem"),
                        m_certificates.filePath("server.key"), QStringLiteral("client.test")});
    START_RECEIVER(receiver);
    const QString log = dir.filePath(QStringLiteral("dbLog.db"));
    QVERIFY(appendRecords(log, 1, 3));

    Forwarder forwarder(QStringList{"--db", log, "--to", receiver.url(), "--since", "2000-01-01", "--tls"} + tlsArguments,
                        m_certificates.path());
    QVERIFY(forwarder.started());
    if (refusal.isNull()) {
        QTRY_COMPARE_WITH_TIMEOUT(receivedIds(receiver), QList<int>({1, 2, 3}), kArrivalTimeoutMs);
        QCOMPARE(forwarder.end(SIGINT), 0);
        return;
    }
    QCOMPARE(forwarder.end(0), 1);
    QVERIFY2(forwarder.errors().contains(refusal), qPrintable(forwarder.errors()));
    QVERIFY(receiver.stop());
    QCOMPARE(receiver.received(), QByteArray());
}

void tst_VxlogForward::saysWhatIsWrongAndWhatToDo_data()
{
    QTest::addColumn<Peer>("peer");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<int>("exitCode");  // -1: goes on until stopped
    QTest::addColumn<QStringList>("said");
    QTest::newRow("plain client at a TLS receiver") << Peer::TlsReceiver << false << -1
        << QStringList{"接收端要求 TLS", "请加 --tls", "接收端关闭了连接", "librelp 10007：server closed relp session"};
    QTest::newRow("TLS client at a plain receiver") << Peer::PlainReceiver << true << 1
        << QStringList{"接收端不支持 TLS", "没有发送任何记录", "librelp 10031：TLS handshake failed"};
    QTest::newRow("nobody listening") << Peer::Nobody << false << -1
        << QStringList{"无法连接到", "无法建立 TCP 连接", "librelp 10014", "下次启动时从记录 0 之后发送"};
    QTest::newRow("session closed by the receiver, waits growing") << Peer::DropsSessions << false << -1
        << QStringList{"的连接中断", "从记录 0 之后重发", "接收端关闭了连接，或连接中断（librelp 100"};
    QTest::newRow("shutting down with a receiver that does not answer") << Peer::NeverAnswers << false << -1
        << QStringList{"正在退出：已发出的 3 条记录没有得到", "下次启动时从记录 0 之后发送"};
}

void tst_VxlogForward::saysWhatIsWrongAndWhatToDo()
{
    QFETCH(Peer, peer);
    QFETCH(bool, tls);
    QFETCH(int, exitCode);
    QFETCH(QStringList, said);
    QTemporaryDir dir;
    RsyslogReceiver rsyslogd(dir.filePath(QStringLiteral("receiver")));
    DroppingRelpReceiver dropping(peer == Peer::NeverAnswers ? DroppingRelpReceiver::AtFirstMessage::NeverAnswer
                                                             : DroppingRelpReceiver::AtFirstMessage::Drop);
    QString url = dropping.url();
    if (peer == Peer::TlsReceiver)
        rsyslogd.enableTls({m_certificates.filePath("ca.pem"), m_certificates.filePath("server.pem"),
                            m_certificates.filePath("server.key"), QStringLiteral("client.test")});
    if (peer == Peer::TlsReceiver || peer == Peer::PlainReceiver) {
        START_RECEIVER(rsyslogd);
        url = rsyslogd.url();
    } else if (peer == Peer::Nobody) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        url = QStringLiteral("relp://127.0.0.1:%1").arg(closed.serverPort());
    }
    const QString log = dir.filePath(QStringLiteral("dbLog.db"));
    QVERIFY(appendRecords(log, 1, peer == Peer::DropsSessions ? 2 * RelpClient::kWindow : 3));
    QStringList arguments{"--db", log, "--to", url, "--since", "2000-01-01", "--cursor-file", dir.filePath("cursor")};
    if (tls)
        arguments += QStringList{"--tls", "--ca", "ca.pem", "--cert", "client.pem", "--key", "client.key", "--peer", "server.test"};
    Forwarder forwarder(arguments, m_certificates.path());
    QVERIFY(forwarder.started());
    if (exitCode >= 0) {
        QCOMPARE(forwarder.end(0), exitCode);
    } else if (peer == Peer::NeverAnswers) {
        QTRY_COMPARE_WITH_TIMEOUT(dropping.syslogFrames(), 3, kArrivalTimeoutMs);
        // The second signal ends the wait for the receiver's answers (two
        // signals that arrive together count as one: librelp's timeout then
        // ends the wait, later but with the same outcome).
        ::kill(static_cast<pid_t>(forwarder.pid()), SIGTERM);
        QTest::qWait(100);
        QCOMPARE(forwarder.end(SIGTERM), 0);
    } else if (peer == Peer::DropsSessions) {
        // Waits of 0.5 s and 1 s come before the second and third sessions,
        // at least 2 s before the fourth and 4 s before the fifth: a slower
        // machine only makes them fewer.
        QTRY_VERIFY_WITH_TIMEOUT(dropping.sessions() >= 3, kArrivalTimeoutMs);
        const double cpuBefore = forwarder.cpuSeconds();
        QTest::qWait(3000);
        QVERIFY2(dropping.sessions() <= 4, qPrintable(QStringLiteral("%1 sessions").arg(dropping.sessions())));
        // Waiting costs no CPU (a hot loop of reconnects used all of a core).
        QVERIFY2(forwarder.cpuSeconds() - cpuBefore < 0.3, qPrintable(QString::number(forwarder.cpuSeconds() - cpuBefore)));
        QCOMPARE(dropping.syslogFrames(), dropping.sessions());
        QCOMPARE(forwarder.end(SIGTERM), 0);
        // One outage, said once; it never ended, as nothing was acknowledged.
        QCOMPARE(outageNotices(forwarder.errors()), 1);
        QVERIFY2(!forwarder.errors().contains(QStringLiteral("已重新连接")), qPrintable(forwarder.errors()));
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(forwarder.errors().contains(said.first()), kArrivalTimeoutMs);
        QCOMPARE(forwarder.end(SIGTERM), 0);
    }
    for (const QString& text : said)
        QVERIFY2(forwarder.errors().contains(text), qPrintable(forwarder.errors()));
    QCOMPARE(cursorId(dir.filePath("cursor")), qint64(0));
}

void tst_VxlogForward::cursorSurvivesAKillBeforeItsRename()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cursor"));
    CursorFile cursor(path);
    QVERIFY(cursor.store(4711));
    const pid_t child = fork();
    if (child == 0) {
        CursorFile dying(path);
        if (dying.prepare(9999))
            ::raise(SIGKILL);
        _exit(3);
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    // Killed only once the new id was written: the old one is there, nothing else.
    QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL, "the child did not get as far as the write");
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"cursor"});
    qint64 id = 0;
    QCOMPARE(cursor.read(id), CursorFile::Read::Found);
    QCOMPARE(id, qint64(4711));

    // A forwarder started on it goes on after the old id.
    RsyslogReceiver receiver(dir.filePath(QStringLiteral("receiver")));
    START_RECEIVER(receiver);
    const QString log = dir.filePath(QStringLiteral("dbLog.db"));
    QVERIFY(appendRecords(log, 4710, 3));
    Forwarder forwarder({"--db", log, "--to", receiver.url(), "--cursor-file", path}, dir.path());
    QVERIFY(forwarder.started());
    QTRY_COMPARE_WITH_TIMEOUT(receivedIds(receiver), QList<int>{4712}, kArrivalTimeoutMs);
    QCOMPARE(forwarder.end(SIGTERM), 0);
    QCOMPARE(cursorId(path), qint64(4712));
    QVERIFY2(fileText(path).contains("\nrecord "), fileText(path).constData());
}

void tst_VxlogForward::refusesWhatCannotWork_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("cursor");  // null: no cursor file
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("reason");
    const QString to = QStringLiteral("relp://127.0.0.1:9");
    const QByteArray none;
    QTest::newRow("no receiver") << QStringList{} << none << 2 << "需要 --to";
    QTest::newRow("not a RELP address") << QStringList{"--to", "tcp://host:514"} << none << 2 << "relp://主机:端口";
    QTest::newRow("IPv6 without brackets") << QStringList{"--to", "relp://::1:2514"} << none << 2 << "relp://主机:端口";
    QTest::newRow("unknown facility") << QStringList{"--to", to, "--facility", "local8"} << none << 2 << "local8";
    QTest::newRow("host name with a blank") << QStringList{"--to", to, "--hostname", "plc 7"} << none << 2 << "--hostname";
    QTest::newRow("message size below the header's room") << QStringList{"--to", to, "--max-message-size", "1000"} << none << 2
                                                          << "--max-message-size";
    QTest::newRow("message size with a unit") << QStringList{"--to", to, "--max-message-size", "8k"} << none << 2
                                              << "--max-message-size";
    QTest::newRow("TLS file without --tls") << QStringList{"--to", to, "--ca", "ca.pem"} << none << 2 << "--tls";
    QTest::newRow("TLS without a CA") << QStringList{"--to", to, "--tls"} << none << 2 << "--ca";
    QTest::newRow("certificate without key") << QStringList{"--to", to, "--tls", "--ca", "a", "--cert", "c"} << none << 2 << "--key";
    QTest::newRow("names and fingerprints together")
        << QStringList{"--to", to, "--tls", "--ca", "a", "--peer", "a.test", "--peer",
                       "SHA1:00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33"}
        << none << 2 << "名称和指纹";
    QTest::newRow("CA file missing") << QStringList{"--to", to, "--tls", "--ca", "missing.pem"} << none << 1 << "missing.pem";
    QTest::newRow("log missing") << QStringList{"--to", to, "--db", "missing.db"} << none << 1 << "missing.db";
    QTest::newRow("cursor that holds no id") << QStringList{"--to", to, "--cursor-file", "cursor"} << QByteArray("12ab\n") << 1
                                             << "不是记录编号";
    QTest::newRow("cursor in a folder that does not exist")
        << QStringList{"--to", to, "--cursor-file", "no/such/folder/cursor"} << none << 1 << "游标文件";
}

void tst_VxlogForward::refusesWhatCannotWork()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, cursor);
    QFETCH(int, exitCode);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(appendRecords(dir.filePath(QStringLiteral("dbLog.db")), 1, 0));
    QFile file(dir.filePath(QStringLiteral("cursor")));
    QVERIFY(cursor.isNull() || (file.open(QIODevice::WriteOnly) && file.write(cursor) == cursor.size() && file.flush()));
    const Result result = runVxlog(QStringList{"forward"} + arguments, dir.path());
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(QString::fromUtf8(result.err).contains(reason), result.err.constData());
    QCOMPARE(fileText(file.fileName()), cursor);  // left as it was
}

QTEST_MAIN(tst_VxlogForward)
#include "tst_vxlog_forward.moc"
