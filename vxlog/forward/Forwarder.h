#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <chrono>
#include <deque>
#include <vector>

#include <vxSyslog/SyslogFormat.h>

#include "RelpClient.h"

class CursorFile;

namespace SystemLog {
class LogTail;
}

// Ships the records a LogTail hands over to a RELP receiver as syslog
// messages, at least once.
//
// Delivery rule: a record is delivered once the receiver acknowledged it
// (RelpClient: everything but the last window sent; all of it after a close
// the receiver confirmed). The cursor file holds the id of the last delivered
// record. It is written at most four times a second while records flow,
// whenever the log is quiet, when the log has been quiet for a second in a
// session older than a minute (the session is then closed so that the
// receiver acknowledges the rest), and at the end.
// Failures: when a session fails, the records after the last delivered one
// are read and sent again once the receiver is back; after a kill, those
// after the cursor. No record is skipped. A receiver restart sends at most
// one window (RelpClient::kWindow records) twice, a kill that window and the
// records acknowledged in the quarter second before it.
// Outages are retried with waits doubling up to 30 s, said once per outage on
// standard error. An outage ends when the receiver has acknowledged a window
// of records (or all of a session's records by closing it), not when a
// session opens: a receiver that accepts sessions and drops them gets the
// same growing waits as one that cannot be reached. A receiver certificate that does not verify, or a receiver
// that keeps ending the TLS session, ends the run with status 1. When the
// tail goes on from the first record of new content (the file was replaced,
// its ids went back), the records still in flight are confirmed if the
// receiver answers (the old file cannot give them again) and the cursor
// starts over at the new content.
// Size: a record longer than the formatter's maximum is sent cut, with the
// formatter's marker; the first is said at once, the count at the end.
// Stopping: after a stop request the batch in hand is sent, the session
// closed so that the receiver acknowledges it, and the cursor written; what
// the receiver did not acknowledge is said (how many, and after which
// record the next start goes on).
class Forwarder
{
public:
    Forwarder(SystemLog::LogTail& tail, RelpClient& client, const SystemLog::SyslogFormatter::Options& format,
              const QString& receiverName, CursorFile* cursor);

    // Notices (an outage, a reconnect) are not printed; errors still are.
    void setQuiet(bool quiet) { m_quiet = quiet; }

    // Sends the records after `start` and those that arrive, until a stop
    // is requested. Returns the exit status: 0, or 1 after a fault that
    // waiting cannot mend (reported on standard error).
    int run(qint64 start);

private:
    // A record as the cursor file's mark needs it.
    struct Sent
    {
        qint64 id = 0;
        QByteArray datetime;
        QByteArray message;
    };
    struct Outgoing
    {
        Sent record;
        QByteArray message;  // as sent
    };
    enum class Connect { Open, Stopped, Failed };

    Connect connect();
    void readBatch();
    void noteCut(qint64 id);
    void startOver();
    bool sendBatch();
    void delivered(const Sent& record);
    void acknowledged(int count);
    QString outageText(RelpClient::Connection connection) const;
    QString resendText() const;
    void sessionFailed();
    void idle();
    void confirmByClosing();
    bool storeCursor();
    int finish(int status);
    void report(const QString& text);
    void notice(const QString& text);

    SystemLog::LogTail& m_tail;
    RelpClient& m_client;
    SystemLog::SyslogFormatter m_formatter;
    int m_maxMessageSize;
    QString m_receiverName;
    CursorFile* m_cursor;

    std::vector<Outgoing> m_batch;
    std::deque<Sent> m_inFlight;    // sent, not known to be acknowledged, oldest first
    qint64 m_delivered = 0;
    Sent m_deliveredRecord;         // the record with id m_delivered, once delivered in this run
    qint64 m_stored = 0;            // the id the cursor file holds
    QElapsedTimer m_lastStore;      // since the cursor file was last written
    int m_quietPolls = 0;
    QElapsedTimer m_session;        // since the session opened
    int m_acknowledgedInSession = 0;
    std::chrono::milliseconds m_retryWait;
    bool m_retryDue = false;        // the last session or attempt failed: wait before the next
    bool m_outageReported = false;
    bool m_tlsSuspected = false;    // said once: a plain session keeps being closed at its start
    bool m_cursorFaultReported = false;
    int m_cut = 0;                  // records sent cut to the maximum size
    qint64 m_lastCut = 0;
    bool m_quiet = false;
};
