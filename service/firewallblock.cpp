#include "service/firewallblock.h"

#include "service/routetool.h"

#include <QRegularExpression>
#include <QStringList>

FirewallBlock::~FirewallBlock() = default;

QString GuardServer::toText() const
{
    QString text = address.toString() + QLatin1Char(' ') + protocol + QLatin1Char(' ') + QString::number(port);
    if (!device.isEmpty())
        text += QLatin1Char(' ') + device;
    return text;
}

bool GuardServer::fromWords(const QStringList &words, GuardServer *server)
{
    static const QRegularExpression portDigits(QStringLiteral("^[1-9][0-9]{0,4}$"));
    if (words.size() < 3 || words.size() > 4)
        return false;
    GuardServer result;
    if (!ParseAddressLiteral(words.at(0), &result.address) || result.address.isLoopback() ||
        result.address.isBroadcast())
        return false;
    if (words.at(1) != QLatin1String("udp") && words.at(1) != QLatin1String("tcp"))
        return false;
    result.protocol = words.at(1);
    const uint port = words.at(2).toUInt();
    if (!portDigits.match(words.at(2)).hasMatch() || port > 65535)
        return false;
    result.port = quint16(port);
    if (words.size() == 4) {
        if (!IsDeviceName(words.at(3)))
            return false;
        result.device = words.at(3);
    }
    *server = result;
    return true;
}
