#pragma once

// A RELP receiver that misbehaves on purpose: it answers a session's `open`
// as imrelp does, and then either ends the connection at the first `syslog`
// frame (a sender never gets a message acknowledged although every session
// opens) or keeps the connection and never answers (a hung receiver). It
// lives in the test's thread on a free port of 127.0.0.1 and counts what it
// saw; it does its work while the test waits in QTRY_* or QTest::qWait.

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>

class DroppingRelpReceiver
{
public:
    enum class AtFirstMessage { Drop, NeverAnswer };

    explicit DroppingRelpReceiver(AtFirstMessage behaviour = AtFirstMessage::Drop)
        : m_behaviour(behaviour)
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
    // Frames are "TXNR COMMAND DATALEN[ DATA]\n".
    void serve(QTcpSocket* socket)
    {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        for (;;) {
            const QList<QByteArray> head = buffer.left(64).split(' ');
            if (head.size() < 3)
                return;
            const int dataLength = head.at(2).split('\n').first().toInt();
            const int frameLength = head.at(0).size() + head.at(1).size() + 2 + QByteArray::number(dataLength).size()
                                    + (dataLength > 0 ? 1 + dataLength : 0) + 1;
            if (head.at(1) == "syslog" && m_behaviour == AtFirstMessage::Drop) {
                ++m_syslogFrames;
                m_buffers.remove(socket);
                socket->abort();
                return;
            }
            if (buffer.size() < frameLength)
                return;
            if (head.at(1) == "open") {
                const QByteArray offers("200 OK\nrelp_version=0\nrelp_software=dropping\ncommands=syslog");
                socket->write(head.at(0) + " rsp " + QByteArray::number(offers.size()) + ' ' + offers + '\n');
                ++m_sessions;
            } else if (head.at(1) == "syslog") {
                ++m_syslogFrames;
            }
            buffer.remove(0, frameLength);
        }
    }

    AtFirstMessage m_behaviour;
    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    int m_sessions = 0;
    int m_syslogFrames = 0;
};
