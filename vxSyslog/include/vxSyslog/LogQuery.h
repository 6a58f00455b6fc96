#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <vxSyslog/DayBounds.h>

namespace SystemLog {

// Which records of a log every reader delivers, and in what order: vxlog's
// commands, the viewer's listings, the day export and the service's queries
// all ask with it, of one file, several merged, or the fleet's PostgreSQL.
//
// Time bounds are texts in the stored form "yyyy-MM-dd hh:mm:ss", compared as
// texts exactly as the store compares them; both ends are included. A fixed
// upToId gives every read of one answer the same rows, whatever is logged
// meanwhile; afterId reads what was logged after an answer (a live view).
struct LogQuery
{
    enum class Order {
        Time,     // datetime, then id: a clock set back still reads in time order
        Arrival,  // id: the order the rows were stored in
    };

    QVector<int> types;       // empty: every type stored
    QString since;            // empty: no lower bound
    QString until;            // empty: no upper bound
    QString grep;             // a pattern on the message, as vxlog --grep; empty: every message
    bool ignoreCase = false;
    bool fixedStrings = false; // grep is plain text, not a regular expression (grep -F)
    bool newestFirst = false;
    int last = 0;             // > 0: only the last N matches (still delivered in order)
    qint64 afterId = 0;       // > 0: only rows with id > afterId
    qint64 upToId = 0;        // > 0: only rows with id <= upToId
    // A listing of several machines (LogSource): upToId and afterId per
    // machine, by its place in the source's machines; in place of the two
    // above where given.
    QVector<qint64> upToIds;
    QVector<qint64> afterIds;
    // Time order only: go on after the record with this time stamp and id
    // (before it, newest first), so that a long answer can be read in pages
    // that each seek through the index. A null time stamp is a row without one.
    bool resume = false;
    QByteArray resumeTime;
    qint64 resumeId = 0;
    Order order = Order::Time;
    // Drop records of the period (see isGapMessage) are listed whatever the
    // types and the pattern, so that a reader of one type sees where records
    // of any type may be missing.
    bool withGaps = false;
    // Only the drop records of the period, whatever the types and pattern
    // (where a strip marks its gaps).
    bool onlyGaps = false;

    // Whether a listing's blocks name their type: always, unless one type is listed.
    bool namesTypes() const { return types.size() != 1; }
};

} // namespace SystemLog
