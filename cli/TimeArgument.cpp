#include "TimeArgument.h"

#include <QRegularExpression>

#include <vxSyslog/RecordFilter.h>

namespace {

const QString kStoredForm = QStringLiteral("yyyy-MM-dd hh:mm:ss");

QString midnightOf(const QDate& day)
{
    return SystemLog::dayStart(day.toString(QStringLiteral("yyyy-MM-dd")));
}

QString relativeTime(const QString& text, const QDateTime& now)
{
    static const QRegularExpression relative(QStringLiteral("^-(\\d{1,9})(s|min|h|d)$"));
    const QRegularExpressionMatch match = relative.match(text);
    if (!match.hasMatch())
        return QString();
    const qint64 amount = match.captured(1).toLongLong();
    const QString unit = match.captured(2);
    qint64 seconds = amount;
    if (unit == QLatin1String("min"))
        seconds = amount * 60;
    else if (unit == QLatin1String("h"))
        seconds = amount * 3600;
    else if (unit == QLatin1String("d"))
        return now.addDays(-amount).toString(kStoredForm);
    return now.addSecs(-seconds).toString(kStoredForm);
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
    if (trimmed.startsWith(QLatin1Char('-')))
        return relativeTime(trimmed, now);
    for (const QString& form : {kStoredForm, QStringLiteral("yyyy-MM-dd hh:mm")}) {
        const QDateTime at = QDateTime::fromString(trimmed, form);
        if (at.isValid())
            return at.toString(kStoredForm);
    }
    const QString day = dayArgument(trimmed);
    return day.isNull() ? QString() : SystemLog::dayStart(day);
}
