#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

#include <vector>

#include "FleetRecord.h"

struct pg_conn;

// The fleet's central tables (docs/fleet_log.sql), written by `vxlog store`
// through libpq: a batch of records is one transaction, stored whole or not
// at all: COPY into fleet_log (the database's bulk load), or, when a record
// of it is stored already (the forwarder sends at least once), one INSERT …
// ON CONFLICT (host, id) DO NOTHING of the whole batch.
// Failures: a fault of one record (the server refuses that row: a data or
// constraint error) never costs another record: the batch is then stored
// record by record and each refused one goes to fleet_log_rejects instead.
// Anything else (no server, no privilege, no table, a full disk, a server
// that does not answer in time) fails the whole batch with reason(), and
// the caller keeps the batch. The connection is closed after a failure and
// made again by the next call.
// Waiting: no call waits longer than a connect or statement limit for the
// server; a statement past its limit is cancelled and counts as failed
// (it may have been stored: storing it again changes nothing).
// Threads: one object belongs to one thread.
class FleetDatabase
{
public:
    // `url` holds no password (the command refused it); it is shown as it is.
    explicit FleetDatabase(const QString& url);
    ~FleetDatabase();
    FleetDatabase(const FleetDatabase&) = delete;
    FleetDatabase& operator=(const FleetDatabase&) = delete;

    // True when every record is in fleet_log or fleet_log_rejects (some
    // records may end refused: FleetRecord::refuse()).
    bool store(std::vector<FleetRecord>& records);
    // Why the last store() failed: "无法写入中央日志数据库 URL：…", one line.
    QString reason() const { return m_reason; }

private:
    enum class Outcome { Stored, RecordRefused, Failed };
    bool connect();
    Outcome copy(const std::vector<const FleetRecord*>& records);
    Outcome insert(const std::vector<const FleetRecord*>& records, bool rejectsOnly = false);
    bool storeOneByOne(std::vector<FleetRecord>& records);
    Outcome exec(const char* sql, const QDeadlineTimer& deadline, int expected);
    Outcome results(const QDeadlineTimer& deadline, int expected);
    bool awaitAnswer(const QDeadlineTimer& deadline);
    bool flush(const QDeadlineTimer& deadline);
    bool fail(const QString& why, const QByteArray& sqlState = QByteArray());
    void close();

    QString m_url;
    pg_conn* m_conn = nullptr;
    QString m_reason;
    QString m_refusal;  // the server's words for the last refused record
    bool m_lost = false;  // the last failure was the connection ending
};
