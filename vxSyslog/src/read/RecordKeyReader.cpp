#include <vxSyslog/RecordKeyReader.h>

#include <QElapsedTimer>
#include <QFileInfo>

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "store/ReaderChecks.h"
#include "store/SqliteStatement.h"

namespace SystemLog {

namespace {

QString textAt(sqlite3_stmt* statement, int column)
{
    const void* text = sqlite3_column_text16(statement, column);
    const int bytes = sqlite3_column_bytes16(statement, column);
    return text ? QString(static_cast<const QChar*>(text), bytes / int(sizeof(QChar))) : QString();
}

QByteArray utf8At(sqlite3_stmt* statement, int column)
{
    const char* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return QByteArray(text ? text : "", sqlite3_column_bytes(statement, column));
}

// The UTF-16 length SQLite's own conversion gives the stored UTF-8 bytes,
// counted without converting them: a listing reads millions of rows, and the
// conversion would be most of its work. It decodes as SQLite does, malformed
// bytes included: a lead byte takes every continuation byte after it, a stray
// continuation byte is a character of its own, and a value past U+FFFF takes
// two units.
int utf16LengthOfUtf8(sqlite3_stmt* statement, int column)
{
    const auto* p = static_cast<const unsigned char*>(sqlite3_column_blob(statement, column));
    const unsigned char* end = p + sqlite3_column_bytes(statement, column);
    int units = 0;
    while (p != end) {
        const unsigned char lead = *p++;
        if (lead < 0xc0) {
            ++units;
            continue;
        }
        // The lead byte's own bits (SQLite's sqlite3Utf8Trans1).
        quint32 c = lead < 0xe0 ? lead & 0x1f : lead < 0xf0 ? lead & 0x0f : lead < 0xf8 ? lead & 0x07 : lead < 0xfc ? lead & 0x03 : lead < 0xfe ? lead & 0x01 : 0;
        while (p != end && (*p & 0xc0) == 0x80)
            c = (c << 6) + (*p++ & 0x3f);
        // What SQLite replaces by U+FFFD lies below U+10000 as well.
        units += c > 0xffff ? 2 : 1;
    }
    return units;
}

// Where a sliced read goes on: after the row (datetime, id) it delivered last.
struct Resume
{
    bool started = false;
    QByteArray datetime;
    qint64 id = 0;
};

// The query's condition. The first slice has the query's own bounds (both
// included); a later slice of rows starts at the last row's time stamp, past
// its id, and a later slice of groups past the last group's time stamp.
QByteArray whereClause(const ViewerQuery& query, const Resume& resume, bool byGroup)
{
    const bool atRow = resume.started && !byGroup;
    QByteArray sql = resume.started && byGroup ? " WHERE datetime > ?1" : " WHERE datetime >= ?1";
    sql += " AND datetime <= ?2 AND type = ?3";
    if (query.upToId > 0)
        sql += " AND id <= ?4";
    if (atRow)
        sql += " AND (datetime > ?1 OR id > ?5)";
    return sql;
}

void bindQuery(SqliteStatement& statement, const ViewerQuery& query, const Resume& resume)
{
    statement.bindText(1, resume.started ? resume.datetime : query.start.toUtf8());
    statement.bindText(2, query.end.toUtf8());
    statement.bindNumber(3, query.type);
    if (query.upToId > 0)
        statement.bindNumber(4, query.upToId);
    if (resume.started && resume.id > 0)
        statement.bindNumber(5, resume.id);
}

} // namespace

struct RecordKeyReader::Private
{
    QString path;
    sqlite3* db = nullptr;
    std::mutex handleMutex; // db against interrupt() from another thread
    std::atomic<bool> interrupted{false};
    int busyTimeoutMs = kDefaultBusyTimeoutMs;
    // A writer of the file (rollback journal: its commit waits for every
    // reader) waits at most about this long for a slice of a long read.
    qint64 sliceMs = kDefaultSliceMs;
    QElapsedTimer busyClock;
    bool sliced = false; // the time index exists, so a slice can seek where the last ended
    bool utf8 = true;    // texts are stored as UTF-8 (a database may choose UTF-16)
    sqlite3_stmt* fetchStatement = nullptr;
    FailureKind kind = FailureKind::Other;
    QString error;

    ~Private() { close(); }

    void close()
    {
        sqlite3_finalize(fetchStatement);
        fetchStatement = nullptr;
        std::lock_guard<std::mutex> lock(handleMutex);
        sqlite3_close(db);
        db = nullptr;
    }

    bool fail(FailureKind failureKind, const QString& detail)
    {
        kind = failureKind;
        error = describeFailure(failureKind, detail);
        return false;
    }

