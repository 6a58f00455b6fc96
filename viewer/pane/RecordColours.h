#pragma once

#include <QColor>

// The colours that tell listed records apart at a glance: a stripe at each
// block's start in its type's colour, a tinted background for alarms among
// other types and for drop records (gaps). Saturated enough to be read on the default light
// palette and on a dark one; the text itself keeps the palette's colour.
namespace RecordColours {

// Type code 0..4; any other code gets a neutral grey.
inline QColor typeColour(int type)
{
    switch (type) {
    case 0: return QColor(0x1e, 0x6f, 0xd9);  // 参数修改记录: blue
    case 1: return QColor(0x2e, 0x9d, 0x4a);  // 用户使用记录: green
    case 2: return QColor(0x6d, 0x7b, 0x8a);  // 系统状态记录: slate
    case 3: return QColor(0xd3, 0x2f, 0x2f);  // 报警记录: red
    case 4: return QColor(0x8e, 0x44, 0xad);  // 其他信息: purple
    default: return QColor(0x9e, 0x9e, 0x9e);
    }
}

inline QColor gapColour()
{
    return QColor(0xe6, 0x95, 0x00);
}

// The background of a block, transparent for most types.
inline QColor backgroundOf(int type, bool gap)
{
    if (gap)
        return QColor(0xff, 0xb3, 0x00, 48);
    if (type == 3)
        return QColor(0xd3, 0x2f, 0x2f, 32);
    return Qt::transparent;
}

} // namespace RecordColours
