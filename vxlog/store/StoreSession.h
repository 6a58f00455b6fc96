#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>

#include <functional>

class BatchSpool;
class FleetDatabase;

// rsyslog's omprog talking to `vxlog store` (confirmMessages="on",
// useTransactions="on"): "OK" once ready; per batch "BEGIN TRANSACTION",
// the messages (each answered "DEFER_COMMIT") and "COMMIT TRANSACTION",
// answered "OK" only once the batch is stored or spooled. A message outside
// a transaction is a batch of its own, answered "OK" the same way.
//
// Why nothing confirmed is lost, and order is kept: every answer comes at
// once (rsyslog cancels a worker that is still waiting when it shuts down,
// and loses its batch; and it retries a failed batch message by message,
// out of order). So a batch that cannot be stored goes to the spool and is
// confirmed; while the spool holds batches, new ones go behind them, and
// the spool is stored in order, oldest first, whenever the database takes
// it (tried again every second while it does not, also when no message
// comes). A batch is answered with an error only when it can be neither
// stored nor spooled; rsyslog then keeps it.
//
// Telling the administrator: each time storing starts failing (or fails for
// another reason) a line on standard error (the action's output file), and
// the next "BEGIN TRANSACTION" is answered with that reason once, which
// rsyslog writes into its own log (reportFailures) before it begins the
// batch again; another line when the spool is stored. Records that could
// not be stored as they came are named on standard error per batch and kept
// in fleet_log_rejects.
class StoreSession
{
public:
    StoreSession(FleetDatabase& database, BatchSpool& spool, int input, int output);

    // Until rsyslog closes the pipe: 0, or 1 when the pipe failed.
    int run();

private:
    bool handle(const QByteArray& line);
    bool commit();
    bool reply(const QByteArray& answer);
    // Stores spooled batches, oldest first, for at most `budgetMs`.
    void drainSpool(int budgetMs);
    bool storeLines(const QByteArray& lines);
    void failing(const QString& reason);
    void recovered();
    int msUntilNextDrain() const;

    FleetDatabase& m_database;
    BatchSpool& m_spool;
    int m_input;
    int m_output;
    QByteArray m_pending;  // read, not yet a whole line
    QByteArray m_batch;    // the transaction's lines, each ending in '\n'
    bool m_inTransaction = false;
    QString m_failure;     // the reason storing fails now; empty when it works
    QString m_toSay;       // the reason for rsyslog's log, said at the next BEGIN
    QDeadlineTimer m_nextDrain;
    int m_spooledRecords = 0;
};
