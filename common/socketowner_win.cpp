// winsock2.h must come before windows.h, which the Qt headers pull in.
#include <winsock2.h>

#include <windows.h>

#include <iphlpapi.h>
#include <tlhelp32.h>

#include "common/socketowner.h"

#include <QAbstractSocket>
#include <QHostAddress>

#include <vector>

namespace {

// Closes a handle when it goes out of scope.
struct HandleCloser
{
    HANDLE handle = nullptr;
    ~HandleCloser()
    {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};

// The process that owns the IPv4 connection from local:localPort to remote:remotePort; 0 when none does.
DWORD owningProcess(quint32 local, quint16 localPort, quint32 remote, quint16 remotePort)
{
    std::vector<DWORD> buffer(1024);
    ULONG size = ULONG(buffer.size() * sizeof(DWORD));
    DWORD result = ERROR_INSUFFICIENT_BUFFER;
    // The table may grow between the two calls.
    for (int attempt = 0; attempt < 4 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        buffer.resize(size / sizeof(DWORD) + 1);
        size = ULONG(buffer.size() * sizeof(DWORD));
        result = GetExtendedTcpTable(buffer.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_ALL, 0);
    }
    if (result != NO_ERROR)
        return 0;
    const auto *table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID *>(buffer.data());
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_TCPROW_OWNER_PID &row = table->table[i];
        if (ntohl(row.dwLocalAddr) == local && ntohs(u_short(row.dwLocalPort)) == localPort &&
            ntohl(row.dwRemoteAddr) == remote && ntohs(u_short(row.dwRemotePort)) == remotePort)
            return row.dwOwningPid;
    }
    return 0;
}

// The owner of the far end of socket (the entry whose local end is the socket's peer); 0 when unknown.
DWORD peerProcess(const QAbstractSocket &socket)
{
    bool ipv4 = false;
    const quint32 local = socket.localAddress().toIPv4Address(&ipv4);
    const quint32 peer = socket.peerAddress().toIPv4Address();
    return ipv4 && socket.state() == QAbstractSocket::ConnectedState
               ? owningProcess(peer, socket.peerPort(), local, socket.localPort())
               : 0;
}

DWORD parentProcess(DWORD pid)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    DWORD parent = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == pid) {
            parent = entry.th32ParentProcessID;
            break;
        }
    }
    CloseHandle(snapshot);
    return parent;
}

QString folderOf(const QString &program)
{
    return program.left(program.lastIndexOf(QLatin1Char('\\')));
}

// Start time and program of an open process; false when either cannot be read.
bool processFacts(HANDLE process, quint64 *started, QString *image)
{
    FILETIME creation, exit, kernel, user;
    if (!GetProcessTimes(process, &creation, &exit, &kernel, &user))
        return false;
    *started = (quint64(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
    wchar_t path[MAX_PATH * 2];
    DWORD length = DWORD(sizeof(path) / sizeof(path[0]));
    if (!QueryFullProcessImageNameW(process, 0, path, &length))
        return false;
    *image = QString::fromWCharArray(path, int(length));
    return true;
}

// A pid names whichever process has it now: a child counts only when it started after the service, from a
// program in the service program's own folder (the service's program itself, or a tool installed beside it
// such as the OpenVPN service's openvpn.exe), so that a reused parent pid does not pass. Fails closed when
// either process cannot be opened for these facts.
bool childOfService(DWORD child, DWORD service)
{
    HandleCloser childHandle{OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, child)};
    HandleCloser serviceHandle{OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, service)};
    quint64 childStarted = 0;
    quint64 serviceStarted = 0;
    QString childImage;
    QString serviceImage;
    return childHandle.handle != nullptr && serviceHandle.handle != nullptr &&
           processFacts(childHandle.handle, &childStarted, &childImage) &&
           processFacts(serviceHandle.handle, &serviceStarted, &serviceImage) && childStarted >= serviceStarted &&
           folderOf(childImage).compare(folderOf(serviceImage), Qt::CaseInsensitive) == 0;
}

