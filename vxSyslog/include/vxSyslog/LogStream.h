#pragma once

#include <cassert>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include <vxSyslog/vxSyslogExport.h>

class QByteArray;
class QString;

// The formatting layer of the logging front end. A LogStream lives inside one
// log statement and turns every value into text in place, inside a buffer that
// is part of the stream object, so that building a line never touches the heap.
// Nothing here reports an error: a piece that does not fit is dropped whole.

namespace SystemLog {

constexpr int kLineCapacity = 4000;            // the buffer inside every LogStream
constexpr int kMaxNumberText = 32;             // free bytes a stream wants before it formats a number

// A fixed-capacity text buffer. It never holds more than N - 1 bytes, so that
// asCString always has room for its terminator. Instances refer into
// themselves and are therefore neither copied nor moved.
template <int N>
class LineBuffer
{
public:
    LineBuffer() : marker_(markerStart), pos_(data_) {}
    ~LineBuffer() { marker_ = markerEnd; }

    LineBuffer(const LineBuffer&) = delete;
    LineBuffer& operator=(const LineBuffer&) = delete;

    // Takes the piece only when it fits with a byte to spare; otherwise the
    // buffer stays as it is and a later, shorter piece may still fit.
    void append(const char* buf, int len)
    {
        if (len > 0 && available() > len) {
            std::memcpy(pos_, buf, static_cast<size_t>(len));
            pos_ += len;
        }
    }

    const char* data() const { return data_; }
    int length() const { return static_cast<int>(pos_ - data_); }
    int available() const { return static_cast<int>(end() - pos_); }

    // For formatting in place: the caller writes at current(), staying within
    // available(), and then advances over what it wrote.
    char* current() { return pos_; }
    void advance(int len) { pos_ += len; }

    void reset() { pos_ = data_; }
    void zeroFill();
    const char* asCString();
    std::string toString() const;

    // marker_ is never called: it lets a core dump tell a live buffer from a
    // destroyed one, and the capacity of either.
    void setMarker(void (*marker)()) { marker_ = marker; }

private:
    const char* end() const { return data_ + N; }

    static void markerStart();
    static void markerEnd();

    void (*marker_)();
    char data_[N];
    char* pos_;
};

extern template class VXSYSLOG_EXPORT LineBuffer<kLineCapacity>;

// A text piece whose length the caller already knows, so that appending it
// needs no strlen.
class VXSYSLOG_EXPORT SizedText
{
public:
    SizedText(const char* str, int len) : text_(str), len_(len)
    {
        assert(std::strlen(str) == static_cast<size_t>(len_) && "strlen(str) == len_");
    }

    const char* text() const { return text_; }
    int length() const { return len_; }

private:
    const char* text_;
    int len_;
};

// One number formatted with the caller's printf-style format, for a line that
// wants a fixed form: VXLOG_STATUS << FormattedValue("%6.2f", load). The format
// must produce at most 31 characters for the value given.
class VXSYSLOG_EXPORT FormattedValue
{
public:
    FormattedValue(const char* format, char value);
    FormattedValue(const char* format, short value);
    FormattedValue(const char* format, unsigned short value);
    FormattedValue(const char* format, int value);
    FormattedValue(const char* format, unsigned int value);
    FormattedValue(const char* format, long value);
    FormattedValue(const char* format, unsigned long value);
    FormattedValue(const char* format, long long value);
    FormattedValue(const char* format, unsigned long long value);
    FormattedValue(const char* format, float value);
    FormattedValue(const char* format, double value);

    const char* data() const { return buf_; }
    int length() const { return length_; }

private:
    template <typename T>
    void format(const char* pattern, T value);

    char buf_[32];
    int length_;
};

class VXSYSLOG_EXPORT LogStream
{
public:
    using Buffer = LineBuffer<kLineCapacity>;

    LogStream& operator<<(short value);
    LogStream& operator<<(unsigned short value);
    LogStream& operator<<(int value);
    LogStream& operator<<(unsigned int value);
    LogStream& operator<<(long value);
    LogStream& operator<<(unsigned long value);
    LogStream& operator<<(long long value);
    LogStream& operator<<(unsigned long long value);
    LogStream& operator<<(const void* pointer);
    LogStream& operator<<(double value);

    LogStream& operator<<(char c)
    {
        buffer_.append(&c, 1);
        return *this;
    }

    // A null pointer appends "(null)": a log statement must not bring the
    // process down because a text it reports happens to be missing.
    LogStream& operator<<(const char* text);

    LogStream& operator<<(const SizedText& text)
    {
        buffer_.append(text.text(), text.length());
        return *this;
    }

    LogStream& operator<<(const FormattedValue& value)
    {
        buffer_.append(value.data(), value.length());
        return *this;
    }

    // Text pieces, taken as UTF-8 (a QString is encoded to UTF-8 straight
    // into the line, without a temporary); each is dropped whole when it does
    // not fit, like every other piece.
    LogStream& operator<<(std::string_view text);
    LogStream& operator<<(const std::string& text) { return *this << std::string_view(text); }
    LogStream& operator<<(const QByteArray& text);
    LogStream& operator<<(const QString& text);

    const Buffer& buffer() const { return buffer_; }

private:
    template <typename T>
    void appendInteger(T value);

    Buffer buffer_;
};

} // namespace SystemLog
