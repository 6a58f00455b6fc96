#include <vxSyslog/LogVacuum.h>

#include <QDateTime>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <vector>

#include "retain/BatchSizer.h"
#include "retain/VacuumConnection.h"
#include "search/IndexBuilder.h"

namespace SystemLog {

namespace {

constexpr int kRemovalRecordType = 4;
// SQLite's value of PRAGMA auto_vacuum for INCREMENTAL.
constexpr int kAutoVacuumIncremental = 2;

const QString kStoredForm = QStringLiteral("yyyy-MM-dd hh:mm:ss");

} // namespace

struct LogVacuum::Private
{
    explicit Private(const QString& path)
        : path(path)
        , db(path)
    {
    }

    QString path;
    VacuumConnection db;
    VacuumResult result;
    QString requestedBy;
    qint64 recordId = -1;  // the record of the removal, once written

    bool idRange(qint64& first, qint64& last)
    {
        return db.number(QStringLiteral("SELECT min(id) FROM SystemInfo"), first)
               && db.number(QStringLiteral("SELECT max(id) FROM SystemInfo"), last);
    }

    QString recordText(qint64 removed, const QString& before) const
    {
        QString text = QStringLiteral("已清理 %1 条早于 %2 的记录").arg(removed).arg(before);
        if (!requestedBy.isEmpty())
            text += QStringLiteral("（%1）").arg(requestedBy);
        return text;
    }

    // Within the transaction that removed `removed` more rows, all stamped
    // before `before`: the record of everything removed so far, written with
    // the first removal and brought up to date by every later one.
    bool noteRemoval(QSqlQuery& query, qint64 removed, const QString& before)
    {
        if (removed == 0)
            return true;
        const QString text = recordText(result.removed + removed, before);
        if (recordId < 0)
            return db.insertRow(query, kRemovalRecordType, text, recordId);
        return db.updateMessage(query, recordId, text);
    }

    // Once the transaction committed.
    void removalCommitted(qint64 removed, const QString& before)
    {
        if (removed == 0)
            return;
        result.removed += removed;
        result.removedBefore = before;
    }

    // The bound of `limits` as it is compared with the stamps: the moment
    // formatted in every zone the file records its stamps in, the earliest
    // text taken (a later one would make records stamped in a zone west of
    // it look older than they are); in this process's zone when the file
    // records none (written by an earlier version or another program).
    bool timeBound(const VacuumLimits& limits, QString& bound)
    {
        if (!limits.olderThanTime.isValid()) {
            bound = limits.olderThan;
            return true;
        }
        std::vector<long> offsets;
        if (!db.stampOffsets(offsets))
            return false;
        if (offsets.empty()) {
            bound = limits.olderThanTime.toLocalTime().toString(kStoredForm);
            return true;
        }
        const QDateTime utc = limits.olderThanTime.toUTC();
        bound.clear();
        for (const long offset : offsets) {
            const QString text = utc.addSecs(offset).toString(kStoredForm);
            if (bound.isEmpty() || text < bound)
                bound = text;
        }
        return true;
    }

    // Windows of ids: each transaction looks at a bounded part of the table
    // through the primary key, whatever the stamps are.
    bool removeOlderThan(const QString& bound)
    {
        qint64 first = 0;
        qint64 last = 0;
        if (!idRange(first, last))
            return false;
        BatchSizer ids(1000, 1 << 24, kLockBudgetMs);
        for (qint64 from = first - 1; from < last;) {
            const qint64 to = qMin(last, from + ids.size());
            qint64 heldMs = 0;
            qint64 removed = 0;
            const bool ok = db.transaction([&](QSqlQuery& query) {
                query.prepare(QStringLiteral("DELETE FROM SystemInfo WHERE id > ? AND id <= ? AND datetime < ?"));
                query.addBindValue(from);
                query.addBindValue(to);
                query.addBindValue(bound);
                if (!query.exec())
                    return false;
                removed = query.numRowsAffected();
                return noteRemoval(query, removed, bound);
            }, heldMs);
            if (!ok)
                return false;
            removalCommitted(removed, bound);
            ids.took(heldMs);
            from = to;
        }
        return true;
    }

    bool usedBytes(qint64& used, qint64& pageSize)
    {
        qint64 pages = 0;
        qint64 freePages = 0;
        if (!db.number(QStringLiteral("PRAGMA page_size"), pageSize) || !db.number(QStringLiteral("PRAGMA page_count"), pages)
            || !db.number(QStringLiteral("PRAGMA freelist_count"), freePages))
            return false;
        used = (pages - freePages) * pageSize;
        return true;
    }

    // After rows went by size, in the same transaction: everything removed
    // is older than the oldest row kept (or than now, when none is).
    bool oldestKept(QSqlQuery& query, QString& oldest)
    {
        query.prepare(QStringLiteral("SELECT datetime FROM SystemInfo WHERE id <> ? ORDER BY id LIMIT 1"));
        query.addBindValue(recordId);
        if (!query.exec())
            return db.fail(query.lastError());
        oldest = query.next() ? query.value(0).toString() : QDateTime::currentDateTime().toString(kStoredForm);
        query.finish();
        return true;
    }

