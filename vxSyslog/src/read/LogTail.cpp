#include <vxSyslog/LogTail.h>

#include <QDir>

#include "store/FileIdentity.h"

namespace SystemLog {

namespace {

LogQuery newestFirst()
{
    LogQuery filter;
    filter.order = LogQuery::Order::Arrival;
    filter.newestFirst = true;
    return filter;
}

} // namespace

struct LogTail::Private
{
    // The newest row of the whole table, whatever the filter: what the next
    // fetch checks the file against.
    struct Newest
    {
        qint64 id = 0;
        QByteArray datetime;
        QByteArray message;

        bool isSameRowAs(const LogRecord& record) const
        {
            return record.id == id && record.datetime == datetime && record.message == message;
        }
    };

    static Newest newestOf(const LogRecord& record)
    {
        return {record.id, QByteArray(record.datetime.constData(), record.datetime.size()),
                QByteArray(record.message.constData(), record.message.size())};
    }

    enum class Seek { None, End, Last };

    QString path;
    LogQuery filter;
    NoticeSink notices;
    std::function<bool()> stopCheck;
    std::unique_ptr<LogReader> reader;
    QString error;

    FileIdentity file;  // the file the position belongs to
    Newest seen;        // the newest row at the last fetch
    qint64 position = 0;
    Seek seek = Seek::None;
    int seekCount = 0;

    QString waitNotice;             // the trouble last told, until a fetch gets through
    bool restartAnnounced = false;  // that notice already said the tail starts over
    int startsOver = 0;

    QString name() const { return QDir::toNativeSeparators(path); }
    bool stopRequested() const { return stopCheck && stopCheck(); }

    void say(const QString& notice)
    {
        if (notices)
            notices(notice);
    }

    void wait(const QString& notice, bool startsOver)
    {
        if (notice != waitNotice)
            say(notice);
        waitNotice = notice;
        restartAnnounced = restartAnnounced || startsOver;
    }

    void startOver(const QString& notice)
    {
        if (!restartAnnounced)
            say(notice);
        restartAnnounced = true;
        position = 0;
        seen = Newest();
        ++startsOver;
    }

    void settled()
    {
        waitNotice.clear();
        restartAnnounced = false;
    }

    // A failed reader call: a trouble to wait out. Nothing is told when the
    // stop check ended it.
    void waitAfterFailure()
    {
        const FailureKind kind = reader->failureKind();
        switch (kind) {
        case FailureKind::Interrupted:
            return;
        case FailureKind::Locked:
            wait(QStringLiteral("日志数据库 %1 被其他程序锁定，等它解锁后继续跟踪").arg(name()), false);
            return;
        case FailureKind::Missing:
        case FailureKind::NotADatabase:
        case FailureKind::NotALogDatabase:
            reader.reset();
            wait(QStringLiteral("日志数据库 %1 已不是可读的日志数据库（被清空、截断或正在被替换），"
                                "等它重新写入后从第一条记录继续跟踪")
                     .arg(name()),
                 true);
            return;
        default:
            break;
        }
        const QString reason = reader->errorText();
        reader.reset();
        wait(QStringLiteral("%1；稍后重试").arg(reason), false);
    }

    // Opens a reader on the file now at the path; `identity` is that file's,
    // or not `exists` when the path changed hands during the open.
    bool openReader(FileIdentity& identity)
    {
        const FileIdentity before = FileIdentity::of(path);
        reader = std::make_unique<LogReader>(path);
        reader->setStopCheck(stopCheck);
        if (!reader->open())
            return false;
        identity = FileIdentity::of(path);
        if (!identity.isSameFileAs(before))
            identity = FileIdentity();
        return true;
    }

    // A reader on the file now at the path; false while there is none.
    bool ensureReader()
    {
        const FileIdentity now = FileIdentity::of(path);
        if (!now.exists) {
            reader.reset();
            wait(QStringLiteral("日志数据库 %1 已不存在，等它重新出现后从第一条记录继续跟踪").arg(name()), true);
            return false;
        }
        if (reader && now.isSameFileAs(file))
            return true;
        FileIdentity opened;
        if (!openReader(opened)) {
            // A reader whose open failed is of no further use.
            waitAfterFailure();
            reader.reset();
            return false;
        }
        if (!opened.exists) {
            reader.reset();
            return false;
        }
        // Another file, or the log back after it was gone: its content is new.
        if ((restartAnnounced || !opened.isSameFileAs(file)) && file.exists && seek == Seek::None)
            startOver(QStringLiteral("日志数据库 %1 已被替换或重新创建，从新文件的第一条记录继续跟踪").arg(name()));
        file = opened;
        return true;
    }

    bool readNewest(Newest& newest)
    {
        newest = Newest();
        LogQuery one = newestFirst();
        one.last = 1;
        return reader->read(one, [&newest](const LogRecord& record) {
            newest = newestOf(record);
            return false;
        });
    }

    // Whether the row seen newest at the last fetch is still there as it was,
    // or gone (deleted) without another in its place.
    bool stillHolds(const Newest& row, bool& holds)
    {
        holds = true;
        LogQuery one;
        one.order = LogQuery::Order::Arrival;
        one.afterId = row.id - 1;
        one.upToId = row.id;
        return reader->read(one, [&](const LogRecord& record) {
            holds = row.isSameRowAs(record);
            return false;
        });
    }

