#include "write/vxLogDB.h"

#include <vxSyslog/DayBounds.h>
#include <vxSyslog/LogReader.h>

#include <QDir>
#include <QFileInfo>
#include <QStringLiteral>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>

#include "store/VacuumTurn.h"
#include "write/WriteFailureNotice.h"

namespace SystemLog {

namespace {

// An idle writer sleeps until a line or a stop wakes it; the limit only bounds
// how long a missed notification could go unnoticed.
constexpr std::chrono::minutes kIdleWaitLimit(10);

// Relative to the working directory of the moment. When that directory is
// gone (its path is then unknown) the path stays relative, so that the file
// can never land anywhere else.
QString resolvedPath(const QString& path)
{
    if (QFileInfo(path).isAbsolute())
        return QDir::cleanPath(path);
    const QString current = QDir::currentPath();
    if (current.isEmpty() || !QFileInfo(current).isAbsolute())
        return path;
    return QDir::cleanPath(current + QLatin1Char('/') + path);
}

vxLogDB::Settings& initialSettings()
{
    static vxLogDB::Settings settings;
    return settings;
}

} // namespace

void vxLogDB::setInitialSettings(const Settings& settings)
{
    initialSettings() = settings;
}

vxLogDB::vxLogDB(QObject* parent)
    : vxLogDB(QStringLiteral("dbLog.db"), parent)
{
}

vxLogDB::vxLogDB(const QString& databasePath, QObject* parent)
    : QThread(parent)
    , m_path(resolvedPath(databasePath))
    , m_vacuumTurn(VacuumTurn::pathFor(m_path))
    , m_unwritten(m_path)
{
    const Settings& settings = initialSettings();
    setCapacityBytes(settings.capacityBytes);
    setRetryLimit(settings.attempts, settings.retryPauseMs);
    m_endLockWait = settings.endLockWait;
    m_keepsTextIndex = settings.keepsTextIndex;
    m_db = new QDBSqlite(m_path, QString(), QString());
    std::lock_guard<std::mutex> lock(m_dbMutex);
    // Side files an earlier writer left are taken in by the writer thread's
    // first cycle, not here, and a lock another program holds is waited for
    // there too: the caller's start-up never waits for either.
    m_db->createTable(QDBSqlite::LockWait::None);
}

vxLogDB::~vxLogDB()
{
    askToStop();
    m_keeper.join();
    QThread::wait();
    {
        // The loop's last act was under this lock (endUnlessRestarted): taking
        // it orders everything the thread did before what follows here.
        std::lock_guard<std::mutex> lock(m_stopMutex);
    }
    // The thread has ended (or never ran): what was queued after its last
    // cycle, or before any start, is handled here on the destroying thread.
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
        m_running = true;
    }
    if (launch) {
        QThread::wait();
        QThread::start(QThread::InheritPriority);
    }
    if (m_keepsTextIndex) {
        QString path;
        {
            std::lock_guard<std::mutex> lock(m_dbMutex);
            path = m_path;
        }
        m_keeper.start(path);
    }
}

void vxLogDB::stopProcess()
{
    askToStop();
}

void vxLogDB::askToStop()
{
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        // The end's deadline counts from the first request, also for the
        // destructor's own drain after the thread's.
        if (!m_stop)
            m_stopAskedAt = std::chrono::steady_clock::now();
        m_stop = true;
    }
    m_keeper.stop();
    m_queue.wake();
}

std::chrono::steady_clock::time_point vxLogDB::endDeadline()
{
    std::lock_guard<std::mutex> lock(m_stopMutex);
    const auto from = m_stop ? m_stopAskedAt : std::chrono::steady_clock::now();
    return from + m_endLockWait;
}

void vxLogDB::setRetryLimit(int attempts, int pauseMs)
{
    m_maxAttempts = std::max(attempts, 1);
    m_retryPauseMs = std::max(pauseMs, 0);
}

void vxLogDB::setDatabasePath(const QString& databasePath)
{
    const QString path = resolvedPath(databasePath);
    std::lock_guard<std::mutex> lock(m_dbMutex);
    if (path == m_path)
        return;
    m_db->close();
    delete m_db;
    m_path = path;
    m_vacuumTurn = VacuumTurn::pathFor(m_path);
    m_db = new QDBSqlite(m_path, QString(), QString());
    m_unwritten.setDatabasePath(m_path);
    m_nextUnwrittenCheck = {};
    m_db->createTable(QDBSqlite::LockWait::None);
}

