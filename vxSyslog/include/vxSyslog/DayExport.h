#pragma once

#include <QString>

#include <QVector>

#include <functional>

#include <vxSyslog/RecordList.h>
#include <vxSyslog/vxSyslogExport.h>

// Writing one day's records into a text file in a folder the operator chose.
namespace SystemLog {

class LogSource;
class LogReader;
struct LogQuery;

namespace DayExport {

// "<folder><separator><day>系统日志.txt". The separator is the platform's own
// (the backslash on Windows), so the file lands inside the chosen folder on
// every system. The folder is used exactly as the folder dialog returned it.
VXSYSLOG_EXPORT QString filePath(const QString& folder, const QString& day);

enum class Status { Written, OpenFailed, WriteFailed, ReadFailed, Cancelled };

struct Outcome
{
    Status status;
    QString reason; // the file system's (or, for ReadFailed, the database's) reason
    qint64 blocks = 0; // written, when Written
};

// Told the number of records written so far, now and then; returning false
// cancels the export.
using Progress = std::function<bool(qint64 records)>;

// Writes the record blocks back to back (text mode, the locale's encoding):
// nothing before, between or after them, but that a block whose message
// does not end with a line feed gets one, so that every block's time stamp
// starts a line (the log module's own messages end with one, and their
// blocks are written exactly as they were). The file replaces an earlier one of
// that name only once it is completely written; on any failure an earlier
// file stays as it was and no partial file is left. Write errors are
// detected, so a full disk is not taken for success; the reason names it.
VXSYSLOG_EXPORT Outcome writeRecords(const QString& path, const RecordList& records);

// The same file, streamed from an open reader: the blocks of `query` (the
// type after the time when it lists several, see ListingBlock.h) go to
// the file a chunk at a time, so memory does not grow with the day. A read
// that fails part way (ReadFailed, with the reader's reason) or a cancelled
// export (Cancelled) leaves an earlier file as it was, like a failed write.
VXSYSLOG_EXPORT Outcome writeQuery(const QString& path, LogReader& reader, const LogQuery& query,
                                   const Progress& progress = Progress());

// The same from any reader of blocks (a listing of several machines):
// `readBlocks` hands every block to the sink in order, stopping when the
// sink returns false, and returns false with `reason` when the read failed.
using BlockSink = std::function<bool(const QString& block)>;
using BlockReader = std::function<bool(const BlockSink& sink, QString& reason)>;
VXSYSLOG_EXPORT Outcome writeBlocks(const QString& path, const BlockReader& readBlocks,
                                    const Progress& progress = Progress());

// The export of a day is the viewer's listing of it: the blocks its pane
// lists for these types (empty: every type) on that day, both ends
// included, the period's drop records of any type among them, in time order.
VXSYSLOG_EXPORT LogQuery dayListing(const QString& day, const QVector<int>& types);

// Fixes the listing's answer to what is stored now (the machines' newest
// ids go into `query`), so that records stored meanwhile do not reach the
// file, and counts its blocks and the drop records among them. The reader
// is open. False with the reader's errorText().
struct Count
{
    qint64 blocks = 0;
    qint64 gaps = 0;
};
VXSYSLOG_EXPORT bool fixAndCount(LogSource& reader, LogQuery& query, Count& count);

// Writes the listing's blocks (see writeBlocks).
VXSYSLOG_EXPORT Outcome writeListing(const QString& path, LogSource& reader, const LogQuery& query,
                                     const Progress& progress = Progress());

// The texts an export reports to a person, the same from every program that
// exports: the outcome of writeRecords for `path` (written: how many records
// and, of `gaps` drop records among the blocks, gaps), a day without
// records of the type, and a day whose query failed (`reason` as the store
// gave it).
VXSYSLOG_EXPORT QString outcomeText(const Outcome& outcome, const QString& path, qint64 gaps = 0);
VXSYSLOG_EXPORT QString noRecordsText(const QString& day);
VXSYSLOG_EXPORT QString queryFailedText(const QString& day, const QString& reason);

} // namespace DayExport
} // namespace SystemLog
