#pragma once

#include <QByteArray>

#include <vxSyslog/RecordFormat.h>

namespace SystemLog {

// A stored time stamp ("yyyy-MM-dd hh:mm:ss", the machine's local time) as a
// format shows it. Converting asks the time zone rules, so each thread keeps
// the last second it converted: records come in runs of the same second.
// A stamp that is not in the stored form (a row written by other means) is
// shown as it is, without a zone.
class ShownTime
{
public:
    // "yyyy-MM-dd hh:mm:ss" in `zone`.
    static QByteArray plain(const QByteArray& stored, TimeZoneShown zone);
    // RFC 3339 with the offset: "yyyy-MM-ddThh:mm:ss+08:00".
    static QByteArray iso(const QByteArray& stored, TimeZoneShown zone);
    // An offset from UTC in seconds as RFC 3339 writes it: "+08:00".
    static QByteArray offsetText(int seconds);
};

} // namespace SystemLog
