#include <vxSyslog/RecordFormat.h>

#include <vxSyslog/RecordTypes.h>

#include <algorithm>
#include <array>

#include "format/ShownTime.h"
#include "format/Utf8.h"

namespace SystemLog {

namespace {

// UTF-8 names made once for the five types: the formatters run once per record.
QByteArray typeNameBytes(const LogRecord& record)
{
    static const std::array<QByteArray, kRecordTypeCount> captions = [] {
        std::array<QByteArray, kRecordTypeCount> bytes;
        for (int i = 0; i < kRecordTypeCount; ++i)
            bytes[static_cast<size_t>(i)] = recordTypeCaption(i).toUtf8();
        return bytes;
    }();
    if (record.storedType == LogRecord::StoredType::Int && record.type >= 0 && record.type < kRecordTypeCount)
        return captions[static_cast<size_t>(record.type)];
    return recordTypeName(record).toUtf8();
}

void appendNumber(qint64 value, QByteArray& out)
{
    char digits[24];
    const int length = qsnprintf(digits, sizeof digits, "%lld", static_cast<long long>(value));
    out.append(digits, length);
}

bool needsCsvQuotes(const QByteArray& field)
{
    for (char c : field) {
        if (c == ',' || c == '"' || c == '\n' || c == '\r')
            return true;
    }
    return false;
}

void appendCsvField(const QByteArray& field, QByteArray& out)
{
    if (!needsCsvQuotes(field)) {
        out.append(field.constData(), field.size());
        return;
    }
    out.append('"');
    const char* begin = field.constData();
    const char* end = begin + field.size();
    for (const char* p = begin; p != end; ++p) {
        if (*p == '"') {
            out.append(begin, static_cast<int>(p - begin + 1));
            out.append('"');
            begin = p + 1;
        }
    }
    out.append(begin, static_cast<int>(end - begin));
    out.append('"');
}

// A JSON string of valid UTF-8: quotes, backslashes and control characters
// escaped, everything else (non-ASCII included) copied as it is. Bytes that
// are not UTF-8 are decoded the way the viewer decodes them first.
void appendJsonString(const QByteArray& stored, QByteArray& out)
{
    static const char kHex[] = "0123456789abcdef";
    const QByteArray text = validUtf8(stored);
    out.append('"');
    const char* begin = text.constData();
    const char* end = begin + text.size();
    const char* run = begin;
    for (const char* p = begin; p != end; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(run, static_cast<int>(p - run));
        run = p + 1;
        switch (c) {
        case '"': out.append("\\\"", 2); break;
        case '\\': out.append("\\\\", 2); break;
        case '\n': out.append("\\n", 2); break;
        case '\r': out.append("\\r", 2); break;
        case '\t': out.append("\\t", 2); break;
        case '\b': out.append("\\b", 2); break;
        case '\f': out.append("\\f", 2); break;
        default: {
            const char escaped[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xf]};
            out.append(escaped, 6);
        }
        }
    }
    out.append(run, static_cast<int>(end - run));
    out.append('"');
}

// SQLite writes numbers the way JSON does ("3.5", "1.0e+20"), except for
// the infinities ("Inf", "-Inf"), which go out as strings.
bool isJsonNumber(const QByteArray& text)
{
    const int start = text.startsWith('-') ? 1 : 0;
    if (text.size() <= start || text.at(start) < '0' || text.at(start) > '9')
        return false;
    return std::all_of(text.constBegin() + start, text.constEnd(), [](char c) {
        return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
    });
}

// The type column as stored: a number, null, or a string.
void appendJsonType(const LogRecord& record, QByteArray& out)
{
    switch (record.storedType) {
    case LogRecord::StoredType::Int:
        appendNumber(record.type, out);
        return;
    case LogRecord::StoredType::Null:
        out.append("null", 4);
        return;
    case LogRecord::StoredType::Number:
        if (isJsonNumber(record.typeText)) {
            out.append(record.typeText);
            return;
        }
        break;
    case LogRecord::StoredType::Text:
        break;
    }
    appendJsonString(record.typeText, out);
}

void appendCsvType(const LogRecord& record, QByteArray& out)
{
    if (record.storedType == LogRecord::StoredType::Int)
        appendNumber(record.type, out);
    else
        appendCsvField(record.typeText, out);
}

// The message on one line: a line end ("\r\n", "\n" or "\r") becomes "⏎";
// the line ends a message finishes with are the record's own and dropped.
void appendOneLine(const QByteArray& message, QByteArray& out)
{
    static const QByteArray kLineEnd = QByteArrayLiteral("\xe2\x8f\x8e");
    int length = message.size();
    while (length > 0 && (message.at(length - 1) == '\n' || message.at(length - 1) == '\r'))
        --length;
    const char* p = message.constData();
    const char* end = p + length;
    const char* run = p;
    for (; p != end; ++p) {
        if (*p != '\n' && *p != '\r')
            continue;
        out.append(run, static_cast<int>(p - run));
        out.append(kLineEnd);
        if (*p == '\r' && p + 1 != end && p[1] == '\n')
            ++p;
        run = p + 1;
    }
    out.append(run, static_cast<int>(end - run));
}

// The JSON object of a record: on one line ({"id":1,...}), or one field a
// line, as the journal tool's json-pretty lays it out.
enum class JsonLayout {
    OneLine,
    Pretty,
};

void appendJsonObject(const LogRecord& record, JsonLayout layout, QByteArray& out, bool withHost = false)
{
    const bool pretty = layout == JsonLayout::Pretty;
    const char* const separator = pretty ? ",\n\t\"" : ",\"";
    const char* const colon = pretty ? "\" : " : "\":";
    auto key = [&](const char* name, bool first) {
        out.append(first ? (pretty ? "{\n\t\"" : "{\"") : separator);
        out.append(name);
        out.append(colon);
    };
    key("id", true);
    appendNumber(record.id, out);
    key("datetime", false);
    appendJsonString(record.datetime, out);
    if (withHost) {
        key("host", false);
        appendJsonString(record.host, out);
    }
    key("type", false);
    appendJsonType(record, out);
    key("type_name", false);
    appendJsonString(typeNameBytes(record), out);
    key("message", false);
    appendJsonString(record.message, out);
    out.append(pretty ? "\n}\n" : "}\n");
}

// A message without the line ends it finishes with (the record's own), its
// later lines indented under the first: in verbose output every line of a
// record starts with blanks, so no line of a message can pass for a field.
void appendIndentedValue(const QByteArray& value, int indent, QByteArray& out)
{
    int length = value.size();
    while (length > 0 && (value.at(length - 1) == '\n' || value.at(length - 1) == '\r'))
        --length;
    const QByteArray blanks(indent, ' ');
    int start = 0;
    for (int i = 0; i < length; ++i) {
        if (value.at(i) != '\n')
            continue;
        out.append(value.constData() + start, i + 1 - start);
        out.append(blanks);
        start = i + 1;
    }
    out.append(value.constData() + start, length - start);
}

void appendVerboseRecord(const LogRecord& record, const QByteArray& isoTime, QByteArray& out, bool withHost = false)
{
    out.append(isoTime);
    out.append(" [id=");
    appendNumber(record.id, out);
    out.append("]\n    ID=");
    appendNumber(record.id, out);
    out.append("\n    DATETIME=");
    out.append(record.datetime);
    if (withHost) {
        out.append("\n    HOST=");
        out.append(record.host);
    }
    out.append("\n    TYPE=");
    if (record.storedType == LogRecord::StoredType::Int)
        appendNumber(record.type, out);
    else if (record.storedType == LogRecord::StoredType::Null)
        out.append("NULL");
    else
        out.append(record.typeText);
    out.append("\n    TYPE_NAME=");
    out.append(typeNameBytes(record));
    out.append("\n    MESSAGE=");
    appendIndentedValue(record.message, 12, out);
    out.append('\n');
}

void appendShortLine(const LogRecord& record, const QByteArray& time, QByteArray& out, bool withHost = false)
{
    out.append(time);
    out.append(' ');
    if (withHost) {
        out.append(record.host);
        out.append(' ');
    }
    out.append(typeNameBytes(record));
    out.append(' ');
    appendOneLine(record.message, out);
    out.append('\n');
}

struct FormatName
{
    const char* name;
    RecordFormat format;
};

const FormatName kFormatNames[] = {
    {"text", RecordFormat::Text},           {"short", RecordFormat::Short}, {"short-iso", RecordFormat::ShortIso},
    {"cat", RecordFormat::Cat},             {"csv", RecordFormat::Csv},     {"json", RecordFormat::Json},
    {"json-pretty", RecordFormat::JsonPretty}, {"verbose", RecordFormat::Verbose},
};

// One CSV line; the host column only where several machines are listed.
void appendCsvLine(const LogRecord& record, bool withHost, QByteArray& out)
{
    appendNumber(record.id, out);
    out.append(',');
    appendCsvField(record.datetime, out);
    out.append(',');
    if (withHost) {
        appendCsvField(record.host, out);
        out.append(',');
    }
    appendCsvType(record, out);
    out.append(',');
    appendCsvField(typeNameBytes(record), out);
    out.append(',');
    appendCsvField(record.message, out);
    out.append("\r\n", 2);
}

} // namespace

