#include "vpn/openvpnmanager.h"

#include <QDebug>
#include <QEventLoop>
#include <QHostAddress>
#include <QPointer>
#include <QRandomGenerator>

#include "app/appcontext.h"
#include "common/openvpnconfig.h"
#include "common/servicecontroller.h"
#include "vpn/openvpnmgmtinterface.h"

namespace {

const QLatin1String SocketError("Socket error");

bool holdsLineBreak(const QString &value)
{
    return value.contains(QLatin1Char('\r')) || value.contains(QLatin1Char('\n'));
}

// An address literal, without a port ("a:53", "[a]:53") or zone; empty when text holds none.
QString addressLiteral(QString text)
{
    if (text.startsWith(QLatin1Char('[')))
        text = text.mid(1).section(QLatin1Char(']'), 0, 0);
    else if (text.count(QLatin1Char(':')) == 1)
        text = text.section(QLatin1Char(':'), 0, 0);
    QHostAddress address;
    return !text.contains(QLatin1Char('%')) && address.setAddress(text) ? address.toString() : QString();
}

// The DNS servers one pushed option names: "dhcp-option DNS a", "dhcp-option DNS6 a" or
// "dns server N address a [b ...]".
QStringList dnsServersOf(const QString &option)
{
    const QStringList words = option.simplified().split(QLatin1Char(' '));
    QStringList candidates;
    if (words.size() == 3 && words.at(0) == QLatin1String("dhcp-option") &&
        (words.at(1) == QLatin1String("DNS") || words.at(1) == QLatin1String("DNS6")))
        candidates << words.at(2);
    else if (words.size() >= 5 && words.at(0) == QLatin1String("dns") && words.at(1) == QLatin1String("server") &&
             words.at(3) == QLatin1String("address"))
        candidates = words.mid(4);
    QStringList servers;
    for (const QString &candidate : candidates) {
        const QString address = addressLiteral(candidate);
        if (!address.isEmpty())
            servers << address;
    }
    return servers;
}

} // namespace

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
    connect(&m_mgmtConnectTimer, &QTimer::timeout, this, &OpenVpnManager::connectManagement);
    m_mgmtDeadline.setSingleShot(true);
    connect(&m_mgmtDeadline, &QTimer::timeout, this,
            [this] { failManagement(QStringLiteral("OpenVPN did not answer on the management interface in time.")); });
}

OpenVpnManager::~OpenVpnManager()
{
    Disconnect();
    m_pollTimer.stop();
    m_failureTimer.stop();
    m_mgmtConnectTimer.stop();
    m_mgmtDeadline.stop();
    m_mgmtInterface->disconnect(this);
    m_mgmtInterface.reset();
    m_serviceController.reset();
}

void OpenVpnManager::SetCredentials(const QString &userName, const QString &password)
{
    m_userName = userName;
    m_password = password;
}

void OpenVpnManager::Connect(const QString &serverAddress, const QString &protocol)
{
    ++m_attempt;
    serverAvailable = true;
    serviceAvailable = true;
    m_isConnected = false;
    m_isStarting = false;
    // Timers left by an earlier attempt must not act on this one.
    m_failureTimer.stop();
    m_mgmtConnectTimer.stop();
    m_mgmtDeadline.stop();
    m_awaitingChannel = false;

    m_serverAddress = serverAddress;
    m_protocol = protocol;
    m_remoteAddress.clear();
    m_remotePort = 0;
    m_tunnelAddress.clear();
    m_pushedDns.clear();
    emit Connecting();
    // Both go to a root process: the address into its configuration, the credentials onto its command channel.
    if (!OpenVpnConfig::isHostName(serverAddress.toUtf8())) {
        qDebug() << "Invalid server address. Refusing to connect.";
        serverAvailable = false;
        emit Disconnected();
        return;
    }
    if (holdsLineBreak(m_userName) || holdsLineBreak(m_password)) {
        qDebug() << "The VPN user name or password holds a line break. Refusing to connect.";
        emit Disconnected();
        return;
    }
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
    const QString &config = m_protocol == QLatin1String("TCP") ? tcpConfig : udpConfig;
    const OpenVpnConfig::Result checked = OpenVpnConfig::check(config.toUtf8());
    for (const QString &line : checked.dropped)
        qDebug().noquote() << line;
    if (!checked.ok) {
        qDebug().noquote() << checked.refusal;
        failConfigFile();
        return;
    }
    if (!m_configWriter) {
        qDebug() << "Nothing can write the OpenVPN configuration.";
        failConfigFile();
        return;
    }

    // Whoever reaches OpenVPN's management port first must know this to steer it.
    QByteArray random(32, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(random.data()), random.size() / 4);
    m_managementPassword = random.toHex();
    const QByteArray text = "remote " + m_serverAddress.toLatin1() + " 443\n" + checked.text;
    const quint64 attempt = ++m_attempt;
    QPointer<OpenVpnManager> self(this);
    m_configWriter(text, m_managementPassword, [self, attempt](bool written) {
        if (!self || attempt != self->m_attempt)
            return;
        if (written)
            emit self->OvpnConfigGenerated();
        else
            self->failConfigFile();
    });
}

