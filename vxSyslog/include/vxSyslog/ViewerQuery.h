#pragma once

#include <QString>
#include <QVector>
#include <QtGlobal>

namespace SystemLog {

// The viewer's listing of a day or a range: the records of the chosen types
// stamped from `start` to `end` (time texts "yyyy-MM-dd hh:mm:ss", compared
// as texts as the store compares them, both included), in time order (then
// by id), or newest first. A fixed upToId gives every read of one answer the
// same rows, whatever is logged meanwhile; afterId reads what was logged
// after an answer (a live view).
struct ViewerQuery
{
    QVector<int> types;     // empty: every type stored
    QString start;
    QString end;
    qint64 upToId = 0;      // > 0: only rows with id <= upToId
    qint64 afterId = 0;     // > 0: only rows with id > afterId
    // A listing of several machines (ListingSource): upToId and afterId per
    // machine, by its place in the listing's machines; in place of the two
    // above where given.
    QVector<qint64> upToIds;
    QVector<qint64> afterIds;
    QString grep;           // a pattern on the message, as vxlog --grep; empty: every message
    bool ignoreCase = false;
    bool newestFirst = false;
    // Drop records of the period (see isGapMessage) are listed whatever the
    // types and the pattern, so that a reader of one type sees where records
    // of any type may be missing.
    bool withGaps = false;
    // Only the drop records of the period, whatever the types and pattern
    // (where a strip marks its gaps).
    bool onlyGaps = false;

    // Whether the blocks name their type: always, unless one type is listed.
    bool namesTypes() const { return types.size() != 1; }
};

} // namespace SystemLog
