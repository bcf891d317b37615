#pragma once

// A private network namespace for one test: made on construction, deleted on destruction (also when the
// test fails). Commands run inside it through "ip netns exec"; enter() moves the calling thread into it so
// that sockets the test makes afterwards live there.

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

class NetNamespace
{
public:
    // Why namespace tests cannot run here, or empty.
    static QString skipReason(bool needNft = false)
    {
        if (geteuid() != 0)
            return QStringLiteral("network namespaces need root");
        if (QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
            return QStringLiteral("iproute2 (ip) is not installed");
        if (needNft && QStandardPaths::findExecutable(QStringLiteral("nft")).isEmpty())
            return QStringLiteral("nftables (nft) is not installed");
        return QString();
    }

    NetNamespace()
    {
        static int counter = 0;
        m_name = QStringLiteral("tovra-test-%1-%2").arg(QCoreApplication::applicationPid()).arg(++counter);
        m_created = ip({QStringLiteral("netns"), QStringLiteral("add"), m_name}) &&
                    exec({QStringLiteral("ip"), QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("lo"),
                          QStringLiteral("up")});
    }

    ~NetNamespace()
    {
        leave();
        ip({QStringLiteral("netns"), QStringLiteral("delete"), m_name});
    }

    NetNamespace(const NetNamespace &) = delete;
    NetNamespace &operator=(const NetNamespace &) = delete;

    bool isValid() const { return m_created; }
    QString name() const { return m_name; }
    QStringList prefix() const
    {
        return {QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"), m_name};
    }

    // Runs a command inside the namespace; true on exit code 0.
    bool exec(const QStringList &command, QByteArray *output = nullptr) const
    {
        return ip(QStringList{QStringLiteral("netns"), QStringLiteral("exec"), m_name} + command, output);
    }
    // Runs several "ip ..." commands inside; stops at the first failure.
    bool ipAll(const QList<QStringList> &commands) const
    {
        for (const QStringList &args : commands) {
            if (!exec(QStringList(QStringLiteral("ip")) + args))
                return false;
        }
        return true;
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
        if (!ok)
            leave();
        return ok;
    }

    void leave()
    {
        if (m_original < 0)
            return;
        setns(m_original, CLONE_NEWNET);
        ::close(m_original);
        m_original = -1;
    }

private:
    static bool ip(const QStringList &args, QByteArray *output = nullptr)
    {
        QProcess process;
        process.start(QStringLiteral("ip"), args);
        if (!process.waitForFinished(30000))
            return false;
        if (output)
            *output = process.readAllStandardOutput();
        return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    QString m_name;
    bool m_created = false;
    int m_original = -1;
};
