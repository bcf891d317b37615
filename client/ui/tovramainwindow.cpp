#include "ui/tovramainwindow.h"
#include "ui_tovramainwindow.h"

#include <QAction>
#include <QDebug>
#include <QEventLoop>
#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QOperatingSystemVersion>
#include <QPointer>
#include <QQueue>

#include <functional>
#include <memory>

#include "api/tovraapimanager.h"
#include "api/tovraauthmanager.h"
#include "api/tovraipmanager.h"
#include "app/appcontext.h"
#include "app/buildconstants.h"
#include "app/tovraapplication.h"
#include "common/servicecontroller.h"
#include "guard/tovraservicemanager.h"
#include "servers/tovraservermanager.h"
#include "servers/tovraservermodel.h"
#include "servers/tovraserverscombobox.h"
#include "ui/placement.h"
#include "ui/tovragenericdialog.h"
#include "ui/tovrasettingsdialog.h"
#include "vpn/ikev2manager.h"
#include "vpn/openvpnmanager.h"

namespace {

const QString kRedTrayIcon = QStringLiteral(":/main/resources/main/SystrayIconRed.png");
const QString kGreenTrayIcon = QStringLiteral(":/main/resources/main/SystrayIconGreen.png");
const QString kProtocolLink = QStringLiteral("<a href=\"protocolLink\" style=\"color: #9aa7ac;\">%1</a>: %2");

// QSysInfo's value for Windows 7; systems other than Windows offer IKEv2 as Windows 7 does.
constexpr int kWindows7 = 144;

int systemWindowsVersion()
{
#ifdef Q_OS_WIN
    // The values of QSysInfo::WindowsVersion, which this Qt configuration no longer offers.
    const QOperatingSystemVersion os = QOperatingSystemVersion::current();
    if (os >= QOperatingSystemVersion::Windows10)
        return 0x00c0;
    if (os >= QOperatingSystemVersion::Windows8_1)
        return 0x00b0;
    if (os >= QOperatingSystemVersion::Windows8)
        return 0x00a0;
    if (os >= QOperatingSystemVersion::Windows7)
        return kWindows7;
    return os.majorVersion() == 6 ? 0x0080 : 0x0030;
#else
    return kWindows7;
#endif
}

void log(const QString &line)
{
    qDebug().noquote() << line;
}

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

// How a protocol's tunnel reaches its server, for the firewall block: "udp" or "tcp" and the port.
QPair<QString, quint16> serverTransport(int protocol)
{
    switch (protocol) {
    case OpenVPN:
        return {QStringLiteral("tcp"), 443}; // the engine always dials TCP to port 443
    case PPTP:
        return {QStringLiteral("tcp"), 1723};
    default:
        return {QStringLiteral("udp"), 500}; // IKE
    }
}

// The name of the network device holding address; empty when none does.
QString deviceHolding(const QString &address)
{
    const QHostAddress wanted(address);
    if (wanted.isNull())
        return QString();
    const QList<QNetworkInterface> devices = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &device : devices) {
        const QList<QNetworkAddressEntry> entries = device.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            if (entry.ip().isEqual(wanted))
                return device.name();
        }
    }
    return QString();
}

// The protocol label's text: the settings' text form, with L2TP's full name; none for Automatic.
QString labelProtocolName(int protocol)
{
    if (protocol == L2TP)
        return QStringLiteral("L2TP / IPSec");
    return protocol >= OpenVPN && protocol <= PPTP ? ProtocolToString(protocol) : QString();
}

} // namespace

TovraMainWindow::TovraMainWindow(QWidget *parent) : TovraMainWindow(Backends(), parent)
{
    QTimer::singleShot(100, this, &TovraMainWindow::Initialize);
}

