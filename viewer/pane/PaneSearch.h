#pragma once

#include <QString>
#include <QStringList>

#include <functional>

#include "PaneText.h"

// Finding text in the result pane's records, the same way whether the blocks
// are held in memory or read from the database by a worker: case-insensitive
// (Unicode case folding, as QString compares), from the selection on, wrapping
// round past the last (or first) record.
namespace PaneSearch {

// Puts the block of `record` into `block`, reusing its memory: a search may
// cross millions of records.
using BlockInto = std::function<void(int record, QString& block)>;

struct Match
{
    bool found = false;
    PaneText::Position start;
    PaneText::Position end;
};

// The next occurrence after `end`, or with `backward` the one ending before
// `start`, among `count` records. Not found when `stop` said so.
Match find(int count, const PaneText::Position& start, const PaneText::Position& end, const QString& text,
           bool backward, const BlockInto& blockInto, const PaneText::Stop& stop = PaneText::Stop());

// Where a match stands among all occurrences: the k-th of n (k from 1),
// counting occurrences as find() steps through them, left to right without
// overlap. n is 0 when `stop` said so.
struct Standing
{
    qint64 index = 0;
    qint64 total = 0;
};

// Told the standing so far now and then while a long count runs (the index
// is 0 until the match has been passed).
using StandingProgress = std::function<void(const Standing& soFar)>;

Standing standingOf(int count, const Match& match, const QString& text, const BlockInto& blockInto,
                    const PaneText::Stop& stop = PaneText::Stop(), const StandingProgress& progress = StandingProgress());

// Whether `text` could be found in a record's first line (its time stamp,
// and the names of its machine and type where the listing shows them) or
// across into its message: else it can only be found in messages, which the
// text index of the log answers (FindCandidates).
bool mayTouchHeader(const QString& text, bool namesTypes, const QStringList& machineNames);

} // namespace PaneSearch
