#pragma once

// A benchmark's program run as a real process, its output on /dev/null.

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

struct ProcessRun
{
    bool ok = false;          // exited with 0
    double seconds = 0;       // wall time
    double cpuSeconds = 0;    // user and system time
    double peakMiB = 0;       // peak resident memory
};

struct ProcessRunOptions
{
    std::string input;  // a file for standard input, when not empty
    // When set, SIGINT is sent after this long, and the wall time counts
    // from the signal to the end.
    std::chrono::milliseconds interruptAfter{0};
};

inline ProcessRun runToDevNull(const std::vector<std::string>& arguments, const ProcessRunOptions& options = {})
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (!options.input.empty())
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, options.input.c_str(), O_RDONLY, 0);
    ProcessRun run;
    auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        if (options.interruptAfter.count() > 0) {
            std::this_thread::sleep_for(options.interruptAfter);
            start = std::chrono::steady_clock::now();
            kill(pid, SIGINT);
        }
        int status = 0;
        struct rusage usage {};
        if (wait4(pid, &status, 0, &usage) == pid) {
            run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            run.peakMiB = usage.ru_maxrss / 1024.0;
            run.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                             + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        }
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    return run;
}