    bool failFromSqlite()
    {
        if (interrupted.load())
            return fail(FailureKind::Other, QStringLiteral("已取消"));
        const QString message = QString::fromUtf8(sqlite3_errmsg(db));
        return fail(failureKindOfSqliteError(sqlite3_extended_errcode(db), message), message);
    }

    bool usable()
    {
        if (interrupted.load())
            return fail(FailureKind::Other, QStringLiteral("已取消"));
        if (!db)
            return fail(FailureKind::CannotOpen, QStringLiteral("未打开"));
        return true;
    }

    // Waits for another program's lock in short naps, so that an interrupt
    // ends the wait at once.
    static int onBusy(void* context, int attempt)
    {
        auto* self = static_cast<Private*>(context);
        if (attempt == 0)
            self->busyClock.start();
        if (self->interrupted.load() || self->busyClock.elapsed() >= self->busyTimeoutMs)
            return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(attempt < 10 ? 1 : 5));
        return 1;
    }

    bool checkSchema()
    {
        SqliteStatement info(db, "PRAGMA table_info(SystemInfo)");
        if (!info.prepared())
            return failFromSqlite();
        QStringList columns;
        int rc;
        while ((rc = info.step()) == SQLITE_ROW)
            columns << textAt(info.get(), 1).toLower();
        if (rc != SQLITE_DONE)
            return failFromSqlite();
        return holdsLogColumns(columns) || fail(FailureKind::NotALogDatabase, QString());
    }

    // Whether an index leads with (type, datetime), as the writer creates it.
    bool hasTimeIndex()
    {
        SqliteStatement indexes(db, "SELECT il.name FROM pragma_index_list('SystemInfo') AS il "
                              "WHERE (SELECT group_concat(name, ',') FROM (SELECT name FROM pragma_index_info(il.name) "
                              "ORDER BY seqno LIMIT 2)) = 'type,datetime'");
        return indexes.prepared() && indexes.step() == SQLITE_ROW;
    }

    bool open()
    {
        close();
        const QFileInfo file(path);
        // Checked first: SQLite would report a missing file only as "cannot open".
        if (!file.exists())
            return fail(FailureKind::Missing, QString());
        if (!file.isFile())
            return fail(FailureKind::CannotOpen, QStringLiteral("不是普通文件"));
        sqlite3* handle = nullptr;
        const int rc = sqlite3_open_v2(path.toUtf8().constData(), &handle, SQLITE_OPEN_READONLY, nullptr);
        {
            std::lock_guard<std::mutex> lock(handleMutex);
            db = handle;
        }
        if (rc != SQLITE_OK) {
            failFromSqlite();
            close();
            return false;
        }
        sqlite3_busy_handler(db, &Private::onBusy, this);
        if (!checkSchema()) {
            close();
            return false;
        }
        sliced = hasTimeIndex();
        SqliteStatement encoding(db, "PRAGMA encoding");
        utf8 = encoding.prepared() && encoding.step() == SQLITE_ROW && utf8At(encoding.get(), 0) == "UTF-8";
        return true;
    }

    // One statement run to its end; `onRow` returns false to stop early.
    bool runOnce(const QByteArray& sql, const std::function<void(SqliteStatement&)>& bind,
                 const std::function<bool(SqliteStatement&)>& onRow)
    {
        if (!usable())
            return false;
        SqliteStatement statement(db, sql);
        if (!statement.prepared())
            return failFromSqlite();
        bind(statement);
        int rc;
        while ((rc = statement.step()) == SQLITE_ROW)
            if (!onRow(statement))
                return true;
        return rc == SQLITE_DONE || failFromSqlite();
    }

    // The query's rows in slices (see kSliceMs); `columns` starts with id,
    // datetime unless byGroup, where it starts with datetime and every row
    // is a whole group of one time stamp.
    bool runSliced(const ViewerQuery& query, const char* columns, bool byGroup,
                   const std::function<bool(SqliteStatement&)>& onRow)
    {
        const QByteArray tail = byGroup ? " GROUP BY datetime ORDER BY datetime" : " ORDER BY datetime, id";
        const int datetimeColumn = byGroup ? 0 : 1;
        Resume resume;
        for (;;) {
            if (!usable())
                return false;
            SqliteStatement statement(db, QByteArray("SELECT ") + columns + " FROM SystemInfo"
                                        + whereClause(query, resume, byGroup) + tail);
            if (!statement.prepared())
                return failFromSqlite();
            bindQuery(statement, query, resume);
            QElapsedTimer slice;
            slice.start();
            int rows = 0;
            int rc;
            while ((rc = statement.step()) == SQLITE_ROW) {
                if (!onRow(statement))
                    return true;
                if (!sliced || ++rows % 64 != 0 || slice.elapsed() < sliceMs)
                    continue;
                resume = {true, utf8At(statement.get(), datetimeColumn), byGroup ? 0 : sqlite3_column_int64(statement.get(), 0)};
                break;
            }
            if (rc != SQLITE_ROW)
                return rc == SQLITE_DONE || failFromSqlite();
        }
    }

