#pragma once

#include <QDateTime>
#include <QString>

// The time texts vxlog accepts for --since and --until, turned into the
// stored form "yyyy-MM-dd hh:mm:ss" (local time, like the rows):
// - "yyyy-MM-dd hh:mm:ss", "yyyy-MM-dd hh:mm", "yyyy-MM-dd" (midnight);
// - "hh:mm" or "hh:mm:ss": that time today;
// - "now", "today", "yesterday", "tomorrow" (the last three at midnight);
// - relative to `now`, the journal tool's way: "-30s", "-5m", "-5min",
//   "-2h", "-3d", "-1w", "+1h", "5 min ago", "2 hours ago" (units s, m, h,
//   d, w and their English words, in lower case).
// Returns a null text when `text` is none of these.
QString timeArgument(const QString& text, const QDateTime& now);

// The forms above, in the words of vxlog's help.
QString timeArgumentForms();

// "yyyy-MM-dd" as a real calendar day, or a null text.
QString dayArgument(const QString& text);
