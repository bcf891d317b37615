// winsock2.h must come before windows.h, which the Qt headers pull in.
#include <winsock2.h>

#include <windows.h>

#include "common/servicehost.h"

#include "common/servicecontroller.h"
#include "common/servicehost_p.h"

#include <QCoreApplication>
#include <QDir>

#include <windows.h>
#include <winsock2.h>

#include <cstdio>
#include <functional>
#include <string>

class ServiceHostPlatform
{
public:
    std::wstring name;
    HANDLE eventSource = nullptr;
    bool logToStderr = false;

    // Running under the service control manager.
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    SERVICE_STATUS status = {};
    CRITICAL_SECTION statusLock;
    HANDLE stoppedEvent = nullptr; // set once stop() has run; ServiceMain returns then
    DWORD dispatcherError = ERROR_SUCCESS;
};

namespace {

// The host that runs as the service; the dispatcher's callbacks take no context of their own.
ServiceHostPrivate *serviceHost = nullptr;

void postToMainThread(std::function<void()> function)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(function), Qt::QueuedConnection);
}

void reportStatus(DWORD state, DWORD exitCode = NO_ERROR, DWORD waitHint = 0)
{
    ServiceHostPlatform *p = serviceHost->platform;
    if (p->statusHandle == nullptr)
        return;
    EnterCriticalSection(&p->statusLock);
    SERVICE_STATUS &status = p->status;
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = 0;
    if (state != SERVICE_START_PENDING && state != SERVICE_STOP_PENDING && state != SERVICE_STOPPED) {
        const ServiceHost::ServiceFlags flags = serviceHost->q->serviceFlags();
        if (!flags.testFlag(ServiceHost::CannotBeStopped))
            status.dwControlsAccepted |= SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
        if (flags.testFlag(ServiceHost::CanBeSuspended))
            status.dwControlsAccepted |= SERVICE_ACCEPT_PAUSE_CONTINUE;
    }
    if (exitCode != NO_ERROR) {
        status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
        status.dwServiceSpecificExitCode = exitCode;
    } else {
        status.dwWin32ExitCode = NO_ERROR;
        status.dwServiceSpecificExitCode = 0;
    }
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING ||
                         state == SERVICE_PAUSE_PENDING || state == SERVICE_CONTINUE_PENDING;
    status.dwCheckPoint = pending ? status.dwCheckPoint + 1 : 0;
    status.dwWaitHint = waitHint;
    SetServiceStatus(p->statusHandle, &status);
    LeaveCriticalSection(&p->statusLock);
}

// Runs on the dispatcher's thread: hands every request to the main thread.
DWORD WINAPI controlHandler(DWORD control, DWORD, LPVOID, LPVOID)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        reportStatus(SERVICE_STOP_PENDING, NO_ERROR, 5000);
        postToMainThread([] { QCoreApplication::quit(); });
        return NO_ERROR;
    case SERVICE_CONTROL_PAUSE:
        reportStatus(SERVICE_PAUSE_PENDING, NO_ERROR, 2000);
        postToMainThread([] {
            serviceHost->pauseService();
            reportStatus(serviceHost->isPaused() ? SERVICE_PAUSED : SERVICE_RUNNING);
        });
        return NO_ERROR;
    case SERVICE_CONTROL_CONTINUE:
        reportStatus(SERVICE_CONTINUE_PENDING, NO_ERROR, 2000);
        postToMainThread([] {
            serviceHost->resumeService();
            reportStatus(serviceHost->isPaused() ? SERVICE_PAUSED : SERVICE_RUNNING);
        });
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

// Called by the dispatcher on a thread of its own; returns once the main thread has stopped the service.
void WINAPI serviceMain(DWORD, LPWSTR *)
{
    ServiceHostPlatform *p = serviceHost->platform;
    p->statusHandle = RegisterServiceCtrlHandlerExW(p->name.c_str(), controlHandler, nullptr);
    if (p->statusHandle == nullptr) {
        const DWORD error = GetLastError();
        postToMainThread([error] {
            serviceHost->log(
                QStringLiteral("The control handler cannot be registered: %1").arg(qt_error_string(int(error))),
                ServiceHost::Error);
            QCoreApplication::exit(1);
        });
        return;
    }
    reportStatus(SERVICE_START_PENDING, NO_ERROR, 5000);
    postToMainThread([] {
        reportStatus(SERVICE_RUNNING);
        serviceHost->startService();
    });
    WaitForSingleObject(p->stoppedEvent, INFINITE);
}

