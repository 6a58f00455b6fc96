#include "QueryWorker.h"

#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <thread>


#include "StoredRecords.h"

using SystemLog::RecordKeyReader;
using SystemLog::ViewerQuery;

namespace {

// Listed keys go to the GUI in batches: the first as soon as it fills a
// screen or two, then one per interval, so the pane shows rows at once and
// its scroll bar grows as they come.
constexpr std::size_t kFirstBatch = 256;
constexpr qint64 kBatchMs = 50;
// A listing and its counts side by side, plus a find or a copy.
constexpr int kThreadCount = 3;
// Blocks read by id at a time while finding or copying.
constexpr int kFetchChunk = 512;

// The blocks of the listed records, read by id in chunks in the direction of
// a scan. A read that fails is remembered, and the scan told to stop.
class BlockFetcher
{
public:
    BlockFetcher(RecordKeyReader& reader, const ViewerQuery& query, const RecordKeys::Snapshot& keys, bool backward)
        : m_reader(reader)
        , m_query(query)
        , m_keys(keys)
        , m_backward(backward)
    {
    }

    QString at(int record)
    {
        if (record < m_first || record >= m_first + int(m_blocks.size()))
            fill(record);
        return m_failed ? QString() : m_blocks[std::size_t(record - m_first)];
    }

    bool failed() const { return m_failed; }
    QString error() const { return m_reader.errorText(); }

private:
    void fill(int record)
    {
        m_first = m_backward ? std::max(0, record - kFetchChunk + 1) : record;
        const int size = std::min(kFetchChunk, m_keys.count() - m_first);
        std::vector<qint64> ids(std::size_t(size), 0);
        for (int i = 0; i < size; ++i)
            ids[std::size_t(i)] = m_keys.id(m_first + i);
        m_blocks.assign(std::size_t(size), StoredRecords::goneText());
        const bool read = m_reader.fetch(m_query, ids.data(), size, [this](int index, const QString& block) {
            m_blocks[std::size_t(index)] = block;
        });
        if (!read) {
            m_failed = true;
            m_blocks.assign(std::size_t(size), QString());
        }
    }

    RecordKeyReader& m_reader;
    const ViewerQuery& m_query;
    const RecordKeys::Snapshot& m_keys;
    const bool m_backward;
    int m_first = 0;
    std::vector<QString> m_blocks;
    bool m_failed = false;
};

// Opens `reader` and hands `scan` the blocks of the listed records; the
// reason when the file cannot be read or a read failed on the way.
QString scanBlocks(RecordKeyReader& reader, const ViewerQuery& query, const RecordKeys::Snapshot& keys, bool backward,
                   const std::function<void(BlockFetcher&)>& scan)
{
    if (!reader.open())
        return reader.errorText();
    BlockFetcher blocks(reader, query, keys, backward);
    scan(blocks);
    return blocks.failed() ? blocks.error() : QString();
}

} // namespace

// A request's validity, and the readers its jobs have open.
class QueryWorker::Ticket
{
public:
    bool cancelled() const { return m_cancelled.load(); }

    void cancel()
    {
        m_cancelled.store(true);
        std::lock_guard<std::mutex> lock(m_mutex);
        for (RecordKeyReader* reader : m_readers)
            reader->interrupt();
    }

    // Keeps `reader` known to the ticket for the scope of one job.
    class Attached
    {
    public:
        Attached(Ticket& ticket, RecordKeyReader& reader)
            : m_ticket(ticket)
            , m_reader(reader)
        {
            std::lock_guard<std::mutex> lock(m_ticket.m_mutex);
            m_ticket.m_readers.push_back(&m_reader);
            if (m_ticket.cancelled())
                m_reader.interrupt();
        }
        ~Attached()
        {
            std::lock_guard<std::mutex> lock(m_ticket.m_mutex);
            m_ticket.m_readers.erase(std::find(m_ticket.m_readers.begin(), m_ticket.m_readers.end(), &m_reader));
        }
        Attached(const Attached&) = delete;
        Attached& operator=(const Attached&) = delete;

    private:
        Ticket& m_ticket;
        RecordKeyReader& m_reader;
    };

private:
    std::atomic<bool> m_cancelled{false};
    std::mutex m_mutex;
    std::vector<RecordKeyReader*> m_readers;
};

// The worker's threads and their job queue (standard threads and locks, which
// the thread sanitizer sees through, unlike Qt's).
class QueryWorker::Threads
{
public:
    explicit Threads(int count)
    {
        for (int i = 0; i < count; ++i)
            m_threads.emplace_back([this] { work(); });
    }

    ~Threads() { join(); }

    // Runs what is queued (jobs may still queue more), then ends the threads.
    void join()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        for (std::thread& thread : m_threads)
            if (thread.joinable())
                thread.join();
    }

    void run(std::function<void()> job)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_jobs.push_back(std::move(job));
        }
        m_wake.notify_one();
    }

