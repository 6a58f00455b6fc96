#include "MsgQueue.h"

#include <utility>

namespace SystemLog {

std::size_t MsgQueue::size()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_list.size();
}

bool MsgQueue::tryPop(tag_MsgItem& item)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_list.empty())
        return false;
    item = m_list.front();
    m_list.pop_front();
    return true;
}

bool MsgQueue::push(tag_MsgItem item)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_list.push_back(std::move(item));
    return true;
}

std::list<tag_MsgItem> MsgQueue::takeAll()
{
    std::list<tag_MsgItem> taken;
    std::lock_guard<std::mutex> lock(m_mutex);
    taken.swap(m_list);
    return taken;
}

} // namespace SystemLog
