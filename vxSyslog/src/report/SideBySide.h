#pragma once

#include <QString>

#include <atomic>
#include <list>
#include <thread>
#include <vector>

#include "sources/PgSource.h"

namespace SystemLog {

// Statements each on a connection and thread of their own
// (PgSource::rowsAside) beside the caller's statements on the source.
// Threads: each started run writes only into the rows its statements'
// callbacks name, which the caller reads after finish(); the caller must
// not touch them before. Whatever still runs when this ends is abandoned
// (its statements stopped) and waited for, so that no thread outlives the
// rows it writes into: declare those rows before the SideBySide.
// Failures: where the server or the role allows no further connection, a
// run's statements are run on the source's own connection in finish(),
// after the caller's; any other failure is finish()'s.
class SideBySide
{
public:
    explicit SideBySide(PgSource& source);
    ~SideBySide();
    SideBySide(const SideBySide&) = delete;
    SideBySide& operator=(const SideBySide&) = delete;

    void start(std::vector<PgSource::AsideStatement> statements);
    // Waits for every run; false with the first failure's reason.
    bool finish(QString& error);

private:
    struct Run
    {
        std::vector<PgSource::AsideStatement> statements;
        std::thread thread;
        bool ok = true;
        PgSource::AsideFailure failure;
    };
    void join();
    bool runHere(const Run& run, QString& error);

    PgSource& m_source;
    std::atomic<bool> m_abandon{false};
    std::list<Run> m_runs;  // a list: each thread writes into its own Run
};

} // namespace SystemLog
