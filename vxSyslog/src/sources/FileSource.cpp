#include "sources/FileSource.h"

#include <vxSyslog/LogTail.h>

#include <QMap>

#include <cstring>
#include <limits>
#include <tuple>

namespace SystemLog {

struct FileSource::Part
{
    Part(const File& file, int position)
        : host(file.host)
        , index(position)
        , reader(file.path)
    {
    }

    QByteArray host;
    int index;
    LogReader reader;
    bool usable = true;
};

namespace {

// SQLite's own order of time stamps: no time stamp first, then the bytes.
int compareTimes(const QByteArray& a, const QByteArray& b)
{
    if (a.isNull() != b.isNull())
        return a.isNull() ? -1 : 1;
    const int common = std::memcmp(a.constData(), b.constData(), static_cast<size_t>(qMin(a.size(), b.size())));
    return common != 0 ? common : a.size() - b.size();
}

// Time, then the file's place in the list, then the id.
bool isBefore(const LogRecord& a, int aIndex, const LogRecord& b, int bIndex)
{
    const int time = compareTimes(a.datetime, b.datetime);
    if (time != 0)
        return time < 0;
    return std::tie(aIndex, a.id) < std::tie(bIndex, b.id);
}

struct Head
{
    int index;
    QByteArray host;
    std::unique_ptr<LogReader::Cursor> cursor;
};

} // namespace

FileSource::FileSource(const std::vector<File>& files)
    : m_files(files)
{
}

FileSource::~FileSource() = default;

bool FileSource::open()
{
    m_parts.clear();
    bool any = false;
    for (size_t i = 0; i < m_files.size(); ++i) {
        auto part = std::make_unique<Part>(m_files[i], static_cast<int>(i));
        part->reader.setStopCheck(m_stopCheck);
        if (part->reader.open()) {
            any = true;
        } else {
            part->usable = false;
            addProblem(part->reader.errorText());
        }
        m_parts.push_back(std::move(part));
    }
    return any;
}

QStringList FileSource::files() const
{
    QStringList paths;
    for (const File& file : m_files)
        paths << file.path;
    return paths;
}

void FileSource::setStopCheck(const std::function<bool()>& stopRequested)
{
    m_stopCheck = stopRequested;
    for (auto& part : m_parts)
        part->reader.setStopCheck(stopRequested);
}

bool FileSource::eachPart(const std::function<bool(Part&)>& call)
{
    bool ok = true;
    for (auto& part : m_parts) {
        if (!part->usable)
            continue;
        if (!call(*part)) {
            part->usable = false;
            addProblem(part->reader.errorText());
            ok = false;
        }
    }
    return ok;
}

bool FileSource::read(const LogQuery& filter, const LogReader::RecordSink& sink)
{
    if (m_parts.size() == 1)
        return eachPart([&](Part& part) { return part.reader.read(filter, sink); });
    return mergeRead(filter, sink);
}

// The last N of the merged listing begin at the Nth record counted newest
// first; each file's own filter then starts where that record would stand
// in the file.
bool FileSource::lastWindowStart(const LogQuery& filter, std::vector<LogQuery>& filters)
{
    LogQuery newestFirst = filter;
    newestFirst.newestFirst = true;
    std::vector<qint64> upToIds;
    for (const LogQuery& own : filters)
        upToIds.push_back(own.upToId);
    int seen = 0;
    int startIndex = -1;
    QByteArray startTime;
    qint64 startId = 0;
    const bool ok = mergeRead(newestFirst, [&](const LogRecord& record) {
        if (++seen < filter.last)
            return true;
        startTime = record.datetime.isNull() ? QByteArray() : QByteArray(record.datetime.constData(), record.datetime.size());
        startId = record.id;
        for (const auto& part : m_parts) {
            if (part->host == record.host)
                startIndex = part->index;
        }
        return false;
    }, upToIds);
    for (auto& own : filters) {
        own.last = 0;
        if (startIndex < 0)
            continue;
        const int index = static_cast<int>(&own - filters.data());
        own.resume = true;
        own.resumeTime = startTime;
        if (index < startIndex)
            own.resumeId = std::numeric_limits<qint64>::max();
        else if (index == startIndex)
            own.resumeId = startId - 1;
        else
            own.resumeId = std::numeric_limits<qint64>::min();
    }
    return ok;
}

bool FileSource::mergeRead(const LogQuery& filter, const LogReader::RecordSink& sink, const std::vector<qint64>& upToIds)
{
    std::vector<LogQuery> filters(m_parts.size(), filter);
    for (size_t i = 0; i < upToIds.size() && i < filters.size(); ++i)
        filters[i].upToId = upToIds[i];
    bool ok = true;
    if (filter.last > 0 && !filter.newestFirst) {
        const LogQuery asked = filters.front();
        ok = lastWindowStart(asked, filters);
    }
    if (filter.order == LogQuery::Order::Arrival) {
        // Ids of different files say nothing about each other's order.
        for (auto& own : filters)
            own.order = LogQuery::Order::Time;
    }

    std::vector<Head> heads;
    for (auto& part : m_parts) {
        if (!part->usable)
            continue;
        std::unique_ptr<LogReader::Cursor> cursor = part->reader.cursor(filters[static_cast<size_t>(part->index)]);
        if (cursor && cursor->next()) {
            heads.push_back({part->index, part->host, std::move(cursor)});
        } else if (!cursor || cursor->failed()) {
            part->usable = false;
            addProblem(part->reader.errorText());
            ok = false;
        }
    }
    int delivered = 0;
    LogRecord out;
    while (!heads.empty()) {
        size_t next = 0;
        for (size_t i = 1; i < heads.size(); ++i) {
            const bool earlier = isBefore(heads[i].cursor->record(), heads[i].index, heads[next].cursor->record(), heads[next].index);
            if (earlier != filter.newestFirst)
                next = i;
        }
        Head& head = heads[next];
        out = head.cursor->record();
        out.host = head.host;
        if (!sink(out))
            break;
        if (filter.newestFirst && filter.last > 0 && ++delivered >= filter.last)
            break;
        if (!head.cursor->next()) {
            if (head.cursor->failed()) {
                Part& part = *m_parts[static_cast<size_t>(head.index)];
                part.usable = false;
                addProblem(part.reader.errorText());
                ok = false;
            }
            heads.erase(heads.begin() + static_cast<std::ptrdiff_t>(next));
        }
    }
    return ok;
}

bool FileSource::count(const LogQuery& filter, qint64& result)
{
    result = 0;
    return eachPart([&](Part& part) {
        qint64 own = 0;
        if (!part.reader.count(filter, own))
            return false;
        result += own;
        return true;
    });
}

bool FileSource::countPerDayAndType(const LogQuery& filter, const LogReader::DayTypeSink& sink)
{
    // (day, is an int, type): the values that are not an int first within a
    // day, as SQLite sorts NULL.
    QMap<std::tuple<QString, bool, qint64>, qint64> counts;
    const bool ok = eachPart([&](Part& part) {
        return part.reader.countPerDayAndType(filter, [&counts](const LogReader::DayTypeCount& count) {
            counts[std::make_tuple(count.day, count.typeIsInt, count.type)] += count.count;
        });
    });
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        sink({std::get<0>(it.key()), std::get<2>(it.key()), it.value(), std::get<1>(it.key())});
    return ok;
}

bool FileSource::span(const LogQuery& filter, LogReader::Span& result)
{
    result = LogReader::Span();
    return eachPart([&](Part& part) {
        LogReader::Span own;
        if (!part.reader.span(filter, own))
            return false;
        if (own.total == 0)
            return true;
        if (result.total == 0 || own.oldest < result.oldest)
            result.oldest = own.oldest;
        if (result.total == 0 || own.newest > result.newest)
            result.newest = own.newest;
        result.total += own.total;
        return true;
    });
}

// One LogTail per file, positioned where start()'s merged listing ended.
class FileSource::Tails : public SourceTail
{
public:
    Tails(FileSource& source, const LogQuery& filter, NoticeSink notices)
        : m_source(source)
        , m_filter(filter)
        , m_notices(std::move(notices))
    {
    }