QString vxLogDB::databasePath()
{
    std::unique_lock<std::mutex> lock = callerTurn();
    const QString path = m_path;
    endCallerTurn(lock);
    return path;
}

bool vxLogDB::usesDatabase(const QString& databasePath)
{
    return resolvedPath(databasePath) == this->databasePath();
}

bool vxLogDB::stopRequested()
{
    std::lock_guard<std::mutex> lock(m_stopMutex);
    return m_stop;
}

bool vxLogDB::endUnlessRestarted()
{
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        if (!m_stop)
            return false;
        m_loopActive = false;
        m_running = false;
    }
    // A flush waiting for lines this loop will no longer write returns.
    std::lock_guard<std::mutex> lock(m_progressMutex);
    m_progress.notify_all();
    return true;
}

void vxLogDB::pushMsg(int type, const char* text, int length)
{
    // UTF-16 needs at most one unit per UTF-8 byte: an upper bound of the cost.
    const std::size_t bytes = static_cast<std::size_t>(std::max(length, 0));
    if (m_queue.dropIfFull(MsgQueue::kItemOverheadBytes + bytes * sizeof(QChar))) {
        // A thread that floods a full queue gives its turn on the processor
        // away: the writer that makes room (or ends the service) needs it
        // more than a line that is dropped anyway.
        std::this_thread::yield();
        return;
    }
    m_queue.push(tag_MsgItem{QString::fromUtf8(text, std::max(length, 0)), type, std::time(nullptr)});
}

std::uint64_t vxLogDB::droppedCount() const
{
    return m_queue.droppedTotal() + m_drops.givenUp();
}

FlushResult vxLogDB::flush()
{
    return flush(kFlushTimeout);
}

FlushResult vxLogDB::flush(std::chrono::milliseconds timeout)
{
    const std::uint64_t logged = m_queue.acceptedTotal();
    std::uint64_t finished = 0;
    {
        std::unique_lock<std::mutex> lock(m_progressMutex);
        m_progress.wait_for(lock, std::max(timeout, std::chrono::milliseconds(0)),
                            [this, logged] { return m_finished >= logged || !m_running; });
        finished = m_finished;
    }
    FlushResult result;
    result.stored = m_stored.load();
    result.setAside = m_setAside.load();
    result.dropped = droppedCount();
    result.droppedFor[static_cast<int>(DropReason::QueueFull)] = m_queue.droppedTotal();
    for (int reason = 0; reason < kDropReasonCount; ++reason)
        result.droppedFor[reason] += m_drops.givenUpFor(DropReason(reason));
    // A writer that is not running finishes nothing more until it starts.
    result.pending = logged > finished ? logged - finished : 0;
    return result;
}

