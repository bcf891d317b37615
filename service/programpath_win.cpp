#include "service/gatewaystate.h"
#include "service/programpath.h"

#include "common/windowssystem_win.h"
#include "service/toolrunner.h"

#include <aclapi.h>
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

namespace {

// Whether sid is LocalSystem's or the administrators group's.
bool isSystemOrAdmins(PSID sid)
{
    for (const WELL_KNOWN_SID_TYPE type : {WinLocalSystemSid, WinBuiltinAdministratorsSid}) {
        BYTE wellKnown[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof(wellKnown);
        if (sid != nullptr && IsValidSid(sid) && CreateWellKnownSid(type, nullptr, wellKnown, &size) &&
            EqualSid(sid, wellKnown))
            return true;
    }
    return false;
}

// Why an existing folder is not one only the system account and administrators control, or empty: a plain
// folder (no junction), owned by either, with a protected list that allows nobody else anything.
QString stateDirFault(const std::wstring &path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return QStringLiteral("not a plain folder");
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error =
        GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, &descriptor);
    if (error != ERROR_SUCCESS)
        return QStringLiteral("its access rules cannot be read (") + qt_error_string(int(error)) + QLatin1Char(')');
    QString fault;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!isSystemOrAdmins(owner))
        fault = QStringLiteral("owned by another account");
    else if (dacl == nullptr)
        fault = QStringLiteral("open to everyone");
    else if (!GetSecurityDescriptorControl(descriptor, &control, &revision) || !(control & SE_DACL_PROTECTED))
        fault = QStringLiteral("its access rules are inherited");
    for (DWORD i = 0; fault.isEmpty() && i < dacl->AceCount; ++i) {
        void *ace = nullptr;
        if (!GetAce(dacl, i, &ace)) {
            fault = QStringLiteral("its access rules cannot be read");
        } else if (static_cast<ACE_HEADER *>(ace)->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            if (!isSystemOrAdmins(&static_cast<ACCESS_ALLOWED_ACE *>(ace)->SidStart))
                fault = QStringLiteral("another account has access");
        } else if (static_cast<ACE_HEADER *>(ace)->AceType != ACCESS_DENIED_ACE_TYPE) {
            fault = QStringLiteral("it has access rules of another kind");
        }
    }
    LocalFree(descriptor);
    return fault;
}

} // namespace

bool PrepareStateDir(const QString &dir)
{
    if (dir.isEmpty())
        return false;
    // Full access for the system account and administrators only, inherited by the files made inside; made
    // here or, when someone else made the folder first, refused unless it has exactly such rules.
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
    if (made)
        return true;
    if (error != ERROR_ALREADY_EXISTS) {
        ToolLog(QStringLiteral("The state folder cannot be made: ") + dir + QStringLiteral(" (") +
                qt_error_string(int(error)) + QLatin1Char(')'));
        return false;
    }
    const QString fault = stateDirFault(path);
    if (fault.isEmpty())
        return true;
    ToolLog(QStringLiteral("The state folder is refused: ") + dir + QStringLiteral(" (") + fault + QLatin1Char(')'));
    return false;
}
