#include "StoreSession.h"

#include <vector>

#include <cerrno>
#include <poll.h>
#include <unistd.h>

#include "BatchSpool.h"
#include "FleetDatabase.h"
#include "FleetRecord.h"
#include "StdoutWriter.h"
#include "WriteAll.h"

namespace {

constexpr int kRetryMs = 1000;          // storing is tried again this often while it fails
constexpr int kIdleDrainMs = 500;       // spooled batches stored at a time while rsyslog sends nothing
constexpr int kAfterCommitDrainMs = 200;  // and after each batch spooled behind them

const QByteArray kBegin("BEGIN TRANSACTION");
const QByteArray kCommit("COMMIT TRANSACTION");

void say(const QString& text)
{
    printError(QStringLiteral("vxlog store：%1").arg(text));
}

} // namespace

StoreSession::StoreSession(FleetDatabase& database, BatchSpool& spool, int input, int output)
    : m_database(database)
    , m_spool(spool)
    , m_input(input)
    , m_output(output)
    , m_nextDrain(0)
{
}

int StoreSession::run()
{
    if (!m_spool.isEmpty()) {
        m_failure = QStringLiteral("暂存文件夹 %1 中有上次留下的 %2 批记录").arg(m_spool.folder()).arg(m_spool.size());
        say(m_failure + QStringLiteral("，先按顺序写入它们"));
    }
    if (!reply("OK"))
        return 1;
    // Whether the database takes the spool now; if not, the first batch
    // says why to rsyslog.
    drainSpool(kIdleDrainMs);
    char buffer[64 * 1024];
    for (;;) {
        // With spooled batches waiting, a wait that ends in time to store them.
        int ready = 1;
        if (!m_spool.isEmpty()) {
            pollfd fd{m_input, POLLIN, 0};
            ready = ::poll(&fd, 1, msUntilNextDrain());
        }
        if (ready == 0) {
            drainSpool(kIdleDrainMs);
            continue;
        }
        const ssize_t n = ready < 0 ? -1 : ::read(m_input, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return 1;
        // rsyslog closed the pipe: a transaction it did not commit is still its own.
        if (n == 0)
            return 0;
        m_pending.append(buffer, int(n));
        int start = 0;
        for (int end; (end = m_pending.indexOf('\n', start)) >= 0; start = end + 1) {
            if (!handle(m_pending.mid(start, end - start)))
                return 1;
        }
        m_pending.remove(0, start);
    }
}

int StoreSession::msUntilNextDrain() const
{
    return int(qMax<qint64>(0, m_nextDrain.remainingTime()));
}

bool StoreSession::handle(const QByteArray& line)
{
    if (line == kBegin) {
        m_batch.clear();
        m_inTransaction = true;
        if (!m_toSay.isEmpty()) {
            const QByteArray said = m_toSay.toUtf8();
            m_toSay.clear();
            return reply(said);
        }
        return reply("OK");
    }
    if (line == kCommit) {
        m_inTransaction = false;
        return commit();
    }
    m_batch += line;
    m_batch += '\n';
    return m_inTransaction ? reply("DEFER_COMMIT") : commit();
}

bool StoreSession::commit()
{
    const QByteArray lines = m_batch;
    m_batch.clear();
    if (m_spool.isEmpty() && (lines.isEmpty() || storeLines(lines))) {
        if (!m_failure.isEmpty())
            recovered();
        return reply("OK");
    }
    // Behind what waits already, or kept after a failure.
    QString error;
    if (!m_spool.append(lines, error)) {
        const QString line = QStringLiteral("无法存入中央日志数据库，也无法暂存这批记录（由 rsyslog 保留并重试）：%1").arg(error);
        say(line);
        return reply(line.toUtf8());
    }
    m_spooledRecords += lines.count('\n');
    if (!reply("OK"))
        return false;
    drainSpool(kAfterCommitDrainMs);
    return true;
}

bool StoreSession::reply(const QByteArray& answer)
{
    QByteArray line = answer;
    line.replace('\n', ' ');
    line += '\n';
    return writeAll(m_output, line);
}

void StoreSession::drainSpool(int budgetMs)
{
    const QDeadlineTimer budget(budgetMs);
    bool stored = false;  // a spool emptied only of gone files proves nothing about the database
    while (!m_spool.isEmpty() && m_nextDrain.hasExpired() && !budget.hasExpired()) {
        QByteArray lines;
        QString error;
        if (!m_spool.oldest(lines, error)) {
            if (!m_spool.oldestIsGone()) {
                failing(error);
                return;
            }
            say(QStringLiteral("暂存文件 %1 已不在（被删除），其中已确认的记录无法写入；接着写入其后的批次").arg(m_spool.oldestPath()));
            m_spool.removeOldest();
            continue;
        }
        if (!storeLines(lines))
            return;
        m_spool.removeOldest();
        stored = true;
    }
    if (stored && m_spool.isEmpty() && !m_failure.isEmpty())
        recovered();
}

bool StoreSession::storeLines(const QByteArray& lines)
{
    std::vector<FleetRecord> records;
    records.reserve(size_t(lines.count('\n')));
    for (int start = 0, end; start < lines.size() && (end = lines.indexOf('\n', start)) >= 0; start = end + 1)
        records.push_back(FleetRecord::fromLine(lines.mid(start, end - start)));
    if (!m_database.store(records)) {
        failing(m_database.reason());
        return false;
    }
    int rejected = 0;
    const FleetRecord* first = nullptr;
    for (const FleetRecord& record : records) {
        if (record.rejected()) {
            first = first ? first : &record;
            ++rejected;
        }
    }
    if (first) {
        say(QStringLiteral("%1 条记录未能原样存入 fleet_log，说明见表 fleet_log_rejects；如 %2 的记录 %3：%4")
                .arg(rejected)
                .arg(QString::fromUtf8(first->host), first->hasId ? QString::number(first->id) : QStringLiteral("（无编号）"),
                     first->reason));
    }
    return true;
}

void StoreSession::failing(const QString& reason)
{
    m_nextDrain = QDeadlineTimer(kRetryMs);
    if (reason == m_failure)
        return;
    m_failure = reason;
    m_toSay = QStringLiteral("%1；记录暂存在 %2，恢复后按顺序写入，每秒重试").arg(reason, m_spool.folder());
    say(m_toSay);
}

void StoreSession::recovered()
{
    say(QStringLiteral("中央日志数据库恢复可写，暂存的记录已按顺序写入（本次运行暂存 %1 条）").arg(m_spooledRecords));
    m_failure.clear();
    m_toSay.clear();
    m_spooledRecords = 0;
}
