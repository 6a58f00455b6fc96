#include "search/IndexKeeper.h"

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include "search/IndexBuilder.h"

namespace SystemLog {

namespace {

// The keeper yields the processor to the program's own threads and the writer.
void lowerThisThreadsPriority()
{
#ifdef Q_OS_LINUX
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
#endif
}

} // namespace

IndexKeeper::IndexKeeper() = default;

IndexKeeper::~IndexKeeper()
{
    stop();
    join();
}

// A writer started again while its keeper runs (init() on a running
// service) keeps the keeper of the same file; one of another file, or one
// that was asked to stop, ends first.
void IndexKeeper::start(const QString& logPath)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_thread.joinable() && !m_stop && m_logPath == logPath) {
            m_nudged = true;
            m_wake.notify_all();
            return;
        }
    }
    stop();
    join();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_logPath = logPath;
    m_stop = false;
    m_nudged = true;  // the first look at once: the log may be ahead of its index
    m_builder = std::make_unique<IndexBuilder>(logPath);
    m_thread = std::thread([this, logPath] { run(logPath); });
}

void IndexKeeper::stop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
    if (m_builder)
        m_builder->interrupt();
    m_wake.notify_all();
}

void IndexKeeper::join()
{
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_builder.reset();
}

void IndexKeeper::nudge()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nudged = true;
    m_wake.notify_all();
}

// True when there is work: a nudge (then a little later, so that a burst
// gathers), or the time to look again; false when stopped.
bool IndexKeeper::waitForWork(std::chrono::steady_clock::duration limit)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_for(lock, limit, [this] { return m_stop || m_nudged; });
    if (m_stop)
        return false;
    if (m_nudged) {
        m_wake.wait_for(lock, kSettle, [this] { return m_stop; });
        m_nudged = false;
    }
    return !m_stop;
}

void IndexKeeper::run(QString)
{
    lowerThisThreadsPriority();
    IndexBuilder* builder = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        builder = m_builder.get();
    }
    std::chrono::steady_clock::duration wait = std::chrono::milliseconds(0);
    while (waitForWork(wait)) {
        const bool kept = builder->catchUp() && builder->prune();
        // A log replaced meanwhile is the one opened next time.
        builder->close();
        wait = kept ? std::chrono::steady_clock::duration(kLookAgain) : std::chrono::steady_clock::duration(kAfterFailure);
    }
}

} // namespace SystemLog
