// winsock2.h must come before windows.h, which the Qt headers pull in.
#include <winsock2.h>

#include <windows.h>

#include "common/servicecontroller.h"

#include "common/windowssystem_win.h"

#include <QDebug>
#include <QDir>
#include <QThread>

#include <string>
#include <vector>

namespace {

// Closes a service control manager handle when it goes out of scope.
class ScHandle
{
public:
    explicit ScHandle(SC_HANDLE handle = nullptr) : m_handle(handle) {}
    ~ScHandle()
    {
        if (m_handle != nullptr)
            CloseServiceHandle(m_handle);
    }
    ScHandle(const ScHandle &) = delete;
    ScHandle &operator=(const ScHandle &) = delete;

    SC_HANDLE get() const { return m_handle; }
    void reset(SC_HANDLE handle)
    {
        if (m_handle != nullptr)
            CloseServiceHandle(m_handle);
        m_handle = handle;
    }
    explicit operator bool() const { return m_handle != nullptr; }

private:
    SC_HANDLE m_handle;
};

QString errorText(DWORD code)
{
    return qt_error_string(int(code));
}

// Opens the named service with the given access; logs (unless quiet) and returns false on failure.
bool openService(const QString &name, DWORD access, ScHandle *manager, ScHandle *service, bool quiet = false)
{
    manager->reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!*manager) {
        const DWORD error = GetLastError();
        if (!quiet)
            qDebug().noquote() << "Service control manager cannot be opened:" << errorText(error);
        return false;
    }
    const std::wstring wideName = name.toStdWString();
    service->reset(OpenServiceW(manager->get(), wideName.c_str(), access));
    if (!*service) {
        const DWORD error = GetLastError();
        if (!quiet)
            qDebug().noquote() << "Service" << name << "cannot be opened:" << errorText(error);
        return false;
    }
    return true;
}

bool queryStatus(SC_HANDLE service, SERVICE_STATUS *status, bool quiet = false)
{
    if (!QueryServiceStatus(service, status)) {
        const DWORD error = GetLastError();
        if (!quiet)
            qDebug().noquote() << "Service status cannot be read:" << errorText(error);
        return false;
    }
    return true;
}

// Removes the service's event source when it names the service's own program.
void removeEventSource(const QString &name, const QString &program)
{
    const std::wstring key = WindowsSystem::eventSourceKey(name);
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, &handle) != ERROR_SUCCESS)
        return;
    wchar_t file[MAX_PATH + 1] = {};
    DWORD size = sizeof(file) - sizeof(wchar_t);
    DWORD type = 0;
    const LSTATUS result =
        RegQueryValueExW(handle, L"EventMessageFile", nullptr, &type, reinterpret_cast<BYTE *>(file), &size);
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || program.isEmpty() ||
        QString::fromWCharArray(file).compare(QDir::toNativeSeparators(program), Qt::CaseInsensitive) != 0)
        return;
    const LSTATUS removed = RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
    if (removed != ERROR_SUCCESS)
        qDebug().noquote() << "Event source of" << name << "cannot be removed:" << errorText(DWORD(removed));
}

// Sends a control and waits, ten checks 200 ms apart, for the wanted state.
bool controlAndWait(const QString &name, DWORD access, DWORD control, DWORD wanted, const char *what)
{
    ScHandle manager;
    ScHandle service;
    if (!openService(name, access | SERVICE_QUERY_STATUS, &manager, &service))
        return false;
    SERVICE_STATUS status;
    if (!ControlService(service.get(), control, &status)) {
        const DWORD error = GetLastError();
        qDebug().noquote() << "Service" << name << "cannot" << what << ":" << errorText(error);
        return false;
    }
    bool reached = status.dwCurrentState == wanted;
    for (int i = 0; !reached && i < 10; ++i) {
        QThread::msleep(200);
        if (!queryStatus(service.get(), &status))
            break;
        reached = status.dwCurrentState == wanted;
    }
    if (!reached)
        qDebug().noquote() << "Service" << name << "did not" << what << "in time.";
    return reached;
}

} // namespace

QString ServiceController::defaultRegistryDir()
{
    return QString();
}

bool ServiceController::isInstalled() const
{
    ScHandle manager;
    ScHandle service;
    return openService(m_name, SERVICE_QUERY_STATUS, &manager, &service, true);
}

