#pragma once

#include <vxSyslog/LogQuery.h>
#include <vxSyslog/RecordFormat.h>

namespace SystemLog {
class LogReader;
class LogSource;
}
class StdoutWriter;

// The endings every reading command shares. Each returns what the command
// then exits with or acts on, after reporting a failure on standard error.

// Opens the reader; false after printing why the database cannot be read.
bool openOrReport(SystemLog::LogReader& reader);

// Opens the source and prints why any of its files cannot be read; false
// when none can.
bool openOrReport(SystemLog::LogSource& source);

// After a stream of records: writes out what is buffered and returns the exit
// status, 1 when the read (`readOk` false) or standard output failed.
int finishRecordStream(bool readOk, const SystemLog::LogReader& reader, StdoutWriter& out);

// The same for a source: 1 also when any of its files could not be read,
// whose reasons (those not told at the open) come after the records.
int finishRecordStream(bool readOk, const SystemLog::LogSource& source, StdoutWriter& out);

// What each record names besides its time: the machine where several are
// listed, the type where the filter lists other than exactly one.
SystemLog::RecordLabels labelsFor(const SystemLog::LogSource& source, const SystemLog::LogQuery& filter);
