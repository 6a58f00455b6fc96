#include <vxSyslog/ListingSource.h>

#include "sources/FileListing.h"
#include "sources/Locations.h"
#include "sources/PgListing.h"

namespace SystemLog {

ListingSource::~ListingSource() = default;

std::unique_ptr<ListingSource> ListingSource::create(const QStringList& locations, const QStringList& hosts, QString& error)
{
    QString url;
    std::vector<Locations::File> files;
    if (!Locations::resolve(locations, hosts, url, files, error))
        return nullptr;
    if (!url.isEmpty())
        return std::make_unique<PgListing>(url, hosts);
    return std::make_unique<FileListing>(files);
}

} // namespace SystemLog
