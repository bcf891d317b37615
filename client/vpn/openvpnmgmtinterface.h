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
    // One emission per socket read, or "Socket error" after any socket error.
    void MessageReceived(QString message);

public slots:
    void Connect();
    void Disconnect();
    void SendUsername(QString userName);
    void SendPassword(QString password);
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
};
