#include "format/AsciiDigit.h"
#include "write/SideFileFormat.h"

#include <cstring>

#include "format/LocalTimeText.h"

namespace SystemLog {

namespace {

const char kHeaderV1[] = "vxSyslog unwritten lines 1";
const char kHeaderV2[] = "vxSyslog unwritten lines 2";
const char kHeaderV3[] = "vxSyslog unwritten lines 3";

// The last second with a four-digit year (9999-12-31 23:59:59 UTC): beyond
// it a stamp cannot be formatted as the log stores it.
constexpr std::int64_t kLastSecond = 253402300799LL;

// A decimal number, optionally negative, with nothing else around it and
// within the range of a 64-bit value.
bool parseNumber(const char* begin, const char* end, std::int64_t& value)
{
    bool negative = false;
    if (begin < end && *begin == '-') {
        negative = true;
        ++begin;
    }
    if (begin == end || end - begin > 18)
        return false;
    std::int64_t v = 0;
    for (const char* c = begin; c < end; ++c) {
        if (*c < '0' || *c > '9')
            return false;
        v = v * 10 + (*c - '0');
    }
    value = negative ? -v : v;
    return true;
}

int digitsAt(const char* text, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i)
        value = value * 10 + (text[i] - '0');
    return value;
}

int daysInMonth(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// "yyyy-MM-dd hh:mm:ss" with digits where digits belong, naming a second
// that exists on the calendar and the clock (no 2026-13-45 25:61:61): the
// row's datetime is compared as text, so a stamp that is no time would sort
// among the records wherever its digits put it.
bool isStampText(const char* text, std::size_t length)
{
    static const char pattern[] = "dddd-dd-dd dd:dd:dd";
    if (length != sizeof pattern - 1)
        return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (pattern[i] == 'd' ? !isAsciiDigit(text[i]) : text[i] != pattern[i])
            return false;
    }
    const int year = digitsAt(text, 4);
    const int month = digitsAt(text + 5, 2);
    const int day = digitsAt(text + 8, 2);
    return year >= 1 && month >= 1 && month <= 12 && day >= 1 && day <= daysInMonth(year, month)
        && digitsAt(text + 11, 2) <= 23 && digitsAt(text + 14, 2) <= 59 && digitsAt(text + 17, 2) <= 59;
}

// A UTC offset as version 3 writes it: "+hhmm" or "-hhmm" (at most 18
// hours, as ISO 8601 allows), or "?" when it is not known.
bool parseOffset(const char* text, std::size_t length, long& offset)
{
    if (length == 1 && text[0] == '?') {
        offset = kUnknownStampOffset;
        return true;
    }
    if (length != 5 || (text[0] != '+' && text[0] != '-'))
        return false;
    for (std::size_t i = 1; i < length; ++i)
        if (!isAsciiDigit(text[i]))
            return false;
    const int hours = digitsAt(text + 1, 2);
    const int minutes = digitsAt(text + 3, 2);
    if (hours > 18 || minutes > 59 || (hours == 18 && minutes > 0))
        return false;
    offset = (text[0] == '-' ? -1L : 1L) * (hours * 3600L + minutes * 60L);
    return true;
}

// The offset field of a row: "?" for an unknown one or one that is not a
// whole minute (no zone in use today has one).
void appendOffset(std::string& out, long offset)
{
    if (offset == kUnknownStampOffset || offset % 60 != 0 || offset > 18 * 3600L || offset < -18 * 3600L) {
        out += '?';
        return;
    }
    const long minutes = offset < 0 ? -offset / 60 : offset / 60;
    char text[32]; // room the compiler can see for any long, though the range above keeps it to 5
    std::snprintf(text, sizeof text, "%c%02ld%02ld", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    out += text;
}

} // namespace

SideFileReader::~SideFileReader()
{
    close();
}

bool SideFileReader::open(const std::string& path)
{
    close();
    m_file = std::fopen(path.c_str(), "rb");
    if (!m_file)
        return false;
    std::string header;
    if (readLine(header)) {
        if (header == kHeaderV1)
            m_version = 1;
        else if (header == kHeaderV2)
            m_version = 2;
        else if (header == kHeaderV3)
            m_version = 3;
    }
    m_firstRow = std::ftell(m_file);
    if (std::fseek(m_file, 0, SEEK_END) == 0)
        m_size = std::ftell(m_file);
    if (m_version == 0 || m_firstRow < 0 || m_size < m_firstRow || std::fseek(m_file, m_firstRow, SEEK_SET) != 0) {
        close();
        return false;
    }
    return true;
}

void SideFileReader::close()
{
    if (m_file)
        std::fclose(m_file);
    m_file = nullptr;
    m_version = 0;
    m_size = -1;
    m_rows = 0;
    m_ended = false;
    std::string().swap(m_text);
}

bool SideFileReader::rewind()
{
    m_rows = 0;
    m_ended = false;
    return m_file && std::fseek(m_file, m_firstRow, SEEK_SET) == 0;
}

bool SideFileReader::readLine(std::string& line)
{
    // Room for the longest line allowed, its line feed and the NUL.
    char buffer[kMaxHeaderLine + 2];
    if (!std::fgets(buffer, sizeof buffer, m_file))
        return false;
    const std::size_t length = std::strlen(buffer);
    // A NUL inside the line, a line too long, or the file's end before a
    // line feed: not a line of this format.
    if (length == 0 || buffer[length - 1] != '\n')
        return false;
    line.assign(buffer, length - 1);
    return true;
}

bool SideFileReader::validate()
{
    if (!rewind())
        return false;
    tag_MsgItem row;
    Step step = Step::Row;
    while ((step = readStep(row, false)) == Step::Row) {
    }
    const bool good = step == Step::End;
    return rewind() && good;
}

SideFileReader::Step SideFileReader::readRowHeader(const std::string& line, tag_MsgItem& row, std::int64_t& length)
{
    const char* const begin = line.data();
    const char* const end = begin + line.size();
    // The last two fields are the type and the length; what stands before
    // them is the time: a second (version 1) or a stamp text (version 2).
    const char* lengthAt = end;
    while (lengthAt > begin && lengthAt[-1] != ' ')
        --lengthAt;
    if (lengthAt == begin)
        return Step::Bad;
    const char* typeAt = lengthAt - 1;
    while (typeAt > begin && typeAt[-1] != ' ')
        --typeAt;
    if (typeAt == begin)
        return Step::Bad;
    const char* const timeEnd = typeAt - 1;
    std::int64_t type = 0;
    if (!parseNumber(typeAt, lengthAt - 1, type) || !parseNumber(lengthAt, end, length))
        return Step::Bad;
    if (type < INT32_MIN || type > INT32_MAX || length < 0 || length > kMaxTextBytes)
        return Step::Bad;
    row.type = int(type);
    if (m_version == 1) {
        std::int64_t second = 0;
        if (!parseNumber(begin, timeEnd, second) || second < 0 || second > kLastSecond)
            return Step::Bad;
        row.loggedAt = std::time_t(second);
        row.stamp.clear();
    } else if (m_version == 2) {
        if (!isStampText(begin, std::size_t(timeEnd - begin)))
            return Step::Bad;
        row.stamp = QByteArray(begin, int(timeEnd - begin));
        row.stampOffset = kUnknownStampOffset;
        row.loggedAt = 0;
    } else {
        // "<stamp> <offset>"
        const std::size_t timeLength = std::size_t(timeEnd - begin);
        if (timeLength <= std::size_t(kLocalTimeTextLength) + 1 || !isStampText(begin, kLocalTimeTextLength)
            || begin[kLocalTimeTextLength] != ' '
            || !parseOffset(begin + kLocalTimeTextLength + 1, timeLength - kLocalTimeTextLength - 1, row.stampOffset))
            return Step::Bad;
        row.stamp = QByteArray(begin, kLocalTimeTextLength);
        row.loggedAt = 0;
    }
    return Step::Row;
}

SideFileReader::Step SideFileReader::next(tag_MsgItem& row)
{
    return readStep(row, true);
}

SideFileReader::Step SideFileReader::readStep(tag_MsgItem& row, bool decodeText)
{
    if (!m_file)
        return Step::Bad;
    if (m_ended)
        return Step::End;
    std::string line;
    if (!readLine(line))
        return Step::Bad;
    if (line.compare(0, 4, "end ") == 0) {
        std::int64_t count = 0;
        if (!parseNumber(line.data() + 4, line.data() + line.size(), count) || count < 0
            || std::uint64_t(count) != m_rows || std::fgetc(m_file) != EOF)
            return Step::Bad;
        m_ended = true;
        return Step::End;
    }
    std::int64_t length = 0;
    if (readRowHeader(line, row, length) != Step::Row)
        return Step::Bad;
    // Never more memory than the file has bytes left.
    const long at = std::ftell(m_file);
    if (at < 0 || length + 1 > std::int64_t(m_size) - at)
        return Step::Bad;
    m_text.resize(std::size_t(length) + 1);
    if (std::fread(&m_text[0], 1, m_text.size(), m_file) != m_text.size() || m_text.back() != '\n')
        return Step::Bad;
    if (decodeText)
        row.message = QString::fromUtf8(m_text.data(), int(length));
    ++m_rows;
    return Step::Row;
}

namespace {

// Appends one row: its stamp text and UTC offset, type and length, then its text.
void appendRow(std::string& out, const tag_MsgItem& row, LocalTimeText& stamps)
{
    const QByteArray text = row.message.toUtf8();
    if (row.stamp.size() == kLocalTimeTextLength) {
        out.append(row.stamp.constData(), kLocalTimeTextLength);
        out += ' ';
        appendOffset(out, row.stampOffset);
    } else {
        out.append(stamps.of(row.loggedAt), kLocalTimeTextLength);
        out += ' ';
        appendOffset(out, stamps.offset());
    }
    char numbers[48];
    const int length = std::snprintf(numbers, sizeof numbers, " %d %d\n", row.type, int(text.size()));
    out.append(numbers, std::size_t(length));
    out.append(text.constData(), std::size_t(text.size()));
    out.push_back('\n');
}

std::string endLine(std::size_t rows)
{
    return "end " + std::to_string(rows) + '\n';
}

} // namespace

QByteArray SideFileReader::encode(const std::list<tag_MsgItem>& rows)
{
    std::string out = std::string(kHeaderV3) + '\n';
    LocalTimeText stamps;
    for (const tag_MsgItem& row : rows)
        appendRow(out, row, stamps);
    out += endLine(rows.size());
    return QByteArray(out.data(), int(out.size()));
}

bool SideFileReader::write(std::FILE* file, const std::list<tag_MsgItem>& rows)
{
    constexpr std::size_t kChunk = 1 << 20;
    std::string out = std::string(kHeaderV3) + '\n';
    out.reserve(kChunk + 8192);
    LocalTimeText stamps;
    for (const tag_MsgItem& row : rows) {
        appendRow(out, row, stamps);
        if (out.size() >= kChunk) {
            if (std::fwrite(out.data(), 1, out.size(), file) != out.size())
                return false;
            out.clear();
        }
    }
    out += endLine(rows.size());
    return std::fwrite(out.data(), 1, out.size(), file) == out.size();
}

} // namespace SystemLog
