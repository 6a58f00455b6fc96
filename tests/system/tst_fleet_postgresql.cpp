// The fleet's central database end to end: the test's own PostgreSQL with
// the tables and roles docs/ ships, and rsyslogd with the receiver
// configured as docs/ ships it (vxlog store writing as fleet_writer), two
// machines forwarding with `vxlog forward` (one killed and started again).
// vxlog must read each machine back from PostgreSQL (as fleet_reader) as
// from its own file, and a server that is gone is a failure, never an empty
// answer. Every record sent, whatever it holds and whatever goes wrong on
// the way, ends in fleet_log or fleet_log_rejects with its id. Skips only
// where PostgreSQL cannot be started here.
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <vxSyslog/DayExport.h>

#include "BuiltPath.h"
#include "FleetReceiver.h"
#include "PostgresServer.h"
#include "VxlogTestSupport.h"

#include <functional>
#include <signal.h>

using namespace VxlogTest;

namespace {

const QString kDay = QStringLiteral("2026-12-09");

// Messages a store must keep byte for byte: line ends inside and at the
// end (LF, CR LF, none, several), quotes and backslashes that SQL and
// syslog escape, Chinese, an empty one.
QString messageOf(int n)
{
    static const QStringList shapes{QStringLiteral("记录 %1 主轴温度\n"),
                                    QStringLiteral("record %1 'quoted' \"twice\" \\back\\slash\n"),
                                    QStringLiteral("record %1 first line\nsecond line\n"),
                                    QStringLiteral("record %1 crlf\r\n"),
                                    QStringLiteral("record %1 without a line end"),
                                    QStringLiteral("record %1 ] [x=\"y\"]\ttab, two ends\n\n"),
                                    QStringLiteral("\n")};
    const QString shape = shapes.at(n % shapes.size());
    return shape.contains(QLatin1String("%1")) ? shape.arg(n) : shape;
}

bool appendRecords(const QString& path, int first, int count)
{
    TestDatabase db(path);
    createLogTable(db);
    db.exec(QStringLiteral("BEGIN"));
    for (int n = first; n < first + count; ++n) {
        const QString at = QStringLiteral("%1 %2:%3:%4").arg(kDay).arg(n % 24, 2, 10, QLatin1Char('0'))
                               .arg(n % 60, 2, 10, QLatin1Char('0')).arg((n * 7) % 60, 2, 10, QLatin1Char('0'));
        if (!db.insertRow(at, n % 5, messageOf(n)))
            return false;
    }
    return db.exec(QStringLiteral("COMMIT"));
}

// A `vxlog forward` that runs until stopped or killed.
class Forwarder
{
public:
    void start(const QStringList& arguments)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(vxtest::built(VXLOG_BINARY), QStringList{"forward"} + arguments);
        m_process.waitForStarted();
    }
    void kill()
    {
        ::kill(static_cast<pid_t>(m_process.processId()), SIGKILL);
        m_process.waitForFinished();
    }
    ~Forwarder()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(20000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

private:
    QProcess m_process;
};

qint64 countOf(const QStringList& arguments, const QString& folder)
{
    const Result r = runVxlog(QStringList{"query", "--count"} + arguments, folder);
    return r.exitCode == 0 ? r.out.trimmed().toLongLong() : -1;
}

// Reads a running follow's output until `done` holds or a generous deadline passes.
bool readUntil(QProcess& follow, QByteArray& out, QByteArray& err, const std::function<bool()>& done)
{
    for (QDeadlineTimer deadline(90000); !deadline.hasExpired() && !done();) {
        follow.waitForReadyRead(100);
        out += follow.readAllStandardOutput();
        err += follow.readAllStandardError();
    }
    return done();
}

// What goes wrong while a machine's records are forwarded.
enum Fault {
    NoFault,
    PrivilegeRevoked,   // the writer may not insert until fleet_roles.sql runs again
    DatabaseStopped,    // PostgreSQL stopped, and started again
    TableRefusesOne,    // a constraint the administrator added refuses one record
    ReceiverRestarted,  // rsyslogd stopped and started while PostgreSQL is stopped
    SpoolFileRemoved,   // PostgreSQL stopped, the first spooled batch deleted by hand
};

// A message longer than a screen and shorter than the forwarder's default limit.
const QByteArray kLongMessage = QByteArray(7000, 'm') + "end";

QString longMessageShown()
{
    return QStringLiteral("%1 bytes %2").arg(kLongMessage.size())
        .arg(QString::fromLatin1(QCryptographicHash::hash(kLongMessage, QCryptographicHash::Md5).toHex()));
}

} // namespace

