#include <vxSyslog/RecordFormat.h>

#include <vxSyslog/RecordTypes.h>

#include <array>

namespace SystemLog {

namespace {

// UTF-8 captions, made once: the formatters run once per record.
const QByteArray& captionBytes(int type)
{
    static const std::array<QByteArray, kRecordTypeCount> captions = [] {
        std::array<QByteArray, kRecordTypeCount> bytes;
        for (int i = 0; i < kRecordTypeCount; ++i)
            bytes[static_cast<size_t>(i)] = recordTypeCaption(i).toUtf8();
        return bytes;
    }();
    static const QByteArray none;
    if (type < 0 || type >= kRecordTypeCount)
        return none;
    return captions[static_cast<size_t>(type)];
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

// A JSON string of UTF-8 bytes: quotes, backslashes and control characters
// escaped, everything else (non-ASCII included) copied as it is.
void appendJsonString(const QByteArray& text, QByteArray& out)
{
    static const char kHex[] = "0123456789abcdef";
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

} // namespace

void appendFormatHeader(RecordFormat format, QByteArray& out)
{
    if (format == RecordFormat::Csv)
        out.append("id,datetime,type,type_name,message\r\n");
}

void appendRecord(RecordFormat format, const LogRecord& record, QByteArray& out)
{
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
    appendNumber(record.id, out);
    out.append(',');
    appendCsvField(record.datetime, out);
    out.append(',');
    appendNumber(record.type, out);
    out.append(',');
    appendCsvField(captionBytes(record.type), out);
    out.append(',');
    appendCsvField(record.message, out);
    out.append("\r\n", 2);
}

void appendJsonRecord(const LogRecord& record, QByteArray& out)
{
    out.append("{\"id\":", 6);
    appendNumber(record.id, out);
    out.append(",\"datetime\":", 12);
    appendJsonString(record.datetime, out);
    out.append(",\"type\":", 8);
    appendNumber(record.type, out);
    out.append(",\"type_name\":", 13);
    appendJsonString(captionBytes(record.type), out);
    out.append(",\"message\":", 11);
    appendJsonString(record.message, out);
    out.append("}\n", 2);
}

} // namespace SystemLog
