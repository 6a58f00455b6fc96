#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <vxSyslog/DayBounds.h>

namespace SystemLog {

// Which records of SystemInfo a LogReader delivers, and in what order.
// Time bounds are texts in the stored form "yyyy-MM-dd hh:mm:ss", compared as
// texts exactly like the store does. Both ends are included.
struct RecordFilter
{
    enum class Order {
        Time,     // datetime, then id: a clock set back still reads in time order
        Arrival,  // id: the order the rows were stored in
    };

    QVector<int> types;            // empty: every type
    QString since;                 // empty: no lower bound
    QString until;                 // empty: no upper bound
    QString grep;                  // Perl-compatible pattern on the message; empty: all
    bool ignoreCase = false;
    int last = 0;                  // > 0: only the last N matches (still delivered in order)
    bool reverse = false;          // newest first
    qint64 afterId = 0;            // only rows with id > afterId
    qint64 upToId = 0;             // > 0: only rows with id <= upToId
    // Time order only: go on after the record with this time stamp and id
    // (before it when reversed), so that a long answer can be read in pages
    // that each seek through the index. A null time stamp is a row without one.
    bool resume = false;
    QByteArray resumeTime;
    qint64 resumeId = 0;
    Order order = Order::Time;
};

} // namespace SystemLog
