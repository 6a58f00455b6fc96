#include <vxSyslog/LogStream.h>

#include "front/NumberText.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <system_error>
#include <type_traits>

namespace SystemLog {

template <typename T>
int toDecimal(char* buf, T value)
{
    T i = value;
    char* p = buf;
    // The remainder is negative for a negative value and kZero looks it up
    // either way, so there is no sign test inside the loop.
    do {
        int digit = static_cast<int>(i % 10);
        i /= 10;
        *p++ = kZero[digit];
    } while (i != 0);
    if constexpr (std::is_signed_v<T>) {
        if (value < 0)
            *p++ = '-';
    }
    *p = '\0';
    std::reverse(buf, p);
    return static_cast<int>(p - buf);
}

template int toDecimal(char* buf, int value);
template int toDecimal(char* buf, unsigned int value);
template int toDecimal(char* buf, long value);
template int toDecimal(char* buf, unsigned long value);
template int toDecimal(char* buf, long long value);
template int toDecimal(char* buf, unsigned long long value);

int toHex(char* buf, std::uintptr_t value)
{
    std::uintptr_t i = value;
    char* p = buf;
    do {
        int digit = static_cast<int>(i % 16);
        i /= 16;
        *p++ = kHexDigits[digit];
    } while (i != 0);
    *p = '\0';
    std::reverse(buf, p);
    return static_cast<int>(p - buf);
}

// ---- LineBuffer

template <int N>
void LineBuffer<N>::zeroFill()
{
    std::memset(data_, 0, sizeof data_);
}

template <int N>
const char* LineBuffer<N>::asCString()
{
    *pos_ = '\0';
    return data_;
}

template <int N>
std::string LineBuffer<N>::toString() const
{
    return std::string(data_, static_cast<size_t>(length()));
}

template <int N>
void LineBuffer<N>::markerStart()
{
}

template <int N>
void LineBuffer<N>::markerEnd()
{
}

template class LineBuffer<kLineCapacity>;
template class LineBuffer<kBulkCapacity>;

// ---- FormattedValue

template <typename T>
void FormattedValue::format(const char* pattern, T value)
{
    length_ = std::snprintf(buf_, sizeof buf_, pattern, value);
    assert(static_cast<size_t>(length_) < sizeof buf_
           && "static_cast<size_t>(length_) < sizeof buf_");
    // Without assertions a format that breaks the contract must still not
    // make a later append read past buf_: keep only what buf_ really holds.
    length_ = std::clamp(length_, 0, static_cast<int>(sizeof buf_) - 1);
}

// snprintf receives char and both shorts as int and float as double anyway;
// widening them here keeps the argument types the format expects explicit.
FormattedValue::FormattedValue(const char* f, char v) { format(f, static_cast<int>(v)); }
FormattedValue::FormattedValue(const char* f, short v) { format(f, static_cast<int>(v)); }
FormattedValue::FormattedValue(const char* f, unsigned short v) { format(f, static_cast<int>(v)); }
FormattedValue::FormattedValue(const char* f, int v) { format(f, v); }
FormattedValue::FormattedValue(const char* f, unsigned int v) { format(f, v); }
FormattedValue::FormattedValue(const char* f, long v) { format(f, v); }
FormattedValue::FormattedValue(const char* f, unsigned long v) { format(f, v); }
FormattedValue::FormattedValue(const char* f, long long v) { format(f, v); }
FormattedValue::FormattedValue(const char* f, unsigned long long v) { format(f, v); }
FormattedValue::FormattedValue(const char* f, float v) { format(f, static_cast<double>(v)); }
FormattedValue::FormattedValue(const char* f, double v) { format(f, v); }

// ---- LogStream

template <typename T>
void LogStream::appendInteger(T value)
{
    if (buffer_.available() >= kMaxNumberText)
        buffer_.advance(toDecimal(buffer_.current(), value));
}

LogStream& LogStream::operator<<(short value)
{
    return *this << static_cast<int>(value);
}

LogStream& LogStream::operator<<(unsigned short value)
{
    return *this << static_cast<unsigned int>(value);
}

LogStream& LogStream::operator<<(int value)
{
    appendInteger(value);
    return *this;
}

LogStream& LogStream::operator<<(unsigned int value)
{
    appendInteger(value);
    return *this;
}

LogStream& LogStream::operator<<(long value)
{
    appendInteger(value);
    return *this;
}

LogStream& LogStream::operator<<(unsigned long value)
{
    appendInteger(value);
    return *this;
}

LogStream& LogStream::operator<<(long long value)
{
    appendInteger(value);
    return *this;
}

LogStream& LogStream::operator<<(unsigned long long value)
{
    appendInteger(value);
    return *this;
}

LogStream& LogStream::operator<<(const void* pointer)
{
    if (buffer_.available() >= kMaxNumberText) {
        char* p = buffer_.current();
        p[0] = '0';
        p[1] = 'x';
        int digits = toHex(p + 2, reinterpret_cast<std::uintptr_t>(pointer));
        buffer_.advance(digits + 2);
    }
    return *this;
}

LogStream& LogStream::operator<<(double value)
{
    if (buffer_.available() >= kMaxNumberText) {
        // The standard defines this form of to_chars to give exactly the text
        // of printf's "%.12g"; glibc's snprintf is so much slower for it that
        // it would dominate a typical line (bench/README.md).
        char* out = buffer_.current();
        const std::to_chars_result result =
            std::to_chars(out, out + kMaxNumberText, value, std::chars_format::general, 12);
        if (result.ec == std::errc())
            buffer_.advance(static_cast<int>(result.ptr - out));
    }
    return *this;
}

LogStream& LogStream::operator<<(const char* text)
{
    if (!text)
        text = "(null)";
    size_t len = std::strlen(text);
    // A text longer than INT_MAX would turn into a negative or wrapped length
    // on the way to append; it cannot fit anyway.
    if (len < static_cast<size_t>(INT_MAX))
        buffer_.append(text, static_cast<int>(len));
    return *this;
}

LogStream& LogStream::operator<<(std::string_view text)
{
    if (text.size() < static_cast<size_t>(INT_MAX))
        buffer_.append(text.data(), static_cast<int>(text.size()));
    return *this;
}

LogStream& LogStream::operator<<(const QByteArray& text)
{
    buffer_.append(text.constData(), text.size());
    return *this;
}

namespace {

// UTF-16 to UTF-8, written straight into [out, out + room). Qt 5 offers no
// public encoder into a caller's memory, and QString::toUtf8's heap copy
// would cost more than the rest of a typical line. A lone surrogate becomes
// U+FFFD, as Qt's own encoder does. Returns the bytes written, or -1 when the
// text needs more than `room` (then nothing written counts).
int encodeUtf8(const QChar* in, int count, char* out, int room)
{
    char* p = out;
    char* const end = out + room;
    for (int i = 0; i < count; ++i) {
        char32_t c = in[i].unicode();
        if (c < 0x80) {
            if (p == end)
                return -1;
            *p++ = static_cast<char>(c);
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < count && in[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(static_cast<char16_t>(c), in[++i].unicode());
        } else if (QChar::isSurrogate(c)) {
            c = 0xFFFD;
        }
        const int bytes = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (end - p < bytes)
            return -1;
        switch (bytes) {
        case 2:
            *p++ = static_cast<char>(0xC0 | (c >> 6));
            break;
        case 3:
            *p++ = static_cast<char>(0xE0 | (c >> 12));
            *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            break;
        default:
            *p++ = static_cast<char>(0xF0 | (c >> 18));
            *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            break;
        }
        *p++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return static_cast<int>(p - out);
}

} // namespace

LogStream& LogStream::operator<<(const QString& text)
{
    // One byte stays free, as append keeps it: the piece must fit in
    // available() - 1 bytes.
    const int written = encodeUtf8(text.constData(), text.size(), buffer_.current(), buffer_.available() - 1);
    if (written > 0)
        buffer_.advance(written);
    return *this;
}

} // namespace SystemLog
