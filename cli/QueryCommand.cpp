#include "Commands.h"

#include <vxSyslog/LogReader.h>

#include "CommandLine.h"
#include "ReaderOutput.h"
#include "StdoutWriter.h"

using namespace SystemLog;

int runQuery(const QStringList& arguments)
{
    CommandLine line(QStringLiteral("query"), QStringLiteral("按类型、时间和文本查询日志记录，结果写到标准输出。"));
    line.addDatabase();
    line.addTypes();
    line.addTimeSpan();
    line.addGrep();
    line.addLines(QStringLiteral("只输出最后 N 条匹配的记录（仍按时间顺序）。"));
    line.addReverse();
    line.addCount();
    line.addFormat();
    const int parsed = line.parse(arguments);
    if (parsed >= 0)
        return parsed;

    RecordFilter filter;
    RecordFormat format = RecordFormat::Text;
    int lines = -1;
    if (!line.filter(filter) || !line.format(format) || !line.lines(lines, -1))
        return kExitUsage;
    if (!line.noExtraArguments())
        return kExitUsage;
    filter.reverse = line.isSet(QStringLiteral("reverse"));

    LogReader reader(line.databasePath());
    if (!openOrReport(reader))
        return kExitFailure;

    if (line.isSet(QStringLiteral("count"))) {
        qint64 count = 0;
        if (lines == 0) {
            printOut(QStringLiteral("0\n"));
            return kExitSuccess;
        }
        if (!reader.count(filter, count)) {
            printError(reader.errorText());
            return kExitFailure;
        }
        if (lines > 0)
            count = qMin<qint64>(count, lines);
        printOut(QStringLiteral("%1\n").arg(count));
        return kExitSuccess;
    }

    StdoutWriter out;
    appendFormatHeader(format, out.buffer());
    if (lines == 0)
        return out.flush() ? kExitSuccess : kExitFailure;
    filter.last = qMax(lines, 0);
    const bool ok = reader.read(filter, [&out, format](const LogRecord& record) {
        appendRecord(format, record, out.buffer());
        return out.recordDone();
    });
    return finishRecordStream(ok, reader, out);
}
