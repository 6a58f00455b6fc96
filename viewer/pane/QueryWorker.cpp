#include "QueryWorker.h"

#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>
#include <unordered_map>

#include <vxSyslog/AlarmContext.h>
#include <vxSyslog/SourceTail.h>
#include <vxSyslog/TextIndex.h>


#include "FindCandidates.h"
#include "StoredRecords.h"

using SystemLog::LogSource;
using SystemLog::LogQuery;

namespace {

// Listed keys go to the GUI in batches: the first as soon as it fills a
// screen or two, then one per interval, so the pane shows rows at once and
// its scroll bar grows as they come.
constexpr std::size_t kFirstBatch = 256;
constexpr qint64 kBatchMs = 50;
// A listing and its counts side by side (or a live listing's follow), plus
// a find or a copy.
constexpr int kThreadCount = 4;
// A live listing looks for new records this often, and takes this many
// stored records at a time from its tail.
constexpr int kLivePollMs = 250;
constexpr int kLiveFetch = 100000;
// A live listing's new records per interval of the strip, counted as they
// are read (as LogReader::countBetween counts).
struct IntervalCounter
{
    explicit IntervalCounter(const QStringList& bounds)
    {
        for (const QString& bound : bounds)
            limits << bound.toUtf8();
        records.fill(0, limits.size() + 1);
        gaps.fill(0, limits.size() + 1);
    }

    void add(const SystemLog::ListedKey& key)
    {
        if (limits.isEmpty())
            return;
        const QByteArray datetime = QByteArray::fromRawData(key.datetime, key.datetimeLength);
        const int interval = int(std::upper_bound(limits.begin(), limits.end(), datetime) - limits.begin());
        ++records[interval];
        if (key.gap)
            ++gaps[interval];
    }

    QVector<QByteArray> limits;
    QVector<qint64> records;
    QVector<qint64> gaps;
};

// Blocks read by id at a time while finding or copying.
constexpr int kFetchChunk = 512;

} // namespace

// The blocks of the listed records, read by id in chunks in the direction of
// a scan, of the records the scan wants (all, or a find's candidates). A
// read that fails is remembered, and the scan told to stop.
class QueryWorker::BlockFetcher
{
public:
    BlockFetcher(LogSource& reader, const LogQuery& query, const RecordKeys::Snapshot& keys, bool backward,
                 std::function<bool(int)> wanted = {})
        : m_reader(reader)
        , m_query(query)
        , m_keys(keys)
        , m_backward(backward)
        , m_wanted(std::move(wanted))
    {
    }

    // The block of a wanted record; an empty one for any other.
    QString at(int record)
    {
        if (m_wanted && !m_wanted(record))
            return QString();
        auto found = m_blocks.find(record);
        if (found == m_blocks.end()) {
            fill(record);
            found = m_blocks.find(record);
        }
        return m_failed || found == m_blocks.end() ? QString() : found->second;
    }

    bool failed() const { return m_failed; }
    QString error() const { return m_reader.errorText(); }

private:
    // The next chunk of wanted records from `record` on, in the direction
    // of the scan.
    void fill(int record)
    {
        std::vector<int> records;
        const int step = m_backward ? -1 : 1;
        for (int r = record, passed = 0; r >= 0 && r < m_keys.count() && int(records.size()) < kFetchChunk
                                         && passed < kFetchChunk * 64;
             r += step, ++passed) {
            if (r == record || !m_wanted || m_wanted(r))
                records.push_back(r);
        }
        const int size = int(records.size());
        std::vector<qint64> ids(std::size_t(size), 0);
        std::vector<int> machines(std::size_t(size), 0);
        m_blocks.clear();
        for (int i = 0; i < size; ++i) {
            ids[std::size_t(i)] = m_keys.id(records[std::size_t(i)]);
            machines[std::size_t(i)] = m_keys.machine(records[std::size_t(i)]);
            m_blocks[records[std::size_t(i)]] = StoredRecords::goneText();
        }
        const bool read = m_reader.fetch(m_query, machines.data(), ids.data(), size, [&](int index, const QString& block) {
            m_blocks[records[std::size_t(index)]] = block;
        });
        if (!read)
            m_failed = true;
    }

    LogSource& m_reader;
    const LogQuery& m_query;
    const RecordKeys::Snapshot& m_keys;
    const bool m_backward;
    const std::function<bool(int)> m_wanted;
    std::unordered_map<int, QString> m_blocks;
    bool m_failed = false;
};

