#pragma once

#include <ctime>

namespace SystemLog {

// The local time of `when` as the log stores it, "yyyy-MM-dd hh:mm:ss"
// (19 characters and a NUL), written into `text`. Plain C library calls only,
// so that it works on any thread and still while the process exits, after
// Qt's global objects may be gone.
constexpr int kLocalTimeTextLength = 19;
void formatLocalTime(std::time_t when, char (&text)[32]);

// Formats a run of stamps in time order cheaply: a second already formatted
// is not formatted again.
class LocalTimeText
{
public:
    const char* of(std::time_t when)
    {
        if (when != m_second || !m_valid) {
            formatLocalTime(when, m_text);
            m_second = when;
            m_valid = true;
        }
        return m_text;
    }

private:
    std::time_t m_second = 0;
    bool m_valid = false;
    char m_text[32] = {};
};

} // namespace SystemLog