void vxLogDB::linesDone(std::size_t lines)
{
    if (lines == 0)
        return;
    std::lock_guard<std::mutex> lock(m_progressMutex);
    m_finished += lines;
    m_progress.notify_all();
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
    DropLedger::Placed records = m_drops.place(m_pending);
    long committed = -1;
    std::chrono::steady_clock::duration spent{};
    bool queryWaited = false;
    {
        std::unique_lock<std::mutex> lock = writerTurn();
        const auto begin = std::chrono::steady_clock::now();
        // A query that comes while a batch is being written waits for the
        // insert loop at most m_queryYieldMs: the rows so far are committed
        // and the rest go in the next transaction, after the query. Inserts
        // can run far slower than the budget's estimate while logging
        // threads compete for the machine (bench/README.md).
        const auto deadline = begin + std::chrono::milliseconds(m_queryYieldMs);
        // A drain past its deadline commits what it has, too: the rest is
        // set aside rather than keep the end waiting. So does a transaction
        // that a vacuum of another process waits for (it looks at most every
        // kVacuumLookMs), so that a vacuum waits for the lock about as long
        // as a query here does.
        auto nextVacuumLook = deadline;
        committed = m_db->insertPrefix(m_pending, [this, deadline, &nextVacuumLook] {
            const auto now = std::chrono::steady_clock::now();
            if ((m_queriesWaiting.load() > 0 && now >= deadline) || (m_draining && now >= m_drainDeadline))
                return true;
            if (m_draining || now < nextVacuumLook)
                return false;
            nextVacuumLook = now + std::chrono::milliseconds(kVacuumLookMs);
            return VacuumTurn::requested(m_vacuumTurn);
        });
        spent = std::chrono::steady_clock::now() - begin;
        queryWaited = m_queriesWaiting.load() > 0;
    }
    if (committed < 0) {
        m_drops.unplace(m_pending, records);
        return false;
    }
    const std::size_t linesWritten = m_drops.settle(m_pending, records, committed);
    if (committed > 0)
        m_keeper.nudge();
    fitBatchToBudget(linesWritten, spent, queryWaited);
    m_stored.fetch_add(linesWritten, std::memory_order_relaxed);
    linesDone(linesWritten);
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

QString vxLogDB::failureText()
{
    std::unique_lock<std::mutex> lock = writerTurn();
    if (m_db->refused())
        return m_db->openFailure();
    const QString detail = m_db->lastWriteError().trimmed();
    const QString reason = dropReasonText(m_db->lastWriteReason());
    return detail.isEmpty() ? reason : reason + QStringLiteral("（数据库信息：%1）").arg(detail);
}

void vxLogDB::giveUpPending(DropReason reason)
{
    const std::size_t lines = m_pending.size();
    m_drops.giveUp(m_pending, reason);
    m_failedAttempts = 0;
    m_recordsWaitForLines = true;
    if (lines > 0)
        WriteFailureNotice::linesGivenUp(m_path, reason, failureText());
    linesDone(lines);
}

void vxLogDB::giveUpForRefusedFile()
{
    giveUpPending(DropReason::Refused);
    // No record can ever reach a file that is not a log database.
    m_drops.takeOwedRecords();
}

vxLogDB::Store vxLogDB::storeState()
{
    yieldToVacuum();
    std::unique_lock<std::mutex> lock = writerTurn();
    const QDBSqlite::PathChange change = m_db->followPath();
    if (change != QDBSqlite::PathChange::None)
        WriteFailureNotice::fileMoved(m_path, change == QDBSqlite::PathChange::Deleted);
    const int busyMs = attemptBusyMs();
    const bool ready = m_db->ready()
        || m_db->createTable(busyMs < kBusyTimeoutMs ? QDBSqlite::LockWait::None : QDBSqlite::LockWait::BusyTimeout);
    if (ready) {
        m_db->setBusyTimeout(busyMs);
        return Store::Ready;
    }
    return m_db->refused() ? Store::Refused : Store::Failing;
}

int vxLogDB::attemptBusyMs() const
{
    if (!m_draining)
        return kBusyTimeoutMs;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_drainDeadline - std::chrono::steady_clock::now());
    return int(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, kBusyTimeoutMs));
}

void vxLogDB::yieldToVacuum()
{
    // The end keeps its own deadline; a vacuum waits for it.
    if (m_draining)
        return;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(VacuumTurn::kWriterYieldMs);
    while (VacuumTurn::requested(m_vacuumTurn) && std::chrono::steady_clock::now() < until && !stopRequested())
        m_queue.pause(std::chrono::milliseconds(5));
}

bool vxLogDB::takeInDue() const
{
    return m_unwritten.claimed() || std::chrono::steady_clock::now() >= m_nextUnwrittenCheck;
}

bool vxLogDB::claimSideFile()
{
    if (!m_unwritten.claimNext()) {
        m_nextUnwrittenCheck = std::chrono::steady_clock::now() + kUnwrittenCheckInterval;
        return false;
    }
    qint64 stored = -1;
    {
        std::unique_lock<std::mutex> lock = writerTurn();
        stored = m_db->takenInRows(m_unwritten.claimedName());
    }
    if (stored < 0) {
        // Not known what was stored: the file waits for a later attempt.
        m_unwritten.giveBack();
        m_nextUnwrittenCheck = std::chrono::steady_clock::now() + kUnwrittenCheckInterval;
        return false;
    }
    return m_unwritten.skip(std::uint64_t(stored));
}

bool vxLogDB::takeInStep()
{
    if (!m_unwritten.claimed() && !claimSideFile())
        return false;
    std::list<tag_MsgItem> rows;
    if (!m_unwritten.readBatch(rows, kTakeInBatchLines, kMaxBytesPerTransaction)) {
        if (!m_unwritten.claimed())
            return true;  // set aside as unreadable; the next one follows
        // Every row is stored: the file goes, then its record.
        const std::string name = m_unwritten.claimedName();
        m_unwritten.finishClaim();
        std::unique_lock<std::mutex> lock = writerTurn();
        m_db->forgetTakenIn(name);
        return true;
    }
    const std::uint64_t done = m_unwritten.rowsRead();
    bool stored = false;
    {
        std::unique_lock<std::mutex> lock = writerTurn();
        stored = m_db->insertTakenIn(rows, m_unwritten.claimedName(), done);
    }
    if (!stored) {
        m_unwritten.giveBack();
        m_nextUnwrittenCheck = std::chrono::steady_clock::now() + kUnwrittenCheckInterval;
    } else {
        m_keeper.nudge();
    }
    return stored;
}

