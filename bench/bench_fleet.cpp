// The fleet's central PostgreSQL: a day query of one machine and of every
// machine through vxlog, each beside psql running the same SELECT (COPY to
// standard output) in the same run, on a fleet_log of FLEET_ROWS records
// (default 10,000,000) from 100 machines over 100 days; and the rate at
// which the shipped receiver (rsyslogd, imrelp with TLS, ompgsql) stores
// what two `vxlog forward` send, beside psql running the receiver's own
// INSERT statements in transactions of the receiver's batch size; and the
// viewer's first screen of a day of one machine and of every machine (the
// result pane and its worker reading the table), beside psql fetching the
// same rows.
// PostgreSQL and rsyslogd are the tests' own (tests/support/PostgresServer.h,
// tests/support/FleetReceiver.h), in temporary folders on 127.0.0.1; this server
// syncs every commit to disk, as a real one does.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <memory>

#include "FleetReceiver.h"
#include "PostgresServer.h"
#include "ResultPane.h"
#include "TestDatabase.h"

namespace {

constexpr int kMachines = 100;
const char* const kDay = "2026-10-15";

qint64 fleetRows()
{
    const qint64 rows = qEnvironmentVariableIntValue("FLEET_ROWS");
    return rows > 0 ? rows : 10000000;
}

struct Fleet
{
    QTemporaryDir serverDir;
    QTemporaryDir work;
    std::unique_ptr<PostgresServer> server;
    QString url;
    QString rxUrl;
    bool ok = false;
};

bool psql(Fleet& fleet, const QString& database, const QString& sql)
{
    QString why;
    if (fleet.server->psql(database, {"-c", sql}, why))
        return true;
    std::fprintf(stderr, "psql: %s\n", qPrintable(why));
    return false;
}

// A server that syncs every commit to disk, with the databases fleet and
// fleetrx (the receiver's), both made by fleet_log.sql.
Fleet& server()
{
    static Fleet f;
    static bool made = false;
    if (made)
        return f;
    made = true;
    f.server = std::make_unique<PostgresServer>(f.serverDir.path());
    QString why;
    if (!f.server->start(why, true)) {
        std::fprintf(stderr, "PostgreSQL: %s\n", qPrintable(why));
        return f;
    }
    const QString sqlFile = QStringLiteral(VX_SOURCE_DIR "/docs/fleet_log.sql");
    for (const char* database : {"fleet", "fleetrx"}) {
        if (!psql(f, "postgres", QStringLiteral("CREATE DATABASE %1 TEMPLATE template0 ENCODING 'UTF8' LOCALE 'C'").arg(database))
            || !f.server->psql(QLatin1String(database), {"-f", sqlFile}, why))
            return f;
    }
    f.url = f.server->url(QStringLiteral("fleet"));
    f.rxUrl = f.server->url(QStringLiteral("fleetrx"));
    f.ok = true;
    return f;
}

// The large table, loaded once without its indexes and indexed
// afterwards, as one would load an archive.
Fleet& fleet()
{
    static bool loaded = false;
    Fleet& f = server();
    if (loaded || !f.ok)
        return f;
    loaded = true;
    f.ok = false;
    QString why;
    const QString sqlFile = QStringLiteral(VX_SOURCE_DIR "/docs/fleet_log.sql");
    const qint64 rows = fleetRows();
    QElapsedTimer load;
    load.start();
    const bool done =
        psql(f, "fleet", "ALTER TABLE fleet_log DROP CONSTRAINT fleet_log_pkey; DROP INDEX fleet_log_host_time, fleet_log_time")
        && psql(f, "fleet",
                QStringLiteral("INSERT INTO fleet_log (host, id, datetime, type, message) "
                               "SELECT 'plc-' || lpad((g %% %1)::text, 3, '0'), g / %1 + 1, "
                               "to_char(timestamp '2026-09-01' + (g / %1) * (interval '8640000 seconds' / (%2 / %1)), "
                               "'YYYY-MM-DD HH24:MI:SS'), g %% 5, "
                               "'主轴温度 ' || (g %% 97) || ' °C, 记录 ' || g || E'\\n' "
                               "FROM generate_series(0, %2 - 1) AS g")
                        .arg(kMachines)
                        .arg(rows)
                        .replace(QStringLiteral("%%"), QStringLiteral("%")))
        && psql(f, "fleet", "ALTER TABLE fleet_log ADD PRIMARY KEY (host, id)")
        && f.server->psql(QStringLiteral("fleet"), {"-f", sqlFile}, why) && psql(f, "fleet", "VACUUM ANALYZE fleet_log");
    std::fprintf(stderr, "fleet_log: %lld records loaded and indexed in %.0f s\n", static_cast<long long>(rows),
                 load.elapsed() / 1000.0);
    f.ok = done;
    return f;
}

double timedRun(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    process.waitForFinished(-1);
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return -1;
    return seconds;
}

void runRepeatedly(benchmark::State& state, const QString& program, const QStringList& arguments)
{
    if (!fleet().ok) {
        state.SkipWithError("no PostgreSQL");
        return;
    }
    // One run first, untimed, so that neither side pays for reading the
    // table into the cache (or for its first visit after the load).
    timedRun(program, arguments);
    for (auto _ : state) {
        const double seconds = timedRun(program, arguments);
        if (seconds < 0) {
            state.SkipWithError("the program failed");
            return;
        }
        state.SetIterationTime(seconds);
    }
}

QString psqlProgram()
{
    for (const QString& version : QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed))
        return QStringLiteral("/usr/lib/postgresql/%1/bin/psql").arg(version);
    return QStringLiteral("psql");
}

