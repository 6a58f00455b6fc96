#pragma once

#include <QString>

namespace SystemLog {

// The first and the last time stamp text of a calendar day "yyyy-MM-dd", the
// bounds of every day query, both included.
inline QString dayStart(const QString& day)
{
    return day + QStringLiteral(" 00:00:00");
}

inline QString dayEnd(const QString& day)
{
    return day + QStringLiteral(" 23:59:59");
}

} // namespace SystemLog