TovraMainWindow::TovraMainWindow(Backends backends, QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::TovraMainWindow>()), m_windowsVersion(systemWindowsVersion()),
      m_networkCheck([] { return CheckActiveNetwork(); })
{
    ui->setupUi(this);

    m_trayIcon = new QSystemTrayIcon(QIcon(kRedTrayIcon), this);
    m_settingsAction = new QAction(tr("Settings"), this);
    m_accountAction = new QAction(tr("Account"), this);
    m_updatesAction = new QAction(tr("Check for updates"), this);

    m_openVpnManager = backends.openVpnService ? new OpenVpnManager(std::move(backends.openVpnService), this)
                                               : new OpenVpnManager(this);
    m_ikev2Manager = backends.ras ? new IKEv2Manager(std::move(backends.ras), this) : new IKEv2Manager(this);
    m_serviceManager = backends.helperService ? new TovraServiceManager(std::move(backends.helperService), this)
                                              : new TovraServiceManager(this);
    // OpenVPN runs its configuration with system rights: only the helper writes it. Answers come in the order
    // of the tasks.
    auto pendingWrites = std::make_shared<QQueue<std::function<void(bool)>>>();
    connect(m_serviceManager, &TovraServiceManager::srvTaskOvpnConfigFinished, this, [pendingWrites](bool written) {
        if (!pendingWrites->isEmpty())
            pendingWrites->dequeue()(written);
    });
    m_openVpnManager->SetConfigWriter(
        [this, pendingWrites](const QByteArray &config, const QByteArray &password, std::function<void(bool)> done) {
            pendingWrites->enqueue(std::move(done));
            m_serviceManager->WriteOpenVpnConfig(config, password);
        });
    m_messageDialog = new TovraGenericDialog(this);
    m_messageDialog->setWindowFlags(m_messageDialog->windowFlags() | Qt::Window);

    m_connectingAnimationTimer.setInterval(800);
    connect(&m_connectingAnimationTimer, &QTimer::timeout, this,
            &TovraMainWindow::OnVPNChannelConnectingAnimationTimer);
    m_bandwidthCheckTimer.setInterval(m_timings.bandwidthCheckInterval);
    connect(&m_bandwidthCheckTimer, &QTimer::timeout, this, &TovraMainWindow::OnRegularBwCheckTimer);

    connect(ui->tovraConnectButton, &QPushButton::clicked, this, &TovraMainWindow::AboutToConnect);
    connect(ui->tovraDisconnectButton, &QPushButton::clicked, this, &TovraMainWindow::Disconnect);
    connect(ui->tovraCancelConnectButton, &QPushButton::clicked, this, &TovraMainWindow::CancelConnect);
    connect(ui->tovraServersBox, &TovraServersComboBox::favoriteStateChanged, this,
            &TovraMainWindow::OnFavoriteStateChanged);

    connect(m_openVpnManager, &OpenVpnManager::CanCancelConnecting, this, &TovraMainWindow::EnableCancelButton);
    connect(m_ikev2Manager, &IKEv2Manager::CanCancelConnecting, this, &TovraMainWindow::EnableCancelButton);
    connect(m_openVpnManager, &OpenVpnManager::Disconnected, this, &TovraMainWindow::OnVPNChannelDropped);
    connect(m_ikev2Manager, &IKEv2Manager::Disconnected, this, &TovraMainWindow::OnVPNChannelDropped);

    connect(m_serviceManager, &TovraServiceManager::srvTaskCheckFinished, this,
            &TovraMainWindow::OnSrvTaskGtwCheckFinished);
    connect(m_serviceManager, &TovraServiceManager::srvTaskDeleteFinished, this,
            &TovraMainWindow::OnSrvTaskGtwDeleteFinished);
    connect(m_serviceManager, &TovraServiceManager::srvTaskRestoreFinished, this,
            &TovraMainWindow::OnSrvTaskGtwRestoreFinished);
    connect(m_serviceManager, &TovraServiceManager::srvTaskAddFiltersFinished, this,
            &TovraMainWindow::OnSrvTaskAddDnsFiltersFinished);
    connect(m_serviceManager, &TovraServiceManager::srvTaskRmvFiltersFinished, this,
            &TovraMainWindow::OnSrvTaskRmvDnsFiltersFinished);
    connect(m_serviceManager, &TovraServiceManager::srvTaskGuardServerFinished, this,
            &TovraMainWindow::OnSrvTaskGuardServerFinished);
    connect(m_serviceManager, &TovraServiceManager::srvTaskGuardStatusFinished, this,
            &TovraMainWindow::OnSrvTaskGuardStatusFinished);
    connect(m_serviceManager, &TovraServiceManager::srvTaskVpnDnsFinished, this,
            &TovraMainWindow::OnSrvTaskVpnDnsFinished);

    AppContext *context = AppContext::instance();
    connect(context->apiManager(), &TovraApiManager::BestServerReceived, this, &TovraMainWindow::OnBestServerReceived);
    connect(context->ipManager(), &TovraIpManager::RemoteIpCheckFinished, this,
            &TovraMainWindow::OnRemoteIpCheckFinished);
    connect(context->authManager(), &TovraAuthManager::UserTrafficUpdated, this, &TovraMainWindow::UpdateTrafficData);

    if (auto *app = qobject_cast<TovraApplication *>(QCoreApplication::instance())) {
        connect(app, &TovraApplication::Exit, app, &QCoreApplication::quit);
        connect(app, &TovraApplication::Activate, this, &TovraMainWindow::OnOpen);
        connect(app, &QCoreApplication::aboutToQuit, this, &TovraMainWindow::OnExit);
    }

    buildStateMachine();
    connectStartupFlow();
    connectStatusDisplay();
}

TovraMainWindow::~TovraMainWindow()
{
    // The engines go down with the window's children and report it; nothing is left here to hear that.
    for (QObject *child : {static_cast<QObject *>(m_openVpnManager), static_cast<QObject *>(m_ikev2Manager),
                           static_cast<QObject *>(m_serviceManager)})
        child->disconnect(this);
    // The engines' disconnect waits dispatch events: answers still on their way must not reach a window half gone.
    AppContext *context = AppContext::instance();
    for (QObject *sender : {static_cast<QObject *>(context->apiManager()), static_cast<QObject *>(context->ipManager()),
                            static_cast<QObject *>(context->authManager())})
        sender->disconnect(this);
}

void TovraMainWindow::setTimings(const Timings &timings)
{
    m_timings = timings;
    m_bandwidthCheckTimer.setInterval(timings.bandwidthCheckInterval);
}

