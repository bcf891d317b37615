// winsock2.h must come before windows.h, which the Qt headers pull in.
#include <winsock2.h>

#include <windows.h>

#include "common/servicecontroller.h"

#include <QDebug>
#include <QThread>

#include <windows.h>
#include <winsock2.h>

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
        if (!quiet)
            qDebug().noquote() << "Service control manager cannot be opened:" << errorText(GetLastError());
        return false;
    }
    const std::wstring wideName = name.toStdWString();
    service->reset(OpenServiceW(manager->get(), wideName.c_str(), access));
    if (!*service) {
        if (!quiet)
            qDebug().noquote() << "Service" << name << "cannot be opened:" << errorText(GetLastError());
        return false;
    }
    return true;
}

bool currentState(SC_HANDLE service, DWORD *state)
{
    SERVICE_STATUS status;
    if (!QueryServiceStatus(service, &status))
        return false;
    *state = status.dwCurrentState;
    return true;
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
        qDebug().noquote() << "Service" << name << "cannot" << what << ":" << errorText(GetLastError());
        return false;
    }
    bool reached = status.dwCurrentState == wanted;
    for (int i = 0; !reached && i < 10; ++i) {
        QThread::msleep(200);
        DWORD state = 0;
        if (!currentState(service.get(), &state))
            break;
        reached = state == wanted;
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

bool ServiceController::isRunning() const
{
    ScHandle manager;
    ScHandle service;
    DWORD state = SERVICE_STOPPED;
    return openService(m_name, SERVICE_QUERY_STATUS, &manager, &service, true) && currentState(service.get(), &state) &&
           state != SERVICE_STOPPED;
}

QString ServiceController::serviceFilePath() const
{
    ScHandle manager;
    ScHandle service;
    if (!openService(m_name, SERVICE_QUERY_CONFIG, &manager, &service, true))
        return QString();
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0)
        return QString();
    std::vector<char> buffer(needed);
    auto *config = reinterpret_cast<QUERY_SERVICE_CONFIGW *>(buffer.data());
    if (!QueryServiceConfigW(service.get(), config, needed, &needed))
        return QString();
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
        qDebug().noquote() << "Service" << m_name << "cannot be started:" << errorText(GetLastError());
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
    ScHandle manager;
    ScHandle service;
    if (!openService(m_name, DELETE, &manager, &service))
        return false;
    if (!DeleteService(service.get())) {
        qDebug().noquote() << "Service" << m_name << "cannot be uninstalled:" << errorText(GetLastError());
        return false;
    }
    return true;
}
