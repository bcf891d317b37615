#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

class OpenVpnMgmtInterface;
class ServiceController;

// Brings an OpenVPN tunnel up and down: writes the configuration file, starts the OpenVPN service,
// answers OpenVPN over its management channel and turns its notices into the signals below.
class OpenVpnManager : public QObject
{
    Q_OBJECT

public:
    // Controls the system's "OpenVPNService".
    explicit OpenVpnManager(QObject *parent = nullptr);
    // Controls the service behind controller, which the manager takes over.
    explicit OpenVpnManager(std::unique_ptr<ServiceController> controller, QObject *parent = nullptr);
    ~OpenVpnManager() override;

    void SetConfigFilePath(const QString &path);
    void SetCredentials(const QString &userName, const QString &password);

    // Configuration texts from the provider, written by the owner before Connect.
    QString udpConfig;
    QString tcpConfig;
    // Why the last attempt ended; read by the owner after Disconnected().
    bool serverAvailable = true;
    bool serviceAvailable = true;

    // Waits in milliseconds; tests shorten them.
    int servicePollInterval = 1000;    // between two checks of the starting service
    int failureDisconnectDelay = 2000; // from a service failure to Disconnected()
    int managementConnectDelay = 1000; // from the started service to the management channel
    int disconnectTimeout = 10000;     // longest wait for OpenVPN to exit after the service stop

    static constexpr int kServiceChecks = 10;

public slots:
    void Connect(const QString &serverAddress, const QString &protocol);
    void Disconnect();
    void DisconnectOnExit();

signals:
    void Connecting();
    void CanCancelConnecting();
    void Connected();
    void Reconnecting();
    void Disconnected();
    void DisconnectedOnExit();
    void OvpnConfigGenerated();
    void OvpnCheckTimerFinished();

private slots:
    void DoConnect();
    void DoDisconnect();
    void StopOVPNService();
    void ProcessManagementOutput(QString message);
    void CheckOvpnServiceState();

private:
    void GenerateConfigFile();
    void ReportServiceFailure();
    void ReleaseHold();
    void RefuseReconnect();
    bool KillSwitchEnabled() const;

    std::unique_ptr<OpenVpnMgmtInterface> mgmtInterface;
    std::unique_ptr<ServiceController> serviceController;
    QString userName;
    QString password;
    QString configFilePath;
    bool isConnected = false;
    bool isStarting = false;
    bool isHoldReleased = false;
    QString protocol;
    QString serverAddress;

    // State of the service-start wait.
    QTimer pollTimer;
    int pollCount = 0;
    bool serviceStarted = false;

    QTimer failureTimer;     // the delayed Disconnected() after a service failure
    QTimer mgmtConnectTimer; // the delayed connect of the management channel
};
