// The end of the log service while threads keep logging, and the take-in of
// a large side file. Run by hand; CI only builds this.
//
//   BM_EndOfService/<threads>/<logging>: a Session, <threads> threads logging
//     without pause for 300 ms, then release(); the time release() takes.
//     logging=1: the threads go on logging through the end; logging=0 (the
//     baseline): they stop just before it, leaving the same kind of backlog.
//   BM_TakeIn/<lines>: a side file of <lines> lines beside a fresh database;
//     the time until a writer has taken it in, and the peak resident memory
//     meanwhile. BM_StoreLogged/<lines> (the baseline): the same lines pushed
//     into a writer and flushed.

#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <malloc.h>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <vxSyslog/vxLogging.h>
#include <vxSyslog/vxSysLog.h>

#include "write/vxLogDB.h"

using SystemLog::vxLogDB;
using SystemLog::vxSysLog;

namespace {

// The high-water mark of resident memory since the last reset, in MiB.
void resetPeakMemory()
{
    // Pages freed by earlier runs would otherwise still count as resident.
    malloc_trim(0);
    if (std::FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", refs);
        std::fclose(refs);
    }
}

double peakMegabytes()
{
    double kb = 0;
    if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "VmHWM: %lf kB", &kb) == 1)
                break;
        std::fclose(status);
    }
    return kb / 1024.0;
}

// Lines logged after the end go to standard output: not into the report.
class QuietStdout
{
public:
    QuietStdout()
    {
        std::fflush(stdout);
        m_saved = ::dup(1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::close(null);
    }
    ~QuietStdout()
    {
        std::fflush(stdout);
        ::dup2(m_saved, 1);
        ::close(m_saved);
    }

private:
    int m_saved = -1;
};

void BM_EndOfService(benchmark::State& state)
{
    const int threads = int(state.range(0));
    const bool keepLogging = state.range(1) != 0;
    double endSeconds = 0;
    for (auto _ : state) {
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        QuietStdout quiet;
        auto session = std::make_unique<vxSysLog::Session>();
        std::atomic<bool> logging{true};
        std::vector<std::thread> loggers;
        for (int t = 0; t < threads; ++t)
            loggers.emplace_back([&logging, t] {
                for (long k = 0; logging.load(std::memory_order_relaxed); ++k)
                    VXLOG_STATUS << "bench t" << t << " n" << k;
            });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (!keepLogging) {
            logging = false;
            for (std::thread& thread : loggers)
                thread.join();
        }
        const auto begin = std::chrono::steady_clock::now();
        session.reset();
        const auto end = std::chrono::steady_clock::now();
        endSeconds += std::chrono::duration<double>(end - begin).count();
        state.SetIterationTime(std::chrono::duration<double>(end - begin).count());
        logging = false;
        for (std::thread& thread : loggers)
            if (thread.joinable())
                thread.join();
    }
    state.counters["end_s"] = endSeconds / double(state.iterations());
}
BENCHMARK(BM_EndOfService)
    ->ArgsProduct({{2, 8, 32}, {0, 1}})
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// "bench n<k>" lines of type 2, in the side files' format.
void writeSideFile(const std::string& path, long lines)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fputs("vxSyslog unwritten lines 2\n", file);
    for (long k = 0; k < lines; ++k) {
        const std::string text = "bench n" + std::to_string(k) + '\n';
        std::fprintf(file, "2026-12-08 03:01:00 2 %zu\n%s\n", text.size(), text.c_str());
    }
    std::fprintf(file, "end %ld\n", lines);
    std::fclose(file);
}

bool sideFileLeft()
{
    return !QDir::current().entryList({QStringLiteral("dbLog.db-unwritten-*")}, QDir::Files).isEmpty();
}

// A writer in a fresh folder, timed from its start until `work` has had it
// store its lines; the peak memory of all runs.
void timeWriter(benchmark::State& state, const std::function<void(const QTemporaryDir&)>& prepare,
                const std::function<void(vxLogDB&)>& work)
{
    double peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QTemporaryDir dir;
        QDir::setCurrent(dir.path());
        prepare(dir);
        resetPeakMemory();
        state.ResumeTiming();
        vxLogDB writer;
        writer.start();
        work(writer);
        state.PauseTiming();
        peak = std::max(peak, peakMegabytes());
        writer.stopProcess();
        writer.wait();
        state.ResumeTiming();
    }
    state.counters["peak_MiB"] = peak;
}

void BM_TakeIn(benchmark::State& state)
{
    const long lines = long(state.range(0));
    timeWriter(
        state,
        [lines](const QTemporaryDir& dir) {
            writeSideFile(dir.filePath(QStringLiteral("dbLog.db-unwritten-1-2-3")).toStdString(), lines);
        },
        [](vxLogDB&) {
            while (sideFileLeft())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });
}
BENCHMARK(BM_TakeIn)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_StoreLogged(benchmark::State& state)
{
    const long lines = long(state.range(0));
    timeWriter(
        state, [](const QTemporaryDir&) {},
        [lines](vxLogDB& writer) {
            for (long k = 0; k < lines; ++k) {
                const std::string text = "bench n" + std::to_string(k) + '\n';
                writer.pushMsg(2, text.data(), int(text.size()));
            }
            writer.flush();
        });
}
BENCHMARK(BM_StoreLogged)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
