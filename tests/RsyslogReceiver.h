#pragma once

// A real rsyslogd as the RELP receiver of `vxlog forward`: started in the
// foreground with a configuration of its own in a folder the caller owns
// (imrelp on a free port of 127.0.0.1, optionally with TLS, and omfile
// writing each message as one line), and nothing else of the machine's
// syslog: no other input, its own work folder and pid file.

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

class RsyslogReceiver
{
public:
    // Each received message as "PRI HOSTNAME APP-NAME MSGID STRUCTURED-DATA MSG".
    static constexpr const char* kLineTemplate = "%pri% %hostname% %app-name% %msgid% %structured-data% %msg%\\n";

    struct Tls
    {
        QString caFile;
        QString certFile;
        QString keyFile;
        QString permittedPeer;  // the client certificate's name
    };

    explicit RsyslogReceiver(const QString& folder)
        : m_folder(folder)
    {
        QDir(folder).mkpath(QStringLiteral("work"));
    }
    ~RsyslogReceiver() { stop(); }
    RsyslogReceiver(const RsyslogReceiver&) = delete;
    RsyslogReceiver& operator=(const RsyslogReceiver&) = delete;

    void enableTls(const Tls& tls) { m_tls = tls; }

    // rsyslogd and its RELP input as Debian installs them (rsyslog, rsyslog-relp).
    static QString missingPieces()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("rsyslogd"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")})
                .isEmpty()
            && QStandardPaths::findExecutable(QStringLiteral("rsyslogd")).isEmpty())
            return QStringLiteral("rsyslogd is not installed (Debian package rsyslog; scripts/deps installs it)");
        return QString();
    }

    // Starts rsyslogd (on the same port after a stop) and waits until its
    // RELP input listens. On failure `why` holds rsyslogd's own words.
    bool start(QString& why, int timeoutMs = 20000)
    {
        if (m_port == 0)
            m_port = freePort();
        if (!writeConfiguration()) {
            why = QStringLiteral("cannot write the rsyslogd configuration");
            return false;
        }
        m_process.setWorkingDirectory(m_folder);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(path(QStringLiteral("rsyslogd.log")), QIODevice::Append);
        m_process.start(executable(), {QStringLiteral("-n"), QStringLiteral("-f"), path(QStringLiteral("rsyslog.conf")),
                                       QStringLiteral("-i"), path(QStringLiteral("rsyslogd.pid"))});
        QDeadlineTimer deadline(timeoutMs);
        if (!m_process.waitForStarted(timeoutMs)) {
            why = QStringLiteral("rsyslogd did not start: %1").arg(m_process.errorString());
            return false;
        }
        while (!deadline.hasExpired()) {
            if (m_process.state() != QProcess::Running || m_process.waitForFinished(0)) {
                why = QStringLiteral("rsyslogd ended at once: %1").arg(QString::fromLocal8Bit(ownLog()));
                return false;
            }
            if (listens())
                return true;
        }
        why = QStringLiteral("rsyslogd did not listen on port %1 within %2 ms: %3")
                  .arg(m_port).arg(timeoutMs).arg(QString::fromLocal8Bit(ownLog()));
        stop();
        return false;
    }

    // SIGTERM, as systemd stops it: rsyslogd writes out what it received and ends.
    bool stop(int timeoutMs = 20000)
    {
        if (m_process.state() == QProcess::NotRunning)
            return true;
        m_process.terminate();
        if (m_process.waitForFinished(timeoutMs))
            return true;
        m_process.kill();
        m_process.waitForFinished();
        return false;
    }

    quint16 port() const { return m_port; }
    QString url() const { return QStringLiteral("relp://127.0.0.1:%1").arg(m_port); }
    QString outputPath() const { return path(QStringLiteral("received.log")); }

    QByteArray received() const
    {
        QFile file(outputPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QByteArray ownLog() const
    {
        QFile file(path(QStringLiteral("rsyslogd.log")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    static QString executable()
    {
        const QString found = QStandardPaths::findExecutable(QStringLiteral("rsyslogd"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
        return found.isEmpty() ? QStringLiteral("rsyslogd") : found;
    }

    static quint16 freePort()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

    QString path(const QString& name) const { return QDir(m_folder).filePath(name); }

    bool listens()
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        const bool connected = socket.waitForConnected(100);
        if (!connected)
            m_process.waitForFinished(50);  // a pause that also notices an early end
        return connected;
    }

    bool writeConfiguration() const
    {
        QString input = QStringLiteral("input(type=\"imrelp\" address=\"127.0.0.1\" port=\"%1\"").arg(m_port);
        if (!m_tls.caFile.isEmpty())
            input += QStringLiteral(" tls=\"on\" tls.cacert=\"%1\" tls.mycert=\"%2\" tls.myprivkey=\"%3\""
                                    " tls.authmode=\"name\" tls.permittedpeer=[\"%4\"]")
                         .arg(m_tls.caFile, m_tls.certFile, m_tls.keyFile, m_tls.permittedPeer);
        input += QStringLiteral(")\n");
        const QString text = QStringLiteral("global(workDirectory=\"%1\")\n"
                                            "module(load=\"imrelp\")\n"
                                            "%2"
                                            "template(name=\"line\" type=\"string\" string=\"%3\")\n"
                                            "action(type=\"omfile\" file=\"%4\" template=\"line\")\n")
                                 .arg(path(QStringLiteral("work")), input, QString::fromLatin1(kLineTemplate), outputPath());
        QFile file(path(QStringLiteral("rsyslog.conf")));
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text.toUtf8()) == text.toUtf8().size();
    }

    QString m_folder;
    Tls m_tls;
    quint16 m_port = 0;
    QProcess m_process;
};
