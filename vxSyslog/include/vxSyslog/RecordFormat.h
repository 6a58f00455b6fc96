#pragma once

#include <QByteArray>
#include <QString>

#include <vxSyslog/LogRecord.h>
#include <vxSyslog/vxSyslogExport.h>

// The ways a program prints log records, each appending UTF-8 bytes to an
// output buffer so that a caller can stream any number of records through
// one buffer. Messages come out exactly as stored (nothing is trimmed;
// quotes, separators, line feeds, tabs and non-ASCII text survive a round
// trip through a parser of the format), with two exceptions: JSON Lines are
// always valid UTF-8, so stored bytes that are not UTF-8 become U+FFFD there,
// as the viewer shows them; and the one-line form shows line ends as "⏎".
// Text, CSV and the one-line form pass any other stored bytes on unchanged.
namespace SystemLog {

enum class RecordFormat {
    Text,   // the record block the viewer shows, "time:\nmessage", then one line feed
    Csv,    // RFC 4180: header id,datetime,type,type_name,message; CRLF line ends
    Json,   // JSON Lines: one object with id, datetime, type, type_name, message per line
    Short,  // one line per record: "time type_name message", line ends in the message as "⏎"
};

// What a record names besides its time stamp, where one listing holds
// several machines or several types. A text block then reads
// "2026-12-09 06:00:00 plc-7 [报警记录]:\n…" (host, type, or both); short
// gains the host after the time; CSV and JSON gain a host field after
// datetime. No labels: the forms above, exactly.
struct RecordLabels
{
    bool host = false;
    bool type = false;
};

VXSYSLOG_EXPORT void appendFormatHeader(RecordFormat format, const RecordLabels& labels, QByteArray& out);
VXSYSLOG_EXPORT void appendRecord(RecordFormat format, const RecordLabels& labels, const LogRecord& record, QByteArray& out);

// The text block's first line without its colon: the time stamp and the
// labels asked for.
VXSYSLOG_EXPORT void appendTextHeading(const RecordLabels& labels, const LogRecord& record, QByteArray& out);

// What precedes the first record: the CSV header line, nothing for the others.
VXSYSLOG_EXPORT void appendFormatHeader(RecordFormat format, QByteArray& out);

VXSYSLOG_EXPORT void appendRecord(RecordFormat format, const LogRecord& record, QByteArray& out);

VXSYSLOG_EXPORT void appendTextRecord(const LogRecord& record, QByteArray& out);
VXSYSLOG_EXPORT void appendCsvRecord(const LogRecord& record, QByteArray& out);
VXSYSLOG_EXPORT void appendJsonRecord(const LogRecord& record, QByteArray& out);
VXSYSLOG_EXPORT void appendShortRecord(const LogRecord& record, QByteArray& out);

// The name an operator reads for a record's type: the caption of 0..4,
// "类型 N" for any other int, "类型 ?" for a stored value that is not an int.
VXSYSLOG_EXPORT QString recordTypeName(int type);
VXSYSLOG_EXPORT QString recordTypeName(const LogRecord& record);
VXSYSLOG_EXPORT QString unknownRecordTypeName();

} // namespace SystemLog
