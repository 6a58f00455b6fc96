#include <vxSyslog/ListingSource.h>

#include "sources/FileListing.h"
#include "sources/Locations.h"
#include "sources/PgListing.h"
#include "sources/PgSource.h"

namespace SystemLog {

ListingSource::~ListingSource() = default;

std::unique_ptr<ListingSource> ListingSource::create(const QStringList& locations, const QStringList& hosts, QString& error)
{
    error.clear();
    if (Locations::namesDatabase(locations, error)) {
        if (!PgSource::acceptsUrl(locations.first(), error))
            return nullptr;
        return std::make_unique<PgListing>(locations.first(), hosts);
    }
    std::vector<Locations::File> files;
    if (!error.isEmpty() || !Locations::filesOf(locations, hosts, files, error))
        return nullptr;
    std::vector<FileListing::File> listed;
    for (const Locations::File& file : files)
        listed.push_back({file.name, file.path});
    return std::make_unique<FileListing>(listed);
}

} // namespace SystemLog
