#include "common/servicecontroller.h"
#include "service/httpservice.h"
#include "service/programpath.h"

#include <cstdio>
#include <cstring>

namespace {

const char *wasOrWasNot(bool done)
{
    return done ? "was" : "was not";
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 2) {
        if (std::strcmp(argv[1], "-install") == 0) {
            const bool installed = ServiceController::install(ServiceProgramPath(), QString(), QString());
            std::printf("TOVRA VPN service %s installed.\n", wasOrWasNot(installed));
        } else if (std::strcmp(argv[1], "-remove") == 0) {
            ServiceController controller(QStringLiteral("TovraVPNService"));
            std::printf("TOVRA VPN service %s stopped.\n", wasOrWasNot(controller.stop()));
            std::fflush(stdout);
            std::printf("TOVRA VPN service %s uninstalled.\n", wasOrWasNot(controller.uninstall()));
        } else {
            std::printf("Wrong argument passed. Exiting...");
        }
        return 0;
    }

    HttpService service(argc, argv, QStringLiteral("TovraVPNService"));
    service.setServiceDescription(QStringLiteral("TOVRA VPN Service"));
    service.setServiceFlags(ServiceHost::CanBeSuspended);
    return service.exec();
}
