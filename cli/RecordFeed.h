#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

#include <vxSyslog/LogRecord.h>

// Where `vxlog forward` takes its records from: the records after a
// position, in id order, as they keep arriving. The forwarder sets the
// position back to the last acknowledged record when a session failed.
//
// A feed follows the log file through what happens to it: it waits out
// another program's lock, and a file that was replaced or emptied is said so
// once on standard error and read from its first record. Only a fault that
// waiting cannot mend ends the feed.
class RecordFeed
{
public:
    using Sink = std::function<void(const SystemLog::LogRecord&)>;

    virtual ~RecordFeed() = default;

    // Hands at most `limit` records after the position to `sink`, in id
    // order, and moves the position past them. No record is new: true and
    // nothing delivered. False when the log cannot be read (errorText()).
    virtual bool next(int limit, const Sink& sink) = 0;

    // The next call delivers the records after `id`.
    virtual void setPosition(qint64 id) = 0;

    virtual QString errorText() const = 0;
};
