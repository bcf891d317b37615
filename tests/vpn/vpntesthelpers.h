#pragma once

#include <QHostAddress>
#include <QMutex>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "logcapture.h"

// A scripted OpenVPN management end: listens where OpenVPN would, records what the client sends.
class ManagementPeer
{
public:
    ManagementPeer()
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                ++connections;
                client = socket;
                QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] { received += socket->readAll(); });
            }
        });
    }

    bool listen() { return m_server.listen(QHostAddress::LocalHost, 52025); }
    bool waitForClient(int count = 1)
    {
        return QTest::qWaitFor([this, count] { return connections >= count; });
    }
    // Waits until as many bytes as `bytes` has arrived; the caller compares them.
    bool waitForReceived(const QByteArray &bytes)
    {
        return QTest::qWaitFor([this, &bytes] { return received.size() >= bytes.size(); });
    }
    bool waitForConnected()
    {
        return QTest::qWaitFor([this] { return client && client->state() == QAbstractSocket::ConnectedState; });
    }
    void send(const QByteArray &bytes)
    {
        client->write(bytes);
        client->flush();
    }
    // As the OpenVPN process does when it ends.
    void closeClient()
    {
        if (client)
            client->disconnectFromHost();
    }
    bool clientGone() const { return !client || client->state() == QAbstractSocket::UnconnectedState; }

    QTcpSocket *client = nullptr;
    QByteArray received;
    int connections = 0;

private:
    QTcpServer m_server;
};