class tst_FleetPostgresql : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void eachMachineAsItsOwnFile_data();
    void eachMachineAsItsOwnFile();
    void allMachinesInOneTimeline();
    void followSeesEachNewRecordOnce();
    void followWaitsOutALostServer();
    void everyRecordIsStoredOrRejected_data();
    void everyRecordIsStoredOrRejected();
    void lostServerIsAFailure_data();
    void lostServerIsAFailure();
    void cleanupTestCase();

private:
    QString machine(const QString& host) const { return m_work.filePath(host + QStringLiteral(".db")); }
    QStringList forwardArguments(const QString& host) const { return m_receiver->forwardArguments(host, machine(host)); }

    QByteArray centralRows(const QString& host) const;
    bool psqlFile(const QString& file) const;
    void waitForNews(qint64 storeFrom, qint64 rsyslogFrom, const QString& news) const;

    QTemporaryDir m_serverDir;
    QTemporaryDir m_work;
    std::unique_ptr<PostgresServer> m_server;
    std::unique_ptr<FleetReceiver> m_receiver;
    QString m_url;
};

void tst_FleetPostgresql::initTestCase()
{
    QVERIFY(m_serverDir.isValid() && m_work.isValid());
    m_server = std::make_unique<PostgresServer>(m_serverDir.path());
    QString why;
    if (!m_server->start(why))
        QSKIP(qPrintable(QStringLiteral("PostgreSQL cannot be started here: ") + why));
    QVERIFY2(m_server->psql(QStringLiteral("postgres"), {"-c", "CREATE DATABASE fleet TEMPLATE template0 ENCODING 'UTF8' LOCALE 'C'"}, why),
             qPrintable(why));
    QVERIFY2(m_server->psql(QStringLiteral("fleet"), {"-f", vxtest::built(VX_SOURCE_DIR "/docs/fleet_log.sql")}, why), qPrintable(why));
    QVERIFY2(m_server->psql(QStringLiteral("fleet"), {"-f", vxtest::built(VX_SOURCE_DIR "/docs/fleet_roles.sql")}, why), qPrintable(why));
    // Read as the documented reader, written as the documented writer.
    m_url = m_server->url(QStringLiteral("fleet"), QStringLiteral("fleet_reader"));

    m_receiver = std::make_unique<FleetReceiver>(m_work.path());
    QVERIFY2(m_receiver->makeCertificates({"plc-7", "plc-8"}, why), qPrintable(why));
    QVERIFY2(m_receiver->start(vxtest::built(VX_SOURCE_DIR "/docs/rsyslog-fleet-postgresql.conf"),
                               m_server->url(QStringLiteral("fleet"), QStringLiteral("fleet_writer")), why),
             qPrintable(why));

    QVERIFY(appendRecords(machine("plc-7"), 0, 400));
    QVERIFY(appendRecords(machine("plc-8"), 1000, 300));
    const QStringList seven{"--db", m_url, "--host", "plc-7"};
    const QStringList eight{"--db", m_url, "--host", "plc-8"};
    {
        Forwarder plc8;
        plc8.start(forwardArguments("plc-8"));
        {
            // Killed once some of its records are stored; more are written
            // meanwhile, and a new forwarder goes on after its cursor.
            Forwarder plc7;
            plc7.start(forwardArguments("plc-7"));
            QTRY_VERIFY_WITH_TIMEOUT(countOf(seven, m_work.path()) > 0, 60000);
            plc7.kill();
        }
        QVERIFY(appendRecords(machine("plc-7"), 400, 200));
        Forwarder plc7;
        plc7.start(forwardArguments("plc-7"));
        QTRY_COMPARE_WITH_TIMEOUT(countOf(seven, m_work.path()), qint64(600), 120000);
        QTRY_COMPARE_WITH_TIMEOUT(countOf(eight, m_work.path()), qint64(300), 120000);
    }
    QByteArray rejects;
    QVERIFY2(m_server->select(QStringLiteral("fleet"), QStringLiteral("SELECT host, id, reason FROM fleet_log_rejects"), rejects, why),
             qPrintable(why));
    QVERIFY2(rejects.isEmpty(), rejects.constData());
}

