#include "TimeArgument.h"

#include <QRegularExpression>


namespace {

const QString kStoredForm = QStringLiteral("yyyy-MM-dd hh:mm:ss");

// A time of the user's clock (UTC with --utc) in the stored local form.
QString stored(const QDateTime& at)
{
    return at.toLocalTime().toString(kStoredForm);
}

QDateTime inZone(const QDate& day, const QTime& time, bool utc)
{
    return QDateTime(day, time, utc ? Qt::UTC : Qt::LocalTime);
}

// Seconds per unit; days, weeks, months and years are counted in calendar
// days and months instead, so that "-1d" is the same time yesterday across a
// change to summer time and "-1M" the same day of the month before.
struct Unit
{
    qint64 seconds;
    int days;
    int months;
};

bool unitOf(const QString& name, Unit& unit)
{
    static const QRegularExpression seconds(QStringLiteral("^(s|sec|secs|second|seconds)$"));
    static const QRegularExpression minutes(QStringLiteral("^(m|min|mins|minute|minutes)$"));
    static const QRegularExpression hours(QStringLiteral("^(h|hr|hrs|hour|hours)$"));
    static const QRegularExpression days(QStringLiteral("^(d|day|days)$"));
    static const QRegularExpression weeks(QStringLiteral("^(w|week|weeks)$"));
    static const QRegularExpression months(QStringLiteral("^(M|month|months)$"));
    static const QRegularExpression years(QStringLiteral("^(y|year|years)$"));
    if (seconds.match(name).hasMatch())
        unit = {1, 0, 0};
    else if (minutes.match(name).hasMatch())
        unit = {60, 0, 0};
    else if (hours.match(name).hasMatch())
        unit = {3600, 0, 0};
    else if (days.match(name).hasMatch())
        unit = {0, 1, 0};
    else if (weeks.match(name).hasMatch())
        unit = {0, 7, 0};
    else if (months.match(name).hasMatch())
        unit = {0, 0, 1};
    else if (years.match(name).hasMatch())
        unit = {0, 0, 12};
    else
        return false;
    return true;
}

QString relativeTime(const QString& text, const QDateTime& now)
{
    static const QRegularExpression signedForm(QStringLiteral("^([-+]) *(\\d{1,9}) *([a-zA-Z]+)$"));
    static const QRegularExpression agoForm(QStringLiteral("^(\\d{1,9}) *([a-zA-Z]+) +ago$"));
    QRegularExpressionMatch match = signedForm.match(text);
    qint64 amount = 0;
    QString unitName;
    if (match.hasMatch()) {
        amount = match.captured(2).toLongLong() * (match.captured(1) == QLatin1String("-") ? -1 : 1);
        unitName = match.captured(3);
    } else if ((match = agoForm.match(text)).hasMatch()) {
        amount = -match.captured(1).toLongLong();
        unitName = match.captured(2);
    } else {
        return QString();
    }
    Unit unit{};
    if (!unitOf(unitName, unit))
        return QString();
    QDateTime at = now;
    if (unit.months > 0)
        at = now.addMonths(static_cast<int>(amount * unit.months));
    else if (unit.days > 0)
        at = now.addDays(amount * unit.days);
    else
        at = now.addSecs(amount * unit.seconds);
    return stored(at);
}

QString clockTimeToday(const QString& text, const QDateTime& now, bool utc)
{
    for (const QString& form : {QStringLiteral("h:mm:ss"), QStringLiteral("h:mm")}) {
        const QTime time = QTime::fromString(text, form);
        if (time.isValid())
            return stored(inZone(now.date(), time, utc));
    }
    return QString();
}

QString epochTime(const QString& text)
{
    static const QRegularExpression epochForm(QStringLiteral("^@(\\d{1,11})$"));
    const QRegularExpressionMatch match = epochForm.match(text);
    return match.hasMatch() ? stored(QDateTime::fromSecsSinceEpoch(match.captured(1).toLongLong())) : QString();
}

// A date and time, with a blank or a "T" between them; ISO 8601 with a zone.
QString dateTime(const QString& text, bool utc)
{
    static const QRegularExpression withZone(QStringLiteral("T.*(Z|[+-]\\d\\d:?\\d\\d)$"));
    if (withZone.match(text).hasMatch()) {
        const QDateTime at = QDateTime::fromString(text, Qt::ISODate);
        return at.isValid() ? stored(at) : QString();
    }
    for (const char* form : {"yyyy-MM-dd hh:mm:ss", "yyyy-MM-dd hh:mm", "yyyy-MM-ddThh:mm:ss", "yyyy-MM-ddThh:mm"}) {
        QDateTime at = QDateTime::fromString(text, QLatin1String(form));
        if (at.isValid())
            return stored(inZone(at.date(), at.time(), utc));
    }
    return QString();
}

} // namespace