QString shownTime(const QString& stored, TimeZoneShown zone)
{
    return QString::fromUtf8(ShownTime::plain(stored.toUtf8(), zone));
}

QStringList recordFormatNames()
{
    QStringList names;
    for (const FormatName& entry : kFormatNames)
        names << QLatin1String(entry.name);
    return names;
}

bool recordFormatFromName(const QString& name, RecordFormat& format)
{
    for (const FormatName& entry : kFormatNames) {
        if (name == QLatin1String(entry.name)) {
            format = entry.format;
            return true;
        }
    }
    return false;
}

QString recordTypeName(int type)
{
    const QString caption = recordTypeCaption(type);
    return caption.isEmpty() ? QStringLiteral("类型 %1").arg(type) : caption;
}

QString unknownRecordTypeName()
{
    return QStringLiteral("类型 ?");
}

QString recordTypeName(const LogRecord& record)
{
    if (record.storedType == LogRecord::StoredType::Int)
        return recordTypeName(record.type);
    // An integer beyond int is still an integer: "类型 9999999999".
    if (isStoredInteger(record))
        return QStringLiteral("类型 %1").arg(QString::fromLatin1(record.typeText));
    return unknownRecordTypeName();
}

bool isStoredInteger(const LogRecord& record)
{
    if (record.storedType == LogRecord::StoredType::Int)
        return true;
    const QByteArray& text = record.typeText;
    const int start = text.startsWith('-') ? 1 : 0;
    return record.storedType == LogRecord::StoredType::Number && text.size() > start
           && std::all_of(text.constBegin() + start, text.constEnd(), [](char c) { return c >= '0' && c <= '9'; });
}

