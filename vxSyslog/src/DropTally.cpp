#include "DropTally.h"

#include <QDateTime>

#include <algorithm>

namespace SystemLog {

void DropTally::add(std::uint64_t lines, std::time_t when)
{
    if (lines == 0)
        return;
    if (count == 0)
        first = when;
    last = std::max(last, when);
    count += lines;
}

void DropTally::merge(const DropTally& other)
{
    if (other.empty())
        return;
    if (empty()) {
        *this = other;
        return;
    }
    first = std::min(first, other.first);
    last = std::max(last, other.last);
    count += other.count;
}

namespace {

// "（2026-12-08 10:00:01 至 10:00:05）"; the end carries its date too when
// the span crosses midnight.
QString spanText(const DropTally& tally)
{
    const QDateTime from = QDateTime::fromSecsSinceEpoch(tally.first);
    const QDateTime to = QDateTime::fromSecsSinceEpoch(tally.last);
    const QString toFormat = from.date() == to.date() ? QStringLiteral("hh:mm:ss") : QStringLiteral("yyyy-MM-dd hh:mm:ss");
    return QStringLiteral("（%1 至 %2）")
        .arg(from.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), to.toString(toFormat));
}

// Drop records end with a line feed like every line LogLine finishes.
QString droppedText(const DropTally& tally)
{
    return QStringLiteral("已丢弃 %1 条记录%2\n").arg(tally.count).arg(spanText(tally));
}

} // namespace

QString overflowRecordText(const DropTally& tally)
{
    return QStringLiteral("日志过多：") + droppedText(tally);
}

QString writeFailureRecordText(const DropTally& tally, FailureKind kind)
{
    return QStringLiteral("日志写入失败（%1）：").arg(failureKindText(kind)) + droppedText(tally);
}

} // namespace SystemLog
