#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

#include "vpn/rasapi.h"

// Brings IKEv2, L2TP/IPSec and PPTP tunnels up and down through the Remote Access Service, using one
// phone-book entry of its own.
class IKEv2Manager : public QObject
{
    Q_OBJECT

public:
    explicit IKEv2Manager(QObject *parent = nullptr);
    // Uses the given RAS backend instead of the platform's own.
    explicit IKEv2Manager(std::unique_ptr<RasApi> ras, QObject *parent = nullptr);
    ~IKEv2Manager() override;

    void SetCredentials(const QString &userName, const QString &password);
    void Connect(const QString &serverAddress, int protocol);
    void Disconnect();
    void DisconnectOnExit();
    void DeleteEntry();

    // Read by the main window after Disconnected() to explain the drop.
    bool serverAvailable = true;
    bool connectionAvailable = true;

    // Delays in milliseconds; tests shorten them.
    int statusCheckInterval = 5000;
    int errorHangUpDelay = 3000;
    int failureReportDelay = 2000;
    int hangUpWaitLimit = 30000;
    int hangUpPollPause = 50;

signals:
    void IKEv2Connected();
    void IKEv2ErrorOccurred();
    void Connecting();
    void CanCancelConnecting();
    void Connected();
    void Disconnected();

private slots:
    void DoConnect();
    void DoDisconnect();
    void OnIKEv2Connected();
    void OnIKEv2ErrorOccurred();
    void CheckConnectionStatus();

private:
    bool CreateEntry();
    bool SetPreSharedKey();
    bool SetupEntry();
    void ReportFailureLater();
    QString ProtocolName() const;

    static void OnRasNotification(RasHandle handle, quint32 message, quint32 state, quint32 error,
                                  quint32 extendedError);

    std::unique_ptr<RasApi> ras;
    QTimer statusTimer;
    QTimer errorHangUpTimer;
    QTimer failureTimer;

    QString userName;
    QString password;
    QString serverAddress;
    int protocol = 0;

    QString entryName;
    RasHandle connectionHandle = 0;
    // Set while a dial is started and not yet hung up; results of an abandoned dial are dropped.
    bool dialActive = false;
    bool hangUpRunning = false;
};
