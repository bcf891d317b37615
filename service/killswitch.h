#pragma once

#include <QObject>
#include <QString>

#include <memory>

#include "service/firewallblock.h"
#include "service/gatewaystate.h"
#include "service/routetool.h"
#include "service/routewatcher.h"

// The kill switch's routes and firewall block. While it holds (from takeDefaultRoutes() until
// liftBlock()) no default route outside the tunnel's device is left in any table, and the firewall block
// lets out only loopback, the tunnel, the admitted VPN server and DHCP. Everything it holds is in the
// state file before it acts, so a later run or "-restore" can undo it.
class KillSwitch : public QObject
{
    Q_OBJECT

public:
    // block and watcher may be null where the system has none; stateFile null: nothing is kept on disk.
    KillSwitch(std::unique_ptr<RouteTool> routes, std::unique_ptr<FirewallBlock> block,
               std::unique_ptr<RouteWatcher> watcher, std::unique_ptr<GatewayStateFile> stateFile,
               QObject *parent = nullptr);
    ~KillSwitch() override;

    RouteTool &routes() { return *m_routes; }
    const GatewayState &state() const { return m_state; }
    QString stateFilePath() const;

    // Takes up the state an earlier run saved; false when there is none.
    bool load();
    // For the service's start: a block that is to hold is put in force again and watched, and default
    // routes that came back meanwhile are taken away. A block found in force without a state is kept.
    void resume();

    // Saves, then takes away, every default route outside the tunnel and sets up the block. False when the
    // tables could not be read; *left: default routes outside the tunnel still there afterwards.
    bool takeDefaultRoutes(QList<DefaultRoute> *left);
    // Stops holding the routes away and puts back every saved route that is missing; false when one could
    // not be put back (it stays saved) or the tables could not be read.
    bool putBackRoutes();
    // Takes the block away by its name, whoever set it up; true when none is left.
    bool liftBlock();
    // The block as the system holds it; a block that is to hold but was taken away is set up again.
    FirewallBlock::Status blockStatus(QString *error);
    // The server admitted through the block from now on (replacing the earlier one); false with *error
    // when the block holds and could not be changed.
    bool admitServer(const GuardServer &server, QString *error);

    // The gateway the replies name: the first IPv4 route saved (of the main table first), else the first saved.
    QString replyGateway() const;
    void setEntry(const QString &entry) { m_state.entry = entry; }

signals:
    void log(const QString &message);

private:
    // The routes of list that go elsewhere than the tunnel's device.
    QList<DefaultRoute> outsideTunnel(const QList<DefaultRoute> &list) const;
    // Takes note of the device of the tunnel's half routes; true when the tunnel device changed.
    bool noteTunnel(const QString &halfRouteDevice);
    bool applyBlock();
    void enforce();
    void persist();

    std::unique_ptr<RouteTool> m_routes;
    std::unique_ptr<FirewallBlock> m_block;
    std::unique_ptr<RouteWatcher> m_watcher;
    std::unique_ptr<GatewayStateFile> m_stateFile;
    GatewayState m_state;
};
