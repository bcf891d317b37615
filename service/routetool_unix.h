#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

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
// The IPv6 default routes of `ip -j -6 route show table main default`, one line of words per next hop:
// "via GATEWAY dev DEVICE metric N" (no "via" for an on-link route).
QStringList parseIpv6DefaultRoutes(const QByteArray &routesJson);
// Whether words are "via ADDRESS", "dev NAME" and "metric N" pairs, a device among them.
bool isIpv6RouteWords(const QStringList &words);
