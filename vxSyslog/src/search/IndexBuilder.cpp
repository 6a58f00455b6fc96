#include "search/IndexBuilder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <chrono>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include <vxSyslog/DatabaseFailure.h>

#include "search/IndexLayout.h"
#include "search/IndexTokenizer.h"
#include "store/SqliteStatement.h"

namespace SystemLog {

namespace {

// Virtual machine steps between two looks at the stop check.
constexpr int kStopCheckSteps = 1000;
// A batch holds at most this many bytes of messages in memory.
constexpr qint64 kBatchBytes = 4 * 1024 * 1024;

bool isDamage(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

bool meansCannotWrite(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_READONLY || primary == SQLITE_CANTOPEN || primary == SQLITE_PERM || primary == SQLITE_AUTH;
}

// A log or an index from another machine is untrusted input, read as a
// reader reads it (ReadConnection.h): no function of this program runs from
// a view or a trigger in its schema.
void distrust(sqlite3* db)
{
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
}

struct Row
{
    qint64 id;
    QByteArray message;
    bool isNull;
};

} // namespace

IndexBuilder::IndexBuilder(const QString& logPath)
    : m_logPath(logPath)
    , m_indexPath(IndexLayout::pathFor(logPath))
    , m_partRows(IndexLayout::kPartRows)
{
}

IndexBuilder::~IndexBuilder()
{
    close();
}

void IndexBuilder::interrupt()
{
    m_interrupted.store(true);
    std::lock_guard<std::mutex> lock(m_handleMutex);
    if (m_log)
        sqlite3_interrupt(m_log);
    if (m_index)
        sqlite3_interrupt(m_index);
}

bool IndexBuilder::stopRequested() const
{
    return m_interrupted.load() || (m_stopCheck && m_stopCheck());
}

int IndexBuilder::onBusy(void* self, int attempt)
{
    auto* b = static_cast<IndexBuilder*>(self);
    if (attempt == 0)
        b->m_busyClock.start();
    if (b->stopRequested() || b->m_busyClock.elapsed() >= b->m_busyTimeoutMs)
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(attempt < 10 ? 1 : 5));
    return 1;
}

int IndexBuilder::onProgress(void* self)
{
    return static_cast<IndexBuilder*>(self)->stopRequested() ? 1 : 0;
}

void IndexBuilder::close()
{
    std::lock_guard<std::mutex> lock(m_handleMutex);
    sqlite3_close(m_log);
    sqlite3_close(m_index);
    m_log = nullptr;
    m_index = nullptr;
}

bool IndexBuilder::fail(const QString& message)
{
    m_error = message;
    return false;
}

bool IndexBuilder::fail(sqlite3* db)
{
    const int code = sqlite3_extended_errcode(db);
    const QString detail = QString::fromUtf8(sqlite3_errmsg(db));
    if (db == m_index && meansCannotWrite(code))
        m_cannotWrite = true;
    const QString what = db == m_log ? QDir::toNativeSeparators(m_logPath) : QDir::toNativeSeparators(m_indexPath);
    FailureKind kind = failureKindOfSqliteCode(code);
    if (kind == FailureKind::Interrupted || stopRequested())
        kind = FailureKind::Interrupted;
    return fail(QStringLiteral("%1：%2").arg(what, describeFailure(kind, detail)));
}

bool IndexBuilder::exec(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK || fail(db);
}

bool IndexBuilder::openIndex()
{
    const QFileInfo file(m_indexPath);
    if (file.exists() && !file.isFile()) {
        m_cannotWrite = true;
        return fail(QStringLiteral("%1：%2").arg(QDir::toNativeSeparators(m_indexPath),
                                                 describeFailure(FailureKind::CannotOpen, QStringLiteral("不是普通文件"))));
    }
    sqlite3* handle = nullptr;
    const int rc = sqlite3_open_v2(m_indexPath.toUtf8().constData(), &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    {
        std::lock_guard<std::mutex> lock(m_handleMutex);
        m_index = handle;
    }
    if (rc != SQLITE_OK)
        return fail(m_index);
    if (sqlite3_db_readonly(m_index, "main") == 1) {
        m_cannotWrite = true;
        return fail(QStringLiteral("%1：%2").arg(QDir::toNativeSeparators(m_indexPath), describeFailure(FailureKind::ReadOnly, QString())));
    }
    distrust(m_index);
    sqlite3_busy_handler(m_index, &IndexBuilder::onBusy, this);
    sqlite3_progress_handler(m_index, kStopCheckSteps, &IndexBuilder::onProgress, this);
    if (IndexTokenizer::registerOn(m_index) != SQLITE_OK)
        return fail(m_index);
    // A new file gives pages back when parts are dropped (prune()).
    return exec(m_index, "PRAGMA auto_vacuum = INCREMENTAL") && exec(m_index, "PRAGMA synchronous = FULL");
}

bool IndexBuilder::open()
{
    if (m_log && m_index)
        return true;
    close();
    if (!QFileInfo(m_logPath).isFile())
        return fail(QStringLiteral("%1：%2").arg(QDir::toNativeSeparators(m_logPath), describeFailure(FailureKind::Missing, QString())));
    sqlite3* handle = nullptr;
    const int rc = sqlite3_open_v2(m_logPath.toUtf8().constData(), &handle, SQLITE_OPEN_READONLY, nullptr);
    {
        std::lock_guard<std::mutex> lock(m_handleMutex);
        m_log = handle;
    }
    if (rc != SQLITE_OK) {
        fail(m_log);
        close();
        return false;
    }
    distrust(m_log);
    sqlite3_busy_handler(m_log, &IndexBuilder::onBusy, this);
    sqlite3_progress_handler(m_log, kStopCheckSteps, &IndexBuilder::onProgress, this);
    if (openIndex())
        return true;
    const bool damaged = m_index && isDamage(sqlite3_extended_errcode(m_index));
    close();
    return damaged && remakeIndex() && open();
}

// An index file that is not a database, or a damaged one, is removed and
// made anew, once: it only ever holds what the log holds.
bool IndexBuilder::remakeIndex()
{
    if (m_remade)
        return false;
    m_remade = true;
    close();
    QFile::remove(m_indexPath + QLatin1String("-journal"));
    return QFile::remove(m_indexPath)
           || fail(QStringLiteral("%1：%2").arg(QDir::toNativeSeparators(m_indexPath), describeFailure(FailureKind::Corrupt, QString())));
}

// Takes the index's write lock (a damaged file is made anew, see remakeIndex()).
bool IndexBuilder::begin()
{
    if (stopRequested())
        return fail(describeFailure(FailureKind::Interrupted, QString()));
    if (sqlite3_exec(m_index, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    if (!isDamage(sqlite3_extended_errcode(m_index)))
        return fail(m_index);
    fail(m_index);
    return remakeIndex() && open() && begin();
}

bool IndexBuilder::ensureSchema()
{
    if (!exec(m_index, "CREATE TABLE IF NOT EXISTS IndexInfo(key TEXT PRIMARY KEY, value);"
                       "CREATE TABLE IF NOT EXISTS IndexParts(part INTEGER PRIMARY KEY, firstId INTEGER NOT NULL,"
                       " lastId INTEGER NOT NULL, rows INTEGER NOT NULL)"))
        return false;
    {
        SqliteStatement format(m_index, "SELECT value FROM IndexInfo WHERE key = 'format'");
        if (!format.prepared())
            return fail(m_index);
        const int rc = format.step();
        if (rc == SQLITE_ROW && format.int64At(0) == IndexLayout::kFormat)
            return true;
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            return fail(m_index);
    }
    // New, or written by another version: built anew in this one's format.
    return dropParts(-1)
           && exec(m_index, QByteArray("DELETE FROM IndexInfo; INSERT INTO IndexInfo VALUES('format', ")
                                .append(QByteArray::number(IndexLayout::kFormat))
                                .append(")")
                                .constData());
}

// Drops the parts whose last id is below `belowId`; every part for -1.
bool IndexBuilder::dropParts(qint64 belowId)
{
    std::vector<qint64> parts;
    {
        SqliteStatement list(m_index, "SELECT part FROM IndexParts WHERE ?1 < 0 OR lastId < ?1");
        if (!list.prepared())
            return fail(m_index);
        list.bindNumber(1, belowId);
        int rc;
        while ((rc = list.step()) == SQLITE_ROW)
            parts.push_back(list.int64At(0));
        if (rc != SQLITE_DONE)
            return fail(m_index);
    }
    for (qint64 part : parts) {
        const QByteArray sql = "DROP TABLE IF EXISTS " + IndexLayout::partTable(part) + "; DELETE FROM IndexParts WHERE part = "
                               + QByteArray::number(part);
        if (!exec(m_index, sql.constData()))
            return false;
    }
    return true;
}

bool IndexBuilder::indexedUpTo(qint64& lastId, qint64& part, qint64& partRows)
{
    lastId = part = partRows = 0;
    SqliteStatement newest(m_index, "SELECT part, lastId, rows FROM IndexParts ORDER BY part DESC LIMIT 1");
    if (!newest.prepared())
        return fail(m_index);
    const int rc = newest.step();
    if (rc == SQLITE_ROW) {
        part = newest.int64At(0);
        lastId = newest.int64At(1);
        partRows = newest.int64At(2);
    }
    return rc == SQLITE_ROW || rc == SQLITE_DONE || fail(m_index);
}

bool IndexBuilder::belongsToLog(qint64 lastId, bool& belongs)
{
    belongs = true;
    if (lastId == 0)
        return true;
    QByteArray present;
    if (!IndexLayout::fingerprint(m_log, lastId, present))
        return fail(m_log);
    SqliteStatement stored(m_index, "SELECT value FROM IndexInfo WHERE key = 'lastRow'");
    if (!stored.prepared())
        return fail(m_index);
    const int rc = stored.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return fail(m_index);
    belongs = rc == SQLITE_ROW && !present.isEmpty() && stored.textAt(0) == present;
    return true;
}

// The next rows after `after`, read first and the log's statement ended, then
// added to the newest part (a new one when it is full).
bool IndexBuilder::addRows(qint64 after, qint64 part, qint64 partRows, int& added)
{
    added = 0;
    std::vector<Row> rows;
    {
        SqliteStatement read(m_log, "SELECT id, message FROM SystemInfo WHERE id > ?1 ORDER BY id LIMIT ?2");
        if (!read.prepared())
            return fail(m_log);
        read.bindNumber(1, after);
        read.bindNumber(2, kBatchRows);
        qint64 bytes = 0;
        int rc;
        while (bytes < kBatchBytes && (rc = read.step()) == SQLITE_ROW) {
            const QByteArray message = read.textAt(1);
            rows.push_back({read.int64At(0), QByteArray(message.constData(), message.size()), read.isNullAt(1)});
            bytes += message.size() + 16;
        }
        if (bytes < kBatchBytes && rc != SQLITE_DONE)
            return fail(m_log);
    }
    if (rows.empty())
        return true;
    std::unique_ptr<SqliteStatement> insert;
    auto finishPart = [&](qint64 lastId) {
        SqliteStatement update(m_index, "UPDATE IndexParts SET lastId = ?1, rows = ?2 WHERE part = ?3");
        if (!update.prepared())
            return fail(m_index);
        update.bindNumber(1, lastId);
        update.bindNumber(2, partRows);
        update.bindNumber(3, part);
        return update.step() == SQLITE_DONE || fail(m_index);
    };
    qint64 lastId = after;
    for (const Row& row : rows) {
        if (part == 0 || partRows >= m_partRows) {
            if (insert && !finishPart(lastId))
                return false;
            ++part;
            partRows = 0;
            const QByteArray table = IndexLayout::partTable(part);
            const QByteArray create = "CREATE VIRTUAL TABLE " + table + " USING fts5(words, content='', detail=none, tokenize='"
                                      + IndexTokenizer::kName + "'); INSERT INTO IndexParts VALUES(" + QByteArray::number(part)
                                      + ", " + QByteArray::number(row.id) + ", " + QByteArray::number(row.id) + ", 0)";
            if (!exec(m_index, create.constData()))
                return false;
            insert = std::make_unique<SqliteStatement>(m_index, "INSERT INTO " + table + "(rowid, words) VALUES(?1, ?2)");
            if (!insert->prepared())
                return fail(m_index);
        } else if (!insert) {
            insert = std::make_unique<SqliteStatement>(m_index, "INSERT INTO " + IndexLayout::partTable(part)
                                                                    + "(rowid, words) VALUES(?1, ?2)");
            if (!insert->prepared())
                return fail(m_index);
        }
        insert->bindNumber(1, row.id);
        if (row.isNull)
            sqlite3_bind_null(insert->get(), 2);
        else
            sqlite3_bind_text(insert->get(), 2, row.message.constData(), row.message.size(), SQLITE_STATIC);
        if (insert->step() != SQLITE_DONE)
            return fail(m_index);
        sqlite3_reset(insert->get());
        ++partRows;
        lastId = row.id;
        ++added;
    }
    if (!finishPart(lastId))
        return false;
    QByteArray print;
    if (!IndexLayout::fingerprint(m_log, lastId, print))
        return fail(m_log);
    SqliteStatement note(m_index, "INSERT OR REPLACE INTO IndexInfo VALUES('lastRow', ?1)");
    if (!note.prepared())
        return fail(m_index);
    note.bindText(1, print);
    return note.step() == SQLITE_DONE || fail(m_index);
}

bool IndexBuilder::step(bool& done)
{
    done = false;
    if (!open() || !begin())
        return false;
    qint64 lastId = 0;
    qint64 part = 0;
    qint64 partRows = 0;
    bool belongs = true;
    int added = 0;
    bool ok = ensureSchema() && indexedUpTo(lastId, part, partRows) && belongsToLog(lastId, belongs);
    if (ok && !belongs) {
        // Another log, or one whose ids started again: built anew.
        ok = dropParts(-1) && exec(m_index, "DELETE FROM IndexInfo WHERE key = 'lastRow'");
        lastId = part = partRows = 0;
    }
    ok = ok && addRows(lastId, part, partRows, added);
    if (!ok || !exec(m_index, "COMMIT")) {
        sqlite3_exec(m_index, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    done = added == 0;
    return true;
}

bool IndexBuilder::rowsBehind(qint64& rows)
{
    rows = 0;
    if (!open())
        return false;
    qint64 newest = 0;
    {
        SqliteStatement last(m_log, "SELECT max(id) FROM SystemInfo");
        if (!last.prepared() || last.step() != SQLITE_ROW)
            return fail(m_log);
        newest = last.int64At(0);
    }
    qint64 lastId = 0;
    SqliteStatement indexed(m_index, "SELECT max(lastId) FROM IndexParts");
    if (indexed.prepared() && indexed.step() == SQLITE_ROW)
        lastId = indexed.int64At(0);
    rows = qMax<qint64>(0, newest - lastId);
    return true;
}

bool IndexBuilder::catchUp(const std::function<void(qint64, qint64)>& progress)
{
    qint64 indexed = 0;
    for (;;) {
        bool done = false;
        qint64 before = 0;
        if (progress && !rowsBehind(before))
            return false;
        if (!step(done))
            return false;
        if (done)
            return true;
        if (progress) {
            qint64 left = 0;
            if (!rowsBehind(left))
                return false;
            indexed += qMax<qint64>(0, before - left);
            progress(indexed, left);
        }
    }
}

bool IndexBuilder::prune()
{
    if (!QFileInfo::exists(m_indexPath))
        return true;
    if (!open() || !begin())
        return false;
    qint64 oldest = 0;
    bool hasParts = false;
    bool ok = true;
    {
        SqliteStatement first(m_log, "SELECT ifnull(min(id), 9223372036854775807) FROM SystemInfo");
        ok = first.prepared() && first.step() == SQLITE_ROW;
        if (ok)
            oldest = first.int64At(0);
        else
            fail(m_log);
    }
    if (ok) {
        SqliteStatement parts(m_index, "SELECT count(*) FROM sqlite_master WHERE name = 'IndexParts'");
        ok = parts.prepared() && parts.step() == SQLITE_ROW;
        hasParts = ok && parts.int64At(0) > 0;
        if (!ok)
            fail(m_index);
    }
    const int before = sqlite3_total_changes(m_index);
    ok = ok && (!hasParts || dropParts(oldest));
    const bool dropped = sqlite3_total_changes(m_index) != before;
    if (!ok || !exec(m_index, "COMMIT")) {
        sqlite3_exec(m_index, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    // Gives the dropped parts' pages back to the file system.
    return !dropped || exec(m_index, "PRAGMA incremental_vacuum");
}

} // namespace SystemLog
