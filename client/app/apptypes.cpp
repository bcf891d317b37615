#include "app/apptypes.h"

#include <QFile>
#include <QTextStream>

QString ProtocolToString(int protocol)
{
    switch (protocol) {
    case OpenVPN:
        return QStringLiteral("OpenVPN");
    case IKEv2:
        return QStringLiteral("IKEv2");
    case L2TP:
        return QStringLiteral("L2TP");
    case PPTP:
        return QStringLiteral("PPtP");
    default:
        return QStringLiteral("Auto");
    }
}

ProtocolType ProtocolFromString(const QString &text)
{
    const QString upper = text.toUpper();
    if (upper == QLatin1String("OPENVPN"))
        return OpenVPN;
    if (upper == QLatin1String("IKEV2"))
        return IKEv2;
    if (upper == QLatin1String("L2TP"))
        return L2TP;
    if (upper == QLatin1String("PPTP"))
        return PPTP;
    return Automatic;
}

QString LoginMethodToString(int method)
{
    switch (method) {
    case LoginEmail:
        return QStringLiteral("EMAIL");
    case LoginFacebook:
        return QStringLiteral("FACEBOOK");
    case LoginGoogle:
        return QStringLiteral("GOOGLE");
    default:
        return QStringLiteral("Email");
    }
}

LoginMethod LoginMethodFromString(const QString &text)
{
    const QString upper = text.toUpper();
    if (upper == QLatin1String("FACEBOOK"))
        return LoginFacebook;
    if (upper == QLatin1String("GOOGLE"))
        return LoginGoogle;
    return LoginEmail;
}

QString ReadAppVersion()
{
    QFile file(QStringLiteral(":/version/version.pri"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    const QString line = QTextStream(&file).readLine();
    return line.section(QLatin1Char('='), 1, 1).trimmed();
}

QString FormatVersion(const QString &version)
{
    const int dot = version.lastIndexOf(QLatin1Char('.'));
    // Without a build part there is nothing to put in brackets.
    if (dot < 0)
        return version;
    return QStringLiteral("%1 (%2)").arg(version.left(dot), version.mid(dot + 1));
}
