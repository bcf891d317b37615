#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QHostAddress>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>

#include "common/servicecontroller.h"
#include "process.h"

// For tests that run OpenVPN, or play its management end on its fixed port, inside a network namespace of
// their own, so that nothing on the host (a developer's own OpenVPN) can get in their way.
namespace OpenVpnFixture {

// Why this process cannot have a namespace of its own (root and iproute2 are needed); empty when it can.
QString namespaceUnavailable();
// Moves the calling thread into a fresh network namespace with only lo up. Call it before any socket or
// thread exists; the namespace has no name and goes away with the process, even after a crash.
bool enterOwnNamespace(QString *error);
// Runs a program to its end; false with its command line and output in *error when it fails.
bool run(const QString &program, const QStringList &arguments, QString *error);
// Processes other than this one whose command line names file.
QList<qint64> processesUsing(const QString &file);
void killProcessesUsing(const QString &file);
// Registers "OpenVPNService" in registryDir as the install step does: openvpn on stateDir/conn.ovpn, which the
// helper writes. Options in before come ahead of the configuration (a --remote there is tried before the file's).
bool registerOpenVpnService(const QString &stateDir, const QString &registryDir, QString *error,
                            const QStringList &before = {});

} // namespace OpenVpnFixture

// A real OpenVPN server on 127.0.0.1:443 (UDP, or TCP) of the current namespace that accepts one user.
class OpenVpnServer
{
public:
    static const QString userName;
    static const QString password;

    // Why no server can run here (openvpn, openssl or tun devices missing); empty when one can.
    static QString unavailable();

    ~OpenVpnServer();
    // Makes a CA and a server certificate in dir, then starts the server and waits until it serves; it
    // accepts only user and pass.
    bool start(const QString &dir, QString *error, bool tcp = false, const QString &user = userName,
               const QString &pass = password);
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    // What the server has logged so far (collected while the event loop runs).
    QByteArray log() const { return m_log; }
    // Client configuration lines for this server, its CA inline, without the management and remote lines.
    QString clientConfig() const;

private:
    QString m_dir;
    bool m_tcp = false;
    QProcess m_process;
    QByteArray m_log;
};

// A scripted OpenVPN management end: listens where OpenVPN would, records what the client sends.
class ManagementPeer
{
public:
    ManagementPeer();

    bool listen() { return m_server.listen(QHostAddress::LocalHost, 52025); }
    // Wait up to 20 s for the count-th client, or for as many bytes as `bytes` has (the caller compares them).
    bool waitForClient(int count = 1);
    bool waitForReceived(const QByteArray &bytes);
    bool connected() const { return client && client->state() == QAbstractSocket::ConnectedState; }
    void send(const QByteArray &bytes)
    {
        client->write(bytes);
        client->flush();
    }
    // As the OpenVPN process does when it ends.
    void closeClient()
    {
        if (client)
            client->disconnectFromHost();
    }
    bool clientGone() const { return !client || client->state() == QAbstractSocket::UnconnectedState; }

    QTcpSocket *client = nullptr;
    QByteArray received;
    int connections = 0;

private:
    QTcpServer m_server;
};

// Another program on a loopback port of the test's namespace: answers every connection with reply at once and
// prints what it receives after its "listening" line, so a test can tell nothing was given to it.
class PortSquatter : public ChildProcess
{
public:
    bool listen(quint16 port, const QByteArray &reply)
    {
        const QString script = QStringLiteral(
            "$|=1; $s = IO::Socket::INET->new(LocalAddr => '127.0.0.1', LocalPort => $ARGV[0], Listen => 5, "
            "ReuseAddr => 1) or die $!; print qq(listening\\n); "
            "while ($c = $s->accept) { print $c $ARGV[1]; print $d while sysread($c, $d, 4096) }");
        return start({QStringLiteral("perl"), QStringLiteral("-MIO::Socket::INET"), QStringLiteral("-e"), script,
                      QString::number(port), QString::fromLatin1(reply)}) &&
               waitForOutput("listening\n");
    }
};

// Stands in for the OpenVPN service: counts what it is asked and plays the
// service's answers.
class FakeOpenVpnService : public ServiceController
{
public:
    FakeOpenVpnService() : ServiceController(QStringLiteral("OpenVPNService")) {}
    bool isInstalled() const override { return installed; }
    bool isRunning() const override
    {
        if (startRequested && !running)
            running = ++checksSinceStart >= runningFromCheck && runningFromCheck > 0;
        return running;
    }
    bool start(const QStringList &) override
    {
        ++starts;
        checksSinceStart = 0;
        return startRequested = acceptStart;
    }
    // The scripted management end listens in this process.
    qint64 processId() const override { return running ? QCoreApplication::applicationPid() : 0; }
    bool stop() override
    {
        ++stops;
        running = startRequested = false;
        if (onStop)
            onStop();
        return true;
    }

    bool installed = true, acceptStart = true, startRequested = false;
    int runningFromCheck = 1; // the check after the start from which the service runs; 0: never
    int starts = 0, stops = 0;
    mutable bool running = false;
    mutable int checksSinceStart = 0;
    std::function<void()> onStop;
};
