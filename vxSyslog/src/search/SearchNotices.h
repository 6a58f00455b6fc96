#pragma once

#include <QString>

namespace SystemLog {

// The notices of TextIndex::setNoticeSink, each told once per log and kind.
namespace SearchNotices {

enum class Kind { Building, ScanningInstead };

void tell(Kind kind, const QString& logPath, const QString& notice);

} // namespace SearchNotices

} // namespace SystemLog
