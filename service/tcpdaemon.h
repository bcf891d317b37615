#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <QTcpServer>

#include <memory>

#include "common/socketowner.h"
#include "service/filterengine.h"
#include "service/firewallblock.h"
#include "service/gatewaystate.h"
#include "service/routetool.h"
#include "service/routewatcher.h"
#include "service/toolrunner.h"
#include "service/wfpdnsfilter.h"

class QTcpSocket;

class KillSwitch;

// The service's command listener: one command line per connection, one reply line without line end.
//
// Commands beyond INFO, DELETE, RESTORE, ADD_DNS_FILTERS and REMOVE_DNS_FILTERS, one line each, words
// separated by single spaces:
//   GUARD_SERVER <ip> <udp|tcp> <port> [<device>]
//       The VPN server the kill switch's firewall block lets through (one at a time, replaced by the next;
//       kept in the state file), for the tunnel's transport only; <ip> a literal IPv4 or IPv6 address,
//       <device> the tunnel's interface ([A-Za-z0-9_.-]{1,15}). Without a device the tunnel's is the one
//       carrying both 0.0.0.0/1 and 128.0.0.0/1. Takes effect at once while the block holds.
//       "SRV SUCCESS GUARD SERVER: admitted <ip> <udp|tcp> <port>[ <device>]"
//       "SRV ERROR GUARD SERVER: usage: GUARD_SERVER <ip> <udp|tcp> <port> [<device>]"
//       "SRV ERROR GUARD SERVER: block not changed: <reason>" (the server is kept for the next try)
//   GUARD_STATUS
//       Whether the firewall block is in force, as the system holds it.
//       "SRV SUCCESS GUARD STATUS: blocking" / "SRV SUCCESS GUARD STATUS: open"
//       "SRV ERROR GUARD STATUS: <reason>" (the system cannot tell)
//   VPN_DNS <ip> [<ip> ...]
//       The DNS servers the tunnel pushed (at most 8), which ADD_DNS_FILTERS admits instead of looking the
//       VPN adapter up; REMOVE_DNS_FILTERS forgets them.
//       "SRV SUCCESS VPN DNS: <ip> [<ip> ...]"
//       "SRV ERROR VPN DNS: usage: VPN_DNS <ip> [<ip> ...]"
// Addresses in replies are in their canonical text form.
// DELETE sets up the firewall block (until RESTORE or "-restore", also across service runs) and takes away
// every default route outside the tunnel; a DELETE while routes are held away answers success again. With no
// default route taken away since the last RESTORE (a LAN-only machine) it still sets up the block and answers
// "SRV ERROR DELETE: Default gateway not found"; GUARD_STATUS then tells whether the block holds. RESTORE puts
// every route back and lifts the block (also one found without its state); with no route to put back it
// answers "SRV ERROR RESTORE: Default gateway not found after restoring".
class TcpDaemon : public QTcpServer
{
    Q_OBJECT

    // Declared first: the members below are built on them.
    std::unique_ptr<ToolRunner> m_tools;
    std::unique_ptr<KillSwitch> m_killSwitch;
    std::unique_ptr<FilterEngine> m_filters;

public:
    static constexpr quint16 ServicePort = 56143;

    // Where the daemon keeps its state and finds its tools.
    struct Settings
    {
        // Folder of the kill switch's state file; empty: the platform's folder (system backends) or no file
        // at all (given backends).
        QString stateDir;
        // Folders searched for tools before the system folders.
        QStringList extraToolDirs;
        // Group whose members may send commands besides root (and administrators on Windows); empty: the
        // install's group (SocketOwner::serviceUsersGroup()).
        QString callerGroup;
    };

    // What one client may hold of the root process.
    struct Limits
    {
        int maxLineBytes = 1024;
        int maxConnections = 16;
        int idleTimeoutMs = 10000;          // from accept to a complete command, and from the answer to the close
        int maxPerCaller = 4;               // connections of one uid (pid on Windows); refused callers count as one
        int maxConfigLineBytes = 64 * 1024; // the OpenVPN configuration's command
    };

    // Works on the system's own route table and packet filter.
    explicit TcpDaemon(const Settings &settings = Settings(), QObject *parent = nullptr);
    // Works on the given backends (tests); without a firewall block or route watcher the kill switch has
    // routes only.
    TcpDaemon(std::unique_ptr<RouteTool> routeTool, std::unique_ptr<FilterEngine> filterEngine,
              const Settings &settings = Settings(), QObject *parent = nullptr);
    TcpDaemon(std::unique_ptr<RouteTool> routeTool, std::unique_ptr<FilterEngine> filterEngine,
              std::unique_ptr<FirewallBlock> block, std::unique_ptr<RouteWatcher> watcher,
              const Settings &settings = Settings(), QObject *parent = nullptr);
    ~TcpDaemon() override;

    void setLimits(const Limits &limits) { m_limits = limits; }

    // Removes DNS filters a crashed earlier run may have left in force.
    void removeLeftoverFilters();
    // Takes the DNS filters away, also those whose removal failed before (service stop).
    void removeFilters();
    // Takes up the routes and block a DELETE of an earlier run saved; false when there are none.
    bool loadGatewayState();
    // Puts a block that is to hold in force again and watches the routes (service start).
    void resumeKillSwitch();
    QString stateFilePath() const;
    // Runs one command with its arguments; the reply, or a null string for an unknown word.
    QString runCommand(const QString &word, const QStringList &arguments = QStringList());

    bool disabled = false;
    QString savedGateway;
    QString savedGatewayEntry;
    WfpDnsFilter dnsFilter;

signals:
    // A line for the service log.
    void serviceLog(const QString &message);

public slots:
    void readClient();
    void discardClient();
    bool getDefaultGateway();
    bool isSavedGatewayExists();

protected:
    void incomingConnection(qintptr socketDescriptor) override;
    // Who holds the far end of a connection just taken (the socket table's owner).
    virtual SocketOwner::Caller callerOf(const QAbstractSocket &socket) const;

private:
    QString addDnsFilters();
    QString removeDnsFilters();
    QString info();
    QString deleteGateway();
    QString restoreGateway();
    QString writeOpenVpnConfig(const QByteArray &line);
    QString guardServer(const QStringList &arguments);
    QString guardStatus();
    QString vpnDns(const QStringList &arguments);

    bool readTable(QStringList *lines);
    void closeClient(QTcpSocket *socket, const QString &reason);
    // Why a new connection of caller is not taken, or empty.
    QString connectionRefusal(const SocketOwner::Caller &caller) const;
    // The reply to a command word from a caller that may not command the service; null for an unknown word.
    QString refusedCommand(const QString &word, const SocketOwner::Caller &caller);
    // Sends the reply as the connection's only answer and ends the sending half once it has left.
    void answer(QTcpSocket *socket, const QString &reply);

    QString m_stateDir;
    bool m_tableUnreadable = false;
    Limits m_limits;
    Settings m_settings;
    // One open connection: who holds its far end and whether it has had its answer.
    struct Client
    {
        SocketOwner::Caller caller;
        bool answered = false;
    };
    QHash<QTcpSocket *, Client> m_clients;
};
