#include "TimeArgument.h"

#include <QRegularExpression>

#include <vxSyslog/RecordFilter.h>

namespace {

const QString kStoredForm = QStringLiteral("yyyy-MM-dd hh:mm:ss");

QString midnightOf(const QDate& day)
{
    return SystemLog::dayStart(day.toString(QStringLiteral("yyyy-MM-dd")));
}

// Seconds per unit; days and weeks are counted in calendar days instead, so
// that "-1d" is the same time yesterday across a change to summer time.
struct Unit
{
    qint64 seconds;
    int days;
};

bool unitOf(const QString& name, Unit& unit)
{
    static const QRegularExpression seconds(QStringLiteral("^(s|sec|secs|second|seconds)$"));
    static const QRegularExpression minutes(QStringLiteral("^(m|min|mins|minute|minutes)$"));
    static const QRegularExpression hours(QStringLiteral("^(h|hr|hrs|hour|hours)$"));
    static const QRegularExpression days(QStringLiteral("^(d|day|days)$"));
    static const QRegularExpression weeks(QStringLiteral("^(w|week|weeks)$"));
    if (seconds.match(name).hasMatch())
        unit = {1, 0};
    else if (minutes.match(name).hasMatch())
        unit = {60, 0};
    else if (hours.match(name).hasMatch())
        unit = {3600, 0};
    else if (days.match(name).hasMatch())
        unit = {0, 1};
    else if (weeks.match(name).hasMatch())
        unit = {0, 7};
    else
        return false;
    return true;
}

QString relativeTime(const QString& text, const QDateTime& now)
{
    static const QRegularExpression signedForm(QStringLiteral("^([-+]) *(\\d{1,9}) *([a-z]+)$"));
    static const QRegularExpression agoForm(QStringLiteral("^(\\d{1,9}) *([a-z]+) +ago$"));
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
    const QDateTime at = unit.days > 0 ? now.addDays(amount * unit.days) : now.addSecs(amount * unit.seconds);
    return at.toString(kStoredForm);
}

QString clockTimeToday(const QString& text, const QDateTime& now)
{
    for (const QString& form : {QStringLiteral("h:mm:ss"), QStringLiteral("h:mm")}) {
        const QTime time = QTime::fromString(text, form);
        if (time.isValid())
            return QDateTime(now.date(), time).toString(kStoredForm);
    }
    return QString();
}

} // namespace

QString dayArgument(const QString& text)
{
    const QDate day = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    return day.isValid() ? day.toString(QStringLiteral("yyyy-MM-dd")) : QString();
}

QString timeArgument(const QString& text, const QDateTime& now)
{
    const QString trimmed = text.trimmed();
    if (trimmed == QLatin1String("now"))
        return now.toString(kStoredForm);
    if (trimmed == QLatin1String("today"))
        return midnightOf(now.date());
    if (trimmed == QLatin1String("yesterday"))
        return midnightOf(now.date().addDays(-1));
    if (trimmed == QLatin1String("tomorrow"))
        return midnightOf(now.date().addDays(1));
    const QString relative = relativeTime(trimmed, now);
    if (!relative.isNull())
        return relative;
    const QString clock = clockTimeToday(trimmed, now);
    if (!clock.isNull())
        return clock;
    for (const QString& form : {kStoredForm, QStringLiteral("yyyy-MM-dd hh:mm")}) {
        const QDateTime at = QDateTime::fromString(trimmed, form);
        if (at.isValid())
            return at.toString(kStoredForm);
    }
    const QString day = dayArgument(trimmed);
    return day.isNull() ? QString() : SystemLog::dayStart(day);
}

QString timeArgumentForms()
{
    return QStringLiteral("时间可写作 \"yyyy-MM-dd hh:mm:ss\"、\"yyyy-MM-dd hh:mm\"、\"yyyy-MM-dd\"（当天零点）、"
                          "\"hh:mm[:ss]\"（今天的这个时刻）、now、today、yesterday、tomorrow（后三个为零点），"
                          "或相对现在的时间：-30s、-5m、-2h、-3d、-1w、+1h、\"5 min ago\"（单位 s、m、h、d、w，也可写英文单词如 min、hours）。");
}
