#include "service/killswitch.h"

namespace {

// Where the system has no firewall block: every request fails and says so.
class NoFirewallBlock : public FirewallBlock
{
public:
    NoFirewallBlock() { m_lastError = QStringLiteral("no firewall block on this system"); }
    bool apply(const BlockRules &) override { return false; }
    bool remove() override { return true; }
    Status status() override { return Status::Unknown; }
};

} // namespace

KillSwitch::KillSwitch(std::unique_ptr<RouteTool> routes, std::unique_ptr<FirewallBlock> block,
                       std::unique_ptr<RouteWatcher> watcher, std::unique_ptr<GatewayStateFile> stateFile,
                       QObject *parent)
    : QObject(parent), m_routes(std::move(routes)),
      m_block(block ? std::move(block) : std::make_unique<NoFirewallBlock>()), m_watcher(std::move(watcher)),
      m_stateFile(std::move(stateFile))
{
    if (m_watcher)
        connect(m_watcher.get(), &RouteWatcher::defaultRouteAdded, this, &KillSwitch::enforce);
}

KillSwitch::~KillSwitch() = default;

QString KillSwitch::stateFilePath() const
{
    return m_stateFile ? m_stateFile->path() : QString();
}

bool KillSwitch::load()
{
    GatewayState loaded;
    if (!m_stateFile || !m_stateFile->load(&loaded))
        return false;
    m_state = loaded;
    return true;
}

void KillSwitch::resume()
{
    if (!m_state.blocking) {
        // Its rules are unknown without the state: kept as it is until RESTORE lifts it.
        if (m_block->status() != FirewallBlock::Status::Blocking)
            return;
        emit log(QStringLiteral("Kill switch firewall block found without its state; it holds until RESTORE"));
        m_state.blocking = true;
    } else if (applyBlock()) {
        emit log(QStringLiteral("Kill switch firewall block holds again"));
    }
    if (m_watcher)
        m_watcher->start();
    enforce();
}

QList<DefaultRoute> KillSwitch::outsideTunnel(const QList<DefaultRoute> &list) const
{
    QList<DefaultRoute> result;
    for (const DefaultRoute &route : list) {
        if (m_state.tunnelDevice.isEmpty() || route.device != m_state.tunnelDevice)
            result << route;
    }
    return result;
}

bool KillSwitch::noteTunnel(const QString &halfRouteDevice)
{
    // A device the caller named wins over the one the routes show.
    const QString device = !m_state.server.device.isEmpty() ? m_state.server.device
                           : !halfRouteDevice.isEmpty()     ? halfRouteDevice
                                                            : m_state.tunnelDevice;
    if (device == m_state.tunnelDevice)
        return false;
    m_state.tunnelDevice = device;
    emit log(QStringLiteral("Kill switch tunnel device: ") + device);
    return true;
}

bool KillSwitch::applyBlock()
{
    BlockRules rules;
    rules.tunnelDevice = m_state.tunnelDevice;
    rules.server = m_state.server;
    if (m_block->apply(rules))
        return true;
    emit log(QStringLiteral("Kill switch firewall block cannot be set up: ") + m_block->lastError());
    return false;
}

bool KillSwitch::takeDefaultRoutes(QList<DefaultRoute> *left)
{
    QList<DefaultRoute> present;
    QString halfRouteDevice;
    const bool tableRead = m_routes->readDefaultRoutes(&present, &halfRouteDevice);
    noteTunnel(halfRouteDevice);
    const QList<DefaultRoute> taken = outsideTunnel(present);
    for (const DefaultRoute &route : taken) {
        if (!m_state.routes.contains(route))
            m_state.routes << route;
    }
    m_state.gateway = replyGateway();
    m_state.blocking = true;
    // Saved before anything is taken away, so that no crash can lose the way back.
    persist();
    applyBlock();
    for (const DefaultRoute &route : taken)
        m_routes->deleteRoute(route);
    if (m_watcher)
        m_watcher->start();
    left->clear();
    if (!tableRead || !m_routes->readDefaultRoutes(&present))
        return false;
    *left = outsideTunnel(present);
    return true;
}

void KillSwitch::enforce()
{
    if (!m_state.blocking)
        return;
    QList<DefaultRoute> present;
    QString halfRouteDevice;
    if (!m_routes->readDefaultRoutes(&present, &halfRouteDevice))
        return;
    if (noteTunnel(halfRouteDevice))
        applyBlock();
    const QList<DefaultRoute> back = outsideTunnel(present);
    if (back.isEmpty())
        return;
    for (const DefaultRoute &route : back) {
        if (!m_state.routes.contains(route))
            m_state.routes << route;
    }
    m_state.gateway = replyGateway();
    persist();
    for (const DefaultRoute &route : back) {
        const bool removed = m_routes->deleteRoute(route);
        emit log((removed ? QStringLiteral("Default route outside the tunnel removed again: ")
                          : QStringLiteral("Default route outside the tunnel cannot be removed: ")) +
                 route.toText());
    }
}

bool KillSwitch::putBackRoutes()
{
    // Routes put back from here on are the user's again.
    if (m_watcher)
        m_watcher->stop();
    QList<DefaultRoute> present;
    if (!m_routes->readDefaultRoutes(&present))
        return false;
    for (const DefaultRoute &route : qAsConst(m_state.routes)) {
        if (!present.contains(route) && !m_routes->addRoute(route))
            emit log(QStringLiteral("Default route cannot be restored: ") + route.toText());
    }
    if (!m_routes->readDefaultRoutes(&present))
        return false;
    QList<DefaultRoute> missing;
    for (const DefaultRoute &route : qAsConst(m_state.routes)) {
        if (!present.contains(route))
            missing << route;
    }
    m_state.routes = missing;
    persist();
    return missing.isEmpty();
}

bool KillSwitch::liftBlock()
{
    if (m_watcher)
        m_watcher->stop();
    const bool lifted = m_block->remove();
    if (lifted)
        m_state.blocking = false;
    else
        emit log(QStringLiteral("Kill switch firewall block cannot be lifted: ") + m_block->lastError());
    persist();
    return lifted;
}

FirewallBlock::Status KillSwitch::blockStatus(QString *error)
{
    FirewallBlock::Status status = m_block->status();
    if (status == FirewallBlock::Status::Open && m_state.blocking) {
        emit log(QStringLiteral("Kill switch firewall block was taken away; setting it up again"));
        if (applyBlock())
            status = m_block->status();
    }
    if (status == FirewallBlock::Status::Unknown)
        *error = m_block->lastError();
    return status;
}

bool KillSwitch::admitServer(const GuardServer &server, QString *error)
{
    m_state.server = server;
    if (!server.device.isEmpty())
        noteTunnel(QString());
    if (m_state.blocking && !applyBlock()) {
        *error = m_block->lastError();
        persist();
        return false;
    }
    persist();
    return true;
}

QString KillSwitch::replyGateway() const
{
    // The main table's, which the IPv4 table lines of INFO and RESTORE show.
    for (const bool mainOnly : {true, false}) {
        for (const DefaultRoute &route : m_state.routes) {
            if (!route.ipv6 && (!mainOnly || route.table.isEmpty()))
                return route.gatewayText();
        }
    }
    return m_state.routes.isEmpty() ? QString() : m_state.routes.first().gatewayText();
}

void KillSwitch::persist()
{
    if (!m_stateFile)
        return;
    if (m_state.isEmpty())
        m_stateFile->remove();
    else if (!m_stateFile->save(m_state))
        emit log(QStringLiteral("Kill switch state cannot be saved: ") + m_stateFile->path());
}
