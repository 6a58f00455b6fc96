#include <vxSyslog/RecordSource.h>

#include "sources/FileSource.h"
#include "sources/Locations.h"
#include "sources/PgSource.h"

namespace SystemLog {

RecordSource::~RecordSource() = default;

SourceTail::~SourceTail() = default;

bool RecordSource::isDatabaseUrl(const QString& location)
{
    return Locations::isDatabaseUrl(location);
}

std::unique_ptr<RecordSource> RecordSource::create(const QStringList& locations, const QStringList& hosts, QString& error)
{
    error.clear();
    if (Locations::namesDatabase(locations, error)) {
        if (!PgSource::acceptsUrl(locations.first(), error))
            return nullptr;
        return std::make_unique<PgSource>(locations.first(), hosts);
    }
    std::vector<Locations::File> files;
    if (!error.isEmpty() || !Locations::filesOf(locations, hosts, files, error))
        return nullptr;
    std::vector<FileSource::File> sources;
    for (const Locations::File& file : files)
        sources.push_back({file.name.toUtf8(), file.path});
    return std::make_unique<FileSource>(sources);
}

} // namespace SystemLog
