#pragma once

#include <cstdint>

#include <vxSyslog/DropReason.h>

namespace SystemLog {

// What became of the lines logged through one log service, from its start
// until a flush() returned. Every line logged before the flush is in exactly
// one of these counts: stored as a row; set aside in a side file next to the
// database, which the next writer of that file stores (the file was locked
// or failing when the service ended or switched files); given up and counted
// (and told by a drop record in the file as soon as one can be written); or
// still pending when a flush with a timeout returned first. A program that
// must know its lines are in the file checks that dropped, setAside and
// pending are all 0.
struct FlushResult
{
    std::uint64_t stored = 0;
    std::uint64_t setAside = 0;
    std::uint64_t dropped = 0;
    std::uint64_t pending = 0;
    std::uint64_t droppedFor[kDropReasonCount] = {};  // indexed by DropReason

    std::uint64_t droppedBecause(DropReason reason) const { return droppedFor[static_cast<int>(reason)]; }
};

} // namespace SystemLog
