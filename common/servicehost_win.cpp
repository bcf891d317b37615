// winsock2.h must come before windows.h, which the Qt headers pull in.
#include <winsock2.h>

#include <windows.h>

#include <aclapi.h>

#include "common/servicehost.h"

#include "common/servicecontroller.h"
#include "common/servicehost_p.h"
#include "common/windowssystem_win.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

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
    bool stopReported = false;     // SERVICE_STOPPED went out; no status may follow it
    bool startFailed = false;      // start() ended the run instead of listening
    bool handlerFailed = false;    // ServiceMain could not register its control handler
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

void logLater(const QString &message)
{
    postToMainThread([message] { serviceHost->log(message, ServiceHost::Error); });
}

bool isPending(DWORD state)
{
    return state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING || state == SERVICE_PAUSE_PENDING ||
           state == SERVICE_CONTINUE_PENDING;
}

// Tells the service control manager the new state. Refused (false) once the service is stopping, for every
// state but stopped, and after it has been reported stopped, for every state: a pause or continue handled
// late must not bring a stopping or stopped service back. Any thread.
bool reportStatus(DWORD state, DWORD exitCode = NO_ERROR, DWORD waitHint = 0)
{
    ServiceHostPlatform *p = serviceHost->platform;
    if (p->statusHandle == nullptr)
        return false;
    EnterCriticalSection(&p->statusLock);
    SERVICE_STATUS &status = p->status;
    const bool stopping = status.dwCurrentState == SERVICE_STOP_PENDING && state != SERVICE_STOPPED;
    if (p->stopReported || stopping) {
        LeaveCriticalSection(&p->statusLock);
        return false;
    }
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwControlsAccepted = 0;
    if (!isPending(state) && state != SERVICE_STOPPED) {
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
    status.dwCheckPoint = isPending(state) && state == status.dwCurrentState ? status.dwCheckPoint + 1 : 0;
    status.dwCurrentState = state;
    status.dwWaitHint = waitHint;
    if (state == SERVICE_STOPPED)
        p->stopReported = true;
    const bool reported = SetServiceStatus(p->statusHandle, &status) != FALSE;
    const DWORD error = GetLastError();
    LeaveCriticalSection(&p->statusLock);
    if (!reported && state != SERVICE_STOPPED)
        logLater(QStringLiteral("The service status cannot be set: %1").arg(qt_error_string(int(error))));
    return reported;
}

// Runs start() in an event loop of its own: a start() that cannot set up ends the run with
// QCoreApplication::exit() or quit(), which ends this loop too, so the loop tells whether it did.
bool startAndCheck()
{
    QEventLoop loop;
    bool started = false;
    QTimer::singleShot(0, &loop, [&loop, &started] {
        serviceHost->startService();
        started = loop.isRunning();
        loop.quit();
    });
    loop.exec();
    return started;
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
        if (!reportStatus(SERVICE_PAUSE_PENDING, NO_ERROR, 2000))
            return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
        postToMainThread([] {
            serviceHost->pauseService();
            reportStatus(serviceHost->isPaused() ? SERVICE_PAUSED : SERVICE_RUNNING);
        });
        return NO_ERROR;
    case SERVICE_CONTROL_CONTINUE:
        if (!reportStatus(SERVICE_CONTINUE_PENDING, NO_ERROR, 2000))
            return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
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
        // Nothing can report to the manager any more: the main thread ends the process.
        p->handlerFailed = true;
        postToMainThread([error] {
            serviceHost->log(
                QStringLiteral("The control handler cannot be registered: %1").arg(qt_error_string(int(error))),
                ServiceHost::Error);
            QCoreApplication::exit(1);
        });
        return;
    }
    reportStatus(SERVICE_START_PENDING, NO_ERROR, 10000);
    // Running only once start() listens; a start that fails ends the run and reports its exit code.
    postToMainThread([] {
        if (startAndCheck())
            reportStatus(SERVICE_RUNNING);
        else
            serviceHost->platform->startFailed = true;
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

// Lets interactive users (the client runs unelevated) start, stop (the client stops the helper at exit) and
// query the service, on top of the rights the manager's default security descriptor gives. Not pause: a paused
// helper would leave the client's commands unanswered.
DWORD grantInteractiveUsers(SC_HANDLE service)
{
    DWORD needed = 0;
    QueryServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER)
        return error;
    std::vector<BYTE> buffer(needed);
    if (!QueryServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, buffer.data(), needed, &needed))
        return GetLastError();
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(buffer.data(), &present, &dacl, &defaulted))
        return GetLastError();

    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(sid);
    if (!CreateWellKnownSid(WinInteractiveSid, nullptr, sid, &sidSize))
        return GetLastError();
    EXPLICIT_ACCESSW access = {};
    access.grfAccessPermissions = SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = NO_INHERITANCE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = reinterpret_cast<LPWSTR>(sid);
    PACL newDacl = nullptr;
    error = SetEntriesInAclW(1, &access, present ? dacl : nullptr, &newDacl);
    if (error != ERROR_SUCCESS)
        return error;

    SECURITY_DESCRIPTOR descriptor;
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION))
        error = GetLastError();
    else if (!SetSecurityDescriptorDacl(&descriptor, TRUE, newDacl, FALSE))
        error = GetLastError();
    else if (!SetServiceObjectSecurity(service, DACL_SECURITY_INFORMATION, &descriptor))
        error = GetLastError();
    LocalFree(newDacl);
    return error;
}

