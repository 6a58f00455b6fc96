#include "read/RecordReading.h"

#include <QDir>
#include <QStringList>

#include <sqlite3.h>

#include <algorithm>
#include <limits>
#include <unordered_map>
#include <vector>

#include "read/IndexedSearch.h"
#include "read/ReadConnection.h"
#include "store/SqliteStatement.h"

// Whole records of a log: LogReader's read(), cursor(), count() and the
// counts per day, as vxlog, the tails and the service ask for them.
namespace SystemLog {

// The WHERE clause for a filter's types, time bounds, ids and pattern, with its values.
struct RecordCondition
{
    QStringList clauses;
    std::vector<BoundValue> values;

    void addNumber(const QString& clause, qint64 number) { clauses << clause; values.push_back({false, {}, number}); }
    void addText(const QString& clause, const QString& text) { clauses << clause; values.push_back({true, text.toUtf8(), 0}); }

    QString sql() const { return clauses.isEmpty() ? QString() : QStringLiteral(" WHERE ") + clauses.join(QStringLiteral(" AND ")); }
};

namespace {



enum class Use { Everything, WithoutIdsAndGrep };

// Rows after (before, reversed) the resume point in time order, where rows
// without a time stamp come first.
void addResumePoint(const LogQuery& filter, RecordCondition& c)
{
    const bool nullTime = filter.resumeTime.isNull();
    if (!filter.newestFirst && nullTime) {
        c.addNumber(QStringLiteral("(datetime IS NOT NULL OR id > ?)"), filter.resumeId);
    } else if (filter.newestFirst && nullTime) {
        c.addNumber(QStringLiteral("(datetime IS NULL AND id < ?)"), filter.resumeId);
    } else {
        c.clauses << (filter.newestFirst ? QStringLiteral("((datetime, id) < (?, ?) OR datetime IS NULL)")
                                     : QStringLiteral("(datetime, id) > (?, ?)"));
        c.values.push_back({true, filter.resumeTime, 0});
        c.values.push_back({false, {}, filter.resumeId});
    }
}

RecordCondition conditionOf(const LogQuery& filter, Use use)
{
    RecordCondition c;
    if (filter.types.size() == 1) {
        c.addNumber(QStringLiteral("type = ?"), filter.types.first());
    } else if (filter.types.size() > 1) {
        QStringList marks;
        for (int i = 0; i < filter.types.size(); ++i)
            marks << QStringLiteral("?");
        c.clauses << QStringLiteral("type IN (%1)").arg(marks.join(QLatin1Char(',')));
        for (int type : filter.types)
            c.values.push_back({false, {}, type});
    }
    if (!filter.since.isEmpty())
        c.addText(QStringLiteral("datetime >= ?"), filter.since);
    if (!filter.until.isEmpty())
        c.addText(QStringLiteral("datetime <= ?"), filter.until);
    if (use == Use::WithoutIdsAndGrep)
        return c;
    if (filter.afterId > 0)
        c.addNumber(QStringLiteral("id > ?"), filter.afterId);
    if (filter.upToId > 0)
        c.addNumber(QStringLiteral("id <= ?"), filter.upToId);
    if (filter.resume && filter.order == LogQuery::Order::Time)
        addResumePoint(filter, c);
    // Last, so that SQLite tests the cheap terms first.
    if (!filter.grep.isEmpty())
        c.clauses << QStringLiteral("%1(message)").arg(QLatin1String(ReadConnection::kGrepFunction));
    return c;
}

QString orderClause(const LogQuery& filter, bool descending)
{
    const QString dir = descending ? QStringLiteral(" DESC") : QString();
    if (filter.order == LogQuery::Order::Arrival)
        return QStringLiteral(" ORDER BY id") + dir;
    return QStringLiteral(" ORDER BY datetime") + dir + QStringLiteral(", id") + dir;
}

void recordFromRow(const SqliteStatement& row, LogRecord& record)
{
    record.id = row.int64At(0);
    // Null for a row without a time stamp, so that a page can resume after it.
    record.datetime = row.isNullAt(1) ? QByteArray() : row.textAt(1);
    record.message = row.textAt(3);
    record.type = 0;
    record.typeText.clear();
    // The stored type is looked at before any conversion of the column.
    switch (sqlite3_column_type(row.get(), 2)) {
    case SQLITE_INTEGER: {
        const qint64 value = row.int64At(2);
        if (value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max()) {
            record.storedType = LogRecord::StoredType::Int;
            record.type = static_cast<int>(value);
        } else {
            record.storedType = LogRecord::StoredType::Number;
            record.typeText = row.textAt(2);
        }
        break;
    }
    case SQLITE_NULL:
        record.storedType = LogRecord::StoredType::Null;
        break;
    case SQLITE_FLOAT:
        record.storedType = LogRecord::StoredType::Number;
        record.typeText = row.textAt(2);
        break;
    default:
        record.storedType = LogRecord::StoredType::Text;
        record.typeText = row.textAt(2);
        break;
    }
}

} // namespace

RecordReading::RecordReading(ReadConnection& readConnection, IndexedSearch& indexedSearch)
    : connection(readConnection)
    , search(indexedSearch)
{
}

bool RecordReading::fail(FailureKind failureKind, const QString& detail)
{
    return connection.fail(failureKind, detail);
}

bool RecordReading::failWith(int code, const QString& message)
{
    return connection.failWith(code, message);
}

bool RecordReading::recoverInterruptedWrite()
{
    return connection.rollBackCutOffWrite();
}

bool RecordReading::notOpen()
{
    return fail(FailureKind::CannotOpen, QStringLiteral("未打开"));
}

// Runs `sql` once; SQLITE_DONE, SQLITE_ROW when `onRow` stopped it, or
// the error, whose code and text are kept before the statement goes.
int RecordReading::runOnce(const QString& sql, const RecordCondition& condition, const std::function<bool(SqliteStatement&)>& onRow,
            bool& delivered, QString& message)
{
    SqliteStatement statement(db(), sql);
    int rc = SQLITE_ERROR;
    if (statement.prepared()) {
        statement.bind(condition.values);
        while ((rc = statement.step()) == SQLITE_ROW) {
            delivered = true;
            if (!onRow(statement))
                return SQLITE_ROW;
        }
        if (rc == SQLITE_DONE)
            return rc;
    }
    rc = sqlite3_extended_errcode(db());
    message = QString::fromUtf8(sqlite3_errmsg(db()));
    return rc;
}

// Runs `sql` with the condition's values; `onRow` sees each row and
// returns false to stop early. A write cut off in the middle is rolled
// back once, before any row was seen, and the statement run again.
bool RecordReading::run(const QString& sql, const RecordCondition& condition, const std::function<bool(SqliteStatement&)>& onRow)
{
    if (!db())
        return notOpen();
    for (bool recovered = false;; recovered = true) {
        bool delivered = false;
        QString message;
        const int rc = runOnce(sql, condition, onRow, delivered, message);
        if (rc == SQLITE_DONE || rc == SQLITE_ROW)
            return true;
        if (recovered || delivered || failureKindOfSqliteCode(rc) != FailureKind::InterruptedWrite)
            return failWith(rc, message);
        if (!recoverInterruptedWrite())
            return false;
    }
}

// Narrows the condition to the last `count` records in the filter's
// order: where they begin is found newest first, keeping only its key.
// The rows are stepped through rather than skipped with OFFSET, for
// which SQLite keeps the window in a sorted tree that costs more than
// the plain sort, even for a few thousand rows.
bool RecordReading::limitToLast(const LogQuery& filter, int count, const QString& source, RecordCondition& condition)
{
    // Ids are unique: the table cannot hold more rows than its id span,
    // which the ends of the id tree give at once.
    qint64 span = 0;
    const bool spanned = run(QStringLiteral("SELECT ifnull((SELECT max(id) FROM %1) - (SELECT min(id) FROM %1) + 1, 0)").arg(source),
                             RecordCondition(),
                             [&span](SqliteStatement& row) {
                                 span = row.int64At(0);
                                 return false;
                             });
    if (!spanned)
        return false;
    if (span <= count)
        return true;
    if (filter.grep.isEmpty()) {
        qint64 total = 0;
        const bool counted = run(QStringLiteral("SELECT count(*) FROM SystemInfo") + condition.sql(), condition,
                                 [&total](SqliteStatement& row) {
                                     total = row.int64At(0);
                                     return false;
                                 });
        if (!counted)
            return false;
        if (total <= count)
            return true;
    }
    const QString sql = QStringLiteral("SELECT datetime, id FROM ") + source + condition.sql() + orderClause(filter, true);
    int seen = 0;
    bool found = false;
    bool nullTime = false;
    QByteArray time;
    qint64 id = 0;
    const bool ok = run(sql, condition, [&](SqliteStatement& row) {
        if (++seen < count)
            return true;
        found = true;
        nullTime = row.isNullAt(0);
        time = QByteArray(row.textAt(0).constData(), row.textAt(0).size());
        id = row.int64At(1);
        return false;
    });
    if (!ok || !found)
        return ok;
    if (filter.order == LogQuery::Order::Arrival) {
        condition.addNumber(QStringLiteral("id >= ?"), id);
    } else if (nullTime) {
        // Ascending order puts rows without a time stamp first.
        condition.addNumber(QStringLiteral("(datetime IS NOT NULL OR id >= ?)"), id);
    } else {
        condition.clauses << QStringLiteral("(datetime, id) >= (?, ?)");
        condition.values.push_back({true, time, 0});
        condition.values.push_back({false, {}, id});
    }
    return true;
}

struct LogReader::Cursor::Impl
{
    RecordReading* d = nullptr;
    QString sql;
    RecordCondition condition;
    std::unique_ptr<SqliteStatement> statement;
    LogRecord record;
    bool delivered = false;
    bool recovered = false;
    bool done = false;
    bool failed = false;

