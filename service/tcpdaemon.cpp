#include "service/tcpdaemon.h"

#include "service/openvpnconfigfile.h"
#include "service/routetable.h"

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
    : QTcpServer(parent), m_tools(MakeToolRunner(settings)), m_routes(CreateSystemRouteTool(*m_tools)),
      m_filters(CreateSystemFilterEngine(*m_tools)), dnsFilter(*m_filters),
      m_stateFile(MakeStateFile(settings.stateDir.isEmpty() ? DefaultStateDir() : settings.stateDir)),
      m_stateDir(settings.stateDir.isEmpty() ? DefaultStateDir() : settings.stateDir),
      m_settings(WithCallerGroup(settings))
{}

TcpDaemon::TcpDaemon(std::unique_ptr<RouteTool> routeTool, std::unique_ptr<FilterEngine> filterEngine,
                     const Settings &settings, QObject *parent)
    : QTcpServer(parent), m_routes(std::move(routeTool)), m_filters(std::move(filterEngine)), dnsFilter(*m_filters),
      m_stateFile(MakeStateFile(settings.stateDir)), m_stateDir(settings.stateDir),
      m_settings(WithCallerGroup(settings))
{}

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
    GatewayState state;
    if (!m_stateFile || !m_stateFile->load(&state))
        return false;
    savedGateway = state.gateway;
    savedGatewayEntry = state.entry;
    m_savedIpv6 = state.ipv6Routes;
    emit serviceLog(QStringLiteral("Saved default gateway loaded: ") + savedGateway);
    return true;
}

QString TcpDaemon::stateFilePath() const
{
    return m_stateFile ? m_stateFile->path() : QString();
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
    const QString text = ToolText(bytes).trimmed();
    const QString word = text.split(QLatin1Char(' ')).first();
    QString reply;
    if (!client.caller.permitted)
        reply = refusedCommand(word, client.caller);
    else if (config)
        reply = writeOpenVpnConfig(bytes.left(bytes.indexOf('\n')).trimmed());
    else
        reply = runCommand(word);
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
                                              {QStringLiteral("OVPN_CONFIG"), QStringLiteral("OVPN CONFIG")}};
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

QString TcpDaemon::runCommand(const QString &word)
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
    if (m_routes->readRouteTable(lines))
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
    if (index < 0)
        return false;
    savedGatewayEntry = lines.at(index);
    return true;
}

QString TcpDaemon::addDnsFilters()
{
    if (dnsFilter.addFilters() == 0)
        return QStringLiteral("SRV SUCCESS DNS ADD: Wfp filters added");
    return QStringLiteral("SRV ERROR DNS ADD: ") + dnsFilter.lastError;
}

QString TcpDaemon::removeDnsFilters()
{
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
    if (!getDefaultGateway())
        return QStringLiteral("SRV ERROR DELETE: Default gateway not found");

    QStringList ipv6;
    bool ipv6Gone = m_routes->readIpv6DefaultRoutes(&ipv6);
    // IPv6 routes an earlier DELETE took away and nothing has put back stay saved.
    for (const QString &route : qAsConst(ipv6)) {
        if (!m_savedIpv6.contains(route))
            m_savedIpv6 << route;
    }
    // Saved before anything is taken away, so that no crash can lose the way back.
    saveGatewayState();

    m_routes->deleteDefaultRoute(savedGateway);
    for (const QString &route : qAsConst(ipv6))
        m_routes->deleteIpv6DefaultRoute(route);
    if (!ipv6.isEmpty()) {
        QStringList left;
        ipv6Gone = m_routes->readIpv6DefaultRoutes(&left) && left.isEmpty();
        for (const QString &route : qAsConst(left))
            emit serviceLog(QStringLiteral("IPv6 default route exists after removing: ") + route);
    }
    if (isSavedGatewayExists() || m_tableUnreadable || !ipv6Gone)
        return QStringLiteral("SRV ERROR DELETE: Default gateway (") + savedGateway +
               QStringLiteral(") exists after removing");
    return QStringLiteral("SRV SUCCESS DELETE: Default gateway removed - ") + savedGateway;
}

QString TcpDaemon::restoreGateway()
{
    m_tableUnreadable = false;
    const bool ipv6Restored = restoreIpv6Routes();
    if (isSavedGatewayExists()) {
        if (ipv6Restored)
            forgetGatewayState();
        return QStringLiteral("SRV ERROR RESTORE: Default gateway already exists - ") + savedGateway +
               QStringLiteral(" (Full entry: ") + savedGatewayEntry + QStringLiteral(")");
    }
    if (m_tableUnreadable)
        return QStringLiteral("SRV ERROR RESTORE: Default gateway not found after restoring");
    m_routes->addDefaultRoute(savedGateway);
    if (isSavedGatewayExists()) {
        if (ipv6Restored)
            forgetGatewayState();
        return QStringLiteral("SRV SUCCESS RESTORE: Default gateway restored - ") + savedGateway +
               QStringLiteral(" (Full entry: ") + savedGatewayEntry + QStringLiteral(")");
    }
    return QStringLiteral("SRV ERROR RESTORE: Default gateway not found after restoring");
}

bool TcpDaemon::restoreIpv6Routes()
{
    if (m_savedIpv6.isEmpty())
        return true;
    QStringList present;
    if (!m_routes->readIpv6DefaultRoutes(&present))
        return false;
    bool ok = true;
    for (const QString &route : qAsConst(m_savedIpv6)) {
        if (!present.contains(route) && !m_routes->addIpv6DefaultRoute(route)) {
            emit serviceLog(QStringLiteral("IPv6 default route cannot be restored: ") + route);
            ok = false;
        }
    }
    return ok;
}

void TcpDaemon::saveGatewayState()
{
    if (!m_stateFile)
        return;
    GatewayState state;
    state.gateway = savedGateway;
    state.entry = savedGatewayEntry;
    state.ipv6Routes = m_savedIpv6;
    if (!m_stateFile->save(state))
        emit serviceLog(QStringLiteral("Kill switch state cannot be saved: ") + m_stateFile->path());
}

void TcpDaemon::forgetGatewayState()
{
    m_savedIpv6.clear();
    if (m_stateFile)
        m_stateFile->remove();
}
