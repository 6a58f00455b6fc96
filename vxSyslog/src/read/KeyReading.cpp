#include "read/KeyReading.h"

#include <QElapsedTimer>

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include <vxSyslog/ListingBlock.h>
#include <vxSyslog/RecordFormat.h>
#include <vxSyslog/RecordTypes.h>

#include "format/Utf8.h"
#include "read/IndexedSearch.h"
#include "store/SqliteStatement.h"

// A listing read as keys, and the texts of listed records fetched by id:
// LogReader's key half, for the viewer.
namespace SystemLog {

namespace {

// A text column as every reader shows it (format/Utf8.h); a database that
// stores UTF-16 hands its texts over unconverted.
QString textAt(sqlite3_stmt* statement, int column, bool utf8)
{
    if (utf8) {
        const char* text = static_cast<const char*>(sqlite3_column_blob(statement, column));
        return decodeUtf8(text ? text : "", sqlite3_column_bytes(statement, column));
    }
    const void* text = sqlite3_column_text16(statement, column);
    const int bytes = sqlite3_column_bytes16(statement, column);
    return text ? QString(static_cast<const QChar*>(text), bytes / int(sizeof(QChar))) : QString();
}

QByteArray utf8At(sqlite3_stmt* statement, int column)
{
    const char* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return QByteArray(text ? text : "", sqlite3_column_bytes(statement, column));
}

ValuePtr copyOf(sqlite3_value* value)
{
    return ValuePtr(sqlite3_value_dup(value), &sqlite3_value_free);
}

} // namespace

// Where a sliced read goes on: after the row (datetime, id) it delivered last.
struct KeyResume
{
    bool started = false;
    QByteArray datetime;
    qint64 id = 0;
};

// The listing read as one stream per stored type, each in the order of the
// (type, datetime) index, merged by time: no statement ever sorts the
// period, so the first records come at once whatever the listing's size,
// and a slice goes on where it ended without reading anything again.
struct KeyStream
{
    ValuePtr type;          // null: the gap stream of type kGapRecordType
    bool isGapType = false; // rows of this stream may be drop records
    int typeCode = ListedKey::kOtherType; // the type as a code, when it is an int
    QString typeName;
    int typeNameLength = 0;
    QByteArray match;       // which of its rows are listed (the pattern, gaps); empty: all
    KeyResume resume;
    bool done = false;
    std::unique_ptr<SqliteStatement> statement;
    bool hasRow = false;
};

// A listing read row by row (KeyReading::nextRow).
struct KeyMerge
{
    LogQuery query;
    QByteArray source;  // the log's table, or the rows the text index found
    std::vector<KeyStream> streams;
    bool prepared = false;
    KeyStream* delivered = nullptr; // its row went out; stepped at the next call
    QString pausedBlock;            // the block of that row, when a pause ended its statement
    QElapsedTimer slice;
    int rows = 0;
};

namespace {

QString typeNameOf(sqlite3_value* value)
{
    if (sqlite3_value_type(value) == SQLITE_INTEGER) {
        const qint64 number = sqlite3_value_int64(value);
        if (number >= std::numeric_limits<int>::min() && number <= std::numeric_limits<int>::max())
            return recordTypeName(int(number));
    }
    return unknownRecordTypeName();
}

bool isIntValue(sqlite3_value* value, int number)
{
    return sqlite3_value_type(value) == SQLITE_INTEGER && sqlite3_value_int64(value) == number;
}

// The condition of one stream. The first slice has the query's own bounds
// (both included); a later slice of rows starts at the last row's time
// stamp, past its id (newest first: ends there, before its id), and a later
// slice of groups past the last group's time stamp.
QByteArray whereClause(const LogQuery& query, const KeyStream& stream, bool byGroup, bool withMatch = true)
{
    const KeyResume& resume = stream.resume;
    const bool atRow = resume.started && !byGroup;
    const bool down = query.newestFirst && !byGroup;
    // Rows after an id (a live view's new records) are few: found by id,
    // not through the time index, which would pass over the whole period.
    QByteArray sql = query.afterId > 0 ? " WHERE +type IS ?3" : " WHERE type IS ?3";
    sql += resume.started && byGroup ? " AND datetime > ?1" : " AND datetime >= ?1";
    sql += " AND datetime <= ?2";
    if (query.upToId > 0)
        sql += " AND id <= ?4";
    if (query.afterId > 0)
        sql += " AND id > ?6";
    if (atRow)
        sql += down ? " AND (datetime < ?2 OR id < ?5)" : " AND (datetime > ?1 OR id > ?5)";
    return withMatch && !stream.match.isEmpty() ? sql + " AND " + stream.match : sql;
}

void bindQuery(SqliteStatement& statement, const LogQuery& query, const KeyStream& stream, bool byGroup)
{
    const KeyResume& resume = stream.resume;
    const bool down = query.newestFirst && !byGroup;
    statement.bindText(1, resume.started && !down ? resume.datetime : query.since.toUtf8());
    if (resume.started && down)
        statement.bindText(2, resume.datetime);
    else if (query.until.isEmpty())
        sqlite3_bind_blob(statement.get(), 2, "\xff", 1, SQLITE_STATIC); // above every text: no upper bound
    else
        statement.bindText(2, query.until.toUtf8());
    if (stream.type)
        sqlite3_bind_value(statement.get(), 3, stream.type.get());
    else
        statement.bindNumber(3, kGapRecordType);
    if (query.upToId > 0)
        statement.bindNumber(4, query.upToId);
    if (resume.started && resume.id > 0)
        statement.bindNumber(5, resume.id);
    if (query.afterId > 0)
        statement.bindNumber(6, query.afterId);
}

} // namespace

KeyReading::KeyReading(ReadConnection& readConnection, IndexedSearch& indexedSearch)
    : connection(readConnection)
    , search(indexedSearch)
{
}

KeyReading::~KeyReading()
{
    close();
}

void KeyReading::close()
{
    cursor.reset();
    sqlite3_finalize(fetchStatement);
    fetchStatement = nullptr;
}

void KeyReading::opened()
{
    close();
    sliced = connection.hasTimeIndex();
    utf8 = connection.storesUtf8();
}

bool KeyReading::fail(FailureKind failureKind, const QString& detail)
{
    return connection.fail(failureKind, detail);
}

bool KeyReading::failFromSqlite()
{
    return connection.failFromSqlite();
}

bool KeyReading::usable()
{
    return connection.usable();
}

// One statement run to its end; `onRow` returns false to stop early.
bool KeyReading::runOnce(const QByteArray& sql, const std::function<void(SqliteStatement&)>& bind,
             const std::function<bool(SqliteStatement&)>& onRow)
{
    if (!usable())
        return false;
    SqliteStatement statement(db(), sql);
    if (!statement.prepared())
        return failFromSqlite();
    bind(statement);
    int rc;
    while ((rc = statement.step()) == SQLITE_ROW)
        if (!onRow(statement))
            return true;
    return rc == SQLITE_DONE || failFromSqlite();
}

// Every distinct stored type, each found by one seek in the index
// (NULL first, as the index orders them).
bool KeyReading::storedTypes(const QByteArray& source, std::vector<ValuePtr>& types)
{
    ValuePtr last;
    for (;;) {
        if (!usable())
            return false;
        const QByteArray sql = !last ? "SELECT type FROM " + source + " ORDER BY type LIMIT 1"
                               : sqlite3_value_type(last.get()) == SQLITE_NULL
                                   ? "SELECT type FROM " + source + " WHERE type IS NOT NULL ORDER BY type LIMIT 1"
                                   : "SELECT type FROM " + source + " WHERE type > ?1 ORDER BY type LIMIT 1";
        SqliteStatement statement(db(), sql);
        if (!statement.prepared())
            return failFromSqlite();
        if (last && sqlite3_value_type(last.get()) != SQLITE_NULL)
            sqlite3_bind_value(statement.get(), 1, last.get());
        const int rc = statement.step();
        if (rc == SQLITE_DONE)
            return true;
        if (rc != SQLITE_ROW)
            return failFromSqlite();
        last = copyOf(sqlite3_column_value(statement.get(), 0));
        types.push_back(last);
    }
}

// The streams of a query: one per listed type, and one for the drop
// records when they are wanted and their type is not listed.
bool KeyReading::streamsOf(const LogQuery& query, std::vector<KeyStream>& streams, QByteArray& source)
{
    if (!usable() || !connection.installGrep(query))
        return false;
    // Only the drop records are listed without the pattern.
    source = "SystemInfo";
    if (!query.onlyGaps && !search.sourceFor(query, query.withGaps, source))
        return false;
    std::vector<ValuePtr> types;
    if (query.onlyGaps) {
        // only the gap stream below
    } else if (query.types.isEmpty()) {
        if (!storedTypes(source, types))
            return false;
    } else {
        for (int type : query.types) {
            SqliteStatement value(db(), "SELECT ?1");
            if (!value.prepared())
                return failFromSqlite();
            value.bindNumber(1, type);
            if (value.step() != SQLITE_ROW)
                return failFromSqlite();
            types.push_back(copyOf(sqlite3_column_value(value.get(), 0)));
        }
    }
    const QByteArray grep = query.grep.isEmpty() ? QByteArray() : QByteArray(ReadConnection::kGrepFunction) + "(message)";
    bool gapsListed = false;
    for (const ValuePtr& type : types) {
        KeyStream stream;
        stream.type = type;
        stream.isGapType = isIntValue(type.get(), kGapRecordType);
        stream.typeName = typeNameOf(type.get());
        if (sqlite3_value_type(type.get()) == SQLITE_INTEGER && sqlite3_value_int64(type.get()) >= 0
            && sqlite3_value_int64(type.get()) < kRecordTypeCount)
            stream.typeCode = int(sqlite3_value_int64(type.get()));
        if (!grep.isEmpty())
            stream.match = stream.isGapType && query.withGaps ? "(" + grep + " OR " + IndexedSearch::gapCondition() + ")" : grep;
        gapsListed = gapsListed || stream.isGapType;
        streams.push_back(std::move(stream));
    }
    if ((query.withGaps || query.onlyGaps) && !gapsListed) {
        KeyStream gaps;
        gaps.isGapType = true;
        gaps.typeName = recordTypeName(kGapRecordType);
        gaps.match = IndexedSearch::gapCondition();
        streams.push_back(std::move(gaps));
    }
    for (KeyStream& stream : streams)
        stream.typeNameLength = stream.typeName.size();
    return true;
}

// Steps a stream to its next row; false on a failure.
bool KeyReading::advance(KeyStream& stream)
{
    const int rc = stream.statement->step();
    stream.hasRow = rc == SQLITE_ROW;
    if (rc == SQLITE_DONE)
        stream.done = true;
    return rc == SQLITE_ROW || rc == SQLITE_DONE || failFromSqlite();
}

// Whether stream a's row comes before stream b's in the listing's order.
// Compared in place, as SQLite's BINARY collation does: this runs for
// every row of a merged listing.
bool KeyReading::comesFirst(const KeyStream& a, const KeyStream& b, bool newestFirst)
{
    sqlite3_stmt* as = a.statement->get();
    sqlite3_stmt* bs = b.statement->get();
    const auto* at = sqlite3_column_blob(as, 1);
    const auto* bt = sqlite3_column_blob(bs, 1);
    const int al = sqlite3_column_bytes(as, 1);
    const int bl = sqlite3_column_bytes(bs, 1);
    int order = (at && bt) ? memcmp(at, bt, std::size_t(std::min(al, bl))) : 0;
    if (order == 0)
        order = al - bl;
    if (order == 0) {
        const qint64 aid = sqlite3_column_int64(as, 0);
        const qint64 bid = sqlite3_column_int64(bs, 0);
        order = aid < bid ? -1 : aid > bid ? 1 : 0;
    }
    return newestFirst ? order > 0 : order < 0;
}

// The query's rows (id, datetime, message) in slices (see kSliceMs),
// merged from its streams in the listing's order, one at a time.
//
// A stream's match (the pattern, the drop record condition) is a column,
// not a condition: SQLite still decides it, but a row that fails it
// comes back and is passed over here. So a stream whose next listed row
// lies far ahead (the rare drop records, a pattern no alarm matches)
// never holds the others up: its last row passed over tells how far it
// has come, and every row of another stream before that goes out.

// Each stream's statement for the next slice, from where it ended.
bool KeyReading::prepareSlice(KeyMerge& merge)
{
    if (!usable())
        return false;
    const QByteArray tail = merge.query.newestFirst ? " ORDER BY datetime DESC, id DESC" : " ORDER BY datetime, id";
    for (KeyStream& stream : merge.streams) {
        stream.statement.reset();
        stream.hasRow = false;
        if (stream.done)
            continue;
        const QByteArray listed = stream.match.isEmpty() ? QByteArray("1") : stream.match;
        stream.statement = std::make_unique<SqliteStatement>(
            db(), "SELECT id, datetime, message, " + listed + " FROM " + merge.source
                    + whereClause(merge.query, stream, false, false) + tail);
        if (!stream.statement->prepared())
            return failFromSqlite();
        bindQuery(*stream.statement, merge.query, stream, false);
        if (!advance(stream))
            return false;
    }
    merge.prepared = true;
    merge.slice.restart();
    merge.rows = 0;
    return true;
}

bool KeyReading::stepPast(KeyMerge& merge, KeyStream& stream)
{
    if (!advance(stream))
        return false;
    if (sliced && ++merge.rows % 64 == 0 && merge.slice.elapsed() >= sliceMs)
        merge.prepared = false;
    return true;
}

// The next listed row: `next` is its stream, null at the end. The row
// stays current until the next call.
bool KeyReading::nextRow(KeyMerge& merge, KeyStream*& next)
{
    next = nullptr;
    merge.pausedBlock.clear();
    if (merge.delivered) {
        KeyStream& delivered = *merge.delivered;
        merge.delivered = nullptr;
        if (!stepPast(merge, delivered))
            return false;
    }
    for (;;) {
        if (!merge.prepared && !prepareSlice(merge))
            return false;
        KeyStream* first = nullptr;
        for (KeyStream& stream : merge.streams)
            if (stream.hasRow && (!first || comesFirst(stream, *first, merge.query.newestFirst)))
                first = &stream;
        if (!first)
            return true;
        sqlite3_stmt* row = first->statement->get();
        first->resume = {true, utf8At(row, 1), sqlite3_column_int64(row, 0)};
        if (sqlite3_column_int(row, 3) != 0) {
            merge.delivered = next = first;
            return true;
        }
        if (!stepPast(merge, *first))
            return false;
    }
}

// Ends the slice's statements and their read transaction; the next row
// comes from a new slice, after the last one delivered.
void KeyReading::pause(KeyMerge& merge) const
{
    // The row delivered last may still be asked for its block (a merge of
    // several files pauses every reader while each holds a key).
    if (merge.delivered)
        merge.pausedBlock = rowBlock(merge.query, *merge.delivered, merge.delivered->statement->get());
    merge.delivered = nullptr;
    merge.prepared = false;
    for (KeyStream& stream : merge.streams) {
        stream.statement.reset();
        stream.hasRow = false;
    }
}

bool KeyReading::runMerged(const LogQuery& query, const QByteArray& source, std::vector<KeyStream>& streams,
               const std::function<bool(KeyStream&, sqlite3_stmt*)>& onRow)
{
    KeyMerge merge;
    merge.query = query;
    merge.source = source;
    merge.streams = std::move(streams);
    for (;;) {
        KeyStream* next = nullptr;
        if (!nextRow(merge, next))
            return false;
        if (!next || !onRow(*next, next->statement->get()))
            return true;
    }
}

// One stream's groups of one time stamp (datetime, count) in slices.
bool KeyReading::runGroups(const LogQuery& query, const QByteArray& source, KeyStream& stream,
                           const std::function<void(sqlite3_stmt*)>& onGroup)
{
    for (;;) {
        if (!usable())
            return false;
        SqliteStatement statement(db(), "SELECT datetime, count(*) FROM " + source + whereClause(query, stream, true)
                                          + " GROUP BY datetime ORDER BY datetime");
        if (!statement.prepared())
            return failFromSqlite();
        bindQuery(statement, query, stream, true);
        QElapsedTimer slice;
        slice.start();
        int rows = 0;
        int rc;
        while ((rc = statement.step()) == SQLITE_ROW) {
            onGroup(statement.get());
            if (!sliced || ++rows % 64 != 0 || slice.elapsed() < sliceMs)
                continue;
            stream.resume = {true, utf8At(statement.get(), 0), 0};
            break;
        }
        if (rc != SQLITE_ROW)
            return rc == SQLITE_DONE || failFromSqlite();
    }
}

int KeyReading::utf16Length(sqlite3_stmt* statement, int column) const
{
    if (utf8)
        return utf16LengthOfUtf8(static_cast<const char*>(sqlite3_column_blob(statement, column)),
                                 sqlite3_column_bytes(statement, column));
    return sqlite3_column_bytes16(statement, column) / int(sizeof(QChar));
}

// The listed key of a stream's row: its block's length as listingBlock()
// makes it, counted without converting the texts but for a drop record.
ListedKey KeyReading::keyOf(const LogQuery& query, const KeyStream& stream, sqlite3_stmt* row) const
{
    ListedKey key;
    key.id = sqlite3_column_int64(row, 0);
    key.datetime = reinterpret_cast<const char*>(sqlite3_column_text(row, 1));
    key.datetimeLength = sqlite3_column_bytes(row, 1);
    key.gap = (query.withGaps || query.onlyGaps) && stream.isGapType
              && isGapMessage(reinterpret_cast<const char*>(sqlite3_column_blob(row, 2)), sqlite3_column_bytes(row, 2));
    key.type = stream.type ? stream.typeCode : kGapRecordType;
    const int names = (query.namesTypes() ? stream.typeNameLength + 3 : 0) + (machine.isEmpty() ? 0 : machine.size() + 1);
    const int message = key.gap ? gapText(textAt(row, 2, utf8)).size() : utf16Length(row, 2);
    key.blockLength = utf16Length(row, 1) + names + 2 + message;
    return key;
}

// The block of a listed row (id, datetime, message).
QString KeyReading::rowBlock(const LogQuery& query, const KeyStream& stream, sqlite3_stmt* row) const
{
    const QString message = textAt(row, 2, utf8);
    const bool gap = (query.withGaps || query.onlyGaps) && stream.isGapType && isGapMessage(message);
    return listingBlock(textAt(row, 1, utf8), query.namesTypes(), stream.typeName, message, gap, machine);
}

bool KeyReading::fetch(const LogQuery& query, const qint64* ids, int count, const FetchSink& sink)
{
    if (!usable())
        return false;
    if (!fetchStatement
        && sqlite3_prepare_v2(db(), "SELECT datetime, type, message FROM SystemInfo WHERE id = ?", -1, &fetchStatement, nullptr) != SQLITE_OK)
        return failFromSqlite();
    // One read transaction for the batch, not one per row.
    if (sqlite3_exec(db(), "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return failFromSqlite();
    int rc = SQLITE_DONE;
    for (int i = 0; i < count && (rc == SQLITE_DONE || rc == SQLITE_ROW); ++i) {
        sqlite3_bind_int64(fetchStatement, 1, ids[i]);
        rc = sqlite3_step(fetchStatement);
        if (rc == SQLITE_ROW)
            sink(i, blockOf(fetchStatement, query.namesTypes(), query.withGaps || query.onlyGaps));
        sqlite3_reset(fetchStatement);
    }
    const bool ok = rc == SQLITE_DONE || rc == SQLITE_ROW;
    if (!ok)
        failFromSqlite();
    sqlite3_exec(db(), ok ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
    return ok;
}

// The block of a row (datetime, type, message).
QString KeyReading::blockOf(sqlite3_stmt* row, bool namesTypes, bool gapsMarked) const
{
    sqlite3_value* type = sqlite3_column_value(row, 1);
    const QString message = textAt(row, 2, utf8);
    const bool gap = gapsMarked && isIntValue(type, kGapRecordType) && isGapMessage(message);
    return listingBlock(textAt(row, 0, utf8), namesTypes, namesTypes ? typeNameOf(type) : QString(), message, gap, machine);
}

bool KeyReading::countListed(const LogQuery& query, qint64& result)
{
    result = 0;
    std::vector<KeyStream> streams;
    QByteArray source;
    if (!streamsOf(query, streams, source))
        return false;
    for (const KeyStream& stream : streams) {
        const bool counted = runOnce("SELECT count(*) FROM " + source + whereClause(query, stream, false),
                                        [&](SqliteStatement& s) { bindQuery(s, query, stream, false); },
                                        [&](SqliteStatement& row) {
                                            result += sqlite3_column_int64(row.get(), 0);
                                            return false;
                                        });
        if (!counted)
            return false;
    }
    return true;
}

bool KeyReading::readKeys(const LogQuery& query, const KeySink& sink)
{
    std::vector<KeyStream> streams;
    QByteArray source;
    return streamsOf(query, streams, source) && runMerged(query, source, streams, [&](KeyStream& stream, sqlite3_stmt* row) {
        return sink(keyOf(query, stream, row));
    });
}

bool KeyReading::readBlocks(const LogQuery& query, const BlockSink& sink)
{
    std::vector<KeyStream> streams;
    QByteArray source;
    return streamsOf(query, streams, source) && runMerged(query, source, streams, [&](KeyStream& stream, sqlite3_stmt* row) {
        return sink(rowBlock(query, stream, row));
    });
}

void KeyReading::setMachineName(const QString& name)
{
    machine = name;
}

bool KeyReading::startKeys(const LogQuery& query)
{
    cursor.reset();
    auto merge = std::make_unique<KeyMerge>();
    merge->query = query;
    if (!streamsOf(query, merge->streams, merge->source))
        return false;
    cursor = std::move(merge);
    return true;
}

bool KeyReading::nextKey(ListedKey& key, bool& atEnd)
{
    atEnd = false;
    KeyStream* next = nullptr;
    if (!cursor)
        return fail(FailureKind::Other, QStringLiteral("未开始读取"));
    if (!nextRow(*cursor, next)) {
        cursor.reset();
        return false;
    }
    if (!next) {
        atEnd = true;
        cursor.reset();
        return false;
    }
    key = keyOf(cursor->query, *next, next->statement->get());
    return true;
}

QString KeyReading::keyBlock()
{
    if (!cursor)
        return QString();
    if (!cursor->delivered)
        return cursor->pausedBlock;
    return rowBlock(cursor->query, *cursor->delivered, cursor->delivered->statement->get());
}

void KeyReading::pauseKeys()
{
    if (cursor)
        pause(*cursor);
}

bool KeyReading::countBetween(const LogQuery& query, const QStringList& bounds, QVector<qint64>& counts)
{
    QVector<QByteArray> limits;
    for (const QString& bound : bounds)
        limits << bound.toUtf8();
    counts.fill(0, limits.size() + 1);
    std::vector<KeyStream> streams;
    QByteArray source;
    if (!streamsOf(query, streams, source))
        return false;
    for (KeyStream& stream : streams) {
        int interval = 0;
        const bool counted = runGroups(query, source, stream, [&](sqlite3_stmt* row) {
            const QByteArray datetime = utf8At(row, 0);
            while (interval < limits.size() && datetime >= limits.at(interval))
                ++interval;
            counts[interval] += sqlite3_column_int64(row, 1);
        });
        if (!counted)
            return false;
    }
    return true;
}

} // namespace SystemLog
