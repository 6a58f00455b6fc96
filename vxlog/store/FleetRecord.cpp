#include "FleetRecord.h"

#include <QStringList>

#include <limits>

namespace {

const QByteArray kByteOrderMark("\xEF\xBB\xBF");
const QByteArray kNulMark("\xE2\x90\x80");  // U+2400 SYMBOL FOR NULL
const char kSdId[] = "vxlog@32473";
constexpr int kMaxHostBytes = 255;       // what vxlog forward sends at most
constexpr int kMaxDatetimeBytes = 64;    // far below what an index entry may hold

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void appendUtf8(uint code, QByteArray& out)
{
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

// One field of the line: the content of a JSON string as rsyslog escapes
// it (bytes above 0x7F pass as they are, valid UTF-8 or not).
bool unescapeJson(const QByteArray& field, QByteArray& out)
{
    out.clear();
    out.reserve(field.size());
    for (int i = 0; i < field.size(); ++i) {
        const char c = field.at(i);
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= field.size())
            return false;
        switch (field.at(i)) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
            if (i + 4 >= field.size())
                return false;
            uint code = 0;
            for (int k = 1; k <= 4; ++k) {
                const int digit = hexValue(field.at(i + k));
                if (digit < 0)
                    return false;
                code = code * 16 + uint(digit);
            }
            i += 4;
            appendUtf8(code, out);
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

// RFC 3629: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(const QByteArray& text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.constData());
    const auto* const end = p + text.size();
    while (p < end) {
        if (*p < 0x80) {
            ++p;
            continue;
        }
        int more = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (*p >= 0xC2 && *p <= 0xDF) {
            more = 1;
        } else if (*p >= 0xE0 && *p <= 0xEF) {
            more = 2;
            low = *p == 0xE0 ? 0xA0 : 0x80;
            high = *p == 0xED ? 0x9F : 0xBF;
        } else if (*p >= 0xF0 && *p <= 0xF4) {
            more = 3;
            low = *p == 0xF0 ? 0x90 : 0x80;
            high = *p == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (end - p <= more || p[1] < low || p[1] > high)
            return false;
        for (int k = 2; k <= more; ++k) {
            if ((p[k] & 0xC0) != 0x80)
                return false;
        }
        p += more + 1;
    }
    return true;
}

// Valid UTF-8 without NUL: what PostgreSQL's text takes. Adds to `notes`
// what had to change, naming the field.
QByteArray storableText(const QByteArray& text, const QString& field, QStringList& notes)
{
    QByteArray out = text;
    if (!isValidUtf8(out)) {
        out = QString::fromUtf8(out).toUtf8();
        notes << QStringLiteral("%1不是有效的 UTF-8，无效的字节存为 U+FFFD（�）").arg(field);
    }
    if (out.contains('\0')) {
        out.replace('\0', kNulMark);
        notes << QStringLiteral("%1中的 NUL 字节存为 U+2400（␀）").arg(field);
    }
    return out;
}

// What vxlog forward puts in its structured-data element.
struct VxlogParameters
{
    QByteArray id, type, eol, time;
    bool hasTime = false;

    void set(const QByteArray& name, const QByteArray& value)
    {
        if (name == "id")
            id = value;
        else if (name == "type")
            type = value;
        else if (name == "eol")
            eol = value;
        else if (name == "time")
            time = value, hasTime = true;
    }
};

// The parameters of the structured-data element `id` (RFC 5424: values in
// quotes, '"', '\' and ']' escaped by a backslash); false when there is none
// or the structured data cannot be read.
bool sdParameters(const QByteArray& sd, const char* id, VxlogParameters& parameters)
{
    int i = 0;
    while (i < sd.size() && sd.at(i) == '[') {
        int nameEnd = i + 1;
        while (nameEnd < sd.size() && sd.at(nameEnd) != ' ' && sd.at(nameEnd) != ']')
            ++nameEnd;
        const bool wanted = sd.mid(i + 1, nameEnd - i - 1) == id;
        i = nameEnd;
        while (i < sd.size() && sd.at(i) == ' ') {
            const int equals = sd.indexOf("=\"", i + 1);
            if (equals < 0)
                return false;
            const QByteArray name = sd.mid(i + 1, equals - i - 1);
            QByteArray value;
            for (i = equals + 2; i < sd.size() && sd.at(i) != '"'; ++i) {
                if (sd.at(i) == '\\' && i + 1 < sd.size() && (sd.at(i + 1) == '"' || sd.at(i + 1) == '\\' || sd.at(i + 1) == ']'))
                    ++i;
                value += sd.at(i);
            }
            if (i >= sd.size())
                return false;
            ++i;
            if (wanted)
                parameters.set(name, value);
        }
        if (i >= sd.size() || sd.at(i) != ']')
            return false;
        ++i;
        if (wanted)
            return true;
    }
    return false;
}

bool isDecimal(const QByteArray& text, int maxDigits)
{
    const int start = text.startsWith('-') ? 1 : 0;
    if (text.size() <= start || text.size() - start > maxDigits)
        return false;
    for (int i = start; i < text.size(); ++i) {
        if (text.at(i) < '0' || text.at(i) > '9')
            return false;
    }
    return true;
}

// `host` is valid UTF-8 already.
bool isUsableHost(const QByteArray& host)
{
    if (host.isEmpty() || host.size() > kMaxHostBytes)
        return false;
    for (char c : host) {
        if ((c >= 0 && c < 0x20) || c == 0x7F)
            return false;
    }
    return true;
}

// The first `maxBytes` of a valid UTF-8 text, not inside a character, and
// "…" when it had to be cut.
QByteArray cutText(const QByteArray& text, int maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    int cut = maxBytes;
    while (cut > 0 && (static_cast<unsigned char>(text.at(cut)) & 0xC0) == 0x80)
        --cut;
    return text.left(cut) + "\xE2\x80\xA6";
}

// The time stamp text, short enough for the indexes.
QByteArray storableDatetime(const QByteArray& text, QStringList& notes)
{
    const QByteArray out = storableText(text, QStringLiteral("时间"), notes);
    if (out.size() > kMaxDatetimeBytes)
        notes << QStringLiteral("时间长 %1 字节，只存前 %2 字节并以“…”结尾").arg(out.size()).arg(kMaxDatetimeBytes);
    return cutText(out, kMaxDatetimeBytes);
}

} // namespace

FleetRecord FleetRecord::fromLine(const QByteArray& line)
{
    FleetRecord record;
    QByteArray fields[4];
    int count = 0;
    for (int start = 0; count < 4; ++count) {
        const int tab = line.indexOf('\t', start);
        fields[count] = line.mid(start, tab < 0 ? -1 : tab - start);
        if (tab < 0) {
            ++count;
            break;
        }
        start = tab + 1;
    }
    const bool fourFields = count == 4 && fields[3].indexOf('\t') < 0;
    QByteArray host, time, sd, msg;
    if (!fourFields || !unescapeJson(fields[0], host) || !unescapeJson(fields[1], time) || !unescapeJson(fields[2], sd)
        || !unescapeJson(fields[3], msg)) {
        record.reason = QStringLiteral("无法读取 rsyslog 交来的这一行（接收端的模板与 vxlog store 所读的不同？），原样存在 message 中");
        record.sentMessage = line;
        return record;
    }
    QStringList notes;
    // The host of the reject row too: so that even an unusable one can be stored there.
    const bool hostValid = isValidUtf8(host) && !host.contains('\0');
    record.host = hostValid ? host : cutText(storableText(host, QString(), notes), kMaxHostBytes);
    notes.clear();
    record.structuredData = storableText(sd, QString(), notes);
    notes.clear();
    // As the machine sent it: the byte order mark before UTF-8 is the transport's.
    record.sentMessage = msg.startsWith(kByteOrderMark) ? msg.mid(kByteOrderMark.size()) : msg;

    VxlogParameters parameters;
    sdParameters(sd, kSdId, parameters);
    const QByteArray& id = parameters.id;
    record.hasId = !id.startsWith('-') && isDecimal(id, 18);
    if (record.hasId)
        record.id = id.toLongLong();
    if (!hostValid || !isUsableHost(host)) {
        record.host = cutText(record.host, kMaxHostBytes);
        record.reason = QStringLiteral("主机名无效（空、超过 %1 字节、不是 UTF-8 或含控制字符），未存入 fleet_log").arg(kMaxHostBytes);
        return record;
    }
    if (!record.hasId) {
        record.reason = QStringLiteral("没有 vxlog 的记录编号（不是 vxlog forward 发来的记录），未存入 fleet_log");
        return record;
    }

    record.datetime = storableDatetime(parameters.hasTime ? parameters.time : time, notes);
    const QByteArray& type = parameters.type;
    const qint64 typeValue = isDecimal(type, 10) ? type.toLongLong() : std::numeric_limits<qint64>::max();
    record.hasType = typeValue >= std::numeric_limits<int>::min() && typeValue <= std::numeric_limits<int>::max();
    record.type = record.hasType ? int(typeValue) : 0;
    if (!record.hasType && !type.isEmpty())
        notes << QStringLiteral("类型“%1”不是整数，存为 NULL").arg(QString::fromUtf8(type));

    QByteArray text = storableText(record.sentMessage, QStringLiteral("消息"), notes);
    for (char end : parameters.eol) {
        if (end == 'n' || end == 'r')
            text += end == 'n' ? '\n' : '\r';
        else
            notes << QStringLiteral("行尾标记 eol 中有无法识别的字符“%1”").arg(QString::fromUtf8(QByteArray(1, end)));
    }
    record.message = text;
    record.stored = true;
    notes.removeDuplicates();
    record.reason = notes.join(QStringLiteral("；"));
    return record;
}

void FleetRecord::refuse(const QString& why)
{
    stored = false;
    reason = QStringLiteral("数据库拒绝了这条记录，未存入 fleet_log：%1").arg(why);
}
