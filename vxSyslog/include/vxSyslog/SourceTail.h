#pragma once

#include <functional>

#include <vxSyslog/LogReader.h>
#include <vxSyslog/vxSyslogExport.h>

namespace SystemLog {

// Follows a RecordSource as it grows (vxlog follow over several files or
// the central table): start() hands over the last N records of the whole
// listing and fixes each machine's position; every fetch() then hands over
// what was stored after it, each record once, with its host.
// Files are followed by a LogTail each, with its rules (locks waited out,
// a replaced file followed from its first record, said once through the
// notice sink). The central table is polled by each machine's ids, which
// its forwarder sends in order; a failed poll is said once and retried.
// Threads: one tail belongs to one thread.
class VXSYSLOG_EXPORT SourceTail
{
public:
    using NoticeSink = std::function<void(const QString& notice)>;

    virtual ~SourceTail();
    // False with the source's problems when nothing can be followed.
    virtual bool start(int lastCount, const LogReader::RecordSink& sink) = 0;
    // Hands over up to `maxRecords` new records; how many it handed over.
    virtual int fetch(int maxRecords, const LogReader::RecordSink& sink) = 0;
    virtual void setStopCheck(const std::function<bool()>& stopRequested) = 0;
};

} // namespace SystemLog
