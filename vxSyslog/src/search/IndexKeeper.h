#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace SystemLog {

class IndexBuilder;

// Keeps the text index of the log a writer writes up to date, on a thread of
// its own at a low priority: the rows the writer stores (it calls nudge()
// after each batch), those other programs insert, and, for a log made before
// there was an index, every row from the first on, in batches
// (IndexBuilder.h). Nothing about the index ever holds up logging: a failure
// (a full disk, a read-only folder) is tried again later and never reported
// to the program; a search then reads the rows the index lacks itself.
//
// Pace: after a nudge the keeper waits kSettle so that a burst of batches is
// indexed in one; it looks for other programs' rows every kLookAgain.
// Stopping: stop() (any thread) ends the batch in progress at once; it is
// rolled back, and the next keeper of the file goes on from the batch before.
// Threads: start(), stop() and join() belong to the owner; nudge() may be
// called from any thread.
class IndexKeeper
{
public:
    static constexpr std::chrono::milliseconds kSettle{500};
    static constexpr std::chrono::seconds kLookAgain{5};
    static constexpr std::chrono::seconds kAfterFailure{30};

    IndexKeeper();
    ~IndexKeeper();
    IndexKeeper(const IndexKeeper&) = delete;
    IndexKeeper& operator=(const IndexKeeper&) = delete;

    // Starts keeping the index of `logPath`; a keeper already running for it
    // goes on (nudged), one of another file is stopped and joined first.
    void start(const QString& logPath);
    void stop();
    void join();
    void nudge();

private:
    void run(QString logPath);
    bool waitForWork(std::chrono::steady_clock::duration limit);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_nudged = false;
    QString m_logPath;  // of the running keeper
    std::unique_ptr<IndexBuilder> m_builder;  // the running thread's, for stop()
    std::thread m_thread;
};

} // namespace SystemLog
