#include "format/LocalTimeText.h"

#include <cassert>
#include <cstdio>
#include <cstring>

namespace SystemLog {

namespace {

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
long long daysFromCivil(long long year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<long long>(dayOfEra) - 719468;
}

} // namespace

void formatLocalTime(std::time_t when, char (&text)[32], long& utcOffsetSeconds)
{
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    // The broken-down local time read as if it were UTC, minus the instant:
    // the zone's offset, without relying on tm_gmtoff (not everywhere).
    const long long asUtc = daysFromCivil(local.tm_year + 1900LL, unsigned(local.tm_mon + 1), unsigned(local.tm_mday)) * 86400
        + local.tm_hour * 3600LL + local.tm_min * 60LL + local.tm_sec;
    utcOffsetSeconds = static_cast<long>(asUtc - static_cast<long long>(when));
    const int len = std::snprintf(text, sizeof text, "%4d-%02d-%02d %02d:%02d:%02d",
                                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                  local.tm_hour, local.tm_min, local.tm_sec);
    assert(len == kLocalTimeTextLength && "len == 19");
    // Only a year outside 1000..9999 gets here; the text must still be 19
    // well-formed characters when assertions are compiled out.
    if (len != kLocalTimeTextLength)
        std::memcpy(text, "0000-00-00 00:00:00", kLocalTimeTextLength + 1);
}

void formatLocalTime(std::time_t when, char (&text)[32])
{
    long offset = 0;
    formatLocalTime(when, text, offset);
}

} // namespace SystemLog
