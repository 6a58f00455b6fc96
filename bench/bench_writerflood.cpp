// The writer under a flood: logging threads push lines as fast as they can for
// 5 seconds while the GUI thread runs a day query every 50 ms. Reports lines
// accepted, written and dropped per second, the peak resident memory, the
// longest and the 99th-percentile wait of a query, and how long the queue
// takes to drain afterwards. Run by hand; CI only builds this.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <malloc.h>
#include <memory>
#include <thread>
#include <unistd.h>
#include <vector>

#include "write/vxLogDB.h"

using SystemLog::vxLogDB;

namespace {

const char kLine[] = "2024-05-01 08:30:00 user admin changed parameter speed to 1200\n";
const int kLineLength = sizeof kLine - 1;
constexpr auto kFloodTime = std::chrono::seconds(5);
constexpr auto kQueryEvery = std::chrono::milliseconds(50);

double residentMegabytes()
{
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

qint64 rowsInTable()
{
    qint64 rows = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("count"));
        db.setDatabaseName(QStringLiteral("dbLog.db"));
        db.open();
        QSqlQuery q(db);
        if (q.exec(QStringLiteral("SELECT count(*) FROM SystemInfo")) && q.next())
            rows = q.value(0).toLongLong();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("count"));
    return rows;
}

void BM_Flood(benchmark::State& state)
{
    const int threads = static_cast<int>(state.range(0));
    for (auto _ : state) {
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        malloc_trim(0);
        auto writer = std::make_unique<vxLogDB>();
        writer->start();

        std::atomic<bool> stop{false};
        std::vector<std::uint64_t> pushed(threads, 0);
        std::vector<std::thread> loggers;
        for (int t = 0; t < threads; ++t)
            loggers.emplace_back([&, t] {
                std::uint64_t n = 0;
                while (!stop.load(std::memory_order_relaxed)) {
                    writer->pushMsg(2, kLine, kLineLength);
                    ++n;
                }
                pushed[t] = n;
            });

        const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
        std::vector<double> waits;
        double peakMb = residentMegabytes();
        const auto end = std::chrono::steady_clock::now() + kFloodTime;
        auto next = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_until(next);
            next += kQueryEvery;
            QElapsedTimer wait;
            wait.start();
            // A type the flood does not log: the wait is for the lock, not for rows.
            benchmark::DoNotOptimize(writer->queryByDay(today, 3));
            waits.push_back(double(wait.nsecsElapsed()) / 1e6);
            peakMb = std::max(peakMb, residentMegabytes());
        }
        stop = true;
        for (auto& logger : loggers)
            logger.join();
        const qint64 writtenInFlood = rowsInTable();
        const std::uint64_t dropped = writer->droppedCount();

        QElapsedTimer drain;
        drain.start();
        writer->stopProcess();
        writer->wait();
        const double drainSeconds = double(drain.elapsed()) / 1000.0;
        peakMb = std::max(peakMb, residentMegabytes());
        writer.reset();

        std::uint64_t total = 0;
        for (std::uint64_t n : pushed)
            total += n;
        const double firstWait = waits.empty() ? 0.0 : waits.front();
        const auto longest = std::max_element(waits.begin(), waits.end());
        const double longestAtMs = longest == waits.end() ? 0.0 : double(longest - waits.begin()) * kQueryEvery.count();
        std::sort(waits.begin(), waits.end());
        const double seconds = std::chrono::duration<double>(kFloodTime).count();
        state.counters["accepted_per_s"] = double(total - dropped) / seconds;
        state.counters["written_per_s"] = double(writtenInFlood) / seconds;
        state.counters["dropped_per_s"] = double(dropped) / seconds;
        state.counters["peak_rss_MB"] = peakMb;
        state.counters["query_wait_max_ms"] = waits.empty() ? 0.0 : waits.back();
        state.counters["query_wait_p99_ms"] = waits.empty() ? 0.0 : waits[std::min(waits.size() - 1, waits.size() * 99 / 100)];
        state.counters["query_wait_first_ms"] = firstWait;
        state.counters["query_wait_max_at_ms"] = longestAtMs;
        state.counters["drain_s"] = drainSeconds;
        QDir::setCurrent(QDir::tempPath());
    }
}
BENCHMARK(BM_Flood)->Arg(1)->Arg(2)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
