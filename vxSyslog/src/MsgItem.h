#pragma once

#include <QString>

namespace SystemLog {

// One queued log line: its text (decoded from UTF-8) and its record type,
// which is stored unchanged into the type column.
struct tag_MsgItem
{
    QString message;
    int type;
};

} // namespace SystemLog