// psql with what vxlog's query for these options sends (the same SELECT,
// the same order), rows as text to standard output.
QStringList psqlCopy(const QString& where, const QString& limit = QString())
{
    const Fleet& f = fleet();
    return {"-X", "-q", "-h", "127.0.0.1", "-p", QString::number(f.server->port()), "-U", PostgresServer::user(), "-d", "fleet",
            "-c", QStringLiteral("COPY (SELECT host, id, datetime, type, message FROM fleet_log WHERE %1 "
                                 "ORDER BY datetime, host, id%2) TO STDOUT").arg(where, limit)};
}

QString dayBounds()
{
    return QStringLiteral("datetime >= '%1 00:00:00' AND datetime <= '%1 23:59:59'").arg(QLatin1String(kDay));
}

void BM_DayOneMachine_vxlog(benchmark::State& state)
{
    runRepeatedly(state, QStringLiteral(VXLOG_BINARY),
                  {"query", "--db", fleet().url, "--host", "plc-042", "--day", QLatin1String(kDay)});
}

void BM_DayOneMachine_psql(benchmark::State& state)
{
    runRepeatedly(state, psqlProgram(), psqlCopy(QStringLiteral("host = 'plc-042' AND ") + dayBounds()));
}

void BM_DayAllMachines_vxlog(benchmark::State& state)
{
    runRepeatedly(state, QStringLiteral(VXLOG_BINARY), {"query", "--db", fleet().url, "--day", QLatin1String(kDay)});
}

void BM_DayAllMachines_psql(benchmark::State& state)
{
    runRepeatedly(state, psqlProgram(), psqlCopy(dayBounds()));
}

// The alarm report of every machine for 30 days (3,000,000 records, 600,000
// alarms), beside psql running the statements the report sends (its
// figures counted by the server), in one session.
const char* const kReportSince = "2026-09-10 00:00:00";
const char* const kReportUntil = "2026-10-09 23:59:59";

void BM_Report30DaysAllMachines_vxlog(benchmark::State& state)
{
    runRepeatedly(state, QStringLiteral(VXLOG_BINARY),
                  {"report", "--db", fleet().url, "--since", kReportSince, "--until", kReportUntil, "-o", "json"});
}

void BM_Report30DaysAllMachines_psql(benchmark::State& state)
{
    const QString from = QStringLiteral(" FROM fleet_log WHERE type = 3 AND datetime >= '%1' AND datetime <= '%2'")
                             .arg(QLatin1String(kReportSince), QLatin1String(kReportUntil));
    const QString sql =
        QStringLiteral("COPY (SELECT host, substr(datetime, 1, 15), type, count(*)%1 GROUP BY 1, 2, 3 ORDER BY 1, 2, 3) TO STDOUT;"
                       "COPY (SELECT message AS k, min(message), count(*), count(*) OVER ()%1 GROUP BY 1 ORDER BY 3 DESC, 1 LIMIT 10) TO STDOUT;"
                       "COPY (SELECT host, k, min(message), count(*), sum(b) FROM (SELECT host, k, message, CASE WHEN t - lag(t, 2) OVER w <= 60"
                       " AND coalesce(lag(t, 1) OVER w - lag(t, 3) OVER w > 60, true) AND coalesce(lag(t, 2) OVER w - lag(t, 4) OVER w > 60, true)"
                       " THEN 1 ELSE 0 END AS b FROM (SELECT host, message AS k, message, extract(epoch FROM datetime::timestamp) AS t%1) AS a"
                       " WINDOW w AS (PARTITION BY host, k ORDER BY t)) AS s GROUP BY 1, 2 HAVING sum(b) > 0) TO STDOUT;"
                       "COPY (SELECT type, count(*)%2 GROUP BY 1 ORDER BY 1) TO STDOUT")
            .arg(from, QString(from).replace(QStringLiteral("type = 3 AND "), QString()));
    const Fleet& f = fleet();
    runRepeatedly(state, psqlProgram(),
                  {"-X", "-q", "-h", "127.0.0.1", "-p", QString::number(f.server->port()), "-U", PostgresServer::user(), "-d",
                   "fleet", "-c", sql});
}

