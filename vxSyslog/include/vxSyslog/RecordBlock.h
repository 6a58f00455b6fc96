#pragma once

#include <QPair>
#include <QString>

namespace SystemLog {

// One record as the operator reads it, in the result pane and in the export
// file alike: the time stamp and a colon on one line, the message below.
// Joined rather than substituted, so that a '%' in either text stays as it is.
// Public because a program that shows records as the viewer does (the viewer
// itself is such a user of the library) must render them exactly this way;
// RecordFormat's text form writes the same block from a LogRecord's bytes.
inline QString recordBlock(const QPair<QString, QString>& record)
{
    return record.first + QStringLiteral(":\n") + record.second;
}

} // namespace SystemLog