    // Starts over when the content the position belongs to is gone: ids
    // below the newest seen, or that newest row's id now given to another.
    bool checkContinuity(const Newest& newest)
    {
        if (seek != Seek::None)
            return true;
        if (newest.id < qMax(seen.id, position)) {
            startOver(QStringLiteral("日志数据库 %1 中的记录编号变小了（记录被删除或编号被重置），从第一条记录重新跟踪").arg(name()));
            return true;
        }
        bool holds = true;
        if (seen.id == 0)
            return true;
        if (!stillHolds(seen, holds))
            return false;
        if (!holds)
            startOver(QStringLiteral("日志数据库 %1 被清空后重新写入（编号被重新使用），从第一条记录重新跟踪").arg(name()));
        return true;
    }

    // The position a seekToEnd() or seekToLast() asked for.
    bool resolveSeek(const Newest& newest)
    {
        if (seek == Seek::Last && seekCount > 0 && newest.id > 0) {
            LogQuery last = filter;
            last.order = LogQuery::Order::Arrival;
            last.newestFirst = true;
            last.last = seekCount;
            last.afterId = 0;
            last.upToId = newest.id;
            int found = 0;
            qint64 oldest = 0;
            if (!reader->read(last, [&](const LogRecord& record) {
                    ++found;
                    oldest = record.id;
                    return true;
                }))
                return false;
            position = found == seekCount ? oldest - 1 : 0;
        } else if (seek != Seek::None) {
            position = seek == Seek::End ? newest.id : 0;
        }
        seek = Seek::None;
        return true;
    }

    // The rest of a file that another one replaced at the path (or that was
    // deleted), through the reader still open on it, before the tail moves
    // on: records written just before the switch are not skipped. 0 when
    // it has nothing more, or cannot be read any longer.
    int drainReplacedFile(int maxRecords, const LogReader::RecordSink& sink)
    {
        Newest newest;
        if (!readNewest(newest) || newest.id <= position)
            return 0;
        seen = newest;
        return deliver(newest, maxRecords, sink);
    }

    int deliver(const Newest& newest, int maxRecords, const LogReader::RecordSink& sink)
    {
        LogQuery arrived = filter;
        arrived.order = LogQuery::Order::Arrival;
        arrived.newestFirst = false;
        arrived.last = 0;
        arrived.afterId = position;
        arrived.upToId = newest.id;
        int delivered = 0;
        bool stopped = false;
        qint64 lastDelivered = position;
        const bool ok = reader->read(arrived, [&](const LogRecord& record) {
            ++delivered;
            lastDelivered = record.id;
            stopped = !sink(record) || delivered >= maxRecords;
            return !stopped;
        });
        position = ok && !stopped ? newest.id : lastDelivered;
        if (!ok)
            waitAfterFailure();
        return delivered;
    }
};

LogTail::LogTail(const QString& path, const LogQuery& filter, NoticeSink notices)
    : d(std::make_unique<Private>())
{
    d->path = path;
    d->filter = filter;
    d->notices = std::move(notices);
}

LogTail::~LogTail() = default;

bool LogTail::open()
{
    FileIdentity opened;
    if (d->openReader(opened)) {
        d->file = opened;
        return true;
    }
    d->error = d->reader->errorText();
    d->reader.reset();
    return false;
}

QString LogTail::errorText() const
{
    return d->error;
}

void LogTail::seekAfter(qint64 id)
{
    d->seek = Private::Seek::None;
    d->position = qMax<qint64>(0, id);
}

void LogTail::seekAfter(qint64 id, const LogReader& listedBy)
{
    seekAfter(id);
    if (!d->reader)
        d->file = listedBy.openedFile();
}

void LogTail::seekToEnd()
{
    d->seek = Private::Seek::End;
}

void LogTail::seekToLast(int count)
{
    d->seek = count > 0 ? Private::Seek::Last : Private::Seek::End;
    d->seekCount = count;
}

qint64 LogTail::position() const
{
    return d->seek == Private::Seek::None ? d->position : -1;
}

int LogTail::restartCount() const
{
    return d->startsOver;
}

void LogTail::setStopCheck(const std::function<bool()>& stopRequested)
{
    d->stopCheck = stopRequested;
    if (d->reader)
        d->reader->setStopCheck(stopRequested);
}

int LogTail::fetch(int maxRecords, const LogReader::RecordSink& sink)
{
    if (maxRecords <= 0 || d->stopRequested())
        return 0;
    if (d->reader && d->seek == Private::Seek::None && !FileIdentity::of(d->path).isSameFileAs(d->file)) {
        const int drained = d->drainReplacedFile(maxRecords, sink);
        if (drained > 0)
            return drained;
        d->reader.reset();
    }
    if (!d->ensureReader())
        return 0;
    Private::Newest newest;
    if (!d->readNewest(newest) || !d->checkContinuity(newest) || !d->resolveSeek(newest)) {
        if (d->reader)
            d->waitAfterFailure();
        return 0;
    }
    d->settled();
    d->seen = newest;
    if (newest.id <= d->position)
        return 0;
    return d->deliver(newest, maxRecords, sink);
}

} // namespace SystemLog
