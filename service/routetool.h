#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class ToolRunner;

// The machine's routing table as the kill switch sees it.
class RouteTool
{
public:
    virtual ~RouteTool();

    // The IPv4 route table as text lines; routes stand on lines of five fields (see RouteTable).
    // False when the table cannot be read.
    virtual bool readRouteTable(QStringList *lines) = 0;
    // Deletes the default routes through gateway; false when the tool reported a failure.
    virtual bool deleteDefaultRoute(const QString &gateway) = 0;
    // Adds a default route through gateway, interface and metric chosen by the system.
    virtual bool addDefaultRoute(const QString &gateway) = 0;

    // The IPv6 default routes, each as one line of words that addIpv6DefaultRoute takes back.
    // False when they cannot be read.
    virtual bool readIpv6DefaultRoutes(QStringList *routes) = 0;
    virtual bool deleteIpv6DefaultRoute(const QString &route) = 0;
    virtual bool addIpv6DefaultRoute(const QString &route) = 0;
};

// The backend of this platform, running its tools through runner.
std::unique_ptr<RouteTool> CreateSystemRouteTool(ToolRunner &runner);
