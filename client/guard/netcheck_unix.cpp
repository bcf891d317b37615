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
    // One echo request, waiting at most two seconds for the answer; ping's own output is not the client's.
    QProcess ping;
    ping.setStandardOutputFile(QProcess::nullDevice());
    ping.setStandardErrorFile(QProcess::nullDevice());
    ping.start(QStringLiteral("ping"),
               {QStringLiteral("-c"), QStringLiteral("1"), QStringLiteral("-W"), QStringLiteral("2"), host});
    if (!ping.waitForStarted()) {
        qDebug().noquote() << QStringLiteral("Could not run ping: ") + ping.errorString();
        return false;
    }
    if (!ping.waitForFinished(10000)) {
        ping.kill();
        ping.waitForFinished();
        return false;
    }
    return ping.exitStatus() == QProcess::NormalExit && ping.exitCode() == 0;
}
