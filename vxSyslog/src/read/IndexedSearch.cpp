#include "read/IndexedSearch.h"

#include <QDir>

#include <atomic>

#include <sqlite3.h>

#include <vxSyslog/DatabaseFailure.h>
#include <vxSyslog/ListingBlock.h>

#include "read/ReadConnection.h"
#include "search/IndexBuilder.h"
#include "search/IndexLayout.h"
#include "search/PatternQuery.h"
#include "search/SearchNotices.h"
#include "search/TextTokens.h"

namespace SystemLog {

namespace {

constexpr const char* kSchema = "vx_index";

std::atomic<quint64> g_answered{0};

// An FTS5 expression as an SQL literal: it holds no quote of its own but
// the doubled ones a literal needs.
QByteArray literal(const QByteArray& text)
{
    QByteArray quoted = text;
    quoted.replace('\'', "''");
    return '\'' + quoted + '\'';
}

QByteArray expressionFor(const LogQuery& query, bool gapsWanted)
{
    QByteArray expression = PatternQuery::forPattern(query.grep, query.ignoreCase, query.fixedStrings);
    if (expression.isEmpty() || !gapsWanted)
        return expression;
    expression = '(' + expression + ')';
    for (int i = 0; i < kGapMessagePrefixCount; ++i)
        expression += " OR (" + PatternQuery::forLiteral(QString::fromUtf8(gapMessagePrefix(i)), false) + ')';
    return expression;
}

// Which found rows a search keeps: those its pattern matches (and the drop
// records), within its time bounds.
QByteArray keptRows(const LogQuery& query, bool gapsWanted)
{
    QByteArray sql = QByteArray(ReadConnection::kGrepFunction) + "(s.message)";
    if (gapsWanted)
        sql = "(" + sql + " OR (s.type = " + QByteArray::number(kGapRecordType) + " AND "
              + IndexedSearch::gapCondition().replace("message", "s.message") + "))";
    if (!query.since.isEmpty())
        sql += " AND s.datetime >= " + literal(query.since.toUtf8());
    if (!query.until.isEmpty())
        sql += " AND s.datetime <= " + literal(query.until.toUtf8());
    return sql;
}

QByteArray searchKey(const LogQuery& query, bool gapsWanted, const QByteArray& expression)
{
    return expression + '\n' + query.grep.toUtf8() + '\n' + (query.ignoreCase ? "i" : "c") + (query.fixedStrings ? "F" : "E")
           + (gapsWanted ? "g" : "-") + '\n'
           + query.since.toUtf8() + '\n' + query.until.toUtf8();
}

} // namespace

IndexedSearch::IndexedSearch(ReadConnection& connection)
    : m_connection(connection)
{
}

QByteArray IndexedSearch::gapCondition()
{
    QByteArray sql = "(";
    for (int i = 0; i < kGapMessagePrefixCount; ++i)
        sql += QByteArray(i ? " OR " : "") + "message GLOB '" + gapMessagePrefix(i) + "*'";
    return sql + ")";
}

quint64 IndexedSearch::answeredCount()
{
    return g_answered.load();
}

void IndexedSearch::reset()
{
    m_attached = false;
    m_tablesMade = false;
    m_foundKey.clear();
    m_foundUpTo = 0;
    m_idIndexKnown = false;
    m_idIndex.clear();
}

bool IndexedSearch::run(const QByteArray& sql, const std::vector<BoundValue>& values, qint64* number)
{
    SqliteStatement statement(m_connection.handle(), sql);
    if (!statement.prepared())
        return false;
    statement.bind(values);
    int rc;
    while ((rc = statement.step()) == SQLITE_ROW) {
        if (number)
            *number = statement.int64At(0);
    }
    return rc == SQLITE_DONE;
}

bool IndexedSearch::attach()
{
    if (m_attached)
        return true;
    SqliteStatement statement(m_connection.handle(), QByteArray("ATTACH ?1 AS ") + kSchema);
    if (!statement.prepared())
        return false;
    statement.bindText(1, IndexLayout::pathFor(m_connection.path()).toUtf8());
    m_attached = statement.step() == SQLITE_DONE;
    return m_attached;
}

void IndexedSearch::detach()
{
    if (!m_attached)
        return;
    sqlite3_exec(m_connection.handle(), (QByteArray("DETACH ") + kSchema).constData(), nullptr, nullptr, nullptr);
    m_attached = false;
}

// An error on the index: the search goes on without it, unless the error
// was a stop.
bool IndexedSearch::indexTrouble()
{
    sqlite3_exec(m_connection.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    detach();
    if (m_connection.stopRequested())
        return m_connection.failFromSqlite();
    return true;
}

// How far the index goes and whether it belongs to this log, read in one
// snapshot with the log's newest id. An index that cannot be read is not
// usable; a log that cannot be read leaves it to the reader's own
// statements to say why.
bool IndexedSearch::inspect(Plan& plan, bool& usable)
{
    usable = false;
    plan.parts.clear();
    plan.indexedUpTo = 0;
    plan.newestId = 0;
    sqlite3* db = m_connection.handle();
    const bool attached = attach();
    if (m_connection.stopRequested())
        return m_connection.fail(FailureKind::Interrupted, QString());
    if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK
        || !run("SELECT ifnull(max(id), 0) FROM main.SystemInfo", {}, &plan.newestId))
        return indexTrouble();
    usable = attached && readIndexState(plan);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (!usable)
        plan.parts.clear();
    return !m_connection.stopRequested() || m_connection.fail(FailureKind::Interrupted, QString());
}

// Within inspect()'s transaction: whether the attached index is of this
// format and belongs to this log, with its parts.
bool IndexedSearch::readIndexState(Plan& plan)
{
    sqlite3* db = m_connection.handle();
    qint64 format = 0;
    QByteArray lastRow;
    {
        SqliteStatement info(db, QByteArray("SELECT key, value FROM ") + kSchema + ".IndexInfo");
        if (!info.prepared())
            return false;
        int rc;
        while ((rc = info.step()) == SQLITE_ROW) {
            if (info.textAt(0) == "format")
                format = info.int64At(1);
            else if (info.textAt(0) == "lastRow")
                lastRow = QByteArray(info.textAt(1).constData(), info.textAt(1).size());
        }
        if (rc != SQLITE_DONE || format != IndexLayout::kFormat)
            return false;
    }
    {
        SqliteStatement parts(db, QByteArray("SELECT part, firstId, lastId, rows FROM ") + kSchema + ".IndexParts ORDER BY part");
        if (!parts.prepared())
            return false;
        int rc;
        while ((rc = parts.step()) == SQLITE_ROW)
            plan.parts << Part{QByteArray(kSchema) + '.' + IndexLayout::partTable(parts.int64At(0)),
                               IndexLayout::partTable(parts.int64At(0)), parts.int64At(1), parts.int64At(2), parts.int64At(3)};
        if (rc != SQLITE_DONE)
            return false;
    }
    plan.indexedUpTo = plan.parts.isEmpty() ? 0 : plan.parts.last().lastId;
    QByteArray present;
    if (!IndexLayout::fingerprint(db, plan.indexedUpTo, present))
        return false;
    return plan.indexedUpTo == 0 || (!present.isEmpty() && present == lastRow);
}

bool IndexedSearch::bringUpToDate(qint64 behind)
{
    const QString log = QDir::toNativeSeparators(m_connection.path());
    if (behind >= kAnnouncedRows)
        SearchNotices::tell(TextIndex::Notice::Building, m_connection.path(),
                            QStringLiteral("正在为 %1 建立文本索引（%2 条记录，只需一次）……").arg(log).arg(behind));
    IndexBuilder builder(m_connection.path());
    builder.setStopCheck([this] { return m_connection.stopRequested(); });
    if (builder.catchUp())
        return true;
    if (m_connection.stopRequested())
        return m_connection.fail(FailureKind::Interrupted, QString());
    SearchNotices::tell(TextIndex::Notice::ReadingRecords, m_connection.path(),
                        QStringLiteral("无法建立或更新 %1 的文本索引（%2）：查找逐条读取索引未包含的记录")
                            .arg(log, builder.errorText()));
    return true;
}

bool IndexedSearch::plan(const LogQuery& query, const QByteArray& expression, Plan& result, bool readsRows)
{
    result = Plan();
    if (expression.isEmpty())
        return true;
    bool usable = false;
    if (!inspect(result, usable))
        return false;

    const qint64 covered = std::max(usable ? result.indexedUpTo : 0, query.afterId);
    // A log with no usable index is indexed at its reader's first search
    // however few rows it has, so that one no one can index (a read-only
    // folder) is said to be read row by row.
    const bool firstWithoutIndex = !usable && !m_triedToMakeIndex;
    if (firstWithoutIndex || result.newestId - covered > kQuietTailRows) {
        m_triedToMakeIndex = m_triedToMakeIndex || firstWithoutIndex;
        detach();
        if (!bringUpToDate(result.newestId - covered) || !inspect(result, usable))
            return false;
    }
    result.expression = expression;
    bool common = false;
    if (!usable || query.afterId >= result.indexedUpTo || (readsRows && (!tooCommon(result, common) || common))) {
        detach();  // the rows after the index are read as they always were
        result.parts.clear();
        result.expression.clear();
        return !m_connection.stopRequested() || m_connection.fail(FailureKind::Interrupted, QString());
    }
    return true;
}

// Whether the index gives a quarter of the rows or more, counted only as far
// as that.
bool IndexedSearch::tooCommon(const Plan& plan, bool& common)
{
    qint64 rows = plan.newestId - plan.indexedUpTo;
    for (const Part& part : plan.parts)
        rows += part.rows;
    const qint64 limit = std::max<qint64>(rows / 4, kQuietTailRows);
    qint64 found = 0;
    for (const Part& part : plan.parts) {
        qint64 inPart = 0;
        if (!run("SELECT count(*) FROM (SELECT 1 FROM " + part.table + " WHERE " + part.column + " MATCH "
                     + literal(plan.expression) + " LIMIT " + QByteArray::number(limit - found + 1) + ')',
                 {}, &inPart))
            return false;
        found += inPart;
        if (found > limit)
            break;
    }
    common = found > limit;
    return true;
}

bool IndexedSearch::materialize(const Plan& plan, const LogQuery& query, bool gapsWanted, qint64 after)
{
    sqlite3* db = m_connection.handle();
    if (!m_tablesMade) {
        const QByteArray make = QByteArray("CREATE TEMP TABLE IF NOT EXISTS vx_found(id INTEGER PRIMARY KEY, type, datetime);"
                                           "CREATE INDEX IF NOT EXISTS temp.vx_found_time ON vx_found(type, datetime);"
                                           "CREATE TEMP VIEW IF NOT EXISTS ")
                                + kRowsView
                                + " AS SELECT f.id AS id, f.datetime AS datetime, f.type AS type, s.message AS message"
                                  " FROM temp.vx_found AS f CROSS JOIN main.SystemInfo AS s ON s.id = f.id";
        if (sqlite3_exec(db, make.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
            return false;
        m_tablesMade = true;
    }
    if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    const QByteArray kept = keptRows(query, gapsWanted);
    bool ok = after > 0 || run("DELETE FROM temp.vx_found");
    for (const Part& part : plan.parts) {
        if (!ok || part.lastId <= after)
            continue;
        ok = run("INSERT OR IGNORE INTO temp.vx_found(id, type, datetime) SELECT s.id, s.type, s.datetime FROM " + part.table
                 + " AS w CROSS JOIN main.SystemInfo AS s ON s.id = w.rowid WHERE w." + part.column + " MATCH " + literal(plan.expression)
                 + " AND w.rowid > " + QByteArray::number(after) + " AND w.rowid <= " + QByteArray::number(plan.indexedUpTo)
                 + " AND " + kept);
    }
    ok = ok
         && run("INSERT OR IGNORE INTO temp.vx_found(id, type, datetime) SELECT s.id, s.type, s.datetime FROM main.SystemInfo AS s"
                " WHERE s.id > "
                + QByteArray::number(std::max(after, plan.indexedUpTo)) + " AND s.id <= " + QByteArray::number(plan.newestId)
                + " AND " + kept);
    if (!ok || sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        m_foundKey.clear();
        return false;
    }
    m_foundUpTo = plan.newestId;
    return true;
}

bool IndexedSearch::sourceFor(const LogQuery& query, bool gapsWanted, QByteArray& table)
{
    table = "SystemInfo";
    if (query.grep.isEmpty() || !m_connection.handle())
        return true;
    const QByteArray expression = expressionFor(query, gapsWanted);
    if (expression.isEmpty())
        return true;
    const QByteArray key = searchKey(query, gapsWanted, expression);
    if (key == m_foundKey && query.upToId > 0 && query.upToId <= m_foundUpTo) {
        g_answered.fetch_add(1);
        table = kRowsView;
        return true;
    }
    Plan found;
    if (!plan(query, expression, found))
        return false;
    if (found.expression.isEmpty())
        return true;
    const qint64 after = key == m_foundKey ? m_foundUpTo : 0;
    m_foundKey = key;
    const bool made = materialize(found, query, gapsWanted, std::min(after, found.newestId));
    // Not found this way (the index changed under the search, say): every
    // row is read instead, unless the search was stopped.
    if (!made)
        return indexTrouble();
    detach();
    g_answered.fetch_add(1);
    table = kRowsView;
    return true;
}

bool IndexedSearch::count(const LogQuery& query, const QString& whereSql, const std::vector<BoundValue>& values,
                          qint64& result, bool& answered)
{
    answered = false;
    result = 0;
    if (!m_connection.handle() || query.grep.isEmpty())
        return true;
    Plan found;
    QByteArray byId;
    const bool exactly = countsExactly(query) && idIndex(byId) && !byId.isEmpty();
    if (!plan(query, expressionFor(query, false), found, !exactly))
        return false;
    if (found.expression.isEmpty())
        return true;
    sqlite3* db = m_connection.handle();
    const QByteArray where = whereSql.toUtf8();
    bool ok = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (exactly)
        ok = ok && countExactly(query, found, byId, result);
    for (int i = 0; !exactly && i < found.parts.size(); ++i) {
        const Part& part = found.parts[i];
        qint64 partCount = 0;
        ok = ok
             && run("SELECT count(*) FROM " + part.table + " AS w CROSS JOIN main.SystemInfo AS s ON s.id = w.rowid WHERE w." + part.column + " MATCH "
                        + literal(found.expression) + " AND w.rowid > " + QByteArray::number(query.afterId) + " AND w.rowid <= "
                        + QByteArray::number(found.indexedUpTo) + " AND (" + where + ')',
                    values, &partCount);
        result += partCount;
    }
    qint64 tail = 0;
    ok = ok
         && run("SELECT count(*) FROM main.SystemInfo WHERE id > " + QByteArray::number(found.indexedUpTo) + " AND (" + where + ')',
                values, &tail);
    result += tail;
    if (!ok) {
        result = 0;
        return indexTrouble();
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    detach();
    g_answered.fetch_add(1);
    answered = true;
    return true;
}

bool IndexedSearch::countsExactly(const LogQuery& query)
{
    return query.types.isEmpty() && query.since.isEmpty() && query.until.isEmpty() && !query.resume
           && TextTokens::answersExactly(query.grep, query.ignoreCase);
}

// Within count()'s transaction: the rows up to the index's last id that the
// index matches and the log still holds, as its index on id tells.
bool IndexedSearch::countExactly(const LogQuery& query, const Plan& plan, const QByteArray& index, qint64& result)
{
    const qint64 upTo = query.upToId > 0 ? std::min(query.upToId, plan.indexedUpTo) : plan.indexedUpTo;
    QByteArray quotedIndex = index;
    quotedIndex.replace('"', "\"\"");
    for (const Part& part : plan.parts) {
        if (part.lastId <= query.afterId || part.firstId > upTo)
            continue;
        qint64 partCount = 0;
        if (!run("SELECT count(*) FROM " + part.table + " AS w CROSS JOIN main.SystemInfo AS s INDEXED BY \"" + quotedIndex
                     + "\" ON s.id = w.rowid WHERE w." + part.column + " MATCH " + literal(plan.expression) + " AND w.rowid > "
                     + QByteArray::number(query.afterId) + " AND w.rowid <= " + QByteArray::number(upTo),
                 {}, &partCount))
            return false;
        result += partCount;
    }
    return true;
}

bool IndexedSearch::idIndex(QByteArray& name)
{
    if (m_idIndexKnown) {
        name = m_idIndex;
        return true;
    }
    SqliteStatement indexes(m_connection.handle(),
                            "SELECT l.name FROM pragma_index_list('SystemInfo', 'main') AS l WHERE l.partial = 0 AND "
                            "(SELECT count(*) FROM pragma_index_info(l.name, 'main')) = 1 AND "
                            "(SELECT lower(i.name) FROM pragma_index_info(l.name, 'main') AS i) = 'id'");
    if (!indexes.prepared())
        return false;
    const int rc = indexes.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return false;
    // textAt() only lends SQLite's bytes until the next step.
    m_idIndex = rc == SQLITE_ROW ? QByteArray(indexes.textAt(0).constData(), indexes.textAt(0).size()) : QByteArray();
    m_idIndexKnown = true;
    name = m_idIndex;
    return true;
}

} // namespace SystemLog

namespace SystemLog {

bool IndexedSearch::candidates(const QString& text, std::vector<qint64>& ids, qint64& indexedUpTo, bool& answered)
{
    ids.clear();
    indexedUpTo = 0;
    answered = false;
    if (!m_connection.usable())
        return false;
    Plan found;
    if (!plan(LogQuery(), PatternQuery::forLiteral(text, true), found))
        return false;
    if (found.expression.isEmpty())
        return true;
    bool ok = sqlite3_exec(m_connection.handle(), "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
    for (const Part& part : found.parts) {
        if (!ok)
            break;
        SqliteStatement rows(m_connection.handle(), "SELECT rowid FROM " + part.table + " WHERE " + part.column + " MATCH "
                                                        + literal(found.expression) + " AND rowid <= "
                                                        + QByteArray::number(found.indexedUpTo) + " ORDER BY rowid");
        ok = rows.prepared();
        int rc = SQLITE_DONE;
        while (ok && (rc = rows.step()) == SQLITE_ROW)
            ids.push_back(rows.int64At(0));
        ok = ok && rc == SQLITE_DONE;
    }
    if (!ok) {
        ids.clear();
        return indexTrouble();
    }
    sqlite3_exec(m_connection.handle(), "COMMIT", nullptr, nullptr, nullptr);
    detach();
    g_answered.fetch_add(1);
    indexedUpTo = found.indexedUpTo;
    answered = true;
    return true;
}

} // namespace SystemLog
