#pragma once

#include <QAbstractSocket>
#include <QObject>
#include <memory>

class QTcpSocket;

// The client's end of OpenVPN's management interface on 127.0.0.1:52025.
// Sends the few commands the tunnel manager needs and hands every received chunk, unparsed, to the owner.
class OpenVpnMgmtInterface : public QObject
{
    Q_OBJECT

public:
    explicit OpenVpnMgmtInterface(QObject *parent = nullptr);
    ~OpenVpnMgmtInterface() override;

    // Whether process pid holds the far end of the connected channel; see SocketOwner.
    bool peerHeldBy(qint64 pid, QString *reason) const;

signals:
    // The whole lines of one socket read (a line's start may have come in an earlier read), OpenVPN's
    // password prompt, which has no line end, or "Socket error" after any socket error.
    void MessageReceived(QString message);

public slots:
    void Connect();
    void Disconnect();
    void SendUsername(QString userName);
    void SendPassword(QString password);
    // Answers OpenVPN's "ENTER PASSWORD:" prompt of the management channel.
    void SendManagementPassword(const QByteArray &password);
    void SendSIGTERM();
    void SendReleaseHold();
    void SetState();
    // Real-time log lines (">LOG:"), which carry the options the server pushed.
    void SendLogOn();

private slots:
    void ReadMessage();
    void DisplayError(QAbstractSocket::SocketError socketError);

private:
    void sendCommand(const QString &command);

    std::unique_ptr<QTcpSocket> m_socket;
    QByteArray m_partialLine; // received bytes after the last line feed
};
