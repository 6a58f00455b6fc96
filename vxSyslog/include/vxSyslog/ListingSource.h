#pragma once

#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

#include <memory>

#include <vxSyslog/DatabaseFailure.h>
#include <vxSyslog/LogReader.h>
#include <vxSyslog/LogQuery.h>
#include <vxSyslog/vxSyslogExport.h>

namespace SystemLog {

// The viewer's reading of one machine's log or of many behind one reader,
// over the locations RecordSource takes: one log file, several files merged
// into one timeline, or the fleet's central PostgreSQL table. As with
// LogReader, a listing is read as keys and the texts of the records in
// view are fetched later, here by machine and id.
//
// Machines: fixed by open(): the files given (only those named in `hosts`,
// when it is not empty), or the hosts asked for in the central table, or,
// none asked, the hosts it holds when it is opened, in byte order. A key's
// `machine` is its machine's place in machines(); a source made later with
// machines() as its `hosts` numbers them alike.
// Order: time stamp, then machine (by its place), then id; newest first
// the reverse.
// Blocks: as LogReader's; where namesMachines(), each names its
// machine after the time stamp ("2026-12-09 06:00:00 plc-7 [报警记录]:").
// One answer: newestIds() gives each machine's newest id; a query with those
// as its upToIds sees the same records in every later call, whatever is
// stored meanwhile; afterIds (per machine) reads what came after them.
// Failures: a file that cannot be read is named in problems() and the
// others are still listed; open() fails only when no machine can be read.
// A call that fails returns false with errorText(); a merged listing in
// which one file failed still hands over the others' keys and then fails.
// A lost connection to PostgreSQL fails the call: never an answer cut short
// silently.
// Threads: one source belongs to one thread at a time; interrupt() may be
// called from any thread and makes the running call and every later one
// fail at once.
class VXSYSLOG_EXPORT ListingSource
{
public:
    using KeySink = LogReader::KeySink;
    using BlockSink = LogReader::BlockSink;
    using FetchSink = LogReader::FetchSink;
    using FetchRecordSink = LogReader::FetchRecordSink;

    // Null with `error` for a usage error (as RecordSource::create).
    static std::unique_ptr<ListingSource> create(const QStringList& locations, const QStringList& hosts, QString& error);

    virtual ~ListingSource();

    virtual void setBusyTimeout(int milliseconds) = 0;
    virtual bool open() = 0;

    virtual QStringList machines() const = 0;
    virtual bool namesMachines() const = 0;
    // The files read, by machine (a program follows each with a LogTail);
    // empty for the central database.
    virtual QStringList files() const { return QStringList(); }

    // Per machine (by place), its newest id; 0 where it has no records.
    virtual bool newestIds(QVector<qint64>& ids) = 0;
    virtual bool countListed(const LogQuery& query, qint64& result) = 0;
    virtual bool readKeys(const LogQuery& query, const KeySink& sink) = 0;
    virtual bool readBlocks(const LogQuery& query, const BlockSink& sink) = 0;
    // As LogReader::countBetween, over every machine.
    virtual bool countBetween(const LogQuery& query, const QStringList& bounds, QVector<qint64>& counts) = 0;
    // The blocks of the records (machines[i], ids[i]); a record no longer
    // stored is left out. `machines` may be null for a source of one machine.
    virtual bool fetch(const LogQuery& query, const int* machines, const qint64* ids, int count,
                       const FetchSink& sink) = 0;

    // The whole records (machines[i], ids[i]), each carrying its machine's
    // name as its host, whatever the listing's query; a record no longer
    // stored is left out.
    virtual bool fetchRecords(const int* machines, const qint64* ids, int count, const FetchRecordSink& sink) = 0;

    virtual void interrupt() = 0;

    virtual FailureKind failureKind() const = 0;
    virtual QString errorText() const = 0;
    // One Chinese line per machine that could not be read, each naming it.
    virtual QStringList problems() const = 0;
};

} // namespace SystemLog