// The pane's first page of texts, more than a screen shows.
constexpr int kScreenRecords = 128;

// From the query to its first screen painted: the pane's worker connects,
// fixes the machines and their newest ids, lists the first keys, and the
// paint fetches their texts. Every type of the day, as the window lists it.
void firstScreen(benchmark::State& state, const QStringList& hosts)
{
    if (!fleet().ok) {
        state.SkipWithError("no PostgreSQL");
        return;
    }
    ResultPane pane;
    pane.resize(1000, 700);
    pane.show();
    SystemLog::LogQuery query;
    query.withGaps = true;
    const LogSources fleetLog(QStringList{fleet().url}, hosts);
    auto once = [&] {
        QElapsedTimer timer;
        timer.start();
        pane.showDayQuery(fleetLog, query, QDate::fromString(QLatin1String(kDay), Qt::ISODate));
        while (pane.recordCount() < kScreenRecords && pane.isListing())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        pane.grab();
        const double seconds = timer.nsecsElapsed() / 1e9;
        while (pane.isBusy())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        return seconds;
    };
    once();
    for (auto _ : state)
        state.SetIterationTime(once());
    if (pane.recordCount() < kScreenRecords)
        state.SkipWithError("the day holds fewer records than a screen");
}

void BM_FirstScreenOneMachine_viewer(benchmark::State& state)
{
    firstScreen(state, {QStringLiteral("plc-042")});
}

void BM_FirstScreenOneMachine_psql(benchmark::State& state)
{
    runRepeatedly(state, psqlProgram(),
                  psqlCopy(QStringLiteral("host = 'plc-042' AND ") + dayBounds(), QStringLiteral(" LIMIT %1").arg(kScreenRecords)));
}

void BM_FirstScreenAllMachines_viewer(benchmark::State& state)
{
    firstScreen(state, {});
}

void BM_FirstScreenAllMachines_psql(benchmark::State& state)
{
    runRepeatedly(state, psqlProgram(), psqlCopy(dayBounds(), QStringLiteral(" LIMIT %1").arg(kScreenRecords)));
}

constexpr int kForwarded = 50000;  // per machine, two machines

bool fillMachine(const QString& path, int count)
{
    TestDatabase db(path);
    db.exec(QStringLiteral("CREATE TABLE SystemInfo(id INTEGER PRIMARY KEY AUTOINCREMENT, datetime DATETIME, "
                           "type INT, message TEXT)"));
    db.exec(QStringLiteral("CREATE INDEX SystemInfo_type_time ON SystemInfo(type, datetime)"));
    db.exec(QStringLiteral("BEGIN"));
    for (int n = 0; n < count; ++n) {
        if (!db.insertRow(QStringLiteral("2026-12-09 %1:%2:00").arg(n / 3600 % 24, 2, 10, QLatin1Char('0')).arg(n / 60 % 60, 2, 10, QLatin1Char('0')),
                          n % 5, QStringLiteral("主轴温度 %1 °C, 记录 %2\n").arg(n % 97).arg(n)))
            return false;
    }
    return db.exec(QStringLiteral("COMMIT"));
}

qint64 storedCount(const QString& url)
{
    QProcess count;
    count.start(QStringLiteral(VXLOG_BINARY), {"query", "--count", "--db", url});
    count.waitForFinished(-1);
    return count.readAllStandardOutput().trimmed().toLongLong();
}

