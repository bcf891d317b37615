#include "service/routetable.h"

namespace RouteTable {

QStringList fields(const QString &line)
{
    return line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool isDefaultRouteLine(const QStringList &fields)
{
    return fields.size() == 5 && fields.at(0) == QLatin1String("0.0.0.0");
}

int findDefaultRoute(const QStringList &lines)
{
    for (int i = 0; i < lines.size(); ++i) {
        const QStringList parts = fields(lines.at(i));
        if (!isDefaultRouteLine(parts))
            continue;
        const QString &interfaceAddress = parts.at(3);
        if (interfaceAddress.startsWith(QLatin1String("10.")) && !interfaceAddress.startsWith(QLatin1String("10.0.")))
            continue;
        return i;
    }
    return -1;
}

int findDefaultRouteVia(const QStringList &lines, const QString &gateway)
{
    for (int i = 0; i < lines.size(); ++i) {
        const QStringList parts = fields(lines.at(i));
        if (isDefaultRouteLine(parts) && parts.at(2) == gateway)
            return i;
    }
    return -1;
}

} // namespace RouteTable
