// iproute2's JSON (`ip -j -4 route show` and `ip -j -4 addr show`, split at the first zero byte) through the
// reader that turns it into route-table lines, and those lines through the daemon's look-ups.
#include "fuzz/fuzzsupport.h"

#include "service/routetable.h"
#include "service/routetool_unix.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::init<QCoreApplication>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto [routes, addresses] = Fuzz::split(Fuzz::bytes(data, size));
    QStringList lines;
    const QList<IpRoute> parsed = parseIpRoutes(routes, addresses);
    for (const IpRoute &route : parsed)
        lines << ipRouteLine(route);
    const int index = RouteTable::findDefaultRoute(lines);
    if (index >= 0)
        RouteTable::findDefaultRouteVia(lines, RouteTable::fields(lines.at(index)).at(2));
    return 0;
}