// Two machines' 50,000 records each, from the forwarders' start until the
// last is a row.
void BM_ReceiverRate(benchmark::State& state)
{
    Fleet& f = server();
    if (!f.ok) {
        state.SkipWithError("no PostgreSQL");
        return;
    }
    QTemporaryDir dir;
    FleetReceiver receiver(dir.path());
    QString why;
    if (!receiver.makeCertificates({"plc-7", "plc-8"}, why)
        || !receiver.start(QStringLiteral(VX_SOURCE_DIR "/docs/rsyslog-fleet-postgresql.conf"), f.rxUrl, why)
        || !fillMachine(dir.filePath("plc-7.db"), kForwarded) || !fillMachine(dir.filePath("plc-8.db"), kForwarded)) {
        state.SkipWithError(qPrintable(why));
        return;
    }
    for (auto _ : state) {
        psql(f, "fleetrx", "TRUNCATE fleet_log");
        QFile::remove(dir.filePath("plc-7.cursor"));
        QFile::remove(dir.filePath("plc-8.cursor"));
        QElapsedTimer timer;
        timer.start();
        QProcess seven, eight;
        seven.start(QStringLiteral(VXLOG_BINARY), QStringList{"forward"} + receiver.forwardArguments("plc-7", dir.filePath("plc-7.db")));
        eight.start(QStringLiteral(VXLOG_BINARY), QStringList{"forward"} + receiver.forwardArguments("plc-8", dir.filePath("plc-8.db")));
        while (storedCount(f.rxUrl) < 2 * kForwarded)
            QThread::msleep(100);
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        seven.terminate();
        eight.terminate();
        seven.waitForFinished(-1);
        eight.waitForFinished(-1);
    }
    state.counters["records/s"] = benchmark::Counter(2.0 * kForwarded * state.iterations(), benchmark::Counter::kIsRate);
}

// The receiver's statements (the template's INSERT … ON CONFLICT DO NOTHING
// for the same records) run by psql in transactions of 1024: PostgreSQL's
// part of the receiver's work alone.
void BM_ReceiverStatements_psql(benchmark::State& state)
{
    Fleet& f = server();
    if (!f.ok) {
        state.SkipWithError("no PostgreSQL");
        return;
    }
    QTemporaryDir dir;
    QFile script(dir.filePath("inserts.sql"));
    script.open(QIODevice::WriteOnly);
    for (int machine = 7; machine <= 8; ++machine) {
        for (int n = 0; n < kForwarded; ++n) {
            if (n % 1024 == 0)
                script.write(n == 0 ? "BEGIN;\n" : "COMMIT;\nBEGIN;\n");
            script.write(QStringLiteral("INSERT INTO fleet_log (host, id, datetime, type, message) VALUES ('plc-%1', '%2'::bigint, "
                                        "'2026-12-09 %3:%4:00', CASE WHEN '%5' ~ '^-?[0-9]{1,9}$' THEN '%5'::integer END, "
                                        "'主轴温度 %6 °C, 记录 %7' || translate('n', 'nr', E'\\n\\r')) ON CONFLICT (host, id) DO NOTHING;\n")
                             .arg(machine).arg(n + 1).arg(n / 3600 % 24, 2, 10, QLatin1Char('0')).arg(n / 60 % 60, 2, 10, QLatin1Char('0'))
                             .arg(n % 5).arg(n % 97).arg(n)
                             .toUtf8());
        }
        script.write("COMMIT;\n");
    }
    script.close();
    const QStringList arguments{"-X", "-q", "-h", "127.0.0.1", "-p", QString::number(f.server->port()), "-U",
                                PostgresServer::user(), "-d", "fleetrx", "-f", script.fileName()};
    for (auto _ : state) {
        state.PauseTiming();
        psql(f, "fleetrx", "TRUNCATE fleet_log");
        state.ResumeTiming();
        const double seconds = timedRun(psqlProgram(), arguments);
        state.SetIterationTime(seconds);
    }
    state.counters["records/s"] = benchmark::Counter(2.0 * kForwarded * state.iterations(), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_DayOneMachine_vxlog)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_DayOneMachine_psql)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_DayAllMachines_vxlog)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_DayAllMachines_psql)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Report30DaysAllMachines_vxlog)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Report30DaysAllMachines_psql)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FirstScreenOneMachine_viewer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_FirstScreenOneMachine_psql)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_FirstScreenAllMachines_viewer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_FirstScreenAllMachines_psql)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_ReceiverRate)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(2);
BENCHMARK(BM_ReceiverStatements_psql)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(2);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    server().server.reset();
    return 0;
}
