#include <vxSyslog/SyslogFormat.h>

#include <vxSyslog/RecordFormat.h>
#include <vxSyslog/RecordTypes.h>

#include <QDateTime>
#include <QStringList>
#include <QTextCodec>
#include <QTimeZone>

#include "format/AsciiDigit.h"
#include "format/ShownTime.h"
#include "format/Utf8.h"

namespace SystemLog {

namespace {

// The structured-data element every message carries; 32473 is the private
// enterprise number RFC 5612 sets aside for documentation and examples.
const char kSdId[] = "vxlog@32473";

// As syslog.h names them; 12 to 15 have no common name and go by number.
const char* const kFacilityNames[] = {
    "kern", "user", "mail", "daemon", "auth", "syslog", "lpr", "news",
    "uucp", "cron", "authpriv", "ftp", nullptr, nullptr, nullptr, nullptr,
    "local0", "local1", "local2", "local3", "local4", "local5", "local6", "local7",
};
constexpr int kFacilityCount = 24;

// "yyyy-MM-dd hh:mm:ss", digits where digits belong.
bool isStoredTimestamp(const QByteArray& text)
{
    static const char kShape[] = "dddd-dd-dd dd:dd:dd";
    if (text.size() != int(sizeof kShape) - 1)
        return false;
    for (int i = 0; i < text.size(); ++i) {
        if (kShape[i] == 'd' ? !isAsciiDigit(text.at(i)) : text.at(i) != kShape[i])
            return false;
    }
    return true;
}

// The offset of the zone at a local time. A time the clocks skipped (not one
// this machine's writer stores) takes the offset of the instant of that
// reading in UTC, which lies on one side of the change or the other.
int localOffset(const QByteArray& datetime)
{
    const QString text = QString::fromLatin1(datetime);
    const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    const QDateTime local = QDateTime::fromString(text, format);
    if (local.isValid())
        return local.offsetFromUtc();
    const QDateTime instant(QDate::fromString(text.left(10), Qt::ISODate), QTime::fromString(text.mid(11), Qt::ISODate),
                            Qt::UTC);
    return QTimeZone::systemTimeZone().offsetFromUtc(instant);
}

int withoutTrailingLineEnds(const QByteArray& message)
{
    int length = message.size();
    while (length > 0 && (message.at(length - 1) == '\n' || message.at(length - 1) == '\r'))
        --length;
    return length;
}

bool isUtf8(const char* data, int length)
{
    static QTextCodec* const codec = QTextCodec::codecForMib(106);
    QTextCodec::ConverterState state;
    codec->toUnicode(data, length, &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

// The first `length` bytes of a message, each NUL byte as U+2400 SYMBOL FOR
// NULL: receivers turn a NUL into "#000", which the text may hold itself,
// and PostgreSQL's text cannot hold one. A visible mark instead.
QByteArray withNulMarked(const QByteArray& message, int length)
{
    const QByteArray head = QByteArray::fromRawData(message.constData(), length);
    if (!head.contains('\0'))
        return head;
    QByteArray text = head;
    return text.replace('\0', QByteArray("\xE2\x90\x80"));
}

} // namespace

SyslogFormatter::SyslogFormatter(const Options& options)
    : m_options(options)
{
}

int SyslogFormatter::severity(int type)
{
    switch (type) {
    case 3:
        return 3;  // err
    case 1:
    case 2:
        return 6;  // info
    default:
        return 5;  // notice
    }
}

QByteArray SyslogFormatter::messageId(int type)
{
    const QString name = recordTypeAsciiName(type);
    if (!name.isEmpty())
        return name.toLatin1();
    return "type" + QByteArray::number(type);
}

int SyslogFormatter::facilityOfName(const QString& name)
{
    bool isNumber = false;
    const int code = name.toInt(&isNumber);
    if (isNumber)
        return code >= 0 && code < kFacilityCount ? code : -1;
    for (int i = 0; i < kFacilityCount; ++i) {
        if (kFacilityNames[i] && name == QLatin1String(kFacilityNames[i]))
            return i;
    }
    return -1;
}

bool SyslogFormatter::isHeaderField(const QByteArray& name, int maxLength)
{
    if (name.isEmpty() || name.size() > maxLength)
        return false;
    for (char c : name) {
        if (c < 33 || c > 126)
            return false;
    }
    return true;
}

void SyslogFormatter::appendParamValue(const QByteArray& value, QByteArray& out)
{
    for (char c : value) {
        if (c == '"' || c == '\\' || c == ']')
            out.append('\\');
        out.append(c);
    }
}

void SyslogFormatter::appendTimestamp(const QByteArray& datetime, QByteArray& out)
{
    if (!isStoredTimestamp(datetime)) {
        out.append('-');
        return;
    }
    // The zone's offset can change only on a minute boundary, and the rows
    // of one minute come together: one time-zone look-up per minute of log.
    const QByteArray minute = QByteArray::fromRawData(datetime.constData(), 16);
    if (minute != m_offsetMinute) {
        m_offsetMinute = QByteArray(datetime.constData(), 16);
        m_offsetText = ShownTime::offsetText(localOffset(datetime));
    }
    out.append(datetime.constData(), 10);
    out.append('T');
    out.append(datetime.constData() + 11, 8);
    out.append(m_offsetText);
}

bool SyslogFormatter::append(const LogRecord& record, QByteArray& out)
{
    const int start = out.size();
    out.append('<');
    const bool isInt = record.storedType == LogRecord::StoredType::Int;
    out.append(QByteArray::number(m_options.facility * 8 + (isInt ? severity(record.type) : severity(-1))));
    out.append(">1 ", 3);
    appendTimestamp(record.datetime, out);
    out.append(' ');
    out.append(m_options.hostname.isEmpty() ? QByteArray("-") : m_options.hostname);
    out.append(' ');
    out.append(m_options.appName);
    out.append(" - ", 3);
    // A type stored as something else than an int is sent as stored:
    // "typeN" for an integer beyond int, no MSGID for NULL, a text or a real.
    out.append(isInt ? messageId(record.type) : isStoredInteger(record) ? "type" + record.typeText : QByteArray("-"));
    out.append(" [", 2);
    out.append(kSdId);
    out.append(" id=\"", 5);
    appendParamValue(QByteArray::number(record.id), out);
    out.append("\" type=\"", 8);
    appendParamValue(isInt ? QByteArray::number(record.type) : record.typeText, out);
    out.append('"');
    // TIMESTAMP is "-" for a stored time that is no time stamp; a receiver
    // would put the time it received the message there: the text as stored.
    if (!isStoredTimestamp(record.datetime)) {
        out.append(" time=\"", 7);
        appendParamValue(record.datetime, out);
        out.append('"');
    }
    // The line ends MSG leaves out, so that a receiver can store the
    // message exactly as the machine did: "n" for LF, "r" for CR, in order.
    const int length = withoutTrailingLineEnds(record.message);
    if (length < record.message.size()) {
        out.append(" eol=\"", 6);
        for (int i = length; i < record.message.size(); ++i)
            out.append(record.message.at(i) == '\n' ? 'n' : 'r');
        out.append('"');
    }
    out.append(']');

    if (length == 0)
        return false;
    out.append(' ');
    const QByteArray text = withNulMarked(record.message, length);
    const bool utf8 = isUtf8(text.constData(), text.size());
    if (utf8)
        out.append(kUtf8ByteOrderMark, 3);
    const int room = m_options.maxSize > 0 ? m_options.maxSize - (out.size() - start) : text.size();
    if (text.size() <= room) {
        out.append(text);
        return false;
    }
    const QByteArray marker = QStringLiteral("…[截断，原长 %1 字节]").arg(length).toUtf8();
    int kept = qMax(0, room - marker.size());
    // Not inside a character: back to the byte where one begins.
    while (utf8 && kept > 0 && (static_cast<unsigned char>(text.at(kept)) & 0xC0) == 0x80)
        --kept;
    out.append(text.constData(), kept);
    out.append(marker);
    return true;
}

} // namespace SystemLog