private:
    // Jobs left when the worker ends are still run: their tickets are
    // cancelled by then, so each returns at its first check.
    void work()
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
                if (m_jobs.empty())
                    return;
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            job();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

QueryWorker::QueryWorker(QObject* parent)
    : QObject(parent)
{
}

// The threads are joined while m_threads still points at them: a listing job
// starts its counting job through it.
QueryWorker::~QueryWorker()
{
    cancelListing();
    cancelFind();
    cancelCopy();
    if (m_threads)
        m_threads->join();
}

// Started with the first request, on the GUI thread; a pane that is only
// handed records in memory never starts them.
QueryWorker::Threads& QueryWorker::threads()
{
    if (!m_threads)
        m_threads = std::make_unique<Threads>(kThreadCount);
    return *m_threads;
}

void QueryWorker::deliver(const TicketPtr& ticket, std::function<void()> result)
{
    {
        std::lock_guard<std::mutex> lock(m_deliveredMutex);
        m_delivered.emplace_back(ticket, std::move(result));
    }
    QMetaObject::invokeMethod(this, &QueryWorker::runDelivered, Qt::QueuedConnection);
}

void QueryWorker::runDelivered()
{
    for (;;) {
        std::pair<TicketPtr, std::function<void()>> next;
        {
            std::lock_guard<std::mutex> lock(m_deliveredMutex);
            if (m_delivered.empty())
                return;
            next = std::move(m_delivered.front());
            m_delivered.pop_front();
        }
        if (!next.first->cancelled())
            next.second();
    }
}

// ---- listing and counting ----

void QueryWorker::list(const QString& database, const ViewerQuery& query, const QStringList& bounds)
{
    cancelListing();
    const TicketPtr ticket = std::make_shared<Ticket>();
    m_listTicket = ticket;
    m_listing = true;
    threads().run([this, ticket, database, query, bounds] { listJob(ticket, database, query, bounds); });
}

void QueryWorker::check(const QString& database)
{
    cancelListing();
    const TicketPtr ticket = std::make_shared<Ticket>();
    m_listTicket = ticket;
    m_checking = true;
    threads().run([this, ticket, database] {
        RecordKeyReader reader(database);
        const Ticket::Attached attached(*ticket, reader);
        QString error;
        QString note;
        if (!reader.open()) {
            error = reader.errorText();
            if (reader.failureKind() == SystemLog::FailureKind::InterruptedWrite
                && SystemLog::CommittedCopy::make(database, error)) {
                error.clear();
                note = SystemLog::CommittedCopy::noteText();
            }
        }
        deliver(ticket, [this, error, note] {
            m_checking = false;
            emit checkEnded(error, note);
        });
    });
}

void QueryWorker::cancelListing()
{
    if (m_listTicket)
        m_listTicket->cancel();
    m_listTicket.reset();
    m_listing = false;
    m_checking = false;
}

void QueryWorker::listJob(const TicketPtr& ticket, const QString& database, ViewerQuery query, const QStringList& bounds,
                          const std::shared_ptr<SystemLog::CommittedCopy>& copy)
{
    RecordKeyReader reader(database);
    const Ticket::Attached attached(*ticket, reader);
    auto end = [this, ticket](const QString& error) {
        deliver(ticket, [this, error] {
            m_listing = false;
            emit listingEnded(error);
        });
    };
    qint64 lastId = 0;
    const bool opened = reader.open();
    if (!opened && !copy && reader.failureKind() == SystemLog::FailureKind::InterruptedWrite) {
        QString error;
        const std::shared_ptr<SystemLog::CommittedCopy> copy = SystemLog::CommittedCopy::make(database, error);
        if (!copy)
            return end(error);
        deliver(ticket, [this, copy] { emit copyTaken(copy); });
        // The copy lives as long as this job, and then in the pane.
        return listJob(ticket, copy->path(), query, bounds, copy);
    }
    if (!opened || !reader.lastId(lastId))
        return end(reader.errorText());
    if (lastId == 0) {
        deliver(ticket, [this, bounds] { emit intervalsCounted(QVector<qint64>(bounds.size() + 1, 0)); });
        return end(QString());
    }
    query.upToId = lastId;
    if (!bounds.isEmpty())
        m_threads->run([this, ticket, database, query, bounds, copy] { countJob(ticket, database, query, bounds); });

    auto ids = std::make_shared<std::vector<qint64>>();
    auto lengths = std::make_shared<std::vector<int>>();
    auto kinds = std::make_shared<std::vector<qint8>>();
    bool first = true;
    QElapsedTimer sinceBatch;
    sinceBatch.start();
    auto sendBatch = [&] {
        deliver(ticket, [this, ids, lengths, kinds] { emit keysListed(*ids, *lengths, *kinds); });
        ids = std::make_shared<std::vector<qint64>>();
        lengths = std::make_shared<std::vector<int>>();
        kinds = std::make_shared<std::vector<qint8>>();
        first = false;
        sinceBatch.restart();
    };
    const bool read = reader.readKeys(query, [&](const SystemLog::ListedKey& key) {
        if (ticket->cancelled())
            return false;
        ids->push_back(key.id);
        lengths->push_back(key.blockLength);
        kinds->push_back(qint8(key.type + (key.gap ? RecordKeys::kGap : 0)));
        if ((first && ids->size() >= kFirstBatch) || sinceBatch.elapsed() >= kBatchMs)
            sendBatch();
        return true;
    });
    if (!ids->empty())
        sendBatch();
    end(read ? QString() : reader.errorText());
}

