#pragma once

// A real rsyslogd as the RELP receiver of `vxlog forward`: run in the
// foreground with a configuration of its own in a folder the caller owns
// (imrelp on a free port of 127.0.0.1 or ::1, optionally with TLS, and omfile
// writing each message as one line), its own work folder and pid file, and
// no other input: the machine's own syslog is never touched.

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

class RsyslogReceiver
{
public:
    struct Tls
    {
        QString caFile, certFile, keyFile;
        QString permittedPeer;  // the name in the forwarder's certificate
    };

    explicit RsyslogReceiver(const QString& folder)
        : m_folder(folder)
    {
        QDir(folder).mkpath(QStringLiteral("work"));
    }
    ~RsyslogReceiver() { stop(); }

    void enableTls(const Tls& tls) { m_tls = tls; }
    // imrelp's maxDataSize and rsyslog's maxMessageSize (0: their defaults).
    void setMaxDataSize(int bytes) { m_maxDataSize = bytes; }
    // The loopback address it listens on: 127.0.0.1 (the default) or ::1.
    void setAddress(const QString& address) { m_address = QHostAddress(address); }

    // Starts rsyslogd (on the same port again after a stop) and waits until
    // its RELP input listens; `why` says what went wrong otherwise.
    bool start(QString& why)
    {
        if (m_port == 0) {
            QTcpServer probe;
            probe.listen(m_address, 0);
            m_port = probe.serverPort();
        }
        const QString rsyslogd = QStandardPaths::findExecutable(QStringLiteral("rsyslogd"), {"/usr/sbin", "/sbin"});
        if (rsyslogd.isEmpty() || !writeConfiguration()) {
            why = QStringLiteral("rsyslogd is not installed (Debian package rsyslog) or its folder is not writable");
            return false;
        }
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(path("rsyslogd.log"), QIODevice::Append);
        m_process.start(rsyslogd, {"-n", "-f", path("rsyslog.conf"), "-i", path("rsyslogd.pid")});
        for (QDeadlineTimer deadline(20000); !deadline.hasExpired() && m_process.state() != QProcess::NotRunning;) {
            QTcpSocket socket;
            socket.connectToHost(m_address, m_port);
            if (socket.waitForConnected(100))
                return true;
            m_process.waitForFinished(50);  // a pause that notices an early end
        }
        why = QStringLiteral("rsyslogd did not listen on port %1: %2").arg(m_port).arg(QString::fromLocal8Bit(read("rsyslogd.log")));
        stop();
        return false;
    }

    // SIGTERM, as systemd stops it: rsyslogd writes out what it received and ends.
    bool stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return true;
        m_process.terminate();
        if (m_process.waitForFinished(20000))
            return true;
        m_process.kill();
        m_process.waitForFinished();
        return false;
    }

    quint16 port() const { return m_port; }
    QString url() const
    {
        const QString host = m_address.protocol() == QAbstractSocket::IPv6Protocol
                                 ? QStringLiteral("[%1]").arg(m_address.toString()) : m_address.toString();
        return QStringLiteral("relp://%1:%2").arg(host).arg(m_port);
    }
    // Each message as "PRI HOSTNAME APP-NAME MSGID STRUCTURED-DATA MSG", one a line.
    QString outputPath() const { return path("received.log"); }
    QByteArray received() const { return read("received.log"); }

private:
    QString path(const char* name) const { return QDir(m_folder).filePath(QString::fromLatin1(name)); }

    QByteArray read(const char* name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    bool writeConfiguration() const
    {
        QString tls;
        if (!m_tls.caFile.isEmpty())
            tls = QStringLiteral(" tls=\"on\" tls.cacert=\"%1\" tls.mycert=\"%2\" tls.myprivkey=\"%3\" tls.authmode=\"name\""
                                 " tls.permittedpeer=[\"%4\"]").arg(m_tls.caFile, m_tls.certFile, m_tls.keyFile, m_tls.permittedPeer);
        QString global, input = tls;
        if (m_maxDataSize > 0) {
            global = QStringLiteral(" maxMessageSize=\"%1\"").arg(m_maxDataSize);
            input += QStringLiteral(" maxDataSize=\"%1\"").arg(m_maxDataSize);
        }
        const QString text = QStringLiteral(
            "global(workDirectory=\"%1\"%5)\n"
            "module(load=\"imrelp\")\n"
            "input(type=\"imrelp\" address=\"%6\" port=\"%2\"%3)\n"
            "template(name=\"line\" type=\"string\" string=\"%pri% %hostname% %app-name% %msgid% %structured-data% %msg%\\n\")\n"
            "action(type=\"omfile\" file=\"%4\" template=\"line\")\n").arg(path("work"), QString::number(m_port), input, outputPath(), global, m_address.toString());
        QFile file(path("rsyslog.conf"));
        return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) > 0;
    }

    QString m_folder;
    Tls m_tls;
    int m_maxDataSize = 0;
    QHostAddress m_address{QHostAddress::LocalHost};
    quint16 m_port = 0;
    QProcess m_process;
};
