// Costs of the log store: queuing a line, the writer's sustained rate against
// a plain SQLite C program (the raw limit), and a day query on a large log.
// Run by hand; CI only builds this.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <chrono>
#include <ctime>
#include <list>
#include <memory>
#include <thread>

#include <sqlite3.h>

#include "search/IndexBuilder.h"
#include "write/UnwrittenLines.h"
#include "write/vxLogDB.h"

using SystemLog::vxLogDB;

namespace {

const char kLine[] = "2024-05-01 08:30:00 user admin changed parameter speed to 1200\n";
const int kLineLength = sizeof kLine - 1;

// A running writer whose file it refuses (dbLog.db is not a database), so
// every cycle takes the queue and gives it up: the queue stays as short as in
// a healthy system and the cost measured is pushMsg's own, not the memory of
// millions of lines waiting for a slower disk.
std::unique_ptr<vxLogDB> g_droppingWriter;

void BM_PushMsg(benchmark::State& state)
{
    for (auto _ : state)
        g_droppingWriter->pushMsg(1, kLine, kLineLength);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PushMsg)->Threads(1)->Threads(4)->UseRealTime();

// Lines pushed as fast as possible, timed until the last one is in the table.
// The logging thread and the writer share the machine's two cores.
void BM_WriterThroughput(benchmark::State& state)
{
    const int lines = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(QStringLiteral("dbLog.db"));
        auto writer = std::make_unique<vxLogDB>();
        writer->start();
        state.ResumeTiming();
        for (int i = 0; i < lines; ++i)
            writer->pushMsg(i % 5, kLine, kLineLength);
        writer->stopProcess();
        writer->wait();
        state.PauseTiming();
        writer.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * lines);
}
BENCHMARK(BM_WriterThroughput)->Arg(200000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The writer alone: lines queued before it starts, timed from start() until
// the last one is in the table. Compare with BM_RawSqliteInsert.
void BM_WriterDrain(benchmark::State& state)
{
    const int lines = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(QStringLiteral("dbLog.db"));
        auto writer = std::make_unique<vxLogDB>();
        for (int i = 0; i < lines; ++i)
            writer->pushMsg(i % 5, kLine, kLineLength);
        state.ResumeTiming();
        writer->start();
        writer->stopProcess();
        writer->wait();
        state.PauseTiming();
        writer.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * lines);
}
BENCHMARK(BM_WriterDrain)->Arg(200000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The writer draining queued lines with the text index kept beside its file
// (its keeper indexes on a thread of its own while the writer writes) and
// without, timed from start() until the last line is stored. Untimed after
// each drain: how long the keeper then took to index the rest, and the
// index's size per line.
void BM_WriterDrainIndex(benchmark::State& state, bool keepsIndex)
{
    const int lines = static_cast<int>(state.range(0));
    vxLogDB::Settings settings;
    settings.keepsTextIndex = keepsIndex;
    vxLogDB::setInitialSettings(settings);
    double caughtUpMs = 0;
    double indexBytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(QStringLiteral("dbLog.db"));
        QFile::remove(QStringLiteral("dbLog.db-index"));
        auto writer = std::make_unique<vxLogDB>();
        for (int i = 0; i < lines; ++i)
            writer->pushMsg(i % 5, kLine, kLineLength);
        state.ResumeTiming();
        writer->start();
        writer->flush();
        state.PauseTiming();
        const auto stored = std::chrono::steady_clock::now();
        SystemLog::IndexBuilder probe(QStringLiteral("dbLog.db"));
        qint64 behind = 1;
        while (keepsIndex && probe.rowsBehind(behind) && behind > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        caughtUpMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - stored).count();
        indexBytes = double(QFileInfo(QStringLiteral("dbLog.db-index")).size());
        writer->stopProcess();
        writer->wait();
        writer.reset();
        state.ResumeTiming();
    }
    vxLogDB::setInitialSettings(vxLogDB::Settings());
    state.SetItemsProcessed(state.iterations() * lines);
    state.counters["index_caught_up_ms"] = caughtUpMs;
    state.counters["index_bytes_per_line"] = indexBytes / lines;
}
BENCHMARK_CAPTURE(BM_WriterDrainIndex, without_index, false)->Arg(200000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_WriterDrainIndex, with_index, true)->Arg(200000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The raw limit: a plain SQLite C program inserting the same rows into the
// same table (index and durability setting included) in transactions of
// 10,000 with one prepared statement.
void BM_RawSqliteInsert(benchmark::State& state)
{
    const int lines = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(QStringLiteral("raw.db"));
        sqlite3* db = nullptr;
        sqlite3_open("raw.db", &db);
        sqlite3_exec(db, SystemLog::QDBSqlite::kCreateTableSql, nullptr, nullptr, nullptr);
        sqlite3_exec(db, SystemLog::QDBSqlite::kCreateIndexSql, nullptr, nullptr, nullptr);
        sqlite3_exec(db, "PRAGMA synchronous = FULL", nullptr, nullptr, nullptr);
        state.ResumeTiming();
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db, SystemLog::QDBSqlite::kInsertSql, -1, &insert, nullptr);
        // The same explicit stamp the writer binds: the second, formatted
        // again only when it changes.
        std::time_t second = 0;
        char stamp[32] = {};
        for (int i = 0; i < lines;) {
            sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
            for (int k = 0; k < 10000 && i < lines; ++k, ++i) {
                const std::time_t now = std::time(nullptr);
                if (now != second) {
                    second = now;
                    std::tm local{};
                    localtime_r(&now, &local);
                    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
                }
                sqlite3_bind_text(insert, 1, stamp, 19, SQLITE_STATIC);
                sqlite3_bind_int(insert, 2, i % 5);
                sqlite3_bind_text(insert, 3, kLine, kLineLength, SQLITE_STATIC);
                sqlite3_step(insert);
                sqlite3_reset(insert);
            }
            sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        }
        sqlite3_finalize(insert);
        sqlite3_close(db);
    }
    state.SetItemsProcessed(state.iterations() * lines);
}
BENCHMARK(BM_RawSqliteInsert)->Arg(200000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The end of a writer whose file another program keeps locked: its queued
// lines go into a side file (written and synced), and the next writer to open
// the file stores them in one transaction. Compare with BM_WriterDrain.
std::list<SystemLog::tag_MsgItem> queuedLines(int lines)
{
    std::list<SystemLog::tag_MsgItem> items;
    const QString text = QString::fromLatin1(kLine);
    for (int i = 0; i < lines; ++i)
        items.push_back({text, i % 5});
    return items;
}

void BM_SideFileSave(benchmark::State& state)
{
    const std::list<SystemLog::tag_MsgItem> items = queuedLines(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        SystemLog::UnwrittenLines side(QDir::current().absoluteFilePath(QStringLiteral("dbLog.db")));
        if (!side.save(items))
            state.SkipWithError("the side file could not be written");
        state.PauseTiming();
        QFile::remove(side.savedPath());
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SideFileSave)->Arg(200000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SideFileTakeIn(benchmark::State& state)
{
    const std::list<SystemLog::tag_MsgItem> items = queuedLines(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(QStringLiteral("dbLog.db"));
        vxLogDB(QStringLiteral("dbLog.db")).flush();  // the table, as the ended writer left it
        SystemLog::UnwrittenLines(QDir::current().absoluteFilePath(QStringLiteral("dbLog.db"))).save(items);
        state.ResumeTiming();
        // Its writer thread takes the side file in, in batches.
        vxLogDB next;
        next.start();
        while (!QDir::current().entryList({QStringLiteral("dbLog.db-unwritten-*")}, QDir::Files).isEmpty())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SideFileTakeIn)->Arg(200000)->Unit(benchmark::kMillisecond)->UseRealTime();

// 1,000,000 rows over 100 days, 10,000 a day spread over the five types.
void fillLargeLog(const QString& path)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
    db.setDatabaseName(path);
    db.open();
    QSqlQuery(db).exec(QString::fromLatin1(SystemLog::QDBSqlite::kCreateTableSql));
    db.transaction();
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO SystemInfo(datetime, type, message) VALUES(?, ?, ?)"));
    const QDate first(2024, 1, 1);
    for (int day = 0; day < 100; ++day) {
        const QString date = first.addDays(day).toString(QStringLiteral("yyyy-MM-dd"));
        for (int i = 0; i < 10000; ++i) {
            const int second = i * 86400 / 10000;
            insert.bindValue(0, QStringLiteral("%1 %2:%3:%4")
                                    .arg(date)
                                    .arg(second / 3600, 2, 10, QLatin1Char('0'))
                                    .arg(second / 60 % 60, 2, 10, QLatin1Char('0'))
                                    .arg(second % 60, 2, 10, QLatin1Char('0')));
            insert.bindValue(1, i % 5);
            insert.bindValue(2, QString::fromLatin1(kLine));
            insert.exec();
        }
    }
    db.commit();
    db.close();
}

void BM_DayQuery(benchmark::State& state, vxLogDB* writer)
{
    int day = 0;
    std::size_t rows = 0;
    for (auto _ : state) {
        const QString date = QDate(2024, 1, 1).addDays(day++ % 100).toString(QStringLiteral("yyyy-MM-dd"));
        const SystemLog::RecordList found = writer->queryByDay(date, 2);
        rows = static_cast<std::size_t>(found.size());
        benchmark::DoNotOptimize(found);
    }
    state.counters["rows"] = static_cast<double>(rows);
}

// The same query as a whole-table scan, for comparison with the indexed one.
void BM_DayQueryTableScan(benchmark::State& state)
{
    QSqlDatabase db = QSqlDatabase::database(QStringLiteral("fill"));
    int day = 0;
    for (auto _ : state) {
        const QString date = QDate(2024, 1, 1).addDays(day++ % 100).toString(QStringLiteral("yyyy-MM-dd"));
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(QStringLiteral("select datetime,message from SystemInfo NOT INDEXED "
                                 "where datetime >? and datetime < ? and type = ?"));
        q.addBindValue(date + QStringLiteral(" 00:00:00"));
        q.addBindValue(date + QStringLiteral(" 23:59:59"));
        q.addBindValue(2);
        q.exec();
        int rows = 0;
        while (q.next())
            ++rows;
        benchmark::DoNotOptimize(rows);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    benchmark::Initialize(&argc, argv);

    QDir(dir.path()).mkpath(QStringLiteral("dropping"));
    QDir::setCurrent(dir.filePath(QStringLiteral("dropping")));
    {
        QFile refused(QStringLiteral("dbLog.db"));
        refused.open(QIODevice::WriteOnly);
        refused.write("not a log database\n");
    }
    g_droppingWriter = std::make_unique<vxLogDB>();
    g_droppingWriter->start();
    QDir::setCurrent(dir.path());

    QTemporaryDir largeDir;
    const QString largePath = largeDir.filePath(QStringLiteral("dbLog.db"));
    fillLargeLog(largePath);
    QDir::setCurrent(largeDir.path());
    auto largeWriter = std::make_unique<vxLogDB>(); // adds the index to the large log
    QDir::setCurrent(dir.path());
    QSqlDatabase::database(QStringLiteral("fill")).open();
    benchmark::RegisterBenchmark("BM_DayQuery/1M_rows", BM_DayQuery, largeWriter.get())->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_DayQueryTableScan/1M_rows", BM_DayQueryTableScan)->Unit(benchmark::kMillisecond);

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    g_droppingWriter.reset();
    largeWriter.reset();
    QSqlDatabase::database(QStringLiteral("fill")).close();
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    return 0;
}