void TovraMainWindow::buildStateMachine()
{
    const auto addState = [this] { return new QState(&m_stateMachine); };
    m_loginState = addState();
    m_localIpState = addState();
    m_serversListState = addState();
    m_openVpnConfigState = addState();
    m_updateCheckState = addState();
    m_serverSelectState = addState();
    m_connectingState = addState();
    m_assignedIpState = addState();
    m_connectedState = addState();

    for (QAction *action : {m_settingsAction, m_accountAction, m_updatesAction}) {
        m_loginState->assignProperty(action, "visible", false);
        m_serverSelectState->assignProperty(action, "visible", true);
    }
    m_serverSelectState->assignProperty(ui->tovraMainButtonPanel, "currentIndex", 1);
    m_serverSelectState->assignProperty(ui->tovraCancelConnectButton, "visible", false);
    m_serverSelectState->assignProperty(ui->tovraServersBox, "enabled", true);
    m_connectingState->assignProperty(ui->tovraMainButtonPanel, "currentIndex", 0);
    m_connectingState->assignProperty(ui->tovraServersBox, "enabled", false);
    m_assignedIpState->assignProperty(ui->tovraCancelConnectButton, "visible", false);
    m_connectedState->assignProperty(ui->tovraMainButtonPanel, "currentIndex", 2);
    m_connectedState->assignProperty(ui->tovraServersBox, "enabled", true);

    connect(m_loginState, &QState::entered, this, &TovraMainWindow::GetLoginData);
    connect(m_localIpState, &QState::entered, this, &TovraMainWindow::GetLocalIp);
    connect(m_serversListState, &QState::entered, this, &TovraMainWindow::GetServersList);
    connect(m_openVpnConfigState, &QState::entered, this, &TovraMainWindow::GetOpenVpnConfig);
    connect(m_updateCheckState, &QState::entered, this, &TovraMainWindow::GetUpdateDataOnStart);
    connect(m_updateCheckState, &QState::exited, this, &TovraMainWindow::OnInitializationFinished);
    connect(m_connectingState, &QState::entered, this, &TovraMainWindow::OnVPNChannelConnectingStarted);
    connect(m_assignedIpState, &QState::entered, this, &TovraMainWindow::GetAssignedIp);
    connect(m_connectedState, &QState::entered, this, &TovraMainWindow::OnVPNChannelConnected);

    m_loginState->addTransition(this, &TovraMainWindow::UserDataReceived, m_localIpState);
    m_localIpState->addTransition(this, &TovraMainWindow::LocalIpUpdated, m_serversListState);
    m_serversListState->addTransition(AppContext::instance()->serverManager(), &TovraServerManager::ServersUpdated,
                                      m_openVpnConfigState);
    m_openVpnConfigState->addTransition(this, &TovraMainWindow::OpenVpnConfigUpdated, m_updateCheckState);
    m_updateCheckState->addTransition(this, &TovraMainWindow::UpdateDataReceived, m_serverSelectState);
    m_serverSelectState->addTransition(m_openVpnManager, &OpenVpnManager::Connecting, m_connectingState);
    m_serverSelectState->addTransition(m_ikev2Manager, &IKEv2Manager::Connecting, m_connectingState);
    m_connectingState->addTransition(m_openVpnManager, &OpenVpnManager::Connected, m_assignedIpState);
    m_connectingState->addTransition(m_ikev2Manager, &IKEv2Manager::Connected, m_assignedIpState);
    m_connectingState->addTransition(this, &TovraMainWindow::BackToServerSelectState, m_serverSelectState);
    m_assignedIpState->addTransition(this, &TovraMainWindow::RemoteIpUpdated, m_connectedState);
    m_assignedIpState->addTransition(this, &TovraMainWindow::BackToServerSelectState, m_serverSelectState);
    m_connectedState->addTransition(this, &TovraMainWindow::BackToServerSelectState, m_serverSelectState);
    m_connectedState->addTransition(m_openVpnManager, &OpenVpnManager::Reconnecting, m_connectingState);
    for (QState *state : {m_localIpState, m_serversListState, m_openVpnConfigState, m_serverSelectState})
        state->addTransition(this, &TovraMainWindow::RestartWorkflow, m_loginState);
    m_stateMachine.setInitialState(m_loginState);
}

void TovraMainWindow::OnInitializationFinished()
{
    Configuration *config = AppContext::instance()->config();
    BuildAutoProtocolOrder();
    m_protocolIsOpenVpn = config->protocol == OpenVPN;
    m_lastAppliedProtocol = config->protocol;
    SetProtocolLabel();
    m_connectionState = StateDisconnected;
    InitializeServers();
    SetUpMainView();
    UpdateTrafficData(true);

    m_helperServiceStarted = m_serviceManager->StartService();
    if (m_helperServiceStarted) {
        SetKillSwitchIndicator(config->killSwitch);
        m_serviceManager->GuardStatus();
    } else {
        config->killSwitch = false;
        config->dnsLeakFix = false;
        config->SaveSettings();
        ShowPopup(tr("TOVRA VPN Windows service could not start."),
                  tr("Kill Switch and DNS leak prevention is disabled. Please restart your PC to try again or "
                     "contact support."),
                  tr("OK"));
        m_settingsDialog->DisableNetworkGuardOptions();
        SetKillSwitchIndicator(false);
    }
    ShowMainView();
}

void TovraMainWindow::InitializeServers()
{
    AppContext *context = AppContext::instance();
    disconnect(ui->tovraServersBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
               &TovraMainWindow::OnServerItemChanged);
    context->serverManager()->LoadFavorites();
    ui->tovraServersBox->setModel(context->RebuildServerModel());
    ui->tovraServersBox->setCurrentIndex(-1);
    connect(ui->tovraServersBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &TovraMainWindow::OnServerItemChanged);
    ui->tovraServersBox->setCurrentIndex(context->serverManager()->StartIndex());
}

void TovraMainWindow::BuildAutoProtocolOrder()
{
    Configuration *config = AppContext::instance()->config();
    config->autoProtocolOrder.clear();
    config->autoProtocolIndex = 0;
    if (m_windowsVersion > 143) {
        config->autoProtocolOrder << IKEv2;
    } else {
        m_settingsDialog->HideProtocolOption(IKEv2);
    }
    if (m_windowsVersion <= 143 && config->protocol == IKEv2) {
        config->protocol = OpenVPN;
        config->autoProtocolIndex = 0;
        config->SaveSettings();
    }
    config->autoProtocolOrder << L2TP << PPTP << OpenVPN;
}

bool TovraMainWindow::AdvanceAutoProtocol()
{
    Configuration *config = AppContext::instance()->config();
    if (config->autoProtocolIndex + 1 < config->autoProtocolOrder.size()) {
        ++config->autoProtocolIndex;
        return true;
    }
    return false;
}