vxLogDB::Cycle vxLogDB::writeCycle()
{
    if (m_pending.empty()) {
        MsgQueue::Batch batch = m_queue.take(m_batchLines, kMaxBytesPerTransaction);
        m_pending = std::move(batch.lines);
        m_drops.holdOverflow(batch.overflow, batch.overflowPosition);
        if (!m_pending.empty())
            m_recordsWaitForLines = false;
    }
    const bool recordsDue = m_drops.owesRecords() && (m_draining || !m_recordsWaitForLines);
    if (m_pending.empty() && !recordsDue) {
        // Side files are taken in even by a writer that has nothing of its own.
        if (!m_draining && takeInDue() && storeState() == Store::Ready && takeInStep())
            return Cycle::Wrote;
        // An idle writer holds no claim: another writer may finish the file.
        m_unwritten.giveBack();
        return Cycle::Idle;
    }
    switch (storeState()) {
    case Store::Refused:
        giveUpForRefusedFile();
        return Cycle::Wrote;
    case Store::Failing:
        return failedAttempt();
    case Store::Ready:
        break;
    }
    if (!m_draining && takeInDue())
        takeInStep();
    if (writePending()) {
        m_failedAttempts = 0;
        m_endWaitUsedUp = false;
        return Cycle::Wrote;
    }
    return failedAttempt();
}

vxLogDB::Cycle vxLogDB::failedAttempt()
{
    m_failedWrites.fetch_add(1, std::memory_order_relaxed);
    {
        std::unique_lock<std::mutex> lock = writerTurn();
        m_lastFailure = m_db->lastWriteReason();
    }
    ++m_failedAttempts;
    // The drain decides for itself when to stop trying (drainAll).
    if (m_draining)
        return Cycle::Failed;
    // A lock held elsewhere passes; each such attempt already waited a busy timeout.
    const int limit = m_lastFailure == DropReason::Locked ? std::max(m_maxAttempts, kMaxBusyAttempts) : m_maxAttempts;
    if (m_failedAttempts >= limit)
        giveUpPending(m_lastFailure);
    return Cycle::Failed;
}

bool vxLogDB::endWaitOver(std::chrono::steady_clock::time_point deadline)
{
    const bool pastDeadline = std::chrono::steady_clock::now() >= deadline;
    if (m_lastFailure == DropReason::Locked)
        return m_endWaitUsedUp || pastDeadline;
    return m_failedAttempts >= m_maxAttempts || pastDeadline;
}

