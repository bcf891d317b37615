// winsock2.h has to come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include "api/tovraipmanager.h"

#include <QDebug>
#include <QLibrary>
#include <QProcess>

bool IsInternetConnected()
{
    using InternetGetConnectedStateFn = BOOL(WINAPI *)(LPDWORD, DWORD);
    QLibrary wininet(QStringLiteral("wininet"));
    const auto getConnectedState =
        reinterpret_cast<InternetGetConnectedStateFn>(wininet.resolve("InternetGetConnectedState"));
    if (!getConnectedState) {
        qDebug().noquote() << "Can't load InternetGetConnectedState:" << wininet.errorString();
        return false;
    }
    DWORD flags = 0;
    return getConnectedState(&flags, 0) != 0;
}

bool CheckActiveNetwork(const QString &host)
{
    if (host.isEmpty()) {
        qDebug() << "No host to ping";
        return false;
    }
    return QProcess::execute(QStringLiteral("cmd.exe"), {QStringLiteral("/c"), QStringLiteral("ping"),
                                                         QStringLiteral("-n"), QStringLiteral("1"), host}) == 0;
}
