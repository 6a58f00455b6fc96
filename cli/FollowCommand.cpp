#include "Commands.h"

#include <vxSyslog/LogTail.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "CommandLine.h"
#include "StdoutWriter.h"

using namespace SystemLog;

namespace {

// Set by SIGINT and SIGTERM. The tail looks at it while it reads or waits
// and the loop between short sleeps, so an interrupt ends the command
// cleanly (status 0) at once, whatever it is doing.
volatile std::sig_atomic_t g_stopRequested = 0;

extern "C" void requestStop(int)
{
    g_stopRequested = 1;
}

bool stopRequested()
{
    return g_stopRequested != 0;
}

// Without SA_RESTART, so that a write blocked on a full pipe returns too.
void stopOnInterrupt()
{
#ifdef Q_OS_UNIX
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#else
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);
#endif
}

// How often a tail that has caught up looks again, and how many records
// go out between two looks at the stop flag while it catches up.
constexpr auto kPollInterval = std::chrono::milliseconds(200);
constexpr auto kSleepSlice = std::chrono::milliseconds(20);
constexpr int kBatch = 1000;

void sleepUnlessStopped(std::chrono::milliseconds total)
{
    for (auto slept = std::chrono::milliseconds(0); slept < total && !stopRequested(); slept += kSleepSlice)
        std::this_thread::sleep_for(kSleepSlice);
}

} // namespace

int runFollow(const QStringList& arguments)
{
    CommandLine line(QStringLiteral("follow"),
                     QStringLiteral("先输出最后 N 条匹配的记录，再在新记录写入时立即输出（也包括其他程序写入的），"
                                    "直到按 Ctrl-C（SIGINT）或收到 SIGTERM，然后以状态 0 退出。"
                                    "记录按写入顺序输出，每条只输出一次。数据库被其他程序锁定时等待；"
                                    "文件被删除后重建、被替换、被截断或记录编号变小时，在标准错误上提示一次，"
                                    "然后从新文件的第一条记录继续。"));
    line.addDatabase();
    line.addTypes();
    line.addTimeSpan();
    line.addGrep();
    line.addLines(QStringLiteral("开始时先输出最后 N 条匹配的记录，默认 10。"));
    line.addFormat();
    const int parsed = line.parse(arguments);
    if (parsed >= 0)
        return parsed;

    RecordFilter filter;
    RecordFormat format = RecordFormat::Text;
    int lines = 10;
    if (!line.filter(filter) || !line.format(format) || !line.lines(lines, 10))
        return kExitUsage;
    if (!line.noExtraArguments())
        return kExitUsage;

    LogTail tail(line.databasePath(), filter, [&line](const QString& notice) { line.notice(notice); });
    tail.setStopCheck(stopRequested);
    if (!tail.open()) {
        printError(tail.errorText());
        return kExitFailure;
    }
    stopOnInterrupt();
    tail.seekToLast(lines);

    StdoutWriter out;
    appendFormatHeader(format, out.buffer());
    while (!stopRequested()) {
        const int delivered = tail.fetch(kBatch, [&out, format](const LogRecord& record) {
            appendRecord(format, record, out.buffer());
            return out.recordDone();
        });
        if (!out.flush()) {
            if (stopRequested())
                break;
            printError(out.errorText());
            return kExitFailure;
        }
        if (delivered < kBatch)
            sleepUnlessStopped(kPollInterval);
    }
    return kExitSuccess;
}