void TovraMainWindow::SetProtocolLabel()
{
    const Configuration *config = AppContext::instance()->config();
    if (config->protocol == Automatic) {
        const int p = config->autoProtocolOrder.value(config->autoProtocolIndex, OpenVPN);
        ui->tovraMainProtocolLabel->setText(QString(kProtocolLink + QStringLiteral(" (%3)"))
                                                .arg(tr("VPN Protocol"), tr("Automatic"), ProtocolToString(p)));
    } else {
        ui->tovraMainProtocolLabel->setText(kProtocolLink.arg(tr("VPN Protocol"), labelProtocolName(config->protocol)));
    }
}

void TovraMainWindow::SetKillSwitchIndicator(bool shown)
{
    ui->tovraMainKillSwitchFrame->setVisible(shown);
}

void TovraMainWindow::ShowPopup(const QString &title, const QString &text, const QString &button)
{
    m_messageDialog->disconnect();
    m_messageDialog->Setup(title, text, button, QString(), TovraGenericDialog::PrimaryOnly);
    MoveCentredOn(m_messageDialog, frameGeometry());
    m_messageDialog->show();
}

void TovraMainWindow::ShowTrafficPopup()
{
    ShowPopup(tr("Your traffic limit has been reached."), tr("Need more data?\nUPGRADE your subscription."),
              tr("UPGRADE"));
    connect(m_messageDialog, &TovraGenericDialog::PrimaryPressed, this,
            &TovraMainWindow::OnUpgradeAccountButtonPressed);
}

bool TovraMainWindow::SelectedServer(TovraServer *server) const
{
    const auto *model = qobject_cast<const TovraServerModel *>(ui->tovraServersBox->model());
    const int row = ui->tovraServersBox->currentIndex();
    if (!model || row < 0 || row >= model->rowCount()) {
        log(QStringLiteral("No server selected (index %1), connect refused").arg(row));
        return false;
    }
    *server = model->server(row);
    return true;
}

void TovraMainWindow::RequestMapImage(bool connected)
{
    TovraServer server;
    const auto *model = qobject_cast<const TovraServerModel *>(ui->tovraServersBox->model());
    if (!model || ui->tovraServersBox->currentIndex() < 0)
        return;
    server = model->server(ui->tovraServersBox->currentIndex());
    const TovraIpManager *ip = AppContext::instance()->ipManager();
    AppContext::instance()->apiManager()->GetMapImage(ip->longitude, ip->latitude, server.longitude, server.latitude,
                                                      connected);
}

void TovraMainWindow::ShowConnectingDisplay()
{
    m_trayIcon->setIcon(QIcon(kRedTrayIcon));
    ui->tovraMainStatusTextLabel->setText(tr("Connecting") + QStringLiteral("..."));
    ui->tovraMainButtonPanel->setCurrentIndex(0);
    ui->tovraServersBox->setEnabled(false);
}

void TovraMainWindow::AboutToConnect()
{
    AppContext *context = AppContext::instance();
    Configuration *config = context->config();
    if (config->dnsLeakFix && m_dnsFiltersAdded)
        m_serviceManager->RemoveDnsFilters();
    // A block held since a drop stays until the next tunnel is up.
    m_holdBlock = m_holdBlock && config->killSwitch && m_gatewayDeleted;
    if (config->killSwitch && m_gatewayDeleted && !m_holdBlock)
        m_serviceManager->RestoreGateway();

    const TovraUserData &user = context->authManager()->userData();
    if (!user.isUnlimited && user.bytesUsed >= user.bytesTotal) {
        ShowTrafficPopup();
        return;
    }
    TovraServer server;
    if (!SelectedServer(&server))
        return;
    if (server.loadPercentage == 100) {
        ShowPopup(tr("This server is fully loaded."), tr("Try again later or try another server."), tr("OK"));
        return;
    }
    ShowConnectingDisplay();
    if (config->protocol == Automatic)
        config->autoProtocolIndex = 0;
    if (config->smartServerList) {
        log(QStringLiteral("Smart servers list is enabled, getting best server for selected category: ") +
            server.displayName);
        if (m_holdBlock) {
            // The block keeps the API out of reach: the request could only fail, after its time-out.
            log(QStringLiteral("Firewall block held, the best server request is not sent."));
            OnBestServerReceived(false, TovraServer());
            return;
        }
        context->apiManager()->GetBestServer(server.countryCode, server.isP2p, server.isStreaming);
        return;
    }
    QTimer::singleShot(m_timings.prepareDelay, this, &TovraMainWindow::PrepareForConnect);
}

void TovraMainWindow::OnBestServerReceived(bool ok, const TovraServer &bestServer)
{
    auto *model = qobject_cast<TovraServerModel *>(ui->tovraServersBox->model());
    const int row = ui->tovraServersBox->currentIndex();
    if (ok && model) {
        model->UpdateSmartCategory(row, bestServer);
    } else if (model) {
        const TovraServer current = model->server(row);
        log(QStringLiteral("Best server request failed, using previously set server for selected category: ") +
            current.shortName + QStringLiteral(" (") + current.ip + QStringLiteral(")"));
    }
    QTimer::singleShot(m_timings.prepareDelay, this, &TovraMainWindow::PrepareForConnect);
}

void TovraMainWindow::PrepareForConnect()
{
    ShowConnectingDisplay();
    Connect();
}

