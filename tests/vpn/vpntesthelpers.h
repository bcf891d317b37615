#pragma once

#include <QHostAddress>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

// Captures every log line of the process while it lives.
class LogCapture
{
public:
    LogCapture()
    {
        lines().clear();
        m_previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }

    static QStringList &lines()
    {
        static QStringList captured;
        return captured;
    }
    static bool contains(const QString &line) { return lines().contains(line); }
    static int count(const QString &line) { return lines().count(line); }
    static bool waitFor(const QString &line, int timeout = 5000)
    {
        return QTest::qWaitFor([&line] { return contains(line); }, timeout);
    }
    static QString dump() { return lines().join(QLatin1Char('\n')); }

private:
    static void handle(QtMsgType, const QMessageLogContext &, const QString &message) { lines().append(message); }

    QtMessageHandler m_previous = nullptr;
};

// A scripted OpenVPN management end: listens where OpenVPN would, records what the client sends.
class ManagementPeer
{
public:
    static constexpr quint16 kPort = 52025;

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

    bool listen() { return m_server.listen(QHostAddress::LocalHost, kPort); }
    bool waitForClient(int count = 1, int timeout = 5000)
    {
        return QTest::qWaitFor([this, count] { return connections >= count; }, timeout);
    }
    bool waitForReceived(const QByteArray &bytes, int timeout = 5000)
    {
        return QTest::qWaitFor([this, &bytes] { return received.size() >= bytes.size(); }, timeout);
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
