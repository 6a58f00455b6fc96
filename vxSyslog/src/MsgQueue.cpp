#include "MsgQueue.h"

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
{
}

void MsgQueue::setCapacity(std::size_t bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_capacity = bytes;
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
            m_droppedTotal.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        wasEmpty = m_list.empty();
        m_list.push_back(std::move(item));
        m_bytes += cost;
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
    if (!m_overflow.empty() && m_overflowPosition > 0)
        --m_overflowPosition;
    return true;
}

std::list<tag_MsgItem> MsgQueue::takeAll()
{
    return take(std::numeric_limits<std::size_t>::max(), std::numeric_limits<std::size_t>::max()).lines;
}

MsgQueue::Batch MsgQueue::take(std::size_t maxLines, std::size_t maxBytes)
{
    Batch batch;
    std::lock_guard<std::mutex> lock(m_mutex);
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
    handOverOverflow(batch, taken);
    return batch;
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
