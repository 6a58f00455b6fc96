#include "Commands.h"

#include <vxSyslog/LogSource.h>

#include "CommandLine.h"
#include "ReaderOutput.h"
#include "StdoutWriter.h"

using namespace SystemLog;

namespace {

// query -f is follow with the same options, as journalctl -f is.
int followInstead(const CommandLine& line, const QStringList& arguments)
{
    if (line.isSet(QStringLiteral("reverse")))
        return line.usageError(reverseWithFollow());
    if (line.isSet(QStringLiteral("count")))
        return line.usageError(QStringLiteral("--follow 不能与 --count 同用"));
    QStringList rest = arguments;
    rest.removeAll(QStringLiteral("-f"));
    rest.removeAll(QStringLiteral("--follow"));
    return runFollow(rest);
}

int printCount(LogSource& source, const LogQuery& filter, int lines)
{
    qint64 count = 0;
    const bool ok = lines == 0 || source.count(filter, count);
    if (lines >= 0)
        count = qMin<qint64>(count, lines);
    StdoutWriter out;
    if (ok)
        out.buffer() += QByteArray::number(count) + '\n';
    return finishRecordStream(ok, source, out);
}

} // namespace

int runQuery(const QStringList& arguments)
{
    CommandLine line(QStringLiteral("query"), QStringLiteral("按类型、时间和文本查询日志记录，结果写到标准输出。"));
    line.addSources();
    line.addTypes();
    line.addTimeSpan();
    line.addGrep();
    line.addLines(QStringLiteral("只输出最后 N 条匹配的记录（仍按时间顺序）。"));
    line.addAfterId(QStringLiteral("只输出记录编号大于 ID 的记录（json 输出的 id 字段、csv 的 id 列）。"));
    line.addJumpToEnd();
    line.addReverse();
    line.addCount();
    line.addFollow();
    line.addFormat();
    const int parsed = line.parse(arguments);
    if (parsed >= 0)
        return parsed;
    if (line.isSet(QStringLiteral("follow")))
        return followInstead(line, arguments);

    LogQuery filter;
    RecordFormat format = RecordFormat::Text;
    int lines = -1;
    qint64 afterId = -1;
    if (!line.filter(filter) || !line.format(format) || !line.lines(lines, -1) || !line.afterId(afterId))
        return kExitUsage;
    filter.afterId = qMax<qint64>(afterId, 0);
    if (!line.noExtraArguments())
        return kExitUsage;
    filter.newestFirst = line.isSet(QStringLiteral("reverse"));

    const std::unique_ptr<LogSource> source = line.source();
    if (!source)
        return kExitUsage;
    if (!openOrReport(*source))
        return kExitFailure;
    if (line.isSet(QStringLiteral("count")))
        return printCount(*source, filter, lines);

    const RecordLabels labels = labelsFor(*source, filter);
    StdoutWriter out;
    appendFormatHeader(format, labels, out.buffer());
    if (lines == 0)
        return finishRecordStream(true, *source, out);
    filter.last = qMax(lines, 0);
    const TimeZoneShown zone = line.zone();
    const bool ok = source->read(filter, [&out, format, &labels, zone](const LogRecord& record) {
        appendRecord(format, labels, record, out.buffer(), zone);
        return out.recordDone();
    });
    return finishRecordStream(ok, *source, out);
}
