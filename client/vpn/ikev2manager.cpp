#include "vpn/ikev2manager.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <iterator>

#include "app/apptypes.h"
#include "app/buildconstants.h"

namespace {

// Entry values at creation.
constexpr quint32 EntryOptions = 0x2C010310; // default gateway, lights, compression, secure files, progress,
                                             // CHAP and MS-CHAPv2 required
constexpr quint32 NetProtocolIp = 4;
constexpr quint32 FramingPpp = 1;
constexpr quint32 DialAll = 1;
constexpr quint32 EntryTypeVpn = 2;
constexpr quint32 EncryptionRequire = 1;
constexpr quint32 DefaultRedialPause = 15;

constexpr quint32 StrategyPptpOnly = 1;
constexpr quint32 StrategyL2tpOnly = 3;
constexpr quint32 StrategyIkev2Only = 7;
constexpr quint32 DontNegotiateMultilink = 0x4;
constexpr quint32 UsePreSharedKey = 0x10;
constexpr quint32 CredentialPreSharedKey = 0x10;

// The RAS notifier has no context argument; it reaches the manager through this pointer. The lock keeps the
// manager alive while a notification uses it.
QMutex s_currentManagerLock;
IKEv2Manager *s_currentManager = nullptr;

QString creationResultText(quint32 code)
{
    switch (code) {
    case 0:
        return QStringLiteral("successfully created.");
    case 5:
        return QStringLiteral("error - access denied.");
    case 87:
        return QStringLiteral("error - invalid parameter.");
    case 610:
        return QStringLiteral("error - buffer invalid.");
    case 621:
        return QStringLiteral("error - cannot open book.");
    default:
        return QStringLiteral("error - %1.").arg(code);
    }
}

QString preSharedKeyResultText(quint32 code)
{
    switch (code) {
    case 0:
        return QStringLiteral("successfully set.");
    case 5:
        return QStringLiteral("error - access denied.");
    case 87:
        return QStringLiteral("error - invalid parameter.");
    case 610:
        return QStringLiteral("error - buffer invalid.");
    case 621:
        return QStringLiteral("error - cannot open phonebook.");
    case 623:
        return QStringLiteral("error - cannot find phonebook entry.");
    default:
        return QStringLiteral("error - %1.").arg(code);
    }
}

const char *extendedErrorText(quint32 code)
{
    switch (code) {
    case 639:
        return "Cannot get LANA";
    case 640:
        return "Netbios Error";
    case 645:
        return "Internal Authentication Error";
    case 650:
        return "Server Not Responding";
    default:
        return nullptr;
    }
}

const char *stateText(quint32 state)
{
    static const char *const dialling[] = {"Opening Port",
                                           "Port Opened",
                                           "Connecting Device",
                                           "Device Connected",
                                           "All Devices Connected",
                                           "Authenticating",
                                           "Authentication Notify",
                                           "Authentication Retry",
                                           "Authentication Call Back",
                                           "Authentication Change Password",
                                           "Authenticating Project",
                                           "Authenticating Link Speed",
                                           "Authentication Acknowledge",
                                           "Reauthentication",
                                           "Authenticated",
                                           "Prepare For Callback",
                                           "Waiting for Modem Reset",
                                           "Waiting for Callback",
                                           "Projected",
                                           "Start Authentication",
                                           "Callback Complete",
                                           "Logon Network",
                                           "Sub Entry Connected",
                                           "Sub Entry Disconnected"};
    static const char *const paused[] = {"Interactive", "Retry Authentication", "Callback Set by Caller",
                                         "Password Expired", "Invoke EapUI"};
    if (state < std::size(dialling))
        return dialling[state];
    if (state >= 0x1000 && state - 0x1000 < std::size(paused))
        return paused[state - 0x1000];
    if (state == Ras::StateConnected)
        return "Connected";
    if (state == Ras::StateDisconnected)
        return "Disconnected";
    return nullptr;
}

} // namespace

