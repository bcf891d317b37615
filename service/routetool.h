#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class ToolRunner;

// The machine's IPv4 routing table as the kill switch sees it.
class RouteTool
{
public:
    virtual ~RouteTool();

    // The route table as text lines; IPv4 routes stand on lines of five fields (see RouteTable).
    // Empty when the table cannot be read.
    virtual QStringList routeTable() = 0;
    // Deletes the default routes through gateway; false when the tool reported a failure.
    virtual bool deleteDefaultRoute(const QString &gateway) = 0;
    // Adds a default route through gateway, interface and metric chosen by the system.
    virtual bool addDefaultRoute(const QString &gateway) = 0;
};

// The backend of this platform, running its tools through runner.
std::unique_ptr<RouteTool> CreateSystemRouteTool(ToolRunner &runner);
