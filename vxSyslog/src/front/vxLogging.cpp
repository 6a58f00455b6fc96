#include <vxSyslog/vxLogging.h>

#include "format/LocalTimeText.h"
#include "front/OutputFork.h"
#include "front/StdoutLines.h"

#include <atomic>
#include <cassert>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <utility>

#ifdef _WIN32
#include <io.h>
#else
#include <cerrno>
#include <unistd.h>
#endif

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

void beginStdoutLines()
{
    std::fflush(stdout);
}

void writeStdoutLine(int /*type*/, const char* text, int length)
{
#ifdef _WIN32
    if (length > 0) {
        std::fwrite(text, 1, static_cast<size_t>(length), stdout);
        std::fflush(stdout);
    }
#else
    while (length > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, text, static_cast<size_t>(length));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;  // a closed or full output: the line is lost, as with stdout's own
        text += written;
        length -= static_cast<int>(written);
    }
#endif
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
// Replacing must not starve behind threads that log without pause (a shared
// mutex may let new shared lockers in ahead of a waiting exclusive one, for
// minutes): a replacer first raises `replacing` and takes `turnstile`; a
// logging thread that sees `replacing` passes through the turnstile before it
// takes the shared lock, so the replacer waits only for the lines already in
// flight. Threads that do not see the flag yet are among those in flight.
struct OutputSettings
{
    std::atomic<int> level{initialLevel()};
    SinkFunc sink = writeToStdout;
    FlushSinkFunc flush = flushStdout;
    std::shared_mutex mutex;
    std::mutex turnstile;
    std::atomic<int> replacing{0};
};

OutputSettings& settings()
{
    static OutputSettings* const s = new OutputSettings;
    return *s;
}

// Sets everything up before main runs.
const OutputSettings& g_settingsAtStartup = settings();

// The exclusive side: holds the turnstile, then the lock.
class ReplaceLock
{
public:
    explicit ReplaceLock(OutputSettings& s) : m_s(s)
    {
        m_s.replacing.fetch_add(1, std::memory_order_seq_cst);
        m_s.turnstile.lock();
        m_s.mutex.lock();
    }
    ~ReplaceLock()
    {
        m_s.mutex.unlock();
        m_s.turnstile.unlock();
        m_s.replacing.fetch_sub(1, std::memory_order_seq_cst);
    }
    ReplaceLock(const ReplaceLock&) = delete;
    ReplaceLock& operator=(const ReplaceLock&) = delete;

private:
    OutputSettings& m_s;
};

std::shared_lock<std::shared_mutex> useLock(OutputSettings& s)
{
    if (s.replacing.load(std::memory_order_seq_cst) > 0) {
        std::lock_guard<std::mutex> wait(s.turnstile);
    }
    return std::shared_lock<std::shared_mutex>(s.mutex);
}

} // namespace

void holdOutputForFork()
{
    OutputSettings& s = settings();
    s.replacing.fetch_add(1, std::memory_order_seq_cst);
    s.turnstile.lock();
    s.mutex.lock();
}

void releaseOutputAfterFork()
{
    OutputSettings& s = settings();
    s.mutex.unlock();
    s.turnstile.unlock();
    s.replacing.fetch_sub(1, std::memory_order_seq_cst);
}

void replaceOutputInChild(SinkFunc sink)
{
    OutputSettings& s = settings();
    // The parent's sink only holds a pointer to its writer: dropping it runs
    // none of the writer's code.
    s.sink = sink ? std::move(sink) : SinkFunc(writeToStdout);
    // Made anew rather than unlocked: the thread that locked them before the
    // fork has another id in the child, and a read-write lock unlocked by
    // another thread id than its writer's would be left corrupt.
    new (&s.mutex) std::shared_mutex;
    new (&s.turnstile) std::mutex;
    s.replacing.store(0);
}

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
    ReplaceLock lock(s);
    s.sink.swap(replacement);
    // The old sink is destroyed after the lock is released, in `replacement`.
}

void LogLine::setFlushSink(FlushSinkFunc flush)
{
    OutputSettings& s = settings();
    FlushSinkFunc replacement = flush ? std::move(flush) : FlushSinkFunc(flushStdout);
    ReplaceLock lock(s);
    s.flush.swap(replacement);
}

void LogLine::flush()
{
    OutputSettings& s = settings();
    std::shared_lock<std::shared_mutex> lock = useLock(s);
    s.flush();
}

void LogLine::output(int type, const char* text, int length)
{
    OutputSettings& s = settings();
    std::shared_lock<std::shared_mutex> lock = useLock(s);
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
