#pragma once

#include <functional>

namespace SystemLog {

// Receives every finished log line: record type, `length` bytes of text (not
// NUL-terminated, valid only during the call). Called on the logging thread.
using SinkFunc = std::function<void(int type, const char* text, int length)>;
using FlushSinkFunc = std::function<void()>;

// The defaults installed before main: one block write of `length` bytes to
// standard output (type ignored, no flush), and a flush of standard output.
void writeToStdout(int type, const char* text, int length);
void flushStdout();

class LogLine
{
public:
    // Process-wide settings. The level and the flush function are only stored.
    static int level();
    static void setLevel(int level);
    // Replaces the output function. Safe while other threads finish lines: a
    // line in flight completes on the old function before setSink returns, and
    // every later line goes to the new one. An empty callable puts
    // writeToStdout back. A sink must not itself finish a LogLine.
    static void setSink(SinkFunc out);
    static void setFlushSink(FlushSinkFunc flush);

    // Hands one finished line to the current output function.
    static void output(int type, const char* text, int length);
};

} // namespace SystemLog
