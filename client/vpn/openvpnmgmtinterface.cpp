#include "vpn/openvpnmgmtinterface.h"

#include "common/socketowner.h"

#include <QDebug>
#include <QTcpSocket>

#include <algorithm>

namespace {
const char kHost[] = "127.0.0.1";
const quint16 kPort = 52025;
const char kUsernamePrefix[] = "username \"Auth\" ";
const char kPasswordPrefix[] = "password \"Auth\" ";
const char kSocketError[] = "Socket error";
// Sent without a line end when the channel has a password.
const char kPasswordPrompt[] = "ENTER PASSWORD:";
// A partial line longer than this is handed on as it is: OpenVPN's notices are far shorter.
constexpr int kMaxPartialLine = 64 * 1024;

QByteArray commandBytes(const QString &command)
{
    return command.toUtf8() + '\n';
}

// OpenVPN reads a command's words as its configuration parser does: blanks separate them, '"' encloses one,
// '\\' escapes within; a value with none of the special characters goes as it is.
QString quotedValue(const QString &value)
{
    static const QString special = QStringLiteral(" \t\"\\'#;");
    if (std::none_of(value.begin(), value.end(), [](QChar c) { return special.contains(c); }))
        return value;
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

bool holdsLineBreak(const QString &value)
{
    return value.contains(QLatin1Char('\r')) || value.contains(QLatin1Char('\n'));
}

// The bytes as the debug stream prints them: quoted, with escapes.
QString printable(const QByteArray &bytes)
{
    QString text;
    QDebug(&text).nospace() << bytes;
    return text;
}
} // namespace

OpenVpnMgmtInterface::OpenVpnMgmtInterface(QObject *parent) : QObject(parent), m_socket(std::make_unique<QTcpSocket>())
{
    connect(m_socket.get(), &QTcpSocket::readyRead, this, &OpenVpnMgmtInterface::ReadMessage);
    connect(m_socket.get(), &QTcpSocket::errorOccurred, this, &OpenVpnMgmtInterface::DisplayError);
}

OpenVpnMgmtInterface::~OpenVpnMgmtInterface()
{
    // What the socket reports while it is torn down must not reach a half-destroyed object.
    m_socket->disconnect(this);
}

void OpenVpnMgmtInterface::Connect()
{
    // A leftover channel (an earlier OpenVPN run) would make connectToHost a no-op.
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
    m_partialLine.clear();
    m_socket->connectToHost(QString::fromLatin1(kHost), kPort, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
}

void OpenVpnMgmtInterface::Disconnect()
{
    qDebug() << "Disconnecting management interface.";
    m_socket->disconnectFromHost();
}

void OpenVpnMgmtInterface::SendUsername(QString userName)
{
    // A line break would end the command and start another one of the sender's choosing.
    if (holdsLineBreak(userName)) {
        qDebug() << "The user name holds a line break. Not sending it.";
        return;
    }
    const QByteArray bytes = commandBytes(QLatin1String(kUsernamePrefix) + quotedValue(userName));
    qDebug().noquote() << QStringLiteral("Sending command : ") + printable(bytes);
    m_socket->write(bytes);
}

void OpenVpnMgmtInterface::SendPassword(QString password)
{
    if (holdsLineBreak(password)) {
        qDebug() << "The password holds a line break. Not sending it.";
        return;
    }
    const QByteArray bytes = commandBytes(QLatin1String(kPasswordPrefix) + quotedValue(password));
    // The password is the user's API token and the log travels with support tickets.
    const int characters = password.toUcs4().size();
    const QByteArray masked = QByteArray(kPasswordPrefix) + QByteArray(characters, '*') + '\n';
    qDebug().noquote() << QStringLiteral("Sending command : ") + printable(masked);
    m_socket->write(bytes);
}

void OpenVpnMgmtInterface::SendManagementPassword(const QByteArray &password)
{
    qDebug() << "Sending the management password.";
    m_socket->write(password + '\n');
}

void OpenVpnMgmtInterface::SendSIGTERM()
{
    qDebug() << "Sending SIGTERM signal.";
    const QByteArray bytes = commandBytes(QStringLiteral("signal SIGTERM"));
    qDebug().noquote() << QStringLiteral("Sending command : ") + printable(bytes);
    m_socket->write(bytes);
}

bool OpenVpnMgmtInterface::peerHeldBy(qint64 pid, QString *reason) const
{
    return SocketOwner::peerHeldBy(*m_socket, pid, reason);
}

void OpenVpnMgmtInterface::SendReleaseHold()
{
    SetState();
    sendCommand(QStringLiteral("hold release"));
}

void OpenVpnMgmtInterface::SetState()
{
    sendCommand(QStringLiteral("state on"));
}

void OpenVpnMgmtInterface::SendLogOn()
{
    sendCommand(QStringLiteral("log on"));
}

void OpenVpnMgmtInterface::sendCommand(const QString &command)
{
    m_socket->write(commandBytes(command));
}

void OpenVpnMgmtInterface::ReadMessage()
{
    // A notice split across two reads is handed on once its line feed has come.
    QByteArray data = m_partialLine + m_socket->readAll();
    const int end = data.lastIndexOf('\n') + 1;
    m_partialLine = data.mid(end);
    data.truncate(end);
    if (m_partialLine == kPasswordPrompt || m_partialLine.size() > kMaxPartialLine) {
        data += m_partialLine;
        m_partialLine.clear();
    }
    if (data.isEmpty())
        return;
    const int nul = data.indexOf('\0');
    if (nul >= 0)
        data.truncate(nul);
    const QString text = QString::fromLocal8Bit(data);
    qDebug().noquote() << text;
    emit MessageReceived(text);
}

void OpenVpnMgmtInterface::DisplayError(QAbstractSocket::SocketError socketError)
{
    switch (socketError) {
    case QAbstractSocket::RemoteHostClosedError:
        qDebug() << "Remote host closed socket.";
        break;
    case QAbstractSocket::HostNotFoundError:
        qDebug() << "The host was not found. Please check the host name and port settings.";
        break;
    case QAbstractSocket::ConnectionRefusedError:
        qDebug() << "The connection was refused by the peer. Make sure the openvpn server is running, and check that "
                    "the host name and port settings are correct.";
        break;
    default:
        qDebug().noquote() << QStringLiteral("The following error occurred: %1.").arg(m_socket->errorString());
        break;
    }
    emit MessageReceived(QString::fromLatin1(kSocketError));
}
