#pragma once

// A real PostgreSQL for a test: initdb and pg_ctl into a folder the test
// owns, listening only on 127.0.0.1 at a free port, with trust
// authentication for one user. Run as the `postgres` user when the test runs
// as root (the server refuses to run as root). Stopped when the object goes.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTcpServer>

#include <unistd.h>

class PostgresServer
{
public:
    explicit PostgresServer(const QString& folder)
        : m_folder(folder)
    {
    }
    ~PostgresServer() { stop(); }

    // initdb and start; `why` says what went wrong otherwise. A test's
    // server skips syncing to disk; a `durable` one (for figures) syncs
    // every commit as a real server does.
    bool start(QString& why, bool durable = false)
    {
        const QString initdb = tool(QStringLiteral("initdb"));
        if (initdb.isEmpty()) {
            why = QStringLiteral("initdb not found (Debian package postgresql)");
            return false;
        }
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        m_port = probe.serverPort();
        probe.close();
        if (geteuid() == 0 && !run({"chown", "postgres", m_folder}, false, why))
            return false;
        if (!run({initdb, "-D", data(), "-A", "trust", "-U", user(), "-E", "UTF8", "--locale=C"}, true, why))
            return false;
        m_options = QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1%3")
                        .arg(m_port)
                        .arg(data(), durable ? QString() : QStringLiteral(" -c fsync=off"));
        return restart(why);
    }

    // Starts the server again after a stop, on the same port.
    bool restart(QString& why)
    {
        if (!run({tool(QStringLiteral("pg_ctl")), "-D", data(), "-o", m_options, "-l", m_folder + "/server.log", "-w", "-t", "60", "start"},
                 true, why))
            return false;
        m_running = true;
        return true;
    }

    // pg_ctl stop: `immediate` cuts every connection at once, as a crash would.
    void stop(bool immediate = false)
    {
        if (!m_running)
            return;
        QString ignored;
        run({tool(QStringLiteral("pg_ctl")), "-D", data(), "-m", immediate ? "immediate" : "fast", "-w", "stop"}, true, ignored);
        m_running = false;
    }

    // psql with ON_ERROR_STOP on database `database`; `sql` or a file (-f).
    // Two minutes at most, unless the caller (a benchmark loading millions of
    // rows) gives more.
    bool psql(const QString& database, const QStringList& arguments, QString& why, int timeoutMs = 120000) const
    {
        return run(QStringList{tool(QStringLiteral("psql")), "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1", "-p",
                               QString::number(m_port), "-U", user(), "-d", database}
                       + arguments,
                   false, why, timeoutMs);
    }

    // The rows of `sql` as psql -At writes them ("a|b", one a line), as the superuser.
    bool select(const QString& database, const QString& sql, QByteArray& rows, QString& why) const
    {
        QProcess process;
        process.start(tool(QStringLiteral("psql")), {"-X", "-q", "-At", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1", "-p",
                                                     QString::number(m_port), "-U", user(), "-d", database, "-c", sql});
        const bool done = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        rows = process.readAllStandardOutput();
        if (!done)
            why = QString::fromLocal8Bit(process.readAllStandardError()) + process.errorString();
        return done;
    }

    // As the test's superuser, or as `role` (trust: no password).
    QString url(const QString& database, const QString& role = user()) const
    {
        return QStringLiteral("postgresql://%1@127.0.0.1:%2/%3").arg(role).arg(m_port).arg(database);
    }
    quint16 port() const { return m_port; }
    static QString user() { return QStringLiteral("fleet"); }

private:
    QString data() const { return m_folder + QStringLiteral("/data"); }

    static QString tool(const QString& name)
    {
        QStringList folders;
        for (const QString& version : QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed))
            folders << QStringLiteral("/usr/lib/postgresql/%1/bin").arg(version);
        const QString found = QStandardPaths::findExecutable(name, folders);
        return found.isEmpty() ? QStandardPaths::findExecutable(name) : found;
    }

    bool run(QStringList command, bool asServerUser, QString& why, int timeoutMs = 120000) const
    {
        if (asServerUser && geteuid() == 0)
            command = QStringList{"runuser", "-u", "postgres", "--"} + command;
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setWorkingDirectory(m_folder);
        process.start(command.takeFirst(), command);
        if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
            why = QString::fromLocal8Bit(process.readAll()) + process.errorString();
            return false;
        }
        return true;
    }

    QString m_folder;
    QString m_options;
    quint16 m_port = 0;
    bool m_running = false;
};
