#pragma once

namespace SystemLog {

// A digit of a stored or written text: ASCII only, whatever the locale.
inline bool isAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace SystemLog
