#pragma once

#include <functional>

#include <vxSyslog/LogStream.h>
#include <vxSyslog/vxSyslogExport.h>

// The logger front end: one LogLine per statement, handed whole to the
// process-wide output function when the statement ends.
//
// Process-wide settings (output function, flush function, level) exist from
// before main until the process is gone: they are never destroyed, so a line
// finished in a static object's destructor at exit still reaches whatever
// output is installed. All three may be read and replaced from any thread
// while other threads log.

namespace SystemLog {

// Receives every finished log line: record type, `length` bytes of text (not
// NUL-terminated, valid only during the call). Called on the logging thread.
using SinkFunc = std::function<void(int type, const char* text, int length)>;
using FlushSinkFunc = std::function<void()>;

// The defaults installed before main: one block write of `length` bytes to
// standard output (type ignored, no flush), and a flush of standard output.
VXSYSLOG_EXPORT void writeToStdout(int type, const char* text, int length);
VXSYSLOG_EXPORT void flushStdout();

// One log statement: built with a record type, filled through stream(), and
// handed to the output function as one line when it ends. Any thread may build
// one; each object belongs to the thread that builds it.
class VXSYSLOG_EXPORT LogLine
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

    // Process-wide settings. The level is only stored and returned (start
    // value 4): no statement tests it. The flush function is called only by
    // flush(), never by a finished line.
    static int level();
    static void setLevel(int level);
    // Replaces the output function. Safe while other threads finish lines: a
    // line in flight completes on the old function before setSink returns, and
    // every later line goes to the new one. An empty callable puts
    // writeToStdout back. A sink or flush function must not itself finish a
    // LogLine, nor replace either function.
    static void setSink(SinkFunc out);
    // An empty callable puts flushStdout back.
    static void setFlushSink(FlushSinkFunc flush);
    // Calls the current flush function, for a program that wants its output
    // pushed out now (before it aborts, say).
    static void flush();

    // Hands one finished line to the current output function.
    static void output(int type, const char* text, int length);

private:
    LogStream stream_;
    int type_;
};

} // namespace SystemLog

// One log statement of one record type: the line ends with the statement.
//     VXLOG_ALARM << "spindle temperature " << celsius << " C";
// The macros build a LogLine exactly as code that writes one itself; they do
// not consult the level.
#define VXLOG(type) ::SystemLog::LogLine(type).stream()
#define VXLOG_PARAM VXLOG(0)   // parameter changes  参数修改记录
#define VXLOG_USER VXLOG(1)    // operator actions   用户使用记录
#define VXLOG_STATUS VXLOG(2)  // machine states     系统状态记录
#define VXLOG_ALARM VXLOG(3)   // alarms             报警记录
#define VXLOG_INFO VXLOG(4)    // everything else    其他信息
