#pragma once

#include <QString>
#include <QTcpServer>

#include <memory>

#include "service/filterengine.h"
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
    // The longest command line taken; a connection that sends more without a line end is closed.
    static constexpr qint64 MaxCommandBytes = 4096;

    // Works on the system's own route table and packet filter.
    explicit TcpDaemon(QObject *parent = nullptr);
    // Works on the given backends (tests).
    TcpDaemon(std::unique_ptr<RouteTool> routeTool, std::unique_ptr<FilterEngine> filterEngine,
              QObject *parent = nullptr);
    ~TcpDaemon() override;

    // Removes DNS filters a crashed earlier run may have left in force.
    void removeLeftoverFilters();
    // Takes the DNS filters away (service stop).
    void removeFilters();

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

private:
    QString addDnsFilters();
    QString removeDnsFilters();
    QString info();
    QString deleteGateway();
    QString restoreGateway();
};
