#pragma once

#include <QString>
#include <QVector>

#include <functional>

#include <vxSyslog/LogReader.h>

namespace SystemLog {

// Follows a LogSource as it grows: vxlog follow, of one file, several or the
// central table, and the viewer's live view. Where it starts is set once,
// by start() or startAfter(); every fetch() then hands over what was stored
// after each machine's position, each record once, with its machine.
// Files are followed by a LogTail each, with its rules (locks waited out,
// a file replaced, deleted or reset followed from its first record, said
// once through the notice sink). The central table is polled by each
// machine's ids, which its forwarder sends in order; a failed poll is said
// once and retried.
// Threads: one tail belongs to one thread.
class SourceTail
{
public:
    using NoticeSink = std::function<void(const QString& notice)>;

    virtual ~SourceTail();

    // Hands over the last N records of the whole listing and fixes each
    // machine's position after the newest record now stored. False with
    // the source's reason when nothing can be followed.
    virtual bool start(int lastCount, const LogReader::RecordSink& sink) = 0;
    // Or: each machine (by its place in the source's machines) goes on
    // after this id; 0 from its first record.
    virtual bool startAfter(const QVector<qint64>& ids) = 0;

    // Hands over up to `maxRecords` new records; how many it handed over.
    virtual int fetch(int maxRecords, const LogReader::RecordSink& sink) = 0;

    // Per machine, the id after which the next fetch starts: what a program
    // keeps to go on after a restart (vxlog's cursor file).
    virtual QVector<qint64> positions() const = 0;
    // How many times a machine's file went on from the first record of new
    // content (another file at the path, ids gone back): positions kept
    // from before belong to the old content.
    virtual int restartCount() const = 0;

    virtual void setStopCheck(const std::function<bool()>& stopRequested) = 0;
};

} // namespace SystemLog