void TovraMainWindow::Connect()
{
    AppContext *context = AppContext::instance();
    Configuration *config = context->config();
    m_userStopped = false;
    m_firstAttemptPending = true;

    TovraServer server;
    if (!SelectedServer(&server)) {
        // The row went away while the connect waited; nothing was started.
        m_firstAttemptPending = false;
        ui->tovraMainButtonPanel->setCurrentIndex(1);
        ui->tovraServersBox->setEnabled(true);
        return;
    }
    QString host = server.shortName + QLatin1Char('.') + BuildConstants::serviceDomain();

    int protocol = config->protocol;
    if (protocol == Automatic) {
        protocol = config->autoProtocolOrder.value(config->autoProtocolIndex, OpenVPN);
        m_protocolIsOpenVpn = protocol == OpenVPN;
        SetProtocolLabel();
        log(QStringLiteral("Automatic protocol set to:") + ProtocolToString(protocol));
    }

    m_dialAddress.clear();
    if (config->killSwitch) {
        QPointer<TovraMainWindow> self(this);
        const QString address = ResolveServer(host, server.ip);
        if (!self || m_userStopped)
            return;
        m_dialAddress = address;
    }
    if (m_holdBlock) {
        if (m_dialAddress.isEmpty()) {
            log(QStringLiteral("The VPN server's address is unknown, it cannot pass the firewall block."));
        } else {
            log(QStringLiteral("Admitting the VPN server through the firewall block: ") + m_dialAddress);
            const QPair<QString, quint16> transport = serverTransport(protocol);
            m_serviceManager->GuardServer(m_dialAddress, transport.first, transport.second);
            // Under the block no name is resolved: OpenVPN dials the admitted address itself.
            if (m_protocolIsOpenVpn)
                host = m_dialAddress;
        }
    }

    const QString email = context->authManager()->userData().email;
    const QString token = context->apiManager()->token;
    if (m_protocolIsOpenVpn) {
        log(QStringLiteral("Connecting to: %1 (%2) via OpenVPN").arg(server.displayName, server.shortName));
        m_openVpnManager->SetCredentials(email, token);
        m_engineIsOpenVpn = true;
        m_openVpnManager->Connect(host, QStringLiteral("TCP"));
    } else {
        log(QStringLiteral("Connecting to: %1 (%2) via %3")
                .arg(server.displayName, server.shortName, ProtocolToString(protocol)));
        m_ikev2Manager->SetCredentials(email, token);
        m_engineIsOpenVpn = false;
        m_ikev2Manager->Connect(host, protocol);
    }
}

void TovraMainWindow::OnVPNChannelConnectingStarted()
{
    m_connectionState = StateConnecting;
    m_trayIcon->setIcon(QIcon(kRedTrayIcon));
    ui->tovraMainStatusTextLabel->setText(tr("Connecting"));
    m_animationStep = 0;
    m_connectingAnimationTimer.start();
}

void TovraMainWindow::OnVPNChannelConnectingAnimationTimer()
{
    ++m_animationStep;
    if (m_animationStep < 4) {
        ui->tovraMainStatusTextLabel->setText(ui->tovraMainStatusTextLabel->text() + QLatin1Char('.'));
    } else {
        ui->tovraMainStatusTextLabel->setText(tr("Connecting"));
        m_animationStep = 0;
    }
}

void TovraMainWindow::EnableCancelButton()
{
    ui->tovraCancelConnectButton->setVisible(true);
}

void TovraMainWindow::GetAssignedIp()
{
    log(QStringLiteral("Get assigned ip."));
    AppContext::instance()->ipManager()->RequestRemoteIp();
}

void TovraMainWindow::OnRemoteIpCheckFinished(bool isOK)
{
    if (isOK) {
        emit RemoteIpUpdated();
        return;
    }
    if (m_connectionState != StateConnected && m_connectionState != StateConnecting)
        return;
    m_remoteIpFailed = true;
    if (m_protocolIsOpenVpn)
        m_openVpnManager->Disconnect();
    else
        m_ikev2Manager->Disconnect();
}

void TovraMainWindow::SetSecuredStatus(bool secured)
{
    ui->tovraMainStatusTextLabel->setText(
        secured
            ? tr("Your connection is %1secured%2")
                  .arg(QStringLiteral("<font style=\"font-weight:bold; color: #30d126;\">"), QStringLiteral("</font>"))
            : tr("Your connection is %1not secured%2")
                  .arg(QStringLiteral("<font style=\"font-weight:bold; color: #dd4f32;\">"),
                       QStringLiteral("</font>")));
}

void TovraMainWindow::OnVPNChannelConnected()
{
    Configuration *config = AppContext::instance()->config();
    m_connectingAnimationTimer.stop();
    SetSecuredStatus(true);
    m_trayIcon->setIcon(QIcon(kGreenTrayIcon));
    m_reminderShown = false;
    m_trayIcon->showMessage(QStringLiteral("TOVRA VPN"), tr("The VPN secured connection has started"),
                            QSystemTrayIcon::Information, 5000);
    m_connectionState = StateConnected;
    m_wasConnected = true;
    m_settingsDialog->SetSmartListEditable(false);
    m_firstAttemptPending = false;

    TovraServer server;
    if (SelectedServer(&server)) {
        config->lastUsedServer = server.key;
        config->SaveSettings();
    }
    RequestMapImage(true);

    // The filters are in place before the default route goes, for OpenVPN tunnels too.
    if (config->dnsLeakFix)
        InstallDnsFilters();
    if (config->killSwitch)
        GuardServerAndDelete();
    m_holdBlock = false;
    if (!m_reviewSettled || !m_inviteSettled)
        CheckPopupSettings();
}

void TovraMainWindow::Disconnect()
{
    const Configuration *config = AppContext::instance()->config();
    log(QStringLiteral("User pressed Disconnect button"));
    m_userStopped = true;
    m_wasConnected = false;
    if (config->dnsLeakFix)
        m_serviceManager->RemoveDnsFilters();
    // A server or protocol change keeps the block through the reconnect.
    m_holdBlock = m_paramsChangeRequested && config->killSwitch && m_gatewayDeleted;
    if (m_holdBlock)
        log(QStringLiteral("Firewall block held for the reconnect."));
    else if (config->killSwitch)
        m_serviceManager->RestoreGateway();
    if (m_engineIsOpenVpn)
        m_openVpnManager->Disconnect();
    else
        m_ikev2Manager->Disconnect();
}