void tst_FleetPostgresql::cleanupTestCase()
{
    if (m_receiver)
        m_receiver->stop();
    if (m_server)
        m_server->stop();
}

void tst_FleetPostgresql::eachMachineAsItsOwnFile_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QStringList>("arguments");
    // Every record and its day export of both machines (plc-7's forwarder
    // was killed on the way); the forms and filters of the central reader
    // are the same for any host, so they run on one.
    const QString seven = QStringLiteral("plc-7");
    QTest::newRow("plc-8, every record as text") << QStringLiteral("plc-8") << QStringList();
    QTest::newRow("plc-7, every record as text") << seven << QStringList();
    QTest::newRow("json") << seven << QStringList{"-o", "json"};
    QTest::newRow("alarms as csv") << seven << QStringList{"-o", "csv", "-p", "alarm"};
    QTest::newRow("last 25 of a pattern") << seven << QStringList{"-n", "25", "-g", "LINE|quoted"};
    QTest::newRow("a span, newest first") << seven << QStringList{"-S", kDay + " 05:00:00", "-U", kDay + " 09:30:00", "-r", "-o", "short"};
    QTest::newRow("counted") << seven << QStringList{"--count"};
}

void tst_FleetPostgresql::eachMachineAsItsOwnFile()
{
    QFETCH(QString, host);
    QFETCH(QStringList, arguments);
    const Result own = runVxlog(QStringList{"query", "--db", machine(host)} + arguments, m_work.path());
    const Result central = runVxlog(QStringList{"query", "--db", m_url, "--host", host} + arguments, m_work.path());
    QVERIFY2(own.exitCode == 0 && !own.out.isEmpty(), own.err.constData());
    QVERIFY2(central.exitCode == 0, central.err.constData());
    QCOMPARE(central.out, own.out);
    if (!arguments.isEmpty())
        return;
    QTemporaryDir ownDir;
    QTemporaryDir centralDir;
    const QStringList day{"export", "--day", kDay, "-p", "2", "--dir"};
    QCOMPARE(runVxlog(day + QStringList{ownDir.path(), "--db", machine(host)}, m_work.path()).exitCode, 0);
    QCOMPARE(runVxlog(day + QStringList{centralDir.path(), "--db", m_url, "--host", host}, m_work.path()).exitCode, 0);
    const QByteArray ownFile = readFile(SystemLog::DayExport::filePath(ownDir.path(), kDay));
    QVERIFY(!ownFile.isEmpty());
    QCOMPARE(readFile(SystemLog::DayExport::filePath(centralDir.path(), kDay)), ownFile);
}

// Both machines at once: the merge of the two files, machine by machine
// named, equals the central table's listing (time, then host, then id:
// "plc-7" sorts before "plc-8" as the files are given).
void tst_FleetPostgresql::allMachinesInOneTimeline()
{
    const QStringList files{"--db", machine("plc-7"), "--db", machine("plc-8")};
    const Result own = runVxlog(QStringList{"query", "-o", "json"} + files, m_work.path());
    const Result central = runVxlog({"query", "-o", "json", "--db", m_url}, m_work.path());
    QCOMPARE(central.exitCode, 0);
    QCOMPARE(central.out.count('\n'), 900);
    QCOMPARE(central.out, own.out);
    const Result stats = runVxlog({"stats", "--db", m_url, "--host", "plc-7", "--host", "plc-8"}, m_work.path());
    QVERIFY2(stats.out.contains("记录总数：900\n") && stats.out.contains(("中央数据库：" + m_url + "\n").toUtf8()),
             stats.out.constData());
    // A host name that reads like SQL or like a parameter is a name.
    QCOMPARE(countOf({"--db", m_url, "--host", "it's $1", "--host", "plc-7"}, m_work.path()), qint64(600));
}

