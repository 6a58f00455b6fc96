#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

#include <functional>
#include <memory>

#include <vxSyslog/DatabaseFailure.h>
#include <vxSyslog/LogQuery.h>
#include <vxSyslog/LogReader.h>
#include <vxSyslog/SourceTail.h>

namespace SystemLog {

// The log of one machine or of many behind one reader: one log database
// file, several files merged into one timeline, or the fleet's central
// PostgreSQL table fed by rsyslog (docs/fleet.md). vxlog's commands read
// whole records through it, the viewer a listing of keys whose texts it
// fetches later, and both follow it through tail().
//
// Locations: a file path, "NAME=PATH" (the file's records carry NAME), or
// one postgresql:// (postgres://) URL in libpq's form, whose password comes
// only from ~/.pgpass, PGPASSFILE or PGPASSWORD: a URL that holds one is
// refused.
// Machines: fixed by open(): the files given (only those named in `hosts`,
// when it is not empty), or the hosts asked for in the central table, or,
// none asked, the hosts it holds when it is opened, in byte order. A key's
// `machine` is its machine's place in machines(); a file's records carry
// its name ("NAME=", else its base name without ".db": plc-7.db is plc-7).
// Order: time stamp, then machine (the order the files were given in; the
// host name in the central table), then id; newest first the reverse.
// One answer: newestIds() gives each machine's newest id; a query with
// those as its upToIds sees the same records in every later call, whatever
// is stored meanwhile; afterIds (per machine) reads what came after them.
// Failures: a file that cannot be read is named in problems() and the
// others are still read: open() fails only when no machine can be read, and
// a read in which one file failed still delivers the others' records and
// then returns false. A lost connection to PostgreSQL fails the call with
// the reason; an answer is never cut short silently. errorText() is the
// reason of the call that failed last.
// Threads: one source belongs to one thread at a time; interrupt() may be
// called from any thread and makes the running call and every later one
// fail at once.
class LogSource
{
public:
    using RecordSink = LogReader::RecordSink;
    using DayTypeSink = LogReader::DayTypeSink;
    using Span = LogReader::Span;
    using KeySink = LogReader::KeySink;
    using BlockSink = LogReader::BlockSink;
    using FetchSink = LogReader::FetchSink;
    using FetchRecordSink = LogReader::FetchRecordSink;

    // The source for the locations, or null with `error` (a usage error: a
    // URL with a password, a URL beside a file, a NAME given twice).
    static std::unique_ptr<LogSource> create(const QStringList& locations, const QStringList& hosts, QString& error);
    static bool isDatabaseUrl(const QString& location);
    // A location as a message or a window may show it: without any password
    // it holds (a URL's "user:secret@", a password=… parameter or keyword,
    // whatever the spelling). The one place that decides what a password is.
    static QString shownLocation(const QString& location);
    // True, with the reason (which does not repeat it), for a location that
    // holds a password; create() refuses those.
    static bool refusesPassword(const QString& location, QString& error);

    virtual ~LogSource();

    // ---- Before open()

    // How long a lock of another program (a file) or a silent server (the
    // central database) is waited for.
    virtual void setBusyTimeout(int milliseconds) = 0;
    // Whether a file whose last write was cut off is rolled back first (the
    // default, as LogReader), or fails with InterruptedWrite (the viewer
    // reads such a file from a private copy instead).
    virtual void setRollsBackCutOffWrites(bool rollsBack) = 0;
    // Called often while a call works or waits; once true, it ends.
    virtual void setStopCheck(const std::function<bool()>& stopRequested) = 0;

    // True when at least one machine can be read.
    virtual bool open() = 0;

    virtual QStringList machines() const = 0;
    // Whether the listing may hold more than one machine, so that each
    // record names its own.
    virtual bool namesMachines() const = 0;
    // The files read, by machine; empty for the central database.
    virtual QStringList files() const = 0;

    // ---- Whole records (as LogReader's; each carries its machine's name)

    // Records in the query's order; `last` is the last N of the whole listing.
    virtual bool read(const LogQuery& query, const RecordSink& sink) = 0;
    virtual bool count(const LogQuery& query, qint64& result) = 0;
    virtual bool countPerDayAndType(const LogQuery& query, const DayTypeSink& sink) = 0;
    virtual bool span(const LogQuery& query, Span& result) = 0;

    // A follow of this source's machines (SourceTail.h).
    virtual std::unique_ptr<SourceTail> tail(const LogQuery& query, SourceTail::NoticeSink notices) = 0;

    // ---- A listing as keys, texts fetched later (as LogReader's)

    // Per machine (by place), its newest id; 0 where it has no records.
    virtual bool newestIds(QVector<qint64>& ids) = 0;
    virtual bool countListed(const LogQuery& query, qint64& result) = 0;
    virtual bool readKeys(const LogQuery& query, const KeySink& sink) = 0;
    virtual bool readBlocks(const LogQuery& query, const BlockSink& sink) = 0;
    virtual bool countBetween(const LogQuery& query, const QStringList& bounds, QVector<qint64>& counts) = 0;
    // The blocks of the records (machines[i], ids[i]); a record no longer
    // stored is left out. `machines` may be null for a source of one machine.
    virtual bool fetch(const LogQuery& query, const int* machines, const qint64* ids, int count,
                       const FetchSink& sink) = 0;
    // The whole records (machines[i], ids[i]), each carrying its machine's
    // name as its host (also where namesMachines() is false), whatever the
    // listing's query; a record no longer stored is left out. `machines`
    // may be null for a source of one machine.
    virtual bool fetchRecords(const int* machines, const qint64* ids, int count, const FetchRecordSink& sink) = 0;

    virtual void interrupt() = 0;

    // ---- Failures

    FailureKind failureKind() const { return m_kind; }
    QString errorText() const { return m_error; }
    // One Chinese line per machine or database that could not be read,
    // each naming it, since the source was made.
    QStringList problems() const { return m_problems; }

protected:
    // A failure of the whole call: always false.
    bool fail(FailureKind kind, const QString& reason);
    // A failure naming its machine, kept among the problems; the call's
    // reason is then every problem so far.
    bool failWithProblem(FailureKind kind, const QString& problem);
    void clearProblems() { m_problems.clear(); }

private:
    FailureKind m_kind = FailureKind::Other;
    QString m_error;
    QStringList m_problems;
};

} // namespace SystemLog
