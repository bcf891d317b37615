#include "common/socketowner.h"

#include <QAbstractSocket>
#include <QFile>
#include <QHostAddress>

#include <arpa/inet.h>
#include <cerrno>
#include <dirent.h>
#include <unistd.h>

namespace {

struct TcpEntry
{
    quint64 inode = 0; // 0 while the connection waits to be accepted
    uint uid = 0;
};

// "0100007F:CB99": the address as the kernel stores it (network order), the port in host order.
bool sameEndpoint(const QByteArray &text, quint32 address, quint16 port)
{
    const QList<QByteArray> parts = text.split(':');
    bool addressOk = false;
    bool portOk = false;
    return parts.size() == 2 && ntohl(parts.at(0).toUInt(&addressOk, 16)) == address &&
           parts.at(1).toUInt(&portOk, 16) == port && addressOk && portOk;
}

// The socket of this network namespace whose local end is local:localPort and remote end remote:remotePort.
bool findEntry(quint32 local, quint16 localPort, quint32 remote, quint16 remotePort, TcpEntry *entry)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 9 && sameEndpoint(fields.at(1), local, localPort) &&
            sameEndpoint(fields.at(2), remote, remotePort)) {
            entry->uid = fields.at(7).toUInt();
            entry->inode = fields.at(9).toULongLong();
            return true;
        }
    }
    return false;
}

// -1 when the descriptors of pid cannot be read (another user's process), else whether one is the socket.
int holdsSocket(qint64 pid, quint64 inode)
{
    const QByteArray folder = QStringLiteral("/proc/%1/fd/").arg(pid).toLatin1();
    DIR *dir = opendir(folder.constData());
    if (!dir)
        return errno == EACCES ? -1 : 0;
    const QByteArray wanted = "socket:[" + QByteArray::number(inode) + ']';
    bool found = false;
    while (const dirent *item = readdir(dir)) {
        char target[64];
        const ssize_t length = readlink(QByteArray(folder + item->d_name).constData(), target, sizeof(target));
        if (length > 0 && QByteArray(target, int(length)) == wanted) {
            found = true;
            break;
        }
    }
    closedir(dir);
    return found ? 1 : 0;
}

// The file-system user id of pid (the owner of the sockets it makes), or -1.
qint64 processUid(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() == 5 && fields.at(0) == "Uid:")
            return fields.at(4).toLongLong();
    }
    return -1;
}

} // namespace

namespace SocketOwner {

bool peerHeldBy(const QAbstractSocket &socket, qint64 pid, QString *reason)
{
    bool ipv4 = false;
    const quint32 local = socket.localAddress().toIPv4Address(&ipv4);
    const quint32 peer = socket.peerAddress().toIPv4Address();
    TcpEntry entry;
    if (pid <= 0) {
        *reason = QStringLiteral("the service's process is not known");
    } else if (!ipv4 || socket.state() != QAbstractSocket::ConnectedState ||
               !findEntry(peer, socket.peerPort(), local, socket.localPort(), &entry)) {
        *reason = QStringLiteral("the connection is not in the system's table");
    } else if (entry.inode == 0) {
        *reason = QStringLiteral("the peer has not accepted the connection");
    } else {
        const int held = holdsSocket(pid, entry.inode);
        // Without the right to read another user's descriptors, the socket's owner must be the process's user.
        if (held == 1 || (held == -1 && processUid(pid) == qint64(entry.uid)))
            return true;
        *reason = QStringLiteral("another process holds the port");
    }
    return false;
}

} // namespace SocketOwner
