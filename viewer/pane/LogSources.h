#pragma once

#include <QString>
#include <QStringList>

#include <memory>

#include <vxSyslog/LogSource.h>

// Where the pane reads: one log file, several merged into one timeline, or
// the fleet's central PostgreSQL (the locations LogSource takes), and
// which of their machines (empty: all). A plain path converts to it, so a
// caller of one file names just the file.
struct LogSources
{
    LogSources() = default;
    LogSources(const QString& file)
        : locations{file}
    {
    }
    LogSources(const QStringList& locations, const QStringList& hosts = QStringList())
        : locations(locations)
        , hosts(hosts)
    {
    }

    // One file and no more: a file whose last write was cut off can then be
    // read from a rolled-back copy, and a live view follows it.
    bool isOneFile() const
    {
        return locations.size() == 1 && !SystemLog::LogSource::isDatabaseUrl(locations.first());
    }

    // The fleet's central database, reached over the network.
    bool isDatabase() const
    {
        return locations.size() == 1 && SystemLog::LogSource::isDatabaseUrl(locations.first());
    }

    // A reader of them (not yet opened); null with the usage error.
    std::unique_ptr<SystemLog::LogSource> reader(QString& error) const
    {
        std::unique_ptr<SystemLog::LogSource> source = SystemLog::LogSource::create(locations, hosts, error);
        // The viewer never writes a file it shows: one whose last write was
        // cut off is read from a private copy instead (CommittedCopy).
        if (source)
            source->setRollsBackCutOffWrites(false);
        return source;
    }

    bool operator==(const LogSources& other) const { return locations == other.locations && hosts == other.hosts; }

    QStringList locations;
    QStringList hosts;
};