void TovraMainWindow::CancelConnect()
{
    log(QStringLiteral("User pressed Cancel button"));
    m_userStopped = true;
    if (m_engineIsOpenVpn)
        m_openVpnManager->Disconnect();
    else
        m_ikev2Manager->Disconnect();
}

void TovraMainWindow::OnExit()
{
    const Configuration *config = AppContext::instance()->config();
    m_messageDialog->disconnect();
    if (config->dnsLeakFix && m_dnsFiltersAdded)
        m_serviceManager->RemoveDnsFilters();
    if (config->killSwitch && m_gatewayDeleted)
        m_serviceManager->RestoreGateway();
    if (m_helperServiceStarted)
        m_serviceManager->StopService();
    // The engines keep their own inner connections, which the exit disconnect needs.
    m_stateMachine.stop();
    m_openVpnManager->disconnect(this);
    m_ikev2Manager->disconnect(this);
    if (m_connectionState == StateConnected || m_connectionState == StateConnecting) {
        if (m_protocolIsOpenVpn)
            m_openVpnManager->DisconnectOnExit();
        else
            m_ikev2Manager->DisconnectOnExit();
    }
}

void TovraMainWindow::OnSrvTaskGtwCheckFinished(bool ok)
{
    log(QStringLiteral("TovraVPNService task (Check Default Gateway) finished with result: ") + boolText(ok));
    m_gatewayDeleted = ok;
}

void TovraMainWindow::OnSrvTaskGtwDeleteFinished(bool ok)
{
    log(QStringLiteral("TovraVPNService task (Delete Default Gateway) finished with result: ") + boolText(ok));
    m_gatewayDeleted = ok;
    if (ok)
        return;
    // Whether the helper acted on a DELETE it did not answer is unknown: RESTORE stays due.
    if (m_serviceManager->lastTaskEnd() == TovraServiceManager::TaskEnd::NoReply) {
        log(QStringLiteral("Kill switch state unknown, RESTORE stays due."));
        m_gatewayDeleted = true;
        CheckGuardAfterFailure();
        return;
    }
    // No default route to take (a LAN-only machine): the firewall block alone keeps traffic in.
    if (m_serviceManager->lastReply().contains(QLatin1String("DELETE: Default gateway not found"))) {
        log(QStringLiteral("No default route to remove, the kill switch relies on the firewall block."));
        m_gatewayDeleted = true;
        CheckGuardAfterFailure();
        return;
    }
    CheckGuardAfterFailure();
    Configuration *config = AppContext::instance()->config();
    config->killSwitch = false;
    config->SaveSettings();
    ShowPopup(tr("Kill Switch Setup Failed."),
              tr("This option will be disabled. Please restart your PC to try again or contact support."), tr("OK"));
    SetKillSwitchIndicator(false);
}

void TovraMainWindow::OnSrvTaskGtwRestoreFinished(bool ok)
{
    log(QStringLiteral("TovraVPNService task (Restore Default Gateway) finished with result: ") + boolText(ok));
    if (ok) {
        m_gatewayDeleted = false;
        m_holdBlock = false;
    } else {
        CheckGuardAfterFailure();
    }
}

void TovraMainWindow::OnSrvTaskAddDnsFiltersFinished(bool ok)
{
    log(QStringLiteral("TovraVPNService task (Add dns wfp filters) finished with result: ") + boolText(ok));
    m_dnsFiltersAdded = ok;
    if (ok)
        return;
    CheckGuardAfterFailure();
    Configuration *config = AppContext::instance()->config();
    config->dnsLeakFix = false;
    config->SaveSettings();
    ShowPopup(tr("Setup of DNS leak prevention failed."),
              tr("This option will be disabled. Please restart your PC to try again or contact support."), tr("OK"));
}

void TovraMainWindow::OnSrvTaskRmvDnsFiltersFinished(bool ok)
{
    log(QStringLiteral("TovraVPNService task (Remove dns wfp filters) finished with result: ") + boolText(ok));
    if (ok)
        m_dnsFiltersAdded = false;
    else
        CheckGuardAfterFailure();
}

void TovraMainWindow::OnSrvTaskGuardServerFinished(bool ok)
{
    log(QStringLiteral("TovraVPNService task (Admit VPN server) finished with result: ") + boolText(ok));
    if (!ok)
        CheckGuardAfterFailure();
}

void TovraMainWindow::OnSrvTaskVpnDnsFinished(bool ok)
{
    log(QStringLiteral("TovraVPNService task (Pass VPN DNS servers) finished with result: ") + boolText(ok));
    if (!ok)
        CheckGuardAfterFailure();
}

void TovraMainWindow::OnSrvTaskGuardStatusFinished(bool ok)
{
    log(QStringLiteral("TovraVPNService task (Firewall block status) finished with result: ") + boolText(ok));
    m_guardStatusPending = false;
    if (!ok)
        return; // unknown: what the flags say stands
    const Configuration *config = AppContext::instance()->config();
    const bool blocking = m_serviceManager->guardBlocking();
    const bool held = config->killSwitch && (m_gatewayDeleted || m_connectionState == StateConnected);
    if (blocking && !held) {
        log(QStringLiteral("Firewall block that no tunnel of this run holds found, lifting it."));
        m_gatewayDeleted = true;
        m_serviceManager->RestoreGateway();
        return;
    }
    m_gatewayDeleted = blocking;
}

void TovraMainWindow::LiftStaleGuard()
{
    // A block left by an earlier run would keep the start-up from reaching the provider.
    if (m_serviceManager->EnsureServiceRunning())
        m_serviceManager->GuardStatus();
}

