#pragma once

#include <QString>

#include <functional>

#include <vxSyslog/vxSyslogExport.h>

namespace SystemLog {

// The text index beside a log file ("<log>-index", docs/logging.md), with
// which every reader of the file answers a search (LogQuery::grep) without
// reading every message: the log's writer keeps it up to date, and a reader
// that finds it missing or behind brings it up to date where it may write
// beside the log (the log itself is never written). Where it cannot, the
// search reads the records the index lacks, as it always did.
namespace TextIndex {

VXSYSLOG_EXPORT QString pathFor(const QString& logPath);

// What a search tells the person who asked: that it builds the index first
// (a search that takes longer once), or that it reads the records the index
// lacks because the index cannot be brought up to date. Each is told once
// per log and process. The sink is called on the searching thread; by
// default the notices go nowhere.
enum class Notice { Building, ReadingRecords };
using NoticeSink = std::function<void(Notice kind, const QString& text)>;
VXSYSLOG_EXPORT void setNoticeSink(const NoticeSink& sink);

} // namespace TextIndex

} // namespace SystemLog