// follow over the central table: the newest record, then what a machine
// forwards afterwards, once each, naming the machine.
void tst_FleetPostgresql::followSeesEachNewRecordOnce()
{
    QProcess follow;
    follow.start(vxtest::built(VXLOG_BINARY), {"follow", "--db", m_url, "--host", "plc-7", "--host", "plc-8", "-n", "1",
                                                "-o", "json", "-p", "alarm"});
    QByteArray out;
    QByteArray err;
    const auto linesUntil = [&](int lines) { return readUntil(follow, out, err, [&] { return out.count('\n') >= lines; }); };
    QVERIFY2(linesUntil(1), out.constData());
    QVERIFY(appendRecords(machine("plc-8"), 1300, 10));  // two alarms: 1303 and 1308
    {
        Forwarder plc8;
        plc8.start(forwardArguments("plc-8"));
        QVERIFY2(linesUntil(3), out.constData());
    }
    follow.terminate();
    QVERIFY(follow.waitForFinished(kRunTimeoutMs));
    out += follow.readAllStandardOutput();
    const QList<QByteArray> lines = out.trimmed().split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines.at(1).contains("\"id\":304,") && lines.at(1).contains("\"host\":\"plc-8\"")
                 && lines.at(1).contains("record 1303 'quoted'"),
             lines.at(1).constData());
    QVERIFY2(lines.at(2).contains("\"id\":309,") && lines.at(2).contains("\"message\":\"\\n\""), lines.at(2).constData());
}

// A server that goes away while follow runs is said once on standard
// error; follow goes on when it is back, with what was stored meanwhile.
void tst_FleetPostgresql::followWaitsOutALostServer()
{
    QProcess follow;
    follow.start(vxtest::built(VXLOG_BINARY), {"follow", "--db", m_url, "--host", "plc-7", "-n", "1", "-o", "short"});
    QByteArray out;
    QByteArray err;
    const auto waitFor = [&](const std::function<bool()>& done) { return readUntil(follow, out, err, done); };
    QVERIFY2(waitFor([&] { return out.count('\n') == 1; }), out.constData());
    m_server->stop(true);
    QVERIFY2(waitFor([&] { return err.contains("与数据库服务器的连接已断开") || err.contains("无法连接数据库服务器"); }),
             err.constData());
    QString why;
    QVERIFY2(m_server->restart(why), qPrintable(why));
    QVERIFY(appendRecords(machine("plc-7"), 2000, 3));
    {
        Forwarder plc7;
        plc7.start(forwardArguments("plc-7"));
        QVERIFY2(waitFor([&] { return out.count('\n') == 4; }), out.constData());
    }
    follow.terminate();
    QVERIFY(follow.waitForFinished(kRunTimeoutMs));
    QCOMPARE(follow.exitCode(), 0);
    QVERIFY2(!out.contains("plc-7") && out.contains("记录 2002 主轴温度\n"), out.constData());
    QVERIFY2(err.count('\n') == 1, err.constData());
}

// Each of a machine's records as the central tables hold it, one a line:
// id|datetime|type|message|reject|message as sent. A record not in
// fleet_log shows "-" for its columns there; one not in fleet_log_rejects
// "-" for those ("noted": stored with a change, "rejected": not stored). A
// message longer than 64 bytes shows its length and MD5.
QByteArray tst_FleetPostgresql::centralRows(const QString& host) const
{
    const QString sql = QStringLiteral(
        "SELECT coalesce(f.id, r.id), coalesce(f.datetime, '-'), "
        " CASE WHEN f.id IS NULL THEN '-' ELSE coalesce(f.type::text, 'NULL') END, "
        " CASE WHEN octet_length(f.message) > 64 THEN octet_length(f.message) || ' bytes ' || md5(f.message) "
        "      ELSE coalesce(f.message, '-') END, "
        " CASE r.stored WHEN true THEN 'noted' WHEN false THEN 'rejected' ELSE '-' END, "
        " coalesce(encode(r.message, 'escape'), '-') "
        "FROM fleet_log f FULL JOIN fleet_log_rejects r ON r.host = f.host AND r.id = f.id "
        "WHERE coalesce(f.host, r.host) = '%1' ORDER BY 1").arg(QString(host).replace(QLatin1Char('\''), QStringLiteral("''")));
    QByteArray rows;
    QString why;
    return m_server->select(QStringLiteral("fleet"), sql, rows, why) ? rows : why.toUtf8();
}

