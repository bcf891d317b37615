#include "service/routetool.h"

#include "common/windowssystem_win.h"
#include "service/toolrunner.h"

#include <QHostAddress>

#include <algorithm>

namespace {

// Windows' own route command, run from the system folder by its full path (not through cmd.exe, whose command
// line would take "&" as the start of a second command, and which looks in the current folder first). The
// service runs with system rights and must not pick up a copy from its own or the current folder. IPv6
// default routes are read from "route print -6" and changed through the system folder's netsh.
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

    bool deleteDefaultRoute(const QString &gateway) override
    {
        return isIpv4Literal(gateway) &&
               report(runSystemTool(QStringLiteral("route.exe"),
                                    {QStringLiteral("delete"), QStringLiteral("0.0.0.0"), gateway}));
    }

    bool addDefaultRoute(const QString &gateway) override
    {
        return isIpv4Literal(gateway) &&
               report(runSystemTool(QStringLiteral("route.exe"),
                                    {QStringLiteral("add"), QStringLiteral("0.0.0.0"), QStringLiteral("mask"),
                                     QStringLiteral("0.0.0.0"), gateway}));
    }

    // Lines of the IPv6 table: interface index, metric, destination, gateway ("On-link" without one).
    bool readIpv6DefaultRoutes(QStringList *routes) override
    {
        const ToolRun run = runSystemTool(QStringLiteral("route.exe"), {QStringLiteral("print"), QStringLiteral("-6")});
        if (!run.started || run.timedOut)
            return false;
        routes->clear();
        const QStringList lines = ToolLines(ToolText(run.output));
        for (const QString &line : lines) {
            const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (fields.size() == 4 && fields.at(2) == QLatin1String("::/0")) {
                const QString route = fields.at(0) + QLatin1Char(' ') + fields.at(3);
                if (isRoute(route) && !routes->contains(route))
                    routes->append(route);
            }
        }
        return true;
    }

    bool deleteIpv6DefaultRoute(const QString &route) override { return changeIpv6(QStringLiteral("delete"), route); }
    bool addIpv6DefaultRoute(const QString &route) override { return changeIpv6(QStringLiteral("add"), route); }

private:
    // A gateway from the route table or the state file reaches a command line only as a dotted IPv4 address in
    // its one written form.
    static bool isIpv4Literal(const QString &gateway)
    {
        QHostAddress address;
        if (address.setAddress(gateway) && address.protocol() == QAbstractSocket::IPv4Protocol &&
            address.toString() == gateway)
            return true;
        ToolLog(QStringLiteral("Not an IPv4 gateway address: ") + gateway);
        return false;
    }

    // "INTERFACE GATEWAY": an interface index and an IPv6 address (hex digits, colons and dots only, no zone)
    // or "On-link".
    static bool isRoute(const QString &route)
    {
        const QStringList words = route.split(QLatin1Char(' '));
        bool indexOk = false;
        words.value(0).toUInt(&indexOk);
        if (words.size() != 2 || !indexOk)
            return false;
        const QString &gateway = words.at(1);
        const QString allowed = QStringLiteral("0123456789abcdefABCDEF:.");
        const bool literal =
            std::all_of(gateway.cbegin(), gateway.cend(), [&](QChar c) { return allowed.contains(c); }) &&
            QHostAddress(gateway).protocol() == QAbstractSocket::IPv6Protocol;
        return gateway == QLatin1String("On-link") || literal;
    }

    bool changeIpv6(const QString &verb, const QString &route)
    {
        if (!isRoute(route)) {
            ToolLog(QStringLiteral("Not an IPv6 default route: ") + route);
            return false;
        }
        const QStringList words = route.split(QLatin1Char(' '));
        QStringList arguments{
            QStringLiteral("interface"), QStringLiteral("ipv6"), verb,
            QStringLiteral("route"),     QStringLiteral("::/0"), QStringLiteral("interface=") + words.at(0)};
        if (words.at(1) != QLatin1String("On-link"))
            arguments << QStringLiteral("nexthop=") + words.at(1);
        return report(runSystemTool(QStringLiteral("netsh.exe"), arguments));
    }

    // A program of the system folder; not started when that folder cannot be read.
    ToolRun runSystemTool(const QString &program, const QStringList &arguments)
    {
        const QString path = WindowsSystem::systemFilePath(program);
        if (path.isEmpty())
            return ToolRun();
        return m_runner.run(path, arguments);
    }

    static bool report(const ToolRun &run)
    {
        if (!run.succeeded())
            ToolLog(QStringLiteral("route failed: ") + ToolText(run.output).trimmed());
        return run.succeeded();
    }

    ToolRunner &m_runner;
};

} // namespace

std::unique_ptr<RouteTool> CreateSystemRouteTool(ToolRunner &runner)
{
    return std::make_unique<WindowsRouteTool>(runner);
}
