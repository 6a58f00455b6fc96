#pragma once

#include <QPair>
#include <QString>

namespace SystemLog {

// One record as the operator reads it, in the result pane and in the export
// file alike: the time stamp and a colon on one line, the message below.
// Joined rather than substituted, so that a '%' in either text stays as it is.
inline QString recordBlock(const QPair<QString, QString>& record)
{
    return record.first + QStringLiteral(":\n") + record.second;
}

} // namespace SystemLog
