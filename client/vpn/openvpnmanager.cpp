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
    : QObject(parent), mgmtInterface(std::make_unique<OpenVpnMgmtInterface>()), serviceController(std::move(controller))
{
    connect(mgmtInterface.get(), &OpenVpnMgmtInterface::MessageReceived, this,
            &OpenVpnManager::ProcessManagementOutput);
    connect(this, &OpenVpnManager::OvpnConfigGenerated, this, &OpenVpnManager::DoConnect);

    connect(&pollTimer, &QTimer::timeout, this, &OpenVpnManager::CheckOvpnServiceState);
    failureTimer.setSingleShot(true);
    connect(&failureTimer, &QTimer::timeout, this, &OpenVpnManager::Disconnected);
    mgmtConnectTimer.setSingleShot(true);
    connect(&mgmtConnectTimer, &QTimer::timeout, mgmtInterface.get(), &OpenVpnMgmtInterface::Connect);
}

OpenVpnManager::~OpenVpnManager()
{
    Disconnect();
    pollTimer.stop();
    failureTimer.stop();
    mgmtConnectTimer.stop();
    mgmtInterface->disconnect(this);
    mgmtInterface.reset();
    serviceController.reset();
}

void OpenVpnManager::SetConfigFilePath(const QString &path)
{
    configFilePath = path;
}

void OpenVpnManager::SetCredentials(const QString &userName, const QString &password)
{
    this->userName = userName;
    this->password = password;
}

void OpenVpnManager::Connect(const QString &serverAddress, const QString &protocol)
{
    serverAvailable = true;
    serviceAvailable = true;
    isConnected = false;
    isStarting = false;
    // Timers left by an earlier attempt must not act on this one.
    failureTimer.stop();
    mgmtConnectTimer.stop();

    this->serverAddress = serverAddress;
    this->protocol = protocol;
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
    if (isStarting || isConnected)
        DoDisconnect();
    emit DisconnectedOnExit();
}

void OpenVpnManager::GenerateConfigFile()
{
    if (QFile::exists(configFilePath))
        QFile::remove(configFilePath);

    QFile file(configFilePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        qDebug() << "Can't generate config file. Error writing to file.";
        emit Disconnected();
        return;
    }

    const QString &config = protocol == QLatin1String("TCP") ? tcpConfig : udpConfig;
    const QString text = QStringLiteral("management 127.0.0.1 52025\n"
                                        "management-query-passwords\n"
                                        "management-hold\n"
                                        "remote ") +
                         serverAddress + QStringLiteral(" 443\n") + config + QLatin1Char('\n');
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
    if (!serviceController->isInstalled()) {
        qDebug() << "OpenVPN service error: service not installed.";
        ReportServiceFailure();
        return;
    }
    if (serviceController->isRunning()) {
        qDebug() << "OpenVPNService is already running. Trying to stop it.";
        StopOVPNService();
    }
    if (!serviceController->start()) {
        qDebug() << "OpenVPN service error: service can't be started.";
        ReportServiceFailure();
        return;
    }

    qDebug() << "Starting OpenVPN service...";
    serviceStarted = false;
    pollCount = 0;
    pollTimer.start(servicePollInterval);
    {
        QPointer<OpenVpnManager> self(this);
        QEventLoop loop;
        connect(this, &OpenVpnManager::OvpnCheckTimerFinished, &loop, &QEventLoop::quit);
        connect(this, &QObject::destroyed, &loop, &QEventLoop::quit);
        loop.exec();
        if (!self)
            return;
    }

    if (!serviceStarted) {
        qDebug() << "OpenVPN service error: service can't be started.";
        ReportServiceFailure();
        return;
    }
    qDebug() << "OpenVPNService started successfully.";
    isStarting = true;
    qDebug() << "Connecting management interface.";
    mgmtConnectTimer.start(managementConnectDelay);
}

void OpenVpnManager::CheckOvpnServiceState()
{
    ++pollCount;
    if (serviceController->isRunning()) {
        pollTimer.stop();
        serviceStarted = true;
        emit OvpnCheckTimerFinished();
    } else if (pollCount == kServiceChecks) {
        pollTimer.stop();
        serviceStarted = false;
        emit OvpnCheckTimerFinished();
    } else {
        qDebug() << "OpenVPN service still not running, next check in 1 sec.";
    }
}

void OpenVpnManager::ReportServiceFailure()
{
    serviceAvailable = false;
    failureTimer.start(failureDisconnectDelay);
}

void OpenVpnManager::StopOVPNService()
{
    const bool stopped = serviceController->stop();
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
    if (!isHoldReleased)
        return;

    bool timedOut = false;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &loop, [&timedOut, &loop] {
        timedOut = true;
        loop.quit();
    });
    timeout.start(disconnectTimeout);
    loop.exec();
    if (!self || !timedOut)
        return;

    // Neither an exit notice nor a closed channel came: do not hang the caller.
    qDebug() << "OpenVPN did not exit in time. Carrying on as disconnected.";
    isConnected = false;
    isStarting = false;
    isHoldReleased = false;
    mgmtInterface->Disconnect();
    emit Disconnected();
}

bool OpenVpnManager::KillSwitchEnabled() const
{
    return AppContext::instance()->config()->killSwitch;
}

void OpenVpnManager::ReleaseHold()
{
    mgmtInterface->SendReleaseHold();
    isHoldReleased = true;
    emit CanCancelConnecting();
}

void OpenVpnManager::RefuseReconnect()
{
    qDebug() << "Reconnecting message found, but KillSwitch is enabled. Disconnecting.";
    serverAvailable = false;
    StopOVPNService();
}

void OpenVpnManager::ProcessManagementOutput(QString message)
{
    const auto has = [&message](const char *text) { return message.contains(QLatin1String(text)); };

    if (has("PASSWORD:Need")) {
        mgmtInterface->SendUsername(userName);
        mgmtInterface->SendPassword(password);
    } else if (has("CONNECTED")) {
        isConnected = true;
        isStarting = false;
        emit Connected();
    } else if (has("EXITING")) {
        isConnected = false;
        isStarting = false;
        isHoldReleased = false;
        mgmtInterface->Disconnect();
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
        if (KillSwitchEnabled()) {
            RefuseReconnect();
            return;
        }
        emit Reconnecting();
        ReleaseHold();
    } else if (has("HOLD")) {
        ReleaseHold();
    } else if (has("RECONNECTING")) {
        if (KillSwitchEnabled())
            RefuseReconnect();
        else
            emit Reconnecting();
    } else if (has("Socket error")) {
        if (!isHoldReleased && !isConnected)
            return;
        qDebug() << "Socket error occurs. Disconnecting.";
        isHoldReleased = false;
        isConnected = false;
        isStarting = false;
        Disconnect();
        emit Disconnected();
    }
}
