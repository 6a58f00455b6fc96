#pragma once

#include <functional>

#include "LogStream.h"

namespace SystemLog {

// Receives every finished log line: record type, `length` bytes of text (not
// NUL-terminated, valid only during the call). Called on the logging thread.
using SinkFunc = std::function<void(int type, const char* text, int length)>;
using FlushSinkFunc = std::function<void()>;

// The defaults installed before main: one block write of `length` bytes to
// standard output (type ignored, no flush), and a flush of standard output.
void writeToStdout(int type, const char* text, int length);
void flushStdout();

// One log statement: built with a record type, filled through stream(), and
// handed to the output function as one line when it ends. Any thread may build
// one; each object belongs to the thread that builds it.
class LogLine
{
public:
    // Short names of the record types 0..4, and of their count at index 5.
    // Nothing here prints them: a line carries its type only as the first
    // argument of the output function.
    static constexpr const char* kLogTypeNames[6] = {
        "params ", "user ", "status  ", "warn  ", "info ", "num "};

    LogLine();                              // type 4
    explicit LogLine(int type);
    LogLine(int type, const char* text);    // the text and one space
    // Closes the line with a newline (dropped when 3999 bytes are already
    // held) and hands it, in place, to the output function.
    ~LogLine();

    LogLine(const LogLine&) = delete;
    LogLine& operator=(const LogLine&) = delete;

    LogStream& stream() { return stream_; }

    // Appends the local time as "yyyy-mm-dd hh:mm:ss" and a newline. The text
    // is cached per thread and formatted again only when the second changes.
    void appendTime();

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

private:
    LogStream stream_;
    int type_;
};

} // namespace SystemLog
