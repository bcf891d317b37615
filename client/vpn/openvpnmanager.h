#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

class OpenVpnMgmtInterface;
class ServiceController;

// Brings an OpenVPN tunnel up and down: checks the provider's configuration and has it written where OpenVPN
// runs it, starts the OpenVPN service, answers OpenVPN over its management channel and turns its notices into
// the signals below.
class OpenVpnManager : public QObject
{
    Q_OBJECT

public:
    // Waits in milliseconds.
    struct Timings
    {
        int servicePollInterval = 1000;     // between two checks of the starting service
        int failureDisconnectDelay = 2000;  // from a service failure to Disconnected()
        int managementConnectDelay = 1000;  // from the started service to the management channel
        int disconnectTimeout = 10000;      // longest wait for OpenVPN to exit after the service stop
        int managementRetryInterval = 1000; // between two tries of the management channel
        int managementTimeout = 10000;      // from the first try until OpenVPN must have answered on it
    };

    // Controls the system's "OpenVPNService".
    explicit OpenVpnManager(QObject *parent = nullptr);
    // Controls the service behind controller, which the manager takes over.
    explicit OpenVpnManager(std::unique_ptr<ServiceController> controller, QObject *parent = nullptr);
    ~OpenVpnManager() override;

    // Has config written as the file the OpenVPN service runs, with the management password beside it, and
    // calls done once with whether it was written (at once or later).
    using ConfigWriter =
        std::function<void(const QByteArray &config, const QByteArray &password, std::function<void(bool)> done)>;

    void setTimings(const Timings &timings) { m_timings = timings; }
    void SetConfigWriter(ConfigWriter writer) { m_configWriter = std::move(writer); }
    void SetCredentials(const QString &userName, const QString &password);

    // Configuration texts from the provider, written by the owner before Connect.
    QString udpConfig;
    QString tcpConfig;
    // Why the last attempt ended; read by the owner after Disconnected().
    bool serverAvailable = true;
    bool serviceAvailable = true;

    // Of the tunnel that is up, from OpenVPN's notices: the server's address and port it connected to, the
    // tunnel's local address, and the DNS servers the server pushed (cleared by every Connect).
    QString remoteAddress() const { return m_remoteAddress; }
    quint16 remotePort() const { return m_remotePort; }
    QString tunnelAddress() const { return m_tunnelAddress; }
    QStringList pushedDnsServers() const { return m_pushedDns; }

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
    void connectManagement();
    bool verifyManagementPeer(const QString &message);
    void failManagement(const QString &why);
    void reportServiceFailure();
    void failConfigFile();
    void releaseHold();
    void refuseReconnect();
    bool killSwitchEnabled() const;
    // Takes OpenVPN's log lines (">LOG:") out of message, noting the DNS servers of the pushed options.
    QString takeLogLines(const QString &message);
    void noteConnectedState(const QString &message);

    static constexpr int kServiceChecks = 10;

    std::unique_ptr<OpenVpnMgmtInterface> m_mgmtInterface;
    std::unique_ptr<ServiceController> m_serviceController;
    Timings m_timings;
    QString m_userName;
    QString m_password;
    ConfigWriter m_configWriter;
    QByteArray m_managementPassword; // fresh for every connect
    quint64 m_attempt = 0;           // a written-file answer for an earlier attempt is ignored
    bool m_isConnected = false;
    bool m_isStarting = false;
    bool m_isHoldReleased = false;
    QString m_protocol;
    QString m_serverAddress;
    QString m_remoteAddress;
    quint16 m_remotePort = 0;
    QString m_tunnelAddress;
    QStringList m_pushedDns;

    // State of the service-start wait.
    QTimer m_pollTimer;
    int m_pollCount = 0;
    bool m_serviceStarted = false;

    QTimer m_failureTimer;     // the delayed Disconnected() after a service failure
    QTimer m_mgmtConnectTimer; // the delayed connect of the management channel
    // Until OpenVPN's own process has answered on the channel, which is tried again until the deadline.
    bool m_awaitingChannel = false;
    QTimer m_mgmtDeadline;
};
