#include "vpn/openvpnmanager.h"

#include <QDebug>
#include <QEventLoop>
#include <QFile>
#include <QPointer>

#include "app/appcontext.h"
#include "common/servicecontroller.h"
#include "vpn/openvpnmgmtinterface.h"

OpenVpnManager::OpenVpnManager(QObject *parent)
    : OpenVpnManager(std::make_unique<ServiceController>(QStringLiteral("OpenVPNService")), parent)
{}

OpenVpnManager::OpenVpnManager(std::unique_ptr<ServiceController> controller, QObject *parent)
    : QObject(parent), m_mgmtInterface(std::make_unique<OpenVpnMgmtInterface>()),
      m_serviceController(std::move(controller))
{
    connect(m_mgmtInterface.get(), &OpenVpnMgmtInterface::MessageReceived, this,
            &OpenVpnManager::ProcessManagementOutput);
    connect(this, &OpenVpnManager::OvpnConfigGenerated, this, &OpenVpnManager::DoConnect);

    connect(&m_pollTimer, &QTimer::timeout, this, &OpenVpnManager::CheckOvpnServiceState);
    m_failureTimer.setSingleShot(true);
    connect(&m_failureTimer, &QTimer::timeout, this, &OpenVpnManager::Disconnected);
    m_mgmtConnectTimer.setSingleShot(true);
    connect(&m_mgmtConnectTimer, &QTimer::timeout, m_mgmtInterface.get(), &OpenVpnMgmtInterface::Connect);
}

OpenVpnManager::~OpenVpnManager()
{
    Disconnect();
    m_pollTimer.stop();
    m_failureTimer.stop();
    m_mgmtConnectTimer.stop();
    m_mgmtInterface->disconnect(this);
    m_mgmtInterface.reset();
    m_serviceController.reset();
}

void OpenVpnManager::SetConfigFilePath(const QString &path)
{
    m_configFilePath = path;
}

void OpenVpnManager::SetCredentials(const QString &userName, const QString &password)
{
    m_userName = userName;
    m_password = password;
}

void OpenVpnManager::Connect(const QString &serverAddress, const QString &protocol)
{
    serverAvailable = true;
    serviceAvailable = true;
    m_isConnected = false;
    m_isStarting = false;
    // Timers left by an earlier attempt must not act on this one.
    m_failureTimer.stop();
    m_mgmtConnectTimer.stop();

    m_serverAddress = serverAddress;
    m_protocol = protocol;
    emit Connecting();
    GenerateConfigFile();
}

void OpenVpnManager::Disconnect()
{
    qDebug() << "Disconnecting from server.";
    DoDisconnect();
}

void OpenVpnManager::DisconnectOnExit()
{
    if (m_isStarting || m_isConnected)
        DoDisconnect();
    emit DisconnectedOnExit();
}

void OpenVpnManager::GenerateConfigFile()
{
    if (QFile::exists(m_configFilePath))
        QFile::remove(m_configFilePath);

    QFile file(m_configFilePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        qDebug() << "Can't generate config file. Error writing to file.";
        emit Disconnected();
        return;
    }

    const QString &config = m_protocol == QLatin1String("TCP") ? tcpConfig : udpConfig;
    const QString text = QStringLiteral("management 127.0.0.1 52025\n"
                                        "management-query-passwords\n"
                                        "management-hold\n"
                                        "remote ") +
                         m_serverAddress + QStringLiteral(" 443\n") + config + QLatin1Char('\n');
    const QByteArray bytes = text.toLocal8Bit();
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    if (!written) {
        // A truncated configuration would only fail later and less clearly.
        file.remove();
        qDebug() << "Can't generate config file. Error writing to file.";
        emit Disconnected();
        return;
    }
    emit OvpnConfigGenerated();
}

void OpenVpnManager::DoConnect()
{
    if (!m_serviceController->isInstalled()) {
        qDebug() << "OpenVPN service error: service not installed.";
        reportServiceFailure();
        return;
    }
    if (m_serviceController->isRunning()) {
        qDebug() << "OpenVPNService is already running. Trying to stop it.";
        StopOVPNService();
    }
    if (!m_serviceController->start()) {
        qDebug() << "OpenVPN service error: service can't be started.";
        reportServiceFailure();
        return;
    }

    qDebug() << "Starting OpenVPN service...";
    m_serviceStarted = false;
    m_pollCount = 0;
    m_pollTimer.start(m_timings.servicePollInterval);
    {
        QPointer<OpenVpnManager> self(this);
        QEventLoop loop;
        connect(this, &OpenVpnManager::OvpnCheckTimerFinished, &loop, &QEventLoop::quit);
        connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
        loop.exec();
        if (!self)
            return;
    }

    if (!m_serviceStarted) {
        qDebug() << "OpenVPN service error: service can't be started.";
        reportServiceFailure();
        return;
    }
    qDebug() << "OpenVPNService started successfully.";
    m_isStarting = true;
    qDebug() << "Connecting management interface.";
    m_mgmtConnectTimer.start(m_timings.managementConnectDelay);
}

