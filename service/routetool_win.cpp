#include "service/routetool.h"

#include "common/windowssystem_win.h"
#include "service/toolrunner.h"

// ws2tcpip.h before the IP helper headers, which declare the routing table's records only after it.
#include <ws2tcpip.h>

#include <iphlpapi.h>
#include <netioapi.h>

#include <QHostAddress>

#include <cstring>

namespace {

// The IPv4 table as Windows' own route command prints it, run from the system folder by its full path (not
// through cmd.exe): the service runs with system rights and must not pick up a copy from its own or the
// current folder.
// Default routes are read and changed through the IP Helper API, with no command line in between.
class WindowsRouteTool : public RouteTool
{
public:
    explicit WindowsRouteTool(ToolRunner &runner) : m_runner(runner) {}

    bool readRouteTable(QStringList *lines) override
    {
        const ToolRun run = runSystemTool(QStringLiteral("route.exe"), {QStringLiteral("print")});
        *lines = ToolLines(ToolText(run.output));
        return run.started && !run.timedOut;
    }

    bool readDefaultRoutes(QList<DefaultRoute> *routes, QString *tunnelDevice) override
    {
        PMIB_IPFORWARD_TABLE2 table = nullptr;
        const DWORD result = GetIpForwardTable2(AF_UNSPEC, &table);
        if (result != NO_ERROR) {
            ToolLog(QStringLiteral("Reading the route table failed: %1").arg(result));
            return false;
        }
        routes->clear();
        QString lowHalf, highHalf;
        for (ULONG i = 0; i < table->NumEntries; ++i) {
            const MIB_IPFORWARD_ROW2 &row = table->Table[i];
            const SOCKADDR_INET &prefix = row.DestinationPrefix.Prefix;
            const QString device = QString::number(row.InterfaceIndex);
            if (prefix.si_family == AF_INET && row.DestinationPrefix.PrefixLength == 1) {
                (prefix.Ipv4.sin_addr.s_addr == 0 ? lowHalf : highHalf) = device;
                continue;
            }
            if (row.DestinationPrefix.PrefixLength != 0)
                continue;
            DefaultRoute route;
            route.ipv6 = prefix.si_family == AF_INET6;
            route.gateway = address(row.NextHop);
            route.device = device;
            route.metric = row.Metric;
            routes->append(route);
        }
        FreeMibTable(table);
        if (tunnelDevice)
            *tunnelDevice = lowHalf == highHalf ? lowHalf : QString();
        return true;
    }

    bool deleteRoute(const DefaultRoute &route) override
    {
        MIB_IPFORWARD_ROW2 row;
        if (!toRow(route, &row))
            return false;
        return report(QStringLiteral("Deleting"), route, DeleteIpForwardEntry2(&row));
    }

    bool addRoute(const DefaultRoute &route) override
    {
        MIB_IPFORWARD_ROW2 row;
        if (!toRow(route, &row))
            return false;
        return report(QStringLiteral("Adding"), route, CreateIpForwardEntry2(&row));
    }

private:
    // The gateway as text; empty for an unspecified (on-link) next hop.
    static QString address(const SOCKADDR_INET &address)
    {
        QHostAddress host;
        if (address.si_family == AF_INET)
            host.setAddress(quint32(ntohl(address.Ipv4.sin_addr.s_addr)));
        else if (address.si_family == AF_INET6)
            host.setAddress(reinterpret_cast<const quint8 *>(&address.Ipv6.sin6_addr));
        return host.isNull() || host == QHostAddress::AnyIPv4 || host == QHostAddress::AnyIPv6 ? QString()
                                                                                               : host.toString();
    }

    static bool toRow(const DefaultRoute &route, MIB_IPFORWARD_ROW2 *row)
    {
        InitializeIpForwardEntry(row);
        bool indexOk = false;
        row->InterfaceIndex = route.device.toULong(&indexOk);
        const QHostAddress gateway(route.gateway);
        if (!indexOk || (!route.gateway.isEmpty() && gateway.isNull())) {
            ToolLog(QStringLiteral("Not a default route of this system: ") + route.toText());
            return false;
        }
        const ADDRESS_FAMILY family = route.ipv6 ? AF_INET6 : AF_INET;
        row->DestinationPrefix.Prefix.si_family = family;
        row->DestinationPrefix.PrefixLength = 0;
        row->NextHop.si_family = family;
        if (!route.gateway.isEmpty() && route.ipv6) {
            const Q_IPV6ADDR bytes = gateway.toIPv6Address();
            memcpy(&row->NextHop.Ipv6.sin6_addr, bytes.c, sizeof bytes.c);
        } else if (!route.gateway.isEmpty()) {
            row->NextHop.Ipv4.sin_addr.s_addr = htonl(gateway.toIPv4Address());
        }
        if (route.metric >= 0)
            row->Metric = ULONG(route.metric);
        row->Protocol = RouteProtocolNetMgmt;
        return true;
    }

    static bool report(const QString &what, const DefaultRoute &route, DWORD result)
    {
        if (result != NO_ERROR)
            ToolLog(QStringLiteral("%1 the route %2 failed: %3").arg(what, route.toText()).arg(result));
        return result == NO_ERROR;
    }

    // A program of the system folder; not started when that folder cannot be read.
    ToolRun runSystemTool(const QString &program, const QStringList &arguments)
    {
        const QString path = WindowsSystem::systemFilePath(program);
        if (path.isEmpty())
            return ToolRun();
        return m_runner.run(path, arguments);
    }

    ToolRunner &m_runner;
};

} // namespace

std::unique_ptr<RouteTool> CreateSystemRouteTool(ToolRunner &runner)
{
    return std::make_unique<WindowsRouteTool>(runner);
}
