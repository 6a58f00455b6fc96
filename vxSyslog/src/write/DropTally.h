#pragma once

#include <QString>

#include <cstdint>
#include <ctime>

#include <vxSyslog/DropReason.h>

namespace SystemLog {

// Log lines given up for one reason, and the span of time in which they were
// logged (whole seconds). The writer turns a tally into one record of type 4
// as soon as it can write again, so that an operator reading the day sees
// where the gap is, how large it is and why.
struct DropTally
{
    std::uint64_t count = 0;
    std::time_t first = 0;
    std::time_t last = 0;
    DropReason reason = DropReason::QueueFull;

    bool empty() const { return count == 0; }
    void add(std::uint64_t lines, std::time_t when) { addSpan(lines, when, when); }
    void addSpan(std::uint64_t lines, std::time_t from, std::time_t to);
    // Sums `other` in; the reason stays this tally's (or becomes other's when
    // this one is empty).
    void merge(const DropTally& other);
};

// Record type of the drop records ("其他信息").
constexpr int kDropRecordType = 4;

// The drop record's text, ending in a line feed like every logged line:
// "日志过多：已丢弃 1234 条记录（2026-12-08 10:00:01 至 10:00:05）" for a full
// queue, "日志写入失败（<reason>）：已丢弃 …" for every other reason.
QString dropRecordText(const DropTally& tally);

} // namespace SystemLog
