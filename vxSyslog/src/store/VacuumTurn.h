#pragma once

#include <QString>

#include <string>

#include <vxSyslog/vxSyslogExport.h>

namespace SystemLog {

// A vacuum's turn at a log's write lock, shared with the writers of other
// processes through a small file beside the database,
// "<database>-vacuum-turn", which holds the vacuum's process id.
//
// Why: SQLite gives its write lock to whichever waiter asks first once it
// is free, and a writer with a backlog asks again right after its commit;
// a vacuum polling beside several such writers could wait for ever. So a
// vacuum that needs the lock for its next step asks for its turn
// (request()): a writer that finds the file begins no new transaction until
// the file is gone, for at most kWriterYieldMs, and the vacuum gets the lock
// as soon as the transactions already under way have ended. The vacuum
// gives the turn back (release()) as soon as its transaction has ended and
// lets as much time pass as it held the lock (at most kTurnGapMs) before it
// asks again, so that whoever waited meanwhile goes first (also a program
// whose busy handler looks only every 100 ms, as SQLite's own does): turns
// alternate, and neither side waits much longer than the other side's
// transactions. A transaction a writer has under way when the vacuum asks
// commits the rows it has after a few milliseconds (vxLogDB.h).
// A file left by a vacuum that was killed names a process that is gone: the
// next writer that finds it removes it. A file that cannot be made (a folder
// the vacuum may not write) costs only the fairness.
// Threads: writers call requested() on their writer thread; one vacuum owns
// its object. Plain C calls, since a writer may write while its process exits.
class VXSYSLOG_EXPORT VacuumTurn
{
public:
    static constexpr int kWriterYieldMs = 500;
    static constexpr int kTurnGapMs = 120;

    explicit VacuumTurn(const QString& databasePath);
    ~VacuumTurn();
    VacuumTurn(const VacuumTurn&) = delete;
    VacuumTurn& operator=(const VacuumTurn&) = delete;

    void request();
    void release();

    static std::string pathFor(const QString& databasePath);
    // Whether a vacuum that is alive holds or waits for its turn on the
    // database whose turn file is `turnPath`; one failed open() when none does.
    static bool requested(const std::string& turnPath);

private:
    std::string m_path;
    bool m_requested = false;
};

} // namespace SystemLog
