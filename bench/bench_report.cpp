// vxlog report on a year of 10,000,000 records (REPORT_ROWS), for 30 days
// and for the whole year, each beside the sqlite3 shell computing the same
// figures in SQL in the same run: the records per 10-minute period, per
// type, the ten most frequent texts (GROUP BY message) and the chattering
// bursts (window functions over each text's occurrences). Each run is a real
// process with its output on /dev/null.
//
//   BENCH_DB_DIR=/some/folder build/bench/bench_report
//
// keeps the generated year in that folder between runs.
#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ProcessRun.h"

namespace {

qint64 yearRows()
{
    const qint64 rows = qEnvironmentVariableIntValue("REPORT_ROWS");
    return rows > 0 ? rows : 10000000;
}

// 2025 evenly filled, the five types in turn, machine lines whose numbers
// repeat (about 700 texts of alarms), as bench_vxlog's day.
std::string yearDatabase()
{
    static QTemporaryDir temporary;
    static std::string path;
    if (!path.empty())
        return path;
    const QString folder = qEnvironmentVariable("BENCH_DB_DIR", temporary.path());
    path = QDir(folder).filePath(QStringLiteral("year-%1.db").arg(yearRows())).toStdString();
    if (QFile::exists(QString::fromStdString(path)))
        return path;
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db,
                 "CREATE TABLE SystemInfo(\t\t\t\t\t\tid INTEGER  PRIMARY KEY AUTOINCREMENT UNIQUE "
                 "\t\t\t\t\t\t, datetime DATETIME NOT NULL DEFAULT (datetime(CURRENT_TIMESTAMP,'localtime'))  "
                 "\t\t\t\t\t\t, type INT(32) \t\t\t\t\t\t, message TEXT);"
                 "CREATE INDEX SystemInfo_type_datetime ON SystemInfo(type, datetime);"
                 "PRAGMA synchronous = OFF; BEGIN;",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO SystemInfo(datetime, type, message) VALUES(datetime(?, 'unixepoch'), ?, ?)", -1,
                       &insert, nullptr);
    const qint64 rows = yearRows();
    char message[96];
    for (qint64 i = 0; i < rows; ++i) {
        const int length = std::snprintf(message, sizeof message, "motor %d speed %d rpm, load 0.%02d\n", int(i % 7),
                                         int(1400 + i % 100), int(i % 100));
        sqlite3_bind_int64(insert, 1, 1735689600 + i * 31536000 / rows);
        sqlite3_bind_int(insert, 2, int(i % 5));
        sqlite3_bind_text(insert, 3, message, length, SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return path;
}

// The report's figures in SQL, as one would type them into sqlite3.
std::string aggregateSql(const std::string& since, const std::string& until)
{
    const std::string period = " datetime BETWEEN '" + since + "' AND '" + until + "'";
    std::string sql;
    for (int type = 0; type < 5; ++type)
        sql += "SELECT count(*) FROM SystemInfo WHERE type = " + std::to_string(type) + " AND" + period + ";\n";
    sql += "SELECT substr(datetime, 1, 15), count(*) FROM SystemInfo WHERE type = 3 AND" + period + " GROUP BY 1;\n";
    sql += "SELECT message, count(*), count(*) OVER () FROM SystemInfo WHERE type = 3 AND" + period
           + " GROUP BY message ORDER BY 2 DESC, 1 LIMIT 10;\n";
    sql += "SELECT m, count(*), sum(b) FROM (SELECT m, CASE WHEN t - lag(t, 2) OVER w <= 60"
           " AND NOT ifnull(lag(t, 1) OVER w - lag(t, 3) OVER w <= 60, 0)"
           " AND NOT ifnull(lag(t, 2) OVER w - lag(t, 4) OVER w <= 60, 0) THEN 1 ELSE 0 END AS b"
           " FROM (SELECT message AS m, unixepoch(datetime) AS t FROM SystemInfo WHERE type = 3 AND"
           + period + ") WINDOW w AS (PARTITION BY m ORDER BY t)) GROUP BY m HAVING sum(b) > 0;\n";
    return sql;
}

void timeRuns(benchmark::State& state, const std::vector<std::string>& arguments, const std::string& input = std::string())
{
    double cpu = 0;
    for (auto _ : state) {
        const ProcessRun run = runToDevNull(arguments, {input});
        if (!run.ok) {
            state.SkipWithError("the program failed");
            return;
        }
        state.SetIterationTime(run.seconds);
        cpu += run.cpuSeconds;
    }
    // The processor time of the program itself, which the load of other
    // programs on the machine stretches far less than the wall time.
    state.counters["cpu_s"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
}

struct Period
{
    const char* since;
    const char* until;
};
const Period k30Days{"2025-06-01 00:00:00", "2025-06-30 23:59:59"};
const Period kYear{"2025-01-01 00:00:00", "2025-12-31 23:59:59"};

void reportOf(benchmark::State& state, const Period& period)
{
    timeRuns(state, {VXLOG_BINARY, "report", "--db", yearDatabase(), "--since", period.since, "--until", period.until, "-o", "json"});
}

void sqliteOf(benchmark::State& state, const Period& period)
{
    static QTemporaryDir scripts;
    const std::string script = scripts.filePath(QStringLiteral("aggregate-%1.sql").arg(QLatin1String(period.since).left(7))).toStdString();
    QFile file(QString::fromStdString(script));
    if (!file.open(QIODevice::WriteOnly) || file.write(aggregateSql(period.since, period.until).c_str()) < 0) {
        state.SkipWithError("cannot write the script");
        return;
    }
    file.close();
    timeRuns(state, {"sqlite3", yearDatabase()}, script);
}

void BM_Report30Days(benchmark::State& state) { reportOf(state, k30Days); }
void BM_Report30Days_sqlite3(benchmark::State& state) { sqliteOf(state, k30Days); }
void BM_ReportYear(benchmark::State& state) { reportOf(state, kYear); }
void BM_ReportYear_sqlite3(benchmark::State& state) { sqliteOf(state, kYear); }

} // namespace

BENCHMARK(BM_Report30Days)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Report30Days_sqlite3)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReportYear)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReportYear_sqlite3)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