// The strip's counts; a failure leaves the strip empty, the listing reports it.
void QueryWorker::countJob(const TicketPtr& ticket, const QString& database, const ViewerQuery& query,
                           const QStringList& bounds)
{
    RecordKeyReader reader(database);
    const Ticket::Attached attached(*ticket, reader);
    QVector<qint64> counts;
    if (!reader.open() || !reader.countBetween(query, bounds, counts))
        return;
    deliver(ticket, [this, counts] { emit intervalsCounted(counts); });
    if (!query.withGaps)
        return;
    ViewerQuery gaps = query;
    gaps.onlyGaps = true;
    QVector<qint64> gapCounts;
    if (reader.countBetween(gaps, bounds, gapCounts))
        deliver(ticket, [this, gapCounts] { emit gapsCounted(gapCounts); });
}

// ---- finding and copying ----

void QueryWorker::find(const QString& database, const ViewerQuery& query, const RecordKeys::Snapshot& keys,
                       const PaneText::Position& start, const PaneText::Position& end, const QString& text, bool backward)
{
    cancelFind();
    const TicketPtr ticket = std::make_shared<Ticket>();
    m_find = ticket;
    threads().run([this, ticket, database, query, keys, start, end, text, backward] {
        RecordKeyReader reader(database);
        const Ticket::Attached attached(*ticket, reader);
        PaneSearch::Match match;
        const QString error = scanBlocks(reader, query, keys, backward, [&](BlockFetcher& blocks) {
            match = PaneSearch::find(keys.count(), start, end, text, backward,
                                     [&blocks](int record, QString& block) { block = blocks.at(record); },
                                     [&] { return ticket->cancelled() || blocks.failed(); });
        });
        deliver(ticket, [this, match, error] {
            m_find.reset();
            emit findEnded(match, error);
        });
    });
}

void QueryWorker::cancelFind()
{
    if (m_find)
        m_find->cancel();
    m_find.reset();
    if (m_standing)
        m_standing->cancel();
    m_standing.reset();
}

void QueryWorker::countStanding(const QString& database, const ViewerQuery& query, const RecordKeys::Snapshot& keys,
                                const PaneSearch::Match& match, const QString& text)
{
    if (m_standing)
        m_standing->cancel();
    const TicketPtr ticket = std::make_shared<Ticket>();
    m_standing = ticket;
    threads().run([this, ticket, database, query, keys, match, text] {
        RecordKeyReader reader(database);
        const Ticket::Attached attached(*ticket, reader);
        PaneSearch::Standing standing;
        const QString error = scanBlocks(reader, query, keys, false, [&](BlockFetcher& blocks) {
            standing = PaneSearch::standingOf(keys.count(), match, text,
                                              [&blocks](int record, QString& block) { block = blocks.at(record); },
                                              [&] { return ticket->cancelled() || blocks.failed(); });
        });
        if (error.isEmpty() && standing.total > 0)
            deliver(ticket, [this, standing] {
                m_standing.reset();
                emit standingCounted(standing.index, standing.total);
            });
    });
}

void QueryWorker::copy(const QString& database, const ViewerQuery& query, const RecordKeys::Snapshot& keys,
                       const PaneText::Position& start, const PaneText::Position& end)
{
    cancelCopy();
    const TicketPtr ticket = std::make_shared<Ticket>();
    m_copy = ticket;
    threads().run([this, ticket, database, query, keys, start, end] {
        RecordKeyReader reader(database);
        const Ticket::Attached attached(*ticket, reader);
        QString text;
        const QString error = scanBlocks(reader, query, keys, false, [&](BlockFetcher& blocks) {
            text = PaneText::joinedText(start, end, [&blocks](int record) { return blocks.at(record); },
                                        [&] { return ticket->cancelled() || blocks.failed(); });
        });
        deliver(ticket, [this, text, error] {
            m_copy.reset();
            emit copyEnded(text, error);
        });
    });
}

void QueryWorker::cancelCopy()
{
    if (m_copy)
        m_copy->cancel();
    m_copy.reset();
}
