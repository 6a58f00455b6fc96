#pragma once

#include <QString>

#include <vxSyslog/RecordList.h>
#include <vxSyslog/vxSyslogExport.h>

// Writing one day's records into a text file in a folder the operator chose.
namespace SystemLog {
namespace DayExport {

// "<folder><separator><day>系统日志.txt". The separator is the platform's own
// (the backslash on Windows), so the file lands inside the chosen folder on
// every system. The folder is used exactly as the folder dialog returned it.
VXSYSLOG_EXPORT QString filePath(const QString& folder, const QString& day);

enum class Status { Written, OpenFailed, WriteFailed };

struct Outcome
{
    Status status;
    QString reason; // the file system's reason when status is not Written
};

// Truncates or creates the file (text mode, the locale's encoding) and writes
// the record blocks back to back: nothing before, between or after them.
// Write and close errors are detected, so a full disk is not taken for success.
VXSYSLOG_EXPORT Outcome writeRecords(const QString& path, const RecordList& records);

// The texts an export reports to a person, the same from every program that
// exports: the outcome of writeRecords for `path`, a day without records of
// the type, and a day whose query failed (`reason` as the store gave it).
VXSYSLOG_EXPORT QString outcomeText(const Outcome& outcome, const QString& path);
VXSYSLOG_EXPORT QString noRecordsText(const QString& day);
VXSYSLOG_EXPORT QString queryFailedText(const QString& day, const QString& reason);

} // namespace DayExport
} // namespace SystemLog
