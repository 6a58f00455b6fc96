#pragma once

#include <QString>

#include <cstdint>
#include <ctime>

#include <vxSyslog/DatabaseFailure.h>

namespace SystemLog {

// Log lines given up on for one cause, and the span of time in which that
// happened (whole seconds, local time when shown). The writer turns a tally
// into one record of type 4 as soon as it can write again, so that an operator
// reading the day sees where the gap is and how large it is.
struct DropTally
{
    std::uint64_t count = 0;
    std::time_t first = 0;
    std::time_t last = 0;

    bool empty() const { return count == 0; }
    void add(std::uint64_t lines, std::time_t when);
    void merge(const DropTally& other);
};

// Record type of the drop records ("其他信息").
constexpr int kDropRecordType = 4;

// "日志过多：已丢弃 1234 条记录（2026-12-08 10:00:01 至 10:00:05）": lines
// refused because the writer's queue was full.
QString overflowRecordText(const DropTally& tally);

// "日志写入失败（磁盘已满或数据库已达到大小上限）：已丢弃 …": lines the writer
// gave up on after its bounded retries, with the kind of the last failure.
QString writeFailureRecordText(const DropTally& tally, FailureKind kind);

} // namespace SystemLog
