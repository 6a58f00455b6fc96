#pragma once

#include <ctime>

#include <vxSyslog/vxSyslogExport.h>

namespace SystemLog {

// The local time of `when` as the log stores it, "yyyy-MM-dd hh:mm:ss"
// (19 characters and a NUL), written into `text`. Plain C library calls only,
// so that it works on any thread and still while the process exits, after
// Qt's global objects may be gone.
constexpr int kLocalTimeTextLength = 19;
VXSYSLOG_EXPORT void formatLocalTime(std::time_t when, char (&text)[32]);
// The same, and the offset from UTC (seconds east) that the text was
// formatted in, so that whoever reads the stamp later can tell the zone
// (QDBSqlite records it beside the rows).
VXSYSLOG_EXPORT void formatLocalTime(std::time_t when, char (&text)[32], long& utcOffsetSeconds);

// Formats a run of stamps in time order cheaply: a second already formatted
// is not formatted again.
class LocalTimeText
{
public:
    const char* of(std::time_t when)
    {
        if (when != m_second || !m_valid) {
            formatLocalTime(when, m_text, m_offset);
            m_second = when;
            m_valid = true;
        }
        return m_text;
    }
    // The UTC offset of the text of() returned last.
    long offset() const { return m_offset; }

private:
    std::time_t m_second = 0;
    bool m_valid = false;
    long m_offset = 0;
    char m_text[32] = {};
};

} // namespace SystemLog