void OpenVpnManager::failConfigFile()
{
    qDebug() << "Can't generate config file. Error writing to file.";
    emit Disconnected();
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
    m_awaitingChannel = true;
    m_mgmtConnectTimer.start(m_timings.managementConnectDelay);
}

void OpenVpnManager::connectManagement()
{
    if (!m_mgmtDeadline.isActive())
        m_mgmtDeadline.start(m_timings.managementTimeout);
    m_mgmtInterface->Connect();
}

// Nothing OpenVPN says is acted on, and nothing is sent back, before its sender is known to be the process
// the service started: another program may have taken the port first.
bool OpenVpnManager::verifyManagementPeer(const QString &message)
{
    if (message == SocketError) {
        // OpenVPN does not listen yet, or the peer went away before it was checked.
        qDebug() << "Management interface not reachable yet, next try in 1 sec.";
        m_mgmtConnectTimer.start(m_timings.managementRetryInterval);
        return false;
    }
    QString reason;
    if (!m_mgmtInterface->peerHeldBy(m_serviceController->processId(), &reason)) {
        failManagement(QStringLiteral("The management interface is not OpenVPN's: ") + reason + QLatin1Char('.'));
        return false;
    }
    m_awaitingChannel = false;
    m_mgmtDeadline.stop();
    return true;
}

void OpenVpnManager::failManagement(const QString &why)
{
    qDebug().noquote() << why;
    m_awaitingChannel = false;
    m_isStarting = false;
    m_mgmtConnectTimer.stop();
    m_mgmtDeadline.stop();
    m_mgmtInterface->Disconnect();
    StopOVPNService();
    reportServiceFailure();
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
    qDebug().noquote() << QStringLiteral("Result of stopping openvpn service: ") +
                              QLatin1String(stopped ? "true" : "false");
}

void OpenVpnManager::DoDisconnect()
{
    ++m_attempt; // a configuration still being written starts nothing
    m_awaitingChannel = false;
    m_mgmtConnectTimer.stop();
    m_mgmtDeadline.stop();
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
    // The DNS filters need the servers the tunnel pushes, which OpenVPN tells only in its log.
    if (AppContext::instance()->config()->dnsLeakFix)
        m_mgmtInterface->SendLogOn();
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

QString OpenVpnManager::takeLogLines(const QString &message)
{
    const QStringList lines = message.split(QLatin1Char('\n'));
    QStringList kept;
    for (const QString &line : lines) {
        if (!line.startsWith(QLatin1String(">LOG:"))) {
            kept << line;
            continue;
        }
        // ">LOG:time,flags,PUSH: Received control message: 'PUSH_REPLY,option,option,...'"
        const int reply = line.indexOf(QLatin1String("PUSH_REPLY,"));
        if (reply < 0 || !line.contains(QLatin1String("PUSH: Received control message")))
            continue;
        const QStringList options = line.mid(reply).trimmed().remove(QLatin1Char('\'')).split(QLatin1Char(','));
        for (const QString &option : options) {
            for (const QString &server : dnsServersOf(option)) {
                if (!m_pushedDns.contains(server))
                    m_pushedDns << server;
            }
        }
    }
    return kept.join(QLatin1Char('\n'));
}

// ">STATE:time,CONNECTED,SUCCESS,local tunnel address,remote address,remote port,..."
void OpenVpnManager::noteConnectedState(const QString &message)
{
    const QStringList lines = message.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QStringList fields = line.trimmed().split(QLatin1Char(','));
        if (!line.startsWith(QLatin1String(">STATE:")) || fields.size() < 6 ||
            fields.at(1) != QLatin1String("CONNECTED"))
            continue;
        m_tunnelAddress = addressLiteral(fields.at(3));
        m_remoteAddress = addressLiteral(fields.at(4));
        m_remotePort = fields.at(5).toUShort();
    }
}

void OpenVpnManager::ProcessManagementOutput(QString message)
{
    if (m_awaitingChannel && !verifyManagementPeer(message))
        return;
    message = takeLogLines(message);
    if (message.trimmed().isEmpty())
        return;
    const auto has = [&message](const char *text) { return message.contains(QLatin1String(text)); };

    if (has("ENTER PASSWORD:")) {
        m_mgmtInterface->SendManagementPassword(m_managementPassword);
    } else if (has("PASSWORD:Need")) {
        m_mgmtInterface->SendUsername(m_userName);
        m_mgmtInterface->SendPassword(m_password);
    } else if (has("CONNECTED")) {
        noteConnectedState(message);
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
