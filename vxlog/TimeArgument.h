#pragma once

#include <QDateTime>
#include <QString>

// The time texts vxlog accepts for --since and --until, turned into the
// stored form "yyyy-MM-dd hh:mm:ss" (local time, like the rows):
// - "yyyy-MM-dd hh:mm:ss", "yyyy-MM-dd hh:mm", "yyyy-MM-dd" (midnight), the
//   same with a "T" between date and time, and ISO 8601 with a zone
//   ("2026-12-09T08:30:00Z", "…+08:00");
// - "hh:mm" or "hh:mm:ss": that time today;
// - "now", "today", "yesterday", "tomorrow" (the last three at midnight);
// - "@1733700000": seconds since 1970-01-01 00:00:00 UTC;
// - relative to `now`, the journal tool's way: "-30s", "-5m", "-5min",
//   "-2h", "-3d", "-1w", "-1M" or "-2months", "-1y", "+1h", "5 min ago",
//   "2 hours ago" (units s, m, h, d, w, M, y and their English words, in
//   lower case; days, months and years are calendar ones).
// With `utc` the texts without a zone of their own are UTC times (the
// journal tool's --utc); the result is still the stored local form.
// Returns a null text when `text` is none of these.
QString timeArgument(const QString& text, const QDateTime& now, bool utc = false);

// The forms above, in the words of vxlog's help.
QString timeArgumentForms();

// "yyyy-MM-dd" as a real calendar day, or "today", "yesterday" or
// "tomorrow" as the day they name at `now` (with `utc`, the UTC day), in
// that form; a null text for anything else.
QString dayArgument(const QString& text, const QDateTime& now, bool utc = false);

// The first or last second of `day` ("yyyy-MM-dd") in the stored local form;
// with `utc` the day is a UTC one.
QString dayBound(const QString& day, bool end, bool utc);
