#pragma once

#include <QDateTime>
#include <QString>

// The time texts vxlog accepts for --since and --until, turned into the
// stored form "yyyy-MM-dd hh:mm:ss" (local time, like the rows):
// "yyyy-MM-dd hh:mm:ss", "yyyy-MM-dd hh:mm", "yyyy-MM-dd" (midnight),
// "now", "today", "yesterday", "tomorrow" (midnight), and a time relative to
// `now` such as "-30s", "-30min", "-2h", "-7d".
// Returns a null text when `text` is none of these.
QString timeArgument(const QString& text, const QDateTime& now);

// "yyyy-MM-dd" as a real calendar day, or a null text.
QString dayArgument(const QString& text);
