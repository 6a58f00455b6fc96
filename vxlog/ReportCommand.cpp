#include "Commands.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>

#include <limits>

#include <vxSyslog/AlarmReport.h>
#include <vxSyslog/LogSource.h>

#include "CommandLine.h"
#include "ReaderOutput.h"
#include "StdoutWriter.h"
#include "TimeArgument.h"

using namespace SystemLog;

namespace {

constexpr int kDefaultDays = 30;

enum class ReportFormat { Text, Json, Html };

bool reportFormat(const CommandLine& line, ReportFormat& format)
{
    const QString name = line.value(QStringLiteral("output"));
    if (name == QLatin1String("text"))
        format = ReportFormat::Text;
    else if (name == QLatin1String("json"))
        format = ReportFormat::Json;
    else if (name == QLatin1String("html"))
        format = ReportFormat::Html;
    else {
        line.usageError(QStringLiteral("未知的报表格式“%1”，可用 text、json、html").arg(name));
        return false;
    }
    return true;
}

// Without --day, --since or --until: the last 30 days, today included.
void defaultPeriod(const CommandLine& line, LogQuery& filter)
{
    if (!filter.since.isEmpty() || !filter.until.isEmpty())
        return;
    const QDate today = line.utc() ? QDateTime::currentDateTimeUtc().date() : QDate::currentDate();
    filter.since = dayBound(today.addDays(1 - kDefaultDays).toString(QStringLiteral("yyyy-MM-dd")), false, line.utc());
}

QString sourceName(const CommandLine& line)
{
    QStringList names;
    for (const QString& location : line.databaseLocations())
        names << (LogSource::isDatabaseUrl(location) ? location : QDir::toNativeSeparators(location));
    QString name = names.join(QStringLiteral("、"));
    const QStringList hosts = line.values(QStringLiteral("host"));
    if (!hosts.isEmpty())
        name += QStringLiteral("（机器：%1）").arg(hosts.join(QStringLiteral("、")));
    return name;
}

} // namespace

int runReport(const QStringList& arguments)
{
    CommandLine line(QStringLiteral("report"),
                     QStringLiteral("报警统计：所选时间段（默认最近 30 天，含今天）内报警记录的指标，每项与参考值"
                                    "（ISA-18.2 / IEC 62682、EEMUA 191）并列，超出时标出：每十分钟和每天的平均报警数、"
                                    "一个十分钟时段内最多的报警数、超过 10 条的十分钟时段占比、报警泛滥（连续的十分钟时段，"
                                    "每段超过 10 条）、最常见的报警文本及前 10 种的占比、抖动报警（同一文本 60 秒内出现 3 次以上），"
                                    "以及各类型的记录数、每天和一天中每小时的报警数；读多台机器时还有各机器的指标。"
                                    "同一报警指同一文本。十分钟时段按时钟对齐（hh:00、hh:10…）。"
                                    "需要报警状态或优先级的指标（长期报警、优先级分布、确认时间）日志中没有，报表中说明。"));
    line.addSources();
    line.addTypes(QStringLiteral("alarm"));
    line.addTimeSpan();
    line.addGrep();
    line.addLines(QStringLiteral("列出最常见的 N 种报警文本和 N 种抖动报警（默认 10）。"));
    line.addOption(QCommandLineOption(QStringLiteral("merge-numbers"),
                                      QStringLiteral("合并数字：只有数字不同的文本（报警号、测量值）算作同一报警，显示其中一条。")));
    line.addOption(QCommandLineOption({QStringLiteral("o"), QStringLiteral("output"), QStringLiteral("format")},
                                      QStringLiteral("报表格式：text（中文，列对齐，默认）；json（一个对象，键 total、per_type、per_day、"
                                                     "per_hour、avg_10min、max_10min、share_over_10、floods、top、top10_share、"
                                                     "chattering、machines 等）；html（一个独立的可打印网页，图表为内嵌 SVG）。"
                                                     "例：vxlog report -o html > 报警统计.html"),
                                      QStringLiteral("格式"), QStringLiteral("text")));
    const int parsed = line.parse(arguments);
    if (parsed >= 0)
        return parsed;

    LogQuery filter;
    ReportFormat format = ReportFormat::Text;
    int top = 10;
    if (!line.filter(filter) || !reportFormat(line, format) || !line.lines(top, 10) || !line.noExtraArguments())
        return kExitUsage;
    defaultPeriod(line, filter);

    AlarmReport::Request request;
    request.types = filter.types;
    request.since = filter.since;
    request.until = filter.until;
    request.grep = filter.grep;
    request.ignoreCase = filter.ignoreCase;
    request.mergeNumbers = line.isSet(QStringLiteral("merge-numbers"));
    request.top = top < 0 ? std::numeric_limits<int>::max() : top;

    const std::unique_ptr<LogSource> source = line.source();
    if (!source)
        return kExitUsage;
    if (!openOrReport(*source))
        return kExitFailure;
    AlarmReport report;
    QString error;
    StdoutWriter out;
    const bool ok = computeAlarmReport(*source, request, report, error);
    if (ok) {
        const QString name = sourceName(line);
        out.buffer() += format == ReportFormat::Json   ? alarmReportJson(report, name)
                        : format == ReportFormat::Html ? alarmReportHtml(report, name)
                                                       : alarmReportText(report, name);
    } else if (source->problems().isEmpty()) {
        printError(error);
    }
    return finishRecordStream(ok, *source, out);
}
