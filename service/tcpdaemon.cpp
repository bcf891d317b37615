#include "service/tcpdaemon.h"

#include "service/killswitch.h"
#include "service/openvpnconfigfile.h"
#include "service/routetable.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTextStream>
#include <QTimer>

#include <algorithm>

namespace {

std::unique_ptr<ToolRunner> MakeToolRunner(const TcpDaemon::Settings &settings)
{
    auto runner = std::make_unique<ToolRunner>();
    runner->setToolDirs(settings.extraToolDirs + runner->toolDirs());
    return runner;
}

TcpDaemon::Settings WithCallerGroup(TcpDaemon::Settings settings)
{
    if (settings.callerGroup.isEmpty())
        settings.callerGroup = SocketOwner::serviceUsersGroup();
    return settings;
}

std::unique_ptr<GatewayStateFile> MakeStateFile(const QString &dir)
{
    return dir.isEmpty() ? nullptr : std::make_unique<GatewayStateFile>(dir);
}

} // namespace

TcpDaemon::TcpDaemon(const Settings &settings, QObject *parent)
    : QTcpServer(parent), m_tools(MakeToolRunner(settings)),
      m_killSwitch(std::make_unique<KillSwitch>(
          CreateSystemRouteTool(*m_tools), CreateSystemFirewallBlock(*m_tools), CreateSystemRouteWatcher(),
          MakeStateFile(settings.stateDir.isEmpty() ? DefaultStateDir() : settings.stateDir))),
      m_filters(CreateSystemFilterEngine(*m_tools)), dnsFilter(*m_filters),
      m_stateDir(settings.stateDir.isEmpty() ? DefaultStateDir() : settings.stateDir),
      m_settings(WithCallerGroup(settings))
{
    connect(m_killSwitch.get(), &KillSwitch::log, this, &TcpDaemon::serviceLog);
}

TcpDaemon::TcpDaemon(std::unique_ptr<RouteTool> routeTool, std::unique_ptr<FilterEngine> filterEngine,
                     const Settings &settings, QObject *parent)
    : TcpDaemon(std::move(routeTool), std::move(filterEngine), nullptr, nullptr, settings, parent)
{}

TcpDaemon::TcpDaemon(std::unique_ptr<RouteTool> routeTool, std::unique_ptr<FilterEngine> filterEngine,
                     std::unique_ptr<FirewallBlock> block, std::unique_ptr<RouteWatcher> watcher,
                     const Settings &settings, QObject *parent)
    : QTcpServer(parent),
      m_killSwitch(std::make_unique<KillSwitch>(std::move(routeTool), std::move(block), std::move(watcher),
                                                MakeStateFile(settings.stateDir))),
      m_filters(std::move(filterEngine)), dnsFilter(*m_filters), m_stateDir(settings.stateDir),
      m_settings(WithCallerGroup(settings))
{
    connect(m_killSwitch.get(), &KillSwitch::log, this, &TcpDaemon::serviceLog);
}

TcpDaemon::~TcpDaemon() = default;

void TcpDaemon::removeLeftoverFilters()
{
    m_filters->removeLeftovers();
}

void TcpDaemon::removeFilters()
{
    if (dnsFilter.filtersInForce())
        dnsFilter.removeFilters();
    if (dnsFilter.hasFailedRemovals()) {
        const quint32 result = dnsFilter.retryFailedRemovals();
        emit serviceLog(result == 0
                            ? QStringLiteral("DNS filters removed at service stop")
                            : QStringLiteral("DNS filters could not be removed at service stop: %1").arg(result));
    }
}

bool TcpDaemon::loadGatewayState()
{
    if (!m_killSwitch->load())
        return false;
    savedGateway = m_killSwitch->state().gateway;
    savedGatewayEntry = m_killSwitch->state().entry;
    emit serviceLog(QStringLiteral("Saved default gateway loaded: ") + savedGateway);
    return true;
}

void TcpDaemon::resumeKillSwitch()
{
    m_killSwitch->resume();
}

QString TcpDaemon::stateFilePath() const
{
    return m_killSwitch->stateFilePath();
}

