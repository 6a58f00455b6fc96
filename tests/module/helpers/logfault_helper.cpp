// A program with its own log service in ./dbLog.db that meets one of the
// faults its log must survive. It logs LINES numbered lines "fault n<k>" of
// type 2 (twice LINES where a mode says so) and ends as the mode says.
//
//   logfault_helper MODE LINES
//
//   full-at-start  no file may grow (file size limit 0) until the first
//                  LINES lines were given up; then the limit is lifted and
//                  LINES more are logged. Prints "given up <n>" in between.
//   journal-blocked  the test put a folder where the journal goes; after
//                  LINES lines the helper prints "logged" and waits for a
//                  line on standard input (the test removes the folder
//                  meanwhile), then logs LINES more.
//   lock-at-end    the test holds the file's lock while the Session ends.
//   overflow-end   a small queue and a file that may not grow much past its
//                  table: LINES long lines flooded, most refused by the full
//                  queue, the rest failing; the end keeps what it can.
//   exit-main      exit(0) from main with the lines still queued.
//   exit-thread    exit(0) from another thread while main waits for it.
//   static-end     the Session is a global object, ended while the static
//                  objects are destroyed after main returns.
//   open           logs nothing: opens the service, waits until no side file
//                  of ./dbLog.db is left (taken in) and ends it.
//   flood-release, flood-session, flood-exit, flood-init
//                  32 threads log "flood t<t> n<k>" without pause; main
//                  prints "ending" on standard error and ends the service
//                  while they go on: release(), the end of the Session,
//                  exit(0), or init("second.db"); then prints "ended". Then
//                  (for exit(0): in an exit handler that runs after the
//                  service's own) the threads stop and it prints "logged <t>
//                  <k>" for each, the lines it finished. flood-init then
//                  prints "flushed stored <n> set aside <n> dropped <n>
//                  pending <n>" from flush() and ends. Standard output,
//                  where the lines go after the end, is ./flood-stdout.
//   fork-return, fork-exit, fork-exec-fail
//                  LINES lines, then a child that logs LINES lines "child n<k>"
//                  and returns from main, calls exit(0), or fails to exec and
//                  calls exit(127); the parent waits for it (at most 30 s,
//                  then kills it and exits 3), logs LINES more and ends.
//   flush-timeout  the test holds the lock: LINES lines, then flush(500 ms);
//                  prints "pending <n> stored <n>" and waits for a line on
//                  standard input before it ends.
//   after-exit     a Session on ./other.db; an exit handler that runs after
//                  the service ended calls instance(), flush() and logs.
//   nowhere        the working folder is removed before the Session starts:
//                  neither the file nor a side file can be written.
//   set-aside      the test holds the lock: LINES lines, then
//                  init("second.db") sets them aside; prints "set aside <n>
//                  dropped <n> pending <n>".
//   refused        ./dbLog.db is not a log database: LINES lines in ten
//                  parts, each flushed.
//   follow         logs a line every millisecond until a line comes on
//                  standard input (the test replaces or deletes ./dbLog.db
//                  meanwhile), then prints "logged <n>" and ends.
//   flood-return   as flood-session, but main returns (ending the Session)
//                  while the threads go on logging; an exit handler prints
//                  "ended" and lets each thread log 100 more lines (to
//                  standard output) before the process exits under them.
//
// The writer's retries and its wait for a lock at the end are shortened, so
// that every case takes a second or two. Exits 0 unless the arguments are wrong.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include <atomic>
#include <chrono>
#include <csignal>
#include <vector>

#include <QDir>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vxSyslog/vxLogging.h>
#include <vxSyslog/vxSysLog.h>

#include "write/vxLogDB.h"

using SystemLog::vxSysLog;