bool tst_FleetPostgresql::psqlFile(const QString& file) const
{
    QString why;
    const bool done = m_server->psql(QStringLiteral("fleet"), {"-f", file}, why);
    if (!done)
        qWarning("%s", qPrintable(why));
    return done;
}

// Both places an administrator looks say `news`: vxlog store's output file,
// and rsyslog's own log (which hears it with the next batch).
void tst_FleetPostgresql::waitForNews(qint64 storeFrom, qint64 rsyslogFrom, const QString& news) const
{
    QTRY_VERIFY2_WITH_TIMEOUT(QString::fromUtf8(m_receiver->storeLog().mid(storeFrom)).contains(news),
                              m_receiver->storeLog().mid(storeFrom).constData(), 60000);
    QTRY_VERIFY2_WITH_TIMEOUT(QString::fromUtf8(m_receiver->rsyslogLog().mid(rsyslogFrom)).contains(news),
                              m_receiver->rsyslogLog().mid(rsyslogFrom).constData(), 60000);
}

void tst_FleetPostgresql::everyRecordIsStoredOrRejected_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QStringList>("records");  // SQL values (datetime, type, message) of the machine's records
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("news");         // what the administrator is told while it lasts
    QTest::addColumn<QStringList>("expected"); // centralRows()

    const QString at = QStringLiteral("'2026-12-09 08:00:0%1'");
    QTest::newRow("types that are no int, a stored time that is no time stamp")
        << QStringLiteral("odd-types")
        << QStringList{at.arg(1) + ", 3, 'alarm'", at.arg(2) + ", NULL, 'null type'", at.arg(3) + ", 'abc', 'text type'",
                       at.arg(4) + ", 2.5, 'real type'", at.arg(5) + ", 12345678901, 'beyond int'", at.arg(6) + ", -7, 'negative'",
                       "'8:30 am', 1, 'odd time'"}
        << int(NoFault) << QString()
        << QStringList{"1|2026-12-09 08:00:01|3|alarm|-|-", "2|2026-12-09 08:00:02|NULL|null type|-|-",
                       "3|2026-12-09 08:00:03|NULL|text type|noted|text type", "4|2026-12-09 08:00:04|NULL|real type|noted|real type",
                       "5|2026-12-09 08:00:05|NULL|beyond int|noted|beyond int", "6|2026-12-09 08:00:06|-7|negative|-|-",
                       "7|8:30 am|1|odd time|-|-"};
    QTest::newRow("a NUL byte, and the text #000")
        << QStringLiteral("nul") << QStringList{at.arg(1) + ", 1, CAST(X'61620063' AS TEXT)", at.arg(2) + ", 1, 'colour #000 stays'"}
        << int(NoFault) << QString()
        << QStringList{"1|2026-12-09 08:00:01|1|ab␀c|-|-", "2|2026-12-09 08:00:02|1|colour #000 stays|-|-"};
    QTest::newRow("bytes that are not UTF-8")
        << QStringLiteral("not-utf8") << QStringList{at.arg(1) + ", 4, CAST(X'6261642066FF66' AS TEXT)", at.arg(2) + ", 4, '中文不变'"}
        << int(NoFault) << QString()
        << QStringList{"1|2026-12-09 08:00:01|4|bad f�f|noted|bad f\\377f", "2|2026-12-09 08:00:02|4|中文不变|-|-"};
    const QString oddHead = QStringLiteral("it's\"a\\host[]");
    const QString longHost = oddHead + QString(255 - oddHead.size(), QLatin1Char('x'));
    QTest::newRow("the longest host name, a long message")
        << longHost << QStringList{at.arg(1) + ", 2, '" + QString::fromLatin1(kLongMessage) + "'"} << int(NoFault) << QString()
        << QStringList{"1|2026-12-09 08:00:01|2|" + longMessageShown() + "|-|-"};
    QTest::newRow("a record the table refuses")
        << QStringLiteral("refused") << QStringList{at.arg(1) + ", 1, 'before'", at.arg(2) + ", 1, 'refused by the table'", at.arg(3) + ", 1, 'after'"}
        << int(TableRefusesOne) << QStringLiteral("fleet_log_rejects")
        << QStringList{"1|2026-12-09 08:00:01|1|before|-|-", "2|-|-|-|rejected|refused by the table", "3|2026-12-09 08:00:03|1|after|-|-"};
    const QStringList three{at.arg(1) + ", 1, 'one'", at.arg(2) + ", 2, 'two'", at.arg(3) + ", 3, 'three'"};
    const QStringList threeStored{"1|2026-12-09 08:00:01|1|one|-|-", "2|2026-12-09 08:00:02|2|two|-|-", "3|2026-12-09 08:00:03|3|three|-|-"};
    QTest::newRow("a missing privilege, granted later") << QStringLiteral("privilege") << three << int(PrivilegeRevoked)
                                                       << QStringLiteral("没有写入的权限") << threeStored;
    QTest::newRow("the database stopped and started") << QStringLiteral("restart") << three << int(DatabaseStopped)
                                                      << QStringLiteral("无法写入中央日志数据库") << threeStored;
    QTest::newRow("the receiver restarted while the database is stopped")
        << QStringLiteral("receiver-restart") << three << int(ReceiverRestarted) << QStringLiteral("无法写入中央日志数据库")
        << threeStored;
    // What was in the deleted file is gone; it must not hold up what came after it.
    QTest::newRow("a spooled batch deleted while the database is stopped")
        << QStringLiteral("spool-removed") << QStringList{at.arg(1) + ", 1, 'deleted'", at.arg(2) + ", 2, 'after'"}
        << int(SpoolFileRemoved) << QStringLiteral("无法写入中央日志数据库") << QStringList{"2|2026-12-09 08:00:02|2|after|-|-"};
}

