#pragma once

#include <QElapsedTimer>

#include <atomic>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <vector>

struct sqlite3;

namespace SystemLog {

// How a class that owns SQLite connections (ReadConnection, IndexBuilder)
// lets them be stopped: interrupt() from any thread, or a stop check (a
// program's Ctrl-C) looked at while statements run and while another
// program's lock is waited for.
//
// Concurrency: interrupt() may come from any thread. It interrupts the
// handles held in the owner's tracked slots under one mutex, and the owner
// changes those slots only through setHandle() and closeHandles(), under the
// same mutex, so a handle is never interrupted while it is being closed.
// Everything else belongs to the owner's thread.
// Waiting: a lock is waited for in short naps, up to the busy timeout, so
// that a stop ends the wait at once.
// Lifetime: the owner keeps the stopper as a member and never moves it;
// SQLite's handlers point at it.
class SqliteStopper
{
public:
    static constexpr int kDefaultBusyTimeoutMs = 5000;

    // The owner's handle members, interrupted by interrupt().
    explicit SqliteStopper(std::initializer_list<sqlite3**> handles);
    SqliteStopper(const SqliteStopper&) = delete;
    SqliteStopper& operator=(const SqliteStopper&) = delete;

    void setStopCheck(const std::function<bool()>& stopRequested) { m_stopCheck = stopRequested; }
    void setBusyTimeout(int milliseconds) { m_busyTimeoutMs = milliseconds; }
    void interrupt();
    bool isInterrupted() const { return m_interrupted.load(); }
    // The stop check alone says stop (a program's Ctrl-C, not interrupt()).
    bool stopCheckSays() const { return m_stopCheck && m_stopCheck(); }
    // Interrupted, or the stop check says so.
    bool stopRequested() const { return isInterrupted() || stopCheckSays(); }

    void setHandle(sqlite3*& slot, sqlite3* handle);
    // Closes the tracked handles and sets them to null.
    void closeHandles();
    // The busy handler and, with `whileRunning`, the progress handler on `db`.
    // The progress handler stays for the connection's life: sqlite3_interrupt()
    // ends only the statements running when it is called, and interrupt()
    // may come between two of them.
    void watch(sqlite3* db, bool whileRunning = true);

private:
    static int onBusy(void* self, int attempt);
    static int onProgress(void* self);

    std::vector<sqlite3**> m_slots;
    std::mutex m_handleMutex;
    std::atomic<bool> m_interrupted{false};
    std::function<bool()> m_stopCheck;
    int m_busyTimeoutMs = kDefaultBusyTimeoutMs;
    QElapsedTimer m_busyClock;
};

} // namespace SystemLog
