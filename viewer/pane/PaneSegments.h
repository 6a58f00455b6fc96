#pragma once

#include <vector>

class PaneRecords;

// The result pane's records cut into segments, and the estimated lines of
// each, from nothing but the blocks' lengths. A record is one segment unless
// its block is longer than kPieceLength, when it is pieces of that length;
// such records are rare (the writer's lines are shorter), so only they are
// stored, and a record's first segment is found by a binary search among them.
// Estimated lines (the scroll bar's unit) are summed per run of kRun
// segments, so memory does not grow with every record and a segment's first
// line is a sum over at most one run.
class PaneSegments
{
public:
    static constexpr int kPieceLength = 4096;
    static constexpr int kRun = 256;

    // Starts over with the records' blocks, as many as there are now.
    void reset(PaneRecords* records, int charsPerLine);
    // Takes in the records appended since.
    void extend();
    void setCharsPerLine(int charsPerLine);

    int recordCount() const { return m_recordCount; }
    int segmentCount() const { return m_segmentCount; }
    int firstSegment(int record) const;
    int pieceCount(int record) const;
    int recordOf(int segment) const;

    int estimatedLines(int segment) const;
    // Estimated lines before `segment` (before the end for segmentCount()).
    int lineStart(int segment) const;
    int totalLines() const { return m_totalLines; }
    // The segment that holds estimated line `line`.
    int segmentAtLine(int line) const;

private:
    struct LongRecord
    {
        int record;
        int firstSegment;
        int pieces;
    };

    int piecesOf(int record) const;
    int linesOf(int record, int piece) const;
    void rebuildLines();

    PaneRecords* m_records = nullptr;
    int m_charsPerLine = 40;
    int m_recordCount = 0;
    int m_segmentCount = 0;
    int m_totalLines = 0;
    std::vector<LongRecord> m_long;
    std::vector<int> m_runStart; // estimated lines before segment k * kRun
};