// A machine forwards its records while the fault lasts; the last record is
// written once the fault is told, so that a batch comes after it. Then the
// fault is mended the way the administrator would, and every record is in
// one table or the other.
void tst_FleetPostgresql::everyRecordIsStoredOrRejected()
{
    QFETCH(QString, host);
    QFETCH(QStringList, records);
    QFETCH(int, fault);
    QFETCH(QString, news);
    QFETCH(QStringList, expected);
    const QString file = m_work.filePath(QStringLiteral("row-%1.db").arg(qHash(host), 0, 16));
    const auto write = [&file](const QStringList& values) {
        TestDatabase db(file);
        for (const QString& value : values) {
            if (!db.exec(QStringLiteral("INSERT INTO SystemInfo(datetime, type, message) VALUES (%1)").arg(value)))
                return false;
        }
        return true;
    };
    {
        TestDatabase db(file);
        createLogTable(db);
    }
    const QString writer = QStringLiteral("fleet_writer");
    QString why;
    if (fault == PrivilegeRevoked)
        QVERIFY2(m_server->psql(QStringLiteral("fleet"), {"-c", "REVOKE INSERT ON fleet_log FROM " + writer}, why), qPrintable(why));
    const bool databaseAway = fault == DatabaseStopped || fault == ReceiverRestarted || fault == SpoolFileRemoved;
    if (databaseAway)
        m_server->stop();
    if (fault == TableRefusesOne)
        QVERIFY2(m_server->psql(QStringLiteral("fleet"), {"-c", "ALTER TABLE fleet_log ADD CONSTRAINT refuses_one "
                                                                "CHECK (message <> 'refused by the table') NOT VALID"}, why),
                 qPrintable(why));
    const qint64 storeFrom = m_receiver->storeLog().size();
    const qint64 rsyslogFrom = m_receiver->rsyslogLog().size();
    const bool lastLater = fault == PrivilegeRevoked || databaseAway;
    QVERIFY(write(lastLater ? records.mid(0, records.size() - 1) : records));
    auto forwarder = std::make_unique<Forwarder>();
    forwarder->start(m_receiver->forwardArguments(host, file, QStringLiteral("plc-7")));
    if (lastLater) {
        QTRY_VERIFY2_WITH_TIMEOUT(QString::fromUtf8(m_receiver->storeLog().mid(storeFrom)).contains(news),
                                  m_receiver->storeLog().mid(storeFrom).constData(), 60000);
        if (fault == ReceiverRestarted) {
            // What was confirmed waits in vxlog store's spool, not in
            // rsyslogd. (The forwarder starts again after its cursor, rather
            // than wait to notice that its session ended.)
            forwarder.reset();
            m_receiver->stop();
            QVERIFY2(m_receiver->restart(why), qPrintable(why));
            forwarder = std::make_unique<Forwarder>();
            forwarder->start(m_receiver->forwardArguments(host, file, QStringLiteral("plc-7")));
        }
        if (fault == SpoolFileRemoved) {
            const QDir spool(m_receiver->spoolPath());
            QTRY_VERIFY_WITH_TIMEOUT(!spool.entryList({QStringLiteral("*.batch")}).isEmpty(), 60000);
            QVERIFY(QFile::remove(spool.filePath(spool.entryList({QStringLiteral("*.batch")}, QDir::Files, QDir::Name).first())));
            QTRY_VERIFY_WITH_TIMEOUT(m_receiver->storeLog().mid(storeFrom).contains("已不在"), 60000);
            // Said in the same pass as the file's loss, had it been said at all.
            QVERIFY(!m_receiver->storeLog().mid(storeFrom).contains("恢复可写"));
        }
        QVERIFY(write(records.mid(records.size() - 1)));
        waitForNews(storeFrom, rsyslogFrom, news);
        if (databaseAway) {
            // Nothing of it could be stored meanwhile; all of it waits in order.
            QVERIFY2(m_server->restart(why), qPrintable(why));
        } else {
            QCOMPARE(centralRows(host), QByteArray());
            QVERIFY(psqlFile(vxtest::built(VX_SOURCE_DIR "/docs/fleet_roles.sql")));
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(centralRows(host)).split(QLatin1Char('\n'), Qt::SkipEmptyParts), expected, 60000);
    if (fault == TableRefusesOne) {
        QVERIFY2(QString::fromUtf8(m_receiver->storeLog().mid(storeFrom)).contains(news), m_receiver->storeLog().mid(storeFrom).constData());
        QVERIFY2(m_server->psql(QStringLiteral("fleet"), {"-c", "ALTER TABLE fleet_log DROP CONSTRAINT refuses_one"}, why), qPrintable(why));
    }
    if (lastLater)
        QTRY_VERIFY_WITH_TIMEOUT(m_receiver->storeLog().mid(storeFrom).contains("恢复可写"), 60000);
}

void tst_FleetPostgresql::lostServerIsAFailure_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("query") << QStringList{"query", "--host", "plc-7"};
    QTest::newRow("count") << QStringList{"query", "--count"};
    QTest::newRow("stats") << QStringList{"stats"};
    QTest::newRow("export") << QStringList{"export", "--day", kDay, "-p", "2", "--host", "plc-7", "--dir", "out"};
}

// Last: the server is stopped as by a crash.
void tst_FleetPostgresql::lostServerIsAFailure()
{
    QFETCH(QStringList, arguments);
    m_server->stop(true);
    const Result r = runVxlog(arguments + QStringList{"--db", m_url}, m_work.path());
    QCOMPARE(r.exitCode, 1);
    QVERIFY(r.out.isEmpty());
    QVERIFY2(r.err.contains(m_url.toUtf8()), r.err.constData());
    QVERIFY(!QDir(m_work.filePath("out")).exists());
}

QTEST_GUILESS_MAIN(tst_FleetPostgresql)

#include "tst_fleet_postgresql.moc"
