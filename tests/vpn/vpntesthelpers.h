#pragma once

#include <QHostAddress>
#include <QMutex>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

// Captures every log line of the process while it lives, from any thread.
class LogCapture
{
public:
    LogCapture()
    {
        clear();
        m_previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture() { qInstallMessageHandler(m_previous); }

    static void clear()
    {
        QMutexLocker lock(&mutex());
        store().clear();
    }
    static QStringList lines()
    {
        QMutexLocker lock(&mutex());
        return store();
    }
    static bool contains(const QString &line) { return lines().contains(line); }
    static int count(const QString &line) { return lines().count(line); }
    static bool waitFor(const QString &line, int timeout = 5000)
    {
        return QTest::qWaitFor([&line] { return contains(line); }, timeout);
    }
    static QString dump() { return lines().join(QLatin1Char('\n')); }

private:
    static QMutex &mutex()
    {
        static QMutex lock;
        return lock;
    }
    static QStringList &store()
    {
        static QStringList captured;
        return captured;
    }
    static void handle(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        QMutexLocker lock(&mutex());
        store().append(message);
    }

    QtMessageHandler m_previous = nullptr;
};

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