DWORD WINAPI dispatcherThread(LPVOID)
{
    ServiceHostPlatform *p = serviceHost->platform;
    SERVICE_TABLE_ENTRYW table[] = {{&p->name[0], serviceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        p->dispatcherError = GetLastError();
        postToMainThread([] { QCoreApplication::exit(1); });
    }
    return 0;
}

BOOL WINAPI consoleHandler(DWORD type)
{
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        postToMainThread([] { QCoreApplication::quit(); });
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

ServiceHostPrivate::ServiceHostPrivate(ServiceHost *host) : q(host), platform(new ServiceHostPlatform)
{
    platform->name = host->serviceName().toStdWString();
}

ServiceHostPrivate::~ServiceHostPrivate()
{
    if (platform->eventSource != nullptr)
        DeregisterEventSource(platform->eventSource);
    delete platform;
}

bool ServiceHostPrivate::install(const QString &account, const QString &password)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (manager == nullptr) {
        printError(QStringLiteral("The service control manager cannot be opened: %1").arg(qt_error_string(-1)));
        return false;
    }
    const std::wstring path =
        (QLatin1Char('"') + QDir::toNativeSeparators(QCoreApplication::applicationFilePath()) + QLatin1Char('"'))
            .toStdWString();
    // A local account needs the ".\" prefix; an empty one is the system account.
    QString user = account;
    if (!user.isEmpty() && !user.contains(QLatin1Char('\\')) && !user.contains(QLatin1Char('@')))
        user.prepend(QStringLiteral(".\\"));
    const std::wstring wideUser = user.toStdWString();
    const std::wstring widePassword = password.toStdWString();
    SC_HANDLE service = CreateServiceW(
        manager, platform->name.c_str(), platform->name.c_str(), SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
        SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr, nullptr,
        user.isEmpty() ? nullptr : wideUser.c_str(), user.isEmpty() ? nullptr : widePassword.c_str());
    if (service == nullptr) {
        printError(QStringLiteral("The service cannot be installed: %1").arg(qt_error_string(-1)));
        CloseServiceHandle(manager);
        return false;
    }
    std::wstring description = q->serviceDescription().toStdWString();
    SERVICE_DESCRIPTIONW info;
    info.lpDescription = &description[0];
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &info))
        printError(QStringLiteral("The service description cannot be set: %1").arg(qt_error_string(-1)));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return true;
}

int ServiceHostPrivate::runService()
{
    serviceHost = this;
    InitializeCriticalSection(&platform->statusLock);
    platform->stoppedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, dispatcherThread, nullptr, 0, nullptr);
    if (platform->stoppedEvent == nullptr || thread == nullptr) {
        printError(QStringLiteral("The service dispatcher cannot be started: %1").arg(qt_error_string(-1)));
        if (platform->stoppedEvent != nullptr)
            CloseHandle(platform->stoppedEvent);
        DeleteCriticalSection(&platform->statusLock);
        serviceHost = nullptr;
        return 1;
    }
    int code = runLoop(false);
    reportStatus(SERVICE_STOPPED, DWORD(code));
    SetEvent(platform->stoppedEvent);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(platform->stoppedEvent);
    platform->stoppedEvent = nullptr;
    platform->statusHandle = nullptr;
    DeleteCriticalSection(&platform->statusLock);
    if (platform->dispatcherError != ERROR_SUCCESS) {
        printError(QStringLiteral("Not started by the service control manager (%1); run it with \"-e foreground\" "
                                  "to debug.")
                       .arg(qt_error_string(int(platform->dispatcherError))));
        code = 1;
    }
    serviceHost = nullptr;
    return code;
}

int ServiceHostPrivate::runForeground()
{
    platform->logToStderr = true;
    SetConsoleCtrlHandler(consoleHandler, TRUE);
    const int code = runLoop();
    SetConsoleCtrlHandler(consoleHandler, FALSE);
    return code;
}

void ServiceHostPrivate::log(const QString &message, ServiceHost::MessageType type)
{
    if (platform->logToStderr)
        std::fprintf(stderr, "%s: %s\n", qPrintable(q->serviceName()), qPrintable(message));
    if (platform->eventSource == nullptr)
        platform->eventSource = RegisterEventSourceW(nullptr, platform->name.c_str());
    if (platform->eventSource == nullptr) {
        printError(QStringLiteral("The event log cannot be opened: %1").arg(qt_error_string(-1)));
        return;
    }
    WORD eventType = EVENTLOG_SUCCESS;
    switch (type) {
    case ServiceHost::Error:
        eventType = EVENTLOG_ERROR_TYPE;
        break;
    case ServiceHost::Warning:
        eventType = EVENTLOG_WARNING_TYPE;
        break;
    case ServiceHost::Information:
        eventType = EVENTLOG_INFORMATION_TYPE;
        break;
    case ServiceHost::Success:
        eventType = EVENTLOG_SUCCESS;
        break;
    }
    const std::wstring text = message.toStdWString();
    LPCWSTR strings[] = {text.c_str()};
    ReportEventW(platform->eventSource, eventType, 0, 0, nullptr, 1, 0, strings, nullptr);
}