IKEv2Manager::IKEv2Manager(QObject *parent) : IKEv2Manager(CreateRasApi(), parent) {}

IKEv2Manager::IKEv2Manager(std::unique_ptr<RasApi> rasApi, QObject *parent)
    : QObject(parent), m_ras(std::move(rasApi)), m_entryName(BuildConstants::productToken())
{
    m_errorHangUpTimer.setSingleShot(true);
    m_failureTimer.setSingleShot(true);

    connect(this, &IKEv2Manager::IKEv2Connected, this, &IKEv2Manager::OnIKEv2Connected);
    connect(this, &IKEv2Manager::IKEv2ErrorOccurred, this, &IKEv2Manager::OnIKEv2ErrorOccurred);
    connect(&m_statusTimer, &QTimer::timeout, this, &IKEv2Manager::CheckConnectionStatus);
    connect(&m_errorHangUpTimer, &QTimer::timeout, this, &IKEv2Manager::DoDisconnect);
    connect(&m_failureTimer, &QTimer::timeout, this, &IKEv2Manager::Disconnected);

    QMutexLocker lock(&s_currentManagerLock);
    s_currentManager = this;
}

IKEv2Manager::~IKEv2Manager()
{
    {
        // No notification reaches this object from here on.
        QMutexLocker lock(&s_currentManagerLock);
        if (s_currentManager == this)
            s_currentManager = nullptr;
    }
    Disconnect();
}

void IKEv2Manager::SetCredentials(const QString &newUserName, const QString &newPassword)
{
    m_userName = newUserName;
    m_password = newPassword;
}

void IKEv2Manager::Connect(const QString &newServerAddress, int newProtocol)
{
    // A failure report still pending from an earlier attempt must not land on this one.
    m_failureTimer.stop();
    serverAvailable = true;
    connectionAvailable = true;
    m_serverAddress = newServerAddress;
    m_protocol = newProtocol;
    emit Connecting();
    DoConnect();
}

void IKEv2Manager::Disconnect()
{
    qDebug().noquote() << QStringLiteral("Disconnecting from %1 server.").arg(protocolName());
    DoDisconnect();
}

void IKEv2Manager::DisconnectOnExit()
{
    qDebug().noquote() << QStringLiteral("Disconnecting from %1 on exit...").arg(protocolName());
    DoDisconnect();
}

void IKEv2Manager::DeleteEntry()
{
    const quint32 result = m_ras->deleteEntry(m_entryName);
    if (result == Ras::Success)
        qDebug() << "IKEv2 connection deleted successfully.";
    else
        qDebug().noquote() << QStringLiteral("Error while deleting IKEv2 connection: %1").arg(result);
}

void IKEv2Manager::DoConnect()
{
    if (m_ras->validateEntryName(m_entryName) != Ras::ErrorAlreadyExists) {
        qDebug() << "IKEv2 Connection not exists. Creating...";
        if (!createEntry()) {
            connectionAvailable = false;
            reportFailureLater();
            return;
        }
    } else {
        qDebug().noquote() << QStringLiteral("%1 connection exists. Connecting...").arg(protocolName());
    }

    if (!setupEntry()) {
        connectionAvailable = false;
        reportFailureLater();
        return;
    }

    RasDialParams params;
    params.entryName = m_entryName;
    params.userName = m_userName;
    params.password = m_password;
    m_connectionHandle = 0;
    m_dialActive = true;
    const quint32 result = m_ras->dial(params, &IKEv2Manager::onRasNotification, &m_connectionHandle);
    if (result == Ras::Success) {
        qDebug().noquote() << QStringLiteral("%1 connection started...").arg(protocolName());
        emit CanCancelConnecting();
    } else {
        m_dialActive = false;
        QString text;
        if (m_ras->getErrorString(result, 256, &text) == Ras::Success)
            qDebug().noquote() << QStringLiteral("Connection failed with error %1: %2").arg(result).arg(text);
        else
            qDebug().noquote() << QStringLiteral("Connection failed with error : %1").arg(result);
        connectionAvailable = false;
        reportFailureLater();
    }
    qDebug() << "Cleaning memory...";
    params = RasDialParams();
}