    void prepare()
    {
        statement = std::make_unique<SqliteStatement>(d->db(), sql);
        if (statement->prepared())
            statement->bind(condition.values);
    }

    // As RecordReading::run: a write cut off in the middle is rolled back once,
    // before any row was seen, and the statement prepared again.
    bool next()
    {
        while (!done && !failed) {
            const int rc = statement->prepared() ? statement->step() : SQLITE_ERROR;
            if (rc == SQLITE_ROW) {
                delivered = true;
                recordFromRow(*statement, record);
                return true;
            }
            if (rc == SQLITE_DONE) {
                done = true;
                break;
            }
            const int code = sqlite3_extended_errcode(d->db());
            const QString message = QString::fromUtf8(sqlite3_errmsg(d->db()));
            statement.reset();
            if (recovered || delivered || failureKindOfSqliteCode(code) != FailureKind::InterruptedWrite) {
                d->failWith(code, message);
                failed = true;
            } else if (!d->recoverInterruptedWrite()) {
                failed = true;
            } else {
                recovered = true;
                prepare();
            }
        }
        statement.reset();
        return false;
    }
};

LogReader::Cursor::Cursor(std::unique_ptr<Impl> impl)
    : m(std::move(impl))
{
}

LogReader::Cursor::~Cursor() = default;

bool LogReader::Cursor::next()
{
    return m->next();
}

const LogRecord& LogReader::Cursor::record() const
{
    return m->record;
}

bool LogReader::Cursor::failed() const
{
    return m->failed;
}

std::unique_ptr<LogReader::Cursor> RecordReading::cursor(const LogQuery& filter)
{
    if (!connection.installGrep(filter))
        return nullptr;
    if (!db()) {
        notOpen();
        return nullptr;
    }
    auto impl = std::make_unique<LogReader::Cursor::Impl>();
    impl->d = this;
    if (!selectStatement(filter, impl->sql, impl->condition))
        return nullptr;
    impl->prepare();
    return std::unique_ptr<LogReader::Cursor>(new LogReader::Cursor(std::move(impl)));
}


// The statement of read() and cursor(), on the rows the text index found
// where it helps.
bool RecordReading::selectStatement(const LogQuery& filter, QString& sql, RecordCondition& condition)
{
    QByteArray source;
    if (!search.sourceFor(filter, false, source))
        return false;
    const QString table = QString::fromLatin1(source);
    condition = conditionOf(filter, Use::Everything);
    const bool windowed = filter.last > 0;
    if (windowed && !filter.newestFirst && !limitToLast(filter, filter.last, table, condition))
        return false;
    sql = QStringLiteral("SELECT id, datetime, type, message FROM ") + table + condition.sql() + orderClause(filter, filter.newestFirst);
    if (windowed && filter.newestFirst)
        sql += QStringLiteral(" LIMIT %1").arg(filter.last);
    return true;
}

bool RecordReading::read(const LogQuery& filter, const RecordSink& sink)
{
    if (!connection.installGrep(filter))
        return false;
    QString sql;
    RecordCondition condition;
    if (!selectStatement(filter, sql, condition))
        return false;
    LogRecord record;
    return run(sql, condition, [&](SqliteStatement& row) {
        recordFromRow(row, record);
        return sink(record);
    });
}

// The records of these ids, a batch of them per statement: the detail of
// one record, a listing's records written out whole.
bool RecordReading::fetch(const qint64* ids, int count, const FetchSink& sink)
{
    constexpr int kBatch = 500; // under SQLite's oldest limit of bound values
    std::unordered_multimap<qint64, int> places;
    LogRecord record;
    for (int first = 0; first < count; first += kBatch) {
        const int size = std::min(kBatch, count - first);
        RecordCondition condition;
        QStringList marks;
        places.clear();
        for (int i = first; i < first + size; ++i) {
            marks << QStringLiteral("?");
            condition.values.push_back({false, {}, ids[i]});
            places.emplace(ids[i], i);
        }
        condition.clauses << QStringLiteral("id IN (%1)").arg(marks.join(QLatin1Char(',')));
        const bool read = run(QStringLiteral("SELECT id, datetime, type, message FROM SystemInfo") + condition.sql(), condition,
                              [&](SqliteStatement& row) {
                                  recordFromRow(row, record);
                                  const auto asked = places.equal_range(record.id);
                                  for (auto it = asked.first; it != asked.second; ++it)
                                      sink(it->second, record);
                                  return true;
                              });
        if (!read)
            return false;
    }
    return true;
}

bool RecordReading::count(const LogQuery& filter, qint64& result)
{
    result = 0;
    if (!connection.installGrep(filter))
        return false;
    const RecordCondition condition = conditionOf(filter, Use::Everything);
    bool answered = false;
    if (!filter.grep.isEmpty() && !search.count(filter, condition.clauses.join(QStringLiteral(" AND ")), condition.values, result, answered))
        return false;
    if (answered)
        return true;
    return run(QStringLiteral("SELECT count(*) FROM SystemInfo") + condition.sql(), condition, [&](SqliteStatement& row) {
        result = row.int64At(0);
        return false;
    });
}

bool RecordReading::lastId(qint64& result)
{
    result = 0;
    return run(QStringLiteral("SELECT max(id) FROM SystemInfo"), RecordCondition(), [&](SqliteStatement& row) {
        result = row.int64At(0);
        return false;
    });
}

bool RecordReading::countPerDayAndType(const LogQuery& filter, const DayTypeSink& sink)
{
    const RecordCondition condition = conditionOf(filter, Use::WithoutIdsAndGrep);
    // Every value that is not an integer falls into one group, NULL.
    const QString sql = QStringLiteral("SELECT substr(datetime, 1, 10), CASE WHEN typeof(type) = 'integer' THEN type END, count(*) "
                                       "FROM SystemInfo")
                        + condition.sql() + QStringLiteral(" GROUP BY 1, 2 ORDER BY 1, 2");
    return run(sql, condition, [&](SqliteStatement& row) {
        const bool isInt = !row.isNullAt(1);
        sink({QString::fromUtf8(row.textAt(0)), isInt ? row.int64At(1) : 0, row.int64At(2), isInt});
        return true;
    });
}

bool RecordReading::span(const LogQuery& filter, Span& result)
{
    result = Span();
    const RecordCondition condition = conditionOf(filter, Use::WithoutIdsAndGrep);
    const QString sql = QStringLiteral("SELECT count(*), min(datetime), max(datetime) FROM SystemInfo") + condition.sql();
    return run(sql, condition, [&](SqliteStatement& row) {
        result.total = row.int64At(0);
        result.oldest = QString::fromUtf8(row.textAt(1));
        result.newest = QString::fromUtf8(row.textAt(2));
        return false;
    });
}

} // namespace SystemLog
