#include "format/ShownTime.h"

#include <QDateTime>

namespace SystemLog {

namespace {

struct Converted
{
    QByteArray stored;
    TimeZoneShown zone = TimeZoneShown::Local;
    bool valid = false;
    QByteArray plain;
    QByteArray iso;
};

const Converted& convert(const QByteArray& stored, TimeZoneShown zone)
{
    thread_local Converted last;
    if (last.valid && last.zone == zone && last.stored == stored)
        return last;
    // A deep copy: a reader's records refer to its row buffer, which the next row overwrites.
    last.stored = QByteArray(stored.constData(), stored.size());
    last.zone = zone;
    last.valid = true;
    QDateTime at = QDateTime::fromString(QString::fromLatin1(stored), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    if (stored.size() != 19 || !at.isValid()) {
        last.plain = stored;
        last.iso = stored;
        return last;
    }
    if (zone == TimeZoneShown::Utc)
        at = at.toUTC();
    last.plain = at.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toLatin1();
    last.iso = at.toString(QStringLiteral("yyyy-MM-ddThh:mm:ss")).toLatin1() + ShownTime::offsetText(at.offsetFromUtc());
    return last;
}

} // namespace

QByteArray ShownTime::plain(const QByteArray& stored, TimeZoneShown zone)
{
    return zone == TimeZoneShown::Local ? stored : convert(stored, zone).plain;
}

QByteArray ShownTime::iso(const QByteArray& stored, TimeZoneShown zone)
{
    return convert(stored, zone).iso;
}

QByteArray ShownTime::offsetText(int seconds)
{
    const char sign = seconds < 0 ? '-' : '+';
    const int minutes = qAbs(seconds) / 60;
    char text[8];
    const int length = qsnprintf(text, sizeof text, "%c%02d:%02d", sign, minutes / 60, minutes % 60);
    return QByteArray(text, length);
}

} // namespace SystemLog
