#include "PaneSegments.h"

#include <algorithm>

#include "PaneRecords.h"

void PaneSegments::reset(PaneRecords* records, int charsPerLine)
{
    m_records = records;
    m_charsPerLine = std::max(1, charsPerLine);
    m_recordCount = 0;
    m_segmentCount = 0;
    m_totalLines = 0;
    m_long.clear();
    m_runStart.clear();
    extend();
}

void PaneSegments::extend()
{
    const int count = m_records ? m_records->count() : 0;
    for (int r = m_recordCount; r < count; ++r) {
        const int pieces = piecesOf(r);
        if (pieces > 1)
            m_long.push_back({r, m_segmentCount, pieces});
        for (int piece = 0; piece < pieces; ++piece) {
            if (m_segmentCount % kRun == 0)
                m_runStart.push_back(m_totalLines);
            m_totalLines += linesOf(r, piece);
            ++m_segmentCount;
        }
    }
    m_recordCount = std::max(m_recordCount, count);
}

void PaneSegments::setCharsPerLine(int charsPerLine)
{
    charsPerLine = std::max(1, charsPerLine);
    if (charsPerLine == m_charsPerLine)
        return;
    m_charsPerLine = charsPerLine;
    rebuildLines();
}

// From the lengths again, record by record (one pass, no searches).
void PaneSegments::rebuildLines()
{
    reset(m_records, m_charsPerLine);
}

int PaneSegments::piecesOf(int record) const
{
    return std::max(1, (m_records->blockLength(record) + kPieceLength - 1) / kPieceLength);
}

// The time line plus the message's characters at the current width.
int PaneSegments::linesOf(int record, int piece) const
{
    const int length = std::min(kPieceLength, m_records->blockLength(record) - piece * kPieceLength);
    return 1 + std::max(0, length) / m_charsPerLine + (piece == 0 ? 1 : 0);
}

int PaneSegments::firstSegment(int record) const
{
    const auto after = std::lower_bound(m_long.begin(), m_long.end(), record,
                                        [](const LongRecord& l, int r) { return l.record < r; });
    if (after != m_long.end() && after->record == record)
        return after->firstSegment;
    if (after == m_long.begin())
        return record;
    const LongRecord& last = *(after - 1);
    return last.firstSegment + last.pieces + (record - last.record - 1);
}

int PaneSegments::pieceCount(int record) const
{
    const auto it = std::lower_bound(m_long.begin(), m_long.end(), record,
                                     [](const LongRecord& l, int r) { return l.record < r; });
    return (it != m_long.end() && it->record == record) ? it->pieces : 1;
}

int PaneSegments::recordOf(int segment) const
{
    const auto after = std::upper_bound(m_long.begin(), m_long.end(), segment,
                                        [](int s, const LongRecord& l) { return s < l.firstSegment; });
    if (after == m_long.begin())
        return segment;
    const LongRecord& last = *(after - 1);
    if (segment < last.firstSegment + last.pieces)
        return last.record;
    return last.record + 1 + (segment - last.firstSegment - last.pieces);
}

int PaneSegments::estimatedLines(int segment) const
{
    const int record = recordOf(segment);
    return linesOf(record, segment - firstSegment(record));
}

int PaneSegments::lineStart(int segment) const
{
    if (segment >= m_segmentCount)
        return m_totalLines;
    const int run = segment / kRun;
    int lines = m_runStart[std::size_t(run)];
    for (int s = run * kRun; s < segment; ++s)
        lines += estimatedLines(s);
    return lines;
}

int PaneSegments::segmentAtLine(int line) const
{
    if (m_segmentCount == 0)
        return 0;
    const auto it = std::upper_bound(m_runStart.begin(), m_runStart.end(), line);
    const int run = std::max(0, int(it - m_runStart.begin()) - 1);
    int lines = m_runStart[std::size_t(run)];
    const int end = std::min(m_segmentCount, (run + 1) * kRun);
    for (int s = run * kRun; s < end; ++s) {
        lines += estimatedLines(s);
        if (line < lines)
            return s;
    }
    return end - 1;
}
