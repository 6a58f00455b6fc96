// vxlog forward run as a process against a real rsyslogd that the test
// starts: every record arrives at least once, in order, through SIGKILLs of
// the forwarder and restarts of the receiver, with duplicates only within the
// stated window; TLS with certificates made here by openssl delivers when
// both sides verify and sends nothing otherwise; the cursor file survives a
// kill between its write and its rename; wrong arguments and unusable files
// are refused with a reason.
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

#include "CursorFile.h"
#include "RelpClient.h"
#include "RsyslogReceiver.h"
#include "VxlogTestSupport.h"

using namespace VxlogTest;

namespace {

const int kArrivalTimeoutMs = 60000;  // a bound for a stuck forwarder, not a speed check
const QRegularExpression kReceivedLine(QStringLiteral(
    "^(\\d+) test-host quarrow (\\w+) \\[vxlog@32473 id=\"(\\d+)\" type=\"(\\d+)\"\\] \\x{FEFF}记录 (\\d+)$"));

// A forwarder process whose standard error is kept as it comes.
class Forwarder
{
public:
    Forwarder(const QStringList& arguments, const QString& folder)
    {
        m_process.setWorkingDirectory(folder);
        m_process.start(QStringLiteral(VXLOG_BINARY), QStringList{"forward"} + arguments);
    }
    ~Forwarder() { end(SIGKILL); }

    bool started() { return m_process.waitForStarted(kRunTimeoutMs); }

    // The exit status after `signal`, -1 when it crashed or did not end.
    int end(int signal)
    {
        if (m_process.state() == QProcess::NotRunning)
            return exitCode();
        ::kill(static_cast<pid_t>(m_process.processId()), signal);
        if (!m_process.waitForFinished(kRunTimeoutMs))
            return -1;
        return exitCode();
    }

    // Waits for the process to end on its own.
    int finished()
    {
        return m_process.waitForFinished(kRunTimeoutMs) ? exitCode() : -1;
    }

    QString errors()
    {
        m_errors += m_process.readAllStandardError();
        return QString::fromUtf8(m_errors);
    }

private:
    int exitCode() const { return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1; }