void TcpDaemon::incomingConnection(qintptr socketDescriptor)
{
    auto *socket = new QTcpSocket(this);
    socket->setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite);
    // Known before anything is read: the caller's uid (pid) decides its share of the slots and its commands.
    const SocketOwner::Caller caller = disabled ? SocketOwner::Caller() : callerOf(*socket);
    const QString refusal = disabled ? QString() : connectionRefusal(caller);
    if (disabled || !refusal.isEmpty()) {
        // Not served while paused or when full; closed rather than left open with nobody to read it.
        socket->abort();
        socket->deleteLater();
        if (!disabled)
            emit serviceLog(refusal);
        return;
    }
    m_clients.insert(socket, Client{caller, false});
    connect(socket, &QObject::destroyed, this, [this, socket] { m_clients.remove(socket); });
    connect(socket, &QTcpSocket::readyRead, this, &TcpDaemon::readClient);
    connect(socket, &QTcpSocket::disconnected, this, &TcpDaemon::discardClient);
    // Bounds what a client can make the root process hold.
    socket->setReadBufferSize(std::max(m_limits.maxLineBytes, m_limits.maxConfigLineBytes));
    // Counted from accept, and once more from the answer: no command extends a connection's life.
    auto *idle = new QTimer(socket);
    idle->setObjectName(QStringLiteral("idle"));
    idle->setSingleShot(true);
    connect(idle, &QTimer::timeout, this, [this, socket, idle] {
        if (disabled)
            idle->start(m_limits.idleTimeoutMs);
        else if (m_clients.value(socket).answered)
            closeClient(
                socket,
                QStringLiteral("Connection closed: not ended within %1 ms of its answer").arg(m_limits.idleTimeoutMs));
        else
            closeClient(
                socket,
                QStringLiteral("Connection closed: no complete command within %1 ms").arg(m_limits.idleTimeoutMs));
    });
    idle->start(m_limits.idleTimeoutMs);
    emit serviceLog(QStringLiteral("New Connection"));
}

SocketOwner::Caller TcpDaemon::callerOf(const QAbstractSocket &socket) const
{
    return SocketOwner::peerCaller(socket, m_settings.callerGroup);
}

QString TcpDaemon::connectionRefusal(const SocketOwner::Caller &caller) const
{
    if (m_clients.size() >= m_limits.maxConnections)
        return QStringLiteral("Connection refused: %1 connections are open").arg(m_limits.maxConnections);
    // Callers that may not command the service share one caller's share, whoever they are.
    int held = 0;
    for (const Client &client : m_clients)
        held += client.caller.permitted == caller.permitted && (!caller.permitted || client.caller.id == caller.id);
    if (held < m_limits.maxPerCaller)
        return QString();
    return caller.permitted ? QStringLiteral("Connection refused: %1 holds %2 connections").arg(caller.name).arg(held)
                            : QStringLiteral("Connection refused: callers not permitted hold %1 connections (%2)")
                                  .arg(held)
                                  .arg(caller.name);
}

void TcpDaemon::closeClient(QTcpSocket *socket, const QString &reason)
{
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
    emit serviceLog(reason);
}

void TcpDaemon::readClient()
{
    if (disabled)
        return;
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (!socket || !m_clients.contains(socket))
        return;
    const Client client = m_clients.value(socket);
    // One command per connection: whatever follows the answered one is dropped unread.
    if (client.answered) {
        socket->readAll();
        return;
    }
    // The configuration's command has a cap of its own; every other command keeps the short one.
    const QByteArray configWord = QByteArray(OpenVpnConfigFile::Command) + ' ';
    const bool config = socket->peek(configWord.size()) == configWord;
    const int cap = config ? m_limits.maxConfigLineBytes : m_limits.maxLineBytes;
    if (socket->peek(cap).indexOf('\n') < 0) {
        if (socket->bytesAvailable() >= cap)
            closeClient(socket, QStringLiteral("Connection closed: command line longer than %1 bytes").arg(cap));
        return;
    }

    const QByteArray bytes = socket->readAll();
    const QStringList words = ToolText(bytes).trimmed().split(QLatin1Char(' '));
    const QString &word = words.first();
    QString reply;
    if (!client.caller.permitted)
        reply = refusedCommand(word, client.caller);
    else if (config)
        reply = writeOpenVpnConfig(bytes.left(bytes.indexOf('\n')).trimmed());
    else
        reply = runCommand(word, words.mid(1));
    if (reply.isNull())
        return;
    answer(socket, reply);
}

QString TcpDaemon::refusedCommand(const QString &word, const SocketOwner::Caller &caller)
{
    static const QHash<QString, QString> tags{{QStringLiteral("ADD_DNS_FILTERS"), QStringLiteral("DNS ADD")},
                                              {QStringLiteral("REMOVE_DNS_FILTERS"), QStringLiteral("DNS REMOVE")},
                                              {QStringLiteral("INFO"), QStringLiteral("INFO")},
                                              {QStringLiteral("DELETE"), QStringLiteral("DELETE")},
                                              {QStringLiteral("RESTORE"), QStringLiteral("RESTORE")},
                                              {QStringLiteral("OVPN_CONFIG"), QStringLiteral("OVPN CONFIG")},
                                              {QStringLiteral("GUARD_SERVER"), QStringLiteral("GUARD SERVER")},
                                              {QStringLiteral("GUARD_STATUS"), QStringLiteral("GUARD STATUS")},
                                              {QStringLiteral("VPN_DNS"), QStringLiteral("VPN DNS")}};
    const QString tag = tags.value(word);
    if (tag.isNull())
        return QString();
    emit serviceLog(QStringLiteral("Command %1 refused: %2").arg(word, caller.reason));
    return QStringLiteral("SRV ERROR ") + tag + QStringLiteral(": Caller not permitted");
}

