#pragma once

#include <QString>

class QAbstractSocket;

// Tells which process holds the far end of a connected loopback TCP socket, so that a program that took a
// fixed local port first is not taken for the service that should listen there.
namespace SocketOwner {

// True when process pid holds the peer end of socket; on Windows also when a direct child of pid does, as
// a service may run its program as a child. False, with *reason set, otherwise or when it cannot be told.
bool peerHeldBy(const QAbstractSocket &socket, qint64 pid, QString *reason);

} // namespace SocketOwner
