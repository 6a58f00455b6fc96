// Test helper: a process with its own log service that logs numbered lines
// from several threads into ./dbLog.db, as a machine's program would.
//
//   writer_helper TAG THREADS LINES [PAUSE_EVERY]
//
// Thread i logs "TAG t<i> n<k>" for k = 0, 1, ... (LINES < 0: until killed),
// as record type 2, sleeping 1 ms after every PAUSE_EVERY lines (0: never).
// Prints "started" once the store answered a query, and at a normal end
// "dropped <n>" after the service wrote everything and was released. Exits 2
// when the store cannot be queried.
#include <QCoreApplication>
#include <QDate>
#include <QStringList>

#include <cstdio>
#include <thread>
#include <vector>

#include <vxSyslog/vxLogging.h>
#include <vxSyslog/vxSysLog.h>

using SystemLog::LogLine;
using SystemLog::vxSysLog;

namespace {

void logNumbered(const QByteArray& tag, int thread, long long lines, int pauseEvery)
{
    for (long long k = 0; lines < 0 || k < lines; ++k) {
        {
            LogLine line(2);
            line.stream() << tag.constData() << " t" << thread << " n" << k;
        }
        // Paces the logging (for tests that must not overflow the queue);
        // nothing waits for it.
        if (pauseEvery > 0 && (k + 1) % pauseEvery == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: writer_helper TAG THREADS LINES [PAUSE_EVERY]\n");
        return 1;
    }
    const QByteArray tag = args[1].toUtf8();
    const int threads = args[2].toInt();
    const long long lines = args[3].toLongLong();
    const int pauseEvery = args.size() > 4 ? args[4].toInt() : 0;

    vxSysLog* service = vxSysLog::instance();
    // A type nobody logs: the answer is empty, but the file had to open.
    service->queryByDay(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")), 0);
    if (service->lastQueryFailed()) {
        std::printf("failed: %s\n", qPrintable(service->lastQueryError()));
        vxSysLog::release();
        return 2;
    }
    service->init();
    std::printf("started\n");
    std::fflush(stdout);

    std::vector<std::thread> loggers;
    for (int t = 0; t < threads; ++t)
        loggers.emplace_back(logNumbered, tag, t, lines, pauseEvery);
    for (auto& logger : loggers)
        logger.join();
    const unsigned long long dropped = service->droppedCount();
    vxSysLog::release();
    std::printf("dropped %llu\n", dropped);
    return 0;
}
