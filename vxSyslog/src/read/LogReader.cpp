#include <vxSyslog/LogReader.h>

#include <QDir>

#include "read/IndexedSearch.h"
#include "read/KeyReading.h"
#include "read/ReadConnection.h"
#include "read/RecordReading.h"

namespace SystemLog {

// One connection under both forms of answer.
struct LogReader::Private
{
    explicit Private(const QString& path)
        : connection(path)
        , search(connection)
        , records(connection, search)
        , keys(connection, search)
    {
    }

    ReadConnection connection;
    IndexedSearch search;
    RecordReading records;
    KeyReading keys;
    bool rollsBackCutOffWrites = true;
};

LogReader::LogReader(const QString& path)
    : d(std::make_unique<Private>(path))
{
}

LogReader::~LogReader()
{
    // The key half's statements go before the connection.
    d->keys.close();
}

void LogReader::setRollsBackCutOffWrites(bool rollsBack)
{
    d->rollsBackCutOffWrites = rollsBack;
}

void LogReader::setBusyTimeout(int milliseconds)
{
    d->connection.setBusyTimeout(milliseconds);
}

void LogReader::setSliceTime(int milliseconds)
{
    d->keys.setSliceTime(milliseconds);
}

bool LogReader::open()
{
    d->keys.close();
    d->search.reset();
    if (!d->connection.open(d->rollsBackCutOffWrites))
        return false;
    d->keys.opened();
    return true;
}

const FileIdentity& LogReader::openedFile() const
{
    return d->connection.openedFile();
}

bool LogReader::read(const LogQuery& filter, const RecordSink& sink)
{
    return d->records.read(filter, sink);
}

std::unique_ptr<LogReader::Cursor> LogReader::cursor(const LogQuery& filter)
{
    return d->records.cursor(filter);
}

bool LogReader::count(const LogQuery& filter, qint64& result)
{
    return d->records.count(filter, result);
}

bool LogReader::lastId(qint64& result)
{
    return d->records.lastId(result);
}

bool LogReader::countPerDayAndType(const LogQuery& filter, const DayTypeSink& sink)
{
    return d->records.countPerDayAndType(filter, sink);
}

bool LogReader::span(const LogQuery& filter, Span& result)
{
    return d->records.span(filter, result);
}

bool LogReader::fetchRecords(const qint64* ids, int count, const FetchRecordSink& sink)
{
    return d->records.fetch(ids, count, sink);
}

bool LogReader::countListed(const LogQuery& query, qint64& result)
{
    return d->keys.countListed(query, result);
}

bool LogReader::readKeys(const LogQuery& query, const KeySink& sink)
{
    return d->keys.readKeys(query, sink);
}

bool LogReader::readBlocks(const LogQuery& query, const BlockSink& sink)
{
    return d->keys.readBlocks(query, sink);
}

bool LogReader::countBetween(const LogQuery& query, const QStringList& bounds, QVector<qint64>& counts)
{
    return d->keys.countBetween(query, bounds, counts);
}

bool LogReader::fetch(const LogQuery& query, const qint64* ids, int count, const FetchSink& sink)
{
    return d->keys.fetch(query, ids, count, sink);
}

bool LogReader::startKeys(const LogQuery& query)
{
    return d->keys.startKeys(query);
}

bool LogReader::nextKey(ListedKey& key, bool& atEnd)
{
    return d->keys.nextKey(key, atEnd);
}

QString LogReader::keyBlock()
{
    return d->keys.keyBlock();
}

void LogReader::pauseKeys()
{
    d->keys.pauseKeys();
}

bool LogReader::messageCandidates(const QString& text, std::vector<qint64>& ids, qint64& indexedUpTo, bool& answered)
{
    return d->search.candidates(text, ids, indexedUpTo, answered);
}

void LogReader::setMachineName(const QString& name)
{
    d->keys.setMachineName(name);
}

void LogReader::setStopCheck(const std::function<bool()>& stopRequested)
{
    d->connection.setStopCheck(stopRequested);
}

void LogReader::interrupt()
{
    d->connection.interrupt();
}

bool LogReader::isInterrupted() const
{
    return d->connection.isInterrupted();
}

QString LogReader::path() const
{
    return d->connection.path();
}

FailureKind LogReader::failureKind() const
{
    return d->connection.failureKind();
}

QString LogReader::failureText() const
{
    return d->connection.errorText();
}

QString LogReader::errorText() const
{
    QString reason = d->connection.errorText();
    reason.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return QStringLiteral("无法读取日志数据库 %1：%2").arg(QDir::toNativeSeparators(path()), reason);
}

} // namespace SystemLog
