#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <list>
#include <vector>

#include <vxSyslog/DropReason.h>

#include "write/DropTally.h"
#include "store/MsgItem.h"

namespace SystemLog {

// The writer's account of the lines it gave up, and of the drop records it
// still owes the file.
//
// Every line given up is counted at once, under its reason, and lands in a
// tally that is owed a record. Tallies are owed in the order the losses
// happened; a loss for the same reason as the one before it joins that tally,
// a loss for another reason starts a new one, so each record names the reason
// its own lines were lost for. A queue overflow arrives with the batch it
// falls in and its record goes where the gap is, after the lines queued
// before the first drop. A record counts as told only once the transaction
// that holds it is committed; otherwise it is made again next time.
// Threads: the writer thread alone changes the ledger (and the destroying
// thread, after the writer's join); the counts may be read from any thread.
class DropLedger
{
public:
    using Lines = std::list<tag_MsgItem>;

    // Records placed among a batch's lines for one transaction.
    struct Placed
    {
        struct Record
        {
            Lines::iterator row;
            std::size_t owedIndex;  // kBatchOverflow for the batch's own overflow
        };
        std::vector<Record> records;
    };
    static constexpr std::size_t kBatchOverflow = static_cast<std::size_t>(-1);

    // The queue's overflow tally that falls within the batch just taken: its
    // record belongs after the first `position` lines. One still held from the
    // batch before is owed from now on (its lines are written already).
    void holdOverflow(const DropTally& tally, std::size_t position);
    // Gives the lines up for `reason`: counted now, told by a record later.
    // The batch's overflow, if any, is owed from now on as well.
    void giveUp(Lines& lines, DropReason reason);
    // Gives `count` lines logged between `first` and `last` up for `reason`.
    void giveUpCount(std::uint64_t count, std::time_t first, std::time_t last, DropReason reason);

    bool owesRecords() const { return !m_owed.empty() || !m_batchOverflow.empty(); }
    // Puts a row for every record owed into `lines`: the owed ones before the
    // batch, the batch's overflow at its place.
    Placed place(Lines& lines);
    // After a transaction of the placed rows failed: takes the record rows out again.
    void unplace(Lines& lines, Placed& placed);
    // After the first `committed` rows were committed: removes them from
    // `lines`, settles the records among them, takes the other record rows
    // out again and returns how many of the batch's own lines were written.
    std::size_t settle(Lines& lines, Placed& placed, long committed);
    // Every record still owed, as rows, for a side file; nothing is owed after.
    // `lines`, when given, gets the number of lines those records count.
    Lines takeOwedRecords(std::uint64_t* lines = nullptr);

    // Lines given up by the writer, in total and for one reason; any thread.
    std::uint64_t givenUp() const { return m_givenUp.load(std::memory_order_relaxed); }
    std::uint64_t givenUpFor(DropReason reason) const;

private:
    void owe(const DropTally& tally);
    static tag_MsgItem recordRow(const DropTally& tally);

    std::vector<DropTally> m_owed;
    DropTally m_batchOverflow;
    std::size_t m_batchOverflowPosition = 0;
    std::atomic<std::uint64_t> m_givenUp{0};
    std::atomic<std::uint64_t> m_givenUpFor[kDropReasonCount] = {};
};

} // namespace SystemLog
