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
    // Delays in milliseconds.
    struct Timings
    {
        int statusCheckInterval = 5000; // regular check while connected
        int errorHangUpDelay = 3000;    // from a dial error to the hang-up
        int failureReportDelay = 2000;  // from a set-up or dial-start failure to Disconnected()
        int hangUpWaitLimit = 30000;    // longest wait for RAS to close a hung-up connection
        int hangUpPollPause = 50;       // between two status queries of that wait
    };

    explicit IKEv2Manager(QObject *parent = nullptr);
    // Uses the given RAS backend instead of the platform's own.
    explicit IKEv2Manager(std::unique_ptr<RasApi> ras, QObject *parent = nullptr);
    ~IKEv2Manager() override;

    void setTimings(const Timings &timings) { m_timings = timings; }
    void SetCredentials(const QString &userName, const QString &password);
    void Connect(const QString &serverAddress, int protocol);
    void Disconnect();
    void DisconnectOnExit();
    void DeleteEntry();
    // The device of the connected tunnel, where it has one; empty when unknown.
    QString tunnelDevice() const { return m_ras->tunnelDevice(); }

    // Read by the main window after Disconnected() to explain the drop.
    bool serverAvailable = true;
    bool connectionAvailable = true;

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
    bool createEntry();
    bool setPreSharedKey();
    bool setupEntry();
    void reportFailureLater();
    QString protocolName() const;

    static void onRasNotification(RasHandle handle, quint32 message, quint32 state, quint32 error,
                                  quint32 extendedError);

    std::unique_ptr<RasApi> m_ras;
    Timings m_timings;
    QTimer m_statusTimer;
    QTimer m_errorHangUpTimer;
    QTimer m_failureTimer;

    QString m_userName;
    QString m_password;
    QString m_serverAddress;
    int m_protocol = 0;

    QString m_entryName;
    RasHandle m_connectionHandle = 0;
    // Set while a dial is started and not yet hung up; results of an abandoned dial are dropped.
    bool m_dialActive = false;
    bool m_hangUpRunning = false;
};
