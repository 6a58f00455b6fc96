#include "Commands.h"

#include <vxSyslog/LogSource.h>

#include <chrono>
#include <memory>

#include "CommandLine.h"
#include "CursorFile.h"
#include "ReaderOutput.h"
#include "StdoutWriter.h"
#include "StopSignals.h"

using namespace SystemLog;

namespace {

// How often a tail that has caught up looks again, and how many records
// go out between two looks at the stop flag while it catches up.
constexpr auto kPollInterval = std::chrono::milliseconds(200);
constexpr int kBatch = 1000;

// Where the tail starts: after --after-id; after the cursor's id when the
// cursor file holds one; otherwise with the last `lines` records (-n all:
// every machine from its first). False after reporting a cursor file that
// cannot be read.
bool startTail(SourceTail& tail, int machines, CursorFile* cursor, int lines, qint64 afterId,
               const LogReader::RecordSink& write)
{
    if (afterId >= 0)
        return tail.startAfter({afterId});
    qint64 id = 0;
    switch (cursor ? cursor->read(id) : CursorFile::Read::Missing) {
    case CursorFile::Read::Found:
        return tail.startAfter({id});
    case CursorFile::Read::Failed:
        printError(cursor->errorText());
        return false;
    case CursorFile::Read::Missing:
        break;
    }
    if (lines < 0)
        return tail.startAfter(QVector<qint64>(machines, 0));
    return tail.start(lines, write);
}

// Keeps the cursor file at the last record written out. A failure is said
// once and tried again after the next batch; false while it lasts.
class CursorKeeper
{
public:
    explicit CursorKeeper(CursorFile* cursor)
        : m_cursor(cursor)
    {
    }

    bool store(qint64 position)
    {
        if (!m_cursor || position < 0 || position == m_stored)
            return true;
        if (!m_cursor->store(position)) {
            if (!m_failing)
                printError(m_cursor->errorText());
            m_failing = true;
            return false;
        }
        m_failing = false;
        m_stored = position;
        return true;
    }

private:
    CursorFile* m_cursor;
    qint64 m_stored = -1;
    bool m_failing = false;
};

} // namespace

int runFollow(const QStringList& arguments)
{
    CommandLine line(QStringLiteral("follow"),
                     QStringLiteral("先输出最后 N 条匹配的记录，再在新记录写入时立即输出（也包括其他程序写入的），"
                                    "直到按 Ctrl-C（SIGINT）或收到 SIGTERM，然后以状态 0 退出。"
                                    "记录按写入顺序输出，每条只输出一次。数据库被其他程序锁定时等待；"
                                    "文件被删除后重建、被替换、被截断或记录编号变小时，在标准错误上提示一次，"
                                    "然后从新文件的第一条记录继续。"));
    line.addSources();
    line.addTypes();
    line.addTimeSpan();
    line.addGrep();
    line.addLines(QStringLiteral("开始时先输出最后 N 条匹配的记录，默认 10；all 从第一条开始。"));
    line.addFormat();
    line.addValue(QStringLiteral("cursor-file"), QStringLiteral("文件"),
                  QStringLiteral("游标文件：文件中有记录编号时从它之后继续（不看 -n），没有这个文件时照常开始；"
                                 "每输出一批记录后把最后一条的编号原子地（先写新文件再改名）写入其中。"
                                 "注意：它记着的是写到标准输出的记录，不是读取方已处理的。输出接给管道时，"
                                 "管道中尚未被读取的记录已算写出，读取方不读完就退出，重启后这些记录不会再输出。"
                                 "读取方要不漏记录，应自己记下处理过的最后一条记录的编号（-o json 的 id 字段），"
                                 "重启时用 --after-id 给出。"));
    line.addAfterId(QStringLiteral("从记录编号大于 ID 的记录开始（不看 -n），如读取方自己记着的最后一条记录的编号。"
                                   "不能与 --cursor-file 同用。"));
    line.addReverse();
    const int parsed = line.parse(arguments);
    if (parsed >= 0)
        return parsed;
    if (line.isSet(QStringLiteral("reverse")))
        return line.usageError(reverseWithFollow());

    LogQuery filter;
    RecordFormat format = RecordFormat::Text;
    int lines = 10;
    qint64 afterId = -1;
    if (!line.filter(filter) || !line.format(format) || !line.lines(lines, 10) || !line.afterId(afterId))
        return kExitUsage;
    if (afterId >= 0 && line.isSet(QStringLiteral("cursor-file")))
        return line.usageError(QStringLiteral("--after-id 不能与 --cursor-file 同用"));
    if (!line.noExtraArguments())
        return kExitUsage;

    if (!line.isOneFile()) {
        if (line.isSet(QStringLiteral("cursor-file")))
            return line.usageError(QStringLiteral("--cursor-file 只能用于一个数据库文件"));
        if (afterId >= 0)
            return line.usageError(QStringLiteral("--after-id 只能用于一个数据库文件"));
    }
    const std::unique_ptr<LogSource> source = line.source();
    if (!source)
        return kExitUsage;
    if (!openOrReport(*source))
        return kExitFailure;
    const std::unique_ptr<SourceTail> tail = source->tail(filter, [&line](const QString& notice) { line.notice(notice); });
    tail->setStopCheck(stopRequested);
    installStopSignals();
    std::unique_ptr<CursorFile> cursor;
    if (line.isSet(QStringLiteral("cursor-file")))
        cursor = std::make_unique<CursorFile>(line.value(QStringLiteral("cursor-file")));
    CursorKeeper cursorKeeper(cursor.get());

    const RecordLabels labels = labelsFor(*source, filter);
    StdoutWriter out;
    appendFormatHeader(format, labels, out.buffer());
    const TimeZoneShown zone = line.zone();
    const auto write = [&out, format, &labels, zone](const LogRecord& record) {
        appendRecord(format, labels, record, out.buffer(), zone);
        return out.recordDone();
    };
    if (!startTail(*tail, source->machines().size(), cursor.get(), lines, afterId, write)) {
        out.flush();
        if (!source->problems().isEmpty())
            printError(source->problems().join(QLatin1Char('\n')));
        return kExitFailure;
    }
    while (!stopRequested()) {
        const int delivered = tail->fetch(kBatch, write);
        if (!out.flush()) {
            // A stop that cut the write short leaves the cursor at the last
            // batch written out whole.
            if (stopRequested())
                break;
            printError(out.errorText());
            return kExitFailure;
        }
        cursorKeeper.store(tail->positions().value(0, -1));
        if (delivered < kBatch)
            sleepUnlessStopped(kPollInterval);
    }
    return kExitSuccess;
}
