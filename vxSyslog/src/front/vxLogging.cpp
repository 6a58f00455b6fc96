#include <vxSyslog/vxLogging.h>

#include "format/LocalTimeText.h"

#include <atomic>
#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
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
// initialisation in other files already finds them, and never destroyed, so
// that code running during static destruction (a global whose destructor
// logs) still finds them too.
//
// The shared lock is held while a line is handed to the sink or the flush
// function runs, the exclusive one while either is replaced: the log service
// swaps the sink back to standard output before it destroys the writer, and no
// thread may still be inside the old sink then. The level needs no lock.
struct OutputSettings
{
    std::atomic<int> level{initialLevel()};
    SinkFunc sink = writeToStdout;
    FlushSinkFunc flush = flushStdout;
    std::shared_mutex mutex;
};

OutputSettings& settings()
{
    static OutputSettings* const s = new OutputSettings;
    return *s;
}

// Sets everything up before main runs.
const OutputSettings& g_settingsAtStartup = settings();

} // namespace

int LogLine::level()
{
    return settings().level.load(std::memory_order_relaxed);
}

void LogLine::setLevel(int level)
{
    settings().level.store(level, std::memory_order_relaxed);
}

void LogLine::setSink(SinkFunc out)
{
    OutputSettings& s = settings();
    SinkFunc replacement = out ? std::move(out) : SinkFunc(writeToStdout);
    std::unique_lock<std::shared_mutex> lock(s.mutex);
    s.sink.swap(replacement);
    // The old sink is destroyed after the lock is released, in `replacement`.
}

void LogLine::setFlushSink(FlushSinkFunc flush)
{
    OutputSettings& s = settings();
    FlushSinkFunc replacement = flush ? std::move(flush) : FlushSinkFunc(flushStdout);
    std::unique_lock<std::shared_mutex> lock(s.mutex);
    s.flush.swap(replacement);
}

void LogLine::flush()
{
    OutputSettings& s = settings();
    std::shared_lock<std::shared_mutex> lock(s.mutex);
    s.flush();
}

void LogLine::output(int type, const char* text, int length)
{
    OutputSettings& s = settings();
    std::shared_lock<std::shared_mutex> lock(s.mutex);
    s.sink(type, text, length);
}

// ---- The per-statement line

namespace {

// Per thread, because any thread may log and the cache is written without a
// lock. Starts at a second no clock reports, so that the first call always
// formats, even at the epoch or when time() fails with -1.
struct TimeCache
{
    std::int64_t lastSecond = std::numeric_limits<std::int64_t>::min();
    char text[32] = {};
};

thread_local TimeCache t_timeCache;

} // namespace

LogLine::LogLine() : type_(4)
{
}

LogLine::LogLine(int type) : type_(type)
{
}

LogLine::LogLine(int type, const char* text) : type_(type)
{
    stream_ << text << ' ';
}

LogLine::~LogLine()
{
    stream_ << '\n';
    const LogStream::Buffer& line = stream_.buffer();
    output(type_, line.data(), line.length());
}

void LogLine::appendTime()
{
    TimeCache& cache = t_timeCache;
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    if (now != cache.lastSecond) {
        cache.lastSecond = now;
        formatLocalTime(static_cast<std::time_t>(now), cache.text);
    }
    stream_ << SizedText(cache.text, kLocalTimeTextLength) << "\n";
}

} // namespace SystemLog
