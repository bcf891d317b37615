#include "service/routetool_unix.h"
#include "service/routetool.h"

#include "service/toolrunner.h"

#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

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

    bool deleteDefaultRoute(const QString &gateway) override
    {
        bool ok = true;
        int deleted = 0;
        QList<IpRoute> routes;
        readRoutes(&routes);
        for (const IpRoute &route : qAsConst(routes)) {
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
            ToolLog(QStringLiteral("No default route to delete through ") + gateway);
            return false;
        }
        return ok;
    }

    bool addDefaultRoute(const QString &gateway) override
    {
        return runIp({QStringLiteral("-4"), QStringLiteral("route"), QStringLiteral("add"), QStringLiteral("default"),
                      QStringLiteral("via"), gateway});
    }

    bool readIpv6DefaultRoutes(QStringList *routes) override
    {
        const ToolRun run =
            m_runner.run(QStringLiteral("ip"),
                         {QStringLiteral("-j"), QStringLiteral("-6"), QStringLiteral("route"), QStringLiteral("show"),
                          QStringLiteral("table"), QStringLiteral("main"), QStringLiteral("default")});
        if (!run.succeeded()) {
            ToolLog(QStringLiteral("Reading the IPv6 route table failed: ") + ToolText(run.errorOutput).trimmed());
            return false;
        }
        *routes = parseIpv6DefaultRoutes(run.output);
        return true;
    }

    bool deleteIpv6DefaultRoute(const QString &route) override { return changeIpv6(QStringLiteral("del"), route); }
    bool addIpv6DefaultRoute(const QString &route) override { return changeIpv6(QStringLiteral("add"), route); }

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

    bool changeIpv6(const QString &verb, const QString &route)
    {
        const QStringList words = route.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (!isIpv6RouteWords(words)) {
            ToolLog(QStringLiteral("Not an IPv6 default route: ") + route);
            return false;
        }
        return runIp(QStringList{QStringLiteral("-6"), QStringLiteral("route"), verb, QStringLiteral("default")} +
                     words + QStringList{QStringLiteral("table"), QStringLiteral("main")});
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

QStringList parseIpv6DefaultRoutes(const QByteArray &routesJson)
{
    QStringList result;
    const QJsonArray entries = QJsonDocument::fromJson(routesJson).array();
    for (const QJsonValue &entry : entries) {
        const QJsonObject object = entry.toObject();
        const QString type = object.value(QLatin1String("type")).toString();
        if (object.value(QLatin1String("dst")).toString() != QLatin1String("default") ||
            (!type.isEmpty() && type != QLatin1String("unicast")))
            continue;
        QJsonArray hops = object.value(QLatin1String("nexthops")).toArray();
        if (hops.isEmpty())
            hops.append(object);
        for (const QJsonValue &hop : qAsConst(hops)) {
            const QJsonObject hopObject = hop.toObject();
            QStringList words;
            const QString gateway = hopObject.value(QLatin1String("gateway")).toString();
            if (!gateway.isEmpty())
                words << QStringLiteral("via") << gateway;
            words << QStringLiteral("dev") << hopObject.value(QLatin1String("dev")).toString();
            if (object.contains(QLatin1String("metric")))
                words << QStringLiteral("metric") << QString::number(object.value(QLatin1String("metric")).toInt());
            if (isIpv6RouteWords(words))
                result << words.join(QLatin1Char(' '));
        }
    }
    return result;
}

bool isIpv6RouteWords(const QStringList &words)
{
    static const QRegularExpression deviceName(QStringLiteral("^[A-Za-z0-9_.@][A-Za-z0-9_.@:-]{0,14}$"));
    if (words.isEmpty() || words.size() % 2 != 0)
        return false;
    bool haveDevice = false;
    for (int i = 0; i < words.size(); i += 2) {
        const QString &key = words.at(i);
        const QString &value = words.at(i + 1);
        bool ok = false;
        if (key == QLatin1String("via"))
            ok = QHostAddress(value).protocol() == QAbstractSocket::IPv6Protocol;
        else if (key == QLatin1String("dev"))
            ok = haveDevice = deviceName.match(value).hasMatch();
        else if (key == QLatin1String("metric"))
            value.toUInt(&ok);
        if (!ok)
            return false;
    }
    return haveDevice;
}

std::unique_ptr<RouteTool> CreateSystemRouteTool(ToolRunner &runner)
{
    return std::make_unique<LinuxRouteTool>(runner);
}
