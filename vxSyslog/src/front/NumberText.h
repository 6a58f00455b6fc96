#pragma once

#include <cstdint>

#include <vxSyslog/LogStream.h>
#include <vxSyslog/vxSyslogExport.h>

// How LogStream turns numbers into text, and the buffer capacity kept for
// bulk text; private to the library (a white-box test checks them).

namespace SystemLog {

constexpr int kBulkCapacity = 4000 * 1000;     // kept for bulk text; nothing here holds one

// Centred on '0' so that kZero[d] is the digit for every remainder d in -9..9:
// negative values convert without being negated, so each type's minimum works.
inline constexpr char kDigits[] = "9876543210123456789";
inline constexpr const char* kZero = kDigits + 9;
inline constexpr char kHexDigits[] = "0123456789abcdef";

// Writes the decimal text of value and a NUL at buf; returns the characters
// written without the NUL (at most 20 digits and a sign). Instantiated for
// int, unsigned int, long, unsigned long, long long and unsigned long long.
template <typename T>
int toDecimal(char* buf, T value);

extern template int toDecimal(char* buf, int value);
extern template int toDecimal(char* buf, unsigned int value);
extern template int toDecimal(char* buf, long value);
extern template int toDecimal(char* buf, unsigned long value);
extern template int toDecimal(char* buf, long long value);
extern template int toDecimal(char* buf, unsigned long long value);

// Lower-case hexadecimal without leading zeros and without "0x", then a NUL.
int toHex(char* buf, std::uintptr_t value);

extern template class LineBuffer<kBulkCapacity>;

} // namespace SystemLog
