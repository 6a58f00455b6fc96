#pragma once

// A RELP receiver that misbehaves on purpose: it answers a session's `open`
// as imrelp does and ends the connection at the first `syslog` frame, so a
// sender never gets a message acknowledged although every session opens.
// It lives in the test's thread on a free port of 127.0.0.1 and counts what
// it saw; it does its work while the test waits in QTRY_* or QTest::qWait.

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>

class DroppingRelpReceiver
{
public:
    DroppingRelpReceiver()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(socket); });
            }
        });
    }

    bool isListening() const { return m_server.isListening(); }
    QString url() const { return QStringLiteral("relp://127.0.0.1:%1").arg(m_server.serverPort()); }
    int sessions() const { return m_sessions; }        // `open` frames answered
    int syslogFrames() const { return m_syslogFrames; }

private:
    // Frames are "TXNR COMMAND DATALEN[ DATA]\n"; only the first one of a
    // connection (open) is read whole, the next one only up to its command.
    void serve(QTcpSocket* socket)
    {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        const QList<QByteArray> head = buffer.split(' ');
        if (head.size() < 3)
            return;
        if (head.at(1) == "syslog") {
            ++m_syslogFrames;
            m_buffers.remove(socket);
            socket->abort();
            return;
        }
        const int frameLength = head.at(0).size() + head.at(1).size() + head.at(2).size() + 3 + head.at(2).toInt() + 1;
        if (head.at(1) != "open" || buffer.size() < frameLength)
            return;
        const QByteArray offers("200 OK\nrelp_version=0\nrelp_software=dropping\ncommands=syslog");
        socket->write(head.at(0) + " rsp " + QByteArray::number(offers.size()) + ' ' + offers + '\n');
        ++m_sessions;
        buffer.clear();
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    int m_sessions = 0;
    int m_syslogFrames = 0;
};