    bool start(int lastCount, const LogReader::RecordSink& sink) override
    {
        std::vector<qint64> lastIds(m_source.m_parts.size(), 0);
        const bool ok = m_source.eachPart([&](Part& part) { return part.reader.lastId(lastIds[static_cast<size_t>(part.index)]); });
        if (!ok && m_source.m_parts.empty())
            return false;
        if (lastCount > 0) {
            LogQuery last = m_filter;
            last.last = lastCount;
            m_source.mergeRead(last, sink, lastIds);
        }
        for (const auto& part : m_source.m_parts) {
            auto tail = std::make_unique<LogTail>(m_source.m_files[static_cast<size_t>(part->index)].path, m_filter, m_notices);
            tail->setStopCheck(m_stopCheck);
            tail->seekAfter(lastIds[static_cast<size_t>(part->index)]);
            m_tails.push_back({part->host, std::move(tail)});
        }
        return true;
    }

    int fetch(int maxRecords, const LogReader::RecordSink& sink) override
    {
        int delivered = 0;
        LogRecord labelled;
        for (auto& tail : m_tails) {
            if (delivered >= maxRecords)
                break;
            delivered += tail.second->fetch(maxRecords - delivered, [&](const LogRecord& record) {
                labelled = record;
                labelled.host = tail.first;
                return sink(labelled);
            });
        }
        return delivered;
    }

    void setStopCheck(const std::function<bool()>& stopRequested) override
    {
        m_stopCheck = stopRequested;
        for (auto& tail : m_tails)
            tail.second->setStopCheck(stopRequested);
    }

private:
    FileSource& m_source;
    LogQuery m_filter;
    NoticeSink m_notices;
    std::function<bool()> m_stopCheck;
    std::vector<std::pair<QByteArray, std::unique_ptr<LogTail>>> m_tails;
};

std::unique_ptr<SourceTail> FileSource::tail(const LogQuery& filter, SourceTail::NoticeSink notices)
{
    return std::make_unique<Tails>(*this, filter, std::move(notices));
}

} // namespace SystemLog
