#pragma once

#include <QString>
#include <QStringList>

// Reading of the IPv4 route table as lines of five blank-separated fields:
// destination, netmask, gateway, interface address, metric.
namespace RouteTable {

// Fields of a line: split at single spaces, empty fields dropped (tabs are not separators).
QStringList fields(const QString &line);
// A route line with destination exactly "0.0.0.0" (the netmask is not looked at).
bool isDefaultRouteLine(const QStringList &fields);
// Index of the first default route whose interface address is not a 10. address outside 10.0.
// (a tunnel's own default route), or -1.
int findDefaultRoute(const QStringList &lines);
// Index of the first default route through exactly this gateway, or -1.
int findDefaultRouteVia(const QStringList &lines, const QString &gateway);

} // namespace RouteTable
