// A console program without QCoreApplication or event loop: starts the log
// service with its guard, logs from several threads and ends.
//   logsession_helper <threads> <lines per thread>
// Line i of thread t has record type t % 5 and the text "thread t line i".

#include <cstdlib>
#include <thread>
#include <vector>

#include <vxSyslog/vxLogging.h>
#include <vxSyslog/vxSysLog.h>

int main(int argc, char** argv)
{
    const int threads = argc > 2 ? std::atoi(argv[1]) : 4;
    const int lines = argc > 2 ? std::atoi(argv[2]) : 100;

    SystemLog::vxSysLog::Session session;
    std::vector<std::thread> loggers;
    for (int t = 0; t < threads; ++t)
        loggers.emplace_back([t, lines] {
            for (int i = 0; i < lines; ++i)
                VXLOG(t % 5) << "thread " << t << " line " << i;
        });
    for (std::thread& logger : loggers)
        logger.join();
    return 0;
}