bool IKEv2Manager::createEntry()
{
    RasEntry entry;
    entry.options = EntryOptions;
    entry.netProtocols = NetProtocolIp;
    entry.framingProtocol = FramingPpp;
    entry.deviceType = QStringLiteral("vpn");
    entry.deviceName = QStringLiteral("TovraVpn");
    entry.dialMode = DialAll;
    entry.type = EntryTypeVpn;
    entry.encryptionType = EncryptionRequire;
    entry.vpnStrategy = StrategyIkev2Only;
    entry.options2 = DontNegotiateMultilink;
    entry.redialCount = 0;
    entry.redialPause = DefaultRedialPause;

    qDebug() << "Creating IKEv2 connection...";
    const quint32 result = m_ras->setEntryProperties(m_entryName, entry);
    qDebug() << "Cleaning memory...";
    entry = RasEntry();
    qDebug().noquote() << QStringLiteral("IKEv2 connection result: %1").arg(creationResultText(result));

    // Stored with the entry for every protocol; only L2TP uses it.
    setPreSharedKey();
    return result == Ras::Success;
}

bool IKEv2Manager::setPreSharedKey()
{
    RasCredentials credentials;
    credentials.mask = CredentialPreSharedKey;
    credentials.password = QString::fromLatin1(TovraConstants::L2tpPreSharedKey);

    qDebug() << "Setting pre-shared key...";
    const quint32 result = m_ras->setCredentials(m_entryName, credentials, false);
    qDebug() << "Cleaning memory...";
    credentials = RasCredentials();
    qDebug().noquote() << QStringLiteral("L2TP / IPSec Pre-Shared Key Result: %1").arg(preSharedKeyResultText(result));
    return result == Ras::Success;
}

bool IKEv2Manager::setupEntry()
{
    const QString name = protocolName();
    qDebug().noquote() << QStringLiteral("Setup %1 connection...").arg(name);
    qDebug().noquote() << QStringLiteral("Getting current %1 connection settings...").arg(name);

    RasEntry entry;
    bool ok = false;
    const quint32 readResult = m_ras->getEntryProperties(m_entryName, &entry);
    if (readResult != Ras::Success) {
        qDebug().noquote() << QStringLiteral("Error occurred while reading current settings: %1").arg(readResult);
    } else {
        switch (m_protocol) {
        case IKEv2:
            entry.vpnStrategy = StrategyIkev2Only;
            entry.options2 = DontNegotiateMultilink;
            break;
        case L2TP:
            entry.vpnStrategy = StrategyL2tpOnly;
            entry.options2 = DontNegotiateMultilink | UsePreSharedKey;
            break;
        case PPTP:
            entry.vpnStrategy = StrategyPptpOnly;
            entry.options2 = DontNegotiateMultilink;
            break;
        default:
            break;
        }
        entry.localPhoneNumber = m_serverAddress;
        qDebug().noquote() << QStringLiteral("Setting selected server address: ") + m_serverAddress;

        const quint32 writeResult = m_ras->setEntryProperties(m_entryName, entry);
        if (writeResult == Ras::Success)
            qDebug() << "Settings successfully set";
        else
            qDebug().noquote() << QStringLiteral("Error occurred while setting selected server: %1").arg(writeResult);
        ok = writeResult == Ras::Success;
    }
    qDebug() << "Cleaning memory...";
    entry = RasEntry();
    return ok;
}

void IKEv2Manager::reportFailureLater()
{
    m_failureTimer.start(m_timings.failureReportDelay);
}

