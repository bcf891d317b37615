#include "guard/tovraservicemanager.h"

#include "common/servicecontroller.h"
#include "common/socketowner.h"

#include <QDebug>
#include <QEventLoop>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpSocket>

namespace {

const QLatin1String ServiceName("TovraVPNService");

struct Reply
{
    const char *text;
    const char *logLine;
    void (TovraServiceManager::*answer)(bool);
    bool result;
};

// Classified by the first of these that the reply contains.
const Reply Replies[] = {
    {"SRV SUCCESS GUARD SERVER", "SRV SUCCESS GUARD SERVER response received",
     &TovraServiceManager::srvTaskGuardServerFinished, true},
    {"SRV ERROR GUARD SERVER", "SRV ERROR GUARD SERVER response received",
     &TovraServiceManager::srvTaskGuardServerFinished, false},
    {"SRV SUCCESS GUARD STATUS", "SRV SUCCESS GUARD STATUS response received",
     &TovraServiceManager::srvTaskGuardStatusFinished, true},
    {"SRV ERROR GUARD STATUS", "SRV ERROR GUARD STATUS response received",
     &TovraServiceManager::srvTaskGuardStatusFinished, false},
    {"SRV SUCCESS VPN DNS", "SRV SUCCESS VPN DNS response received", &TovraServiceManager::srvTaskVpnDnsFinished, true},
    {"SRV ERROR VPN DNS", "SRV ERROR VPN DNS response received", &TovraServiceManager::srvTaskVpnDnsFinished, false},
    {"SRV SUCCESS INFO", "SRV SUCCESS INFO response received", &TovraServiceManager::srvTaskCheckFinished, true},
    {"SRV ERROR INFO", "SRV ERROR INFO response received", &TovraServiceManager::srvTaskCheckFinished, false},
    {"SRV SUCCESS DELETE", "SRV SUCCESS DELETE response received", &TovraServiceManager::srvTaskDeleteFinished, true},
    {"SRV ERROR DELETE", "SRV ERROR DELETE response received", &TovraServiceManager::srvTaskDeleteFinished, false},
    {"SRV SUCCESS RESTORE", "SRV SUCCESS RESTORE response received", &TovraServiceManager::srvTaskRestoreFinished,
     true},
    {"SRV ERROR RESTORE", "SRV ERROR RESTORE response received", &TovraServiceManager::srvTaskRestoreFinished, false},
    {"SRV SUCCESS DNS ADD", "SRV SUCCESS DNS ADD response received", &TovraServiceManager::srvTaskAddFiltersFinished,
     true},
    {"SRV ERROR DNS ADD", "SRV ERROR DNS ADD response received", &TovraServiceManager::srvTaskAddFiltersFinished,
     false},
    {"SRV SUCCESS DNS REMOVE", "SRV SUCCESS DNS REMOVE response received",
     &TovraServiceManager::srvTaskRmvFiltersFinished, true},
    {"SRV ERROR DNS REMOVE", "SRV ERROR DNS REMOVE response received", &TovraServiceManager::srvTaskRmvFiltersFinished,
     false},
    {"SRV SUCCESS OVPN CONFIG", "SRV SUCCESS OVPN CONFIG response received",
     &TovraServiceManager::srvTaskOvpnConfigFinished, true},
    {"SRV ERROR OVPN CONFIG", "SRV ERROR OVPN CONFIG response received",
     &TovraServiceManager::srvTaskOvpnConfigFinished, false},
};

// The helper reads lines of at most this many bytes for the configuration's command.
constexpr int MaxConfigCommandBytes = 64 * 1024;

// The bytes as the debug stream prints them: quoted, with escapes.
QString printable(const QByteArray &bytes)
{
    QString text;
    QDebug(&text).nospace() << bytes;
    return text;
}

// At most this many DNS servers go in one VPN_DNS line, which the service caps at 1 KiB.
constexpr int MaxDnsServers = 8;

// An IPv4 or IPv6 address literal, as the service takes it.
bool isAddressLiteral(const QString &text)
{
    QHostAddress address;
    return !text.contains(QLatin1Char('%')) && address.setAddress(text) &&
           (address.protocol() == QAbstractSocket::IPv4Protocol || address.protocol() == QAbstractSocket::IPv6Protocol);
}

} // namespace

