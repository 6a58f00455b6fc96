// The fleet's central PostgreSQL: a day query of one machine and of every
// machine through vxlog, each beside psql running the same SELECT (COPY to
// standard output) in the same run, on a fleet_log of FLEET_ROWS records
// (default 10,000,000) from 100 machines over 100 days; the alarm report
// of every machine for 30 days there and on as many records over a year;
// and the rate at
// which the shipped receiver (rsyslogd, imrelp with TLS, omprog and vxlog
// store) stores what three `vxlog forward` send, beside the receiver it
// replaced (ompgsql, one INSERT per record) and psql's COPY of the same rows
// (the database's limit), and how soon storing resumes after PostgreSQL
// comes back; and the viewer's first screen of a day of one machine and of every machine (the
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
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

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

// Loading and indexing millions of rows takes minutes.
constexpr int kLoadTimeoutMs = 30 * 60 * 1000;

bool psql(Fleet& fleet, const QString& database, const QString& sql)
{
    QString why;
    if (fleet.server->psql(database, {"-c", sql}, why, kLoadTimeoutMs))
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
    const QString rolesFile = QStringLiteral(VX_SOURCE_DIR "/docs/fleet_roles.sql");
    for (const char* database : {"fleet", "fleetrx"}) {
        if (!psql(f, "postgres", QStringLiteral("CREATE DATABASE %1 TEMPLATE template0 ENCODING 'UTF8' LOCALE 'C'").arg(database))
            || !f.server->psql(QLatin1String(database), {"-f", sqlFile}, why)
            || !f.server->psql(QLatin1String(database), {"-f", rolesFile}, why))
            return f;
    }
    f.url = f.server->url(QStringLiteral("fleet"));
    f.rxUrl = f.server->url(QStringLiteral("fleetrx"));
    f.ok = true;
    return f;
}

// `database`'s fleet_log filled by `rows` (an INSERT … SELECT), loaded
// without its indexes and indexed afterwards by the shipped file, as one
// would load an archive.
bool loadTable(Fleet& f, const char* database, const QString& rows)
{
    QString why;
    const QString sqlFile = QStringLiteral(VX_SOURCE_DIR "/docs/fleet_log.sql");
    QElapsedTimer load;
    load.start();
    const bool done =
        psql(f, database,
             "ALTER TABLE fleet_log DROP CONSTRAINT fleet_log_pkey; "
             "DROP INDEX fleet_log_host_time, fleet_log_time, fleet_log_alarms, fleet_log_message_pairs")
        && psql(f, database, rows) && psql(f, database, "ALTER TABLE fleet_log ADD PRIMARY KEY (host, id)")
        && f.server->psql(QLatin1String(database), {"-f", sqlFile}, why, kLoadTimeoutMs) && psql(f, database, "VACUUM ANALYZE fleet_log");
    std::fprintf(stderr, "%s: fleet_log loaded and indexed in %.0f s\n", database, load.elapsed() / 1000.0);
    return done;
}

// fleetRows() records of kMachines machines in turn, spread evenly over
// `seconds` from `start`, with each record's type and message the SQL
// expressions given of g, the record's number.
QString generatedRows(const char* start, qint64 seconds, const QString& type, const QString& message)
{
    return QStringLiteral("INSERT INTO fleet_log (host, id, datetime, type, message) "
                          "SELECT 'plc-' || lpad((g %% %1)::text, 3, '0'), g / %1 + 1, "
                          "to_char(timestamp '%3' + (g / %1) * (interval '%4 seconds' / (%2 / %1)), 'YYYY-MM-DD HH24:MI:SS'), "
                          "%5, %6 FROM generate_series(0, %2 - 1) AS g")
        .replace(QStringLiteral("%%"), QStringLiteral("%"))
        .arg(kMachines)
        .arg(fleetRows())
        .arg(QLatin1String(start))
        .arg(seconds)
        .arg(type, message);
}

// The large table: 100 machines over 100 days, the five types in turn
// across the machines (a fifth of the machines log the alarms), a text
// per record.
Fleet& fleet()
{
    static bool loaded = false;
    Fleet& f = server();
    if (loaded || !f.ok)
        return f;
    loaded = true;
    f.ok = loadTable(f, "fleet",
                     generatedRows("2026-09-01", 8640000, "g % 5", "'主轴温度 ' || (g % 97) || ' °C, 记录 ' || g || E'\\n'"));
    return f;
}

