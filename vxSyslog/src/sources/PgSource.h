#pragma once

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include <vxSyslog/LogSource.h>

#include "sources/PgConnection.h"

namespace SystemLog {

class MessageMatcher;
class PgConnection;

// The fleet's central table fleet_log in PostgreSQL (docs/fleet.md,
// docs/fleet_log.sql), read through libpq. It answers as a machine's own
// file answers: one machine's listing here equals the listing of that
// machine's dbLog.db, key for key and block for block.
//
// Machines: the hosts given, sorted by their UTF-8 bytes and each once (a
// host without records is still a machine); none given, every host the table
// holds at open(), found by a skip scan of the primary key. A record's or
// key's machine is its host's place in that order, which is also the order
// of records of one time stamp (the table's host column compares bytes,
// COLLATE "C").
// Work: bounds, types, ids, order and last N are the server's; the grep
// pattern is matched here by read/'s MessageMatcher, as the file readers
// match it, so that a pattern selects the same records wherever they are
// read. Rows stream as they come (COPY's text stream, PgConnection), never
// held as a whole answer; a sink that stops ends the statement on the server.
// Failures: what the database refuses or loses is a Chinese reason naming
// it; a lost connection fails the call (FailureKind::CannotOpen), never a
// short answer, and is not made again (a tail alone reconnects before its
// next poll). A failure of vxlog's whole-record reads is kept among the
// problems; a listing's is the call's reason alone.
// Waiting: the busy timeout, when set, bounds every wait for the server
// (connecting, or for the next part of an answer): a server that falls
// silent fails the call then, its connection closed (CannotOpen).
// Threads: one source belongs to one thread; interrupt() may be called from
// any thread and never waits for the server: it ends a connect in progress
// or the wait for an answer (the statement is cancelled on the server, the
// connection closed), and fails it and every later call
// (FailureKind::Interrupted).
class PgSource : public LogSource
{
public:
    PgSource(const QString& url, const QStringList& hosts);
    ~PgSource() override;

    // False with `error` for a URL that carries a password (it belongs in
    // ~/.pgpass, PGPASSFILE or PGPASSWORD, never on a command line) or that
    // libpq cannot parse.
    static bool acceptsUrl(const QString& url, QString& error);

    // MVCC readers wait for no writer; the busy timeout bounds each wait for
    // the server instead (PgConnection's wait limit).
    void setBusyTimeout(int milliseconds) override;
    void setRollsBackCutOffWrites(bool) override {}
    void setStopCheck(const std::function<bool()>& stopRequested) override;
    bool open() override;
    QStringList machines() const override { return m_machines; }
    bool namesMachines() const override { return m_machines.size() != 1; }
    QStringList files() const override { return QStringList(); }

    bool read(const LogQuery& query, const RecordSink& sink) override;
    bool count(const LogQuery& query, qint64& result) override;
    bool countPerDayAndType(const LogQuery& query, const DayTypeSink& sink) override;
    bool span(const LogQuery& query, Span& result) override;
    std::unique_ptr<SourceTail> tail(const LogQuery& query, SourceTail::NoticeSink notices) override;

    bool newestIds(QVector<qint64>& ids) override;
    bool countListed(const LogQuery& query, qint64& result) override;
    bool readKeys(const LogQuery& query, const KeySink& sink) override;
    bool readBlocks(const LogQuery& query, const BlockSink& sink) override;
    bool countBetween(const LogQuery& query, const QStringList& bounds, QVector<qint64>& counts) override;
    bool fetch(const LogQuery& query, const int* machines, const qint64* ids, int count,
               const FetchSink& sink) override;
    bool fetchRecords(const int* machines, const qint64* ids, int count, const FetchRecordSink& sink) override;

    void interrupt() override;

    // For figures counted in the database (report/PgReport): the filter's
    // WHERE clause (types, time bounds, ids, the hosts asked for, and the
    // narrowing the index of character pairs gives for the pattern; the
    // pattern itself is the caller's to test), and a statement's rows as
    // they stream.
    void whereOf(const LogQuery& filter, PgStatement& query) const { where(filter, query, true, true); }
    bool rows(const PgStatement& query,
              const std::function<bool(const std::vector<QByteArray>&, const std::vector<bool>&)>& row)
    {
        return stream(query, row);
    }
    using StatementRows = std::function<bool(const std::vector<QByteArray>&, const std::vector<bool>&)>;
    // A statement on this source's connection whose failure is the call's
    // alone (errorText(), and `sqlState` the server's code for it), not kept
    // among the problems: for a caller that may ask again otherwise.
    bool rowsOnce(const PgStatement& query, const StatementRows& row, QString& sqlState);

