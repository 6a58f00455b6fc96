// vxlog forward shipping the last N records of a 1,000,000-row dbLog.db to a
// local rsyslogd (imrelp, omfile into a file), next to a raw librelp client
// sending the same messages, formatted beforehand, to the same receiver in
// the same run. Both are timed from their start until the receiver has
// written the last record; the forwarder is a real process whose peak
// resident memory comes from wait4(), for N = 100,000 and 1,000,000.
// The log and the forwarder's cursor file lie together in a folder of the
// current directory (run it from the build folder: the disk a log lives on,
// not a tmpfs), so the cursor's syncs cost what they cost on a machine.
// VX_BENCH_VXLOG names another vxlog to time (an older build, for figures
// before and after a change).
#include <benchmark/benchmark.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <sqlite3.h>

#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <vxSyslog/SyslogFormat.h>

#include "DayLogDatabase.h"
#include "forward/RelpClient.h"
#include "RsyslogReceiver.h"

extern "C" {
#include <librelp.h>
}

extern char** environ;

namespace {

constexpr int kRows = 1000000;
const char* const kHostname = "bench-host";

// The log, the receiver and the messages the raw client sends, made once.
class Setup
{
public:
    Setup()
        : m_dir(QDir::current().filePath(QStringLiteral("bench_forward-XXXXXX")))
        , m_receiver(m_dir.filePath(QStringLiteral("receiver")))
    {
        m_log = m_dir.filePath(QStringLiteral("dbLog.db")).toStdString();
        writeDayLogDatabase(m_log, "2024-05-01", kRows);
    }

    bool startReceiver(std::string& why)
    {
        QFile::remove(m_receiver.outputPath());
        QString reason;
        const bool started = m_receiver.start(reason);
        why = reason.toStdString();
        return started;
    }
    void stopReceiver() { m_receiver.stop(); }

    const std::string& log() const { return m_log; }
    const RsyslogReceiver& receiver() const { return m_receiver; }
    std::string cursorPath() const { return m_dir.filePath(QStringLiteral("cursor")).toStdString(); }

    // The last `count` records as vxlog forward formats them.
    std::vector<QByteArray> messages(int count) const
    {
        SystemLog::SyslogFormatter::Options options;
        options.hostname = kHostname;
        SystemLog::SyslogFormatter formatter(options);
        std::vector<QByteArray> result;
        result.reserve(static_cast<size_t>(count));
        sqlite3* db = nullptr;
        sqlite3_open_v2(m_log.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* select = nullptr;
        sqlite3_prepare_v2(db, "SELECT id, datetime, type, message FROM SystemInfo WHERE id > ? ORDER BY id", -1, &select, nullptr);
        sqlite3_bind_int64(select, 1, kRows - count);
        while (sqlite3_step(select) == SQLITE_ROW) {
            SystemLog::LogRecord record;
            record.id = sqlite3_column_int64(select, 0);
            record.datetime = QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(select, 1)));
            record.type = sqlite3_column_int(select, 2);
            record.message = QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(select, 3)));
            QByteArray message;
            formatter.append(record, message);
            result.push_back(message);
        }
        sqlite3_finalize(select);
        sqlite3_close(db);
        return result;
    }

private:
    QTemporaryDir m_dir;
    std::string m_log;
    RsyslogReceiver m_receiver;
};

Setup& setup()
{
    static Setup instance;
    return instance;
}

// Polls the end of the receiver's file until the last record's line is there.
bool waitForLastRecord(const RsyslogReceiver& receiver)
{
    const QByteArray last = QByteArrayLiteral("id=\"") + QByteArray::number(kRows) + '"';
    QDeadlineTimer deadline(600000);
    while (!deadline.hasExpired()) {
        QFile file(receiver.outputPath());
        if (file.open(QIODevice::ReadOnly)) {
            file.seek(qMax<qint64>(0, file.size() - 4096));
            if (file.read(4096).contains(last))
                return true;
        }
        QThread::msleep(5);
    }
    return false;
}

bool writeCursor(const std::string& path, long long id)
{
    FILE* file = std::fopen(path.c_str(), "w");
    if (!file)
        return false;
    std::fprintf(file, "%lld\n", id);
    return std::fclose(file) == 0;
}

