#include "StoredRecords.h"

#include <algorithm>


namespace {

// Texts kept beyond the page in use; a screen needs one or two pages.
constexpr std::size_t kMaxPages = 32;
constexpr qint64 kMaxCachedCharacters = 8 * 1024 * 1024;

} // namespace

QString StoredRecords::goneText()
{
    return QStringLiteral("（这条记录已不在数据库中）");
}

QString StoredRecords::unreadableText(const QString& reason)
{
    return QStringLiteral("（暂时无法读取这条记录：%1）").arg(reason);
}

StoredRecords::StoredRecords(const LogSources& sources, const SystemLog::LogQuery& query)
    : m_sources(sources)
    , m_query(query)
{
}

StoredRecords::~StoredRecords() = default;

void StoredRecords::readFrom(const std::shared_ptr<SystemLog::CommittedCopy>& copy)
{
    m_copy = copy;
    m_sources = LogSources(copy->path());
    m_reader.reset();
    m_pages.clear();
    m_cachedCharacters = 0;
}

void StoredRecords::fixMachines(const QStringList& machines)
{
    m_machines = machines;
    if (m_sources.isOneFile())
        return;
    m_sources.hosts = machines;
    m_reader.reset();
}

bool StoredRecords::takeReadFailure()
{
    const bool failed = m_readFailed;
    m_readFailed = false;
    return failed;
}

QString StoredRecords::blockSlice(int record, int from, int length)
{
    return blockOf(record).mid(from, length);
}

QString StoredRecords::blockOf(int record)
{
    const int first = record - record % kPageSize;
    if (const Page* page = pageAt(first))
        return page->blocks[std::size_t(record - first)];
    // One wait for a writer's lock per paint, not one per page: the pane
    // asks again after the failure was taken (takeReadFailure()).
    if (m_readFailed)
        return unreadableText(m_readError);
    Page page{first, {}, 0};
    if (!readPage(first, page)) {
        m_readFailed = true;
        return unreadableText(m_readError);
    }
    const QString block = page.blocks[std::size_t(record - first)];
    keepPage(std::move(page));
    return block;
}

// A page read while the answer was still arriving may end short of records
// that have arrived since: it is read again.
const StoredRecords::Page* StoredRecords::pageAt(int first)
{
    const std::size_t size = std::size_t(std::min(kPageSize, m_keys.count() - first));
    for (auto it = m_pages.begin(); it != m_pages.end(); ++it) {
        if (it->first != first)
            continue;
        if (it->blocks.size() < size) {
            m_cachedCharacters -= it->characters;
            m_pages.erase(it);
            return nullptr;
        }
        m_pages.splice(m_pages.begin(), m_pages, it);
        return &m_pages.front();
    }
    return nullptr;
}

bool StoredRecords::readPage(int first, Page& page)
{
    const bool server = m_sources.isDatabase();
    if (server && m_sinceServerFailure.isValid() && !m_sinceServerFailure.hasExpired(kServerRetryMs))
        return false;
    m_sinceServerFailure.invalidate();
    if (!m_reader) {
        m_reader = m_sources.reader(m_readError);
        if (!m_reader)
            return false;
        m_reader->setBusyTimeout(server ? kServerWaitMs : kBusyTimeoutMs);
        if (!m_reader->open()) {
            m_readError = m_reader->errorText();
            m_reader.reset();
            if (server)
                m_sinceServerFailure.start();
            return false;
        }
    }
    const int size = std::min(kPageSize, m_keys.count() - first);
    std::vector<qint64> ids(std::size_t(size), 0);
    std::vector<int> machines(std::size_t(size), 0);
    for (int i = 0; i < size; ++i) {
        ids[std::size_t(i)] = m_keys.id(first + i);
        machines[std::size_t(i)] = m_keys.machine(first + i);
    }
    page.blocks.assign(std::size_t(size), goneText());
    const bool read = m_reader->fetch(m_query, machines.data(), ids.data(), size,
                                      [&page](int index, const QString& block) { page.blocks[std::size_t(index)] = block; });
    if (!read) {
        m_readError = m_reader->errorText();
        m_reader.reset(); // opened again next time: the file may have been replaced
        if (server)
            m_sinceServerFailure.start();
        return false;
    }
    for (const QString& block : page.blocks)
        page.characters += block.size();
    return true;
}

void StoredRecords::keepPage(Page&& page)
{
    m_cachedCharacters += page.characters;
    m_pages.push_front(std::move(page));
    while (m_pages.size() > 1 && (m_pages.size() > kMaxPages || m_cachedCharacters > kMaxCachedCharacters)) {
        m_cachedCharacters -= m_pages.back().characters;
        m_pages.pop_back();
    }
}
