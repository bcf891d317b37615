#pragma once

// The real TovraVPNService run with "-e foreground" (its log on standard error), optionally inside a
// network namespace, and its command protocol on 127.0.0.1:56143.

#include "process.h"
#include "testfiles.h"

#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// One command on a connection of its own; the reply as sent (no line end), or why there is none.
inline QByteArray serviceCommand(const QByteArray &command, int timeoutMs = 35000)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), 56143);
    if (!socket.waitForConnected(10000))
        return "not connected";
    socket.write(command);
    return socket.waitForReadyRead(timeoutMs) ? socket.readAll() : QByteArray("no reply");
}

class TovraService : public ChildProcess
{
public:
    static QString program() { return QStringLiteral(TOVRA_BIN_DIR "/TovraVPNService"); }

    // Starts the service and waits (generously: an ASan build starts slowly on a loaded machine) until it
    // accepts and serves a connection. Inside a namespace the machine's resolver tool knows nothing of it:
    // with resolvectlOutput the service finds a stand-in "resolvectl" printing that in the tool folder the
    // test names on its command line. The kill switch's state goes to stateDir (a folder of its own when
    // empty), never to the machine's.
    bool launch(const QStringList &prefix = {}, const QByteArray &resolvectlOutput = {}, QString stateDir = {})
    {
        QStringList options;
        if (!resolvectlOutput.isEmpty()) {
            m_bin = std::make_unique<QTemporaryDir>();
            if (!writeFile(m_bin->filePath(QStringLiteral("resolvectl")),
                           "#!/bin/sh\ncat <<'EOF'\n" + resolvectlOutput + "EOF\n", true))
                return false;
            options << QStringLiteral("-tooldir") << m_bin->path();
        }
        if (stateDir.isEmpty()) {
            m_state = std::make_unique<QTemporaryDir>();
            stateDir = m_state->path();
        }
        options << QStringLiteral("-statedir") << stateDir;
        if (!start(prefix + QStringList{program(), QStringLiteral("-e"), QStringLiteral("foreground")} + options))
            return false;
        QTcpSocket probe;
        const bool accepted = QTest::qWaitFor(
            [&] {
                probe.abort();
                probe.connectToHost(QStringLiteral("127.0.0.1"), 56143);
                return probe.waitForConnected(500) || !isRunning();
            },
            60000);
        return accepted && isRunning() && waitForOutput("New Connection");
    }

private:
    std::unique_ptr<QTemporaryDir> m_bin;
    std::unique_ptr<QTemporaryDir> m_state;
};
