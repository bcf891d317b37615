#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "service/routetool.h"

// One IPv4 route of the main table as iproute2 reports it.
struct IpRoute
{
    QString destination; // address part, "0.0.0.0" for default
    int prefixLength = 32;
    QString gateway; // empty for on-link routes
    QString device;
    QString interfaceAddress;
    int metric = 0;
    bool hasMetric = false;
};

// Routes of `ip -j -4 route show table main`, interface addresses taken from `ip -j -4 addr show`.
// Multipath routes give one entry per next hop; non-unicast routes are left out.
QList<IpRoute> parseIpRoutes(const QByteArray &routesJson, const QByteArray &addressesJson);
// The route as a five-field line: destination, netmask, gateway ("On-link" without one), interface address,
// metric.
QString ipRouteLine(const IpRoute &route);
// The unicast default routes of `ip -j -4|-6 route show table all`, one per next hop. For IPv4,
// *tunnelDevice (when given) is set to the device of both 0.0.0.0/1 and 128.0.0.0/1, or emptied.
QList<DefaultRoute> parseDefaultRoutes(const QByteArray &routesJson, bool ipv6, QString *tunnelDevice = nullptr);
