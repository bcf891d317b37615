#include "service/routetool_unix.h"
#include "service/routetool.h"

#include "service/toolrunner.h"

#include <QDebug>
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

// iproute2 on the main table, presented in the same five-field lines as Windows' route print.
class LinuxRouteTool : public RouteTool
{
public:
    explicit LinuxRouteTool(ToolRunner &runner) : m_runner(runner) {}

    QStringList routeTable() override
    {
        QStringList lines;
        const QList<IpRoute> routes = readRoutes();
        for (const IpRoute &route : routes)
            lines.append(ipRouteLine(route));
        return lines;
    }

    bool deleteDefaultRoute(const QString &gateway) override
    {
        bool ok = true;
        int deleted = 0;
        const QList<IpRoute> routes = readRoutes();
        for (const IpRoute &route : routes) {
            if (route.destination != QLatin1String("0.0.0.0") || route.gateway != gateway || gateway.isEmpty())
                continue;
            QStringList args{
                QStringLiteral("-4"),  QStringLiteral("route"),
                QStringLiteral("del"), QStringLiteral("%1/%2").arg(route.destination).arg(route.prefixLength),
                QStringLiteral("via"), route.gateway};
            if (!route.device.isEmpty())
                args << QStringLiteral("dev") << route.device;
            if (route.hasMetric)
                args << QStringLiteral("metric") << QString::number(route.metric);
            args << QStringLiteral("table") << QStringLiteral("main");
            ok = runIp(args) && ok;
            ++deleted;
        }
        if (deleted == 0) {
            qDebug().noquote() << "No default route to delete through" << gateway;
            return false;
        }
        return ok;
    }

    bool addDefaultRoute(const QString &gateway) override
    {
        return runIp({QStringLiteral("-4"), QStringLiteral("route"), QStringLiteral("add"), QStringLiteral("default"),
                      QStringLiteral("via"), gateway});
    }

private:
    QList<IpRoute> readRoutes()
    {
        const ToolRun routes = m_runner.run(QStringLiteral("ip"),
                                            {QStringLiteral("-j"), QStringLiteral("-4"), QStringLiteral("route"),
                                             QStringLiteral("show"), QStringLiteral("table"), QStringLiteral("main")});
        if (!routes.succeeded()) {
            qDebug().noquote() << "Reading the route table failed:" << ToolText(routes.errorOutput).trimmed();
            return {};
        }
        const ToolRun addresses = m_runner.run(QStringLiteral("ip"), {QStringLiteral("-j"), QStringLiteral("-4"),
                                                                      QStringLiteral("addr"), QStringLiteral("show")});
        if (!addresses.succeeded())
            qDebug().noquote() << "Reading interface addresses failed:" << ToolText(addresses.errorOutput).trimmed();
        return parseIpRoutes(routes.output, addresses.output);
    }

    bool runIp(const QStringList &args)
    {
        const ToolRun run = m_runner.run(QStringLiteral("ip"), args);
        if (!run.succeeded())
            qDebug().noquote() << "ip" << args.join(QLatin1Char(' '))
                               << "failed:" << ToolText(run.errorOutput).trimmed();
        return run.succeeded();
    }

    ToolRunner &m_runner;
};

} // namespace

std::unique_ptr<RouteTool> CreateSystemRouteTool(ToolRunner &runner)
{
    return std::make_unique<LinuxRouteTool>(runner);
}
