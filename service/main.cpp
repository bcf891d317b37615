#include "common/servicecontroller.h"
#include "service/httpservice.h"
#include "service/programpath.h"
#include "service/tcpdaemon.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const char *wasOrWasNot(bool done)
{
    return done ? "was" : "was not";
}

// Takes "-statedir FOLDER" and "-tooldir FOLDER" (tests, diagnosis) out of the arguments.
std::vector<char *> takeSettings(int argc, char *argv[], TcpDaemon::Settings *settings)
{
    std::vector<char *> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (i + 1 < argc && std::strcmp(argv[i], "-statedir") == 0)
            settings->stateDir = QString::fromLocal8Bit(argv[++i]);
        else if (i + 1 < argc && std::strcmp(argv[i], "-tooldir") == 0)
            settings->extraToolDirs << QString::fromLocal8Bit(argv[++i]);
        else
            rest.push_back(argv[i]);
    }
    rest.push_back(nullptr);
    return rest;
}

// Puts back the default routes a kill switch took away and lifts its firewall block, for a user left offline.
int restoreByHand(int argc, char *argv[], const TcpDaemon::Settings &settings)
{
    QCoreApplication app(argc, argv);
    TcpDaemon daemon(settings);
    const bool saved = daemon.loadGatewayState();
    bool ok = true;
    if (saved) {
        // Lifts the block too.
        const QString reply = daemon.runCommand(QStringLiteral("RESTORE"));
        std::printf("%s\n", reply.toLocal8Bit().constData());
        ok = reply.startsWith(QLatin1String("SRV SUCCESS")) ||
             reply.startsWith(QLatin1String("SRV ERROR RESTORE: Default gateway already exists"));
    } else {
        std::printf("No saved default gateway found in %s.\n", qPrintable(daemon.stateFilePath()));
    }
    QString status = daemon.runCommand(QStringLiteral("GUARD_STATUS"));
    if (!saved) {
        // A block whose state file is lost is still found by its name.
        if (!status.endsWith(QLatin1String(": blocking")))
            return 1;
        daemon.runCommand(QStringLiteral("RESTORE"));
        status = daemon.runCommand(QStringLiteral("GUARD_STATUS"));
    }
    if (status.startsWith(QLatin1String("SRV ERROR")))
        std::printf("%s\n", status.toLocal8Bit().constData());
    else
        std::printf("Kill switch firewall block %s lifted.\n", wasOrWasNot(status.endsWith(QLatin1String(": open"))));
    return ok && status.endsWith(QLatin1String(": open")) ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    TcpDaemon::Settings settings;
    std::vector<char *> arguments = takeSettings(argc, argv, &settings);
    argc = int(arguments.size()) - 1;
    argv = arguments.data();

    if (argc == 2) {
        if (std::strcmp(argv[1], "-install") == 0) {
            const bool installed = ServiceController::install(ServiceProgramPath(), QString(), QString());
            std::printf("TOVRA VPN service %s installed.\n", wasOrWasNot(installed));
        } else if (std::strcmp(argv[1], "-remove") == 0) {
            ServiceController controller(QStringLiteral("TovraVPNService"));
            std::printf("TOVRA VPN service %s stopped.\n", wasOrWasNot(controller.stop()));
            std::fflush(stdout);
            std::printf("TOVRA VPN service %s uninstalled.\n", wasOrWasNot(controller.uninstall()));
        } else if (std::strcmp(argv[1], "-restore") == 0) {
            return restoreByHand(argc, argv, settings);
        } else {
            std::printf("Wrong argument passed. Exiting...");
        }
        return 0;
    }

    HttpService service(argc, argv, QStringLiteral("TovraVPNService"), settings);
    service.setServiceDescription(QStringLiteral("TOVRA VPN Service"));
    service.setServiceFlags(ServiceHost::CanBeSuspended);
    return service.exec();
}
