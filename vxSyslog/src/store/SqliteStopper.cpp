#include "store/SqliteStopper.h"

#include <sqlite3.h>

#include <chrono>
#include <thread>

namespace SystemLog {

namespace {

// Virtual machine steps between two looks at the stop check.
constexpr int kStopCheckSteps = 1000;

} // namespace

SqliteStopper::SqliteStopper(std::initializer_list<sqlite3**> handles)
    : m_slots(handles)
{
}

void SqliteStopper::interrupt()
{
    m_interrupted.store(true);
    std::lock_guard<std::mutex> lock(m_handleMutex);
    for (sqlite3** slot : m_slots) {
        if (*slot)
            sqlite3_interrupt(*slot);
    }
}

void SqliteStopper::setHandle(sqlite3*& slot, sqlite3* handle)
{
    std::lock_guard<std::mutex> lock(m_handleMutex);
    slot = handle;
}

void SqliteStopper::closeHandles()
{
    std::lock_guard<std::mutex> lock(m_handleMutex);
    for (sqlite3** slot : m_slots) {
        sqlite3_close(*slot);
        *slot = nullptr;
    }
}

void SqliteStopper::watch(sqlite3* db, bool whileRunning)
{
    sqlite3_busy_handler(db, &SqliteStopper::onBusy, this);
    if (whileRunning)
        sqlite3_progress_handler(db, kStopCheckSteps, &SqliteStopper::onProgress, this);
}

int SqliteStopper::onBusy(void* self, int attempt)
{
    auto* s = static_cast<SqliteStopper*>(self);
    if (attempt == 0)
        s->m_busyClock.start();
    if (s->stopRequested() || s->m_busyClock.elapsed() >= s->m_busyTimeoutMs)
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(attempt < 10 ? 1 : 5));
    return 1;
}

int SqliteStopper::onProgress(void* self)
{
    return static_cast<SqliteStopper*>(self)->stopRequested() ? 1 : 0;
}

} // namespace SystemLog
