#include "api/tovraipmanager.h"

#include <QDebug>
#include <QNetworkInterface>
#include <QProcess>

bool IsInternetConnected()
{
    // Connected when some interface other than loopback is up, has a carrier and holds an address
    // beyond the link-local ones every interface gets by itself.
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        const QNetworkInterface::InterfaceFlags flags = interface.flags();
        if (flags.testFlag(QNetworkInterface::IsLoopBack) || !flags.testFlag(QNetworkInterface::IsUp) ||
            !flags.testFlag(QNetworkInterface::IsRunning))
            continue;
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            if (!entry.ip().isLinkLocal())
                return true;
        }
    }
    return false;
}

bool CheckActiveNetwork(const QString &host)
{
    if (host.isEmpty()) {
        qDebug() << "No host to ping";
        return false;
    }
    // One echo request, waiting at most two seconds for the answer.
    return QProcess::execute(QStringLiteral("ping"), {QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-W"),
                                                      QStringLiteral("2"), host}) == 0;
}
