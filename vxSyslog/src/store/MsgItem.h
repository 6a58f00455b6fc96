#pragma once

#include <QByteArray>
#include <QString>

#include <climits>
#include <ctime>
#include <utility>

namespace SystemLog {

// A stamp text whose zone nobody recorded (side files of the earlier formats).
constexpr long kUnknownStampOffset = LONG_MIN;

// One queued log line: its text (decoded from UTF-8), its record type, which
// is stored unchanged into the type column, and the second it was logged,
// which becomes the row's datetime however long the line waits. A line made
// without a time is stamped when it is made. A line taken in from a side
// file may carry its stamp as text already (formatted in the zone of the
// program that logged it, whose UTC offset, when known, is stampOffset);
// then that text is the row's datetime.
struct tag_MsgItem
{
    tag_MsgItem() = default;
    tag_MsgItem(QString text, int recordType, std::time_t at = std::time(nullptr), QByteArray stampText = {},
                long stampUtcOffset = kUnknownStampOffset)
        : message(std::move(text)), type(recordType), loggedAt(at), stamp(std::move(stampText)), stampOffset(stampUtcOffset)
    {
    }

    QString message;
    int type = 4;
    std::time_t loggedAt = std::time(nullptr);
    QByteArray stamp;                        // empty, or "yyyy-MM-dd hh:mm:ss"
    long stampOffset = kUnknownStampOffset;  // seconds east of UTC the stamp text was formatted in
};

} // namespace SystemLog
