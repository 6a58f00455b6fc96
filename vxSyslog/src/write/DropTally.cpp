#include "write/DropTally.h"

#include <vxSyslog/DatabaseFailure.h>

#include <algorithm>
#include <cstring>

#include "format/LocalTimeText.h"

namespace SystemLog {

QString dropReasonText(DropReason reason)
{
    switch (reason) {
    case DropReason::QueueFull:
        return QStringLiteral("日志过多");
    case DropReason::DiskFull:
        return failureKindText(FailureKind::DiskFull);
    case DropReason::Locked:
        return QStringLiteral("数据库被其他程序锁定");
    case DropReason::IoError:
        return QStringLiteral("磁盘读写错误");
    case DropReason::Unwritable:
        return QStringLiteral("数据库文件无法打开或只读");
    case DropReason::Refused:
        return QStringLiteral("文件不是日志数据库");
    case DropReason::Other:
        break;
    }
    return failureKindText(FailureKind::Other);
}

void DropTally::addSpan(std::uint64_t lines, std::time_t from, std::time_t to)
{
    if (lines == 0)
        return;
    if (count == 0) {
        first = from;
        last = to;
    } else {
        first = std::min(first, from);
        last = std::max(last, to);
    }
    count += lines;
}

void DropTally::merge(const DropTally& other)
{
    if (other.empty())
        return;
    if (empty())
        reason = other.reason;
    addSpan(other.count, other.first, other.last);
}

namespace {

// "（2026-12-08 10:00:01 至 10:00:05）"; the end carries its date too when
// the span crosses midnight. Formatted without Qt's locale machinery, since
// the last drop record may be made while the process exits.
QString spanText(const DropTally& tally)
{
    char from[32];
    char to[32];
    formatLocalTime(tally.first, from);
    formatLocalTime(tally.last, to);
    const bool sameDay = std::strncmp(from, to, 10) == 0;
    return QStringLiteral("（%1 至 %2）")
        .arg(QString::fromLatin1(from), QString::fromLatin1(sameDay ? to + 11 : to));
}

} // namespace

QString dropRecordText(const DropTally& tally)
{
    const QString head = tally.reason == DropReason::QueueFull
        ? QStringLiteral("日志过多：")
        : QStringLiteral("日志写入失败（%1）：").arg(dropReasonText(tally.reason));
    return head + QStringLiteral("已丢弃 %1 条记录%2\n").arg(tally.count).arg(spanText(tally));
}

} // namespace SystemLog