void TovraMainWindow::CheckGuardAfterFailure()
{
    if (m_guardStatusPending)
        return;
    m_guardStatusPending = true;
    m_serviceManager->GuardStatus();
}

QString TovraMainWindow::ResolveServer(const QString &host, const QString &recordAddress)
{
    QString address;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject receiver;
    const int lookup = QHostInfo::lookupHost(host, &receiver, [&](const QHostInfo &info) {
        const QList<QHostAddress> found = info.addresses();
        for (const QHostAddress &candidate : found) {
            // IPv4 first: the engines dial it first.
            if (address.isEmpty() || candidate.protocol() == QAbstractSocket::IPv4Protocol) {
                address = candidate.toString();
                if (candidate.protocol() == QAbstractSocket::IPv4Protocol)
                    break;
            }
        }
        loop.quit();
    });
    timeout.start(m_timings.resolveTimeout);
    loop.exec();
    QHostInfo::abortHostLookup(lookup);
    if (address.isEmpty() && !QHostAddress(recordAddress).isNull())
        address = QHostAddress(recordAddress).toString();
    log(QStringLiteral("VPN server address: ") + (address.isEmpty() ? QStringLiteral("unknown") : address));
    return address;
}

void TovraMainWindow::GuardServerAndDelete()
{
    QString address = m_protocolIsOpenVpn ? m_openVpnManager->remoteAddress() : QString();
    QPair<QString, quint16> transport = serverTransport(m_protocolIsOpenVpn ? int(OpenVPN) : int(IKEv2));
    QString device;
    if (m_protocolIsOpenVpn) {
        if (m_openVpnManager->remotePort() > 0)
            transport.second = m_openVpnManager->remotePort();
        device = deviceHolding(m_openVpnManager->tunnelAddress());
    } else {
        const Configuration *config = AppContext::instance()->config();
        const int protocol = config->protocol == Automatic
                                 ? config->autoProtocolOrder.value(config->autoProtocolIndex, OpenVPN)
                                 : int(config->protocol);
        transport = serverTransport(protocol);
        device = m_ikev2Manager->tunnelDevice();
    }
    if (address.isEmpty())
        address = m_dialAddress;
    TovraServer server;
    if (address.isEmpty() && SelectedServer(&server))
        address = ResolveServer(server.shortName + QLatin1Char('.') + BuildConstants::serviceDomain(), server.ip);
    if (address.isEmpty())
        log(QStringLiteral("The VPN server's address is unknown, it cannot pass the firewall block."));
    else
        m_serviceManager->GuardServer(address, transport.first, transport.second, device);
    m_serviceManager->DeleteGateway();
}

void TovraMainWindow::InstallDnsFilters()
{
    if (m_protocolIsOpenVpn)
        m_serviceManager->VpnDns(m_openVpnManager->pushedDnsServers());
    m_serviceManager->AddDnsFilters();
}

void TovraMainWindow::OnVPNChannelDropped()
{
    Configuration *config = AppContext::instance()->config();
    // An assigned-IP check still waiting belongs to the tunnel that is gone.
    AppContext::instance()->ipManager()->CancelAssignedIpCheck();
    m_connectingAnimationTimer.stop();
    SetSecuredStatus(false);
    m_trayIcon->setIcon(QIcon(kRedTrayIcon));
    m_reminderShown = false;
    m_trayIcon->showMessage(QStringLiteral("TOVRA VPN"), tr("You no longer have a secured connection with VPN"),
                            QSystemTrayIcon::Information, 5000);
    RequestMapImage(false);
    m_connectionState = StateDisconnected;
    m_settingsDialog->SetSmartListEditable(true);
    // A tunnel that went down by itself (not stopped by the client) leaves the block in force until the next one
    // is up.
    if (!m_userStopped && !m_trafficLimitHit && !m_remoteIpFailed && config->killSwitch && m_gatewayDeleted)
        m_holdBlock = true;
    emit BackToServerSelectState();

    if (!m_paramsChangeRequested) {
        QTimer::singleShot(m_timings.reasonDelay, this, &TovraMainWindow::GetDisconnectReason);
        return;
    }
    log(QStringLiteral("Connection parameters change requested"));
    if (config->protocol == Automatic)
        config->autoProtocolIndex = 0;
    m_paramsChangeRequested = false;
    QTimer::singleShot(m_timings.paramsChangeDelay, this, &TovraMainWindow::AboutToConnect);
}

void TovraMainWindow::GetDisconnectReason()
{
    if (m_userStopped)
        return;
    if (AppContext::instance()->config()->protocol == Automatic && AdvanceAutoProtocol() && m_firstAttemptPending) {
        log(QStringLiteral("Connection failed with automatic protocol selected. Trying again with next available "
                           "protocol."));
        m_remoteIpFailed = false;
        QTimer::singleShot(m_timings.nextProtocolDelay, this, [this] {
            // A cancel during the pause ends the fallback.
            if (!m_userStopped)
                PrepareForConnect();
        });
        return;
    }

    const QString unavailableTitle = tr("This server is unavailable.");
    const QString unavailableText = tr("Try again later or contact support.");
    if (m_remoteIpFailed) {
        m_remoteIpFailed = false;
        log(QStringLiteral("Disconnect reason: remote IP check returns error."));
        ShowPopup(tr("IP error occurred."), tr("Select another server and try again or contact support."), tr("OK"));
    } else if (m_trafficLimitHit) {
        m_trafficLimitHit = false;
        log(QStringLiteral("Disconnect reason: regular bw check found problem with bw limit."));
        ShowTrafficPopup();
    } else if (m_protocolIsOpenVpn && !m_openVpnManager->serviceAvailable) {
        log(QStringLiteral("Disconnect reason: openvpn service problem."));
        ShowPopup(tr("An OpenVPN error occurred."), tr("Restart and try again or contact support."), tr("OK"));
    } else if (m_protocolIsOpenVpn && !m_openVpnManager->serverAvailable) {
        log(QStringLiteral("Disconnect reason: openvpn server unavailable."));
        ShowPopup(unavailableTitle, unavailableText, tr("OK"));
    } else if (!m_protocolIsOpenVpn && !m_ikev2Manager->connectionAvailable) {
        log(QStringLiteral("Disconnect reason: IKEv2 connection problem."));
        ShowPopup(tr("An IKEv2 connection error occurred."), tr("Restart and try again or contact support."), tr("OK"));
    } else if (!m_protocolIsOpenVpn && !m_ikev2Manager->serverAvailable) {
        log(QStringLiteral("Disconnect reason: IKEv2 server unavailable."));
        ShowPopup(unavailableTitle, unavailableText, tr("OK"));
    } else {
        log(QStringLiteral("Disconnect reason: server dropped connection."));
        if (m_wasConnected)
            ReconnectAfterDrop();
        else
            ShowPopup(tr("A server error occurred."), tr("Try to connect again or contact support."), tr("OK"));
    }
}

