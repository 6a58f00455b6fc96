#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

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
    Cat,         // the message alone, as stored but for the line ends it finishes with, then one line feed
    ShortIso,    // as Short, the time in RFC 3339 with its offset: "2024-05-01T08:00:00+08:00"
    JsonPretty,  // the JSON object of Json, one field per line, indented by a tab
    Verbose,     // every column on a line of its own, "    NAME=value", after a heading line
};

// Which clock the times are shown in. Rows store the machine's local time;
// Utc converts it (the journal tool's --utc). Csv and Json name the
// stored time as it is only in Local.
enum class TimeZoneShown {
    Local,
    Utc,
};

// A stored time stamp as shown in `zone` ("yyyy-MM-dd hh:mm:ss"); one not in
// the stored form comes back as it is.
VXSYSLOG_EXPORT QString shownTime(const QString& stored, TimeZoneShown zone);

// The names a user picks a format by ("text", "short", "short-iso", "cat",
// "csv", "json", "json-pretty", "verbose"), in the order help lists them.
VXSYSLOG_EXPORT QStringList recordFormatNames();
// False when `name` is none of them.
VXSYSLOG_EXPORT bool recordFormatFromName(const QString& name, RecordFormat& format);

// What precedes the first record: the CSV header line, nothing for the others.
VXSYSLOG_EXPORT void appendFormatHeader(RecordFormat format, QByteArray& out);

VXSYSLOG_EXPORT void appendRecord(RecordFormat format, const LogRecord& record, QByteArray& out,
                                  TimeZoneShown zone = TimeZoneShown::Local);

// What a record names besides its time stamp, where one listing holds
// several machines or several types. A text block then reads
// "2026-12-09 06:00:00 plc-7 [报警记录]:\n…" (host, type, or both); short
// gains the host after the time; CSV and JSON gain a host field after
// datetime, verbose a HOST line; cat stays the message alone. No labels:
// the forms above, exactly.
struct RecordLabels
{
    bool host = false;
    bool type = false;
};

VXSYSLOG_EXPORT void appendFormatHeader(RecordFormat format, const RecordLabels& labels, QByteArray& out);
VXSYSLOG_EXPORT void appendRecord(RecordFormat format, const RecordLabels& labels, const LogRecord& record, QByteArray& out,
                                  TimeZoneShown zone = TimeZoneShown::Local);

// The text block's first line without its colon: the time stamp and the
// labels asked for.
VXSYSLOG_EXPORT void appendTextHeading(const RecordLabels& labels, const LogRecord& record, QByteArray& out);

VXSYSLOG_EXPORT void appendTextRecord(const LogRecord& record, QByteArray& out);
VXSYSLOG_EXPORT void appendCsvRecord(const LogRecord& record, QByteArray& out);
VXSYSLOG_EXPORT void appendJsonRecord(const LogRecord& record, QByteArray& out);
VXSYSLOG_EXPORT void appendShortRecord(const LogRecord& record, QByteArray& out);

// The name an operator reads for a record's type: the caption of 0..4,
// "类型 N" for any other integer (also one beyond int, such as 9999999999),
// "类型 ?" for a stored value that is not an integer (NULL, a text, a real).
VXSYSLOG_EXPORT QString recordTypeName(int type);
VXSYSLOG_EXPORT QString recordTypeName(const LogRecord& record);
VXSYSLOG_EXPORT QString unknownRecordTypeName();
// Whether the record's type was stored as an integer, within int or beyond.
VXSYSLOG_EXPORT bool isStoredInteger(const LogRecord& record);

} // namespace SystemLog
