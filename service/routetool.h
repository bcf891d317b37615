#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class ToolRunner;

// One default route (prefix length 0) of either family, in any routing table.
struct DefaultRoute
{
    bool ipv6 = false;
    QString gateway;    // empty for an on-link route
    QString device;     // interface name (Linux) or interface index (Windows); empty: the system chooses
    QString table;      // routing table (Linux); empty for the main one
    qint64 metric = -1; // -1: none given

    // "inet via 192.168.1.1 dev eth0 metric 100 table 220", the form kept in the state file.
    QString toText() const;
    // Reads toText()'s form, checking every word; false for anything else.
    static bool fromText(const QString &text, DefaultRoute *route);
    // The gateway, or "On-link" without one (the word route print uses).
    QString gatewayText() const;
    bool operator==(const DefaultRoute &other) const;
    bool operator!=(const DefaultRoute &other) const { return !(*this == other); }
};

// Network interface names the service accepts from its callers and files.
bool IsDeviceName(const QString &name);
// A literal IPv4 or IPv6 address (no names, no scope), neither unspecified nor multicast.
bool ParseAddressLiteral(const QString &text, QHostAddress *address);

// The machine's routing tables as the kill switch sees them.
class RouteTool
{
public:
    virtual ~RouteTool();

    // The IPv4 route table as text lines; routes stand on lines of five fields (see RouteTable).
    // False when the table cannot be read.
    virtual bool readRouteTable(QStringList *lines) = 0;

    // Every default route of both families in every table; *tunnelDevice (when given) is set to the device
    // that carries both halves of the IPv4 space (0.0.0.0/1 and 128.0.0.0/1), or empty.
    // False when the tables cannot be read.
    virtual bool readDefaultRoutes(QList<DefaultRoute> *routes, QString *tunnelDevice = nullptr) = 0;
    // False when the system reported a failure.
    virtual bool deleteRoute(const DefaultRoute &route) = 0;
    virtual bool addRoute(const DefaultRoute &route) = 0;
};

// The backend of this platform, running its tools through runner.
std::unique_ptr<RouteTool> CreateSystemRouteTool(ToolRunner &runner);
