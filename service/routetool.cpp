#include "service/routetool.h"

#include <QHostAddress>
#include <QRegularExpression>

RouteTool::~RouteTool() = default;

bool IsDeviceName(const QString &name)
{
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9_.-]{1,15}$"));
    return allowed.match(name).hasMatch();
}

bool ParseAddressLiteral(const QString &text, QHostAddress *address)
{
    static const QRegularExpression allowed(QStringLiteral("^[0-9A-Fa-f:.]{2,45}$"));
    QHostAddress parsed;
    if (!allowed.match(text).hasMatch() || !parsed.setAddress(text) || parsed.isMulticast() ||
        parsed == QHostAddress::AnyIPv4 || parsed == QHostAddress::AnyIPv6)
        return false;
    *address = parsed;
    return true;
}

QString DefaultRoute::toText() const
{
    QStringList words{ipv6 ? QStringLiteral("inet6") : QStringLiteral("inet")};
    if (!gateway.isEmpty())
        words << QStringLiteral("via") << gateway;
    if (!device.isEmpty())
        words << QStringLiteral("dev") << device;
    if (metric >= 0)
        words << QStringLiteral("metric") << QString::number(metric);
    if (!table.isEmpty())
        words << QStringLiteral("table") << table;
    return words.join(QLatin1Char(' '));
}

bool DefaultRoute::fromText(const QString &text, DefaultRoute *route)
{
    static const QRegularExpression tableName(QStringLiteral("^[A-Za-z0-9_]{1,32}$"));
    static const QRegularExpression number(QStringLiteral("^[0-9]{1,10}$"));
    const QStringList words = text.split(QLatin1Char(' '));
    if (words.size() % 2 != 1 || (words.first() != QLatin1String("inet") && words.first() != QLatin1String("inet6")))
        return false;
    DefaultRoute result;
    result.ipv6 = words.first() == QLatin1String("inet6");
    for (int i = 1; i < words.size(); i += 2) {
        const QString &key = words.at(i);
        const QString &value = words.at(i + 1);
        bool ok = false;
        if (key == QLatin1String("via") && result.gateway.isEmpty()) {
            QHostAddress address;
            ok = ParseAddressLiteral(value, &address) &&
                 address.protocol() == (result.ipv6 ? QAbstractSocket::IPv6Protocol : QAbstractSocket::IPv4Protocol);
            result.gateway = value;
        } else if (key == QLatin1String("dev") && result.device.isEmpty()) {
            ok = IsDeviceName(value);
            result.device = value;
        } else if (key == QLatin1String("metric") && result.metric < 0) {
            ok = number.match(value).hasMatch();
            result.metric = value.toLongLong();
        } else if (key == QLatin1String("table") && result.table.isEmpty()) {
            ok = tableName.match(value).hasMatch();
            result.table = value;
        }
        if (!ok)
            return false;
    }
    if (result.device.isEmpty() && result.gateway.isEmpty())
        return false;
    *route = result;
    return true;
}

QString DefaultRoute::gatewayText() const
{
    return gateway.isEmpty() ? QStringLiteral("On-link") : gateway;
}

bool DefaultRoute::operator==(const DefaultRoute &other) const
{
    return ipv6 == other.ipv6 && gateway == other.gateway && device == other.device && table == other.table &&
           metric == other.metric;
}
