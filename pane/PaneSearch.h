#pragma once

#include <QString>

#include "PaneText.h"

// Finding text in the result pane's records, the same way whether the blocks
// are held in memory or read from the database by a worker: case-insensitive
// (Unicode case folding, as QString compares), from the selection on, wrapping
// round past the last (or first) record.
namespace PaneSearch {

struct Match
{
    bool found = false;
    PaneText::Position start;
    PaneText::Position end;
};

// The next occurrence after `end`, or with `backward` the one ending before
// `start`, among `count` records. Not found when `stop` said so.
Match find(int count, const PaneText::Position& start, const PaneText::Position& end, const QString& text,
           bool backward, const PaneText::BlockAt& blockAt, const PaneText::Stop& stop = PaneText::Stop());

} // namespace PaneSearch
