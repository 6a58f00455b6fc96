#pragma once

#include <vxSyslog/LogReader.h>
#include <vxSyslog/RecordFilter.h>

#include <memory>

#include "RecordFeed.h"

// The record feed read from a log database with the module's LogReader,
// polled: each next() asks for the newest id and reads the records after the
// position up to it. The filter's types, time bounds and pattern apply.
// Notices (a lock, a replaced or emptied file) go to standard error, once per
// event, starting with `speaker` ("vxlog forward").
class ReaderFeed : public RecordFeed
{
public:
    ReaderFeed(const QString& path, const SystemLog::RecordFilter& filter, const QString& speaker);

    // Opens the file; false when it cannot be read now (errorText()).
    bool open();
    // The newest id of the open file: where a feed starts that skips the past.
    bool lastId(qint64& id);

    bool next(int limit, const Sink& sink) override;
    void setPosition(qint64 id) override { m_position = id; }
    QString errorText() const override { return m_error; }

private:
    struct Identity
    {
        bool exists = false;
        quint64 device = 0;
        quint64 inode = 0;
        bool operator==(const Identity& other) const
        {
            return exists == other.exists && device == other.device && inode == other.inode;
        }
    };

    Identity currentIdentity() const;
    bool followFileChange();
    bool readFailed();
    void notice(const QString& text);

    QString m_path;
    SystemLog::RecordFilter m_filter;
    QString m_speaker;
    std::unique_ptr<SystemLog::LogReader> m_reader;
    Identity m_identity;
    qint64 m_position = 0;
    bool m_waiting = false;  // a lock or a missing file was reported and not yet over
    QString m_error;
};