    // Statements run one after the other on a connection of their own,
    // opened for them and closed after, so that they may run on another
    // thread beside this source's own statements (a report's figures
    // counted side by side). Each statement's rows go to its `rows` (none:
    // dropped, as for settings). They stop when this source's statements
    // would (its stop check, interrupt()) or when `alsoStop` turns true (a
    // stop reads as a success, an interrupt as a failure, as for this
    // source's own), and wait for the server as long as this source's busy
    // timeout allows. A failure is told as this source's failures read,
    // with the server's code, and whether it came at connecting (the
    // server or the role may allow no further connection).
    // Safe from any thread while this source is open: it reads only the
    // address, the wait limit and the stop state.
    struct AsideStatement
    {
        PgStatement statement;
        StatementRows rows;
    };
    struct AsideFailure
    {
        QString error;
        QString sqlState;
        bool connecting = false;
    };
    bool rowsAside(const std::vector<AsideStatement>& statements, const std::function<bool()>& alsoStop,
                   AsideFailure& failure) const;

private:
    using Values = std::vector<QByteArray>;
    using Nulls = std::vector<bool>;
    using OnRow = std::function<bool(const Values&, const Nulls&)>;
    struct Row;
    class Tail;
    // A machine's newest id, by host.
    using Positions = QMap<QByteArray, qint64>;

    bool stopRequested() const;
    bool usable();
    // A listing's failure: the call's reason alone.
    bool failFromConnection();
    // A whole-record read's failure: kept among the problems.
    bool recordsFailed();
    bool run(const PgStatement& statement, const OnRow& onRow);
    // The records of (machine, id) pairs, in one statement; `onRow` gets each
    // found row with its pair's place in the arrays.
    using OnFetchedRow = std::function<void(int index, const Values&, const Nulls&)>;
    bool fetchRows(const int* machines, const qint64* ids, int count, const OnFetchedRow& onRow);
    bool stream(const PgStatement& statement, const OnRow& onRow);
    bool findAllHosts(QList<QByteArray>& hosts);
    bool prepareMatcher(const LogQuery& query);
    // After a lost connection, for a tail that goes on.
    void reconnect();

    // ---- Whole records
    // The query's WHERE clause; `withHosts` false leaves the hosts asked for out.
    // With `withPattern`, the pattern narrows the rows down on the server
    // where the index of character pairs can (PgTextSearch.h).
    void where(const LogQuery& query, PgStatement& statement, bool withHosts = true, bool withPattern = false) const;
    bool readLastWithGrep(const LogQuery& query, const RecordSink& sink);
    bool newestByHost(Positions& result);
    // Records stored after each machine's id in `after` (a machine not in
    // it: from its first), in the order they were stored, at most `limit`
    // looked at; `after` moves past every record looked at, matched or not.
    bool readAfter(const LogQuery& query, Positions& after, int limit, const RecordSink& sink);

    // ---- A listing
    // The query's rows of fleet_log (host, id, datetime, type, message) as a
    // FROM item, unordered; the pattern is left to listed().
    QByteArray rowsOf(const LogQuery& query, PgStatement& statement) const;
    // The listed rows in the listing's order.
    bool readRows(const LogQuery& query, const std::function<bool(const Row&)>& onRow);
    bool listed(const LogQuery& query, const Row& row) const;
    int placeOf(const QByteArray& host) const;
    QString blockOf(const LogQuery& query, const Row& row, bool gapsMarked) const;

    QString m_url;
    QStringList m_asked;
    QStringList m_machines;
    QList<QByteArray> m_hosts;          // m_machines as stored (UTF-8)
    QHash<QByteArray, int> m_places;
    std::unique_ptr<PgConnection> m_connection;
    std::unique_ptr<MessageMatcher> m_matcher;
    std::function<bool()> m_stopCheck;
    std::atomic<bool> m_interrupted{false};
    int m_waitLimitMs = 0;
    bool m_textIndexed = false;  // fleet_log has the index of character pairs (PgTextSearch.h)
};

} // namespace SystemLog
