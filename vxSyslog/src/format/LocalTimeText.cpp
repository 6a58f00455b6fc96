#include "format/LocalTimeText.h"

#include <cassert>
#include <cstdio>
#include <cstring>

namespace SystemLog {

void formatLocalTime(std::time_t when, char (&text)[32])
{
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    const int len = std::snprintf(text, sizeof text, "%4d-%02d-%02d %02d:%02d:%02d",
                                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                  local.tm_hour, local.tm_min, local.tm_sec);
    assert(len == kLocalTimeTextLength && "len == 19");
    // Only a year outside 1000..9999 gets here; the text must still be 19
    // well-formed characters when assertions are compiled out.
    if (len != kLocalTimeTextLength)
        std::memcpy(text, "0000-00-00 00:00:00", kLocalTimeTextLength + 1);
}

} // namespace SystemLog
