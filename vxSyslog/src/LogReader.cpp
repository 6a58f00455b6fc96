#include <vxSyslog/LogReader.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QStringList>
#include <QVariant>

#include <sqlite3.h>

#include <vector>

namespace SystemLog {

namespace {

// A connection of the reader's own, never registered by name, so that no other
// code in the process can reach it or mistake it for the writer's.
class PrivateConnection : public QSqlDatabase
{
public:
    PrivateConnection() : QSqlDatabase(QStringLiteral("QSQLITE")) {}
};

// Qt's driver keeps the busy handler at this; a writer's commit takes far less.
const char* const kReadOnlyOptions = "QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000";

struct BoundValue
{
    bool isText;
    QByteArray text;
    qint64 number;
};

// The WHERE clause for a filter's types, time bounds and ids, with its values.
struct Condition
{
    QStringList clauses;
    std::vector<BoundValue> values;

    void addNumber(const QString& clause, qint64 number) { clauses << clause; values.push_back({false, {}, number}); }
    void addText(const QString& clause, const QString& text) { clauses << clause; values.push_back({true, text.toUtf8(), 0}); }

    QString sql() const { return clauses.isEmpty() ? QString() : QStringLiteral(" WHERE ") + clauses.join(QStringLiteral(" AND ")); }
};

Condition conditionOf(const RecordFilter& filter, bool withIds)
{
    Condition c;
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
    const QString lower = filter.exclusiveBounds ? QStringLiteral("datetime > ?") : QStringLiteral("datetime >= ?");
    const QString upper = filter.exclusiveBounds ? QStringLiteral("datetime < ?") : QStringLiteral("datetime <= ?");
    if (!filter.since.isEmpty())
        c.addText(lower, filter.since);
    if (!filter.until.isEmpty())
        c.addText(upper, filter.until);
    if (withIds && filter.afterId > 0)
        c.addNumber(QStringLiteral("id > ?"), filter.afterId);
    if (withIds && filter.upToId > 0)
        c.addNumber(QStringLiteral("id <= ?"), filter.upToId);
    return c;
}

// One prepared statement, finalized when it goes out of scope so that no
// read lock outlives the call that took it.
class Statement
{
public:
    Statement(sqlite3* db, const QString& sql)
    {
        const QByteArray text = sql.toUtf8();
        m_rc = sqlite3_prepare_v2(db, text.constData(), text.size(), &m_stmt, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool prepared() const { return m_rc == SQLITE_OK && m_stmt; }
    sqlite3_stmt* get() const { return m_stmt; }

    void bind(const std::vector<BoundValue>& values)
    {
        int index = 1;
        for (const BoundValue& v : values) {
            if (v.isText)
                sqlite3_bind_text(m_stmt, index++, v.text.constData(), v.text.size(), SQLITE_TRANSIENT);
            else
                sqlite3_bind_int64(m_stmt, index++, v.number);
        }
    }

    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return sqlite3_step(m_stmt); }

    QByteArray textAt(int column) const
    {
        const char* text = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        return QByteArray::fromRawData(text ? text : "", sqlite3_column_bytes(m_stmt, column));
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
    int m_rc = SQLITE_ERROR;
};

QString orderClause(const RecordFilter& filter, bool descending)
{
    const QString dir = descending ? QStringLiteral(" DESC") : QString();
    if (filter.order == RecordFilter::Order::Arrival)
        return QStringLiteral(" ORDER BY id") + dir;
    return QStringLiteral(" ORDER BY datetime") + dir + QStringLiteral(", id") + dir;
}

LogRecord ownedCopy(const LogRecord& record)
{
    LogRecord copy = record;
    copy.datetime = QByteArray(record.datetime.constData(), record.datetime.size());
    copy.message = QByteArray(record.message.constData(), record.message.size());
    return copy;
}

} // namespace

struct LogReader::Private
{
    QString path;
    PrivateConnection connection;
    sqlite3* db = nullptr;
    FailureKind kind = FailureKind::Other;
    QString error;

    bool fail(FailureKind failureKind, const QString& detail)
    {
        kind = failureKind;
        QString reason = describeFailure(failureKind, detail);
        reason.replace(QLatin1Char('\n'), QLatin1Char(' '));
        error = QStringLiteral("无法读取日志数据库 %1：%2").arg(QDir::toNativeSeparators(path), reason);
        return false;
    }

    // The failure SQLite reports for the statement just run on the connection.
    bool failFromSqlite()
    {
        const QString message = QString::fromUtf8(sqlite3_errmsg(db));
        FailureKind failureKind = failureKindOfSqliteCode(sqlite3_extended_errcode(db));
        if (failureKind == FailureKind::Other
            && (message.contains(QLatin1String("no such table")) || message.contains(QLatin1String("no such column"))))
            failureKind = FailureKind::NotALogDatabase;
        return fail(failureKind, message);
    }

    bool checkSchema()
    {
        Statement info(db, QStringLiteral("PRAGMA table_info(SystemInfo)"));
        if (!info.prepared())
            return failFromSqlite();
        QStringList columns;
        int rc;
        while ((rc = info.step()) == SQLITE_ROW)
            columns << QString::fromUtf8(info.textAt(1)).toLower();
        if (rc != SQLITE_DONE)
            return failFromSqlite();
        for (const char* needed : {"id", "datetime", "type", "message"}) {
            if (!columns.contains(QLatin1String(needed)))
                return fail(FailureKind::NotALogDatabase, QString());
        }
        return true;
    }

