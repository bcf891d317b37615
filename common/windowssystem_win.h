#pragma once

// Helpers shared by the Windows backends of both programs.

#include <winsock2.h>

#include <windows.h>

#include <QDebug>
#include <QString>

#include <string>

namespace WindowsSystem {

// Full path of a file in the Windows system folder, so that no copy in the program's or the current folder
// is run or loaded instead. Empty, and logged, when the folder cannot be read.
inline QString systemFilePath(const QString &fileName)
{
    wchar_t buffer[MAX_PATH];
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
    const DWORD error = GetLastError();
    if (length == 0 || length >= MAX_PATH) {
        qDebug().noquote() << "The system folder cannot be read:"
                           << (length == 0 ? qt_error_string(int(error)) : QStringLiteral("path too long"));
        return QString();
    }
    return QString::fromWCharArray(buffer, int(length)) + QLatin1Char('\\') + fileName;
}

// The event source of a service: its registry key below HKEY_LOCAL_MACHINE, and the one message of the
// service program's message table ("%1", see service/tovravpnservice.rc) that every event uses.
constexpr DWORD ServiceEventMessageId = 1;

inline std::wstring eventSourceKey(const QString &serviceName)
{
    return QString(QStringLiteral("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\") + serviceName)
        .toStdWString();
}

} // namespace WindowsSystem
