#include "vxLogDB.h"

#include <vxSyslog/RecordFilter.h>

#include <QStringLiteral>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <iterator>
#include <vector>

namespace SystemLog {

namespace {

// An idle writer sleeps until a line or a stop wakes it; the limit only bounds
// how long a missed notification could go unnoticed.
constexpr std::chrono::minutes kIdleWaitLimit(10);

} // namespace

vxLogDB::vxLogDB(QObject* parent)
    : QThread(parent)
{
    m_db = new QDBSqlite(QStringLiteral("dbLog.db"), QString(), QString());
    std::lock_guard<std::mutex> lock(m_dbMutex);
    m_db->createTable();
}

vxLogDB::~vxLogDB()
{
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_stop = true;
    }
    m_queue.wake();
    QThread::wait();
    {
        // The loop's last act was under this lock (endUnlessRestarted): taking
        // it orders everything the thread did before what follows here.
        std::lock_guard<std::mutex> lock(m_stopMutex);
    }
    // The thread has ended (or never ran): what was queued after its last
    // cycle, or before any start, is written here on the destroying thread.
    drainAll();
    std::lock_guard<std::mutex> lock(m_dbMutex);
    m_db->close();
    delete m_db;
    m_db = nullptr;
}

void vxLogDB::start()
{
    bool launch = false;
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_stop = false;
        // A loop that is still draining after a stop sees the cleared flag and
        // goes on; only a loop that has ended (or never ran) is started anew.
        launch = !m_loopActive;
        m_loopActive = true;
    }
    if (launch) {
        QThread::wait();
        QThread::start(QThread::InheritPriority);
    }
}

void vxLogDB::stopProcess()
{
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_stop = true;
    }
    m_queue.wake();
}

void vxLogDB::setRetryLimit(int attempts, int pauseMs)
{
    m_maxAttempts = std::max(attempts, 1);
    m_retryPauseMs = std::max(pauseMs, 0);
}

bool vxLogDB::stopRequested()
{
    std::lock_guard<std::mutex> lock(m_stopMutex);
    return m_stop;
}

bool vxLogDB::endUnlessRestarted()
{
    std::lock_guard<std::mutex> lock(m_stopMutex);
    if (!m_stop)
        return false;
    m_loopActive = false;
    return true;
}

void vxLogDB::pushMsg(int type, const char* text, int length)
{
    // UTF-16 needs at most one unit per UTF-8 byte: an upper bound of the cost.
    const std::size_t bytes = static_cast<std::size_t>(std::max(length, 0));
    if (m_queue.dropIfFull(MsgQueue::kItemOverheadBytes + bytes * sizeof(QChar)))
        return;
    tag_MsgItem item;
    item.message = QString::fromUtf8(text, std::max(length, 0));
    item.type = type;
    m_queue.push(std::move(item));
}

std::uint64_t vxLogDB::droppedCount() const
{
    return m_queue.droppedTotal() + m_dropped.load(std::memory_order_relaxed);
}

std::unique_lock<std::mutex> vxLogDB::writerTurn()
{
    std::unique_lock<std::mutex> lock(m_dbMutex);
    m_dbTurn.wait(lock, [this] { return m_queriesWaiting.load() == 0; });
    return lock;
}

std::unique_lock<std::mutex> vxLogDB::callerTurn()
{
    m_queriesWaiting.fetch_add(1);
    std::unique_lock<std::mutex> lock(m_dbMutex);
    m_queriesWaiting.fetch_sub(1);
    return lock;
}

void vxLogDB::endCallerTurn(std::unique_lock<std::mutex>& lock)
{
    lock.unlock();
    m_dbTurn.notify_all();
}

