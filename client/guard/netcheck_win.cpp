// winsock2.h has to come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include "api/tovraipmanager.h"
#include "common/windowssystem_win.h"

#include <QDebug>
#include <QLibrary>
#include <QProcess>

namespace {

// ping answers within its own four seconds; name resolution comes on top.
constexpr int PingTimeoutMs = 30000;

} // namespace

bool IsInternetConnected()
{
    using InternetGetConnectedStateFn = BOOL(WINAPI *)(LPDWORD, DWORD);
    const QString path = WindowsSystem::systemFilePath(QStringLiteral("wininet.dll"));
    if (path.isEmpty())
        return false;
    QLibrary wininet(path);
    const auto getConnectedState =
        reinterpret_cast<InternetGetConnectedStateFn>(wininet.resolve("InternetGetConnectedState"));
    if (!getConnectedState) {
        qDebug().noquote() << QStringLiteral("Can't load InternetGetConnectedState: ") + wininet.errorString();
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
    const QString ping = WindowsSystem::systemFilePath(QStringLiteral("ping.exe"));
    if (ping.isEmpty())
        return false;
    // IPv4, whose echo replies carry the TTL= that tells them apart from error answers.
    QProcess process;
    process.start(ping, {QStringLiteral("-4"), QStringLiteral("-n"), QStringLiteral("1"), host});
    if (!process.waitForStarted(PingTimeoutMs)) {
        qDebug().noquote() << QStringLiteral("ping cannot be started: ") + process.errorString();
        return false;
    }
    if (!process.waitForFinished(PingTimeoutMs)) {
        qDebug().noquote() << QStringLiteral("ping of %1 timed out").arg(host);
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    // ping exits with 0 for "Destination host unreachable" from a router too; only an echo reply counts.
    const QByteArray output = process.readAllStandardOutput();
    const bool replied =
        process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 && output.contains("TTL=");
    if (!replied)
        qDebug().noquote() << QStringLiteral("No echo reply from ") + host;
    return replied;
}
