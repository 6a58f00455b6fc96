#include "vxLogDB.h"

#include <QStringLiteral>

#include <algorithm>

namespace SystemLog {

vxLogDB::vxLogDB(QObject* parent)
    : QThread(parent)
{
    m_db = new QDBSqlite(QStringLiteral("dbLog.db"), QString(), QString());
    // A batch that meets a lock held by another program waits this long before
    // it fails and is retried in a later cycle; queries wait the same.
    m_db->setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    std::lock_guard<std::mutex> lock(m_dbMutex);
    m_db->createTable();
}

vxLogDB::~vxLogDB()
{
    {
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_stop = true;
    }
    QThread::wait();
    // The thread has ended (or never ran): what was queued after its last
    // cycle, or before any start, is written here on the destroying thread.
    drainAll();
    if (m_db) {
        std::lock_guard<std::mutex> lock(m_dbMutex);
        m_db->close();
        delete m_db;
        m_db = nullptr;
    }
}

void vxLogDB::start()
{
    {
        // Locked because start() on a running writer is allowed (and does
        // nothing): the loop may be reading the flag right now.
        std::lock_guard<std::mutex> lock(m_stopMutex);
        m_stop = false;
    }
    QThread::start(QThread::InheritPriority);
}

void vxLogDB::stopProcess()
{
    std::lock_guard<std::mutex> lock(m_stopMutex);
    m_stop = true;
}

bool vxLogDB::stopRequested()
{
    std::lock_guard<std::mutex> lock(m_stopMutex);
    return m_stop;
}

void vxLogDB::pushMsg(int type, const char* text, int length)
{
    tag_MsgItem item;
    item.message = QString::fromUtf8(text, std::max(length, 0));
    item.type = type;
    m_queue.push(std::move(item));
}

void vxLogDB::writeCycle()
{
    m_pending.splice(m_pending.end(), m_queue.takeAll());
    if (m_pending.empty())
        return;

    bool written = false;
    bool storeOpen = false;
    if (m_db) {
        std::lock_guard<std::mutex> lock(m_dbMutex);
        storeOpen = m_db->isOpen();
        written = storeOpen && m_db->insertBatch(m_pending);
    }
    if (written) {
        m_pending.clear();
        m_failedAttempts = 0;
        return;
    }
    // A busy or locked file is worth another try; a store that never opened is not.
    if (storeOpen && ++m_failedAttempts < kMaxBatchAttempts)
        return;
    m_dropped.fetch_add(m_pending.size(), std::memory_order_relaxed);
    m_pending.clear();
    m_failedAttempts = 0;
}

void vxLogDB::drainAll()
{
    // Each pass either writes the batch, keeps it for one more bounded attempt,
    // or drops it, so this ends once nobody pushes any more.
    while (!m_pending.empty() || m_queue.size() > 0)
        writeCycle();
}

void vxLogDB::run()
{
    for (;;) {
        writeCycle();
        if (stopRequested())
            break;
        QThread::msleep(static_cast<unsigned long>(std::max(m_intervalMs, 1)));
    }
    drainAll();
}

RecordList vxLogDB::runQuery(const QString& start, const QString& end, int type)
{
    std::lock_guard<std::mutex> lock(m_dbMutex);
    return m_db->query(start, end, type);
}

RecordList vxLogDB::queryByDay(QString day, int type)
{
    return runQuery(QStringLiteral("%1 00:00:00").arg(day), QStringLiteral("%2 23:59:59").arg(day), type);
}

RecordList vxLogDB::queryByRange(QString start, QString end, int type)
{
    return runQuery(start, end, type);
}

QueryResult vxLogDB::queryDayResult(const QString& day, int type)
{
    return queryRangeResult(QStringLiteral("%1 00:00:00").arg(day), QStringLiteral("%2 23:59:59").arg(day), type);
}

QueryResult vxLogDB::queryRangeResult(const QString& start, const QString& end, int type)
{
    std::lock_guard<std::mutex> lock(m_dbMutex);
    return m_db->queryResult(start, end, type);
}

bool vxLogDB::lastQueryFailed()
{
    std::lock_guard<std::mutex> lock(m_dbMutex);
    return m_db->lastQueryFailed();
}

QString vxLogDB::lastQueryError()
{
    std::lock_guard<std::mutex> lock(m_dbMutex);
    return m_db->lastQueryError();
}

} // namespace SystemLog
