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
        result = GetExtendedTcpTable(buffer.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
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

} // namespace

namespace SocketOwner {

bool peerHeldBy(const QAbstractSocket &socket, qint64 pid, QString *reason)
{
    bool ipv4 = false;
    const quint32 local = socket.localAddress().toIPv4Address(&ipv4);
    const quint32 peer = socket.peerAddress().toIPv4Address();
    const DWORD owner = ipv4 && socket.state() == QAbstractSocket::ConnectedState
                            ? owningProcess(peer, socket.peerPort(), local, socket.localPort())
                            : 0;
    if (pid <= 0) {
        *reason = QStringLiteral("the service's process is not known");
    } else if (owner == 0) {
        *reason = QStringLiteral("the connection is not in the system's table");
    } else if (qint64(owner) == pid || qint64(parentProcess(owner)) == pid) {
        return true;
    } else {
        *reason = QStringLiteral("another process holds the port");
    }
    return false;
}

} // namespace SocketOwner
