#pragma once

#include <cstddef>
#include <list>
#include <mutex>

#include "MsgItem.h"

namespace SystemLog {

// The writer's pending log lines, oldest at the front.
//
// Blocking: every operation holds m_mutex for its own short body only (an
// append, a front removal, a count or a list swap) and never while the
// database is used; nothing waits for the queue to fill or to drain.
// Producers: any thread (push). Consumer: the writer thread alone (tryPop,
// takeAll), so a tryPop that follows a positive size() always finds an item.
// Drain: takeAll() hands over everything queued at that moment in one step,
// in push order; the writer writes it as one batch.
// Overflow: there is no capacity limit and push never fails. The writer keeps
// the queue short by draining it every cycle; what it cannot write is retried a
// bounded number of times and then dropped and counted by the writer (vxLogDB).
class MsgQueue
{
public:
    std::size_t size();
    bool tryPop(tag_MsgItem& item);
    bool push(tag_MsgItem item);
    std::list<tag_MsgItem> takeAll();

private:
    std::list<tag_MsgItem> m_list;
    std::mutex m_mutex;
};

} // namespace SystemLog
