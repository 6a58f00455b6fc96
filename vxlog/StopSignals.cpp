#include "StopSignals.h"

#include <QtGlobal>

#include <csignal>
#include <thread>
#include <type_traits>

namespace {

static_assert(std::is_same<std::sig_atomic_t, int>::value, "librelp polls the immediate-stop flag as an int");

volatile std::sig_atomic_t g_stopRequests = 0;
volatile std::sig_atomic_t g_stopNow = 0;

extern "C" void noteStopSignal(int)
{
    if (g_stopRequests < 2)
        g_stopRequests = g_stopRequests + 1;
    if (g_stopRequests >= 2)
        g_stopNow = 1;
}

constexpr auto kSleepSlice = std::chrono::milliseconds(20);

} // namespace

// Without SA_RESTART, so that a write blocked on a full pipe returns too.
void installStopSignals()
{
#ifdef Q_OS_UNIX
    struct sigaction action {};
    action.sa_handler = noteStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#else
    std::signal(SIGINT, noteStopSignal);
    std::signal(SIGTERM, noteStopSignal);
#endif
}

bool stopRequested()
{
    return g_stopRequests > 0;
}

int* immediateStopFlag()
{
    return const_cast<int*>(&g_stopNow);
}

void sleepUnlessStopped(std::chrono::milliseconds total)
{
    for (auto slept = std::chrono::milliseconds(0); slept < total && !stopRequested(); slept += kSleepSlice)
        std::this_thread::sleep_for(kSleepSlice);
}
