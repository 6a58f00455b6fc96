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
//   open           logs nothing: opens the service and ends it.
//   refused        ./dbLog.db is not a log database: LINES lines in ten
//                  parts, each flushed.
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

#include <csignal>
#include <sys/resource.h>

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
    } else if (mode == "lock-at-end" || mode == "open") {
        vxSysLog::Session log;
        logNumbered(0, mode == "open" ? 0 : lines);
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