TovraServiceManager::TovraServiceManager(QObject *parent)
    : TovraServiceManager(std::make_unique<ServiceController>(ServiceName), parent)
{}

TovraServiceManager::TovraServiceManager(std::unique_ptr<ServiceController> controller, QObject *parent)
    : QObject(parent), m_controller(std::move(controller)), m_socket(std::make_unique<QTcpSocket>())
{
    connect(m_socket.get(), &QTcpSocket::readyRead, this, &TovraServiceManager::ReadMessageFromService);
    connect(m_socket.get(), &QTcpSocket::errorOccurred, this, &TovraServiceManager::DisplayError);
    connect(&m_pollTimer, &QTimer::timeout, this, &TovraServiceManager::CheckServiceStatus);
}

TovraServiceManager::~TovraServiceManager()
{
    m_socket->disconnect(this);
    m_socket->abort();
}

bool TovraServiceManager::StartService()
{
    if (!m_controller->isInstalled()) {
        qDebug() << "TovraVPNService error: service not installed.";
        return false;
    }
    if (m_controller->isRunning()) {
        qDebug() << "TovraVPNService is already running. Trying to stop it.";
        StopService();
    }
    return startAndWait();
}

bool TovraServiceManager::EnsureServiceRunning()
{
    if (!m_controller->isInstalled()) {
        qDebug() << "TovraVPNService error: service not installed.";
        return false;
    }
    return m_controller->isRunning() || startAndWait();
}

bool TovraServiceManager::startAndWait()
{
    if (!m_controller->start()) {
        qDebug() << "TovraVPNService error: service can't be started.";
        return false;
    }

    qDebug() << "Starting TovraVPNService...";
    m_serviceStarted = false;
    m_pollCount = 0;
    QEventLoop loop;
    connect(this, &TovraServiceManager::srvStatusTimerFinished, &loop, &QEventLoop::quit);
    m_pollTimer.start(m_timings.pollIntervalMs);
    loop.exec();

    if (!m_serviceStarted) {
        qDebug() << "TovraVPNService error: service can't be started.";
        return false;
    }
    qDebug() << "TovraVPNService started successfully.";
    return true;
}

void TovraServiceManager::CheckServiceStatus()
{
    ++m_pollCount;
    if (m_controller->isRunning()) {
        m_pollTimer.stop();
        m_serviceStarted = true;
        emit srvStatusTimerFinished();
    } else if (m_pollCount >= m_timings.pollChecks) {
        m_pollTimer.stop();
        m_serviceStarted = false;
        emit srvStatusTimerFinished();
    } else {
        qDebug() << "TovraVPNService still not running, next check in 1 sec.";
    }
}

void TovraServiceManager::StopService()
{
    if (!m_controller->isRunning()) {
        qDebug() << "TovraVPNService is not running. No need to stop it.";
        return;
    }
    qDebug() << "TovraVPNService is running. Trying to stop it.";
    const bool stopped = m_controller->stop();
    qDebug().noquote() << QStringLiteral("Result of stopping TovraVPNService: ") +
                              QLatin1String(stopped ? "true" : "false");
}

void TovraServiceManager::CheckGateway()
{
    runTask(QStringLiteral("INFO"), &TovraServiceManager::srvTaskCheckFinished);
}

void TovraServiceManager::DeleteGateway()
{
    runTask(QStringLiteral("DELETE"), &TovraServiceManager::srvTaskDeleteFinished);
}

void TovraServiceManager::RestoreGateway()
{
    runTask(QStringLiteral("RESTORE"), &TovraServiceManager::srvTaskRestoreFinished);
}

void TovraServiceManager::AddDnsFilters()
{
    runTask(QStringLiteral("ADD_DNS_FILTERS"), &TovraServiceManager::srvTaskAddFiltersFinished);
}

void TovraServiceManager::RemoveDnsFilters()
{
    runTask(QStringLiteral("REMOVE_DNS_FILTERS"), &TovraServiceManager::srvTaskRmvFiltersFinished);
}