// The security identifier of the local group named, on this machine only (a domain group of the same name
// does not count); empty when there is none.
std::vector<BYTE> localGroupSid(const QString &group)
{
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD computerLength = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(computer, &computerLength))
        return {};
    const std::wstring account =
        QString(QString::fromWCharArray(computer, int(computerLength)) + QLatin1Char('\\') + group).toStdWString();
    std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
    DWORD sidSize = DWORD(sid.size());
    wchar_t domain[256];
    DWORD domainSize = 256;
    SID_NAME_USE use = SidTypeUnknown;
    if (!LookupAccountNameW(nullptr, account.c_str(), sid.data(), &sidSize, domain, &domainSize, &use) ||
        use != SidTypeAlias)
        return {};
    return sid;
}

bool tokenIsMember(HANDLE identification, PSID sid)
{
    BOOL member = FALSE;
    return sid != nullptr && CheckTokenMembership(identification, sid, &member) && member;
}

// Whether the token is LocalSystem's, an elevated administrator's or a group member's.
bool tokenPermitted(HANDLE token, const QString &group)
{
    alignas(TOKEN_USER) BYTE userBuffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD needed = 0;
    BYTE system[SECURITY_MAX_SID_SIZE];
    DWORD systemSize = sizeof(system);
    if (GetTokenInformation(token, TokenUser, userBuffer, sizeof(userBuffer), &needed) &&
        CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemSize) &&
        EqualSid(reinterpret_cast<TOKEN_USER *>(userBuffer)->User.Sid, system))
        return true;
    // Membership is checked on an identification copy of the token; a filtered (unelevated) administrator
    // holds the administrators group for deny only and does not pass as one.
    HandleCloser identification;
    if (!DuplicateToken(token, SecurityIdentification, &identification.handle))
        return false;
    BYTE admins[SECURITY_MAX_SID_SIZE];
    DWORD adminsSize = sizeof(admins);
    if (CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &adminsSize) &&
        tokenIsMember(identification.handle, admins))
        return true;
    std::vector<BYTE> users = localGroupSid(group);
    return !users.empty() && tokenIsMember(identification.handle, users.data());
}

} // namespace

namespace SocketOwner {

bool peerHeldBy(const QAbstractSocket &socket, qint64 pid, QString *reason)
{
    const DWORD owner = peerProcess(socket);
    if (pid <= 0) {
        *reason = QStringLiteral("the service's process is not known");
    } else if (owner == 0) {
        *reason = QStringLiteral("the connection is not in the system's table");
    } else if (qint64(owner) == pid || (qint64(parentProcess(owner)) == pid && childOfService(owner, DWORD(pid)))) {
        return true;
    } else {
        *reason = QStringLiteral("another process holds the port");
    }
    return false;
}

QString serviceUsersGroup()
{
    return QStringLiteral("TOVRA VPN Users");
}

Caller peerCaller(const QAbstractSocket &socket, const QString &group)
{
    Caller caller;
    const DWORD owner = peerProcess(socket);
    if (owner == 0) {
        caller.name = QStringLiteral("unknown caller");
        caller.reason = QStringLiteral("the caller's connection is not in the system's table");
        return caller;
    }
    caller.id = owner;
    caller.name = QStringLiteral("pid %1").arg(owner);
    // The open handle keeps the process, and with it its pid; the connection must still be that process's.
    HandleCloser process{OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, owner)};
    HandleCloser token;
    if (process.handle == nullptr || peerProcess(socket) != owner ||
        !OpenProcessToken(process.handle, TOKEN_QUERY | TOKEN_DUPLICATE, &token.handle)) {
        caller.reason = caller.name + QStringLiteral(": the caller's process cannot be checked");
        return caller;
    }
    caller.permitted = tokenPermitted(token.handle, group);
    if (!caller.permitted)
        caller.reason =
            caller.name + QStringLiteral(" runs neither as LocalSystem nor as an administrator nor in group ") + group;
    return caller;
}

bool shutdownSending(QAbstractSocket &socket)
{
    return ::shutdown(SOCKET(socket.socketDescriptor()), SD_SEND) == 0;
}

} // namespace SocketOwner