void TcpDaemon::answer(QTcpSocket *socket, const QString &reply)
{
    m_clients[socket].answered = true;
    if (auto *idle = socket->findChild<QTimer *>(QStringLiteral("idle")))
        idle->start(m_limits.idleTimeoutMs);

    QTextStream stream(socket);
    stream.setCodec("ISO-8859-1");
    stream << reply;
    stream.flush();
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    // The peer sees the end of the answer; it closes, and the descriptor goes with its "disconnected".
    const auto endSending = [socket] {
        if (socket->bytesToWrite() == 0)
            SocketOwner::shutdownSending(*socket);
    };
    socket->flush();
    if (socket->bytesToWrite() == 0)
        endSending();
    else
        connect(socket, &QTcpSocket::bytesWritten, socket, endSending);
}

QString TcpDaemon::runCommand(const QString &word, const QStringList &arguments)
{
    // One command's tools together stay within the client's wait for the answer.
    if (m_tools)
        m_tools->beginCommand();
    QString reply;
    if (word == QLatin1String("ADD_DNS_FILTERS"))
        reply = addDnsFilters();
    else if (word == QLatin1String("REMOVE_DNS_FILTERS"))
        reply = removeDnsFilters();
    else if (word == QLatin1String("INFO"))
        reply = info();
    else if (word == QLatin1String("DELETE"))
        reply = deleteGateway();
    else if (word == QLatin1String("RESTORE"))
        reply = restoreGateway();
    else if (word == QLatin1String("GUARD_SERVER"))
        reply = guardServer(arguments);
    else if (word == QLatin1String("GUARD_STATUS"))
        reply = guardStatus();
    else if (word == QLatin1String("VPN_DNS"))
        reply = vpnDns(arguments);
    if (m_tools)
        m_tools->endCommand();
    return reply;
}

void TcpDaemon::discardClient()
{
    if (QObject *socket = sender())
        socket->deleteLater();
}

QString TcpDaemon::writeOpenVpnConfig(const QByteArray &line)
{
    QString log;
    const QString reply = OpenVpnConfigFile(m_stateDir).run(line, &log);
    emit serviceLog(log);
    return reply;
}

bool TcpDaemon::readTable(QStringList *lines)
{
    if (m_killSwitch->routes().readRouteTable(lines))
        return true;
    m_tableUnreadable = true;
    return false;
}

bool TcpDaemon::getDefaultGateway()
{
    QStringList lines;
    if (!readTable(&lines))
        return false;
    const int index = RouteTable::findDefaultRoute(lines);
    if (index < 0)
        return false;
    savedGateway = RouteTable::fields(lines.at(index)).at(2);
    savedGatewayEntry = lines.at(index);
    return true;
}

bool TcpDaemon::isSavedGatewayExists()
{
    QStringList lines;
    if (!readTable(&lines))
        return false;
    const int index = RouteTable::findDefaultRouteVia(lines, savedGateway);
    if (index >= 0) {
        savedGatewayEntry = lines.at(index);
        return true;
    }
    // An IPv6 gateway, or one of another table, is not in the IPv4 table's lines.
    QList<DefaultRoute> routes;
    if (savedGateway.isEmpty() || !m_killSwitch->routes().readDefaultRoutes(&routes))
        return false;
    for (const DefaultRoute &route : qAsConst(routes)) {
        if (route.gatewayText() == savedGateway) {
            savedGatewayEntry = route.toText();
            return true;
        }
    }
    return false;
}

QString TcpDaemon::addDnsFilters()
{
    if (dnsFilter.addFilters() == 0)
        return QStringLiteral("SRV SUCCESS DNS ADD: Wfp filters added");
    return QStringLiteral("SRV ERROR DNS ADD: ") + dnsFilter.lastError;
}

QString TcpDaemon::removeDnsFilters()
{
    dnsFilter.setVpnDnsServers({});
    if (dnsFilter.removeFilters() == 0)
        return QStringLiteral("SRV SUCCESS DNS REMOVE: Wfp filters removed");
    return QStringLiteral("SRV ERROR DNS REMOVE: ") + dnsFilter.lastError;
}

