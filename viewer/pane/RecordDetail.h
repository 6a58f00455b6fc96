#pragma once

#include <QString>

#include <vector>

#include <vxSyslog/LogRecord.h>

// One listed record read whole for its detail, and for an alarm what
// happened on its machine in the minutes before it (AlarmContext), as the
// result pane's worker reads them.
struct RecordDetail
{
    int record = -1;          // its place in the pane
    bool found = false;       // false: no longer stored, or not read (error)
    SystemLog::LogRecord stored;
    bool alarm = false;
    int minutes = 0;          // the span before an alarm that was read
    std::vector<SystemLog::LogRecord> preceding;
    bool more = false;        // earlier records of the span left out
    QString error;
};
