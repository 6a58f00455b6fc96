#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

#include <vxSyslog/vxSyslogExport.h>

namespace SystemLog {

// What a vacuum removes, and how it gives the space back.
struct VacuumLimits
{
    QString olderThan;      // stored form "yyyy-MM-dd hh:mm:ss"; rows stamped before it go. Empty: no time limit
    qint64 maxBytes = -1;   // the oldest rows (by id) go until the file fits; < 0: no size limit
    bool compact = false;   // a file without incremental auto-vacuum is rebuilt once (VACUUM), see below
    QString requestedBy;    // named in the record of the removal, e.g. "vxlog vacuum --time 90d"
};

struct VacuumResult
{
    qint64 removed = 0;
    QString removedBefore;     // every removed row was stamped before this (empty when none went)
    qint64 bytesBefore = 0;
    qint64 bytesAfter = 0;
    qint64 freeBytesLeft = 0;  // free pages still in the file (a file without incremental auto-vacuum)
    bool incremental = false;  // the file gives free pages back (auto_vacuum = INCREMENTAL)
    qint64 longestLockMs = 0;  // the longest time one of its transactions held the write lock
    int transactions = 0;
};

// Removes old records from a log database while its writer and readers go on.
//
// Locking: every change is a short write transaction of its own (BEGIN
// IMMEDIATE ... COMMIT) whose size is adjusted as it runs, so that none holds
// the write lock much longer than kLockBudgetMs; a writer (which waits a
// second for the lock) and a reader get their turn between two of them. A
// lock held by another program is waited for up to kBusyTimeoutMs per
// transaction. Each transaction is all or nothing: a vacuum that is killed or
// fails leaves the records of the transactions before it removed, the rest
// kept, and no half-removed batch.
// Free pages: files this module creates use SQLite's incremental
// auto-vacuum, and the vacuum hands their free pages back to the file system
// in small steps (PRAGMA incremental_vacuum). A file made without it (by an
// older version or another program) keeps its free pages: new records fill
// them before the file grows again. `compact` rebuilds such a file once with
// VACUUM, which holds the lock for the whole rebuild (writers then wait and
// may drop lines); afterwards the file gives pages back like a new one.
// What stays: rows stamped at or after `olderThan`, whatever their type (so
// the drop records of the kept period stay); the size limit takes rows in the
// order they were stored. When any went, one record of type 4 says how many
// and until when: "已清理 N 条早于 … 的记录（…）".
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
