#include "RecordKeys.h"

#include <algorithm>

void RecordKeys::append(const qint64* ids, const int* lengths, const qint8* kinds, const qint16* machines, int count)
{
    for (int done = 0; done < count;) {
        const int inBlock = m_count % kBlockSize;
        if (inBlock == 0)
            m_blocks.push_back(std::shared_ptr<Block>(new Block));
        Block& block = *m_blocks.back();
        const int n = std::min(count - done, kBlockSize - inBlock);
        std::copy(ids + done, ids + done + n, block.ids + inBlock);
        std::copy(lengths + done, lengths + done + n, block.lengths + inBlock);
        std::copy(kinds + done, kinds + done + n, block.kinds + inBlock);
        std::copy(machines + done, machines + done + n, block.machines + inBlock);
        done += n;
        m_count += n;
    }
}

RecordKeys::Snapshot RecordKeys::snapshot() const
{
    Snapshot snapshot;
    snapshot.m_blocks.assign(m_blocks.begin(), m_blocks.end());
    snapshot.m_count = m_count;
    return snapshot;
}
