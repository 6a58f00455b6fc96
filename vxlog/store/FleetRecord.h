#pragma once

#include <QByteArray>
#include <QString>

// One message as rsyslog hands it to `vxlog store`, turned into what goes
// into the central database: a row of fleet_log, and a row of
// fleet_log_rejects when the record cannot be stored as it came.
//
// The line is the receiver's template (docs/rsyslog-fleet-postgresql.conf):
// HOSTNAME, the reported time ("yyyy-MM-dd hh:mm:ss"), STRUCTURED-DATA and
// MSG, each escaped as a JSON string (rsyslog's format="json") and separated
// by tabs. Nothing in it can make the database refuse the row: every text
// is valid UTF-8 without NUL, the id is a bigint, the type an int or NULL,
// the host and time stamp short enough for the indexes. What had to change
// is named in the reject row, with the message's bytes as they came:
//   - a type that is no int (text, a real, beyond int) is NULL; NULL itself
//     (type="") is no change;
//   - bytes that are not UTF-8 become U+FFFD, a NUL becomes U+2400 "␀";
//   - a stored time that was no time stamp (time="…") is kept as its text.
// A message without the record id of `vxlog forward` (another sender), an
// empty or unusable HOSTNAME, or a line that is not the template's is not
// stored at all: only its reject row is.
struct FleetRecord
{
    // The fleet_log row; valid when `stored`.
    QByteArray host;
    qint64 id = 0;
    bool hasId = false;
    QByteArray datetime;
    int type = 0;
    bool hasType = false;
    QByteArray message;
    bool stored = false;

    // The fleet_log_rejects row, when `reason` is not empty.
    QString reason;
    QByteArray structuredData;  // as sent, made valid UTF-8
    QByteArray sentMessage;     // MSG as it came, without the byte order mark (bytea)

    bool rejected() const { return !reason.isEmpty(); }

    static FleetRecord fromLine(const QByteArray& line);
    // Stored no longer: the database refused the row (`why`, its words).
    void refuse(const QString& why);
};