void appendFormatHeader(RecordFormat format, QByteArray& out)
{
    if (format == RecordFormat::Csv)
        out.append("id,datetime,type,type_name,message\r\n");
}

void appendRecord(RecordFormat format, const LogRecord& stored, QByteArray& out, TimeZoneShown zone)
{
    // The record with its time as shown; the byte arrays are shared, not copied.
    LogRecord record = stored;
    record.datetime = ShownTime::plain(stored.datetime, zone);
    switch (format) {
    case RecordFormat::Text:
        appendTextRecord(record, out);
        return;
    case RecordFormat::Csv:
        appendCsvRecord(record, out);
        return;
    case RecordFormat::Json:
        appendJsonRecord(record, out);
        return;
    case RecordFormat::Short:
        appendShortRecord(record, out);
        return;
    case RecordFormat::Cat:
        appendIndentedValue(record.message, 0, out);
        out.append('\n');
        return;
    case RecordFormat::ShortIso:
        appendShortLine(record, ShownTime::iso(stored.datetime, zone), out);
        return;
    case RecordFormat::JsonPretty:
        appendJsonObject(record, JsonLayout::Pretty, out);
        return;
    case RecordFormat::Verbose:
        appendVerboseRecord(record, ShownTime::iso(stored.datetime, zone), out);
        return;
    }
}

void appendTextHeading(const RecordLabels& labels, const LogRecord& record, QByteArray& out)
{
    out.append(record.datetime.constData(), record.datetime.size());
    if (labels.host) {
        out.append(' ');
        out.append(record.host);
    }
    if (labels.type) {
        out.append(" [", 2);
        out.append(typeNameBytes(record));
        out.append(']');
    }
}

void appendFormatHeader(RecordFormat format, const RecordLabels& labels, QByteArray& out)
{
    if (format == RecordFormat::Csv && labels.host)
        out.append("id,datetime,host,type,type_name,message\r\n");
    else
        appendFormatHeader(format, out);
}

void appendRecord(RecordFormat format, const RecordLabels& labels, const LogRecord& stored, QByteArray& out,
                  TimeZoneShown zone)
{
    const bool textLabels = (labels.host || labels.type) && format == RecordFormat::Text;
    if (!labels.host && !textLabels) {
        appendRecord(format, stored, out, zone);
        return;
    }
    LogRecord record = stored;
    record.datetime = ShownTime::plain(stored.datetime, zone);
    switch (format) {
    case RecordFormat::Text:
        appendTextHeading(labels, record, out);
        out.append(":\n", 2);
        out.append(record.message.constData(), record.message.size());
        out.append('\n');
        return;
    case RecordFormat::Csv:
        appendCsvLine(record, true, out);
        return;
    case RecordFormat::Json:
        appendJsonObject(record, JsonLayout::OneLine, out, true);
        return;
    case RecordFormat::JsonPretty:
        appendJsonObject(record, JsonLayout::Pretty, out, true);
        return;
    case RecordFormat::Short:
        appendShortLine(record, record.datetime, out, true);
        return;
    case RecordFormat::ShortIso:
        appendShortLine(record, ShownTime::iso(stored.datetime, zone), out, true);
        return;
    case RecordFormat::Verbose:
        appendVerboseRecord(record, ShownTime::iso(stored.datetime, zone), out, true);
        return;
    case RecordFormat::Cat:
        appendRecord(format, stored, out, zone);
        return;
    }
}

void appendTextRecord(const LogRecord& record, QByteArray& out)
{
    out.append(record.datetime.constData(), record.datetime.size());
    out.append(":\n", 2);
    out.append(record.message.constData(), record.message.size());
    out.append('\n');
}

void appendCsvRecord(const LogRecord& record, QByteArray& out)
{
    appendCsvLine(record, false, out);
}

void appendJsonRecord(const LogRecord& record, QByteArray& out)
{
    appendJsonObject(record, JsonLayout::OneLine, out);
}

void appendShortRecord(const LogRecord& record, QByteArray& out)
{
    appendShortLine(record, record.datetime, out);
}

} // namespace SystemLog
