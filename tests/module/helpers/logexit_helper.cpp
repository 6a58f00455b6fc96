// Logs from a global object's destructor, that is while the process exits.
//   logexit_helper stdout    nothing installed: the line goes to standard output
//   logexit_helper session   the service ran in main and was ended by its guard
//   logexit_helper sink      main installed an output function and left it
// Exits 0 when nothing went wrong on the way out.

#include <cstdio>
#include <cstring>
#include <string>

#include <vxSyslog/vxLogging.h>
#include <vxSyslog/vxSysLog.h>

namespace {

struct LogsWhenDestroyed
{
    ~LogsWhenDestroyed() { VXLOG_ALARM << "logged at exit " << 42; }
};

// Constructed before the library's own static objects in a static link.
LogsWhenDestroyed g_logsAtExit;

} // namespace

int main(int argc, char** argv)
{
    const char* mode = argc > 1 ? argv[1] : "stdout";
    if (std::strcmp(mode, "session") == 0) {
        SystemLog::vxSysLog::Session session;
        VXLOG_INFO << "logged in main";
    } else if (std::strcmp(mode, "sink") == 0) {
        // Holds heap memory, which a destroyed output function would have freed.
        const std::string prefix = "the program's own output function, type ";
        SystemLog::LogLine::setSink([prefix](int type, const char* text, int length) {
            std::printf("%s%d: ", prefix.c_str(), type);
            std::fwrite(text, 1, static_cast<size_t>(length), stdout);
        });
    }
    return 0;
}
