#include "Commands.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <cerrno>

#include <vxSyslog/DatabaseFailure.h>
#include <vxSyslog/DayExport.h>
#include <vxSyslog/LogSource.h>

#include "CommandLine.h"
#include "ReaderOutput.h"
#include "StdoutWriter.h"
#include "TimeArgument.h"

using namespace SystemLog;

namespace {

// Why the listing could not be read: each file that could not, named.
QString failureOf(const LogSource& source)
{
    return source.problems().isEmpty() ? source.errorText() : source.problems().join(QLatin1Char('\n'));
}

// The folder and any missing folders above it, as mkdir -p makes them.
bool makeFolder(const QString& folder)
{
    errno = 0;
    if (QDir().mkpath(folder))
        return true;
    const int error = errno;
    QString reason = error != 0 ? chineseSystemError(error) : QString();
    for (QFileInfo above(QFileInfo(folder).absoluteFilePath()); !above.isRoot(); above = QFileInfo(above.absolutePath())) {
        if (above.exists() && !above.isDir()) {
            reason = QStringLiteral("“%1”已存在，但不是文件夹").arg(QDir::toNativeSeparators(above.filePath()));
            break;
        }
    }
    printError(QStringLiteral("无法创建导出文件夹 %1：%2")
                   .arg(QDir::toNativeSeparators(folder), reason.isEmpty() ? QStringLiteral("未知原因") : reason));
    return false;
}

} // namespace

int runExport(const QStringList& arguments)
{
    CommandLine line(QStringLiteral("export"),
                     QStringLiteral("把某一天某一类型的记录导出为文本文件，与查看器的“导出”写出完全相同的文件"
                                    "（同名、同内容，包含 00:00:00 与 23:59:59 两端，也包含这一天说明日志未能写入的记录，"
                                    "即查看器列出的空缺）；文件路径写到标准输出。"
                                    "这一天没有这种记录时不写文件，在标准错误上说明，以状态 0 退出。"));
    line.addSources();
    line.addValue(QStringLiteral("day"), QStringLiteral("日期"),
                  QStringLiteral("要导出的日期（yyyy-MM-dd，或 today、yesterday），必填。"));
    line.addSingleType(QStringLiteral("要导出的记录类型（一种，代码或名称），必填。"));
    line.addValue(QStringLiteral("dir"), QStringLiteral("文件夹"),
                  QStringLiteral("导出文件所在的文件夹，必填；不存在时会被创建（连同上层文件夹）。"));
    const int parsed = line.parse(arguments);
    if (parsed >= 0)
        return parsed;

    for (const char* required : {"day", "type", "dir"}) {
        if (!line.isSet(QLatin1String(required)))
            return line.usageError(QStringLiteral("缺少 --%1").arg(QLatin1String(required)));
    }
    const QString day = dayArgument(line.value(QStringLiteral("day")), QDateTime::currentDateTime());
    if (day.isNull())
        return line.usageError(QStringLiteral("--day 需要 yyyy-MM-dd 形式的日期（或 today、yesterday），而不是“%1”")
                                   .arg(line.value(QStringLiteral("day"))));
    int type = 0;
    if (!line.singleType(type))
        return kExitUsage;
    if (!line.noExtraArguments())
        return kExitUsage;

    const std::unique_ptr<LogSource> source = line.source();
    if (!source)
        return kExitUsage;
    // An export of several machines is made of all of them or not at all.
    LogQuery query = DayExport::dayListing(day, {type});
    DayExport::Count count;
    if (!source->open() || !source->problems().isEmpty() || !DayExport::fixAndCount(*source, query, count)
        || !source->problems().isEmpty()) {
        printError(DayExport::queryFailedText(day, failureOf(*source)));
        return kExitFailure;
    }
    if (count.blocks == 0) {
        line.notice(DayExport::noRecordsText(day));
        return kExitSuccess;
    }

    const QString folder = line.value(QStringLiteral("dir"));
    if (!makeFolder(folder))
        return kExitFailure;
    const QString path = DayExport::filePath(folder, day);
    DayExport::Outcome outcome = DayExport::writeListing(path, *source, query);
    if (outcome.status == DayExport::Status::ReadFailed)
        outcome.reason = failureOf(*source);
    if (outcome.status != DayExport::Status::Written) {
        outcome.reason = chineseSystemError(outcome.reason);
        printError(DayExport::outcomeText(outcome, path));
        return kExitFailure;
    }
    return printResult(path + QLatin1Char('\n'));
}
