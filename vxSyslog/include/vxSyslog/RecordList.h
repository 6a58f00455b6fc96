#pragma once

#include <QList>
#include <QPair>
#include <QString>

namespace SystemLog {

// Query result: (datetime text, message text) per row, in the order the
// driver delivers them. Empty on no match and on failure; the service's
// lastQueryFailed() tells the two apart.
// Which record type to use: a RecordList is what the log service's day and
// range queries return, decoded text ready to show (the viewer's pane and
// export). LogRecord (LogReader.h) is a row with its id and type as stored
// UTF-8 bytes, streamed one at a time by LogReader: for programs that read
// any number of rows, or write them out again, without decoding them.
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
