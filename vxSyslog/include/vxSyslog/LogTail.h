#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>

#include <vxSyslog/LogReader.h>
#include <vxSyslog/LogQuery.h>
#include <vxSyslog/vxSyslogExport.h>

namespace SystemLog {

// Follows a log database as it grows, for a program that polls it from its
// own loop (vxlog follow, a forwarder): each fetch() hands over the records
// stored after the position, in the order they were stored, and moves the
// position past them.
//
// Position: an id; fetch() delivers records with a larger id. Ids grow in
// commit order (SQLite lets one writer commit at a time, and AUTOINCREMENT
// gives every new row a larger id than any row before it), so a record at or
// below the position is never delivered again: no row twice, whatever the
// time stamps say, also when the table was empty at the start. The filter's
// types, time bounds and pattern choose the records; its ids, order, last
// and reverse are the tail's own.
//
// Nothing ends a tail once open() has succeeded; fetch() waits every trouble
// out, returns no records meanwhile, and says what happens once, in Chinese,
// through the notice sink:
// - a lock held by another program: waited for, and retried at the next fetch;
// - the file deleted or cut to nothing, or something that is not a log
//   database at its path: waited for until a log database is back, which
//   is then followed from its first record;
// - another file at the path (deleted and created again, or renamed over
//   it), ids below the newest one seen or the position (rows deleted, the
//   id sequence reset), or the newest row seen replaced by another with its
//   id (emptied and written again): the tail goes on from the first record
//   of the new content; a file replaced or deleted is first read to its
//   end through the reader still open on it, so records written to it just
//   before the switch are delivered too;
// - any other failure to read: retried at the next fetch.
// The file's identity is checked before every fetch and the newest row
// seen is looked up again, so a file made smaller by VACUUM with its rows
// intact is followed on.
//
// Stopping: with a stop check set, fetch() returns within a few milliseconds
// of the check turning true, whatever it is doing (reading, waiting for a
// lock); records delivered before that stay delivered.
// Threads: one tail belongs to one thread, like the reader it holds.
class VXSYSLOG_EXPORT LogTail
{
public:
    using NoticeSink = std::function<void(const QString& notice)>;

    LogTail(const QString& path, const LogQuery& filter, NoticeSink notices = NoticeSink());
    ~LogTail();
    LogTail(const LogTail&) = delete;
    LogTail& operator=(const LogTail&) = delete;

    // Checks that the file can be read now, before the first fetch; false
    // with errorText() when it cannot (missing, not a log database, ...).
    // A program that would rather wait for the file may skip it.
    bool open();
    QString errorText() const;

    // Where the next fetch() starts: after record `id`; at the end, with
    // only records stored from now on (found at the next fetch); or with
    // the last `count` records the filter selects (found at the next fetch).
    void seekAfter(qint64 id);
    // After record `id` of the file `listedBy` has open, the reader that
    // listed the records up to it: should another file have taken its place
    // since, the tail goes on from that file's first record (a restart).
    void seekAfter(qint64 id, const LogReader& listedBy);
    void seekToEnd();
    void seekToLast(int count);

    // The id after which the next fetch() starts; -1 while a seekToEnd() or
    // seekToLast() waits for the next fetch to find it. A program that
    // stores it (a forwarder's acknowledged id) resumes with seekAfter().
    qint64 position() const;

    // How many times the tail went on from the first record of new content
    // (another file at the path, ids gone back). Ids kept from before such a
    // restart (a forwarder's acknowledged ids) belong to the old content.
    int restartCount() const;

    // Hands up to `maxRecords` records to `sink` and returns how many it
    // handed over; 0 when there is nothing new or while waiting. A sink that
    // returns false ends this fetch after that record (it counts as delivered).
    int fetch(int maxRecords, const LogReader::RecordSink& sink);

    // Called often while fetch() works or waits; once it returns true,
    // fetch() returns. Empty: never.
    void setStopCheck(const std::function<bool()>& stopRequested);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace SystemLog