void OpenVpnManager::CheckOvpnServiceState()
{
    ++m_pollCount;
    if (m_serviceController->isRunning()) {
        m_pollTimer.stop();
        m_serviceStarted = true;
        emit OvpnCheckTimerFinished();
    } else if (m_pollCount == kServiceChecks) {
        m_pollTimer.stop();
        m_serviceStarted = false;
        emit OvpnCheckTimerFinished();
    } else {
        qDebug() << "OpenVPN service still not running, next check in 1 sec.";
    }
}

void OpenVpnManager::reportServiceFailure()
{
    serviceAvailable = false;
    m_failureTimer.start(m_timings.failureDisconnectDelay);
}

void OpenVpnManager::StopOVPNService()
{
    const bool stopped = m_serviceController->stop();
    qDebug() << "Result of stopping openvpn service:" << stopped;
}

void OpenVpnManager::DoDisconnect()
{
    QPointer<OpenVpnManager> self(this);
    QEventLoop loop;
    connect(this, &OpenVpnManager::Disconnected, &loop, &QEventLoop::quit);
    connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);

    StopOVPNService();
    // Checked after the stop: OpenVPN may already have reported its exit while the service went down.
    if (!m_isHoldReleased)
        return;

    bool timedOut = false;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &loop, [&timedOut, &loop] {
        timedOut = true;
        loop.quit();
    });
    timeout.start(m_timings.disconnectTimeout);
    loop.exec();
    if (!self || !timedOut)
        return;

    // Neither an exit notice nor a closed channel came: do not hang the caller.
    qDebug() << "OpenVPN did not exit in time. Carrying on as disconnected.";
    m_isConnected = false;
    m_isStarting = false;
    m_isHoldReleased = false;
    m_mgmtInterface->Disconnect();
    emit Disconnected();
}

bool OpenVpnManager::killSwitchEnabled() const
{
    return AppContext::instance()->config()->killSwitch;
}

void OpenVpnManager::releaseHold()
{
    m_mgmtInterface->SendReleaseHold();
    m_isHoldReleased = true;
    emit CanCancelConnecting();
}

void OpenVpnManager::refuseReconnect()
{
    qDebug() << "Reconnecting message found, but KillSwitch is enabled. Disconnecting.";
    serverAvailable = false;
    StopOVPNService();
}

void OpenVpnManager::ProcessManagementOutput(QString message)
{
    const auto has = [&message](const char *text) { return message.contains(QLatin1String(text)); };

    if (has("PASSWORD:Need")) {
        m_mgmtInterface->SendUsername(m_userName);
        m_mgmtInterface->SendPassword(m_password);
    } else if (has("CONNECTED")) {
        m_isConnected = true;
        m_isStarting = false;
        emit Connected();
    } else if (has("EXITING")) {
        m_isConnected = false;
        m_isStarting = false;
        m_isHoldReleased = false;
        m_mgmtInterface->Disconnect();
        if (has("auth-failure")) {
            qDebug() << "Server returns auth-failure. Disconnecting.";
            StopOVPNService();
        }
        emit Disconnected();
    } else if (has("tls-error")) {
        qDebug() << "Server returns tls-error. Disconnecting.";
        serverAvailable = false;
        StopOVPNService();
    } else if (has("HOLD") && has("RECONNECTING")) {
        if (killSwitchEnabled()) {
            refuseReconnect();
            return;
        }
        emit Reconnecting();
        releaseHold();
    } else if (has("HOLD")) {
        releaseHold();
    } else if (has("RECONNECTING")) {
        if (killSwitchEnabled())
            refuseReconnect();
        else
            emit Reconnecting();
    } else if (has("Socket error")) {
        if (!m_isHoldReleased && !m_isConnected)
            return;
        qDebug() << "Socket error occurs. Disconnecting.";
        m_isHoldReleased = false;
        m_isConnected = false;
        m_isStarting = false;
        Disconnect();
        emit Disconnected();
    }
}
