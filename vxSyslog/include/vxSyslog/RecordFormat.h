#pragma once

#include <QByteArray>

#include <vxSyslog/LogRecord.h>
#include <vxSyslog/vxSyslogExport.h>

// The three ways a program prints log records, each appending UTF-8 bytes to
// an output buffer so that a caller can stream any number of records through
// one buffer. Every message comes out exactly as stored: nothing is trimmed,
// and quotes, separators, line feeds, tabs and non-ASCII text survive a round
// trip through a parser of the format.
namespace SystemLog {

enum class RecordFormat {
    Text,  // the record block the viewer shows, "time:\nmessage", then one line feed
    Csv,   // RFC 4180: header id,datetime,type,type_name,message; CRLF line ends
    Json,  // JSON Lines: one object with id, datetime, type, type_name, message per line
};

// What precedes the first record: the CSV header line, nothing for the others.
VXSYSLOG_EXPORT void appendFormatHeader(RecordFormat format, QByteArray& out);

VXSYSLOG_EXPORT void appendRecord(RecordFormat format, const LogRecord& record, QByteArray& out);

VXSYSLOG_EXPORT void appendTextRecord(const LogRecord& record, QByteArray& out);
VXSYSLOG_EXPORT void appendCsvRecord(const LogRecord& record, QByteArray& out);
VXSYSLOG_EXPORT void appendJsonRecord(const LogRecord& record, QByteArray& out);

} // namespace SystemLog
