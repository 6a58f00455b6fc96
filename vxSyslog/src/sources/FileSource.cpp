#include "sources/FileSource.h"

#include <vxSyslog/LogTail.h>

#include <QElapsedTimer>
#include <QMap>

#include <algorithm>
#include <cstring>
#include <limits>
#include <tuple>

namespace SystemLog {

struct FileSource::Part
{
    Part(const Locations::File& file, int position)
        : name(file.name)
        , host(file.name.toUtf8())
        , path(file.path)
        , index(position)
        , reader(file.path)
    {
    }

    QString name;
    QByteArray host;
    QString path;
    int index;
    LogReader reader;
    bool usable = false;
};

namespace {

// The ids of one machine's part of a listing of several: a machine that had
// no records when the answer was fixed (its bound 0) has none in it.
bool queryOfPart(const LogQuery& query, int index, LogQuery& own)
{
    own = query;
    own.upToIds.clear();
    own.afterIds.clear();
    if (!query.upToIds.isEmpty()) {
        own.upToId = query.upToIds.value(index);
        if (own.upToId <= 0)
            return false;
    }
    if (!query.afterIds.isEmpty())
        own.afterId = query.afterIds.value(index);
    return true;
}

// SQLite's own order of time stamps: no time stamp first, then the bytes.
int compareTimes(const char* a, int aLength, const char* b, int bLength)
{
    if ((a == nullptr) != (b == nullptr))
        return a == nullptr ? -1 : 1;
    const int common = a && b ? std::memcmp(a, b, std::size_t(std::min(aLength, bLength))) : 0;
    return common != 0 ? common : aLength - bLength;
}

// Time, then the file's place in the list, then the id.
int compareRows(const char* aTime, int aTimeLength, int aIndex, qint64 aId, const char* bTime, int bTimeLength,
                int bIndex, qint64 bId)
{
    const int time = compareTimes(aTime, aTimeLength, bTime, bTimeLength);
    if (time != 0)
        return time;
    return std::tie(aIndex, aId) < std::tie(bIndex, bId) ? -1 : (std::tie(aIndex, aId) == std::tie(bIndex, bId) ? 0 : 1);
}

int compareRecords(const LogRecord& a, int aIndex, const LogRecord& b, int bIndex)
{
    return compareRows(a.datetime.isNull() ? nullptr : a.datetime.constData(), a.datetime.size(), aIndex, a.id,
                       b.datetime.isNull() ? nullptr : b.datetime.constData(), b.datetime.size(), bIndex, b.id);
}

// A part's current record in a merged read.
struct RecordHead
{
    int index;
    QByteArray host;
    std::unique_ptr<LogReader::Cursor> cursor;
};

// A part's current key in a merged listing, kept while the others catch up.
struct KeyHead
{
    LogReader* reader = nullptr;
    int index = 0;
    ListedKey key;
    QByteArray datetime;
};

bool keyComesBefore(const KeyHead& a, const KeyHead& b, bool newestFirst)
{
    const int order = compareRows(a.datetime.constData(), a.datetime.size(), a.index, a.key.id, b.datetime.constData(),
                                  b.datetime.size(), b.index, b.key.id);
    return newestFirst ? order > 0 : order < 0;
}

// How often a merged listing lets go of every file's read transaction.
constexpr qint64 kPauseMs = LogReader::kDefaultSliceMs;

// For each part, the places in the caller's arrays that ask it for a record
// (no machines: all of them ask the first part).
std::vector<std::vector<int>> placesPerPart(const int* machines, int count, std::size_t parts)
{
    std::vector<std::vector<int>> places(parts);
    for (int i = 0; i < count; ++i) {
        const int machine = machines ? machines[i] : 0;
        if (machine >= 0 && std::size_t(machine) < parts)
            places[std::size_t(machine)].push_back(i);
    }
    return places;
}

std::vector<qint64> idsAt(const qint64* ids, const std::vector<int>& places)
{
    std::vector<qint64> chosen;
    chosen.reserve(places.size());
    for (int place : places)
        chosen.push_back(ids[place]);
    return chosen;
}

} // namespace

FileSource::FileSource(const std::vector<Locations::File>& files)
{
    for (const Locations::File& file : files) {
        m_parts.push_back(std::make_unique<Part>(file, int(m_parts.size())));
        if (files.size() > 1)
            m_parts.back()->reader.setMachineName(file.name);
    }
}

FileSource::~FileSource() = default;

void FileSource::setBusyTimeout(int milliseconds)
{
    for (auto& part : m_parts)
        part->reader.setBusyTimeout(milliseconds);
}

void FileSource::setRollsBackCutOffWrites(bool rollsBack)
{
    for (auto& part : m_parts)
        part->reader.setRollsBackCutOffWrites(rollsBack);
}

void FileSource::setStopCheck(const std::function<bool()>& stopRequested)
{
    m_stopCheck = stopRequested;
    for (auto& part : m_parts)
        part->reader.setStopCheck(stopRequested);
}

QStringList FileSource::machines() const
{
    QStringList names;
    for (const auto& part : m_parts)
        names << part->name;
    return names;
}

QStringList FileSource::files() const
{
    QStringList paths;
    for (const auto& part : m_parts)
        paths << part->path;
    return paths;
}

bool FileSource::partFailed(Part& part)
{
    part.usable = false;
    if (m_parts.size() == 1 || m_interrupted.load()) {
        failWithProblem(part.reader.failureKind(), part.reader.errorText());
        return fail(part.reader.failureKind(), part.reader.failureText());
    }
    return failWithProblem(part.reader.failureKind(), part.reader.errorText());
}

bool FileSource::open()
{
    bool any = false;
    for (auto& part : m_parts) {
        part->usable = part->reader.open();
        if (!part->usable)
            partFailed(*part);
        any = any || part->usable;
    }
    return any;
}

bool FileSource::eachPart(const LogQuery& query, const std::function<bool(Part&, const LogQuery&)>& call)
{
    bool ok = true;
    for (auto& part : m_parts) {
        LogQuery own;
        if (!part->usable || !queryOfPart(query, part->index, own))
            continue;
        if (!call(*part, own))
            ok = partFailed(*part);
        if (m_interrupted.load())
            return false;
    }
    return ok && !m_interrupted.load();
}

// ---- Whole records

bool FileSource::read(const LogQuery& query, const RecordSink& sink)
{
    if (m_parts.size() == 1)
        return eachPart(query, [&](Part& part, const LogQuery& own) { return part.reader.read(own, sink); });
    return mergeRead(query, sink);
}

// The last N of the merged listing begin at the Nth record counted newest
// first; each file's own query then starts where that record would stand
// in the file.
bool FileSource::lastWindowStart(const LogQuery& query, std::vector<LogQuery>& own)
{
    LogQuery newestFirst = query;
    newestFirst.newestFirst = true;
    int seen = 0;
    int startIndex = -1;
    QByteArray startTime;
    qint64 startId = 0;
    const bool ok = mergeRead(newestFirst, [&](const LogRecord& record) {
        if (++seen < query.last)
            return true;
        startTime = record.datetime.isNull() ? QByteArray() : QByteArray(record.datetime.constData(), record.datetime.size());
        startId = record.id;
        startIndex = record.machine;
        return false;
    });
    for (std::size_t index = 0; index < own.size(); ++index) {
        own[index].last = 0;
        if (startIndex < 0)
            continue;
        own[index].resume = true;
        own[index].resumeTime = startTime;
        if (int(index) < startIndex)
            own[index].resumeId = std::numeric_limits<qint64>::max();
        else if (int(index) == startIndex)
            own[index].resumeId = startId - 1;
        else
            own[index].resumeId = std::numeric_limits<qint64>::min();
    }
    return ok;
}

bool FileSource::mergeRead(const LogQuery& query, const RecordSink& sink)
{
    std::vector<LogQuery> own(m_parts.size());
    std::vector<bool> listed(m_parts.size());
    for (const auto& part : m_parts)
        listed[std::size_t(part->index)] = queryOfPart(query, part->index, own[std::size_t(part->index)]);
    bool ok = true;
    if (query.last > 0 && !query.newestFirst)
        ok = lastWindowStart(query, own);
    if (query.order == LogQuery::Order::Arrival) {
        // Ids of different files say nothing about each other's order.
        for (LogQuery& partQuery : own)
            partQuery.order = LogQuery::Order::Time;
    }

    std::vector<RecordHead> heads;
    for (auto& part : m_parts) {
        if (!part->usable || !listed[std::size_t(part->index)])
            continue;
        std::unique_ptr<LogReader::Cursor> cursor = part->reader.cursor(own[std::size_t(part->index)]);
        if (cursor && cursor->next())
            heads.push_back({part->index, part->host, std::move(cursor)});
        else if (!cursor || cursor->failed())
            ok = partFailed(*part);
    }
    int delivered = 0;
    LogRecord out;
    while (!heads.empty()) {
        std::size_t next = 0;
        for (std::size_t i = 1; i < heads.size(); ++i) {
            const bool earlier = compareRecords(heads[i].cursor->record(), heads[i].index, heads[next].cursor->record(),
                                                heads[next].index) < 0;
            if (earlier != query.newestFirst)
                next = i;
        }
        RecordHead& head = heads[next];
        out = head.cursor->record();
        out.host = head.host;
        out.machine = head.index;
        if (!sink(out))
            break;
        if (query.newestFirst && query.last > 0 && ++delivered >= query.last)
            break;
        if (!head.cursor->next()) {
            if (head.cursor->failed())
                ok = partFailed(*m_parts[std::size_t(head.index)]);
            heads.erase(heads.begin() + std::ptrdiff_t(next));
        }
    }
    return ok;
}

bool FileSource::count(const LogQuery& query, qint64& result)
{
    result = 0;
    return eachPart(query, [&result](Part& part, const LogQuery& own) {
        qint64 counted = 0;
        if (!part.reader.count(own, counted))
            return false;
        result += counted;
        return true;
    });
}

bool FileSource::countPerDayAndType(const LogQuery& query, const DayTypeSink& sink)
{
    // (day, is an int, type): the values that are not an int first within a
    // day, as SQLite sorts NULL.
    QMap<std::tuple<QString, bool, qint64>, qint64> counts;
    const bool ok = eachPart(query, [&counts](Part& part, const LogQuery& own) {
        return part.reader.countPerDayAndType(own, [&counts](const LogReader::DayTypeCount& count) {
            counts[std::make_tuple(count.day, count.typeIsInt, count.type)] += count.count;
        });
    });
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        sink({std::get<0>(it.key()), std::get<2>(it.key()), it.value(), std::get<1>(it.key())});
    return ok;
}

bool FileSource::span(const LogQuery& query, Span& result)
{
    result = Span();
    return eachPart(query, [&result](Part& part, const LogQuery& own) {
        Span partSpan;
        if (!part.reader.span(own, partSpan))
            return false;
        if (partSpan.total == 0)
            return true;
        if (result.total == 0 || partSpan.oldest < result.oldest)
            result.oldest = partSpan.oldest;
        if (result.total == 0 || partSpan.newest > result.newest)
            result.newest = partSpan.newest;
        result.total += partSpan.total;
        return true;
    });
}

// ---- A listing as keys

bool FileSource::newestIds(QVector<qint64>& ids)
{
    ids.fill(0, int(m_parts.size()));
    return eachPart(LogQuery(), [&ids](Part& part, const LogQuery&) { return part.reader.lastId(ids[part.index]); });
}

bool FileSource::countListed(const LogQuery& query, qint64& result)
{
    result = 0;
    return eachPart(query, [&result](Part& part, const LogQuery& own) {
        qint64 counted = 0;
        const bool read = part.reader.countListed(own, counted);
        result += counted;
        return read;
    });
}

bool FileSource::countBetween(const LogQuery& query, const QStringList& bounds, QVector<qint64>& counts)
{
    counts.fill(0, bounds.size() + 1);
    return eachPart(query, [&](Part& part, const LogQuery& own) {
        QVector<qint64> partCounts;
        if (!part.reader.countBetween(own, bounds, partCounts))
            return false;
        for (int i = 0; i < counts.size() && i < partCounts.size(); ++i)
            counts[i] += partCounts[i];
        return true;
    });
}

bool FileSource::mergeKeys(const LogQuery& query, const std::function<bool(const ListedKey&, LogReader&)>& sink)
{
    std::vector<KeyHead> heads;
    bool ok = true;
    auto take = [&](KeyHead& head) {
        bool atEnd = false;
        if (head.reader->nextKey(head.key, atEnd)) {
            head.datetime = QByteArray(head.key.datetime, head.key.datetimeLength);
            head.key.datetime = head.datetime.constData();
            head.key.machine = head.index;
            return true;
        }
        if (!atEnd)
            ok = partFailed(*m_parts[std::size_t(head.index)]);
        return false;
    };
    for (auto& part : m_parts) {
        LogQuery own;
        if (!part->usable || !queryOfPart(query, part->index, own))
            continue;
        if (!part->reader.startKeys(own)) {
            ok = partFailed(*part);
            continue;
        }
        KeyHead head{&part->reader, part->index, ListedKey(), QByteArray()};
        if (take(head))
            heads.push_back(std::move(head));
    }
    QElapsedTimer sincePause;
    sincePause.start();
    while (!heads.empty() && !m_interrupted.load()) {
        auto first = heads.begin();
        for (auto head = heads.begin(); head != heads.end(); ++head)
            if (keyComesBefore(*head, *first, query.newestFirst))
                first = head;
        if (!sink(first->key, *first->reader)) {
            for (KeyHead& head : heads)
                head.reader->pauseKeys();
            return ok;
        }
        if (!take(*first))
            heads.erase(first);
        if (sincePause.elapsed() >= kPauseMs) {
            for (KeyHead& head : heads)
                head.reader->pauseKeys();
            sincePause.restart();
        }
    }
    return ok && !m_interrupted.load();
}

bool FileSource::readKeys(const LogQuery& query, const KeySink& sink)
{
    if (m_parts.size() == 1)
        return eachPart(query, [&sink](Part& part, const LogQuery& own) { return part.reader.readKeys(own, sink); });
    return mergeKeys(query, [&sink](const ListedKey& key, LogReader&) { return sink(key); });
}

bool FileSource::readBlocks(const LogQuery& query, const BlockSink& sink)
{
    if (m_parts.size() == 1)
        return eachPart(query, [&sink](Part& part, const LogQuery& own) { return part.reader.readBlocks(own, sink); });
    return mergeKeys(query, [&sink](const ListedKey&, LogReader& reader) { return sink(reader.keyBlock()); });
}

bool FileSource::fetch(const LogQuery& query, const int* machines, const qint64* ids, int count, const FetchSink& sink)
{
    if (!machines)
        return m_parts.front()->usable && m_parts.front()->reader.fetch(query, ids, count, sink);
    const std::vector<std::vector<int>> places = placesPerPart(machines, count, m_parts.size());
    return eachPart(query, [&](Part& part, const LogQuery& own) {
        const std::vector<int>& asked = places[std::size_t(part.index)];
        if (asked.empty())
            return true;
        const std::vector<qint64> partIds = idsAt(ids, asked);
        return part.reader.fetch(own, partIds.data(), int(partIds.size()),
                                 [&](int index, const QString& block) { sink(asked[std::size_t(index)], block); });
    });
}

bool FileSource::fetchRecords(const int* machines, const qint64* ids, int count, const FetchRecordSink& sink)
{
    const std::vector<std::vector<int>> places = placesPerPart(machines, count, m_parts.size());
    return eachPart(LogQuery(), [&](Part& part, const LogQuery&) {
        const std::vector<int>& asked = places[std::size_t(part.index)];
        if (asked.empty())
            return true;
        const std::vector<qint64> partIds = idsAt(ids, asked);
        return part.reader.fetchRecords(partIds.data(), int(partIds.size()), [&](int index, const LogRecord& record) {
            LogRecord named = record;
            named.host = part.host;
            sink(asked[std::size_t(index)], named);
        });
    });
}

void FileSource::interrupt()
{
    m_interrupted.store(true);
    for (auto& part : m_parts)
        part->reader.interrupt();
}

// ---- Following

// One LogTail per file, each labelling its records with its machine.
class FileSource::Tail : public SourceTail
{
public:
    Tail(FileSource& source, const LogQuery& query, NoticeSink notices)
        : m_source(source)
        , m_query(query)
        , m_notices(std::move(notices))
    {
    }

