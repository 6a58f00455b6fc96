#include <vxSyslog/LogVacuum.h>

#include <vxSyslog/DatabaseFailure.h>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <functional>

#include <sqlite3.h>

#include "retain/BatchSizer.h"
#include "store/QDBSqlite.h"

namespace SystemLog {

namespace {

constexpr int kRemovalRecordType = 4;
// SQLite's value of PRAGMA auto_vacuum for INCREMENTAL.
constexpr int kAutoVacuumIncremental = 2;

} // namespace

struct LogVacuum::Private
{
    explicit Private(const QString& path)
        : path(path)
        , db(path, QString(), QString())
    {
    }

    QString path;
    QDBSqlite db;
    VacuumResult result;
    QString error;

    bool fail(const QSqlError& sqlError)
    {
        error = describeFailure(sqlError);
        return false;
    }

    bool exec(QSqlQuery& query, const QString& sql)
    {
        if (!query.exec(sql))
            return fail(query.lastError());
        return true;
    }

    // The first column of the first row of `sql`, as a number.
    bool number(const QString& sql, qint64& value)
    {
        QSqlQuery query(db);
        if (!exec(query, sql))
            return false;
        value = query.next() ? query.value(0).toLongLong() : 0;
        return true;
    }

    sqlite3* handle() const
    {
        const QVariant value = db.driver()->handle();
        return qstrcmp(value.typeName(), "sqlite3*") == 0 ? *static_cast<sqlite3* const*>(value.constData()) : nullptr;
    }

    qint64 fileBytes() const { return QFileInfo(path).size(); }

    bool open()
    {
        if (!QFileInfo(path).isFile()) {
            error = describeFailure(FailureKind::Missing, QDir::toNativeSeparators(path));
            return false;
        }
        if (!db.createTable()) {
            error = db.openFailure().isEmpty() ? describeFailure(db.lastWriteFailure(), db.lastWriteError())
                                               : db.openFailure();
            return false;
        }
        // Longer than the writer's own wait: the vacuum is the one that may wait.
        QSqlQuery query(db);
        return exec(query, QStringLiteral("PRAGMA busy_timeout = %1").arg(kBusyTimeoutMs));
    }

    // One write transaction around `work`; its time holding the lock is
    // measured into the result and returned through `heldMs`.
    bool transaction(const std::function<bool(QSqlQuery&)>& work, qint64& heldMs)
    {
        QSqlQuery query(db);
        if (!exec(query, QStringLiteral("BEGIN IMMEDIATE")))
            return false;
        QElapsedTimer held;
        held.start();
        if (!work(query) || !exec(query, QStringLiteral("COMMIT"))) {
            QSqlQuery rollback(db);
            rollback.exec(QStringLiteral("ROLLBACK"));
            return false;
        }
        heldMs = held.elapsed();
        result.longestLockMs = qMax(result.longestLockMs, heldMs);
        ++result.transactions;
        return true;
    }

    bool removeOlderThan(const QString& bound)
    {
        qint64 first = 0;
        qint64 last = 0;
        if (!number(QStringLiteral("SELECT min(id) FROM SystemInfo"), first)
            || !number(QStringLiteral("SELECT max(id) FROM SystemInfo"), last))
            return false;
        // Windows of ids: each transaction looks at a bounded part of the table
        // through the primary key, whatever the stamps are.
        BatchSizer ids(1000, 1 << 24, kLockBudgetMs);
        for (qint64 from = first - 1; from < last;) {
            const qint64 to = qMin(last, from + ids.size());
            qint64 heldMs = 0;
            const bool ok = transaction([&](QSqlQuery& query) {
                query.prepare(QStringLiteral("DELETE FROM SystemInfo WHERE id > ? AND id <= ? AND datetime < ?"));
                query.addBindValue(from);
                query.addBindValue(to);
                query.addBindValue(bound);
                if (!query.exec())
                    return fail(query.lastError());
                result.removed += query.numRowsAffected();
                return true;
            }, heldMs);
            if (!ok)
                return false;
            ids.took(heldMs);
            from = to;
        }
        if (result.removed > 0)
            result.removedBefore = bound;
        return true;
    }

    bool usedBytes(qint64& used, qint64& pageSize)
    {
        qint64 pages = 0;
        qint64 freePages = 0;
        if (!number(QStringLiteral("PRAGMA page_size"), pageSize) || !number(QStringLiteral("PRAGMA page_count"), pages)
            || !number(QStringLiteral("PRAGMA freelist_count"), freePages))
            return false;
        used = (pages - freePages) * pageSize;
        return true;
    }

