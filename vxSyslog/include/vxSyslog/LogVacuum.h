#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <memory>

#include <vxSyslog/vxSyslogExport.h>

namespace SystemLog {

// What a vacuum removes, and how it gives the space back.
struct VacuumLimits
{
    // Rows logged before this moment go (a span back from now, say). The
    // stamps are local time text of whichever program logged them: the bound
    // is formatted in every zone the file records its stamps in (in this
    // process's own when it records none) and the earliest of those texts is
    // taken, so that no zone makes a fresh record look old. Invalid: no such
    // limit.
    QDateTime olderThanTime;
    // Or the bound as it is compared, stored form "yyyy-MM-dd hh:mm:ss":
    // rows stamped before it go, whatever zone they were stamped in.
    // Empty: no such limit. Not with olderThanTime.
    QString olderThan;
    qint64 maxBytes = -1;   // the oldest rows (by id) go until the file fits; < 0: no size limit
    bool compact = false;   // a file without incremental auto-vacuum is rebuilt once (VACUUM), see below
    QString requestedBy;    // named in the record of the removal, e.g. "vxlog vacuum --time 90d"
};

struct VacuumResult
{
    qint64 removed = 0;
    QString removedBefore;     // every removed row was stamped before this (empty when none went)
    QString timeBound;         // the bound a time limit was compared with (empty without one)
    qint64 bytesBefore = 0;
    qint64 bytesAfter = 0;
    qint64 freeBytesLeft = 0;  // free pages still in the file (a file without incremental auto-vacuum)
    bool incremental = false;  // the file gives free pages back (auto_vacuum = INCREMENTAL)
    bool lockedOut = false;    // stopped because another program kept the lock past kBusyTimeoutMs
    qint64 longestLockMs = 0;  // the longest time one of its transactions held the write lock
    int transactions = 0;
};

// Removes old records from a log database while its writer and readers go on.
//
// Locking: every change is a short write transaction of its own (BEGIN
// IMMEDIATE ... COMMIT) whose size is adjusted as it runs, so that none holds
// the write lock much longer than kLockBudgetMs; a writer (which waits a
// second for the lock) and a reader get their turn between two of them.
// Before each transaction the vacuum asks the writers for its turn
// (store/VacuumTurn.h): writers begin no new transaction meanwhile, so the
// vacuum gets the lock once the transactions under way have ended, however
// busy the writers are, and gives it back right after its own. A lock held by
// another program past kBusyTimeoutMs stops the vacuum (lockedOut): what it
// removed so far stays removed and recorded.
// The record: when any row goes, the record of the removal, one row of type
// 4 "已清理 N 条早于 … 的记录（…）", is written in the same transaction as the
// first removal and brought up to date in the transaction of every later
// one. Each transaction is all or nothing, so a vacuum that is killed or
// stops at any moment leaves the file saying exactly how many rows went and
// up to when; no batch is half removed. The record is never removed by its
// own vacuum.
// Free pages: files this module creates use SQLite's incremental
// auto-vacuum, and the vacuum hands their free pages back to the file system
// in small steps (PRAGMA incremental_vacuum). A file made without it (by an
// older version or another program) keeps its free pages: new records fill
// them before the file grows again. `compact` rebuilds such a file once with
// VACUUM, which holds the lock for the whole rebuild (writers then wait and
// may drop lines); afterwards the file gives pages back like a new one.
// What stays: rows stamped at or after the time bound, whatever their type
// (so the drop records of the kept period stay); the size limit takes rows in
// the order they were stored.
class VXSYSLOG_EXPORT LogVacuum
{
public:
    static constexpr int kLockBudgetMs = 200;
    static constexpr int kBusyTimeoutMs = 10000;

    explicit LogVacuum(const QString& path);
    ~LogVacuum();
    LogVacuum(const LogVacuum&) = delete;
    LogVacuum& operator=(const LogVacuum&) = delete;

    // False with errorText() when the file is missing, not a log database,
    // or a step failed; result() then holds what was done before.
    bool run(const VacuumLimits& limits);
    const VacuumResult& result() const;
    QString errorText() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace SystemLog