void IKEv2Manager::onRasNotification(RasHandle, quint32, quint32 state, quint32 error, quint32 extendedError)
{
    QMutexLocker lock(&s_currentManagerLock);
    IKEv2Manager *manager = s_currentManager;

    if (error != 0) {
        QString text;
        if (manager && manager->m_ras->getErrorString(error, 1024, &text) == Ras::Success)
            qDebug().noquote() << QStringLiteral("Error occured. Code %1: %2").arg(error).arg(text);
        else
            qDebug().noquote() << QStringLiteral("Error occured. Code : %1").arg(error);
        if (manager)
            emit manager->IKEv2ErrorOccurred();
    }

    if (const char *text = extendedErrorText(extendedError))
        qDebug() << text;

    if (const char *text = stateText(state)) {
        qDebug() << text;
        if (state == Ras::StateConnected && manager)
            emit manager->IKEv2Connected();
    }
}

void IKEv2Manager::OnIKEv2Connected()
{
    if (!m_dialActive) {
        qDebug() << "Ignoring a connected report of a dial that has been hung up.";
        return;
    }
    emit Connected();
    qDebug() << "Starting regular check of connection state";
    m_statusTimer.setInterval(m_timings.statusCheckInterval);
    m_statusTimer.start();
}

void IKEv2Manager::OnIKEv2ErrorOccurred()
{
    if (!m_dialActive) {
        qDebug() << "Ignoring an error report of a dial that has been hung up.";
        return;
    }
    serverAvailable = false;
    // One hang-up however many errors the dial reports.
    if (!m_errorHangUpTimer.isActive())
        m_errorHangUpTimer.start(m_timings.errorHangUpDelay);
}

void IKEv2Manager::CheckConnectionStatus()
{
    RasConnStatus status;
    const quint32 result = m_ras->getConnectStatus(m_connectionHandle, &status);
    if (result == Ras::ErrorInvalidHandle) {
        qDebug().noquote()
            << QStringLiteral("Regular check result: invalid handle. %1 connection is broken").arg(protocolName());
        m_statusTimer.stop();
        emit Disconnected();
    } else if (result == Ras::Success && status.state == Ras::StateDisconnected) {
        qDebug().noquote() << QStringLiteral("Regular check result: %1 disconnected").arg(protocolName());
        m_statusTimer.stop();
        emit Disconnected();
    }
}

void IKEv2Manager::DoDisconnect()
{
    // The wait below dispatches messages, so a second disconnect can arrive while it runs; the running one
    // finishes the job and reports it.
    if (m_hangUpRunning) {
        qDebug() << "Disconnect already in progress.";
        return;
    }
    m_hangUpRunning = true;
    m_dialActive = false;
    m_statusTimer.stop();
    // This hang-up replaces any that is still pending, as does its Disconnected() any pending failure report.
    m_errorHangUpTimer.stop();
    m_failureTimer.stop();

    const RasHandle handle = m_connectionHandle;
    m_ras->hangUp(handle);

    QElapsedTimer waited;
    waited.start();
    for (;;) {
        m_ras->dispatchMessages();
        RasConnStatus status;
        if (m_ras->getConnectStatus(handle, &status) == Ras::ErrorInvalidHandle)
            break;
        if (waited.elapsed() >= m_timings.hangUpWaitLimit) {
            qDebug().noquote() << QStringLiteral("%1 connection still open %2 s after hang-up, not waiting longer.")
                                      .arg(protocolName())
                                      .arg(m_timings.hangUpWaitLimit / 1000.0);
            break;
        }
        QThread::msleep(static_cast<unsigned long>(m_timings.hangUpPollPause));
    }

    m_hangUpRunning = false;
    qDebug().noquote() << QStringLiteral("%1 disconnected.").arg(protocolName());
    emit Disconnected();
}

QString IKEv2Manager::protocolName() const
{
    return ProtocolToString(m_protocol);
}
