#pragma once

#include <QString>

class QAbstractSocket;

// Tells which process holds the far end of a connected loopback TCP socket, so that a program that took a
// fixed local port first is not taken for the service that should listen there, and a caller of the service
// is known before it is obeyed.
namespace SocketOwner {

// True when process pid holds the peer end of socket; on Windows also when a direct child of pid, started
// after it from a program in the same folder, does, as a service may run its program as a child. False, with *reason
// set, otherwise or when it cannot be told.
bool peerHeldBy(const QAbstractSocket &socket, qint64 pid, QString *reason);

// Who holds the far end of a connection the service accepted on this machine.
struct Caller
{
    qint64 id = -1;         // user id (Linux) or process id (Windows); -1 when it cannot be told
    bool permitted = false; // root; LocalSystem or an administrator; or a member of the service's users group
    QString name;           // "uid 1000" or "pid 4242", for log lines
    QString reason;         // why the caller is not permitted
};

// The local group whose members may command the service besides root (administrators on Windows).
QString serviceUsersGroup();
// The caller at the far end of socket, checked against group.
Caller peerCaller(const QAbstractSocket &socket, const QString &group);
// Ends the sending half of socket after the bytes already handed to the system: the peer reads to the end of
// the answer while the descriptor, and with it the owner the peer may check, stays until the peer closes.
bool shutdownSending(QAbstractSocket &socket);

} // namespace SocketOwner