    // Rows in the order they were stored until the pages in use fit, with a
    // page to spare for the record of the removal, which never goes itself.
    bool removeUntilFits(qint64 maxBytes)
    {
        BatchSizer rows(1000, 1 << 22, kLockBudgetMs);
        for (;;) {
            qint64 used = 0;
            qint64 pageSize = 0;
            qint64 first = 0;
            qint64 last = 0;
            if (!usedBytes(used, pageSize) || !idRange(first, last))
                return false;
            const qint64 excess = used + pageSize - maxBytes;
            if (excess <= 0 || last == 0)
                return true;
            // Not many more than the excess asks for, by the rows' mean size.
            const qint64 meanRowBytes = qMax<qint64>(1, used / qMax<qint64>(1, last - first + 1));
            const qint64 count = qMin(rows.size(), excess / meanRowBytes + 1);
            qint64 heldMs = 0;
            qint64 removed = 0;
            QString before;
            const bool ok = db.transaction([&](QSqlQuery& query) {
                query.prepare(QStringLiteral(
                    "DELETE FROM SystemInfo WHERE id IN (SELECT id FROM SystemInfo WHERE id <> ? ORDER BY id LIMIT ?)"));
                query.addBindValue(recordId);
                query.addBindValue(count);
                if (!query.exec())
                    return false;
                removed = query.numRowsAffected();
                return removed == 0 || (oldestKept(query, before) && noteRemoval(query, removed, before));
            }, heldMs);
            if (!ok)
                return false;
            removalCommitted(removed, before);
            if (removed == 0)
                return true;
            rows.took(heldMs);
        }
    }

    // Free pages back to the file system, a few at a time. The pragma frees
    // one page per step, so SQLite runs it to its end (Qt steps it once).
    bool giveSpaceBack()
    {
        BatchSizer pages(256, 1 << 20, kLockBudgetMs);
        for (;;) {
            qint64 freePages = 0;
            if (!db.number(QStringLiteral("PRAGMA freelist_count"), freePages))
                return false;
            if (freePages == 0)
                return true;
            qint64 heldMs = 0;
            const QByteArray sql = "PRAGMA incremental_vacuum(" + QByteArray::number(pages.size()) + ')';
            if (!db.transaction([&](QSqlQuery&) { return db.execToEnd(sql); }, heldMs))
                return false;
            pages.took(heldMs);
        }
    }

    bool remove(const VacuumLimits& limits, bool& compacted)
    {
        qint64 autoVacuum = 0;
        if (!db.number(QStringLiteral("PRAGMA auto_vacuum"), autoVacuum))
            return false;
        if (!limits.olderThan.isEmpty() || limits.olderThanTime.isValid()) {
            if (!timeBound(limits, result.timeBound) || !removeOlderThan(result.timeBound))
                return false;
        }
        // VACUUM switching incremental auto-vacuum on: one long transaction.
        if (limits.compact && autoVacuum != kAutoVacuumIncremental) {
            if (!db.exec(QStringLiteral("PRAGMA auto_vacuum = INCREMENTAL")) || !db.timedStatement(QStringLiteral("VACUUM")))
                return false;
            compacted = true;
        }
        result.incremental = compacted || autoVacuum == kAutoVacuumIncremental;
        return limits.maxBytes < 0 || removeUntilFits(limits.maxBytes);
    }

    // The text index's parts whose records are all gone go too. The rest of
    // what was removed stays in the index until its part goes; no search
    // shows it (IndexedSearch.h). An index that cannot be changed now is
    // pruned by the next writer.
    void dropRemovedFromIndex()
    {
        if (result.removed == 0)
            return;
        IndexBuilder index(path);
        index.setBusyTimeout(kBusyTimeoutMs);
        index.prune();
    }

    bool run(const VacuumLimits& limits)
    {
        result = VacuumResult();
        requestedBy = limits.requestedBy;
        recordId = -1;
        result.bytesBefore = QFileInfo(path).size();
        if (!db.open(kBusyTimeoutMs))
            return false;
        bool compacted = false;
        if (!remove(limits, compacted) || (result.incremental && !giveSpaceBack()))
            return false;
        qint64 freePages = 0;
        qint64 pageSize = 0;
        if (!db.number(QStringLiteral("PRAGMA freelist_count"), freePages) || !db.number(QStringLiteral("PRAGMA page_size"), pageSize))
            return false;
        result.freeBytesLeft = freePages * pageSize;
        db.close();
        result.bytesAfter = QFileInfo(path).size();
        dropRemovedFromIndex();
        return true;
    }
};

LogVacuum::LogVacuum(const QString& path)
    : d(std::make_unique<Private>(path))
{
}

LogVacuum::~LogVacuum() = default;

bool LogVacuum::run(const VacuumLimits& limits)
{
    const bool ok = d->run(limits);
    d->result.lockedOut = !ok && d->db.failureKind() == FailureKind::Locked;
    d->result.longestLockMs = d->db.longestLockMs();
    d->result.transactions = d->db.transactions();
    if (!ok)
        d->result.bytesAfter = QFileInfo(d->path).size();
    return ok;
}

const VacuumResult& LogVacuum::result() const
{
    return d->result;
}

QString LogVacuum::errorText() const
{
    return d->db.errorText();
}

} // namespace SystemLog
