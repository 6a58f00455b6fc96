#include <vxSyslog/ListingBlock.h>

#include <QLocale>
#include <QRegularExpression>

namespace SystemLog {

namespace {

const char* const kGapPrefixes[kGapMessagePrefixCount] = {"日志过多：已丢弃", "日志写入失败"};

} // namespace

const char* gapMessagePrefix(int index)
{
    return kGapPrefixes[index];
}

bool isGapMessage(const char* utf8, int length)
{
    for (const char* prefix : kGapPrefixes) {
        const int size = int(qstrlen(prefix));
        if (length >= size && memcmp(utf8, prefix, std::size_t(size)) == 0)
            return true;
    }
    return false;
}

bool isGapMessage(const QString& message)
{
    const QByteArray utf8 = message.left(16).toUtf8();
    return isGapMessage(utf8.constData(), utf8.size());
}

QString groupedCount(qint64 count)
{
    static const QLocale grouping(QLocale::English, QLocale::UnitedStates);
    return grouping.toString(count);
}

QString countText(qint64 records, qint64 gaps)
{
    const QString shown = QStringLiteral("%1 条").arg(groupedCount(records));
    return gaps > 0 ? shown + QStringLiteral(" · %1 处空缺").arg(groupedCount(gaps)) : shown;
}

// The writer's texts: "日志过多：已丢弃 N 条记录（…）" and
// "日志写入失败（原因）：已丢弃 N 条记录（…）". A text of another shape
// (an older writer's) is shown whole after the headline.
QString gapText(const QString& message)
{
    static const QRegularExpression shape(QStringLiteral("^(?:日志过多|日志写入失败（(.*)）)：已丢弃 (\\d+) 条记录(.*)$"),
                                          QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = shape.match(message);
    if (!match.hasMatch())
        return QStringLiteral("此期间有日志未能写入：%1").arg(message);
    const QString reason = match.capturedLength(1) > 0 ? match.captured(1) : QStringLiteral("日志过多");
    return QStringLiteral("此期间有 %1 条日志未能写入：%2%3")
        .arg(groupedCount(match.captured(2).toLongLong()), reason, match.captured(3).trimmed());
}

QString listingBlock(const QString& datetime, bool namesType, const QString& typeName, const QString& message, bool gap,
                     const QString& machine)
{
    QString block = datetime;
    if (!machine.isEmpty())
        block += QLatin1Char(' ') + machine;
    if (namesType)
        block += QStringLiteral(" [") + typeName + QLatin1Char(']');
    block += QStringLiteral(":\n");
    block += gap ? gapText(message) : message;
    return block;
}

} // namespace SystemLog
