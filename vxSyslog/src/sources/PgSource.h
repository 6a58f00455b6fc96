#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

#include <vxSyslog/RecordSource.h>

namespace SystemLog {

class PgConnection;
struct PgStatement;

// The fleet's central table fleet_log in PostgreSQL (docs/fleet.md,
// docs/fleet_log.sql), read through libpq. Types, time bounds, ids, order
// and last N are the server's work; the grep pattern is matched here by the
// same MessageMatcher the file readers use, so that a pattern selects the
// same records wherever they are read. Rows stream as they come (COPY's
// text stream, PgConnection), never held as a whole answer. The time order
// is time stamp, host, id.
class PgSource : public RecordSource
{
public:
    PgSource(const QString& url, const QStringList& hosts);
    ~PgSource() override;

    // False with `error` for a URL that carries a password (it belongs in
    // ~/.pgpass or PGPASSWORD, never on a command line) or that libpq
    // cannot parse.
    static bool acceptsUrl(const QString& url, QString& error);

    bool open() override;
    bool read(const LogQuery& filter, const LogReader::RecordSink& sink) override;
    bool count(const LogQuery& filter, qint64& result) override;
    bool countPerDayAndType(const LogQuery& filter, const LogReader::DayTypeSink& sink) override;
    bool span(const LogQuery& filter, LogReader::Span& result) override;
    void setStopCheck(const std::function<bool()>& stopRequested) override;
    bool namesHosts() const override { return m_hosts.size() != 1; }
    QStringList files() const override { return QStringList(); }
    std::unique_ptr<SourceTail> tail(const LogQuery& filter, SourceTail::NoticeSink notices) override;

    // For a tail: the machines in the table (within the hosts asked for)
    // with their newest id, found through the primary key's index.
    using Positions = QMap<QByteArray, qint64>;
    bool newestIds(Positions& result);
    // Records stored after each machine's id in `after` (a machine not in
    // it: from its first), in the order they were stored, at most `limit`
    // looked at; `after` moves past every record looked at, matched or not.
    bool readAfter(const LogQuery& filter, Positions& after, int limit, const LogReader::RecordSink& sink);

    // For figures counted in the database (report/PgReport): the filter's
    // WHERE clause (types, time bounds, ids, the hosts asked for; not the
    // pattern), and a statement's rows as they stream.
    void whereOf(const LogQuery& filter, PgStatement& query) const { where(filter, query); }
    bool rows(const PgStatement& query,
              const std::function<bool(const std::vector<QByteArray>&, const std::vector<bool>&)>& row)
    {
        return stream(query, row);
    }

private:
    // After a lost connection, for a tail that goes on.
    void reconnect();

    class Tail;
    bool stream(const PgStatement& query, const std::function<bool(const std::vector<QByteArray>&, const std::vector<bool>&)>& row);
    bool failed();
    // The filter's WHERE clause; `withHosts` false leaves the hosts asked for out.
    void where(const LogQuery& filter, PgStatement& query, bool withHosts = true) const;
    bool readLastWithGrep(const LogQuery& filter, const LogReader::RecordSink& sink);

    QString m_url;
    QStringList m_hosts;
    std::unique_ptr<PgConnection> m_connection;
    std::function<bool()> m_stopCheck;
};

} // namespace SystemLog
