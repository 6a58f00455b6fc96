#include "sources/FileListing.h"

#include <QDir>
#include <QElapsedTimer>

#include <cstring>

namespace SystemLog {

struct FileListing::Part
{
    Part(const Locations::File& file, int position)
        : name(file.name)
        , path(file.path)
        , index(position)
        , reader(file.path)
    {
    }

    QString name;
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

// A part's current key, kept while the other parts catch up with it.
struct Head
{
    LogReader* reader = nullptr;
    int index = 0;
    ListedKey key;
    QByteArray datetime;
};

// Time stamp bytes as SQLite orders them, then the file's place, then the id.
bool comesBefore(const Head& a, const Head& b, bool newestFirst)
{
    const int common = std::memcmp(a.datetime.constData(), b.datetime.constData(),
                                   std::size_t(std::min(a.datetime.size(), b.datetime.size())));
    int order = common != 0 ? common : a.datetime.size() - b.datetime.size();
    if (order == 0)
        order = a.index != b.index ? a.index - b.index : (a.key.id < b.key.id ? -1 : a.key.id > b.key.id ? 1 : 0);
    return newestFirst ? order > 0 : order < 0;
}

// How often a merged listing lets go of every file's read transaction.
constexpr qint64 kPauseMs = LogReader::kDefaultSliceMs;

} // namespace

FileListing::FileListing(const std::vector<Locations::File>& files)
{
    for (const Locations::File& file : files) {
        m_parts.push_back(std::make_unique<Part>(file, int(m_parts.size())));
        // The viewer reads a file whose last write was cut off from a
        // private copy (CommittedCopy), never rolling the file itself back.
        m_parts.back()->reader.setRollsBackCutOffWrites(false);
        if (files.size() > 1)
            m_parts.back()->reader.setMachineName(file.name);
    }
}

FileListing::~FileListing() = default;

void FileListing::setBusyTimeout(int milliseconds)
{
    for (auto& part : m_parts)
        part->reader.setBusyTimeout(milliseconds);
}

QStringList FileListing::machines() const
{
    QStringList names;
    for (const auto& part : m_parts)
        names << part->name;
    return names;
}

QStringList FileListing::files() const
{
    QStringList paths;
    for (const auto& part : m_parts)
        paths << part->path;
    return paths;
}

bool FileListing::partFailed(Part& part)
{
    part.usable = false;
    if (m_parts.size() == 1 || m_interrupted.load()) {
        m_kind = part.reader.failureKind();
        m_error = part.reader.failureText();
        return false;
    }
    const QString problem = part.reader.errorText();
    if (!m_problems.contains(problem))
        m_problems << problem;
    m_kind = part.reader.failureKind();
    m_error = m_problems.join(QLatin1Char('\n'));
    return false;
}

bool FileListing::open()
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

bool FileListing::eachPart(const LogQuery& query, const std::function<bool(Part&, const LogQuery&)>& call)
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

bool FileListing::newestIds(QVector<qint64>& ids)
{
    ids.fill(0, int(m_parts.size()));
    return eachPart(LogQuery(), [&ids](Part& part, const LogQuery&) {
        return part.reader.lastId(ids[part.index]);
    });
}

bool FileListing::countListed(const LogQuery& query, qint64& result)
{
    result = 0;
    return eachPart(query, [&result](Part& part, const LogQuery& own) {
        qint64 counted = 0;
        const bool read = part.reader.countListed(own, counted);
        result += counted;
        return read;
    });
}

bool FileListing::countBetween(const LogQuery& query, const QStringList& bounds, QVector<qint64>& counts)
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

bool FileListing::mergeKeys(const LogQuery& query, const std::function<bool(const ListedKey&, LogReader&)>& sink)
{
    std::vector<Head> heads;
    bool ok = true;
    auto take = [&](Head& head) {
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
        Head head{&part->reader, part->index, ListedKey(), QByteArray()};
        if (take(head))
            heads.push_back(std::move(head));
    }
    QElapsedTimer sincePause;
    sincePause.start();
    while (!heads.empty() && !m_interrupted.load()) {
        auto first = heads.begin();
        for (auto head = heads.begin(); head != heads.end(); ++head)
            if (comesBefore(*head, *first, query.newestFirst))
                first = head;
        if (!sink(first->key, *first->reader)) {
            for (Head& head : heads)
                head.reader->pauseKeys();
            return ok;
        }
        if (!take(*first))
            heads.erase(first);
        if (sincePause.elapsed() >= kPauseMs) {
            for (Head& head : heads)
                head.reader->pauseKeys();
            sincePause.restart();
        }
    }
    return ok && !m_interrupted.load();
}

bool FileListing::readKeys(const LogQuery& query, const KeySink& sink)
{
    if (m_parts.size() == 1)
        return eachPart(query, [&sink](Part& part, const LogQuery& own) { return part.reader.readKeys(own, sink); });
    return mergeKeys(query, [&sink](const ListedKey& key, LogReader&) { return sink(key); });
}

bool FileListing::readBlocks(const LogQuery& query, const BlockSink& sink)
{
    if (m_parts.size() == 1)
        return eachPart(query, [&sink](Part& part, const LogQuery& own) { return part.reader.readBlocks(own, sink); });
    return mergeKeys(query, [&sink](const ListedKey&, LogReader& reader) { return sink(reader.keyBlock()); });
}

bool FileListing::fetch(const LogQuery& query, const int* machines, const qint64* ids, int count,
                        const FetchSink& sink)
{
    if (!machines)
        return m_parts.front()->usable && m_parts.front()->reader.fetch(query, ids, count, sink);
    std::vector<std::vector<int>> places(m_parts.size());
    for (int i = 0; i < count; ++i)
        if (machines[i] >= 0 && std::size_t(machines[i]) < m_parts.size())
            places[std::size_t(machines[i])].push_back(i);
    return eachPart(query, [&](Part& part, const LogQuery& own) {
        const std::vector<int>& asked = places[std::size_t(part.index)];
        if (asked.empty())
            return true;
        std::vector<qint64> partIds;
        partIds.reserve(asked.size());
        for (int place : asked)
            partIds.push_back(ids[place]);
        return part.reader.fetch(own, partIds.data(), int(partIds.size()),
                                 [&](int index, const QString& block) { sink(asked[std::size_t(index)], block); });
    });
}

bool FileListing::fetchRecords(const int* machines, const qint64* ids, int count, const FetchRecordSink& sink)
{
    std::vector<std::vector<int>> places(m_parts.size());
    for (int i = 0; i < count; ++i) {
        const int machine = machines ? machines[i] : 0;
        if (machine >= 0 && std::size_t(machine) < m_parts.size())
            places[std::size_t(machine)].push_back(i);
    }
    return eachPart(LogQuery(), [&](Part& part, const LogQuery&) {
        const std::vector<int>& asked = places[std::size_t(part.index)];
        if (asked.empty())
            return true;
        std::vector<qint64> partIds;
        partIds.reserve(asked.size());
        for (int place : asked)
            partIds.push_back(ids[place]);
        const QByteArray host = part.name.toUtf8();
        return part.reader.fetchRecords(partIds.data(), int(partIds.size()), [&](int index, const LogRecord& record) {
            LogRecord named = record;
            named.host = host;
            sink(asked[std::size_t(index)], named);
        });
    });
}

void FileListing::interrupt()
{
    m_interrupted.store(true);
    for (auto& part : m_parts)
        part->reader.interrupt();
}

} // namespace SystemLog
