// The fleet's central database end to end: the test's own PostgreSQL and
// rsyslogd with the receiver configured as docs/ ships it, two machines
// forwarding with `vxlog forward` (one killed and started again). vxlog
// must read each machine back from PostgreSQL as from its own file, and a
// server that is gone is a failure, never an empty answer. Skips only where
// PostgreSQL cannot be started here.
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <vxSyslog/DayExport.h>

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
        m_process.start(QStringLiteral(VXLOG_BINARY), QStringList{"forward"} + arguments);
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
    void lostServerIsAFailure_data();
    void lostServerIsAFailure();
    void cleanupTestCase();

private:
    QString machine(const QString& host) const { return m_work.filePath(host + QStringLiteral(".db")); }
    QStringList forwardArguments(const QString& host) const { return m_receiver->forwardArguments(host, machine(host)); }

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
    QVERIFY2(m_server->psql(QStringLiteral("fleet"), {"-f", QStringLiteral(VX_SOURCE_DIR "/docs/fleet_log.sql")}, why), qPrintable(why));
    m_url = m_server->url(QStringLiteral("fleet"));

    m_receiver = std::make_unique<FleetReceiver>(m_work.path());
    QVERIFY2(m_receiver->makeCertificates({"plc-7", "plc-8"}, why), qPrintable(why));
    QVERIFY2(m_receiver->start(QStringLiteral(VX_SOURCE_DIR "/docs/rsyslog-fleet-postgresql.conf"), m_url, why), qPrintable(why));

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
    QVERIFY2(!QFile::exists(m_receiver->notStoredPath()), readFile(m_receiver->notStoredPath()).constData());
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
    follow.start(QStringLiteral(VXLOG_BINARY), {"follow", "--db", m_url, "--host", "plc-7", "--host", "plc-8", "-n", "1",
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
    follow.start(QStringLiteral(VXLOG_BINARY), {"follow", "--db", m_url, "--host", "plc-7", "-n", "1", "-o", "short"});
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
