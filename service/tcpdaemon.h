#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <QTcpServer>

#include <memory>

#include "common/socketowner.h"
#include "service/filterengine.h"
#include "service/gatewaystate.h"
#include "service/routetool.h"
#include "service/toolrunner.h"
#include "service/wfpdnsfilter.h"

class QTcpSocket;

// The service's command listener: one command line per connection, one reply line without line end.
class TcpDaemon : public QTcpServer
{
    Q_OBJECT

    // Declared first: the members below are built on them.
    std::unique_ptr<ToolRunner> m_tools;
    std::unique_ptr<RouteTool> m_routes;
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
    // Works on the given backends (tests).
    TcpDaemon(std::unique_ptr<RouteTool> routeTool, std::unique_ptr<FilterEngine> filterEngine,
              const Settings &settings = Settings(), QObject *parent = nullptr);
    ~TcpDaemon() override;

    void setLimits(const Limits &limits) { m_limits = limits; }

    // Removes DNS filters a crashed earlier run may have left in force.
    void removeLeftoverFilters();
    // Takes the DNS filters away, also those whose removal failed before (service stop).
    void removeFilters();
    // Takes up the routes a DELETE of an earlier run saved; false when there are none.
    bool loadGatewayState();
    QString stateFilePath() const;
    // Runs one command word; the reply, or a null string for an unknown word.
    QString runCommand(const QString &word);

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

    bool readTable(QStringList *lines);
    // Puts back the saved IPv6 default routes that are missing; true when all are present afterwards.
    bool restoreIpv6Routes();
    void saveGatewayState();
    void forgetGatewayState();
    void closeClient(QTcpSocket *socket, const QString &reason);
    // Why a new connection of caller is not taken, or empty.
    QString connectionRefusal(const SocketOwner::Caller &caller) const;
    // The reply to a command word from a caller that may not command the service; null for an unknown word.
    QString refusedCommand(const QString &word, const SocketOwner::Caller &caller);
    // Sends the reply as the connection's only answer and ends the sending half once it has left.
    void answer(QTcpSocket *socket, const QString &reply);

    std::unique_ptr<GatewayStateFile> m_stateFile;
    QString m_stateDir;
    QStringList m_savedIpv6;
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