    bool start(int lastCount, const LogReader::RecordSink& sink) override
    {
        QVector<qint64> lastIds;
        if (!m_source.newestIds(lastIds) && m_source.m_parts.empty())
            return false;
        if (lastCount > 0) {
            // In the order they were stored, as fetch() goes on (several
            // files: merged by time, their ids saying nothing of each other).
            LogQuery last = m_query;
            last.last = lastCount;
            last.order = LogQuery::Order::Arrival;
            last.upToIds = lastIds;
            m_source.read(last, sink);
        }
        return startAfter(lastIds);
    }

    bool startAfter(const QVector<qint64>& ids) override
    {
        m_tails.clear();
        for (const auto& part : m_source.m_parts) {
            auto tail = std::make_unique<LogTail>(part->path, m_query, m_notices);
            tail->setStopCheck(m_stopCheck);
            if (part->usable)
                tail->seekAfter(ids.value(part->index), part->reader);
            else
                tail->seekAfter(ids.value(part->index));
            m_restartsBefore += tail->restartCount();
            m_tails.push_back({part->host, std::move(tail)});
        }
        return true;
    }

    int fetch(int maxRecords, const LogReader::RecordSink& sink) override
    {
        int delivered = 0;
        LogRecord labelled;
        for (std::size_t index = 0; index < m_tails.size() && delivered < maxRecords; ++index) {
            auto& tail = m_tails[index];
            delivered += tail.second->fetch(maxRecords - delivered, [&](const LogRecord& record) {
                labelled = record;
                labelled.host = tail.first;
                labelled.machine = int(index);
                return sink(labelled);
            });
        }
        return delivered;
    }

    QVector<qint64> positions() const override
    {
        QVector<qint64> ids;
        for (const auto& tail : m_tails)
            ids << tail.second->position();
        return ids;
    }

    int restartCount() const override
    {
        int restarts = 0;
        for (const auto& tail : m_tails)
            restarts += tail.second->restartCount();
        return restarts - m_restartsBefore;
    }

    void setStopCheck(const std::function<bool()>& stopRequested) override
    {
        m_stopCheck = stopRequested;
        for (auto& tail : m_tails)
            tail.second->setStopCheck(stopRequested);
    }

private:
    FileSource& m_source;
    LogQuery m_query;
    NoticeSink m_notices;
    std::function<bool()> m_stopCheck;
    std::vector<std::pair<QByteArray, std::unique_ptr<LogTail>>> m_tails;
    int m_restartsBefore = 0;
};

std::unique_ptr<SourceTail> FileSource::tail(const LogQuery& query, SourceTail::NoticeSink notices)
{
    return std::make_unique<Tail>(*this, query, std::move(notices));
}

} // namespace SystemLog
