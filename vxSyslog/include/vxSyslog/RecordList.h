#pragma once

#include <QList>
#include <QPair>
#include <QString>

namespace SystemLog {

// Query result: (datetime text, message text) per row, in the order the
// driver delivers them. Empty on no match and on failure; the service's
// lastQueryFailed() tells the two apart.
using RecordList = QList<QPair<QString, QString>>;

// A query's rows together with its outcome, so that a caller on any thread
// reads its own query's failure and not another thread's.
struct QueryResult
{
    RecordList records;   // empty when failed
    bool failed = false;
    QString error;        // why it failed (describeFailure text); empty on success
};

} // namespace SystemLog
