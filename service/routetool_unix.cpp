#include "service/routetool_unix.h"
#include "service/routetool.h"

#include "service/toolrunner.h"

#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QHash<QString, QString> FirstAddressPerDevice(const QByteArray &addressesJson)
{
    QHash<QString, QString> result;
    const QJsonArray links = QJsonDocument::fromJson(addressesJson).array();
    for (const QJsonValue &link : links) {
        const QJsonObject object = link.toObject();
        const QString name = object.value(QLatin1String("ifname")).toString();
        const QJsonArray infos = object.value(QLatin1String("addr_info")).toArray();
        for (const QJsonValue &info : infos) {
            const QJsonObject address = info.toObject();
            if (address.value(QLatin1String("family")).toString() == QLatin1String("inet")) {
                result.insert(name, address.value(QLatin1String("local")).toString());
                break;
            }
        }
    }
    return result;
}

QString netmask(int prefixLength)
{
    const quint32 mask = prefixLength <= 0 ? 0 : ~quint32(0) << (32 - qMin(prefixLength, 32));
    return QHostAddress(mask).toString();
}

} // namespace

QList<IpRoute> parseIpRoutes(const QByteArray &routesJson, const QByteArray &addressesJson)
{
    const QHash<QString, QString> deviceAddresses = FirstAddressPerDevice(addressesJson);
    QList<IpRoute> routes;
    const QJsonArray entries = QJsonDocument::fromJson(routesJson).array();
    for (const QJsonValue &entry : entries) {
        const QJsonObject object = entry.toObject();
        const QString type = object.value(QLatin1String("type")).toString();
        if (!type.isEmpty() && type != QLatin1String("unicast"))
            continue;

        IpRoute base;
        const QString dst = object.value(QLatin1String("dst")).toString();
        if (dst == QLatin1String("default")) {
            base.destination = QStringLiteral("0.0.0.0");
            base.prefixLength = 0;
        } else {
            const int slash = dst.indexOf(QLatin1Char('/'));
            base.destination = slash < 0 ? dst : dst.left(slash);
            base.prefixLength = slash < 0 ? 32 : dst.mid(slash + 1).toInt();
        }
        if (object.contains(QLatin1String("metric"))) {
            base.hasMetric = true;
            base.metric = object.value(QLatin1String("metric")).toInt();
        }
        const QString prefsrc = object.value(QLatin1String("prefsrc")).toString();

        QJsonArray hops = object.value(QLatin1String("nexthops")).toArray();
        if (hops.isEmpty())
            hops.append(object);
        for (const QJsonValue &hop : qAsConst(hops)) {
            const QJsonObject hopObject = hop.toObject();
            IpRoute route = base;
            route.gateway = hopObject.value(QLatin1String("gateway")).toString();
            route.device = hopObject.value(QLatin1String("dev")).toString();
            route.interfaceAddress = prefsrc;
            if (route.interfaceAddress.isEmpty())
                route.interfaceAddress = deviceAddresses.value(route.device, QStringLiteral("0.0.0.0"));
            routes.append(route);
        }
    }
    return routes;
}

QString ipRouteLine(const IpRoute &route)
{
    const QString gateway = route.gateway.isEmpty() ? QStringLiteral("On-link") : route.gateway;
    return QStringLiteral("%1 %2 %3 %4 %5")
        .arg(route.destination, 16)
        .arg(netmask(route.prefixLength), 16)
        .arg(gateway, 16)
        .arg(route.interfaceAddress, 16)
        .arg(route.metric, 6);
}

namespace {

// iproute2: the main table in the same five-field lines as Windows' route print, and the default routes of
// every table.
class LinuxRouteTool : public RouteTool
{
public:
    explicit LinuxRouteTool(ToolRunner &runner) : m_runner(runner) {}

    bool readRouteTable(QStringList *lines) override
    {
        QList<IpRoute> routes;
        if (!readRoutes(&routes))
            return false;
        lines->clear();
        for (const IpRoute &route : qAsConst(routes))
            lines->append(ipRouteLine(route));
        return true;
    }

    bool readDefaultRoutes(QList<DefaultRoute> *routes, QString *tunnelDevice) override
    {
        QByteArray json[2];
        for (int family = 0; family < 2; ++family) {
            const ToolRun run = m_runner.run(
                QStringLiteral("ip"),
                {QStringLiteral("-j"), family ? QStringLiteral("-6") : QStringLiteral("-4"), QStringLiteral("route"),
                 QStringLiteral("show"), QStringLiteral("table"), QStringLiteral("all")});
            if (!run.succeeded()) {
                ToolLog(QStringLiteral("Reading the route tables failed: ") + ToolText(run.errorOutput).trimmed());
                return false;
            }
            json[family] = run.output;
        }
        *routes = parseDefaultRoutes(json[0], false, tunnelDevice) + parseDefaultRoutes(json[1], true);
        return true;
    }

