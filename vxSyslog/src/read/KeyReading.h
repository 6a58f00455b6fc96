#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>
#include <vector>

#include <vxSyslog/LogReader.h>

#include "read/ReadConnection.h"

struct sqlite3_stmt;
struct sqlite3_value;

namespace SystemLog {

class IndexedSearch;
class SqliteStatement;
struct KeyStream;
struct KeyMerge;
using ValuePtr = std::shared_ptr<sqlite3_value>;

// The key half of LogReader (countListed(), readKeys(), readBlocks(),
// countBetween(), fetch() and the key cursor), on the reader's connection.
// A listing is read as one stream per stored type, each in the order of the
// (type, datetime) index, merged by time, in slices of about the slice time
// so that a writer of the file waits no longer than that (LogReader.h).
// A pattern is searched through the text index where it helps: the streams
// then read the rows it found (IndexedSearch.h).
class KeyReading
{
public:
    using KeySink = LogReader::KeySink;
    using BlockSink = LogReader::BlockSink;
    using FetchSink = LogReader::FetchSink;

    KeyReading(ReadConnection& readConnection, IndexedSearch& indexedSearch);
    ~KeyReading();

    // After the connection opened: what the file's table allows.
    void opened();
    void close();

    void setSliceTime(int milliseconds) { sliceMs = milliseconds; }
    void setMachineName(const QString& name);

    bool countListed(const LogQuery& query, qint64& result);
    bool readKeys(const LogQuery& query, const KeySink& sink);
    bool readBlocks(const LogQuery& query, const BlockSink& sink);
    bool countBetween(const LogQuery& query, const QStringList& bounds, QVector<qint64>& counts);
    bool fetch(const LogQuery& query, const qint64* ids, int count, const FetchSink& sink);
    bool startKeys(const LogQuery& query);
    bool nextKey(ListedKey& key, bool& atEnd);
    QString keyBlock();
    void pauseKeys();

private:
    sqlite3* db() const { return connection.handle(); }
    bool fail(FailureKind failureKind, const QString& detail);
    bool failFromSqlite();
    bool usable();

    bool runOnce(const QByteArray& sql, const std::function<void(SqliteStatement&)>& bind,
                 const std::function<bool(SqliteStatement&)>& onRow);
    bool storedTypes(const QByteArray& source, std::vector<ValuePtr>& types);
    bool streamsOf(const LogQuery& query, std::vector<KeyStream>& streams, QByteArray& source);
    bool advance(KeyStream& stream);
    static bool comesFirst(const KeyStream& a, const KeyStream& b, bool newestFirst);
    bool prepareSlice(KeyMerge& merge);
    bool stepPast(KeyMerge& merge, KeyStream& stream);
    bool nextRow(KeyMerge& merge, KeyStream*& next);
    void pause(KeyMerge& merge) const;
    bool runMerged(const LogQuery& query, const QByteArray& source, std::vector<KeyStream>& streams,
                   const std::function<bool(KeyStream&, sqlite3_stmt*)>& onRow);
    bool runGroups(const LogQuery& query, const QByteArray& source, KeyStream& stream,
                   const std::function<void(sqlite3_stmt*)>& onGroup);
    int utf16Length(sqlite3_stmt* statement, int column) const;
    ListedKey keyOf(const LogQuery& query, const KeyStream& stream, sqlite3_stmt* row) const;
    QString rowBlock(const LogQuery& query, const KeyStream& stream, sqlite3_stmt* row) const;
    QString blockOf(sqlite3_stmt* row, bool namesTypes, bool gapsMarked) const;

    ReadConnection& connection;
    IndexedSearch& search;
    // A writer of the file (rollback journal: its commit waits for every
    // reader) waits at most about this long for a slice of a long read.
    qint64 sliceMs = LogReader::kDefaultSliceMs;
    bool sliced = false; // the time index exists, so a slice can seek where the last ended
    bool utf8 = true;    // texts are stored as UTF-8 (a database may choose UTF-16)
    sqlite3_stmt* fetchStatement = nullptr;
    QString machine; // named in every block, after the time stamp
    std::unique_ptr<KeyMerge> cursor;
};

} // namespace SystemLog
