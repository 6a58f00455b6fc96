#include "Commands.h"

#include <vxSyslog/LogReader.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "CommandLine.h"
#include "ReaderOutput.h"
#include "StdoutWriter.h"

using namespace SystemLog;

namespace {

// Set by SIGINT and SIGTERM; the poll loop checks it between short sleeps,
// so an interrupt ends the command cleanly (status 0) within one slice.
volatile std::sig_atomic_t g_stopRequested = 0;

extern "C" void requestStop(int)
{
    g_stopRequested = 1;
}

constexpr auto kPollInterval = std::chrono::milliseconds(200);
constexpr auto kSleepSlice = std::chrono::milliseconds(20);

void sleepUnlessStopped(std::chrono::milliseconds total)
{
    for (auto slept = std::chrono::milliseconds(0); slept < total && !g_stopRequested; slept += kSleepSlice)
        std::this_thread::sleep_for(kSleepSlice);
}

bool printRecords(LogReader& reader, const RecordFilter& filter, RecordFormat format, StdoutWriter& out)
{
    return reader.read(filter, [&out, format](const LogRecord& record) {
        appendRecord(format, record, out.buffer());
        return out.recordDone();
    });
}

} // namespace

int runFollow(const QStringList& arguments)
{
    CommandLine line(QStringLiteral("follow"),
                     QStringLiteral("先输出最后 N 条匹配的记录，再在新记录写入时立即输出（也包括其他程序写入的），"
                                    "直到按 Ctrl-C（SIGINT）或收到 SIGTERM，然后以状态 0 退出。"
                                    "新记录按写入顺序输出。"));
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

    LogReader reader(line.databasePath());
    if (!openOrReport(reader))
        return kExitFailure;
    std::signal(SIGINT, requestStop);
    std::signal(SIGTERM, requestStop);

    // Ids grow in commit order (SQLite has one writer at a time), so every row
    // above the last id seen is new, whatever its time stamp says.
    qint64 seen = 0;
    StdoutWriter out;
    appendFormatHeader(format, out.buffer());
    bool ok = reader.lastId(seen);
    if (ok && lines > 0) {
        RecordFilter history = filter;
        history.upToId = seen;
        history.last = lines;
        ok = printRecords(reader, history, format, out);
    }
    while (ok && out.flush() && !g_stopRequested) {
        sleepUnlessStopped(kPollInterval);
        qint64 newest = seen;
        ok = reader.lastId(newest);
        if (!ok || newest <= seen || g_stopRequested)
            continue;
        RecordFilter arrived = filter;
        arrived.afterId = seen;
        arrived.upToId = newest;
        arrived.order = RecordFilter::Order::Arrival;
        ok = printRecords(reader, arrived, format, out);
        seen = newest;
    }
    return finishRecordStream(ok, reader, out);
}
