#include "vxLogging.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <shared_mutex>
#include <utility>

namespace SystemLog {

void writeToStdout(int /*type*/, const char* text, int length)
{
    if (length > 0)
        std::fwrite(text, 1, static_cast<size_t>(length), stdout);
}

void flushStdout()
{
    std::fflush(stdout);
}

namespace {

int initialLevel()
{
    // VXLOG_TRACE is looked up, but the start level is 4 either way.
    (void)std::getenv("VXLOG_TRACE");
    return 4;
}

// The output settings, built on first use so that code running during static
// initialisation in other files already finds them. The shared lock is held
// while a line is handed to the sink, the exclusive one while the sink is
// replaced: the log service swaps the sink back to standard output before it
// destroys the writer, and no thread may still be inside the old sink then.
struct OutputSettings
{
    int level = initialLevel();
    SinkFunc sink = writeToStdout;
    FlushSinkFunc flush = flushStdout;
    std::shared_mutex sinkMutex;
};

OutputSettings& settings()
{
    static OutputSettings s;
    return s;
}

// Sets everything up before main runs.
const OutputSettings& g_settingsAtStartup = settings();

} // namespace

int LogLine::level()
{
    return settings().level;
}

void LogLine::setLevel(int level)
{
    settings().level = level;
}

void LogLine::setSink(SinkFunc out)
{
    OutputSettings& s = settings();
    std::unique_lock<std::shared_mutex> lock(s.sinkMutex);
    s.sink = out ? std::move(out) : SinkFunc(writeToStdout);
}

void LogLine::setFlushSink(FlushSinkFunc flush)
{
    OutputSettings& s = settings();
    s.flush = flush ? std::move(flush) : FlushSinkFunc(flushStdout);
}

void LogLine::output(int type, const char* text, int length)
{
    OutputSettings& s = settings();
    std::shared_lock<std::shared_mutex> lock(s.sinkMutex);
    s.sink(type, text, length);
}

} // namespace SystemLog
