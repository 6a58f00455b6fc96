#pragma once

#include <QString>

#include <functional>
#include <memory>

#include <vxSyslog/LogReader.h>

#include "read/ReadConnection.h"


namespace SystemLog {

struct RecordCondition;
class IndexedSearch;
class SqliteStatement;

// The whole-record half of LogReader (its read(), cursor(), count(),
// lastId(), countPerDayAndType() and span()), on the reader's connection.
// A write cut off in the middle is rolled back once, before any row was
// seen, and the statement run again (LogReader.h). A pattern is searched
// through the text index where it helps (IndexedSearch.h).
class RecordReading
{
public:
    using RecordSink = LogReader::RecordSink;
    using DayTypeSink = LogReader::DayTypeSink;
    using Span = LogReader::Span;
    using FetchSink = LogReader::FetchRecordSink;

    RecordReading(ReadConnection& readConnection, IndexedSearch& indexedSearch);

    bool read(const LogQuery& filter, const RecordSink& sink);
    std::unique_ptr<LogReader::Cursor> cursor(const LogQuery& filter);
    bool count(const LogQuery& filter, qint64& result);
    bool lastId(qint64& result);
    bool countPerDayAndType(const LogQuery& filter, const DayTypeSink& sink);
    bool span(const LogQuery& filter, Span& result);
    bool fetch(const qint64* ids, int count, const FetchSink& sink);

    // For the cursor, which steps its statement itself.
    sqlite3* db() const { return connection.handle(); }
    bool failWith(int code, const QString& message);
    bool recoverInterruptedWrite();

private:
    bool fail(FailureKind failureKind, const QString& detail);
    bool notOpen();
    int runOnce(const QString& sql, const RecordCondition& condition,
                const std::function<bool(SqliteStatement&)>& onRow, bool& delivered, QString& message);
    bool run(const QString& sql, const RecordCondition& condition, const std::function<bool(SqliteStatement&)>& onRow);
    bool limitToLast(const LogQuery& filter, int count, const QString& source, RecordCondition& condition);
    bool selectStatement(const LogQuery& filter, QString& sql, RecordCondition& condition);

    ReadConnection& connection;
    IndexedSearch& search;
};

} // namespace SystemLog
