#pragma once

#include <QByteArray>
#include <QString>

#include <vxSyslog/vxSyslogExport.h>

namespace SystemLog {

// A stored text as every reader shows it: decoded as QString::fromUtf8
// decodes, each byte that does not begin a well-formed sequence (a stray
// continuation byte, a truncated, overlong or surrogate sequence, anything
// beyond U+10FFFF) read as one U+FFFD. Unlike fromUtf8 a leading byte-order
// mark is kept (U+FEFF), because it is part of what was stored. The viewer's
// pane, copy, find and export and vxlog's JSON all read texts this way, so
// that they agree character for character.
VXSYSLOG_EXPORT QString decodeUtf8(const char* text, int length);

// The length of decodeUtf8(text, length) in UTF-16 units, counted without
// decoding: a listing of millions of rows counts every block's length, and
// the pane relies on it being exactly the length of the text it reads later.
VXSYSLOG_EXPORT int utf16LengthOfUtf8(const char* text, int length);

// The byte-order mark in UTF-8.
constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

// What nextUtf8() gives for a byte that does not begin a well-formed
// sequence.
constexpr char32_t kMalformedUtf8 = 0xFFFFFFFF;

// The character of well-formed UTF-8 (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF) at p, p moved past it; for a byte that
// does not begin one, kMalformedUtf8 and p moved on by that one byte, as
// decodeUtf8() reads it as one U+FFFD. p < end.
inline char32_t nextUtf8(const unsigned char*& p, const unsigned char* end)
{
    const unsigned char c = *p;
    if (c < 0x80) {
        ++p;
        return c;
    }
    int more;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    char32_t value;
    if (c >= 0xC2 && c <= 0xDF) {
        more = 1;
        value = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        more = 2;
        value = c & 0x0F;
        if (c == 0xE0)
            low = 0xA0;
        else if (c == 0xED)
            high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        more = 3;
        value = c & 0x07;
        if (c == 0xF0)
            low = 0x90;
        else if (c == 0xF4)
            high = 0x8F;
    } else {
        ++p;
        return kMalformedUtf8;
    }
    if (end - p <= more || p[1] < low || p[1] > high) {
        ++p;
        return kMalformedUtf8;
    }
    for (int i = 1; i <= more; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            ++p;
            return kMalformedUtf8;
        }
        value = (value << 6) | (p[i] & 0x3F);
    }
    p += more + 1;
    return value;
}

// Whether `length` bytes are well-formed UTF-8, the test every place that
// must not pass raw bytes on (JSON output, the byte search of a grep) applies
// before trusting a stored text.
inline bool isValidUtf8(const char* text, int length)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    const auto* end = p + length;
    while (p < end) {
        if (nextUtf8(p, end) == kMalformedUtf8)
            return false;
    }
    return true;
}

// The bytes as they are when they are UTF-8; otherwise decoded the way the
// viewer decodes them (each invalid sequence a U+FFFD) and encoded again,
// for an output that promises UTF-8 (JSON, a CSV file with its BOM).
inline QByteArray validUtf8(const QByteArray& bytes)
{
    return isValidUtf8(bytes.constData(), bytes.size()) ? bytes : decodeUtf8(bytes.constData(), bytes.size()).toUtf8();
}

} // namespace SystemLog
