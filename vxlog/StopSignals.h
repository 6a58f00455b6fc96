#pragma once

#include <chrono>

// SIGINT and SIGTERM as requests to stop, for commands that run until they
// are asked to end (follow, forward). The first signal asks the command to end after the work
// in hand; a second one also sets the flag that immediateStopFlag() points
// to, which cuts short every wait that polls it (librelp's waits for the
// receiver do).
void installStopSignals();
bool stopRequested();
int* immediateStopFlag();

// Sleeps `total` in short slices; returns early once a stop was requested.
void sleepUnlessStopped(std::chrono::milliseconds total);