    int utf16Length(sqlite3_stmt* statement, int column) const
    {
        if (utf8)
            return utf16LengthOfUtf8(statement, column);
        return sqlite3_column_bytes16(statement, column) / int(sizeof(QChar));
    }

    bool fetch(const qint64* ids, int count, const FetchSink& sink)
    {
        if (!usable())
            return false;
        if (!fetchStatement
            && sqlite3_prepare_v2(db, "SELECT datetime, message FROM SystemInfo WHERE id = ?", -1, &fetchStatement, nullptr) != SQLITE_OK)
            return failFromSqlite();
        // One read transaction for the batch, not one per row.
        if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
            return failFromSqlite();
        int rc = SQLITE_DONE;
        for (int i = 0; i < count && (rc == SQLITE_DONE || rc == SQLITE_ROW); ++i) {
            sqlite3_bind_int64(fetchStatement, 1, ids[i]);
            rc = sqlite3_step(fetchStatement);
            if (rc == SQLITE_ROW)
                sink(i, textAt(fetchStatement, 0), textAt(fetchStatement, 1));
            sqlite3_reset(fetchStatement);
        }
        const bool ok = rc == SQLITE_DONE || rc == SQLITE_ROW;
        if (!ok)
            failFromSqlite();
        sqlite3_exec(db, ok ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
        return ok;
    }
};

RecordKeyReader::RecordKeyReader(const QString& path)
    : d(std::make_unique<Private>())
{
    d->path = path;
}

RecordKeyReader::~RecordKeyReader() = default;

void RecordKeyReader::setBusyTimeout(int milliseconds)
{
    d->busyTimeoutMs = milliseconds;
}

void RecordKeyReader::setSliceTime(int milliseconds)
{
    d->sliceMs = milliseconds;
}

bool RecordKeyReader::open()
{
    return d->open();
}

bool RecordKeyReader::lastId(qint64& id)
{
    id = 0;
    return d->runOnce("SELECT max(id) FROM SystemInfo", [](SqliteStatement&) {}, [&](SqliteStatement& row) {
        id = sqlite3_column_int64(row.get(), 0);
        return false;
    });
}

bool RecordKeyReader::count(const ViewerQuery& query, qint64& result)
{
    result = 0;
    return d->runOnce("SELECT count(*) FROM SystemInfo" + whereClause(query, Resume(), false),
                      [&](SqliteStatement& s) { bindQuery(s, query, Resume()); },
                      [&](SqliteStatement& row) {
                          result = sqlite3_column_int64(row.get(), 0);
                          return false;
                      });
}

bool RecordKeyReader::readKeys(const ViewerQuery& query, const KeySink& sink)
{
    return d->runSliced(query, "id, datetime, message", false, [&](SqliteStatement& row) {
        sqlite3_stmt* s = row.get();
        return sink(sqlite3_column_int64(s, 0), d->utf16Length(s, 1) + 2 + d->utf16Length(s, 2));
    });
}

bool RecordKeyReader::readRecords(const ViewerQuery& query, const RecordSink& sink)
{
    return d->runSliced(query, "id, datetime, message", false,
                        [&](SqliteStatement& row) { return sink(textAt(row.get(), 1), textAt(row.get(), 2)); });
}

bool RecordKeyReader::countBetween(const ViewerQuery& query, const QStringList& bounds, QVector<qint64>& counts)
{
    QVector<QByteArray> limits;
    for (const QString& bound : bounds)
        limits << bound.toUtf8();
    counts.fill(0, limits.size() + 1);
    int interval = 0;
    return d->runSliced(query, "datetime, count(*)", true, [&](SqliteStatement& row) {
        const QByteArray datetime = utf8At(row.get(), 0);
        while (interval < limits.size() && datetime >= limits.at(interval))
            ++interval;
        counts[interval] += sqlite3_column_int64(row.get(), 1);
        return true;
    });
}

bool RecordKeyReader::fetch(const qint64* ids, int count, const FetchSink& sink)
{
    return d->fetch(ids, count, sink);
}

void RecordKeyReader::interrupt()
{
    d->interrupted.store(true);
    std::lock_guard<std::mutex> lock(d->handleMutex);
    if (d->db)
        sqlite3_interrupt(d->db);
}

bool RecordKeyReader::isInterrupted() const
{
    return d->interrupted.load();
}

QString RecordKeyReader::path() const
{
    return d->path;
}

FailureKind RecordKeyReader::failureKind() const
{
    return d->kind;
}

QString RecordKeyReader::errorText() const
{
    return d->error;
}

} // namespace SystemLog
