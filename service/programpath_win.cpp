#include "service/gatewaystate.h"
#include "service/programpath.h"

#include "common/windowssystem_win.h"
#include "service/toolrunner.h"

#include <sddl.h>
#include <shlobj.h>

#include <QDir>

QString ServiceProgramPath()
{
    // Found by the process launcher in the folder of the running program.
    return QStringLiteral("TovraVPNService.exe");
}

QString DefaultStateDir()
{
    PWSTR folder = nullptr;
    if (SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &folder) != S_OK) {
        CoTaskMemFree(folder);
        ToolLog(QStringLiteral("The ProgramData folder cannot be found"));
        return QString();
    }
    const QString path = QDir::fromNativeSeparators(QString::fromWCharArray(folder));
    CoTaskMemFree(folder);
    return path + QStringLiteral("/TOVRA VPN");
}

bool PrepareStateDir(const QString &dir)
{
    if (dir.isEmpty())
        return false;
    if (QDir(dir).exists())
        return true;
    // Full access for the system account and administrators only, inherited by the files made inside.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        ToolLog(QStringLiteral("The state folder's access rules cannot be made: ") +
                qt_error_string(int(GetLastError())));
        return false;
    }
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = descriptor;
    const std::wstring path = QDir::toNativeSeparators(dir).toStdWString();
    const bool made = CreateDirectoryW(path.c_str(), &attributes) != 0;
    const DWORD error = GetLastError();
    LocalFree(descriptor);
    if (!made)
        ToolLog(QStringLiteral("The state folder cannot be made: ") + dir + QStringLiteral(" (") +
                qt_error_string(int(error)) + QLatin1Char(')'));
    return made;
}
