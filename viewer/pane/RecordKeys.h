#pragma once

#include <QtGlobal>

#include <memory>
#include <vector>

// A listed answer as keys: per record its machine (its place in the
// listing's machines), row id, the length of its block and its kind (type,
// drop record), fifteen bytes a record. Appended only on the GUI thread, into blocks that are
// never moved or changed below the count, so a worker may read a Snapshot
// (the blocks and the count when it was taken) while keys are appended behind
// it; the blocks live as long as any snapshot of them.
class RecordKeys
{
public:
    static constexpr int kBlockSize = 16384;

    // A record's type code 0..4 (-1: another), plus kGap for a drop record.
    static constexpr qint8 kGap = 16;
    static int typeOfKind(qint8 kind) { return kind >= kGap ? kind - kGap : kind; }
    static bool isGapKind(qint8 kind) { return kind >= kGap - 1; }

    struct Block
    {
        qint64 ids[kBlockSize];
        qint32 lengths[kBlockSize];
        qint8 kinds[kBlockSize];
        qint16 machines[kBlockSize];
    };

    class Snapshot
    {
    public:
        int count() const { return m_count; }
        qint64 id(int record) const { return m_blocks[std::size_t(record / kBlockSize)]->ids[record % kBlockSize]; }
        int length(int record) const { return m_blocks[std::size_t(record / kBlockSize)]->lengths[record % kBlockSize]; }
        qint8 kind(int record) const { return m_blocks[std::size_t(record / kBlockSize)]->kinds[record % kBlockSize]; }
        int machine(int record) const { return m_blocks[std::size_t(record / kBlockSize)]->machines[record % kBlockSize]; }

    private:
        friend class RecordKeys;
        std::vector<std::shared_ptr<const Block>> m_blocks;
        int m_count = 0;
    };

    void append(const qint64* ids, const int* lengths, const qint8* kinds, const qint16* machines, int count);

    int count() const { return m_count; }
    qint64 id(int record) const { return m_blocks[std::size_t(record / kBlockSize)]->ids[record % kBlockSize]; }
    int length(int record) const { return m_blocks[std::size_t(record / kBlockSize)]->lengths[record % kBlockSize]; }
    qint8 kind(int record) const { return m_blocks[std::size_t(record / kBlockSize)]->kinds[record % kBlockSize]; }
    int machine(int record) const { return m_blocks[std::size_t(record / kBlockSize)]->machines[record % kBlockSize]; }
    Snapshot snapshot() const;

private:
    std::vector<std::shared_ptr<Block>> m_blocks;
    int m_count = 0;
};