void BM_VxlogForward(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    double peakMiB = 0;
    double cpuSeconds = 0;
    for (auto _ : state) {
        std::string why;
        if (!setup().startReceiver(why) || !writeCursor(setup().cursorPath(), kRows - count)) {
            state.SkipWithError(why.empty() ? "cannot write the cursor" : why.c_str());
            return;
        }
        const std::string url = setup().receiver().url().toStdString();
        const std::string vxlog = qEnvironmentVariableIsSet("VX_BENCH_VXLOG") ? qgetenv("VX_BENCH_VXLOG").toStdString()
                                                                               : std::string(VXLOG_BINARY);
        std::vector<std::string> arguments{vxlog,        "forward",      "--db",       setup().log(),
                                           "--to",       url,            "--hostname", kHostname,
                                           "--cursor-file", setup().cursorPath()};
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(&argument[0]);
        argv.push_back(nullptr);

        const auto start = std::chrono::steady_clock::now();
        pid_t pid = 0;
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
            state.SkipWithError("cannot start vxlog");
            return;
        }
        const bool arrived = waitForLastRecord(setup().receiver());
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        kill(pid, SIGTERM);
        int status = 0;
        struct rusage usage {};
        wait4(pid, &status, 0, &usage);
        setup().stopReceiver();
        if (!arrived || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the forwarder failed");
            return;
        }
        state.SetIterationTime(seconds);
        peakMiB = std::max(peakMiB, usage.ru_maxrss / 1024.0);
        cpuSeconds += usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    }
    state.counters["cpu_us_per_record"] = cpuSeconds * 1e6 / (double(count) * state.iterations());
    state.counters["records_per_s"] = benchmark::Counter(double(count) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["peak_MiB"] = peakMiB;
}
BENCHMARK(BM_VxlogForward)->Arg(100000)->Arg(kRows)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void noDebugPrint(char*, ...) {}

// The yardstick: librelp's client in a loop over messages formatted before
// the clock starts, with the same window, then closed.
void BM_RawLibrelpClient(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    const std::vector<QByteArray> messages = setup().messages(count);
    double cpuSeconds = 0;
    for (auto _ : state) {
        std::string why;
        if (!setup().startReceiver(why)) {
            state.SkipWithError(why.c_str());
            return;
        }
        QByteArray port = QByteArray::number(setup().receiver().port());
        QByteArray host("127.0.0.1");
        QByteArray command("syslog");
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpuStart = std::clock();
        relpEngine_t* engine = nullptr;
        relpClt_t* client = nullptr;
        relpEngineConstruct(&engine);
        relpEngineSetDbgprint(engine, noDebugPrint);
        relpEngineSetEnableCmd(engine, reinterpret_cast<unsigned char*>(command.data()), eRelpCmdState_Required);
        relpEngineCltConstruct(engine, &client);
        relpCltSetWindowSize(client, RelpClient::kWindow);
        bool sent = relpCltConnect(client, 0, reinterpret_cast<unsigned char*>(port.data()),
                                   reinterpret_cast<unsigned char*>(host.data())) == RELP_RET_OK;
        for (size_t i = 0; sent && i < messages.size(); ++i)
            sent = relpCltSendSyslog(client, reinterpret_cast<unsigned char*>(const_cast<char*>(messages[i].constData())),
                                     static_cast<size_t>(messages[i].size())) == RELP_RET_OK;
        const bool arrived = sent && waitForLastRecord(setup().receiver());
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpuSeconds += double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        relpEngineCltDestruct(engine, &client);
        relpEngineDestruct(&engine);
        setup().stopReceiver();
        if (!arrived) {
            state.SkipWithError("the raw client failed");
            return;
        }
        state.SetIterationTime(seconds);
    }
    state.counters["records_per_s"] = benchmark::Counter(double(count) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["cpu_us_per_record"] = cpuSeconds * 1e6 / (double(count) * state.iterations());
}
BENCHMARK(BM_RawLibrelpClient)->Arg(100000)->Arg(kRows)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
