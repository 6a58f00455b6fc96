#include "write/DropLedger.h"

#include <algorithm>
#include <iterator>

namespace SystemLog {

void DropLedger::owe(const DropTally& tally)
{
    if (tally.empty())
        return;
    if (!m_owed.empty() && m_owed.back().reason == tally.reason)
        m_owed.back().merge(tally);
    else
        m_owed.push_back(tally);
}

void DropLedger::holdOverflow(const DropTally& tally, std::size_t position)
{
    owe(m_batchOverflow);
    m_batchOverflow = tally;
    m_batchOverflowPosition = position;
}

void DropLedger::giveUpCount(std::uint64_t count, std::time_t first, std::time_t last, DropReason reason)
{
    if (count == 0)
        return;
    DropTally tally;
    tally.reason = reason;
    tally.addSpan(count, first, last);
    m_givenUp.fetch_add(count, std::memory_order_relaxed);
    m_givenUpFor[static_cast<int>(reason)].fetch_add(count, std::memory_order_relaxed);
    owe(m_batchOverflow);
    m_batchOverflow = DropTally();
    owe(tally);
}

void DropLedger::giveUp(Lines& lines, DropReason reason)
{
    if (lines.empty()) {
        owe(m_batchOverflow);
        m_batchOverflow = DropTally();
        return;
    }
    const auto [oldest, newest] = std::minmax_element(
        lines.begin(), lines.end(), [](const tag_MsgItem& a, const tag_MsgItem& b) { return a.loggedAt < b.loggedAt; });
    giveUpCount(lines.size(), oldest->loggedAt, newest->loggedAt, reason);
    lines.clear();
}

std::uint64_t DropLedger::givenUpFor(DropReason reason) const
{
    return m_givenUpFor[static_cast<int>(reason)].load(std::memory_order_relaxed);
}

tag_MsgItem DropLedger::recordRow(const DropTally& tally)
{
    // Stamped when the gap began, so that a query by time finds it there.
    return tag_MsgItem{dropRecordText(tally), kDropRecordType, tally.first};
}

DropLedger::Placed DropLedger::place(Lines& lines)
{
    Placed placed;
    if (!m_batchOverflow.empty()) {
        const auto at = std::next(lines.begin(),
                                  static_cast<std::ptrdiff_t>(std::min(m_batchOverflowPosition, lines.size())));
        placed.records.push_back({lines.insert(at, recordRow(m_batchOverflow)), kBatchOverflow});
    }
    // Lines lost before this batch: their records come first, oldest first.
    for (std::size_t i = m_owed.size(); i-- > 0;)
        placed.records.push_back({lines.insert(lines.begin(), recordRow(m_owed[i])), i});
    return placed;
}

void DropLedger::unplace(Lines& lines, Placed& placed)
{
    for (const Placed::Record& record : placed.records)
        lines.erase(record.row);
    placed.records.clear();
}

std::size_t DropLedger::settle(Lines& lines, Placed& placed, long committed)
{
    std::size_t linesWritten = 0;
    std::size_t owedSettled = 0;
    for (long row = 0; row < committed; ++row) {
        const auto written = lines.begin();
        const auto record = std::find_if(placed.records.begin(), placed.records.end(),
                                         [written](const Placed::Record& r) { return r.row == written; });
        if (record == placed.records.end()) {
            ++linesWritten;
        } else {
            if (record->owedIndex == kBatchOverflow)
                m_batchOverflow = DropTally();
            else
                ++owedSettled;
            placed.records.erase(record);
        }
        lines.erase(written);
    }
    // The owed records stand first, so those committed are the oldest ones.
    m_owed.erase(m_owed.begin(), m_owed.begin() + static_cast<std::ptrdiff_t>(owedSettled));
    unplace(lines, placed);
    m_batchOverflowPosition -= std::min(m_batchOverflowPosition, linesWritten);
    return linesWritten;
}

DropLedger::Lines DropLedger::takeOwedRecords(std::uint64_t* lines)
{
    owe(m_batchOverflow);
    m_batchOverflow = DropTally();
    Lines rows;
    std::uint64_t counted = 0;
    for (const DropTally& tally : m_owed) {
        rows.push_back(recordRow(tally));
        counted += tally.count;
    }
    if (lines)
        *lines = counted;
    m_owed.clear();
    return rows;
}

} // namespace SystemLog