namespace {

std::unique_ptr<vxSysLog::Session> g_session;

void logNumbered(long from, long to, int padding = 0)
{
    for (long k = from; k < to; ++k)
        VXLOG_STATUS << "fault n" << k << (padding > 0 ? std::string(std::size_t(padding), 'x') : std::string());
}

void limitFileSize(rlim_t bytes)
{
    // Writing past the limit fails with EFBIG instead of ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
}

// Waiting or being taken in; not those left for a person as unreadable.
bool sideFilesLeft()
{
    const QStringList names = QDir::current().entryList({QStringLiteral("dbLog.db-unwritten-*")}, QDir::Files);
    for (const QString& name : names)
        if (!name.endsWith(QLatin1String(".unreadable")))
            return true;
    return false;
}

void waitUntilSideFilesAreTakenIn()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (sideFilesLeft() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

constexpr int kFloodThreads = 32;
std::atomic<bool> g_flooding{true};
// Never destroyed: with flood-return the threads still run while the process
// exits, and a joinable std::thread destroyed then would end it.
std::vector<std::thread>& g_floodThreads = *new std::vector<std::thread>;
std::atomic<long> g_floodLogged[kFloodThreads];
std::atomic<long> g_floodCount[kFloodThreads];  // lines finished so far

void stopFlood()
{
    g_flooding = false;
    for (std::thread& thread : g_floodThreads)
        thread.join();
    for (int t = 0; t < kFloodThreads; ++t)
        std::fprintf(stderr, "logged %d %ld\n", t, g_floodLogged[t].load());
    std::fflush(stderr);
}

// After the service has ended at exit: the threads log on, to standard
// output, while the process exits under them.
void letFloodGoOnAtExit()
{
    std::fprintf(stderr, "ended\n");
    std::fflush(stderr);
    long from[kFloodThreads];
    for (int t = 0; t < kFloodThreads; ++t)
        from[t] = g_floodCount[t].load();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int t = 0; t < kFloodThreads && std::chrono::steady_clock::now() < deadline; ++t)
        while (g_floodCount[t].load() < from[t] + 100 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

int flood(const std::string& how)
{
    if (!std::freopen("flood-stdout", "w", stdout))
        return 2;
    // Run after the service's own exit handler, registered by the Session.
    if (how == "flood-exit")
        std::atexit(stopFlood);
    if (how == "flood-return")
        std::atexit(letFloodGoOnAtExit);
    auto log = std::make_unique<vxSysLog::Session>();
    for (int t = 0; t < kFloodThreads; ++t)
        g_floodThreads.emplace_back([t] {
            long k = 0;
            for (; g_flooding.load(std::memory_order_relaxed); ++k) {
                VXLOG_STATUS << "flood t" << t << " n" << k;
                g_floodCount[t].store(k + 1, std::memory_order_relaxed);
            }
            g_floodLogged[t] = k;
        });
    // The queue fills while the threads log.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::fprintf(stderr, "ending\n");
    std::fflush(stderr);
    if (how == "flood-exit")
        std::exit(0);
    // The Session ends as main returns; the threads are never stopped: they
    // still log while the process exits.
    if (how == "flood-return")
        return 0;
    if (how == "flood-release")
        vxSysLog::release();
    else if (how == "flood-session")
        log.reset();
    else
        log->service()->init(QStringLiteral("second.db"));
    std::fprintf(stderr, "ended\n");
    std::fflush(stderr);
    stopFlood();
    if (how == "flood-init") {
        const SystemLog::FlushResult result = log->service()->flush();
        std::fprintf(stderr, "flushed stored %llu set aside %llu dropped %llu pending %llu\n",
                     static_cast<unsigned long long>(result.stored), static_cast<unsigned long long>(result.setAside),
                     static_cast<unsigned long long>(result.dropped), static_cast<unsigned long long>(result.pending));
    }
    return 0;
}

int forkChild(const std::string& how, long lines)
{
    vxSysLog::Session log;
    logNumbered(0, lines);
    const pid_t child = fork();
    if (child == 0) {
        for (long k = 0; k < lines; ++k)
            VXLOG_STATUS << "child n" << k;
        if (how == "fork-exit")
            std::exit(0);
        if (how == "fork-exec-fail") {
            execl("/nonexistent/program", "program", static_cast<char*>(nullptr));
            std::exit(127);
        }
        return 0;
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            std::fprintf(stderr, "the child hung\n");
            return 3;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const int expected = how == "fork-exec-fail" ? 127 : 0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != expected) {
        std::fprintf(stderr, "the child ended with status %d\n", status);
        return 4;
    }
    logNumbered(lines, 2 * lines);
    return 0;
}

void useServiceAfterItsEnd()
{
    SystemLog::FlushResult result = vxSysLog::instance()->flush();
    VXLOG_STATUS << "after the end " << result.stored;
    vxSysLog::instance()->init();
    VXLOG_STATUS << "after init";
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: logfault_helper MODE LINES\n");
        return 2;
    }
    const std::string mode = argv[1];
    const long lines = std::atol(argv[2]);

    SystemLog::vxLogDB::Settings settings;
    settings.attempts = 3;
    settings.retryPauseMs = 20;
    settings.endLockWait = std::chrono::milliseconds(500);
    if (mode == "overflow-end")
        settings.capacityBytes = 256 * 1024;
    // What a flood leaves is set aside at the end and taken in by the next
    // program: a smaller queue keeps the cases quick (bench_writerend ends
    // with the default 64 MiB).
    if (mode.compare(0, 6, "flood-") == 0)
        settings.capacityBytes = 8 * 1024 * 1024;
    SystemLog::vxLogDB::setInitialSettings(settings);

    if (mode == "full-at-start") {
        limitFileSize(0);
        vxSysLog::Session log;
        logNumbered(0, lines);
        std::printf("given up %llu\n", static_cast<unsigned long long>(log.service()->flush().dropped));
        std::fflush(stdout);
        limitFileSize(RLIM_INFINITY);
        logNumbered(lines, 2 * lines);
    } else if (mode == "journal-blocked") {
        vxSysLog::Session log;
        logNumbered(0, lines);
        std::printf("logged\n");
        std::fflush(stdout);
        std::string go;
        std::getline(std::cin, go);
        logNumbered(lines, 2 * lines);
    } else if (mode == "lock-at-end") {
        vxSysLog::Session log;
        logNumbered(0, lines);
    } else if (mode == "open") {
        vxSysLog::Session log;
        waitUntilSideFilesAreTakenIn();
    } else if (mode.compare(0, 6, "flood-") == 0) {
        return flood(mode);
    } else if (mode.compare(0, 5, "fork-") == 0) {
        return forkChild(mode, lines);
    } else if (mode == "flush-timeout") {
        vxSysLog::Session log;
        logNumbered(0, lines);
        const SystemLog::FlushResult result = log.service()->flush(std::chrono::milliseconds(500));
        std::printf("pending %llu stored %llu\n", static_cast<unsigned long long>(result.pending),
                    static_cast<unsigned long long>(result.stored));
        std::fflush(stdout);
        std::string go;
        std::getline(std::cin, go);
    } else if (mode == "after-exit") {
        // Registered before the service's own handler, so it runs after it.
        std::atexit(useServiceAfterItsEnd);
        vxSysLog::Session log(QStringLiteral("other.db"));
        logNumbered(0, lines);
    } else if (mode == "nowhere") {
        QDir().mkdir(QStringLiteral("gone"));
        QDir::setCurrent(QStringLiteral("gone"));
        QDir(QStringLiteral("..")).rmdir(QStringLiteral("gone"));
        vxSysLog::Session log;
        logNumbered(0, lines);
    } else if (mode == "set-aside") {
        vxSysLog::Session log;
        logNumbered(0, lines);
        log.service()->init(QStringLiteral("second.db"));
        const SystemLog::FlushResult result = log.service()->flush();
        std::printf("set aside %llu dropped %llu pending %llu\n", static_cast<unsigned long long>(result.setAside),
                    static_cast<unsigned long long>(result.dropped), static_cast<unsigned long long>(result.pending));
    } else if (mode == "overflow-end") {
        vxSysLog::Session log;
        // The table and its index exist; a few more pages, then the file is full.
        limitFileSize(48 * 1024);
        logNumbered(0, lines, 200);
    } else if (mode == "exit-main" || mode == "exit-thread") {
        vxSysLog::Session log;
        logNumbered(0, lines);
        if (mode == "exit-main")
            std::exit(0);
        std::thread ender([] { std::exit(0); });
        ender.join();
    } else if (mode == "static-end") {
        g_session = std::make_unique<vxSysLog::Session>();
        logNumbered(0, lines);
    } else if (mode == "follow") {
        vxSysLog::Session log;
        std::atomic<bool> stop{false};
        std::thread reader([&stop] {
            std::string line;
            std::getline(std::cin, line);
            stop = true;
        });
        long k = 0;
        for (; !stop; ++k) {
            VXLOG_STATUS << "fault n" << k;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        reader.join();
        std::printf("logged %ld\n", k);
    } else if (mode == "refused") {
        vxSysLog::Session log;
        for (int part = 0; part < 10; ++part) {
            logNumbered(part * lines / 10, (part + 1) * lines / 10);
            log.service()->flush();
        }
    } else {
        std::fprintf(stderr, "logfault_helper: unknown mode %s\n", mode.c_str());
        return 2;
    }
    return 0;
}
