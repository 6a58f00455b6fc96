#pragma once

// The fleet's central rsyslogd as docs/ ships it (rsyslog-fleet-postgresql.conf),
// started in the foreground with this folder's paths, a free port on
// 127.0.0.1, the vxlog being built and the given database address put in,
// with certificates made here by openssl: the fleet's CA, the receiver
// logs.example.com and one machine certificate per name in
// *.plant.example.com, as docs/fleet.md makes them. The machine's own
// syslog is never touched: rsyslogd's own messages (vxlog store's failures
// among them), which the machine's rsyslogd would send to the journal, go
// to rsyslogLog(); vxlog store's standard error to storeLog().

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

#include "BuiltPath.h"

class FleetReceiver
{
public:
    explicit FleetReceiver(const QString& folder)
        : m_folder(folder)
    {
    }
    ~FleetReceiver() { stop(); }

    // Certificates for the receiver and for machines "<host>.plant.example.com".
    bool makeCertificates(const QStringList& hosts, QString& why) const
    {
        QString script = QStringLiteral(
            "set -e\n"
            "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj \"/CN=Plant log CA\" "
            "-addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign -keyout ca.key -out ca.pem\n"
            "for name in logs.example.com");
        for (const QString& host : hosts)
            script += QLatin1Char(' ') + host + QStringLiteral(".plant.example.com");
        script += QStringLiteral(
            "; do\n"
            "  openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj \"/CN=$name\" -keyout $name.key -out $name.csr\n"
            "  printf \"subjectAltName=DNS:$name\\nbasicConstraints=CA:FALSE\\n\" > $name.ext\n"
            "  openssl x509 -req -in $name.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile $name.ext -out $name.pem\n"
            "done\n");
        QProcess openssl;
        openssl.setWorkingDirectory(m_folder);
        openssl.start(QStringLiteral("sh"), {"-c", script});
        if (openssl.waitForFinished(120000) && openssl.exitCode() == 0)
            return true;
        why = QString::fromLocal8Bit(openssl.readAllStandardError());
        return false;
    }

    // `configure` may change the configuration's text after the shipped
    // file's paths are put in (a benchmark's other receiver); a test runs it as it is.
    bool start(const QString& shippedConfiguration, const QString& databaseUrl, QString& why,
               const std::function<void(QString&)>& configure = nullptr)
    {
        QFile shipped(shippedConfiguration);
        if (!shipped.open(QIODevice::ReadOnly)) {
            why = shipped.errorString();
            return false;
        }
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        m_port = probe.serverPort();
        probe.close();
        QString text = QString::fromUtf8(shipped.readAll());
        const QString folder = m_folder + QLatin1Char('/');
        const struct { QString from, to; } fill[] = {
            // rsyslogd's own messages, which the machine's rsyslogd would
            // have from the journal, into a file of this folder.
            {QStringLiteral("global("), QStringLiteral("global(workDirectory=\"%1work\" processInternalMessages=\"on\" ").arg(folder)},
            {QStringLiteral("port=\"2514\""), QStringLiteral("address=\"127.0.0.1\" port=\"%1\"").arg(m_port)},
            {QStringLiteral("/etc/rsyslog-fleet/"), folder},
            {QStringLiteral("postgresql://fleet_writer@db.example.com/fleet?passfile=") + folder + QStringLiteral("pgpass"), databaseUrl},
            {QStringLiteral("/usr/bin/vxlog "), vxtest::built(VXLOG_BINARY " ")},
            {QStringLiteral("/var/lib/vxlog-store"), spoolPath()},
            {QStringLiteral("/var/log/vxlog-store.log"), storeLogPath()},
        };
        for (const auto& f : fill) {
            if (!text.contains(f.from)) {
                why = QStringLiteral("the shipped configuration no longer holds ") + f.from;
                return false;
            }
            text.replace(f.from, f.to);
        }
        text += QStringLiteral("\nsyslog.* action(type=\"omfile\" file=\"%1\")\n").arg(rsyslogLogPath());
        if (configure)
            configure(text);
        QDir(m_folder).mkpath(QStringLiteral("work"));
        QFile conf(path("rsyslog.conf"));
        if (!conf.open(QIODevice::WriteOnly) || conf.write(text.toUtf8()) <= 0) {
            why = conf.errorString();
            return false;
        }
        conf.close();
        return restart(why);
    }

    // Starts rsyslogd again after stop(), as configured, on the same port.
    bool restart(QString& why)
    {
        const QString rsyslogd = QStandardPaths::findExecutable(QStringLiteral("rsyslogd"), {"/usr/sbin", "/sbin"});
        if (rsyslogd.isEmpty()) {
            why = QStringLiteral("rsyslogd is not installed (Debian package rsyslog)");
            return false;
        }
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(path("rsyslogd.log"), QIODevice::Append);
        m_process.start(rsyslogd, {"-n", "-f", path("rsyslog.conf"), "-i", path("rsyslogd.pid")});
        for (QDeadlineTimer deadline(30000); !deadline.hasExpired() && m_process.state() != QProcess::NotRunning;) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, m_port);
            if (socket.waitForConnected(100))
                return true;
            m_process.waitForFinished(50);
        }
        QFile log(path("rsyslogd.log"));
        log.open(QIODevice::ReadOnly);
        why = QString::fromUtf8(log.readAll());
        return false;
    }

    // SIGTERM, as systemd stops it.
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(20000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    // `vxlog forward` options that send `database` as machine `host` here,
    // with the certificate made for `certificate` (by default the host's).
    QStringList forwardArguments(const QString& host, const QString& database, const QString& certificate = QString()) const
    {
        const QString name = (certificate.isEmpty() ? host : certificate) + QStringLiteral(".plant.example.com");
        return {"--db", database, "--to", QStringLiteral("relp://127.0.0.1:%1").arg(m_port), "--tls",
                "--ca", path("ca.pem"), "--cert", path(name + ".pem"), "--key", path(name + ".key"),
                "--peer", "logs.example.com", "--hostname", host, "--since", "2000-01-01",
                "--cursor-file", path(cursorName(host) + ".cursor"), "-q"};
    }

    // vxlog store's spool folder, its standard error, and rsyslogd's own messages.
    QString spoolPath() const { return path("spool"); }
    QString storeLogPath() const { return path("vxlog-store.log"); }
    QByteArray storeLog() const { return read("vxlog-store.log"); }
    QString rsyslogLogPath() const { return path("rsyslog-own.log"); }
    QByteArray rsyslogLog() const { return read("rsyslog-own.log"); }

private:
    QString path(const QString& name) const { return m_folder + QLatin1Char('/') + name; }
    // The host's own name when it makes a short file name.
    static QString cursorName(const QString& host)
    {
        static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9._-]{1,64}$"));
        return plain.match(host).hasMatch() ? host : QString::number(qHash(host), 16);
    }
    QByteArray read(const QString& name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QString m_folder;
    quint16 m_port = 0;
    QProcess m_process;
};