    QProcess m_process;
    QByteArray m_errors;
};

void makeLog(const QString& path)
{
    TestDatabase db(path);
    createLogTable(db);
}

// `count` records "记录 <id>" of the five types in turn, in one transaction.
bool appendRecords(const QString& path, int first, int count)
{
    TestDatabase db(path);
    QSqlDatabase connection = db.db();
    connection.transaction();
    QSqlQuery insert(connection);
    insert.prepare(QStringLiteral("INSERT INTO SystemInfo(id, type, message) VALUES(?, ?, ?)"));
    for (int id = first; id < first + count; ++id) {
        insert.addBindValue(id);
        insert.addBindValue(id % 5);
        insert.addBindValue(QStringLiteral("记录 %1\n").arg(id));
        if (!insert.exec())
            return false;
    }
    return connection.commit();
}

QString chunkList(const QSet<int>& chunks)
{
    QList<int> sorted = chunks.values();
    std::sort(sorted.begin(), sorted.end());
    QStringList texts;
    for (int chunk : sorted)
        texts << QString::number(chunk);
    return texts.join(QLatin1Char(','));
}

// The ids of the records received so far, in the order they came.
QList<int> receivedIds(const RsyslogReceiver& receiver)
{
    QList<int> ids;
    for (const QByteArray& line : receiver.received().split('\n')) {
        const QRegularExpressionMatch match = kReceivedLine.match(QString::fromUtf8(line));
        if (match.hasMatch())
            ids << match.captured(3).toInt();
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

bool run(const QString& program, const QStringList& arguments, const QString& folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    return process.waitForFinished(kRunTimeoutMs) && process.exitStatus() == QProcess::NormalExit
           && process.exitCode() == 0;
}

// A CA, and with it a certificate for the receiver (server.test) and one for
// the forwarder (client.test); a second CA with a client certificate of the
// same name; both in PEM files of `folder`.
bool makeCertificates(const QString& folder)
{
    const QString openssl = QStringLiteral("openssl");
    for (const QString& ca : {QStringLiteral("ca"), QStringLiteral("otherca")}) {
        if (!run(openssl, {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2",
                           "-subj", "/CN=" + ca, "-addext", "basicConstraints=critical,CA:TRUE",
                           "-addext", "keyUsage=critical,keyCertSign", "-keyout", ca + ".key", "-out", ca + ".pem"},
                 folder))
            return false;
    }
    struct Leaf { QString name, ca, dns; };
    for (const Leaf& leaf : {Leaf{"server", "ca", "server.test"}, Leaf{"client", "ca", "client.test"},
                             Leaf{"rogue", "otherca", "client.test"}}) {
        QFile extensions(QDir(folder).filePath(leaf.name + ".ext"));
        if (!extensions.open(QIODevice::WriteOnly)
            || extensions.write(("subjectAltName=DNS:" + leaf.dns + "\nbasicConstraints=CA:FALSE\n").toUtf8()) < 0)
            return false;
        extensions.close();
        if (!run(openssl, {"req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                           "-subj", "/CN=" + leaf.dns, "-keyout", leaf.name + ".key", "-out", leaf.name + ".csr"},
                 folder)
            || !run(openssl, {"x509", "-req", "-in", leaf.name + ".csr", "-CA", leaf.ca + ".pem", "-CAkey", leaf.ca + ".key",
                              "-CAcreateserial", "-days", "2", "-extfile", leaf.name + ".ext", "-out", leaf.name + ".pem"},
                    folder))
            return false;
    }
    return true;
}

QString sha256Fingerprint(const QString& folder, const QString& certificate)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(QStringLiteral("openssl"), {"x509", "-in", certificate, "-noout", "-fingerprint", "-sha256"});
    process.waitForFinished(kRunTimeoutMs);
    // "sha256 Fingerprint=AB:CD:…"; given in lower case, as an operator may copy it.
    return QStringLiteral("sha256:") + QString::fromLatin1(process.readAllStandardOutput()).section(QLatin1Char('='), 1).trimmed().toLower();
}

} // namespace

class TestVxlogForward : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void deliversEveryRecordThroughKillsAndRestarts();
    void followsTheLogFile_data();
    void followsTheLogFile();
    void tls_data();
    void tls();
    void cursorSurvivesAKillBeforeItsRename();
    void refusesWhatCannotWork_data();
    void refusesWhatCannotWork();

private:
    QTemporaryDir m_certificates;
};

void TestVxlogForward::initTestCase()
{
    const QString missing = RsyslogReceiver::missingPieces();
    if (!missing.isEmpty())
        QSKIP(qPrintable(missing));
    QVERIFY2(makeCertificates(m_certificates.path()), "openssl could not make the test certificates");
}

void TestVxlogForward::deliversEveryRecordThroughKillsAndRestarts()
{
    const int chunks = 40;
    const int chunkSize = 500;
    const int records = chunks * chunkSize;
    const quint32 seed = qEnvironmentVariableIsSet("VX_FORWARD_SEED") ? qgetenv("VX_FORWARD_SEED").toUInt()
                                                                      : QRandomGenerator::securelySeeded().generate();
    qInfo("random seed %u (set VX_FORWARD_SEED=%u to repeat this run)", seed, seed);
    QRandomGenerator random(seed);
    // Not after the last chunk: the forwarder stopped at the end is the one
    // that sent the last record, so its cursor must hold that record's id.
    QSet<int> killAt;
    while (killAt.size() < 5)
        killAt << random.bounded(chunks - 1);
    QSet<int> restartAt;
    while (restartAt.size() < 2)
        restartAt << random.bounded(chunks);

    QTemporaryDir dir;
    RsyslogReceiver receiver(dir.filePath(QStringLiteral("receiver")));
    QString why;
    if (!receiver.start(why))
        QSKIP(qPrintable(QStringLiteral("rsyslogd cannot be started here: %1").arg(why)));
    const QString log = dir.filePath(QStringLiteral("dbLog.db"));
    makeLog(log);
    const QStringList arguments{"--db", log, "--to", receiver.url(), "--cursor-file", dir.filePath("cursor"),
                                "--hostname", "test-host"};

    auto forwarder = std::make_unique<Forwarder>(arguments, dir.path());
    QVERIFY(forwarder->started());
    // Without a cursor it starts after the records already there: the first
    // are written once it has stored that starting point.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("cursor")), kArrivalTimeoutMs);
    QString errors;
    for (int chunk = 0; chunk < chunks; ++chunk) {
        // The moments of the stops and kills are random by design; what
        // follows is checked whatever they were.
        const bool restart = restartAt.contains(chunk);
        const int noticesBefore = outageNotices(forwarder->errors());
        const int reconnectsBefore = forwarder->errors().count(QStringLiteral("已重新连接"));
        if (restart) {
            QThread::msleep(random.bounded(150));
            QVERIFY(receiver.stop());
        }
        QVERIFY(appendRecords(log, chunk * chunkSize + 1, chunkSize));
        if (restart) {
            // Records wait while the receiver is down: the forwarder says so
            // once, and again when it is back.
            QTRY_VERIFY2_WITH_TIMEOUT(outageNotices(forwarder->errors()) == noticesBefore + 1, qPrintable(forwarder->errors()),
                                      kArrivalTimeoutMs);
            QVERIFY2(receiver.start(why), qPrintable(why));
            QTRY_VERIFY2_WITH_TIMEOUT(forwarder->errors().count(QStringLiteral("已重新连接")) == reconnectsBefore + 1,
                                      qPrintable(forwarder->errors()), kArrivalTimeoutMs);
            QCOMPARE(outageNotices(forwarder->errors()), noticesBefore + 1);
        }
        if (killAt.contains(chunk)) {
            QThread::msleep(random.bounded(150));
            QCOMPARE(forwarder->end(SIGKILL), -1);
            errors += forwarder->errors();
            forwarder = std::make_unique<Forwarder>(arguments, dir.path());
            QVERIFY(forwarder->started());
        }
    }
    const QByteArray last = QByteArrayLiteral("id=\"") + QByteArray::number(records) + '"';
    QTRY_VERIFY_WITH_TIMEOUT(receiver.received().contains(last), kArrivalTimeoutMs);
    QVERIFY2(forwarder->end(SIGTERM) == 0, qPrintable(forwarder->errors()));
    errors += forwarder->errors();
    QCOMPARE(fileText(dir.filePath("cursor")).trimmed(), QByteArray::number(records));
    QVERIFY(receiver.stop());

    // Every line as rsyslog parsed it; each id at least once, first seen in order.
    const QList<QByteArray> lines = receiver.received().split('\n');
    const QVector<int> priOfType{133, 134, 134, 131, 133};
    const QStringList nameOfType{"param", "user", "status", "alarm", "info"};
    QVector<int> timesSeen(records + 1);
    int newest = 0;
    int lineCount = 0;
    for (const QByteArray& line : lines) {
        if (line.isEmpty())
            continue;
        ++lineCount;
        const QRegularExpressionMatch match = kReceivedLine.match(QString::fromUtf8(line));
        QVERIFY2(match.hasMatch(), line.constData());
        const int id = match.captured(3).toInt();
        const int type = match.captured(4).toInt();
        QVERIFY2(id >= 1 && id <= records && match.captured(5).toInt() == id, line.constData());
        QCOMPARE(type, id % 5);
        QCOMPARE(match.captured(1).toInt(), priOfType.at(type));
        QCOMPARE(match.captured(2), nameOfType.at(type));
        if (timesSeen[id]++ == 0) {
            QVERIFY2(id > newest, qPrintable(QStringLiteral("record %1 first arrived after record %2").arg(id).arg(newest)));
            newest = id;
        }
    }
    QCOMPARE(newest, records);
    QString missing;
    for (int id = 1; id <= records; ++id) {
        if (timesSeen.at(id) == 0 && (id == 1 || timesSeen.at(id - 1) > 0))
            missing += QStringLiteral(" %1").arg(id);
        if (timesSeen.at(id) == 0 && (id == records || timesSeen.at(id + 1) > 0))
            missing += QStringLiteral("-%1").arg(id);
    }
    QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("never received:%1; kills after chunks %2, receiver restarts at %3; %4")
                                               .arg(missing, chunkList(killAt), chunkList(restartAt), errors)));
    const int duplicates = lineCount - records;
    const int bound = killAt.size() * 2 * RelpClient::kWindow + restartAt.size() * RelpClient::kWindow;
    qInfo("%d lines for %d records (%d sent twice; at most %d allowed)", lineCount, records, duplicates, bound);
    QVERIFY2(duplicates <= bound, qPrintable(errors));
}