void TovraServiceManager::GuardServer(const QString &address, const QString &transport, quint16 port,
                                      const QString &device)
{
    static const QRegularExpression deviceName(QStringLiteral("^[A-Za-z0-9_.-]{1,15}$"));
    if (!isAddressLiteral(address) || (transport != QLatin1String("udp") && transport != QLatin1String("tcp")) ||
        port == 0 || (!device.isEmpty() && !deviceName.match(device).hasMatch())) {
        qDebug().noquote() << QStringLiteral("VPN server not admitted, unusable address or device: ") + address +
                                  QLatin1Char(' ') + device;
        m_lastEnd = TaskEnd::NotSent;
        emit srvTaskGuardServerFinished(false);
        return;
    }
    QString command = QStringLiteral("GUARD_SERVER %1 %2 %3").arg(address, transport).arg(port);
    if (!device.isEmpty())
        command += QLatin1Char(' ') + device;
    runTask(command, &TovraServiceManager::srvTaskGuardServerFinished);
}

void TovraServiceManager::GuardStatus()
{
    runTask(QStringLiteral("GUARD_STATUS"), &TovraServiceManager::srvTaskGuardStatusFinished);
}

void TovraServiceManager::VpnDns(const QStringList &servers)
{
    QStringList usable;
    for (const QString &server : servers) {
        if (isAddressLiteral(server) && !usable.contains(server) && usable.size() < MaxDnsServers)
            usable << server;
    }
    if (usable.isEmpty()) {
        qDebug() << "No usable VPN DNS server to pass on.";
        m_lastEnd = TaskEnd::NotSent;
        emit srvTaskVpnDnsFinished(false);
        return;
    }
    runTask(QStringLiteral("VPN_DNS ") + usable.join(QLatin1Char(' ')), &TovraServiceManager::srvTaskVpnDnsFinished);
}

bool TovraServiceManager::ConnectToService()
{
    qDebug() << "Connecting to TovraVPNService.";
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
    m_socket->connectToHost(QStringLiteral("127.0.0.1"), ServicePort, QIODevice::ReadWrite,
                            QAbstractSocket::AnyIPProtocol);
    return m_socket->waitForConnected(m_timings.connectTimeoutMs);
}

void TovraServiceManager::DisconnectFromService()
{
    qDebug() << "Disconnecting from TovraVPNService.";
    m_socket->disconnectFromHost();
}

void TovraServiceManager::WriteOpenVpnConfig(const QByteArray &config, const QByteArray &managementPassword)
{
    const QByteArray command = "OVPN_CONFIG " + config.toBase64() + ' ' + managementPassword.toBase64() + '\n';
    if (command.size() > MaxConfigCommandBytes) {
        qDebug() << "The OpenVPN configuration is too long for TovraVPNService.";
        emit srvTaskOvpnConfigFinished(false);
        return;
    }
    // The management password stays out of the log.
    runTask({command, &TovraServiceManager::srvTaskOvpnConfigFinished,
             QStringLiteral("OVPN_CONFIG (%1 bytes)").arg(command.size())});
}

void TovraServiceManager::runTask(const QString &command, AnswerSignal answer)
{
    const QByteArray bytes = command.toUtf8() + '\n';
    runTask({bytes, answer, printable(bytes)});
}

void TovraServiceManager::runTask(const Task &task)
{
    m_tasks.enqueue(task);
    // A task asked for from within another one's wait runs when that one has its answer.
    if (m_runningTasks)
        return;
    m_runningTasks = true;
    while (!m_tasks.isEmpty())
        runOneTask(m_tasks.dequeue());
    m_runningTasks = false;
}

