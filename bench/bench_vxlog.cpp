// vxlog query on a day of 1,000,000 records written to /dev/null, in each
// output format, next to the sqlite3 command-line tool's `.mode csv` output of
// the same rows (same SELECT, same order) measured in the same run; the last
// N records (-n) and a grep count beside the same answers from sqlite3; and
// how soon follow ends on SIGINT while it prints a long history. Each run is
// a real process; its peak resident memory comes from wait4().
#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "DayLogDatabase.h"
#include "ProcessRun.h"

namespace {

constexpr int kRows = 1000000;
const char* const kDay = "2024-05-01";

// One day, the five types in turn, a typical machine line (about 45 bytes).
class DayDatabase
{
public:
    DayDatabase()
    {
        m_path = m_dir.filePath(QStringLiteral("dbLog.db")).toStdString();
        writeDayLogDatabase(m_path, kDay, kRows);
    }

    const std::string& path() const { return m_path; }

private:
    QTemporaryDir m_dir;
    std::string m_path;
};

const DayDatabase& dayDatabase()
{
    static const DayDatabase database;
    return database;
}

void reportRuns(benchmark::State& state, const std::vector<std::string>& arguments, int records = kRows)
{
    double peak = 0;
    for (auto _ : state) {
        const ProcessRun run = runToDevNull(arguments);
        if (!run.ok) {
            state.SkipWithError("the program failed");
            return;
        }
        state.SetIterationTime(run.seconds);
        peak = std::max(peak, run.peakMiB);
    }
    state.counters["records_per_s"] =
        benchmark::Counter(static_cast<double>(records) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["peak_MiB"] = peak;
}

void BM_VxlogQuery(benchmark::State& state)
{
    static const char* const formats[] = {"text", "csv", "json"};
    const char* format = formats[state.range(0)];
    state.SetLabel(format);
    reportRuns(state, {VXLOG_BINARY, "query", "--db", dayDatabase().path(), "--day", kDay, "--format", format});
}
BENCHMARK(BM_VxlogQuery)->DenseRange(0, 2)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// The yardstick: SQLite's own shell printing the same rows as CSV.
void BM_Sqlite3CsvMode(benchmark::State& state)
{
    const std::string select = std::string("SELECT id, datetime, type, message FROM SystemInfo WHERE datetime >= '") + kDay
                               + " 00:00:00' AND datetime <= '" + kDay + " 23:59:59' ORDER BY datetime, id";
    reportRuns(state, {"sqlite3", "-readonly", "-csv", dayDatabase().path(), select});
}
BENCHMARK(BM_Sqlite3CsvMode)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// The last N records of the day in time order (-n N), text.
void BM_VxlogQueryLast(benchmark::State& state)
{
    const std::string last = std::to_string(state.range(0));
    reportRuns(state, {VXLOG_BINARY, "query", "--db", dayDatabase().path(), "--day", kDay, "-n", last},
               static_cast<int>(state.range(0)));
}
BENCHMARK(BM_VxlogQueryLast)->Arg(kRows)->Arg(kRows / 2)->Arg(1000)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// The same last N from sqlite3: newest first with a limit, turned round by
// an outer ORDER BY.
void BM_Sqlite3Last(benchmark::State& state)
{
    const std::string inner = std::string("SELECT id, datetime, type, message FROM SystemInfo WHERE datetime >= '") + kDay
                              + " 00:00:00' AND datetime <= '" + kDay + " 23:59:59' ORDER BY datetime DESC, id DESC LIMIT "
                              + std::to_string(state.range(0));
    reportRuns(state, {"sqlite3", "-readonly", "-csv", dayDatabase().path(), "SELECT * FROM (" + inner + ") ORDER BY datetime, id"},
               static_cast<int>(state.range(0)));
}
BENCHMARK(BM_Sqlite3Last)->Arg(kRows)->Arg(kRows / 2)->Arg(1000)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// Counting the messages a pattern finds: a plain text in its own case, the
// same in any case (a lower-case pattern, as vxlog's grep takes it), and a
// regular expression. The pattern matches one record in seven.
void BM_VxlogGrepCount(benchmark::State& state)
{
    static const char* const labels[] = {"plain, case-sensitive", "plain, any case", "regular expression"};
    const std::string path = dayDatabase().path();
    const std::vector<std::vector<std::string>> runs{
        {VXLOG_BINARY, "query", "--db", path, "--count", "-g", "motor 3", "--case-sensitive"},
        {VXLOG_BINARY, "query", "--db", path, "--count", "-g", "motor 3"},
        {VXLOG_BINARY, "query", "--db", path, "--count", "-g", "motor [3] speed", "--case-sensitive"},
    };
    state.SetLabel(labels[state.range(0)]);
    reportRuns(state, runs[static_cast<size_t>(state.range(0))]);
}
BENCHMARK(BM_VxlogGrepCount)->DenseRange(0, 2)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// The same counts from sqlite3: its REGEXP (case-sensitive) and LIKE (any
// case for ASCII).
void BM_Sqlite3GrepCount(benchmark::State& state)
{
    static const char* const labels[] = {"REGEXP 'motor 3'", "LIKE '%motor 3%'", "REGEXP 'motor [3] speed'"};
    static const char* const conditions[] = {"message REGEXP 'motor 3'", "message LIKE '%motor 3%'",
                                             "message REGEXP 'motor [3] speed'"};
    state.SetLabel(labels[state.range(0)]);
    reportRuns(state, {"sqlite3", "-readonly", dayDatabase().path(),
                       std::string("SELECT count(*) FROM SystemInfo WHERE ") + conditions[state.range(0)]});
}
BENCHMARK(BM_Sqlite3GrepCount)->DenseRange(0, 2)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// From SIGINT to the end of `follow -n 1000000` while it prints its history
// (the argument: milliseconds after the start).
void BM_FollowInterrupt(benchmark::State& state)
{
    const std::vector<std::string> arguments{VXLOG_BINARY, "follow", "--db", dayDatabase().path(), "-n", std::to_string(kRows)};
    double longest = 0;
    for (auto _ : state) {
        const ProcessRun run = runToDevNull(arguments, {std::string(), std::chrono::milliseconds(state.range(0))});
        if (!run.ok) {
            state.SkipWithError("follow did not end with status 0");
            return;
        }
        state.SetIterationTime(run.seconds);
        longest = std::max(longest, run.seconds * 1000);
    }
    state.counters["longest_ms"] = longest;
}
BENCHMARK(BM_FollowInterrupt)->Arg(50)->Arg(300)->Arg(1000)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
