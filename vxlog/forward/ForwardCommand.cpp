#include "Commands.h"

#include <QDir>

#include <csignal>
#include <memory>

#include <vxSyslog/LogReader.h>
#include <vxSyslog/LogTail.h>

#include "CommandLine.h"
#include "CursorFile.h"
#include "ForwardOptions.h"
#include "Forwarder.h"
#include "RelpClient.h"
#include "StdoutWriter.h"
#include "StopSignals.h"

namespace {

const QString kSpeaker = QStringLiteral("vxlog forward");

// Failures and notices alike start with the command's name.
void reportFailure(const QString& text)
{
    printError(QStringLiteral("%1：%2").arg(kSpeaker, text));
}

// The cursor mark of the record with `id`; empty when there is none. False
// when the log cannot be read.
bool markOfRecord(SystemLog::LogReader& reader, qint64 id, QByteArray& mark)
{
    mark.clear();
    SystemLog::LogQuery one;
    one.order = SystemLog::LogQuery::Order::Arrival;
    one.afterId = id - 1;
    one.upToId = id;
    return id <= 0 || reader.read(one, [&mark](const SystemLog::LogRecord& record) {
        mark = CursorFile::markOf(QByteArray(record.datetime.constData(), record.datetime.size()),
                                  QByteArray(record.message.constData(), record.message.size()));
        return false;
    });
}

// Whether the cursor's id belongs to the log `reader` reads: the record with
// that id is there with the time and message the mark names (any record,
// for a cursor without a mark), or it was deleted while later ids remain.
// `why` says how it does not belong; false with `failed` when the log
// cannot be read.
bool belongsToLog(SystemLog::LogReader& reader, qint64 id, const QByteArray& mark, QString& why, bool& failed)
{
    QByteArray markHere;
    qint64 last = 0;
    failed = !markOfRecord(reader, id, markHere) || !reader.lastId(last);
    if (failed)
        return false;
    if (!markHere.isEmpty() && !mark.isEmpty() && mark != markHere)
        why = QStringLiteral("此日志中记录 %1 的时间或内容与游标记着的不同").arg(id);
    else if (markHere.isEmpty() && last < id)
        why = last == 0 ? QStringLiteral("此日志中没有记录") : QStringLiteral("此日志的记录编号只到 %1").arg(last);
    return why.isEmpty();
}

// Where forwarding starts: after the cursor's id when it belongs to this
// log; at its first record (of --since) when it belongs to another one;
// without a cursor at the first record of --since, or after the records
// already there. A cursor file that does not exist yet, or that belongs to
// another log, is written at once, so that a run killed before its first
// window still resumes where this one started.
bool startingPoint(const ForwardOptions& options, CursorFile* cursor, qint64& start)
{
    SystemLog::LogReader reader(options.databasePath);
    if (!reader.open()) {
        reportFailure(reader.errorText());
        return false;
    }
    if (cursor) {
        QByteArray mark;
        switch (cursor->read(start, mark)) {
        case CursorFile::Read::Found: {
            QString why;
            bool failed = false;
            if (belongsToLog(reader, start, mark, why, failed))
                return true;
            if (failed) {
                reportFailure(reader.errorText());
                return false;
            }
            if (!options.quiet)
                reportFailure(QStringLiteral("游标文件 %1 记着的记录 %2 不属于日志 %3（%4，日志被替换过）：从%5开始转发")
                                  .arg(QDir::toNativeSeparators(cursor->path()))
                                  .arg(start)
                                  .arg(QDir::toNativeSeparators(options.databasePath), why,
                                       options.sinceGiven ? QStringLiteral(" --since 给出的时间") : QStringLiteral("它的第一条记录")));
            start = 0;
            if (!cursor->store(start)) {
                reportFailure(cursor->errorText());
                return false;
            }
            return true;
        }
        case CursorFile::Read::Failed:
            reportFailure(cursor->errorText());
            return false;
        case CursorFile::Read::Missing:
            break;
        }
    }
    start = 0;
    QByteArray mark;
    if (!options.sinceGiven && !(reader.lastId(start) && markOfRecord(reader, start, mark))) {
        reportFailure(reader.errorText());
        return false;
    }
    if (cursor && !cursor->store(start, mark)) {
        reportFailure(cursor->errorText());
        return false;
    }
    return true;
}

} // namespace

int runForward(const QStringList& arguments)
{
    ForwardOptions options;
    const int parsed = parseForwardOptions(arguments, options);
    if (parsed >= 0)
        return parsed;
    // From here on a stop request ends the run cleanly, also before the
    // first connection.
    installStopSignals();
    // A receiver that goes away mid-write must not end the process.
    std::signal(SIGPIPE, SIG_IGN);

    const bool quiet = options.quiet;
    SystemLog::LogTail tail(options.databasePath, options.filter, [quiet](const QString& notice) {
        if (!quiet)
            reportFailure(notice);
    });
    tail.setStopCheck(stopRequested);
    if (!tail.open()) {
        reportFailure(tail.errorText());
        return kExitFailure;
    }
    std::unique_ptr<CursorFile> cursor;
    if (!options.cursorPath.isEmpty())
        cursor = std::make_unique<CursorFile>(options.cursorPath);
    qint64 start = 0;
    if (!startingPoint(options, cursor.get(), start))
        return kExitFailure;

    RelpClient client(options.receiver);
    client.setAbortFlag(immediateStopFlag());
    Forwarder forwarder(tail, client, options.format, options.receiverName, cursor.get());
    forwarder.setQuiet(options.quiet);
    return forwarder.run(start);
}