void vxLogDB::drainAll()
{
    // Everything accepted until now, but not what keeps arriving after it,
    // so that a stop ends even while others go on logging.
    const std::uint64_t target = m_queue.acceptedTotal();
    const auto drainBegan = std::chrono::steady_clock::now();
    const auto deadline = endDeadline();
    m_drainDeadline = deadline;
    m_draining = true;
    m_failedAttempts = 0;
    for (;;) {
        bool linesLeft = false;
        {
            std::lock_guard<std::mutex> lock(m_progressMutex);
            linesLeft = m_finished < target;
        }
        if (!linesLeft && !m_drops.owesRecords() && !m_queue.holdsDropsWithoutLines())
            break;
        const Cycle cycle = writeCycle();
        if (cycle == Cycle::Idle)
            break;
        // Ending is bounded under any load: what a flood queued beyond the
        // deadline is set aside, not written on for minutes.
        if (cycle == Cycle::Wrote && std::chrono::steady_clock::now() >= deadline) {
            setAsideRest(QStringLiteral("结束前来不及写完所有日志行"));
            break;
        }
        if (cycle == Cycle::Failed) {
            if (endWaitOver(deadline)) {
                m_endWaitUsedUp = m_endWaitUsedUp || m_lastFailure == DropReason::Locked;
                setAsideRest();
                break;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            waitFor(Wait::Retry, std::clamp(left, std::chrono::milliseconds(0), std::chrono::milliseconds(m_retryPauseMs)));
        }
    }
    // A program that ends right after it started (a short command) still
    // takes in what waits beside its file, in bounded batches, until the
    // deadline; a file left half way is given back with its record.
    const auto takeInEnd = std::min(deadline, drainBegan + kEndTakeInLimit);
    while (takeInDue() && std::chrono::steady_clock::now() < takeInEnd && storeState() == Store::Ready
           && takeInStep()) {
    }
    m_unwritten.giveBack();
    m_draining = false;
    m_failedAttempts = 0;
}

void vxLogDB::setAsideRest(const QString& reason)
{
    MsgQueue::Batch rest = m_queue.takeAll();
    if (!rest.overflow.empty())
        m_drops.holdOverflow(rest.overflow, m_pending.size() + rest.overflowPosition);
    m_pending.splice(m_pending.end(), rest.lines);
    const QString why = reason.isEmpty() ? failureText() : reason;
    DropLedger::Placed records = m_drops.place(m_pending);
    if (m_pending.empty())
        return;
    if (m_unwritten.save(m_pending)) {
        const std::size_t lines = m_drops.settle(m_pending, records, long(m_pending.size()));
        m_setAside.fetch_add(lines, std::memory_order_relaxed);
        if (lines > 0)
            WriteFailureNotice::linesSetAside(m_path, why, lines, m_unwritten.savedPath());
        linesDone(lines);
        return;
    }
    // Not even a side file: the lines are given up, and what counts them
    // gets one more, much smaller, side file.
    m_drops.unplace(m_pending, records);
    giveUpPending(m_lastFailure);
    std::uint64_t lost = 0;
    const std::list<tag_MsgItem> owed = m_drops.takeOwedRecords(&lost);
    // The last resort: when not even the count can be kept beside the file,
    // standard error is the only trace, so it says exactly how many.
    if (!owed.empty() && !m_unwritten.save(owed))
        WriteFailureNotice::linesLost(m_path, why, lost);
}

void vxLogDB::waitFor(Wait::Kind kind, std::chrono::milliseconds limit)
{
    if (m_waitHook)
        m_waitHook(Wait{kind, limit, m_draining});
    if (kind == Wait::ForLines)
        m_queue.waitForItems(limit);
    else
        m_queue.pause(limit);
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
            // So is a side file being taken in.
            if (m_queue.size() >= m_batchLines || m_unwritten.claimed())
                continue;
            waitFor(Wait::Pause, std::chrono::milliseconds(std::max(m_intervalMs, 1)));
            break;
        case Cycle::Failed:
            waitFor(Wait::Retry, std::chrono::milliseconds(m_retryPauseMs));
            break;
        case Cycle::Idle:
            waitFor(Wait::ForLines, kIdleWaitLimit);
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

// Queries read through a read-only connection of their own, as every
// reader of the log does, on the caller's thread: the writer's connection
// is only asked to exist first.
QueryResult vxLogDB::runQuery(const QString& start, const QString& end, int type)
{
    std::unique_lock<std::mutex> lock = callerTurn();
    // A file that could not be opened before (a folder that did not exist
    // yet, say) is tried again; a refused one stays refused.
    if (!m_db->isOpen() && !m_db->refused())
        m_db->createTable();
    const QString path = m_path;
    endCallerTurn(lock);

    QueryResult result;
    LogReader reader(path);
    LogQuery query;
    query.types = {type};
    query.since = start;
    query.until = end;
    const bool read = reader.open() && reader.read(query, [&result](const LogRecord& record) {
        result.records.append(qMakePair(QString::fromUtf8(record.datetime), QString::fromUtf8(record.message)));
        return true;
    });
    if (!read) {
        // A step can fail half way (the file locked past the busy timeout,
        // a corrupt page): then the rows so far are not the answer.
        result.records.clear();
        result.failed = true;
        result.error = reader.failureText();
    }
    setQueryOutcome(result);
    return result;
}

void vxLogDB::setQueryOutcome(const QueryResult& result)
{
    std::lock_guard<std::mutex> lock(m_queryOutcomeMutex);
    m_lastQueryFailed = result.failed;
    m_lastQueryError = result.error;
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
    std::lock_guard<std::mutex> lock(m_queryOutcomeMutex);
    return m_lastQueryFailed;
}

QString vxLogDB::lastQueryError()
{
    std::lock_guard<std::mutex> lock(m_queryOutcomeMutex);
    return m_lastQueryError;
}

} // namespace SystemLog