void TovraMainWindow::ReconnectAfterDrop()
{
    m_wasConnected = false;
    ui->tovraConnectButton->setEnabled(false);
    bool found = false;
    for (int check = 0; check < m_timings.networkChecks; ++check) {
        if (m_networkCheck()) {
            log(QStringLiteral("Active network connection is found."));
            found = true;
            break;
        }
        log(QStringLiteral("Active network connection not found. Next check in 1 second."));
        QEventLoop loop;
        QTimer pause;
        pause.setSingleShot(true);
        connect(&pause, &QTimer::timeout, &loop, &QEventLoop::quit);
        pause.start(m_timings.networkCheckInterval);
        loop.exec();
    }
    ui->tovraConnectButton->setEnabled(true);

    if (found) {
        if (!m_holdBlock)
            m_gatewayDeleted = false;
    } else if (AppContext::instance()->config()->killSwitch) {
        log(QStringLiteral("Kill switch is enabled. No need to try to reconnect."));
        ShowPopup(tr("A server error occurred."), tr("Try to connect again or contact support."), tr("OK"));
        return;
    }
    log(QStringLiteral("Requesting reconnect to the same server"));
    QTimer::singleShot(m_timings.reconnectDelay, this, &TovraMainWindow::AboutToConnect);
}

void TovraMainWindow::OnServerItemChanged(int index)
{
    log(QStringLiteral("Server index changed to: ") + QString::number(index));
    if (m_connectionState != StateConnected) {
        RequestMapImage(false);
        return;
    }
    log(QStringLiteral("Server changed, while app connected. Disconnect and request connect to selected server"));
    m_paramsChangeRequested = true;
    ui->tovraDisconnectButton->click();
}

void TovraMainWindow::OnFavoriteStateChanged()
{
    AppContext *context = AppContext::instance();
    auto *model = qobject_cast<TovraServerModel *>(ui->tovraServersBox->model());
    const int row = ui->tovraServersBox->currentIndex();
    if (!model || row < 0 || row >= model->rowCount())
        return;
    const TovraServer server = model->server(row);
    Configuration *config = context->config();
    TovraServerManager *servers = context->serverManager();
    const bool on = servers->IndexOfFavorite() != row;
    model->SetFavorite(row, on);
    config->favoriteServer = on ? server.key : QString();
    config->SaveSettings();
    if (on)
        servers->SetFavorite(server.key);
    else
        servers->ClearFavorites();
    log(QStringLiteral("Set favorite state %1 for ").arg(on ? QStringLiteral("TRUE") : QStringLiteral("FALSE")) +
        server.displayName);
    // The closed picker paints the star of the current row itself.
    ui->tovraServersBox->update();
}

void TovraMainWindow::ApplyConfiguration()
{
    AppContext *context = AppContext::instance();
    Configuration *config = context->config();
    if (config->killSwitch) {
        if (!m_gatewayDeleted && m_connectionState == StateConnected)
            GuardServerAndDelete();
        SetKillSwitchIndicator(config->killSwitch);
    } else {
        if (m_gatewayDeleted)
            m_serviceManager->RestoreGateway();
        m_holdBlock = false;
        SetKillSwitchIndicator(false);
    }
    if (config->dnsLeakFix) {
        if (!m_dnsFiltersAdded && m_connectionState == StateConnected)
            InstallDnsFilters();
    } else if (m_dnsFiltersAdded) {
        m_serviceManager->RemoveDnsFilters();
    }
    m_protocolIsOpenVpn = config->protocol == OpenVPN;
    SetProtocolLabel();
    if (context->serverManager()->ApplySmartListSetting())
        InitializeServers();
    if (config->protocol != m_lastAppliedProtocol) {
        m_lastAppliedProtocol = config->protocol;
        if (m_connectionState == StateConnected) {
            log(QStringLiteral(
                "Protocol changed, while app connected. Disconnect and request connect with selected protocol"));
            m_paramsChangeRequested = true;
            ui->tovraDisconnectButton->click();
        }
    }
}

void TovraMainWindow::OnRegularBwCheckTimer()
{
    m_bandwidthCheckTimer.stop();
    if (m_connectionState == StateConnecting) {
        log(QStringLiteral("Regular bandwidth check skipped, bcz application is in Connecting state"));
        m_bandwidthCheckTimer.start();
        return;
    }
    GetTrafficData();
}

void TovraMainWindow::GetTrafficData()
{
    log(QStringLiteral("Regular check: Get traffic data"));
    AppContext::instance()->apiManager()->UpdateUserBandwidth();
}
