#include "common/socketowner.h"

#include <QAbstractSocket>
#include <QFile>
#include <QHostAddress>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

struct TcpEntry
{
    quint64 inode = 0; // 0 while the connection waits to be accepted, and once its owner has closed it
    uint uid = 0;      // the socket's owner; 0 as well for closed (time-wait) entries
};

// "0100007F:CB99" (tcp) or 32 hex digits and a port (tcp6): the address as the kernel stores it, printed as
// 32-bit words in host order; the port in host order.
bool sameEndpoint(const QByteArray &text, const QHostAddress &address, quint16 port)
{
    const QList<QByteArray> parts = text.split(':');
    if (parts.size() != 2 || (parts.at(0).size() != 8 && parts.at(0).size() != 32))
        return false;
    quint8 bytes[16];
    for (int word = 0; word < parts.at(0).size() / 8; ++word) {
        bool ok = false;
        const quint32 value = parts.at(0).mid(word * 8, 8).toUInt(&ok, 16);
        if (!ok)
            return false;
        std::memcpy(bytes + word * 4, &value, sizeof(value));
    }
    quint32 v4 = 0;
    std::memcpy(&v4, bytes, sizeof(v4));
    const QHostAddress found = parts.at(0).size() == 8 ? QHostAddress(qFromBigEndian(v4)) : QHostAddress(bytes);
    bool portOk = false;
    return parts.at(1).toUInt(&portOk, 16) == port && portOk &&
           found.isEqual(address, QHostAddress::TolerantConversion);
}

// The socket of this network namespace whose local end is local:localPort and remote end remote:remotePort.
bool findEntry(const QHostAddress &local, quint16 localPort, const QHostAddress &remote, quint16 remotePort,
               TcpEntry *entry)
{
    for (const char *path : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile table(QString::fromLatin1(path));
        if (!table.open(QIODevice::ReadOnly))
            continue;
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

// Whether the user uid belongs to the group named (as its primary group or in the group database), from the
// user and group databases rather than from any process's groups; otherwise *detail says what was missing.
bool inGroup(uid_t uid, const QString &name, QString *detail)
{
    std::vector<char> buffer(16384);
    struct group groupEntry
    {
    };
    struct group *groupFound = nullptr;
    const QByteArray groupName = name.toLocal8Bit();
    if (getgrnam_r(groupName.constData(), &groupEntry, buffer.data(), buffer.size(), &groupFound) != 0 || !groupFound) {
        *detail = QStringLiteral(" (the group does not exist)");
        return false;
    }
    const gid_t wanted = groupFound->gr_gid;
    struct passwd user
    {
    };
    struct passwd *userFound = nullptr;
    if (getpwuid_r(uid, &user, buffer.data(), buffer.size(), &userFound) != 0 || !userFound) {
        *detail = QStringLiteral(" (no such user)");
        return false;
    }
    std::vector<gid_t> groups(64);
    int count = int(groups.size());
    int listed = 0;
    while ((listed = getgrouplist(userFound->pw_name, userFound->pw_gid, groups.data(), &count)) < 0 &&
           count > int(groups.size()))
        groups.resize(size_t(count));
    groups.resize(size_t(qMax(listed, 0)));
    return std::find(groups.cbegin(), groups.cend(), wanted) != groups.cend();
}

} // namespace

namespace SocketOwner {

bool peerHeldBy(const QAbstractSocket &socket, qint64 pid, QString *reason)
{
    TcpEntry entry;
    if (pid <= 0) {
        *reason = QStringLiteral("the service's process is not known");
    } else if (socket.state() != QAbstractSocket::ConnectedState ||
               !findEntry(socket.peerAddress(), socket.peerPort(), socket.localAddress(), socket.localPort(), &entry)) {
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

QString serviceUsersGroup()
{
    return QStringLiteral("tovra");
}

Caller peerCaller(const QAbstractSocket &socket, const QString &group)
{
    Caller caller;
    TcpEntry entry;
    if (socket.state() != QAbstractSocket::ConnectedState ||
        !findEntry(socket.peerAddress(), socket.peerPort(), socket.localAddress(), socket.localPort(), &entry)) {
        caller.name = QStringLiteral("unknown caller");
        caller.reason = QStringLiteral("the caller's connection is not in the system's table");
        return caller;
    }
    // A closed socket's entry shows uid 0: only a socket someone still holds names its owner.
    if (entry.inode == 0) {
        caller.name = QStringLiteral("unknown caller");
        caller.reason = QStringLiteral("the caller has closed its end of the connection");
        return caller;
    }
    caller.id = entry.uid;
    caller.name = QStringLiteral("uid %1").arg(entry.uid);
    QString detail;
    caller.permitted = entry.uid == 0 || inGroup(uid_t(entry.uid), group, &detail);
    if (!caller.permitted)
        caller.reason = caller.name + QStringLiteral(" is neither root nor a member of group ") + group + detail;
    return caller;
}

bool shutdownSending(QAbstractSocket &socket)
{
    return ::shutdown(int(socket.socketDescriptor()), SHUT_WR) == 0;
}

} // namespace SocketOwner
