#pragma once

// Reading the writer's drop records (type 4) back: how many lines one says
// were given up.

#include <QRegularExpression>
#include <QString>

#include <cstdint>

inline std::uint64_t droppedIn(const QString& record)
{
    static const QRegularExpression count(
        QStringLiteral("已丢弃 (\\d+) 条记录（\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d 至 "));
    const QRegularExpressionMatch m = count.match(record);
    return m.hasMatch() ? m.captured(1).toULongLong() : 0;
}