bool vxLogDB::writePending()
{
    // Drop records owed, each with the tally it reports; a record is written
    // (and its tally settled) only if the committed rows include it.
    struct OwedRecord
    {
        std::list<tag_MsgItem>::iterator at;
        DropTally* tally;
    };
    auto record = [](const QString& text) { return tag_MsgItem{text, kDropRecordType}; };
    std::vector<OwedRecord> records;
    if (!m_pendingOverflow.empty()) {
        const auto at = std::next(m_pending.begin(), static_cast<std::ptrdiff_t>(
                                                         std::min(m_pendingOverflowPosition, m_pending.size())));
        records.push_back({m_pending.insert(at, record(overflowRecordText(m_pendingOverflow))), &m_pendingOverflow});
    }
    // Lines lost before this batch: their records come first.
    if (!m_unwrittenOverflow.empty())
        records.push_back({m_pending.insert(m_pending.begin(), record(overflowRecordText(m_unwrittenOverflow))),
                           &m_unwrittenOverflow});
    if (!m_givenUp.empty())
        records.push_back({m_pending.insert(m_pending.begin(), record(writeFailureRecordText(m_givenUp, m_givenUpKind))),
                           &m_givenUp});

    long committed = -1;
    std::chrono::steady_clock::duration spent{};
    bool queryWaited = false;
    {
        std::unique_lock<std::mutex> lock = writerTurn();
        const auto begin = std::chrono::steady_clock::now();
        // A query that comes while a batch is being written waits for the
        // insert loop at most m_queryYieldMs: the rows so far are committed
        // and the rest go in the next transaction, after the query. (Inserts
        // can be far slower than the budget's estimate: at a flood's start,
        // 2,000 rows once took 320 ms while the logging thread grew its heap.)
        const auto deadline = begin + std::chrono::milliseconds(m_queryYieldMs);
        committed = m_db->insertPrefix(m_pending, [this, deadline] {
            return m_queriesWaiting.load() > 0 && std::chrono::steady_clock::now() >= deadline;
        });
        spent = std::chrono::steady_clock::now() - begin;
        queryWaited = m_queriesWaiting.load() > 0;
        if (committed < 0)
            m_givenUpKind = m_db->lastWriteFailure();
    }
    if (committed < 0) {
        for (const OwedRecord& owed : records)
            m_pending.erase(owed.at);
        return false;
    }
    std::size_t linesWritten = 0;
    for (long row = 0; row < committed; ++row) {
        const auto written = m_pending.begin();
        const auto owed = std::find_if(records.begin(), records.end(),
                                       [written](const OwedRecord& r) { return r.at == written; });
        if (owed != records.end()) {
            *owed->tally = DropTally();
            records.erase(owed);
        } else {
            ++linesWritten;
        }
        m_pending.erase(written);
    }
    // Records beyond the committed rows are made again next time.
    for (const OwedRecord& owed : records)
        m_pending.erase(owed.at);
    m_pendingOverflowPosition -= std::min(m_pendingOverflowPosition, linesWritten);
    fitBatchToBudget(linesWritten, spent, queryWaited);
    m_consumedLines += linesWritten;
    return true;
}

void vxLogDB::fitBatchToBudget(std::size_t lines, std::chrono::steady_clock::duration spent, bool queryWaited)
{
    const auto budget = std::chrono::milliseconds(kTransactionBudgetMs);
    double fitting = double(kMaxLinesPerTransaction);
    if (queryWaited) {
        // A small batch that was quick says nothing about the rate.
        if (lines < m_batchLines && spent < budget)
            return;
        const double perLine = std::chrono::duration<double>(spent).count() / double(std::max<std::size_t>(lines, 1));
        fitting = std::chrono::duration<double>(budget).count() / std::max(perLine, 1e-9);
    } else if (lines < m_batchLines) {
        return;
    }
    // Halfway to the new size, so one slow commit does not swing it.
    const double next = (double(m_batchLines) + fitting) / 2.0;
    m_batchLines = static_cast<std::size_t>(
        std::clamp(next, double(kMinLinesPerTransaction), double(kMaxLinesPerTransaction)));
}

void vxLogDB::giveUpPending()
{
    const std::size_t lines = m_pending.size();
    m_dropped.fetch_add(lines, std::memory_order_relaxed);
    m_consumedLines += lines;
    m_givenUp.add(lines, std::time(nullptr));
    m_unwrittenOverflow.merge(m_pendingOverflow);
    m_pendingOverflow = DropTally();
    m_pending.clear();
    m_failedAttempts = 0;
}

bool vxLogDB::storeOpen()
{
    std::unique_lock<std::mutex> lock = writerTurn();
    return m_db->isOpen();
}

