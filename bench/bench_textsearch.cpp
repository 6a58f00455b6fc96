// Searching a year of records through the text index beside the log, next to
// the same searches reading every row (the reader without a usable index)
// and sqlite3's own LIKE scan of the same file, in the same run; building
// the index, and its size per record.
//
//   bench_textsearch [--records=N] [benchmark options]
//
// N records (2,000,000 unless given; the environment's VX_BENCH_RECORDS
// too) over the year 2024, a typical machine's mix of Chinese and Latin
// texts. Words: "vibration" and "振动异常" in 300 records, "coolant" in a
// tenth of them, "卡刀" in one in 35. With VX_BENCH_DIR set, the generated
// log (and its index) is kept there and used again by the next run of the
// same size; making 10,000,000 records takes minutes.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>
#include <string>

#include <vxSyslog/LogReader.h>
#include <vxSyslog/TextIndex.h>

#include "search/IndexBuilder.h"

#include "ProcessRun.h"

using SystemLog::LogQuery;
using SystemLog::LogReader;

namespace {

qint64 g_records = 2000000;
QString g_path;

const char* const kAlarms[] = {"主轴过载报警", "刀库卡刀", "急停按下", "伺服驱动器故障", "润滑油压力低", "X轴超程", "冷却液液位低"};
const char* const kUsers[] = {"张伟", "李娜", "王芳", "刘洋"};

// The year's records through SQLite's C API, in transactions of 100,000,
// with the writer's table and time index.
bool writeYear(const QString& path, qint64 records)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK)
        return false;
    sqlite3_exec(db,
                 "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;"
                 "CREATE TABLE SystemInfo(\t\t\t\t\t\tid INTEGER  PRIMARY KEY AUTOINCREMENT UNIQUE \t\t\t\t\t\t, datetime DATETIME "
                 "NOT NULL DEFAULT (datetime(CURRENT_TIMESTAMP,'localtime'))  \t\t\t\t\t\t, type INT(32) \t\t\t\t\t\t, message TEXT);"
                 "CREATE INDEX SystemInfo_type_datetime ON SystemInfo(type, datetime);",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO SystemInfo(datetime, type, message) VALUES(?, ?, ?)", -1, &insert, nullptr);
    const qint64 rare = records / 300;
    char stamp[32];
    char message[160];
    for (qint64 i = 0; i < records; ++i) {
        if (i % 100000 == 0)
            sqlite3_exec(db, i == 0 ? "BEGIN" : "COMMIT; BEGIN", nullptr, nullptr, nullptr);
        const qint64 second = i * 366 * 86400 / records;
        const qint64 day = second / 86400;
        // Days of 2024 as month and day, near enough for a text stamp.
        std::snprintf(stamp, sizeof stamp, "2024-%02lld-%02lld %02lld:%02lld:%02lld", 1 + day / 31 % 12, 1 + day % 31 % 28,
                      second / 3600 % 24, second / 60 % 60, second % 60);
        const int type = int(i % 5);
        int length = 0;
        if (i % rare == 17) {
            length = std::snprintf(message, sizeof message, "vibration sensor 振动异常 %lld", i);
        } else {
            switch (type) {
            case 0:
                length = std::snprintf(message, sizeof message, "参数 P%lld 由 %lld 改为 %lld", i % 997, i % 1000, i * 7 % 1000);
                break;
            case 1:
                length = std::snprintf(message, sizeof message, "操作员 %s 登录, 模式 %s", kUsers[i % 4], i % 3 ? "自动" : "手动");
                break;
            case 2:
                length = std::snprintf(message, sizeof message, "主轴启动, 转速 %lld rpm, load 0.%02lld", 1000 + i % 9000, i % 100);
                break;
            case 3:
                length = std::snprintf(message, sizeof message, "报警 %lld: %s, 负载 %lld%%", 1000 + i % 50, kAlarms[i % 7], i % 120);
                break;
            default:
                length = std::snprintf(message, sizeof message, "%s level %lld%%, pump ok, cycle %lld",
                                       i % 10 == 4 ? "coolant" : "hydraulic", i % 100, i);
                break;
            }
        }
        sqlite3_bind_text(insert, 1, stamp, -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 2, type);
        sqlite3_bind_text(insert, 3, message, length, SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    const bool ok = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

LogQuery queryFor(const char* word)
{
    LogQuery query;
    query.grep = QString::fromUtf8(word);
    query.ignoreCase = query.grep == query.grep.toLower();
    return query;
}

// While it lives, the index cannot be used or made (a folder stands at its
// path): the reader reads every row, as it did before there was an index.
class IndexAway
{
public:
    IndexAway()
        : m_index(SystemLog::TextIndex::pathFor(g_path))
    {
        QFile::rename(m_index, m_index + QStringLiteral(".away"));
        QDir().mkpath(m_index);
    }
    ~IndexAway()
    {
        QDir().rmdir(m_index);
        QFile::rename(m_index + QStringLiteral(".away"), m_index);
    }

private:
    QString m_index;
};

// A search's count and first screen (50 records in time order), as vxlog
// and the viewer answer it.
void searchOnce(benchmark::State& state, const char* word, qint64& matches)
{
    LogReader reader(g_path);
    if (!reader.open()) {
        state.SkipWithError("the log cannot be opened");
        return;
    }
    const LogQuery query = queryFor(word);
    if (!reader.count(query, matches)) {
        state.SkipWithError(qPrintable(reader.errorText()));
        return;
    }
    int screen = 0;
    reader.readKeys(query, [&screen](const SystemLog::ListedKey&) { return ++screen < 50; });
}

void BM_Search(benchmark::State& state, const char* word, bool indexed)
{
    std::unique_ptr<IndexAway> away;
    if (!indexed)
        away = std::make_unique<IndexAway>();
    qint64 matches = 0;
    for (auto _ : state)
        searchOnce(state, word, matches);
    state.counters["matches"] = double(matches);
}

// Every match counted and listed, as the viewer's filter lists them.
void BM_ListAll(benchmark::State& state, const char* word, bool indexed)
{
    std::unique_ptr<IndexAway> away;
    if (!indexed)
        away = std::make_unique<IndexAway>();
    qint64 listed = 0;
    for (auto _ : state) {
        LogReader reader(g_path);
        reader.open();
        listed = 0;
        reader.readKeys(queryFor(word), [&listed](const SystemLog::ListedKey&) {
            ++listed;
            return true;
        });
    }
    state.counters["listed"] = double(listed);
}

// The yardstick: SQLite counting the same word with LIKE, reading every row.
void BM_SqliteLike(benchmark::State& state, const char* word)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(g_path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    const std::string sql = std::string("SELECT count(*) FROM SystemInfo WHERE message LIKE '%") + word + "%'";
    qint64 matches = 0;
    for (auto _ : state) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
        if (sqlite3_step(statement) == SQLITE_ROW)
            matches = sqlite3_column_int64(statement, 0);
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    state.counters["matches"] = double(matches);
}

#ifdef VXLOG_BINARY
// vxlog query --grep WORD --count as a process, end to end.
void BM_VxlogCount(benchmark::State& state, const char* word, bool indexed)
{
    std::unique_ptr<IndexAway> away;
    if (!indexed)
        away = std::make_unique<IndexAway>();
    const std::string path = g_path.toStdString();
    const std::vector<std::string> arguments{VXLOG_BINARY, "query", "--db", path, "--grep", word, "--count", "--quiet"};
    for (auto _ : state) {
        if (!runToDevNull(arguments).ok) {
            state.SkipWithError("vxlog failed");
            break;
        }
    }
}
#endif

qint64 fileBytes(const QString& path)
{
    return QFileInfo(path).size();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // Our own option first: Google Benchmark refuses options it does not know.
    std::vector<char*> rest;
    if (!qEnvironmentVariableIsEmpty("VX_BENCH_RECORDS"))
        g_records = qEnvironmentVariable("VX_BENCH_RECORDS").toLongLong();
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--records=", 10) == 0)
            g_records = std::atoll(argv[i] + 10);
        else
            rest.push_back(argv[i]);
    }
    int restCount = int(rest.size());
    benchmark::Initialize(&restCount, rest.data());

    QTemporaryDir scratch;
    const QString folder = qEnvironmentVariableIsEmpty("VX_BENCH_DIR") ? scratch.path() : qEnvironmentVariable("VX_BENCH_DIR");
    QDir().mkpath(folder);
    g_path = QDir(folder).filePath(QStringLiteral("year-%1.db").arg(g_records));
    QElapsedTimer clock;
    if (!QFileInfo::exists(g_path)) {
        clock.start();
        if (!writeYear(g_path, g_records)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(g_path));
            return 1;
        }
        std::fprintf(stderr, "%lld records written in %.1f s\n", g_records, clock.elapsed() / 1000.0);
    }
    {
        // The index as the writer's keeper (or a first search) makes it.
        SystemLog::IndexBuilder builder(g_path);
        qint64 behind = 0;
        builder.rowsBehind(behind);
        clock.start();
        if (!builder.catchUp()) {
            std::fprintf(stderr, "cannot build the index: %s\n", qPrintable(builder.errorText()));
            return 1;
        }
        if (behind > 0)
            std::fprintf(stderr, "index of %lld records built in %.1f s (%.0f records/s)\n", behind, clock.elapsed() / 1000.0,
                         behind * 1000.0 / std::max<qint64>(1, clock.elapsed()));
    }
    const qint64 logBytes = fileBytes(g_path);
    const qint64 indexBytes = fileBytes(SystemLog::TextIndex::pathFor(g_path));
    std::fprintf(stderr, "log %lld bytes (%.1f per record), index %lld bytes (%.1f per record, %.0f %% of the log)\n", logBytes,
                 double(logBytes) / g_records, indexBytes, double(indexBytes) / g_records, 100.0 * indexBytes / logBytes);

    const QString size = QString::number(g_records);
    for (const char* word : {"vibration", "振动异常", "coolant", "卡刀"}) {
        const std::string label = std::string(word) + "/" + size.toStdString();
        benchmark::RegisterBenchmark(("BM_Search/indexed/" + label).c_str(), BM_Search, word, true)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("BM_Search/every_row/" + label).c_str(), BM_Search, word, false)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(2);
        benchmark::RegisterBenchmark(("BM_SqliteLike/" + label).c_str(), BM_SqliteLike, word)->Unit(benchmark::kMillisecond)->Iterations(2);
    }
    for (const char* word : {"振动异常", "coolant"}) {
        const std::string label = std::string(word) + "/" + size.toStdString();
        benchmark::RegisterBenchmark(("BM_ListAll/indexed/" + label).c_str(), BM_ListAll, word, true)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(2);
        benchmark::RegisterBenchmark(("BM_ListAll/every_row/" + label).c_str(), BM_ListAll, word, false)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1);
    }
#ifdef VXLOG_BINARY
    for (const char* word : {"vibration", "coolant"}) {
        const std::string label = std::string(word) + "/" + size.toStdString();
        benchmark::RegisterBenchmark(("BM_VxlogCount/indexed/" + label).c_str(), BM_VxlogCount, word, true)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(3);
        benchmark::RegisterBenchmark(("BM_VxlogCount/every_row/" + label).c_str(), BM_VxlogCount, word, false)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(2);
    }
#endif
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