    bool open()
    {
        db = nullptr;
        const QFileInfo file(path);
        // Checked first: SQLite would report a missing file only as "cannot
        // open", and a reader must never be the one to create it.
        if (!file.exists())
            return fail(FailureKind::Missing, QString());
        if (!file.isFile())
            return fail(FailureKind::CannotOpen, QStringLiteral("不是普通文件"));
        connection.setDatabaseName(path);
        connection.setConnectOptions(QString::fromLatin1(kReadOnlyOptions));
        if (!connection.open())
            return fail(failureKindOf(connection.lastError()), connection.lastError().text());
        const QVariant handle = connection.driver()->handle();
        if (qstrcmp(handle.typeName(), "sqlite3*") != 0 || !(db = *static_cast<sqlite3* const*>(handle.constData())))
            return fail(FailureKind::CannotOpen, QString());
        if (checkSchema())
            return true;
        // Not a log: no statement of a later call may run on it.
        db = nullptr;
        return false;
    }

    bool notOpen() { return fail(FailureKind::CannotOpen, QStringLiteral("未打开")); }

    // Runs `sql` with the condition's values; `onRow` sees each row and
    // returns false to stop early.
    bool run(const QString& sql, const Condition& condition, const std::function<bool(Statement&)>& onRow)
    {
        if (!db)
            return notOpen();
        Statement statement(db, sql);
        if (!statement.prepared())
            return failFromSqlite();
        statement.bind(condition.values);
        int rc;
        while ((rc = statement.step()) == SQLITE_ROW) {
            if (!onRow(statement))
                return true;
        }
        return rc == SQLITE_DONE || failFromSqlite();
    }
};

LogReader::LogReader(const QString& path)
    : d(std::make_unique<Private>())
{
    d->path = path;
}

LogReader::~LogReader() = default;

bool LogReader::open()
{
    return d->open();
}

QString LogReader::path() const
{
    return d->path;
}

FailureKind LogReader::failureKind() const
{
    return d->kind;
}

QString LogReader::errorText() const
{
    return d->error;
}

bool LogReader::read(const RecordFilter& filter, const RecordSink& sink)
{
    QRegularExpression pattern;
    const bool grepping = !filter.grep.isEmpty();
    if (grepping) {
        pattern = QRegularExpression(filter.grep, filter.ignoreCase ? QRegularExpression::CaseInsensitiveOption
                                                                    : QRegularExpression::NoPatternOption);
        if (!pattern.isValid())
            return d->fail(FailureKind::Other, QStringLiteral("无效的正则表达式：%1").arg(pattern.errorString()));
        pattern.optimize();
    }

    const Condition condition = conditionOf(filter, true);
    // The last N are found newest first and then turned round, so only N
    // records are ever held.
    const bool windowed = filter.last > 0;
    const bool descending = windowed || filter.reverse;
    QString sql = QStringLiteral("SELECT id, datetime, type, message FROM SystemInfo") + condition.sql()
                  + orderClause(filter, descending);
    if (windowed && !grepping)
        sql += QStringLiteral(" LIMIT %1").arg(filter.last);

    std::vector<LogRecord> window;
    LogRecord record;
    const bool ok = d->run(sql, condition, [&](Statement& row) {
        record.message = row.textAt(3);
        if (grepping && !pattern.match(QString::fromUtf8(record.message)).hasMatch())
            return true;
        record.id = sqlite3_column_int64(row.get(), 0);
        record.datetime = row.textAt(1);
        record.type = sqlite3_column_int(row.get(), 2);
        if (windowed) {
            window.push_back(ownedCopy(record));
            return static_cast<int>(window.size()) < filter.last;
        }
        return sink(record);
    });
    if (!ok || !windowed)
        return ok;
    if (filter.reverse) {
        for (const LogRecord& r : window)
            if (!sink(r))
                break;
    } else {
        for (auto it = window.rbegin(); it != window.rend(); ++it)
            if (!sink(*it))
                break;
    }
    return true;
}

bool LogReader::count(const RecordFilter& filter, qint64& result)
{
    result = 0;
    if (!filter.grep.isEmpty()) {
        RecordFilter all = filter;
        all.last = 0;
        return read(all, [&result](const LogRecord&) {
            ++result;
            return true;
        });
    }
    const Condition condition = conditionOf(filter, true);
    return d->run(QStringLiteral("SELECT count(*) FROM SystemInfo") + condition.sql(), condition, [&](Statement& row) {
        result = sqlite3_column_int64(row.get(), 0);
        return false;
    });
}

bool LogReader::lastId(qint64& result)
{
    result = 0;
    return d->run(QStringLiteral("SELECT max(id) FROM SystemInfo"), Condition(), [&](Statement& row) {
        result = sqlite3_column_int64(row.get(), 0);
        return false;
    });
}

bool LogReader::countPerDayAndType(const RecordFilter& filter, const DayTypeSink& sink)
{
    const Condition condition = conditionOf(filter, false);
    const QString sql = QStringLiteral("SELECT substr(datetime, 1, 10), type, count(*) FROM SystemInfo") + condition.sql()
                        + QStringLiteral(" GROUP BY 1, 2 ORDER BY 1, 2");
    return d->run(sql, condition, [&](Statement& row) {
        sink({QString::fromUtf8(row.textAt(0)), sqlite3_column_int(row.get(), 1), sqlite3_column_int64(row.get(), 2)});
        return true;
    });
}

bool LogReader::span(const RecordFilter& filter, Span& result)
{
    result = Span();
    const Condition condition = conditionOf(filter, false);
    const QString sql = QStringLiteral("SELECT count(*), min(datetime), max(datetime) FROM SystemInfo") + condition.sql();
    return d->run(sql, condition, [&](Statement& row) {
        result.total = sqlite3_column_int64(row.get(), 0);
        result.oldest = QString::fromUtf8(row.textAt(1));
        result.newest = QString::fromUtf8(row.textAt(2));
        return false;
    });
}

} // namespace SystemLog
