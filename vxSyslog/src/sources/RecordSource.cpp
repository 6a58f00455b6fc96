#include <vxSyslog/RecordSource.h>

#include "sources/FileSource.h"
#include "sources/LocationSecrets.h"
#include "sources/Locations.h"
#include "sources/PgSource.h"

namespace SystemLog {

RecordSource::~RecordSource() = default;

SourceTail::~SourceTail() = default;

bool RecordSource::isDatabaseUrl(const QString& location)
{
    return Locations::isDatabaseUrl(location);
}

QString RecordSource::shownLocation(const QString& location)
{
    return Locations::withoutPassword(location);
}

bool RecordSource::refusesPassword(const QString& location, QString& error)
{
    if (!Locations::holdsPassword(location))
        return false;
    error = Locations::passwordRefusedText();
    return true;
}

std::unique_ptr<RecordSource> RecordSource::create(const QStringList& locations, const QStringList& hosts, QString& error)
{
    QString url;
    std::vector<Locations::File> files;
    if (!Locations::resolve(locations, hosts, url, files, error))
        return nullptr;
    if (!url.isEmpty())
        return std::make_unique<PgSource>(url, hosts);
    std::vector<FileSource::File> sources;
    for (const Locations::File& file : files)
        sources.push_back({file.name.toUtf8(), file.path});
    return std::make_unique<FileSource>(sources);
}

} // namespace SystemLog