enum class LogEvent { ReplacedByRename, DeletedAndRecreated, IdsStartAgain, LockedLong };
Q_DECLARE_METATYPE(LogEvent)

void TestVxlogForward::followsTheLogFile_data()
{
    QTest::addColumn<LogEvent>("event");
    QTest::addColumn<QString>("notice");
    QTest::addColumn<QList<int>>("received");  // ids, in the order they arrive
    QTest::newRow("replaced by a rename") << LogEvent::ReplacedByRename << "已换成另一个文件" << QList<int>{1, 2, 3, 1, 2};
    QTest::newRow("deleted and made again") << LogEvent::DeletedAndRecreated << "已换成另一个文件" << QList<int>{1, 2, 3, 1, 2};
    QTest::newRow("rows deleted, ids start again") << LogEvent::IdsStartAgain << "小于已读到的" << QList<int>{1, 2, 3, 1, 2};
    // Longer than the reader's busy timeout.
    QTest::newRow("locked by another program") << LogEvent::LockedLong << "被其他程序锁定" << QList<int>{1, 2, 3, 4, 5};
}

void TestVxlogForward::followsTheLogFile()
{
    QFETCH(LogEvent, event);
    QFETCH(QString, notice);
    QFETCH(QList<int>, received);
    QTemporaryDir dir;
    RsyslogReceiver receiver(dir.filePath(QStringLiteral("receiver")));
    QString why;
    if (!receiver.start(why))
        QSKIP(qPrintable(QStringLiteral("rsyslogd cannot be started here: %1").arg(why)));
    const QString log = dir.filePath(QStringLiteral("dbLog.db"));
    makeLog(log);
    QVERIFY(appendRecords(log, 1, 3));
    Forwarder forwarder({"--db", log, "--to", receiver.url(), "--since", "2000-01-01", "--hostname", "test-host"}, dir.path());
    QVERIFY(forwarder.started());
    QTRY_VERIFY_WITH_TIMEOUT(receiver.received().contains("id=\"3\""), kArrivalTimeoutMs);

    switch (event) {
    case LogEvent::ReplacedByRename: {
        const QString replacement = dir.filePath(QStringLiteral("new.db"));
        makeLog(replacement);
        QVERIFY(appendRecords(replacement, 1, 2));
        QCOMPARE(::rename(QFile::encodeName(replacement).constData(), QFile::encodeName(log).constData()), 0);
        break;
    }
    case LogEvent::DeletedAndRecreated:
        QVERIFY(QFile::remove(log));
        makeLog(log);
        QVERIFY(appendRecords(log, 1, 2));
        break;
    case LogEvent::IdsStartAgain: {
        TestDatabase db(log);
        QVERIFY(db.exec(QStringLiteral("DELETE FROM SystemInfo")));
        QVERIFY(db.exec(QStringLiteral("DELETE FROM sqlite_sequence")));
        QVERIFY(appendRecords(log, 1, 2));
        break;
    }
    case LogEvent::LockedLong: {
        TestDatabase db(log);
        QVERIFY(db.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        QTRY_VERIFY_WITH_TIMEOUT(forwarder.errors().contains(notice), kArrivalTimeoutMs);
        QVERIFY(db.exec(QStringLiteral("COMMIT")));
        QVERIFY(appendRecords(log, 4, 2));
        break;
    }
    }
    QTRY_COMPARE_WITH_TIMEOUT(receivedIds(receiver), received, kArrivalTimeoutMs);
    QCOMPARE(forwarder.end(SIGTERM), 0);
    QCOMPARE(forwarder.errors().count(notice), 1);
}

void TestVxlogForward::tls_data()
{
    const QString ca = m_certificates.filePath("ca.pem");
    const QString otherCa = m_certificates.filePath("otherca.pem");
    QTest::addColumn<QStringList>("tlsArguments");
    QTest::addColumn<bool>("delivers");
    QTest::addColumn<QString>("reason");  // in the message of a refusal

    QTest::newRow("both verified, receiver by name")
        << QStringList{"--ca", ca, "--cert", "client.pem", "--key", "client.key", "--peer", "server.test"} << true << QString();
    QTest::newRow("both verified, receiver by fingerprint")
        << QStringList{"--ca", ca, "--cert", "client.pem", "--key", "client.key", "--peer",
                       sha256Fingerprint(m_certificates.path(), "server.pem")}
        << true << QString();
    QTest::newRow("client certificate of another CA")
        << QStringList{"--ca", ca, "--cert", "rogue.pem", "--key", "rogue.key", "--peer", "server.test"} << false
        << QStringLiteral("不接受本机的证书");
    QTest::newRow("receiver signed by a CA not trusted here")
        << QStringList{"--ca", otherCa, "--cert", "client.pem", "--key", "client.key", "--peer", "server.test"} << false
        << QStringLiteral("未通过验证");
    QTest::newRow("receiver name not the one permitted")
        << QStringList{"--ca", ca, "--cert", "client.pem", "--key", "client.key", "--peer", "other.test"} << false
        << QStringLiteral("未通过验证");
    QTest::newRow("receiver fingerprint not the one permitted")
        << QStringList{"--ca", ca, "--cert", "client.pem", "--key", "client.key", "--peer",
                       sha256Fingerprint(m_certificates.path(), "client.pem")}
        << false << QStringLiteral("未通过验证");
}

void TestVxlogForward::tls()
{
    QFETCH(QStringList, tlsArguments);
    QFETCH(bool, delivers);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    RsyslogReceiver receiver(dir.filePath(QStringLiteral("receiver")));
    receiver.enableTls({m_certificates.filePath("ca.pem"), m_certificates.filePath("server.pem"),
                        m_certificates.filePath("server.key"), QStringLiteral("client.test")});
    QString why;
    if (!receiver.start(why))
        QSKIP(qPrintable(QStringLiteral("rsyslogd cannot be started here: %1").arg(why)));
    const QString log = dir.filePath(QStringLiteral("dbLog.db"));
    makeLog(log);
    QVERIFY(appendRecords(log, 1, 3));

    Forwarder forwarder(QStringList{"--db", log, "--to", receiver.url(), "--since", "2000-01-01", "--hostname", "test-host",
                                    "--tls"} + tlsArguments,
                        m_certificates.path());
    QVERIFY(forwarder.started());
    if (delivers) {
        QTRY_VERIFY_WITH_TIMEOUT(receiver.received().contains("id=\"3\""), kArrivalTimeoutMs);
        QCOMPARE(forwarder.end(SIGINT), 0);
        QCOMPARE(receiver.received().count('\n'), 3);
        return;
    }
    QCOMPARE(forwarder.finished(), 1);
    QVERIFY2(forwarder.errors().contains(reason), qPrintable(forwarder.errors()));
    QVERIFY(receiver.stop());
    QCOMPARE(receiver.received(), QByteArray());
}

void TestVxlogForward::cursorSurvivesAKillBeforeItsRename()
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
    QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL, "the child did not get as far as the write");

    // The child got past the write of the new id (it raised SIGKILL only
    // then); the cursor still holds the old one, and nothing else is left.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"cursor"});
    qint64 id = 0;
    QCOMPARE(cursor.read(id), CursorFile::Read::Found);
    QCOMPARE(id, qint64(4711));

    // A forwarder started on it goes on after the old id.
    RsyslogReceiver receiver(dir.filePath(QStringLiteral("receiver")));
    QString why;
    if (!receiver.start(why))
        QSKIP(qPrintable(QStringLiteral("rsyslogd cannot be started here: %1").arg(why)));
    const QString log = dir.filePath(QStringLiteral("dbLog.db"));
    makeLog(log);
    QVERIFY(appendRecords(log, 4710, 3));
    Forwarder forwarder({"--db", log, "--to", receiver.url(), "--cursor-file", path, "--hostname", "test-host"}, dir.path());
    QVERIFY(forwarder.started());
    QTRY_VERIFY_WITH_TIMEOUT(receiver.received().contains("id=\"4712\""), kArrivalTimeoutMs);
    QCOMPARE(forwarder.end(SIGTERM), 0);
    QCOMPARE(receiver.received().count('\n'), 1);
    QCOMPARE(fileText(path), QByteArray("4712\n"));
}

