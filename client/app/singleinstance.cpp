#include "app/singleinstance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

namespace {

// Keyed by application and user, so two users of one machine each get their own instance.
QString sessionKey(const QString &appId)
{
    const QByteArray user = QDir::homePath().toUtf8();
    return appId + QLatin1Char('-') +
           QString::fromLatin1(QCryptographicHash::hash(user, QCryptographicHash::Sha1).toHex().left(12));
}

constexpr char ack = '\x06';

} // namespace

SingleInstance::SingleInstance(const QString &appId, QObject *parent)
    : QObject(parent), m_serverName(sessionKey(appId)),
      m_lock(QDir::tempPath() + QLatin1Char('/') + sessionKey(appId) + QStringLiteral(".lock"))
{
    // Only a lock whose owner process is gone counts as stale, however old it is.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::isRunning()
{
    if (!m_checked) {
        m_checked = true;
        m_primary = m_lock.tryLock(0);
    }
    // The lock decides without an application object; listening waits for one.
    if (!m_primary)
        return true;
    if (m_server || !QCoreApplication::instance())
        return false;

    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket left behind by a crashed instance would make listen() fail.
    QLocalServer::removeServer(m_serverName);
    if (!m_server->listen(m_serverName))
        qWarning("Single instance: cannot listen on %s", qPrintable(m_serverName));
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::onNewConnection);
    return false;
}

bool SingleInstance::sendMessage(const QString &message, int timeoutMs)
{
    if (!isRunning())
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    // The running instance may hold the lock a moment before it listens.
    for (;;) {
        socket.connectToServer(m_serverName);
        if (socket.waitForConnected(int(qMax<qint64>(1, deadline.remainingTime()))))
            break;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    const QByteArray payload = message.toUtf8();
    QByteArray frame;
    QDataStream(&frame, QIODevice::WriteOnly) << quint32(payload.size());
    frame.append(payload);
    socket.write(frame);
    if (!socket.waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime()))))
        return false;
    while (socket.bytesAvailable() < 1) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            return false;
    }
    return socket.read(1).at(0) == ack;
}

void SingleInstance::onNewConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->bytesAvailable() < 4)
                return;
            quint32 size = 0;
            QDataStream(socket->peek(4)) >> size;
            if (size > 64 * 1024) {
                socket->abort();
                return;
            }
            if (socket->bytesAvailable() < 4 + qint64(size))
                return;
            socket->read(4);
            const QString message = QString::fromUtf8(socket->read(size));
            socket->write(&ack, 1);
            socket->flush();
            emit messageReceived(message);
        });
    }
}
