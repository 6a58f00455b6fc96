#pragma once

#include <QtGlobal>

namespace SystemLog {

// One listed record: its row id, the length of its block (listingBlock(),
// in UTF-16 code units), its type and whether it is a drop record.
struct ListedKey
{
    static constexpr int kOtherType = -1; // a stored type outside 0..4, or not an int
    qint64 id = 0;
    int blockLength = 0;
    int type = kOtherType;
    bool gap = false;
    // The machine's place in the listing's machines (LogSource); 0 for a
    // reader of one file.
    int machine = 0;
    // The stored time stamp's UTF-8 bytes, valid only during the sink's call.
    const char* datetime = nullptr;
    int datetimeLength = 0;
};

} // namespace SystemLog