// A year of the same number of records, shaped as bench_report's file on
// every machine: 2025 evenly filled, each machine's records going through
// the five types in turn, machine lines whose numbers repeat (about 700
// alarm texts in all). In the database fleetyear.
bool yearFleet()
{
    static bool loaded = false;
    static bool ok = false;
    Fleet& f = server();
    if (loaded || !f.ok)
        return ok;
    loaded = true;
    QString why;
    ok = psql(f, "postgres", "CREATE DATABASE fleetyear TEMPLATE template0 ENCODING 'UTF8' LOCALE 'C'")
         && f.server->psql(QStringLiteral("fleetyear"), {"-f", QStringLiteral(VX_SOURCE_DIR "/docs/fleet_log.sql")}, why)
         && loadTable(f, "fleetyear",
                      generatedRows("2025-01-01", 31536000, QStringLiteral("(g / %1 + g % %1) % 5").arg(kMachines),
                                    "'motor ' || (g % 7) || ' speed ' || (1400 + g % 100) || ' rpm, load 0.' "
                                    "|| lpad((g % 100)::text, 2, '0') || E'\\n'"));
    return ok;
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

void runRepeatedly(benchmark::State& state, const QString& program, const QStringList& arguments, bool ready = fleet().ok)
{
    if (!ready) {
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

// The alarm report of every machine for 30 days, beside psql running in
// one session the figures' statements as one would type them: records
// per machine, 10 minutes and type; the most frequent texts; every
// machine's and text's bursts (window functions over the occurrences); the
// types. psql has the report's session settings (work_mem, no JIT).
// On `fleet` (3,000,000 records and 600,000 alarms in the 30 days, a text
// per record) and on `fleetyear` (821,900 records and 164,400 alarms).
struct ReportPeriod
{
    const char* database;
    const char* since;
    const char* until;
};
const ReportPeriod kDenseDays{"fleet", "2026-09-10 00:00:00", "2026-10-09 23:59:59"};
const ReportPeriod kYearsJune{"fleetyear", "2025-06-01 00:00:00", "2025-06-30 23:59:59"};

void reportOf(benchmark::State& state, const ReportPeriod& period, bool ready)
{
    runRepeatedly(state, QStringLiteral(VXLOG_BINARY),
                  {"report", "--db", server().server->url(QLatin1String(period.database)), "--since", period.since, "--until",
                   period.until, "-o", "json"},
                  ready);
}

void psqlReportOf(benchmark::State& state, const ReportPeriod& period, bool ready)
{
    const QString from = QStringLiteral(" FROM fleet_log WHERE type = 3 AND datetime >= '%1' AND datetime <= '%2'")
                             .arg(QLatin1String(period.since), QLatin1String(period.until));
    const QString sql =
        QStringLiteral("SET work_mem = '64MB'; SET jit = off;"
                       "COPY (SELECT host, substr(datetime, 1, 15), type, count(*)%1 GROUP BY 1, 2, 3) TO STDOUT;"
                       "COPY (SELECT message AS k, min(message), count(*), count(*) OVER ()%1 GROUP BY 1 ORDER BY 3 DESC, 1 LIMIT 10) TO STDOUT;"
                       "COPY (SELECT host, k, min(message), count(*), sum(b) FROM (SELECT host, k, message, CASE WHEN t - lag(t, 2) OVER w <= 60"
                       " AND coalesce(lag(t, 1) OVER w - lag(t, 3) OVER w > 60, true) AND coalesce(lag(t, 2) OVER w - lag(t, 4) OVER w > 60, true)"
                       " THEN 1 ELSE 0 END AS b FROM (SELECT host, message AS k, message, extract(epoch FROM datetime::timestamp) AS t%1) AS a"
                       " WINDOW w AS (PARTITION BY host, k ORDER BY t)) AS s GROUP BY 1, 2 HAVING sum(b) > 0) TO STDOUT;"
                       "COPY (SELECT type, count(*)%2 GROUP BY 1 ORDER BY 1) TO STDOUT")
            .arg(from, QString(from).replace(QStringLiteral("type = 3 AND "), QString()));
    runRepeatedly(state, psqlProgram(),
                  {"-X", "-q", "-h", "127.0.0.1", "-p", QString::number(server().server->port()), "-U", PostgresServer::user(), "-d",
                   QLatin1String(period.database), "-c", sql},
                  ready);
}

void BM_Report30DaysAllMachines_vxlog(benchmark::State& state) { reportOf(state, kDenseDays, fleet().ok); }
void BM_Report30DaysAllMachines_psql(benchmark::State& state) { psqlReportOf(state, kDenseDays, fleet().ok); }
void BM_ReportJuneOfAYear_vxlog(benchmark::State& state) { reportOf(state, kYearsJune, yearFleet()); }
void BM_ReportJuneOfAYear_psql(benchmark::State& state) { psqlReportOf(state, kYearsJune, yearFleet()); }

// A search of every machine's records through the index of character pairs
// (fleet_log.sql), vxlog counting, beside psql counting the same matches
// with that index out of the planner's reach (every row read). "记录 99999"
// holds in 111 of 10,000,000 records, "温度 42 °C" in one in 97.
void searchCount_vxlog(benchmark::State& state, const char* text)
{
    runRepeatedly(state, QStringLiteral(VXLOG_BINARY), {"query", "--db", fleet().url, "-F", "--grep", QString::fromUtf8(text), "--count"});
}

void searchCount_psqlEveryRow(benchmark::State& state, const char* text)
{
    const Fleet& f = fleet();
    runRepeatedly(state, psqlProgram(),
                  {"-X", "-q", "-h", "127.0.0.1", "-p", QString::number(f.server->port()), "-U", PostgresServer::user(), "-d",
                   "fleet", "-c",
                   QStringLiteral("SET enable_bitmapscan = off; SELECT count(*) FROM fleet_log WHERE strpos(message, '%1') > 0")
                       .arg(QString::fromUtf8(text))});
}

BENCHMARK_CAPTURE(searchCount_vxlog, rare, "记录 99999")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_CAPTURE(searchCount_psqlEveryRow, rare, "记录 99999")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(searchCount_vxlog, common, "温度 42 °C")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(searchCount_psqlEveryRow, common, "温度 42 °C")->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

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

constexpr int kForwarded = 50000;  // per machine
const char* const kForwarders[] = {"plc-7", "plc-8", "plc-9"};
constexpr int kForwarderCount = int(sizeof kForwarders / sizeof kForwarders[0]);

QString messageOf(int n)
{
    return QStringLiteral("主轴温度 %1 °C, 记录 %2\n").arg(n % 97).arg(n);
}

QString datetimeOf(int n)
{
    return QStringLiteral("2026-12-09 %1:%2:00").arg(n / 3600 % 24, 2, 10, QLatin1Char('0')).arg(n / 60 % 60, 2, 10, QLatin1Char('0'));
}

bool fillMachine(const QString& path, int count)
{
    TestDatabase db(path);
    db.exec(QStringLiteral("CREATE TABLE SystemInfo(id INTEGER PRIMARY KEY AUTOINCREMENT, datetime DATETIME, "
                           "type INT, message TEXT)"));
    db.exec(QStringLiteral("CREATE INDEX SystemInfo_type_time ON SystemInfo(type, datetime)"));
    db.exec(QStringLiteral("BEGIN"));
    for (int n = 0; n < count; ++n) {
        if (!db.insertRow(datetimeOf(n), n % 5, messageOf(n)))
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

// The receiver as shipped until vxlog store: mmpstrucdata and ompgsql with
// one INSERT … ON CONFLICT per record, in the shipped file's place of the
// omprog action (same input, TLS and queue).
void oneStatementPerRecord(QString& configuration)
{
    static const char kTemplate[] = R"(module(load="mmpstrucdata")
module(load="ompgsql")
template(name="quarrowFleetSql" type="list" option.stdsql="on") {
    constant(value="INSERT INTO fleet_log (host, id, datetime, type, message) VALUES ('")
    property(name="hostname")
    constant(value="', '")
    property(name="$!rfc5424-sd!vxlog@32473!id")
    constant(value="'::bigint, '")
    property(name="timereported" dateFormat="pgsql")
    constant(value="', CASE WHEN '")
    property(name="$!rfc5424-sd!vxlog@32473!type")
    constant(value="' ~ '^-?[0-9]{1,9}$' THEN '")
    property(name="$!rfc5424-sd!vxlog@32473!type")
    constant(value="'::integer END, '")
    property(name="$.text")
    constant(value="' || translate('")
    property(name="$!rfc5424-sd!vxlog@32473!eol")
    constant(value="', 'nr', E'\\n\\r')) ON CONFLICT (host, id) DO NOTHING")
}
)";
    static const char kActions[] = R"(action(type="mmpstrucdata")
    set $.text = re_extract($msg, '^\xEF\xBB\xBF(.*)$', 0, 1, '');
    action(type="ompgsql" conninfo="%1" template="quarrowFleetSql" action.resumeRetryCount="-1")
}
)";
    static const QRegularExpression omprog(QStringLiteral("action\\(type=\"omprog\".*--db (\\S+) .*\\n\\}\\n"),
                                           QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch action = omprog.match(configuration);
    if (!action.hasMatch())
        return;
    configuration.replace(action.capturedStart(), action.capturedLength(), QString::fromUtf8(kActions).arg(action.captured(1)));
    configuration.replace(QStringLiteral("ruleset("), QString::fromUtf8(kTemplate) + QStringLiteral("ruleset("));
}

qint64 linesIn(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') : 0;
}

// The same receiver writing the lines it would hand to vxlog store into a
// file (omfile) instead: what the forwarders, TLS and rsyslogd take alone,
// the limit of any receiver in rsyslog here.
void toFile(QString& configuration, const QString& path)
{
    static const QRegularExpression omprog(QStringLiteral("action\\(type=\"omprog\".*\\n\\}\\n"),
                                           QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch action = omprog.match(configuration);
    if (action.hasMatch())
        configuration.replace(action.capturedStart(), action.capturedLength(),
                              QStringLiteral("action(type=\"omfile\" file=\"%1\" template=\"quarrowFleetRecord\")\n}\n").arg(path));
}

// Three machines' 50,000 records each through a receiver, from the
// forwarders' start until the last is a row (or a line of `toFilePath`).
void receiverRate(benchmark::State& state, const std::function<void(QString&)>& configure, bool intoFile = false)
{
    Fleet& f = server();
    if (!f.ok) {
        state.SkipWithError("no PostgreSQL");
        return;
    }
    QTemporaryDir dir;
    FleetReceiver receiver(dir.path());
    QString why;
    QStringList machines;
    for (const char* machine : kForwarders)
        machines << QLatin1String(machine);
    const QString lines = dir.filePath("lines");
    const auto configuration = [&](QString& text) {
        if (intoFile)
            toFile(text, lines);
        else if (configure)
            configure(text);
    };
    bool ready = receiver.makeCertificates(machines, why)
                 && receiver.start(QStringLiteral(VX_SOURCE_DIR "/docs/rsyslog-fleet-postgresql.conf"),
                                   f.server->url(QStringLiteral("fleetrx"), QStringLiteral("fleet_writer")), why, configuration);
    for (const QString& machine : machines)
        ready = ready && fillMachine(dir.filePath(machine + ".db"), kForwarded);
    if (!ready) {
        state.SkipWithError(qPrintable(why));
        return;
    }
    for (auto _ : state) {
        psql(f, "fleetrx", "TRUNCATE fleet_log, fleet_log_rejects");
        QFile(lines).resize(0);
        for (const QString& machine : machines)
            QFile::remove(dir.filePath(machine + ".cursor"));
        QElapsedTimer timer;
        timer.start();
        std::vector<std::unique_ptr<QProcess>> forwarders;
        for (const QString& machine : machines) {
            forwarders.push_back(std::make_unique<QProcess>());
            forwarders.back()->start(QStringLiteral(VXLOG_BINARY),
                                     QStringList{"forward"} + receiver.forwardArguments(machine, dir.filePath(machine + ".db")));
        }
        while ((intoFile ? linesIn(lines) : storedCount(f.rxUrl)) < qint64(kForwarderCount) * kForwarded)
            QThread::msleep(100);
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        for (auto& forwarder : forwarders) {
            forwarder->terminate();
            forwarder->waitForFinished(-1);
        }
    }
    state.counters["records/s"] = benchmark::Counter(double(kForwarderCount) * kForwarded * state.iterations(),
                                                     benchmark::Counter::kIsRate);
}

// The shipped receiver: vxlog store, one statement per batch.
void BM_ReceiverRate_vxlogStore(benchmark::State& state)
{
    receiverRate(state, nullptr);
}

void BM_ReceiverRate_toFile(benchmark::State& state)
{
    receiverRate(state, nullptr, true);
}

// The receiver before vxlog store: one statement per record.
void BM_ReceiverRate_oneStatementPerRecord(benchmark::State& state)
{
    receiverRate(state, oneStatementPerRecord);
}

// The database's own bulk load of the same 150,000 rows: psql's \copy into
// fleet_log with its key and indexes, the limit of any receiver here.
void BM_CopySameRows_psql(benchmark::State& state)
{
    Fleet& f = server();
    if (!f.ok) {
        state.SkipWithError("no PostgreSQL");
        return;
    }
    QTemporaryDir dir;
    QFile rows(dir.filePath("rows.copy"));
    rows.open(QIODevice::WriteOnly);
    for (const char* machine : kForwarders) {
        for (int n = 0; n < kForwarded; ++n)
            rows.write(QStringLiteral("%1\t%2\t%3\t%4\t%5\n").arg(QLatin1String(machine)).arg(n + 1).arg(datetimeOf(n)).arg(n % 5)
                           .arg(messageOf(n).replace(QLatin1Char('\n'), QStringLiteral("\\n"))).toUtf8());
    }
    rows.close();
    const QStringList arguments{"-X", "-q", "-h", "127.0.0.1", "-p", QString::number(f.server->port()), "-U", PostgresServer::user(),
                                "-d", "fleetrx", "-c",
                                QStringLiteral("\\copy fleet_log (host, id, datetime, type, message) FROM '%1'").arg(rows.fileName())};
    for (auto _ : state) {
        state.PauseTiming();
        psql(f, "fleetrx", "TRUNCATE fleet_log, fleet_log_rejects");
        state.ResumeTiming();
        state.SetIterationTime(timedRun(psqlProgram(), arguments));
    }
    state.counters["records/s"] = benchmark::Counter(double(kForwarderCount) * kForwarded * state.iterations(),
                                                     benchmark::Counter::kIsRate);
}

// How soon storing resumes after PostgreSQL comes back: 10,000 records
// forwarded while it is stopped (spooled by vxlog store), timed from the
// server's start until the last is a row.
void BM_StoringResumesAfterDatabaseRestart(benchmark::State& state)
{
    Fleet& f = server();
    if (!f.ok) {
        state.SkipWithError("no PostgreSQL");
        return;
    }
    constexpr int kWhileAway = 10000;
    QTemporaryDir dir;
    FleetReceiver receiver(dir.path());
    QString why;
    if (!receiver.makeCertificates({"plc-7"}, why)
        || !receiver.start(QStringLiteral(VX_SOURCE_DIR "/docs/rsyslog-fleet-postgresql.conf"),
                           f.server->url(QStringLiteral("fleetrx"), QStringLiteral("fleet_writer")), why)
        || !fillMachine(dir.filePath("plc-7.db"), kWhileAway)) {
        state.SkipWithError(qPrintable(why));
        return;
    }
    for (auto _ : state) {
        psql(f, "fleetrx", "TRUNCATE fleet_log, fleet_log_rejects");
        QFile::remove(dir.filePath("plc-7.cursor"));
        f.server->stop();
        QProcess forwarder;
        forwarder.start(QStringLiteral(VXLOG_BINARY), QStringList{"forward"} + receiver.forwardArguments("plc-7", dir.filePath("plc-7.db")));
        // Every record confirmed: the forwarder's cursor reaches the last id.
        const auto cursor = [&dir] {
            QFile file(dir.filePath("plc-7.cursor"));
            return file.open(QIODevice::ReadOnly) ? file.readLine().trimmed() : QByteArray();
        };
        while (cursor() != QByteArray::number(kWhileAway))
            QThread::msleep(50);
        if (!f.server->restart(why)) {
            state.SkipWithError(qPrintable(why));
            return;
        }
        QElapsedTimer timer;
        timer.start();
        while (storedCount(f.rxUrl) < kWhileAway)
            QThread::msleep(20);
        state.SetIterationTime(timer.nsecsElapsed() / 1e9);
        forwarder.terminate();
        forwarder.waitForFinished(-1);
    }
}

} // namespace

BENCHMARK(BM_DayOneMachine_vxlog)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_DayOneMachine_psql)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_DayAllMachines_vxlog)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_DayAllMachines_psql)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Report30DaysAllMachines_vxlog)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Report30DaysAllMachines_psql)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReportJuneOfAYear_vxlog)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ReportJuneOfAYear_psql)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_FirstScreenOneMachine_viewer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_FirstScreenOneMachine_psql)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_FirstScreenAllMachines_viewer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_FirstScreenAllMachines_psql)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_ReceiverRate_vxlogStore)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(2);
BENCHMARK(BM_ReceiverRate_toFile)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(2);
BENCHMARK(BM_ReceiverRate_oneStatementPerRecord)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(2);
BENCHMARK(BM_CopySameRows_psql)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(2);
BENCHMARK(BM_StoringResumesAfterDatabaseRestart)->UseManualTime()->Unit(benchmark::kSecond)->Iterations(3);

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