QString TcpDaemon::info()
{
    if (isSavedGatewayExists())
        return QStringLiteral("SRV SUCCESS INFO: Default gateway exists - ") + savedGateway;
    return QStringLiteral("SRV ERROR INFO: Default gateway (") + savedGateway + QStringLiteral(") not found");
}

QString TcpDaemon::deleteGateway()
{
    m_tableUnreadable = false;
    // The line the first IPv4 default route stands on, for the replies that name it.
    QStringList lines;
    readTable(&lines);
    QList<DefaultRoute> left;
    const bool tablesRead = m_killSwitch->takeDefaultRoutes(&left);
    if (m_killSwitch->state().routes.isEmpty()) {
        emit serviceLog(QStringLiteral("No default route to take away; the firewall block alone holds"));
        return QStringLiteral("SRV ERROR DELETE: Default gateway not found");
    }
    savedGateway = m_killSwitch->replyGateway();
    const int index = RouteTable::findDefaultRouteVia(lines, savedGateway);
    if (index >= 0) {
        savedGatewayEntry = lines.at(index);
        m_killSwitch->setEntry(savedGatewayEntry);
    }
    for (const DefaultRoute &route : qAsConst(left))
        emit serviceLog(QStringLiteral("Default route exists after removing: ") + route.toText());
    if (!tablesRead || !left.isEmpty() || m_tableUnreadable)
        return QStringLiteral("SRV ERROR DELETE: Default gateway (") + savedGateway +
               QStringLiteral(") exists after removing");
    return QStringLiteral("SRV SUCCESS DELETE: Default gateway removed - ") + savedGateway;
}

QString TcpDaemon::restoreGateway()
{
    m_tableUnreadable = false;
    const bool existed = isSavedGatewayExists();
    m_killSwitch->putBackRoutes();
    m_killSwitch->liftBlock();
    if (existed)
        return QStringLiteral("SRV ERROR RESTORE: Default gateway already exists - ") + savedGateway +
               QStringLiteral(" (Full entry: ") + savedGatewayEntry + QStringLiteral(")");
    if (isSavedGatewayExists())
        return QStringLiteral("SRV SUCCESS RESTORE: Default gateway restored - ") + savedGateway +
               QStringLiteral(" (Full entry: ") + savedGatewayEntry + QStringLiteral(")");
    return QStringLiteral("SRV ERROR RESTORE: Default gateway not found after restoring");
}

QString TcpDaemon::guardServer(const QStringList &arguments)
{
    GuardServer server;
    if (!GuardServer::fromWords(arguments, &server))
        return QStringLiteral("SRV ERROR GUARD SERVER: usage: GUARD_SERVER <ip> <udp|tcp> <port> [<device>]");
    QString error;
    if (!m_killSwitch->admitServer(server, &error))
        return QStringLiteral("SRV ERROR GUARD SERVER: block not changed: ") + error;
    emit serviceLog(QStringLiteral("Kill switch admits ") + server.toText());
    return QStringLiteral("SRV SUCCESS GUARD SERVER: admitted ") + server.toText();
}

QString TcpDaemon::guardStatus()
{
    QString error;
    switch (m_killSwitch->blockStatus(&error)) {
    case FirewallBlock::Status::Blocking:
        return QStringLiteral("SRV SUCCESS GUARD STATUS: blocking");
    case FirewallBlock::Status::Open:
        return QStringLiteral("SRV SUCCESS GUARD STATUS: open");
    case FirewallBlock::Status::Unknown:
        break;
    }
    return QStringLiteral("SRV ERROR GUARD STATUS: ") + error;
}

QString TcpDaemon::vpnDns(const QStringList &arguments)
{
    QList<QHostAddress> servers;
    for (const QString &word : arguments) {
        QHostAddress address;
        if (!ParseAddressLiteral(word, &address))
            return QStringLiteral("SRV ERROR VPN DNS: usage: VPN_DNS <ip> [<ip> ...]");
        servers << address;
    }
    if (servers.isEmpty() || servers.size() > 8)
        return QStringLiteral("SRV ERROR VPN DNS: usage: VPN_DNS <ip> [<ip> ...]");
    dnsFilter.setVpnDnsServers(servers);
    QStringList texts;
    for (const QHostAddress &address : qAsConst(servers))
        texts << address.toString();
    emit serviceLog(QStringLiteral("VPN DNS servers: ") + texts.join(QLatin1Char(' ')));
    return QStringLiteral("SRV SUCCESS VPN DNS: ") + texts.join(QLatin1Char(' '));
}