    bool deleteRoute(const DefaultRoute &route) override { return changeRoute(QStringLiteral("del"), route); }
    bool addRoute(const DefaultRoute &route) override { return changeRoute(QStringLiteral("add"), route); }

private:
    bool readRoutes(QList<IpRoute> *result)
    {
        const ToolRun routes = m_runner.run(QStringLiteral("ip"),
                                            {QStringLiteral("-j"), QStringLiteral("-4"), QStringLiteral("route"),
                                             QStringLiteral("show"), QStringLiteral("table"), QStringLiteral("main")});
        if (!routes.succeeded()) {
            ToolLog(QStringLiteral("Reading the route table failed: ") + ToolText(routes.errorOutput).trimmed());
            return false;
        }
        const ToolRun addresses = m_runner.run(QStringLiteral("ip"), {QStringLiteral("-j"), QStringLiteral("-4"),
                                                                      QStringLiteral("addr"), QStringLiteral("show")});
        if (!addresses.succeeded())
            ToolLog(QStringLiteral("Reading interface addresses failed: ") + ToolText(addresses.errorOutput).trimmed());
        *result = parseIpRoutes(routes.output, addresses.output);
        return true;
    }

    bool changeRoute(const QString &verb, const DefaultRoute &route)
    {
        QStringList args{route.ipv6 ? QStringLiteral("-6") : QStringLiteral("-4"), QStringLiteral("route"), verb,
                         QStringLiteral("default")};
        if (!route.gateway.isEmpty())
            args << QStringLiteral("via") << route.gateway;
        if (!route.device.isEmpty())
            args << QStringLiteral("dev") << route.device;
        if (route.metric >= 0)
            args << QStringLiteral("metric") << QString::number(route.metric);
        args << QStringLiteral("table") << (route.table.isEmpty() ? QStringLiteral("main") : route.table);
        return runIp(args);
    }

    bool runIp(const QStringList &args)
    {
        const ToolRun run = m_runner.run(QStringLiteral("ip"), args);
        if (!run.succeeded())
            ToolLog(QStringLiteral("ip ") + args.join(QLatin1Char(' ')) + QStringLiteral(" failed: ") +
                    ToolText(run.errorOutput).trimmed());
        return run.succeeded();
    }

    ToolRunner &m_runner;
};

} // namespace

QList<DefaultRoute> parseDefaultRoutes(const QByteArray &routesJson, bool ipv6, QString *tunnelDevice)
{
    QList<DefaultRoute> result;
    QString lowHalf, highHalf;
    const QJsonArray entries = QJsonDocument::fromJson(routesJson).array();
    for (const QJsonValue &entry : entries) {
        const QJsonObject object = entry.toObject();
        const QString type = object.value(QLatin1String("type")).toString();
        if (!type.isEmpty() && type != QLatin1String("unicast"))
            continue;
        const QString dst = object.value(QLatin1String("dst")).toString();
        const QString device = object.value(QLatin1String("dev")).toString();
        if (dst == QLatin1String("0.0.0.0/1"))
            lowHalf = device;
        else if (dst == QLatin1String("128.0.0.0/1"))
            highHalf = device;
        if (dst != QLatin1String("default"))
            continue;
        DefaultRoute base;
        base.ipv6 = ipv6;
        base.table = object.value(QLatin1String("table")).toString();
        if (base.table == QLatin1String("main"))
            base.table.clear();
        if (object.contains(QLatin1String("metric")))
            base.metric = object.value(QLatin1String("metric")).toVariant().toLongLong();
        QJsonArray hops = object.value(QLatin1String("nexthops")).toArray();
        if (hops.isEmpty())
            hops.append(object);
        for (const QJsonValue &hop : qAsConst(hops)) {
            DefaultRoute route = base;
            route.gateway = hop.toObject().value(QLatin1String("gateway")).toString();
            route.device = hop.toObject().value(QLatin1String("dev")).toString();
            result << route;
        }
    }
    if (tunnelDevice)
        *tunnelDevice = lowHalf == highHalf ? lowHalf : QString();
    return result;
}

std::unique_ptr<RouteTool> CreateSystemRouteTool(ToolRunner &runner)
{
    return std::make_unique<LinuxRouteTool>(runner);
}