void TovraServiceManager::runOneTask(const Task &task)
{
    const AnswerSignal answer = task.answer;
    m_lastReply.clear();
    if (!ConnectToService()) {
        qDebug() << "Connection to TovraVPNService failed.";
        m_lastEnd = TaskEnd::NotSent;
        m_socket->abort();
        emit(this->*answer)(false);
        return;
    }
    qDebug() << "Connection to TovraVPNService successful.";

    qDebug().noquote() << QStringLiteral("Sending command: ") + task.logText;

    // Without a reply the task still ends, with false: when the service goes away, on a socket error,
    // and at the latest after the task timeout.
    QEventLoop loop;
    bool answered = false;
    auto giveUp = [this, &loop, &answered, answer](const char *why) {
        if (answered)
            return;
        answered = true;
        qDebug().noquote() << QStringLiteral("No reply from TovraVPNService: ") + QLatin1String(why);
        m_lastEnd = TaskEnd::NoReply;
        m_socket->abort();
        emit(this->*answer)(false);
        loop.quit();
    };
    QTimer timeout;
    timeout.setSingleShot(true);
    const QMetaObject::Connection finished = connect(this, &TovraServiceManager::srvTaskFinished, &loop, [&] {
        answered = true;
        loop.quit();
    });
    const QMetaObject::Connection closed =
        connect(m_socket.get(), &QTcpSocket::disconnected, &loop, [&] { giveUp("connection closed"); });
    const QMetaObject::Connection failed =
        connect(m_socket.get(), &QTcpSocket::errorOccurred, &loop, [&](QAbstractSocket::SocketError error) {
            giveUp(error == QAbstractSocket::RemoteHostClosedError ? "connection closed" : "socket error");
        });
    connect(&timeout, &QTimer::timeout, &loop, [&] { giveUp("timed out"); });

    m_currentAnswer = answer;
    m_socket->write(task.command);
    timeout.start(m_timings.taskTimeoutMs);
    loop.exec();
    m_currentAnswer = nullptr;

    disconnect(finished);
    disconnect(closed);
    disconnect(failed);
}

void TovraServiceManager::ReadMessageFromService()
{
    const QByteArray bytes = m_socket->readAll();
    const int nul = bytes.indexOf('\0');
    const QString text = QString::fromLatin1(nul < 0 ? bytes : bytes.left(nul));
    qDebug().noquote() << QStringLiteral("TovraVPNService message received: ") + text;

    // A program that took the port before the helper must not report a kill switch that is not there.
    QString reason;
    const bool trusted = SocketOwner::peerHeldBy(*m_socket, m_controller->processId(), &reason);
    const AnswerSignal answer = m_currentAnswer;
    emit srvTaskFinished();
    m_lastEnd = trusted ? TaskEnd::Replied : TaskEnd::NotSent;
    if (!trusted) {
        qDebug().noquote() << QStringLiteral("Reply not from TovraVPNService ignored: ") + reason + QLatin1Char('.');
        if (answer)
            emit(this->*answer)(false);
        DisconnectFromService();
        return;
    }

    const Reply *match = nullptr;
    for (const Reply &reply : Replies) {
        if (text.contains(QLatin1String(reply.text))) {
            match = &reply;
            break;
        }
    }
    if (match) {
        qDebug() << match->logLine;
        m_lastReply = text;
        bool result = match->result;
        if (match->answer == &TovraServiceManager::srvTaskGuardStatusFinished && result) {
            // Only the two words the service answers tell the state; anything else leaves it unknown.
            m_guardBlocking = text.contains(QLatin1String("GUARD STATUS: blocking"));
            result = m_guardBlocking || text.contains(QLatin1String("GUARD STATUS: open"));
        }
        emit(this->*match->answer)(result);
    } else {
        qDebug() << "Unknown TovraVPNService response received";
    }

    DisconnectFromService();
}

void TovraServiceManager::DisplayError(QAbstractSocket::SocketError socketError)
{
    switch (socketError) {
    case QAbstractSocket::RemoteHostClosedError:
        qDebug() << "Remote host closed socket.";
        break;
    case QAbstractSocket::HostNotFoundError:
        qDebug() << "The host was not found. Please check the "
                    "host name and port settings.";
        break;
    case QAbstractSocket::ConnectionRefusedError:
        qDebug() << "The connection was refused by the peer. Make sure the TovraVPNService is running, and check "
                    "that the host name and port settings are correct.";
        break;
    default:
        qDebug().noquote() << QStringLiteral("The following error occurred: %1.").arg(m_socket->errorString());
        break;
    }
}