// A request's validity, and the readers its jobs have open.
class QueryWorker::Ticket
{
public:
    bool cancelled() const { return m_cancelled.load(); }

    void cancel()
    {
        m_cancelled.store(true);
        std::lock_guard<std::mutex> lock(m_mutex);
        for (LogSource* reader : m_readers)
            reader->interrupt();
    }

    // Keeps `reader` known to the ticket for the scope of one job.
    class Attached
    {
    public:
        Attached(Ticket& ticket, LogSource& reader)
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
        LogSource& m_reader;
    };

private:
    std::atomic<bool> m_cancelled{false};
    std::mutex m_mutex;
    std::vector<LogSource*> m_readers;
};

namespace {

// The worker whose job runs on this thread: the text index's notices
// (TextIndex.h), told on the searching thread, go to the pane that searched.
thread_local QueryWorker* t_searchingWorker = nullptr;

} // namespace

// The worker's threads and their job queue (standard threads and locks, which
// the thread sanitizer sees through, unlike Qt's).
class QueryWorker::Threads
{
public:
    Threads(int count, QueryWorker* owner)
    {
        for (int i = 0; i < count; ++i)
            m_threads.emplace_back([this, owner] {
                t_searchingWorker = owner;
                work();
            });
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

void QueryWorker::postSearchNotice(SystemLog::TextIndex::Notice kind, const QString& text)
{
    if (QueryWorker* worker = t_searchingWorker) {
        const bool building = kind == SystemLog::TextIndex::Notice::Building;
        worker->deliver(nullptr, [worker, building, text] { emit worker->searchNoticed(building, text); });
    }
}

QueryWorker::QueryWorker(QObject* parent)
    : QObject(parent)
{
    static std::once_flag sinkSet;
    std::call_once(sinkSet, [] { SystemLog::TextIndex::setNoticeSink(&postSearchNotice); });
    // Copies that viewers killed earlier left behind go now, off the GUI thread.
    threads().run([] { SystemLog::CommittedCopy::removeAbandoned(); });
}

// The threads are joined while m_threads still points at them: a listing job
// starts its counting job through it.
QueryWorker::~QueryWorker()
{
    cancelListing();
    cancelFind();
    cancelCopy();
    for (const TicketPtr& ticket : {m_locate, m_detail})
        if (ticket)
            ticket->cancel();
    if (m_threads)
        m_threads->join();
}

// Started with the first request, on the GUI thread; a pane that is only
// handed records in memory never starts them.
QueryWorker::Threads& QueryWorker::threads()
{
    if (!m_threads)
        m_threads = std::make_unique<Threads>(kThreadCount, this);
    return *m_threads;
}

void QueryWorker::deliver(const TicketPtr& ticket, std::function<void()> result)
{
    {
        std::lock_guard<std::mutex> lock(m_deliveredMutex);
        m_delivered.emplace_back(ticket, std::move(result));
    }
    QMetaObject::invokeMethod(this, "runDelivered", Qt::QueuedConnection);
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
        if (!next.first || !next.first->cancelled())
            next.second();
    }
}

// ---- listing and counting ----

namespace {

// A job's reader of the sources; null with the reason (a usage error).
std::unique_ptr<LogSource> readerOf(const LogSources& sources, QString& error)
{
    return sources.reader(error);
}

bool anyRecords(const QVector<qint64>& newest)
{
    return std::any_of(newest.begin(), newest.end(), [](qint64 id) { return id > 0; });
}

} // namespace

void QueryWorker::list(const LogSources& sources, const LogQuery& query, const QStringList& bounds, bool live)
{
    cancelListing();
    const TicketPtr ticket = std::make_shared<Ticket>();
    m_listTicket = ticket;
    m_listing = true;
    threads().run([this, ticket, sources, query, bounds, live] { listJob(ticket, sources, query, bounds, live); });
}

QueryWorker::CopyPtr QueryWorker::copyOf(const QString& path, QString& error)
{
    std::lock_guard<std::mutex> making(m_copyMutex);
    if (m_heldCopy && m_heldCopy->isCurrent(path))
        return m_heldCopy;
    // The worker lets the copy of another file (or of this one before it
    // changed) go before it makes one.
    m_heldCopy.reset();
    m_heldCopy = SystemLog::CommittedCopy::make(path, error);
    return m_heldCopy;
}

void QueryWorker::check(const LogSources& sources)
{
    cancelListing();
    const TicketPtr ticket = std::make_shared<Ticket>();
    m_listTicket = ticket;
    m_checking = true;
    threads().run([this, ticket, sources] {
        QString error;
        QString note;
        QStringList machines;
        if (const std::unique_ptr<LogSource> reader = readerOf(sources, error)) {
            const Ticket::Attached attached(*ticket, *reader);
            if (!reader->open()) {
                error = reader->errorText();
                if (sources.isOneFile() && reader->failureKind() == SystemLog::FailureKind::InterruptedWrite
                    && copyOf(sources.locations.first(), error)) {
                    error.clear();
                    note = SystemLog::CommittedCopy::noteText();
                }
            } else {
                note = reader->problems().join(QLatin1Char('\n'));
            }
            machines = reader->machines();
        }
        deliver(ticket, [this, error, note, machines] {
            m_checking = false;
            emit machinesFound(machines);
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

void QueryWorker::listJob(const TicketPtr& ticket, const LogSources& sources, LogQuery query, const QStringList& bounds,
                          bool live, const CopyPtr& copy)
{
    auto end = [this, ticket](const QString& error) {
        deliver(ticket, [this, error] {
            m_listing = false;
            emit listingEnded(error);
        });
    };
    QString usage;
    const std::unique_ptr<LogSource> reader = readerOf(sources, usage);
    if (!reader)
        return end(usage);
    const Ticket::Attached attached(*ticket, *reader);
    QVector<qint64> newest;
    const bool opened = reader->open();
    if (!opened && !copy && sources.isOneFile() && reader->failureKind() == SystemLog::FailureKind::InterruptedWrite) {
        QString error;
        const CopyPtr copy = copyOf(sources.locations.first(), error);
        if (!copy)
            return end(error);
        deliver(ticket, [this, copy] { emit copyTaken(copy); });
        // The copy lives as long as this job, and then in the pane. It
        // does not grow: nothing to follow there.
        return listJob(ticket, LogSources(copy->path()), query, bounds, false, copy);
    }
    if (!opened || !reader->newestIds(newest))
        return end(reader->errorText());
    // Every later read of this answer names the machines as they are now.
    LogSources fixed = sources;
    const QStringList machines = reader->machines();
    if (!fixed.isOneFile())
        fixed.hosts = machines;
    const QStringList problems = reader->problems();
    deliver(ticket, [this, machines, problems] { emit machinesFixed(machines, problems); });
    query.upToIds = newest;
    if (!anyRecords(newest)) {
        deliver(ticket, [this, bounds] { emit intervalsCounted(QVector<qint64>(bounds.size() + 1, 0)); });
        end(QString());
    } else {
        if (!bounds.isEmpty())
            m_threads->run([this, ticket, fixed, query, bounds] { countJob(ticket, fixed, query, bounds); });
        const bool read = readInBatches(ticket, *reader, query);
        // One of several files failing part way is named; the others' records
        // stay listed. A lost database fails the listing.
        const bool othersListed = !read && !reader->files().isEmpty() && machines.size() > 1
                                  && reader->problems().size() > problems.size() && !ticket->cancelled();
        if (othersListed) {
            const QStringList more = reader->problems();
            deliver(ticket, [this, machines, more] { emit machinesFixed(machines, more); });
        }
        end(read || othersListed ? QString() : reader->errorText());
        if (!read)
            return;
    }
    if (!live)
        return;
    // Made from the listing's own reader, so that a file put in place of one
    // while it was listed is noticed (its records are other records).
    SystemLog::LogQuery period;
    period.since = query.since;
    period.until = query.until;
    const std::unique_ptr<SystemLog::SourceTail> tail = reader->tail(period, SystemLog::SourceTail::NoticeSink());
    tail->setStopCheck([ticket] { return ticket->cancelled(); });
    tail->startAfter(newest);
    follow(ticket, fixed, query, bounds, newest, *tail);
}

bool QueryWorker::readInBatches(const TicketPtr& ticket, LogSource& reader, const LogQuery& query,
                                const std::function<void(const SystemLog::ListedKey&)>& alsoSee)
{
    auto ids = std::make_shared<std::vector<qint64>>();
    auto lengths = std::make_shared<std::vector<int>>();
    auto kinds = std::make_shared<std::vector<qint8>>();
    auto machines = std::make_shared<std::vector<qint16>>();
    bool first = true;
    QElapsedTimer sinceBatch;
    sinceBatch.start();
    auto sendBatch = [&] {
        deliver(ticket, [this, ids, lengths, kinds, machines] { emit keysListed(*ids, *lengths, *kinds, *machines); });
        ids = std::make_shared<std::vector<qint64>>();
        lengths = std::make_shared<std::vector<int>>();
        kinds = std::make_shared<std::vector<qint8>>();
        machines = std::make_shared<std::vector<qint16>>();
        first = false;
        sinceBatch.restart();
    };
    const bool read = reader.readKeys(query, [&](const SystemLog::ListedKey& key) {
        if (ticket->cancelled())
            return false;
        ids->push_back(key.id);
        lengths->push_back(key.blockLength);
        kinds->push_back(qint8(key.type + (key.gap ? RecordKeys::kGap : 0)));
        machines->push_back(qint16(key.machine));
        if (alsoSee)
            alsoSee(key);
        if ((first && ids->size() >= kFirstBatch) || sinceBatch.elapsed() >= kBatchMs)
            sendBatch();
        return true;
    });
    if (!ids->empty())
        sendBatch();
    return read;
}

// The records committed after the listing, found by the source's tail
// (which waits out another program's lock, notices a file deleted, replaced
// or reset, and polls the central database by each machine's ids). The keys
// of what came are read as the listing's were, between the last ids listed
// and the newest seen, and appended, with the counts they add to the strip.
// New content in a file ends the follow with liveRestarted(): the pane lists
// the query again.
void QueryWorker::follow(const TicketPtr& ticket, const LogSources& sources, LogQuery query, const QStringList& bounds,
                         QVector<qint64> last, SystemLog::SourceTail& tail)
{
    std::unique_ptr<LogSource> reader;
    std::unique_ptr<Ticket::Attached> attached;
    bool opened = false;
    auto drop = [&] {
        attached.reset();
        reader.reset(); // made again at the next round: the file may be another
        opened = false;
    };
    auto open = [&] {
        QString usage;
        if (!reader)
            reader = readerOf(sources, usage);
        if (reader && !opened) {
            attached = std::make_unique<Ticket::Attached>(*ticket, *reader);
            opened = reader->open();
            if (!opened)
                drop();
        }
        return opened;
    };

    const int restarts = tail.restartCount();
    while (!ticket->cancelled()) {
        QVector<qint64> newest = last;
        tail.fetch(kLiveFetch, [&newest](const SystemLog::LogRecord& record) {
            if (record.machine >= 0 && record.machine < newest.size())
                newest[record.machine] = std::max(newest[record.machine], record.id);
            return true;
        });
        if (tail.restartCount() != restarts) {
            deliver(ticket, [this] { emit liveRestarted(); });
            return;
        }
        if (newest != last && open()) {
            LogQuery fresh = query;
            fresh.afterIds = last;
            fresh.upToIds = newest;
            IntervalCounter counts(bounds);
            qint64 waiting = 0;
            if (query.newestFirst && reader->countListed(fresh, waiting)) {
                // Newest first they would go on top, under the operator's
                // reading: they are only counted until the query runs again.
                last = newest;
                if (waiting > 0)
                    deliver(ticket, [this, waiting] { emit recordsWaiting(waiting); });
            } else if (!query.newestFirst
                       && readInBatches(ticket, *reader, fresh, [&counts](const SystemLog::ListedKey& key) { counts.add(key); })) {
                last = newest;
                deliver(ticket, [this, counts] {
                    emit intervalsAdded(counts.records);
                    emit gapsAdded(counts.gaps);
                });
            } else {
                drop();
            }
        }
        for (int waited = 0; waited < kLivePollMs && !ticket->cancelled(); waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// The strip's counts; a failure leaves the strip empty, the listing reports it.
void QueryWorker::countJob(const TicketPtr& ticket, const LogSources& sources, const LogQuery& query,
                           const QStringList& bounds)
{
    QString usage;
    const std::unique_ptr<LogSource> reader = readerOf(sources, usage);
    if (!reader)
        return;
    const Ticket::Attached attached(*ticket, *reader);
    QVector<qint64> counts;
    if (!reader->open() || !reader->countBetween(query, bounds, counts))
        return;
    deliver(ticket, [this, counts] { emit intervalsCounted(counts); });
    if (!query.withGaps)
        return;
    LogQuery gaps = query;
    gaps.onlyGaps = true;
    QVector<qint64> gapCounts;
    if (reader->countBetween(gaps, bounds, gapCounts))
        deliver(ticket, [this, gapCounts] { emit gapsCounted(gapCounts); });
}

// ---- finding and copying ----

// Opens a reader of `sources` and hands `scan` the blocks of the listed
// records; the reason when they cannot be read or a read failed on the way.
QString QueryWorker::scanListed(const TicketPtr& ticket, const LogSources& sources, const LogQuery& query,
                                const RecordKeys::Snapshot& keys, bool backward, const std::function<void(BlockFetcher&)>& scan,
                                const QString& findText)
{
    QString usage;
    const std::unique_ptr<LogSource> reader = readerOf(sources, usage);
    if (!reader)
        return usage;
    const Ticket::Attached attached(*ticket, *reader);
    if (!reader->open())
        return reader->errorText();
    // A find reads only the records the text index leaves to it, where the
    // text can only be in messages.
    std::unique_ptr<FindCandidates> candidates;
    const QStringList names = reader->namesMachines() ? reader->machines() : QStringList();
    if (!findText.isEmpty() && !reader->files().isEmpty() && !PaneSearch::mayTouchHeader(findText, query.namesTypes(), names))
        candidates = std::make_unique<FindCandidates>(reader->files(), findText, [ticket] { return ticket->cancelled(); });
    std::function<bool(int)> wanted;
    if (candidates && candidates->narrows())
        wanted = [&candidates, &keys](int record) { return candidates->mayHold(keys, record); };
    BlockFetcher blocks(*reader, query, keys, backward, wanted);
    scan(blocks);
    return blocks.failed() ? blocks.error() : QString();
}

void QueryWorker::find(const LogSources& sources, const LogQuery& query, const RecordKeys::Snapshot& keys,
                       const PaneText::Position& start, const PaneText::Position& end, const QString& text, bool backward)
{
    cancelFind();
    const TicketPtr ticket = std::make_shared<Ticket>();
    m_find = ticket;
    threads().run([this, ticket, sources, query, keys, start, end, text, backward] {
        PaneSearch::Match match;
        const QString error = scanListed(ticket, sources, query, keys, backward, [&](BlockFetcher& blocks) {
            match = PaneSearch::find(keys.count(), start, end, text, backward,
                                     [&blocks](int record, QString& block) { block = blocks.at(record); },
                                     [&] { return ticket->cancelled() || blocks.failed(); });
        }, text);
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

void QueryWorker::countStanding(const LogSources& sources, const LogQuery& query, const RecordKeys::Snapshot& keys,
                                const PaneSearch::Match& match, const QString& text)
{
    if (m_standing)
        m_standing->cancel();
    const TicketPtr ticket = std::make_shared<Ticket>();
    m_standing = ticket;
    threads().run([this, ticket, sources, query, keys, match, text] {
        PaneSearch::Standing standing;
        QElapsedTimer sinceProgress;
        sinceProgress.start();
        const auto progress = [&](const PaneSearch::Standing& soFar) {
            if (sinceProgress.elapsed() < kBatchMs * 4)
                return;
            sinceProgress.restart();
            deliver(ticket, [this, soFar] { emit standingProgress(soFar.index, soFar.total); });
        };
        const QString error = scanListed(ticket, sources, query, keys, false, [&](BlockFetcher& blocks) {
            standing = PaneSearch::standingOf(keys.count(), match, text,
                                              [&blocks](int record, QString& block) { block = blocks.at(record); },
                                              [&] { return ticket->cancelled() || blocks.failed(); }, progress);
        }, text);
        if (error.isEmpty() && standing.total > 0)
            deliver(ticket, [this, standing] {
                m_standing.reset();
                emit standingCounted(standing.index, standing.total);
            });
    });
}

void QueryWorker::copy(const LogSources& sources, const LogQuery& query, const RecordKeys::Snapshot& keys,
                       const PaneText::Position& start, const PaneText::Position& end)
{
    cancelCopy();
    const TicketPtr ticket = std::make_shared<Ticket>();
    m_copy = ticket;
    threads().run([this, ticket, sources, query, keys, start, end] {
        QString text;
        const QString error = scanListed(ticket, sources, query, keys, false, [&](BlockFetcher& blocks) {
            text = PaneText::joinedText(start, end, [&blocks](int record) { return blocks.at(record); },
                                        [&] { return ticket->cancelled() || blocks.failed(); });
        });
        deliver(ticket, [this, text, error] {
            m_copy.reset();
            emit copyEnded(text, error);
        });
    });
}

void QueryWorker::cancelLocate()
{
    if (m_locate)
        m_locate->cancel();
    m_locate.reset();
}

void QueryWorker::cancelCopy()
{
    if (m_copy)
        m_copy->cancel();
    m_copy.reset();
}

// ---- going to a time, a record's detail ----

void QueryWorker::locateTime(const LogSources& sources, const RecordKeys::Snapshot& keys, const QString& time,
                             bool newestFirst)
{
    if (m_locate)
        m_locate->cancel();
    const TicketPtr ticket = std::make_shared<Ticket>();
    m_locate = ticket;
    threads().run([this, ticket, sources, keys, time, newestFirst] {
        QString error;
        int record = -1;
        QByteArray landed;
        bool atOrAfter = false;
        std::unique_ptr<LogSource> reader = readerOf(sources, error);
        if (reader) {
            const Ticket::Attached attached(*ticket, *reader);
            const QByteArray wanted = time.toUtf8();
            bool failed = !reader->open();
            // The time stamp of a listed record; a record no longer stored
            // counts as the earliest.
            auto timeOf = [&](int place) {
                int machine = keys.machine(place);
                qint64 id = keys.id(place);
                QByteArray datetime;
                failed = failed
                         || !reader->fetchRecords(&machine, &id, 1, [&datetime](int, const SystemLog::LogRecord& r) {
                                datetime = QByteArray(r.datetime.constData(), r.datetime.size());
                            });
                return datetime;
            };
            // The first place whose record is on the wrong side of `wanted`.
            int low = 0;
            int high = keys.count();
            while (low < high && !failed && !ticket->cancelled()) {
                const int middle = low + (high - low) / 2;
                const bool early = timeOf(middle) < wanted;
                if (early != newestFirst)
                    low = middle + 1;
                else
                    high = middle;
            }
            if (failed) {
                error = reader->errorText();
            } else if (keys.count() > 0) {
                if (newestFirst) {
                    atOrAfter = low > 0;
                    record = atOrAfter ? low - 1 : 0;
                } else {
                    atOrAfter = low < keys.count();
                    record = atOrAfter ? low : keys.count() - 1;
                }
                landed = timeOf(record);
                if (failed) {
                    error = reader->errorText();
                    record = -1;
                }
            }
        }
        deliver(ticket, [this, record, landed, atOrAfter, error] {
            m_locate.reset();
            emit timeLocated(record, QString::fromUtf8(landed), atOrAfter, error);
        });
    });
}

void QueryWorker::readDetail(const LogSources& sources, const QStringList& machines, int record, int machine, qint64 id,
                             int minutes)
{
    if (m_detail)
        m_detail->cancel();
    const TicketPtr ticket = std::make_shared<Ticket>();
    m_detail = ticket;
    threads().run([this, ticket, sources, machines, record, machine, id, minutes] {
        RecordDetail detail;
        detail.record = record;
        detail.minutes = minutes;
        // Of several machines, only this one's is read.
        LogSources own = sources;
        int place = machine;
        if (!sources.isOneFile() && machine >= 0 && machine < machines.size()) {
            own.hosts = QStringList{machines.at(machine)};
            place = 0;
        }
        std::unique_ptr<LogSource> reader = readerOf(own, detail.error);
        if (reader) {
            const Ticket::Attached attached(*ticket, *reader);
            bool read = reader->open()
                        && reader->fetchRecords(&place, &id, 1, [&detail](int, const SystemLog::LogRecord& r) {
                               detail.stored = r;
                               detail.stored.datetime = QByteArray(r.datetime.constData(), r.datetime.size());
                               detail.stored.message = QByteArray(r.message.constData(), r.message.size());
                               detail.stored.host = QByteArray(r.host.constData(), r.host.size());
                               detail.stored.typeText = QByteArray(r.typeText.constData(), r.typeText.size());
                               detail.found = true;
                           });
            detail.alarm = detail.found && SystemLog::AlarmContext::isAlarm(detail.stored);
            if (read && detail.alarm)
                read = SystemLog::AlarmContext::readPreceding(*reader, place, detail.stored, minutes, detail.preceding,
                                                              detail.more);
            if (!read)
                detail.error = reader->errorText();
        }
        deliver(ticket, [this, detail] {
            m_detail.reset();
            emit detailRead(detail);
        });
    });
}
