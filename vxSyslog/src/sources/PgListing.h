#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include <vxSyslog/ListingSource.h>

namespace SystemLog {

class MessageMatcher;
class PgConnection;
struct PgStatement;

// The viewer's listing of the fleet's central table fleet_log (docs/fleet.md)
// for the machines asked for, through libpq. It answers as LogReader
// answers for a machine's own file: one machine's listing here equals the
// listing of that machine's dbLog.db, key for key and block for block.
//
// Machines: the hosts given, sorted by their UTF-8 bytes and each once (a host
// without records is still a machine); none given, every host the table holds
// at open(), found by a skip scan of the primary key. A key's machine is its
// host's place in that order, which is also the order of records of one time
// stamp (the table's host column compares bytes, COLLATE "C").
// Work: bounds, types and ids are the server's; the grep pattern is matched
// here by read/'s MessageMatcher, as the file readers match it. Rows stream
// (COPY's text stream), never held as a whole answer; a sink that stops
// ends the statement on the server.
// Failures: what the database refuses or loses is a Chinese reason naming
// it; a lost connection is a failure (FailureKind::CannotOpen), never a
// short answer, and is not made again: every later call fails as well, a
// new listing connects anew. problems() holds open()'s reason when the
// database could not be read at all; a call failing later fails as a whole
// (no machine's records go on being listed), with errorText() alone.
// Waiting: the busy timeout, when set, bounds every wait for the server
// (connecting, or for the next part of an answer): a server that falls
// silent fails the call then, its connection closed (CannotOpen).
// Threads: one listing belongs to one thread; interrupt() may be called from
// any thread and never waits for the server: it ends a connect in progress
// or the wait for an answer (the statement is cancelled on the server, the
// connection closed), and fails it and every later call
// (FailureKind::Interrupted).
class PgListing : public ListingSource
{
public:
    PgListing(const QString& url, const QStringList& hosts);
    ~PgListing() override;

    // MVCC readers wait for no writer; the busy timeout bounds each wait for
    // the server instead (PgConnection's wait limit).
    void setBusyTimeout(int milliseconds) override;
    bool open() override;

    QStringList machines() const override { return m_machines; }
    bool namesMachines() const override { return m_machines.size() != 1; }

    bool newestIds(QVector<qint64>& ids) override;
    bool countListed(const LogQuery& query, qint64& result) override;
    bool readKeys(const LogQuery& query, const KeySink& sink) override;
    bool readBlocks(const LogQuery& query, const BlockSink& sink) override;
    bool countBetween(const LogQuery& query, const QStringList& bounds, QVector<qint64>& counts) override;
    bool fetch(const LogQuery& query, const int* machines, const qint64* ids, int count,
               const FetchSink& sink) override;

    bool fetchRecords(const int* machines, const qint64* ids, int count, const FetchRecordSink& sink) override;

    void interrupt() override;

    FailureKind failureKind() const override { return m_kind; }
    QString errorText() const override { return m_error; }
    QStringList problems() const override { return m_problems; }

private:
    using Values = std::vector<QByteArray>;
    using Nulls = std::vector<bool>;
    struct Row;

    bool usable();
    bool fail(FailureKind kind, const QString& reason);
    bool failFromConnection();
    bool run(const PgStatement& statement, const std::function<bool(const Values&, const Nulls&)>& onRow);
    bool findAllHosts(QList<QByteArray>& hosts);
    bool prepareMatcher(const LogQuery& query);

    // The query's rows of fleet_log (host, id, datetime, type, message) as a
    // FROM item, unordered; the pattern is left to listed().
    QByteArray rowsOf(const LogQuery& query, PgStatement& statement) const;
    // The listed rows (host, id, datetime, type, message) in the listing's
    // order, each with what the keys and blocks need of it.
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
    QString m_matcherPattern;
    bool m_matcherIgnoresCase = false;
    std::atomic<bool> m_interrupted{false};
    FailureKind m_kind = FailureKind::Other;
    QString m_error;
    QStringList m_problems;
};

} // namespace SystemLog
