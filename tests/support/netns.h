#pragma once

// A private network namespace for one test: made on construction, deleted on destruction (also when the
// test fails). enter() moves the calling thread into it, so sockets the test makes afterwards live there
// and fixed ports such as 56143 are free whatever runs on the machine.

#include "process.h"

#include <QCoreApplication>
#include <QStandardPaths>

#include <fcntl.h>
#include <memory>
#include <sched.h>
#include <unistd.h>

class NetNamespace
{
public:
    // Why namespace tests cannot run here, or empty.
    static QString skipReason(const QStringList &tools = {})
    {
        if (geteuid() != 0)
            return QStringLiteral("network namespaces need root");
        for (const QString &tool : QStringList{QStringLiteral("ip")} + tools) {
            if (QStandardPaths::findExecutable(tool).isEmpty())
                return tool + QStringLiteral(" is not installed");
        }
        return QString();
    }

    explicit NetNamespace(bool loopbackUp = true)
    {
        static int counter = 0;
        if (counter == 0)
            removeOrphans();
        m_name = QStringLiteral("tovra-test-%1-%2").arg(QCoreApplication::applicationPid()).arg(++counter);
        m_created = runProcess({QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("add"), m_name}).ok() &&
                    (!loopbackUp || ip({QStringLiteral("link set lo up")}));
    }
    ~NetNamespace()
    {
        // Back to where the thread came from before the namespace goes.
        if (m_original >= 0) {
            setns(m_original, CLONE_NEWNET);
            ::close(m_original);
        }
        runProcess({QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("delete"), m_name});
    }
    NetNamespace(const NetNamespace &) = delete;
    NetNamespace &operator=(const NetNamespace &) = delete;

    // A namespace the calling thread has entered; null with *reason set when that cannot be done here.
    static std::unique_ptr<NetNamespace> entered(QString *reason, const QStringList &tools = {})
    {
        *reason = skipReason(tools);
        if (!reason->isEmpty())
            return nullptr;
        auto ns = std::make_unique<NetNamespace>();
        if (ns->isValid() && ns->enter())
            return ns;
        *reason = QStringLiteral("could not make and enter a network namespace");
        return nullptr;
    }

    bool isValid() const { return m_created; }
    QString name() const { return m_name; }
    QStringList prefix() const
    {
        return {QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"), m_name};
    }

    // Runs a command inside the namespace.
    ProcessResult exec(const QStringList &command) const { return runProcess(prefix() + command); }
    // Runs "ip" commands (words separated by blanks) inside; stops at the first failure.
    bool ip(const QStringList &commands) const
    {
        for (const QString &command : commands) {
            const QStringList words = command.split(QLatin1Char(' '));
            if (!runProcess(QStringList{QStringLiteral("ip"), QStringLiteral("-n"), m_name} + words).ok())
                return false;
        }
        return true;
    }

    // veth0 192.168.98.2/24 <-> veth1 192.168.98.53/24, default route via 192.168.98.1 on veth0;
    // TOVRAVPN 10.99.0.2/24 <-> vpnpeer 10.99.0.53/24 (the VPN's DNS server), 0.0.0.0/1 via 10.99.0.1.
    bool makeGuardNetwork() const
    {
        return ip({"link add veth0 type veth peer name veth1", "link add TOVRAVPN type veth peer name vpnpeer",
                   "addr add 192.168.98.2/24 dev veth0", "addr add 192.168.98.53/24 dev veth1",
                   "addr add 10.99.0.2/24 dev TOVRAVPN", "addr add 10.99.0.53/24 dev vpnpeer", "link set veth0 up",
                   "link set veth1 up", "link set TOVRAVPN up", "link set vpnpeer up",
                   "route add default via 192.168.98.1 dev veth0", "route add 0.0.0.0/1 via 10.99.0.1 dev TOVRAVPN"});
    }

    bool enter()
    {
        if (m_original >= 0)
            return true;
        const int target = ::open(qPrintable(QStringLiteral("/run/netns/") + m_name), O_RDONLY | O_CLOEXEC);
        if (target < 0)
            return false;
        m_original = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        const bool ok = m_original >= 0 && setns(target, CLONE_NEWNET) == 0;
        ::close(target);
        return ok;
    }

private:
    // Namespaces of test processes that died before their destructors ran (a crash, a ctest time-out).
    static void removeOrphans()
    {
        const QStringList lines =
            QString::fromLocal8Bit(
                runProcess({QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("list")}).output)
                .split(QLatin1Char('\n'));
        for (const QString &line : lines) {
            const QString name = line.section(QLatin1Char(' '), 0, 0);
            const QStringList parts = name.split(QLatin1Char('-'));
            if (parts.size() == 4 && name.startsWith(QLatin1String("tovra-test-")) &&
                !QFile::exists(QStringLiteral("/proc/") + parts.at(2)))
                runProcess({QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("delete"), name});
        }
    }

    QString m_name;
    bool m_created = false;
    int m_original = -1;
};
