#pragma once

#include <QVector>

#include <vector>

#include <vxSyslog/LogRecord.h>

// What happened on a machine before one of its alarms. "What changed before
// the alarm?" is an operator's first question: the parameter changes, the
// user actions and the status records of the minutes before it, on that
// machine.
namespace SystemLog {

class LogSource;

namespace AlarmContext {

constexpr int kAlarmType = 3;
constexpr int kDefaultMinutes = 10;
// The records listed at most, the nearest to the alarm.
constexpr int kMostRecords = 1000;

bool isAlarm(const LogRecord& record);

// Parameter changes, user actions, status records (0, 1, 2).
QVector<int> precedingTypes();

// The time stamp `minutes` before a stored one ("yyyy-MM-dd hh:mm:ss", wall
// clock, so that a day's change of clock never shifts it); a null text for
// one not in that form.
QString minutesBefore(const QByteArray& datetime, int minutes);

// The records of precedingTypes() on `machine` (its place in the source's
// machines) stamped from `minutes` before the alarm's time stamp up to it,
// both included, into `records` in time order, each carrying its
// machine's name. At most kMostRecords, the nearest to the alarm; `more`
// says that earlier ones were left out. An alarm without a time stamp of
// the stored form has none. False when the source (open) failed: its
// errorText() says why.
bool readPreceding(LogSource& source, int machine, const LogRecord& alarm, int minutes,
                   std::vector<LogRecord>& records, bool& more);

} // namespace AlarmContext
} // namespace SystemLog
