#pragma once

#include <cstdint>

#include <vxSyslog/DropReason.h>

namespace SystemLog {

// What became of the lines logged through one log service, from its start
// until a flush() returned. Every line logged before the flush is in exactly
// one of the two counts: stored as a row, or given up and counted (and told
// by a drop record in the file as soon as one can be written).
struct FlushResult
{
    std::uint64_t stored = 0;
    std::uint64_t dropped = 0;
    std::uint64_t droppedFor[kDropReasonCount] = {};  // indexed by DropReason

    std::uint64_t droppedBecause(DropReason reason) const { return droppedFor[static_cast<int>(reason)]; }
};

} // namespace SystemLog
