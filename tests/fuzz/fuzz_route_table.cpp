// The route table as the kill switch reads it: `route print` output (or iproute2's lines) through the
// service's line splitting, then the default-route look-ups the daemon makes.
#include "fuzz/fuzzsupport.h"

#include "service/routetable.h"
#include "service/toolrunner.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::init<QCoreApplication>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first line is the gateway the daemon saved earlier; the rest is the table.
    const auto [gateway, table] = Fuzz::split(Fuzz::bytes(data, size));
    const QStringList lines = ToolLines(ToolText(table));
    const int index = RouteTable::findDefaultRoute(lines);
    if (index >= 0) {
        const QStringList fields = RouteTable::fields(lines.at(index));
        if (!RouteTable::isDefaultRouteLine(fields) || RouteTable::findDefaultRouteVia(lines, fields.at(2)) < 0)
            std::abort();
    }
    RouteTable::findDefaultRouteVia(lines, ToolText(gateway));
    return 0;
}
