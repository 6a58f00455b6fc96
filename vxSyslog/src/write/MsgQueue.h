#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <list>
#include <mutex>

#include "write/DropTally.h"
#include "store/MsgItem.h"

namespace SystemLog {

// The writer's pending log lines, oldest at the front, bounded in bytes.
//
// Capacity: every queued line costs its text (two bytes per UTF-16 unit) plus
// kItemOverheadBytes for its list node, string header and allocator slack, so
// the bound holds for the memory the lines really take. A push that would pass
// the capacity is refused: the line is dropped and counted (droppedTotal) and
// added to the overflow tally, and the logging thread goes on at once.
// Overflow position: the tally remembers how many lines were queued before its
// first drop, and take() hands it over together with the batch in which that
// position falls, so the writer stores the drop record where the gap is.
// takeAll() hands over whatever tally is open with the lines, so a queue that
// is given up or set aside whole keeps every count.
// A thread that floods a full queue is turned away by dropIfFull() without
// the lock; those drops join the tally at the writer's next take().
// Blocking: m_mutex is held for each operation's own short body only (an
// append, a count, a splice) and never while the database is used; a logging
// thread never waits for room. The writer alone waits, on m_changed: until a
// line arrives or wake() is called (waitForItems), or until wake() or a time
// limit (pause). wake() is sticky, so a wake-up that comes before the wait is
// not lost. Producers: any thread (push). Consumer: the writer thread alone.
class MsgQueue
{
public:
    static constexpr std::size_t kDefaultCapacityBytes = std::size_t(64) * 1024 * 1024;
    static constexpr std::size_t kItemOverheadBytes = 96;

    static std::size_t costOf(const tag_MsgItem& item);

    // Lines handed over by take(), and the overflow tally that belongs among them.
    struct Batch
    {
        std::list<tag_MsgItem> lines;
        std::size_t bytes = 0;
        DropTally overflow;               // empty when no drop falls in this batch
        std::size_t overflowPosition = 0; // lines of the batch queued before the first drop
    };

    explicit MsgQueue(std::size_t capacityBytes = kDefaultCapacityBytes);

    void setCapacity(std::size_t bytes);
    std::size_t capacity();
    std::size_t size();
    std::size_t bytes();

    // Whether drops wait with no queued line that a later take() would hand
    // them over with: a line refused by an empty queue (one larger than the
    // capacity), or drops dropIfFull() counted after the writer's last take.
    // A writer that ends must then take once more, or their record is lost.
    // Drops among queued lines go with those lines, to whichever take gets them.
    bool holdsDropsWithoutLines();

    // False when the queue is full: the line is dropped and counted.
    bool push(tag_MsgItem item);
    // Drops and counts a line of (at most) `cost` bytes without taking the
    // lock, when the queue is already full and has dropped before; false
    // otherwise (then push() decides). Lets a flooding thread give up a line
    // before decoding it, and keeps it off the lock the writer needs.
    bool dropIfFull(std::size_t cost);
    bool tryPop(tag_MsgItem& item);
    // Every queued line and the open overflow tally (at its position).
    Batch takeAll();
    // The oldest lines, at most maxLines of them and at most maxBytes (but at
    // least one line when any is queued).
    Batch take(std::size_t maxLines, std::size_t maxBytes);

    // Lines refused for want of room since construction.
    std::uint64_t droppedTotal() const { return m_droppedTotal.load(std::memory_order_relaxed); }
    // Lines accepted since construction: a line pushed before this call is
    // among the first acceptedTotal() lines ever taken.
    std::uint64_t acceptedTotal();

    // Writer side. waitForItems: false only when the limit passed with the
    // queue empty and no wake(). pause: true when wake() ended it early.
    bool waitForItems(std::chrono::milliseconds limit);
    bool pause(std::chrono::milliseconds limit);
    void wake();

private:
    void foldLateDrops();
    void handOverOverflow(Batch& batch, std::size_t taken);

    std::list<tag_MsgItem> m_list;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_capacity;
    std::size_t m_bytes = 0;
    std::uint64_t m_accepted = 0;
    DropTally m_overflow;
    std::size_t m_overflowPosition = 0;
    bool m_wakeRequested = false;
    std::atomic<std::uint64_t> m_droppedTotal{0};
    // Read by dropIfFull() without the lock; written under it.
    std::atomic<std::size_t> m_bytesSeen{0};
    std::atomic<std::size_t> m_capacitySeen;
    std::atomic<bool> m_overflowOpen{false};
    // Drops counted by dropIfFull(), folded into m_overflow under the lock.
    std::atomic<std::uint64_t> m_lateDrops{0};
    std::atomic<std::time_t> m_lateDropTime{0};
};

} // namespace SystemLog
