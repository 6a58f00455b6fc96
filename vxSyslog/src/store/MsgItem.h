#pragma once

#include <QString>

#include <ctime>

namespace SystemLog {

// One queued log line: its text (decoded from UTF-8), its record type, which
// is stored unchanged into the type column, and the second it was logged,
// which becomes the row's datetime however long the line waits. A line made
// without a time is stamped when it is made.
struct tag_MsgItem
{
    QString message;
    int type;
    std::time_t loggedAt = std::time(nullptr);
};

} // namespace SystemLog
