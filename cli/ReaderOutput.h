#pragma once

namespace SystemLog {
class LogReader;
}
class StdoutWriter;

// The endings every reading command shares. Each returns what the command
// then exits with or acts on, after reporting a failure on standard error.

// Opens the reader; false after printing why the database cannot be read.
bool openOrReport(SystemLog::LogReader& reader);

// After a stream of records: writes out what is buffered and returns the exit
// status, 1 when the read (`readOk` false) or standard output failed.
int finishRecordStream(bool readOk, const SystemLog::LogReader& reader, StdoutWriter& out);
