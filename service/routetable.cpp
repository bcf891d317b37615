#include "service/routetable.h"

namespace RouteTable {

QStringList Fields(const QString &line)
{
    return line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool IsDefaultRouteLine(const QStringList &fields)
{
    return fields.size() == 5 && fields.at(0) == QLatin1String("0.0.0.0");
}

int FindDefaultRoute(const QStringList &lines)
{
    for (int i = 0; i < lines.size(); ++i) {
        const QStringList fields = Fields(lines.at(i));
        if (!IsDefaultRouteLine(fields))
            continue;
        const QString &interfaceAddress = fields.at(3);
        if (interfaceAddress.startsWith(QLatin1String("10.")) && !interfaceAddress.startsWith(QLatin1String("10.0.")))
            continue;
        return i;
    }
    return -1;
}

int FindDefaultRouteVia(const QStringList &lines, const QString &gateway)
{
    for (int i = 0; i < lines.size(); ++i) {
        const QStringList fields = Fields(lines.at(i));
        if (IsDefaultRouteLine(fields) && fields.at(2) == gateway)
            return i;
    }
    return -1;
}

} // namespace RouteTable
