#pragma once

#include <QString>

#include <vxSyslog/TextIndex.h>

namespace SystemLog {

// The notices of TextIndex::setNoticeSink, each told once per log and kind.
namespace SearchNotices {

void tell(TextIndex::Notice kind, const QString& logPath, const QString& notice);

} // namespace SearchNotices

} // namespace SystemLog