QString dayArgument(const QString& text, const QDateTime& localNow, bool utc)
{
    const QString trimmed = text.trimmed();
    const QDate today = (utc ? localNow.toUTC() : localNow).date();
    QDate day = QDate::fromString(trimmed, QStringLiteral("yyyy-MM-dd"));
    if (trimmed == QLatin1String("today"))
        day = today;
    else if (trimmed == QLatin1String("yesterday"))
        day = today.addDays(-1);
    else if (trimmed == QLatin1String("tomorrow"))
        day = today.addDays(1);
    return day.isValid() ? day.toString(QStringLiteral("yyyy-MM-dd")) : QString();
}

QString dayBound(const QString& day, bool end, bool utc)
{
    const QDate date = QDate::fromString(day, QStringLiteral("yyyy-MM-dd"));
    return stored(inZone(date, end ? QTime(23, 59, 59) : QTime(0, 0), utc));
}

QString timeArgument(const QString& text, const QDateTime& localNow, bool utc)
{
    const QDateTime now = utc ? localNow.toUTC() : localNow;
    const QString trimmed = text.trimmed();
    if (trimmed == QLatin1String("now"))
        return stored(now);
    if (trimmed == QLatin1String("today"))
        return stored(inZone(now.date(), QTime(0, 0), utc));
    if (trimmed == QLatin1String("yesterday"))
        return stored(inZone(now.date().addDays(-1), QTime(0, 0), utc));
    if (trimmed == QLatin1String("tomorrow"))
        return stored(inZone(now.date().addDays(1), QTime(0, 0), utc));
    for (const QString& found : {relativeTime(trimmed, now), clockTimeToday(trimmed, now, utc), epochTime(trimmed),
                                 dateTime(trimmed, utc)}) {
        if (!found.isNull())
            return found;
    }
    const QString day = dayArgument(trimmed, localNow, utc);
    return day.isNull() ? QString() : dayBound(day, false, utc);
}

QString timeArgumentForms()
{
    return QStringLiteral("时间可写作 \"yyyy-MM-dd hh:mm:ss\"、\"yyyy-MM-dd hh:mm\"、\"yyyy-MM-dd\"（当天零点）、"
                          "\"hh:mm[:ss]\"（今天的这个时刻）、now、today、yesterday、tomorrow（后三个为零点），"
                          "\"2026-12-09T08:30:00\"（日期与时间之间也可写 T；带时区如 Z、+08:00 时按该时区），"
                          "@1733700000（1970-01-01 UTC 起的秒数），"
                          "或相对现在的时间：-30s、-5m、-2h、-3d、-1w、-1M（月）、-1y、+1h、\"5 min ago\"、\"2 months ago\""
                          "（单位 s、m、h、d、w、M、y，也可写英文单词如 min、hours、months）。加 --utc 时，没有时区的时间按 UTC 理解。"
                          "例：-S @1733700000、-S 2026-12-09T08:30:00、-S -3M。");
}