// Registers the service as an event source whose messages come from the program's own message table,
// so that its events read without "the description cannot be found".
DWORD registerEventSource(const QString &serviceName, const std::wstring &program)
{
    const std::wstring key = WindowsSystem::eventSourceKey(serviceName);
    HKEY handle = nullptr;
    DWORD error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                  nullptr, &handle, nullptr);
    if (error != ERROR_SUCCESS)
        return error;
    error =
        RegSetValueExW(handle, L"EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE *>(program.c_str()),
                       DWORD((program.size() + 1) * sizeof(wchar_t)));
    if (error == ERROR_SUCCESS) {
        const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
        error = RegSetValueExW(handle, L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&types),
                               sizeof(types));
    }
    RegCloseKey(handle);
    return error;
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
        const DWORD error = GetLastError();
        printError(QStringLiteral("The service control manager cannot be opened: %1").arg(qt_error_string(int(error))));
        return false;
    }
    const QString program = QDir::toNativeSeparators(QCoreApplication::applicationFilePath());
    const std::wstring path = QString(QLatin1Char('"') + program + QLatin1Char('"')).toStdWString();
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
        const DWORD error = GetLastError();
        printError(QStringLiteral("The service cannot be installed: %1").arg(qt_error_string(int(error))));
        CloseServiceHandle(manager);
        return false;
    }
    std::wstring description = q->serviceDescription().toStdWString();
    SERVICE_DESCRIPTIONW info;
    info.lpDescription = &description[0];
    if (!ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &info)) {
        const DWORD error = GetLastError();
        printError(QStringLiteral("The service description cannot be set: %1").arg(qt_error_string(int(error))));
    }
    // Without these rights the unelevated client could not start its service: undo the install instead.
    const DWORD grantError = grantInteractiveUsers(service);
    if (grantError != ERROR_SUCCESS) {
        printError(QStringLiteral("Interactive users cannot be allowed to control the service: %1")
                       .arg(qt_error_string(int(grantError))));
        if (!DeleteService(service)) {
            const DWORD error = GetLastError();
            printError(QStringLiteral("The service cannot be removed again: %1").arg(qt_error_string(int(error))));
        }
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
        return false;
    }
    const DWORD sourceError = registerEventSource(q->serviceName(), program.toStdWString());
    if (sourceError != ERROR_SUCCESS)
        printError(QStringLiteral("The service's event source cannot be registered: %1")
                       .arg(qt_error_string(int(sourceError))));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return true;
}

int ServiceHostPrivate::runService()
{
    platform->stoppedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (platform->stoppedEvent == nullptr) {
        const DWORD error = GetLastError();
        printError(QStringLiteral("The service dispatcher cannot be prepared: %1").arg(qt_error_string(int(error))));
        return 1;
    }
    InitializeCriticalSection(&platform->statusLock);
    serviceHost = this;
    HANDLE thread = CreateThread(nullptr, 0, dispatcherThread, nullptr, 0, nullptr);
    if (thread == nullptr) {
        const DWORD error = GetLastError();
        printError(QStringLiteral("The service dispatcher cannot be started: %1").arg(qt_error_string(int(error))));
        serviceHost = nullptr;
        DeleteCriticalSection(&platform->statusLock);
        CloseHandle(platform->stoppedEvent);
        platform->stoppedEvent = nullptr;
        return 1;
    }
    int code = runLoop(false);
    // A start that failed reports an error even when start() quit with 0.
    if (platform->startFailed && code == 0)
        code = 1;
    if (platform->startFailed)
        log(QStringLiteral("The service did not start (exit code %1).").arg(code), ServiceHost::Error);
    reportStatus(SERVICE_STOPPED, DWORD(code));
    SetEvent(platform->stoppedEvent);
    if (platform->handlerFailed) {
        // ServiceMain has returned without a handler; the dispatcher waits for a stop it will never get,
        // so the process ends without it.
        CloseHandle(thread);
    } else {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        DeleteCriticalSection(&platform->statusLock);
    }
    CloseHandle(platform->stoppedEvent);
    platform->stoppedEvent = nullptr;
    platform->statusHandle = nullptr;
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
    if (platform->eventSource == nullptr) {
        platform->eventSource = RegisterEventSourceW(nullptr, platform->name.c_str());
        if (platform->eventSource == nullptr) {
            const DWORD error = GetLastError();
            printError(QStringLiteral("The event log cannot be opened: %1").arg(qt_error_string(int(error))));
            return;
        }
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
    if (!ReportEventW(platform->eventSource, eventType, 0, WindowsSystem::ServiceEventMessageId, nullptr, 1, 0, strings,
                      nullptr)) {
        const DWORD error = GetLastError();
        printError(QStringLiteral("The event cannot be logged: %1").arg(qt_error_string(int(error))));
    }
}
