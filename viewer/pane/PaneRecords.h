#pragma once

#include <QString>

// What the result pane shows, as numbered record blocks ("time:\nmessage",
// or one notice). The pane asks for a block's length for its whole content
// up front and for texts only where it lays out, finds or copies.
class PaneRecords
{
public:
    virtual ~PaneRecords() = default;

    virtual int count() const = 0;
    virtual int blockLength(int record) const = 0;
    // Characters [from, from + length) of a block, clipped to the block; may
    // read them from the database.
    virtual QString blockSlice(int record, int from, int length) = 0;

    QString blockText(int record) { return blockSlice(record, 0, blockLength(record)); }
    // The whole block into `block`, reusing its memory where it can.
    virtual void blockInto(int record, QString& block) { block = blockText(record); }
};
