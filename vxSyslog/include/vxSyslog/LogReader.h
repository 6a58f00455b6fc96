#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>

#include <vxSyslog/DatabaseFailure.h>
#include <vxSyslog/LogRecord.h>
#include <vxSyslog/LogQuery.h>
#include <vxSyslog/vxSyslogExport.h>

namespace SystemLog {

// Reads a log database without ever changing what it holds, beside the
// viewer and the programs that write it.
//
// Read-only: the file is opened through a private connection of its own with
// SQLite's read-only flag. A reader never creates the file, the table or the
// index, never adds, changes or removes a row and never takes a write lock;
// it works on a rollback-journal database and on a WAL one alike.
// Interrupted writes: a writer killed in the middle of a commit leaves a hot
// journal (or a WAL needing recovery) that a read-only connection may not
// use. The reader then opens the file read-write for that one step and lets
// SQLite roll the cut-off write back, as any writer would on its next open,
// and reads the last committed state. Where the file may not be written,
// the call fails with InterruptedWrite, whose text says what to do.
// Concurrency: one reader belongs to one thread. Every call runs its
// statements to the end (or resets them) before it returns, so between calls
// the reader holds no lock and a writer is never held up by it. Each call
// reads one consistent snapshot; rows committed meanwhile show up in the next
// call. A lock held by another program is waited for up to 5 s, then the
// call fails with Locked.
// Stopping: with a stop check set, a long read or a wait for a lock ends
// within a few milliseconds of the check turning true; the call then fails
// with Interrupted.
// Failures: every operation returns false on failure and leaves a one-line
// Chinese text naming the file and the reason in errorText(). A missing file
// is Missing, a file that is not SQLite NotADatabase, a database without a
// SystemInfo table that has id, datetime, type and message NotALogDatabase.
class VXSYSLOG_EXPORT LogReader
{
public:
    // Receives each matching record in turn; returning false stops the read
    // (the read still counts as successful).
    using RecordSink = std::function<bool(const LogRecord&)>;

    struct DayTypeCount
    {
        QString day;  // "yyyy-MM-dd"
        qint64 type;            // also an integer beyond int
        qint64 count;
        bool typeIsInt = true;  // false: the rows whose type is not an integer (NULL, a text, a real), type 0
    };
    using DayTypeSink = std::function<void(const DayTypeCount&)>;

    struct Span
    {
        qint64 total = 0;
        QString oldest;  // empty when total is 0
        QString newest;
    };

    explicit LogReader(const QString& path);
    ~LogReader();
    LogReader(const LogReader&) = delete;
    LogReader& operator=(const LogReader&) = delete;

    // Opens the file read-only and checks that it holds the log table.
    bool open();

    // Streams the records the filter selects to `sink`, in the filter's order.
    // No record is held in memory, whatever the answer's size: the last N
    // are found newest first (only where they begin is kept), then read in order.
    bool read(const LogQuery& filter, const RecordSink& sink);

    // The pull form of read(), for a program that merges several readers:
    // each next() steps the statement once and, on true, record() holds
    // the row until the next step. It holds the file's read snapshot (and
    // its read lock) until it ends or goes; the reader must outlive it and
    // takes no other call meanwhile. false from next() at the end, or on
    // a failure, which failed() and the reader's errorText() then tell.
    class VXSYSLOG_EXPORT Cursor
    {
    public:
        ~Cursor();
        bool next();
        const LogRecord& record() const;
        bool failed() const;

    private:
        friend class LogReader;
        struct Impl;
        explicit Cursor(std::unique_ptr<Impl> impl);
        std::unique_ptr<Impl> m;
    };
    // Null after a failure before the first row (an invalid pattern).
    std::unique_ptr<Cursor> cursor(const LogQuery& filter);

    // The number of records read() would deliver (ignoring last and order).
    bool count(const LogQuery& filter, qint64& result);

    // The highest id stored so far, 0 for an empty table.
    bool lastId(qint64& result);

    // Record counts per calendar day and type within the filter's types and
    // time bounds (grep and ids are ignored), days in ascending order.
    bool countPerDayAndType(const LogQuery& filter, const DayTypeSink& sink);

    // Count, oldest and newest time stamp within the filter's types and time bounds.
    bool span(const LogQuery& filter, Span& result);

    // Called often while a statement runs or waits for a lock; once it
    // returns true the call in progress ends with Interrupted. Empty: never.
    void setStopCheck(const std::function<bool()>& stopRequested);

    QString path() const;
    FailureKind failureKind() const;
    QString errorText() const;
    // The reason alone, describeFailure()'s sentence without the file's name.
    QString failureText() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace SystemLog