// A service still starting is not running yet: it reports running only once its start has succeeded, and
// stopped, with its own exit code, when the start failed.
bool ServiceController::isRunning() const
{
    ScHandle manager;
    ScHandle service;
    SERVICE_STATUS status;
    if (!openService(m_name, SERVICE_QUERY_STATUS, &manager, &service, true) || !queryStatus(service.get(), &status))
        return false;
    if (status.dwCurrentState == SERVICE_STOPPED && status.dwWin32ExitCode != NO_ERROR) {
        const DWORD code = status.dwWin32ExitCode == ERROR_SERVICE_SPECIFIC_ERROR ? status.dwServiceSpecificExitCode
                                                                                  : status.dwWin32ExitCode;
        qDebug().noquote() << "Service" << m_name << "stopped with exit code" << code;
    }
    return status.dwCurrentState != SERVICE_STOPPED && status.dwCurrentState != SERVICE_START_PENDING;
}

qint64 ServiceController::processId() const
{
    ScHandle manager;
    ScHandle service;
    SERVICE_STATUS_PROCESS status;
    DWORD needed = 0;
    if (!openService(m_name, SERVICE_QUERY_STATUS, &manager, &service, true) ||
        !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&status), sizeof(status),
                              &needed))
        return 0;
    return status.dwCurrentState == SERVICE_STOPPED ? 0 : qint64(status.dwProcessId);
}

QString ServiceController::serviceFilePath() const
{
    ScHandle manager;
    ScHandle service;
    if (!openService(m_name, SERVICE_QUERY_CONFIG, &manager, &service, true))
        return QString();
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    const DWORD sizeError = GetLastError();
    if (sizeError != ERROR_INSUFFICIENT_BUFFER || needed == 0)
        return QString();
    // DWORD elements keep the record's alignment.
    std::vector<DWORD> buffer(needed / sizeof(DWORD) + 1);
    auto *config = reinterpret_cast<QUERY_SERVICE_CONFIGW *>(buffer.data());
    if (!QueryServiceConfigW(service.get(), config, DWORD(buffer.size() * sizeof(DWORD)), &needed)) {
        const DWORD error = GetLastError();
        qDebug().noquote() << "Configuration of service" << m_name << "cannot be read:" << errorText(error);
        return QString();
    }
    QString path = QString::fromWCharArray(config->lpBinaryPathName);
    // The registered command line quotes the program path.
    if (path.startsWith(QLatin1Char('"'))) {
        const int end = path.indexOf(QLatin1Char('"'), 1);
        path = end > 0 ? path.mid(1, end - 1) : path.mid(1);
    }
    return path;
}

bool ServiceController::start(const QStringList &arguments)
{
    ScHandle manager;
    ScHandle service;
    if (!openService(m_name, SERVICE_START, &manager, &service))
        return false;
    std::vector<std::wstring> words;
    for (const QString &argument : arguments)
        words.push_back(argument.toStdWString());
    std::vector<LPCWSTR> pointers;
    for (const std::wstring &word : words)
        pointers.push_back(word.c_str());
    if (!StartServiceW(service.get(), DWORD(pointers.size()), pointers.empty() ? nullptr : pointers.data())) {
        const DWORD error = GetLastError();
        // A start already under way counts as accepted; the caller waits for it to finish.
        if (error == ERROR_SERVICE_ALREADY_RUNNING) {
            qDebug().noquote() << "Service" << m_name << "is already starting or running.";
            return true;
        }
        qDebug().noquote() << "Service" << m_name << "cannot be started:" << errorText(error);
        return false;
    }
    return true;
}

bool ServiceController::stop()
{
    return controlAndWait(m_name, SERVICE_STOP, SERVICE_CONTROL_STOP, SERVICE_STOPPED, "stop");
}

bool ServiceController::pause()
{
    return controlAndWait(m_name, SERVICE_PAUSE_CONTINUE, SERVICE_CONTROL_PAUSE, SERVICE_PAUSED, "pause");
}

bool ServiceController::resume()
{
    return controlAndWait(m_name, SERVICE_PAUSE_CONTINUE, SERVICE_CONTROL_CONTINUE, SERVICE_RUNNING, "resume");
}

bool ServiceController::uninstall()
{
    const QString program = serviceFilePath();
    ScHandle manager;
    ScHandle service;
    if (!openService(m_name, DELETE, &manager, &service))
        return false;
    if (!DeleteService(service.get())) {
        const DWORD error = GetLastError();
        qDebug().noquote() << "Service" << m_name << "cannot be uninstalled:" << errorText(error);
        return false;
    }
    removeEventSource(m_name, program);
    return true;
}