void TestVxlogForward::refusesWhatCannotWork_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("cursorContent");  // null: no cursor file
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("reason");
    const QString to = QStringLiteral("relp://127.0.0.1:9");
    const QByteArray none;

    QTest::newRow("no receiver") << QStringList{} << none << 2 << "需要 --to";
    QTest::newRow("not a RELP address") << QStringList{"--to", "tcp://host:514"} << none << 2 << "relp://主机:端口";
    QTest::newRow("IPv6 without brackets") << QStringList{"--to", "relp://::1:2514"} << none << 2 << "relp://主机:端口";
    QTest::newRow("unknown facility") << QStringList{"--to", to, "--facility", "local8"} << none << 2 << "local8";
    QTest::newRow("host name with a blank") << QStringList{"--to", to, "--hostname", "plc 7"} << none << 2 << "--hostname";
    QTest::newRow("TLS file without --tls") << QStringList{"--to", to, "--ca", "ca.pem"} << none << 2 << "--tls";
    QTest::newRow("TLS without a CA") << QStringList{"--to", to, "--tls"} << none << 2 << "--ca";
    QTest::newRow("certificate without key") << QStringList{"--to", to, "--tls", "--ca", "ca.pem", "--cert", "c.pem"} << none << 2
                                             << "--key";
    QTest::newRow("names and fingerprints together")
        << QStringList{"--to", to, "--tls", "--ca", "ca.pem", "--peer", "a.test", "--peer",
                       "SHA1:00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33"}
        << none << 2 << "名称和指纹";
    QTest::newRow("CA file missing") << QStringList{"--to", to, "--tls", "--ca", "missing.pem"} << none << 1 << "missing.pem";
    QTest::newRow("log missing") << QStringList{"--to", to, "--db", "missing.db"} << none << 1 << "missing.db";
    QTest::newRow("cursor that holds no id") << QStringList{"--to", to, "--cursor-file", "cursor"} << QByteArray("12ab\n") << 1
                                             << "不是记录编号";
    QTest::newRow("cursor in a folder that does not exist")
        << QStringList{"--to", to, "--cursor-file", "no/such/folder/cursor"} << none << 1 << "游标文件";
}

void TestVxlogForward::refusesWhatCannotWork()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, cursorContent);
    QFETCH(int, exitCode);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    makeLog(dir.filePath(QStringLiteral("dbLog.db")));
    if (!cursorContent.isNull()) {
        QFile cursor(dir.filePath(QStringLiteral("cursor")));
        QVERIFY(cursor.open(QIODevice::WriteOnly) && cursor.write(cursorContent) == cursorContent.size());
    }
    const Result result = runVxlog(QStringList{"forward"} + arguments, dir.path());
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(QString::fromUtf8(result.err).contains(reason), result.err.constData());
    if (!cursorContent.isNull())
        QCOMPARE(fileText(dir.filePath(QStringLiteral("cursor"))), cursorContent);
}

QTEST_MAIN(TestVxlogForward)
#include "tst_vxlog_forward.moc"
