#pragma once

#include <QByteArray>
#include <QString>

#include <vxSyslog/LogRecord.h>
#include <vxSyslog/vxSyslogExport.h>

namespace SystemLog {

// Log records as RFC 5424 syslog messages, for programs that ship the log to
// a syslog server (vxlog forward sends them over RELP):
//
//   <PRI>1 TIMESTAMP HOSTNAME quarrow - MSGID [vxlog@32473 id="…" type="…" time="…" eol="…"] BOM MSG
//
// PRI is facility * 8 + the severity of the record type: 报警记录 (alarm) err,
// 参数修改记录 (param) and 其他信息 (info) notice, 用户使用记录 (user) and
// 系统状态记录 (status) info; any other type notice. TIMESTAMP is the record's
// local time with the UTC offset the machine's time zone had at that moment,
// or "-" when the stored time stamp is not "yyyy-MM-dd hh:mm:ss" (the text as
// stored then goes in time="…", so that a receiver does not put the time it
// received the message in its place). MSGID is the
// type's ASCII name (param, user, status, alarm, info; "typeN" for another
// code N; a type stored beyond int, as a real, a text or NULL goes out as
// stored in type="…", with MSGID "typeN" for an integer and "-" otherwise,
// severity notice). eol spells the line ends the message finished with ("n"
// for LF, "r" for CR, in order; left out when there are none), so that a
// receiver can store the message as it was. MSG is the message without its
// trailing line ends: valid UTF-8
// after a byte order mark, as RFC 5424 asks, and any other bytes as they are
// stored, without the mark; a NUL byte goes as U+2400 "␀" (receivers turn a
// raw NUL into "#000", indistinguishable from that text, and PostgreSQL's
// text cannot hold one). An empty message leaves MSG out.
// Size: with Options::maxSize set, a message that would be longer (imrelp
// takes 8,096 bytes unless its maxDataSize is raised) keeps the start of its
// MSG, cut where a UTF-8 character begins, and ends with the marker
// "…[截断，原长 N 字节]", N the length of the MSG as stored, so that a cut is
// never silent and the whole message stays within maxSize.
//
// The message is the syslog message alone; framing it for a transport (RELP,
// octet counting over TCP) is the sender's business.
// Not thread-safe: one formatter per thread (it caches the last UTC offset).
class VXSYSLOG_EXPORT SyslogFormatter
{
public:
    enum Facility { Local0 = 16 };

    struct Options
    {
        int facility = Local0;        // 0..23
        QByteArray hostname;          // printable ASCII without blanks, at most 255; empty: "-"
        QByteArray appName = "quarrow";
        int maxSize = 0;              // bytes of a whole message; 0: no bound
    };

    // imrelp's maxDataSize when not set, the bound a forwarder should keep.
    static constexpr int kReceiverDefaultMaxSize = 8096;
    // Room for the longest header and the marker: a smaller maxSize cannot
    // be kept.
    static constexpr int kSmallestMaxSize = 1024;

    explicit SyslogFormatter(const Options& options);

    // Appends the message for `record` to `out`; true when its MSG had to be
    // cut to keep Options::maxSize.
    bool append(const LogRecord& record, QByteArray& out);

    // err (3) for alarms, info (6) for user and status records, notice (5) otherwise.
    static int severity(int type);
    static QByteArray messageId(int type);

    // The code of a facility name as syslog.conf and rsyslog write it
    // ("kern", "user", …, "local7") or a number 0..23; -1 for anything else.
    static int facilityOfName(const QString& name);

    // True when `name` can stand as HOSTNAME or APP-NAME: 1 to `maxLength`
    // printable ASCII characters, no blank.
    static bool isHeaderField(const QByteArray& name, int maxLength);

    // A PARAM-VALUE of structured data with '"', '\' and ']' escaped by a
    // backslash, as RFC 5424 requires.
    static void appendParamValue(const QByteArray& value, QByteArray& out);

private:
    void appendTimestamp(const QByteArray& datetime, QByteArray& out);

    Options m_options;
    QByteArray m_offsetMinute;  // "yyyy-MM-dd hh:mm" whose offset is cached
    QByteArray m_offsetText;    // "+08:00"
};

} // namespace SystemLog