    // Rows in the order they were stored until the pages in use fit, with a
    // page to spare for the record of the removal.
    bool removeUntilFits(qint64 maxBytes)
    {
        BatchSizer rows(1000, 1 << 22, kLockBudgetMs);
        qint64 removedHere = 0;
        for (;;) {
            qint64 used = 0;
            qint64 pageSize = 0;
            qint64 first = 0;
            qint64 last = 0;
            if (!usedBytes(used, pageSize) || !number(QStringLiteral("SELECT min(id) FROM SystemInfo"), first)
                || !number(QStringLiteral("SELECT max(id) FROM SystemInfo"), last))
                return false;
            const qint64 excess = used + pageSize - maxBytes;
            if (excess <= 0 || last == 0)
                break;
            // Not many more than the excess asks for, by the rows' mean size.
            const qint64 meanRowBytes = qMax<qint64>(1, used / qMax<qint64>(1, last - first + 1));
            const qint64 count = qMin(rows.size(), excess / meanRowBytes + 1);
            qint64 heldMs = 0;
            qint64 removed = 0;
            const bool ok = transaction([&](QSqlQuery& query) {
                query.prepare(QStringLiteral(
                    "DELETE FROM SystemInfo WHERE id IN (SELECT id FROM SystemInfo ORDER BY id LIMIT ?)"));
                query.addBindValue(count);
                if (!query.exec())
                    return fail(query.lastError());
                removed = query.numRowsAffected();
                return true;
            }, heldMs);
            if (!ok)
                return false;
            if (removed == 0)
                break;
            result.removed += removed;
            removedHere += removed;
            rows.took(heldMs);
        }
        if (removedHere == 0)
            return true;
        QSqlQuery oldest(db);
        if (!exec(oldest, QStringLiteral("SELECT datetime FROM SystemInfo ORDER BY id LIMIT 1")))
            return false;
        // Everything went: the removed rows are older than now.
        result.removedBefore = oldest.next() ? oldest.value(0).toString()
                                             : QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        return true;
    }

    bool recordRemoval(const QString& requestedBy)
    {
        QString text = QStringLiteral("已清理 %1 条早于 %2 的记录").arg(result.removed).arg(result.removedBefore);
        if (!requestedBy.isEmpty())
            text += QStringLiteral("（%1）").arg(requestedBy);
        if (db.insert(kRemovalRecordType, text))
            return true;
        error = describeFailure(db.lastWriteFailure(), db.lastWriteError());
        return false;
    }

    // VACUUM with incremental auto-vacuum switched on: one long transaction.
    bool compact()
    {
        QSqlQuery query(db);
        QElapsedTimer held;
        held.start();
        if (!exec(query, QStringLiteral("PRAGMA auto_vacuum = INCREMENTAL")) || !exec(query, QStringLiteral("VACUUM")))
            return false;
        result.longestLockMs = qMax(result.longestLockMs, held.elapsed());
        ++result.transactions;
        return true;
    }

    // Free pages back to the file system, a few at a time.
    bool giveSpaceBack()
    {
        BatchSizer pages(256, 1 << 20, kLockBudgetMs);
        for (;;) {
            qint64 freePages = 0;
            if (!number(QStringLiteral("PRAGMA freelist_count"), freePages))
                return false;
            if (freePages == 0)
                return true;
            qint64 heldMs = 0;
            // Through SQLite's own exec: the pragma frees one page per step,
            // and Qt's query steps a statement without result columns once.
            const bool ok = transaction([&](QSqlQuery&) {
                const QByteArray sql = QByteArray("PRAGMA incremental_vacuum(") + QByteArray::number(pages.size()) + ')';
                char* message = nullptr;
                const int code = sqlite3_exec(handle(), sql.constData(), nullptr, nullptr, &message);
                if (code == SQLITE_OK)
                    return true;
                error = describeFailure(failureKindOfSqliteCode(code), QString::fromUtf8(message));
                sqlite3_free(message);
                return false;
            }, heldMs);
            if (!ok)
                return false;
            pages.took(heldMs);
        }
    }

    bool run(const VacuumLimits& limits)
    {
        result = VacuumResult();
        result.bytesBefore = fileBytes();
        if (!open())
            return false;
        qint64 autoVacuum = 0;
        if (!number(QStringLiteral("PRAGMA auto_vacuum"), autoVacuum))
            return false;
        if (!limits.olderThan.isEmpty() && !removeOlderThan(limits.olderThan))
            return false;
        if (limits.compact && autoVacuum != kAutoVacuumIncremental) {
            if (!compact())
                return false;
            autoVacuum = kAutoVacuumIncremental;
        }
        result.incremental = autoVacuum == kAutoVacuumIncremental;
        const QString timeBound = result.removedBefore;
        if (limits.maxBytes >= 0 && !removeUntilFits(limits.maxBytes))
            return false;
        if (result.removedBefore.isEmpty())
            result.removedBefore = timeBound;
        if (result.removed > 0 && !recordRemoval(limits.requestedBy))
            return false;
        if (result.incremental && !giveSpaceBack())
            return false;
        qint64 freePages = 0;
        qint64 pageSize = 0;
        if (!number(QStringLiteral("PRAGMA freelist_count"), freePages) || !number(QStringLiteral("PRAGMA page_size"), pageSize))
            return false;
        result.freeBytesLeft = freePages * pageSize;
        db.close();
        result.bytesAfter = fileBytes();
        return true;
    }
};

LogVacuum::LogVacuum(const QString& path)
    : d(std::make_unique<Private>(path))
{
}

LogVacuum::~LogVacuum()
{
    d->db.close();
}

bool LogVacuum::run(const VacuumLimits& limits)
{
    return d->run(limits);
}

const VacuumResult& LogVacuum::result() const
{
    return d->result;
}

QString LogVacuum::errorText() const
{
    return d->error;
}

} // namespace SystemLog
