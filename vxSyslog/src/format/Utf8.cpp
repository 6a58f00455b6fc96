#include "format/Utf8.h"

#include <cstring>

namespace SystemLog {

namespace {

bool startsWithByteOrderMark(const unsigned char* p, const unsigned char* end)
{
    return end - p >= 3 && std::memcmp(p, kUtf8ByteOrderMark, 3) == 0;
}

// The UTF-16 units of the sequence at p, and its length in bytes, as Qt's
// decoder reads it: a malformed sequence is its first byte alone, one U+FFFD.
int unitsOfSequence(const unsigned char* p, const unsigned char* end, int& bytes)
{
    bytes = 1;
    const unsigned char lead = *p;
    if (lead < 0x80)
        return 1;
    int more;
    quint32 least;
    quint32 c;
    if (lead <= 0xC1 || lead >= 0xF5)
        return 1;
    if (lead < 0xE0) {
        more = 1;
        least = 0x80;
        c = lead & 0x1F;
    } else if (lead < 0xF0) {
        more = 2;
        least = 0x800;
        c = lead & 0x0F;
    } else {
        more = 3;
        least = 0x10000;
        c = lead & 0x07;
    }
    if (end - p <= more)
        return 1;
    for (int i = 1; i <= more; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 1;
        c = (c << 6) | (p[i] & 0x3F);
    }
    if (c < least || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
        return 1;
    bytes = more + 1;
    return c > 0xFFFF ? 2 : 1;
}

} // namespace

QString decodeUtf8(const char* text, int length)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const auto* end = p + length;
    // fromUtf8 drops a byte-order mark at the start: it is put back here.
    QString marks;
    while (startsWithByteOrderMark(p, end)) {
        marks += QChar(0xFEFF);
        p += 3;
    }
    const QString rest = QString::fromUtf8(reinterpret_cast<const char*>(p), int(end - p));
    return marks.isEmpty() ? rest : marks + rest;
}

int utf16LengthOfUtf8(const char* text, int length)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const auto* end = p + length;
    int units = 0;
    while (p != end) {
        if (*p < 0x80) {
            ++units;
            ++p;
            continue;
        }
        int bytes = 1;
        units += unitsOfSequence(p, end, bytes);
        p += bytes;
    }
    return units;
}

} // namespace SystemLog
