#include <vxSyslog/ListingSource.h>

namespace SystemLog {

ListingSource::~ListingSource() = default;

} // namespace SystemLog