vxLogDB::Cycle vxLogDB::writeCycle()
{
    if (m_pending.empty()) {
        MsgQueue::Batch batch = m_queue.take(m_batchLines, kMaxBytesPerTransaction);
        m_pending = std::move(batch.lines);
        // A record still owed for a gap at the very end of the last batch
        // (its lines were committed, the transaction ended before the record)
        // stands before this batch's lines.
        m_unwrittenOverflow.merge(m_pendingOverflow);
        m_pendingOverflow = batch.overflow;
        m_pendingOverflowPosition = batch.overflowPosition;
    }
    if (m_pending.empty() && m_pendingOverflow.empty() && m_unwrittenOverflow.empty() && m_givenUp.empty())
        return Cycle::Idle;
    if (!storeOpen()) {
        // Nothing can be written anywhere: drop at once, no record to keep.
        m_dropped.fetch_add(m_pending.size(), std::memory_order_relaxed);
        m_consumedLines += m_pending.size();
        m_pending.clear();
        m_pendingOverflow = m_unwrittenOverflow = m_givenUp = DropTally();
        return Cycle::Wrote;
    }
    if (writePending()) {
        m_failedAttempts = 0;
        return Cycle::Wrote;
    }
    m_failedWrites.fetch_add(1, std::memory_order_relaxed);
    // A lock held elsewhere passes; each such attempt already waited a busy timeout.
    const bool patient = m_givenUpKind == FailureKind::Locked && !m_draining;
    const int limit = patient ? std::max(m_maxAttempts, kMaxBusyAttempts) : m_maxAttempts;
    if (++m_failedAttempts >= limit)
        giveUpPending();
    return Cycle::Failed;
}

void vxLogDB::drainAll()
{
    // Everything queued now, but not what keeps arriving after it, so that a
    // stop ends even while others go on logging.
    // A store that fails a whole batch's attempts now will fail the rest too:
    // they are given up at once, so that stopping (and so the program's
    // exit) waits for one batch's attempts at most.
    const std::uint64_t target = m_consumedLines + m_pending.size() + m_queue.size();
    const std::uint64_t givenUpBefore = m_dropped.load(std::memory_order_relaxed);
    m_draining = true;
    while (m_consumedLines < target && (!m_pending.empty() || m_queue.size() > 0)) {
        if (m_dropped.load(std::memory_order_relaxed) > givenUpBefore) {
            m_pending.splice(m_pending.end(), m_queue.takeAll());
            giveUpPending();
            break;
        }
        if (writeCycle() == Cycle::Failed)
            m_queue.pause(std::chrono::milliseconds(m_retryPauseMs));
    }
    m_draining = false;
    // A drop record still owed gets one more chance.
    if (m_pending.empty() && !(m_pendingOverflow.empty() && m_unwrittenOverflow.empty() && m_givenUp.empty()))
        writeCycle();
}

void vxLogDB::run()
{
    for (;;) {
        if (stopRequested()) {
            drainAll();
            if (endUnlessRestarted())
                return;
            continue;
        }
        switch (writeCycle()) {
        case Cycle::Wrote:
            // A backlog of at least a whole batch is written on at once;
            // otherwise the pause lets the lines gather into one transaction.
            // Writing each trickle of lines as it comes would chain tiny
            // transactions whose commits keep the file write-locked nearly
            // all the time, and readers in other processes (the viewer) would
            // run out their busy timeout.
            if (m_queue.size() >= m_batchLines)
                continue;
            m_queue.pause(std::chrono::milliseconds(std::max(m_intervalMs, 1)));
            break;
        case Cycle::Failed:
            m_queue.pause(std::chrono::milliseconds(m_retryPauseMs));
            break;
        case Cycle::Idle:
            m_queue.waitForItems(kIdleWaitLimit);
            break;
        }
        m_wakeUps.fetch_add(1, std::memory_order_relaxed);
    }
}

qint64 vxLogDB::setMaxPageCount(qint64 pages)
{
    std::unique_lock<std::mutex> lock = callerTurn();
    const qint64 cap = m_db->setMaxPageCount(pages);
    endCallerTurn(lock);
    return cap;
}

QueryResult vxLogDB::runQuery(const QString& start, const QString& end, int type)
{
    std::unique_lock<std::mutex> lock = callerTurn();
    QueryResult result = m_db->queryResult(start, end, type);
    endCallerTurn(lock);
    return result;
}

RecordList vxLogDB::queryByDay(QString day, int type)
{
    return queryDayResult(day, type).records;
}

RecordList vxLogDB::queryByRange(QString start, QString end, int type)
{
    return runQuery(start, end, type).records;
}

QueryResult vxLogDB::queryDayResult(const QString& day, int type)
{
    return runQuery(dayStart(day), dayEnd(day), type);
}

QueryResult vxLogDB::queryRangeResult(const QString& start, const QString& end, int type)
{
    return runQuery(start, end, type);
}

bool vxLogDB::lastQueryFailed()
{
    std::unique_lock<std::mutex> lock = callerTurn();
    const bool failed = m_db->lastQueryFailed();
    endCallerTurn(lock);
    return failed;
}

QString vxLogDB::lastQueryError()
{
    std::unique_lock<std::mutex> lock = callerTurn();
    const QString error = m_db->lastQueryError();
    endCallerTurn(lock);
    return error;
}

} // namespace SystemLog
