#include "common/servicehost.h"

#include "common/servicecontroller.h"
#include "common/servicehost_p.h"
#include "common/serviceregistry_unix.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

using namespace ServiceRegistry;

namespace {

// Write end of the self-pipe; the handler only writes the signal number to it.
volatile sig_atomic_t signalPipeWrite = -1;

void onSignal(int signal)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    if (signalPipeWrite >= 0)
        (void)!write(signalPipeWrite, &byte, 1);
    errno = savedErrno;
}

const int handledSignals[] = {SIGTERM, SIGINT, SIGUSR1, SIGUSR2};

} // namespace

class ServiceHostPlatform
{
public:
    QByteArray logIdent;
    bool logOpen = false;
    bool logToStderr = false;
    bool tracked = false; // runs as the registered service, with a status file
    int pipeFds[2] = {-1, -1};
    QSocketNotifier *notifier = nullptr;
};

ServiceHostPrivate::ServiceHostPrivate(ServiceHost *host) : q(host), platform(new ServiceHostPlatform) {}

ServiceHostPrivate::~ServiceHostPrivate()
{
    if (platform->logOpen)
        closelog();
    delete platform;
}

namespace {

bool installSignalHandlers(ServiceHostPrivate *d)
{
    ServiceHostPlatform *p = d->platform;
    if (pipe2(p->pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    signalPipeWrite = p->pipeFds[1];
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : handledSignals)
        sigaction(signal, &action, nullptr);

    p->notifier = new QSocketNotifier(p->pipeFds[0], QSocketNotifier::Read);
    QObject::connect(p->notifier, &QSocketNotifier::activated, [d] {
        ServiceHostPlatform *p = d->platform;
        unsigned char received[64];
        ssize_t count;
        while ((count = read(p->pipeFds[0], received, sizeof received)) > 0) {
            for (ssize_t i = 0; i < count; ++i) {
                const int signal = received[i];
                if (signal == SIGTERM || signal == SIGINT) {
                    QCoreApplication::quit();
                } else if (signal == SIGUSR1 || signal == SIGUSR2) {
                    const bool changed = signal == SIGUSR1 ? d->pauseService() : d->resumeService();
                    if (changed && p->tracked)
                        writeState(d->q->registryDir(), d->q->serviceName(), State{getpid(), d->isPaused()});
                }
            }
        }
    });
    return true;
}

void removeSignalHandlers(ServiceHostPlatform *p)
{
    // A pause or resume request that arrives while the service ends must not kill the process.
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    for (int signal : handledSignals) {
        action.sa_handler = (signal == SIGUSR1 || signal == SIGUSR2) ? SIG_IGN : SIG_DFL;
        sigaction(signal, &action, nullptr);
    }
    signalPipeWrite = -1;
    delete p->notifier;
    p->notifier = nullptr;
    for (int &fd : p->pipeFds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

} // namespace

bool ServiceHostPrivate::install(const QString &account, const QString &password)
{
    Q_UNUSED(password)
    if (!account.isEmpty()) {
        printError(QStringLiteral("Services run under the account that starts them here; "
                                  "a named account cannot be installed."));
        return false;
    }
    if (!ServiceController::isValidServiceName(q->serviceName())) {
        printError(QStringLiteral("The service name is not usable as a file name."));
        return false;
    }
    ServiceController controller(q->serviceName());
    controller.setRegistryDir(q->registryDir());
    if (controller.isInstalled()) {
        printError(QStringLiteral("The service is already installed."));
        return false;
    }
    Registration registration;
    registration.name = q->serviceName();
    registration.program = QCoreApplication::applicationFilePath();
    registration.description = q->serviceDescription();
    registration.canBeSuspended = q->serviceFlags().testFlag(ServiceHost::CanBeSuspended);
    QString error;
    if (!writeRegistration(q->registryDir(), registration, &error)) {
        printError(QStringLiteral("The service cannot be installed: %1.").arg(error));
        return false;
    }
    return true;
}

int ServiceHostPrivate::runService()
{
    const QString dir = q->registryDir();
    const QString name = q->serviceName();
    Registration registration;
    if (!ServiceController::isValidServiceName(name) || !readRegistration(dir, name, &registration)) {
        printError(QStringLiteral("The service is not installed; install it with \"-i\" or run it with "
                                  "\"-e foreground\"."));
        return 1;
    }
    const QString self = QCoreApplication::applicationFilePath();
    if (QFileInfo(registration.program).canonicalFilePath() != self) {
        printError(QStringLiteral("The service is installed for %1, not for this program.").arg(registration.program));
        return 1;
    }
    Status status;
    if (readStatus(dir, name, &status) && status.pid != getpid() && isServiceProcess(status, registration)) {
        printError(QStringLiteral("The service is already running (process %1).").arg(status.pid));
        return 1;
    }
    status = Status();
    status.pid = getpid();
    status.startTime = processStartTime(status.pid);
    if (!writeStatus(dir, name, status)) {
        log(QStringLiteral("The service status file cannot be written."), ServiceHost::Error);
        return 1;
    }
    platform->tracked = true;
    if (!installSignalHandlers(this)) {
        log(QStringLiteral("Signal handlers cannot be installed."), ServiceHost::Error);
        removeStatus(dir, name, status.pid);
        return 1;
    }
    // From here on pause and resume requests reach the service.
    if (!writeState(dir, name, State{status.pid, false}))
        log(QStringLiteral("The service state file cannot be written."), ServiceHost::Warning);
    const int code = runLoop();
    removeSignalHandlers(platform);
    removeStatus(dir, name, status.pid);
    platform->tracked = false;
    return code;
}

int ServiceHostPrivate::runForeground()
{
    platform->logToStderr = true;
    if (platform->logOpen) {
        closelog();
        platform->logOpen = false;
    }
    if (!installSignalHandlers(this)) {
        printError(QStringLiteral("Signal handlers cannot be installed."));
        return 1;
    }
    const int code = runLoop();
    removeSignalHandlers(platform);
    return code;
}

void ServiceHostPrivate::log(const QString &message, ServiceHost::MessageType type)
{
    if (!platform->logOpen) {
        // openlog keeps the pointer, so the ident lives in the platform part.
        platform->logIdent = q->serviceName().toUtf8();
        openlog(platform->logIdent.constData(), LOG_PID | (platform->logToStderr ? LOG_PERROR : 0), LOG_DAEMON);
        platform->logOpen = true;
    }
    int priority = LOG_NOTICE;
    switch (type) {
    case ServiceHost::Error:
        priority = LOG_ERR;
        break;
    case ServiceHost::Warning:
        priority = LOG_WARNING;
        break;
    case ServiceHost::Information:
        priority = LOG_INFO;
        break;
    case ServiceHost::Success:
        priority = LOG_NOTICE;
        break;
    }
    syslog(priority, "%s", message.toUtf8().constData());
}
