#include "write/MsgQueue.h"

#include <algorithm>
#include <ctime>
#include <limits>
#include <utility>

namespace SystemLog {

std::size_t MsgQueue::costOf(const tag_MsgItem& item)
{
    return kItemOverheadBytes + static_cast<std::size_t>(item.message.size()) * sizeof(QChar);
}

MsgQueue::MsgQueue(std::size_t capacityBytes)
    : m_capacity(capacityBytes)
    , m_capacitySeen(capacityBytes)
{
}

void MsgQueue::setCapacity(std::size_t bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_capacity = bytes;
    m_capacitySeen = bytes;
}

std::size_t MsgQueue::capacity()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_capacity;
}

std::size_t MsgQueue::size()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_list.size();
}

std::size_t MsgQueue::bytes()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytes;
}

bool MsgQueue::dropIfFull(std::size_t cost)
{
    if (!m_overflowOpen.load(std::memory_order_acquire))
        return false;
    const std::size_t capacity = m_capacitySeen.load(std::memory_order_relaxed);
    const std::size_t used = m_bytesSeen.load(std::memory_order_relaxed);
    if (cost <= capacity - std::min(used, capacity))
        return false;
    m_lateDropTime.store(std::time(nullptr), std::memory_order_relaxed);
    m_lateDrops.fetch_add(1, std::memory_order_acq_rel);
    m_droppedTotal.fetch_add(1, std::memory_order_relaxed);
    return true;
}

bool MsgQueue::push(tag_MsgItem item)
{
    const std::size_t cost = costOf(item);
    bool wasEmpty = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (cost > m_capacity - std::min(m_bytes, m_capacity)) {
            if (m_overflow.empty())
                m_overflowPosition = m_list.size();
            m_overflow.add(1, std::time(nullptr));
            m_overflowOpen.store(true, std::memory_order_release);
            m_droppedTotal.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        wasEmpty = m_list.empty();
        m_list.push_back(std::move(item));
        m_bytes += cost;
        ++m_accepted;
        m_bytesSeen.store(m_bytes, std::memory_order_relaxed);
    }
    // The writer waits for lines only while the queue is empty.
    if (wasEmpty)
        m_changed.notify_one();
    return true;
}

bool MsgQueue::tryPop(tag_MsgItem& item)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_list.empty())
        return false;
    item = std::move(m_list.front());
    m_list.pop_front();
    m_bytes -= costOf(item);
    m_bytesSeen.store(m_bytes, std::memory_order_relaxed);
    if (!m_overflow.empty() && m_overflowPosition > 0)
        --m_overflowPosition;
    return true;
}

bool MsgQueue::holdsDropsWithoutLines()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_list.empty() && (!m_overflow.empty() || m_lateDrops.load(std::memory_order_acquire) != 0);
}

MsgQueue::Batch MsgQueue::takeAll()
{
    return take(std::numeric_limits<std::size_t>::max(), std::numeric_limits<std::size_t>::max());
}

std::uint64_t MsgQueue::acceptedTotal()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_accepted;
}

MsgQueue::Batch MsgQueue::take(std::size_t maxLines, std::size_t maxBytes)
{
    Batch batch;
    std::lock_guard<std::mutex> lock(m_mutex);
    foldLateDrops();
    std::size_t taken = 0;
    auto end = m_list.begin();
    while (end != m_list.end() && taken < maxLines) {
        const std::size_t cost = costOf(*end);
        if (taken > 0 && batch.bytes + cost > maxBytes)
            break;
        batch.bytes += cost;
        ++taken;
        ++end;
    }
    batch.lines.splice(batch.lines.end(), m_list, m_list.begin(), end);
    m_bytes -= batch.bytes;
    m_bytesSeen.store(m_bytes, std::memory_order_relaxed);
    handOverOverflow(batch, taken);
    return batch;
}

void MsgQueue::foldLateDrops()
{
    const std::uint64_t late = m_lateDrops.exchange(0, std::memory_order_acq_rel);
    if (late == 0)
        return;
    // Counted after a tally was handed over: they start the next one.
    if (m_overflow.empty())
        m_overflowPosition = m_list.size();
    m_overflow.add(late, m_lateDropTime.load(std::memory_order_relaxed));
    m_overflowOpen.store(true, std::memory_order_release);
}

void MsgQueue::handOverOverflow(Batch& batch, std::size_t taken)
{
    if (m_overflow.empty())
        return;
    if (m_overflowPosition > taken) {
        m_overflowPosition -= taken;
        return;
    }
    batch.overflow = m_overflow;
    batch.overflowPosition = m_overflowPosition;
    m_overflow = DropTally();
    m_overflowPosition = 0;
    m_overflowOpen.store(false, std::memory_order_release);
}

bool MsgQueue::waitForItems(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const bool woken = m_changed.wait_for(lock, limit, [this] { return !m_list.empty() || m_wakeRequested; });
    m_wakeRequested = false;
    return woken;
}

bool MsgQueue::pause(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const bool woken = m_changed.wait_for(lock, limit, [this] { return m_wakeRequested; });
    m_wakeRequested = false;
    return woken;
}

void MsgQueue::wake()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_wakeRequested = true;
    }
    m_changed.notify_all();
}

} // namespace SystemLog
