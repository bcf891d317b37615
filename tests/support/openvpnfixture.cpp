#include "openvpnfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace {
const QString kOpenVpn = QStringLiteral("/usr/sbin/openvpn");
}

namespace OpenVpnFixture {

QString namespaceUnavailable()
{
    if (geteuid() != 0)
        return QStringLiteral("needs root: the test runs in a network namespace of its own");
    if (QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
        return QStringLiteral("ip is not installed (Debian package iproute2)");
    return QString();
}

bool enterOwnNamespace(QString *error)
{
    const QString name = QStringLiteral("tovra-test-%1").arg(getpid());
    if (!run(QStringLiteral("ip"), {"netns", "add", name}, error))
        return false;
    bool entered = run(QStringLiteral("ip"), {"-n", name, "link", "set", "lo", "up"}, error);
    const int fd = open(QFile::encodeName(QStringLiteral("/var/run/netns/") + name).constData(), O_RDONLY);
    if (entered && (fd < 0 || setns(fd, CLONE_NEWNET) != 0)) {
        *error =
            QStringLiteral("cannot enter network namespace %1: %2").arg(name, QString::fromLocal8Bit(strerror(errno)));
        entered = false;
    }
    if (fd >= 0)
        close(fd);
    QString delError;
    if (!run(QStringLiteral("ip"), {"netns", "del", name}, &delError))
        qWarning().noquote() << delError;
    return entered;
}

bool run(const QString &program, const QStringList &arguments, QString *error)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    *error = program + QLatin1Char(' ') + arguments.join(QLatin1Char(' ')) + QStringLiteral(": ") +
             process.errorString() + QLatin1Char('\n') + QString::fromLocal8Bit(process.readAll());
    return false;
}

QList<qint64> processesUsing(const QString &file)
{
    QList<qint64> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (numeric && pid != getpid() && cmdline.open(QIODevice::ReadOnly) &&
            cmdline.readAll().split('\0').contains(file.toLocal8Bit()))
            pids << pid;
    }
    return pids;
}

void killProcessesUsing(const QString &file)
{
    for (const qint64 pid : processesUsing(file))
        ::kill(pid_t(pid), SIGKILL);
}

bool registerOpenVpnService(const QString &stateDir, const QString &registryDir, QString *error,
                            const QStringList &before)
{
    if (!QDir().mkpath(stateDir))
        return false;
    if (before.isEmpty())
        return run(QStringLiteral(TOVRA_SOURCE_DIR "/scripts/register-openvpn-service"),
                   {"--registry", registryDir, stateDir}, error);
    return run(QStringLiteral(TOVRA_SOURCE_DIR "/scripts/register-service"),
               QStringList{"--registry", registryDir, "OpenVPNService", kOpenVpn, "--cd", stateDir} + before +
                   QStringList{"--config", stateDir + QStringLiteral("/conn.ovpn")},
               error);
}

} // namespace OpenVpnFixture

const QString OpenVpnServer::userName = QStringLiteral("tovra-user");
const QString OpenVpnServer::password = QStringLiteral("right-pass");

QString OpenVpnServer::unavailable()
{
    if (!QFileInfo(kOpenVpn).isExecutable())
        return QStringLiteral("openvpn is not installed (Debian package openvpn)");
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
        return QStringLiteral("openssl is not installed (Debian package openssl)");
    if (!QFileInfo::exists(QStringLiteral("/dev/net/tun")))
        return QStringLiteral("/dev/net/tun is missing: no tun devices here");
    return QString();
}

OpenVpnServer::~OpenVpnServer()
{
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(2000);
}

bool OpenVpnServer::start(const QString &dir, QString *error, bool tcp, const QString &user, const QString &pass)
{
    using OpenVpnFixture::run;
    m_dir = dir;
    m_tcp = tcp;
    const QString d = dir + QLatin1Char('/');
    const QStringList ec = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    const QString openssl = QStringLiteral("openssl");
    QFile ext(d + "server.ext");
    QFile check(d + "check.sh");
    if (!run(openssl,
             QStringList{"req", "-x509", "-days", "1"} + ec +
                 QStringList{"-keyout", d + "ca.key", "-out", d + "ca.crt", "-subj", "/CN=tovra-ca"},
             error) ||
        !run(openssl,
             QStringList{"req"} + ec +
                 QStringList{"-keyout", d + "server.key", "-out", d + "server.csr", "-subj", "/CN=tovra-server"},
             error))
        return false;
    if (!ext.open(QIODevice::WriteOnly) || !check.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write to ") + dir;
        return false;
    }
    ext.write("extendedKeyUsage=serverAuth\nkeyUsage=digitalSignature,keyAgreement\n");
    ext.close();
    check.write(QStringLiteral("#!/bin/sh\n[ \"$(sed -n 1p \"$1\")\" = '%1' ] && [ \"$(sed -n 2p \"$1\")\" = '%2' ]\n")
                    .arg(user, pass)
                    .toUtf8());
    check.close();
    check.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (!run(openssl,
             {"x509", "-req", "-in", d + "server.csr", "-CA", d + "ca.crt", "-CAkey", d + "ca.key", "-CAcreateserial",
              "-days", "1", "-extfile", d + "server.ext", "-out", d + "server.crt"},
             error))
        return false;

    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&m_process, &QProcess::readyRead, [this] { m_log += m_process.readAll(); });
    const QString fixed = QStringLiteral("--server 10.99.0.0 255.255.255.0 --topology subnet --dev tun --local "
                                         "127.0.0.1 --port 443 --dh none --verify-client-cert none "
                                         "--username-as-common-name --script-security 2 --disable-dco --verb 3");
    m_process.start(kOpenVpn,
                    fixed.split(QLatin1Char(' ')) +
                        QStringList{"--push", "dhcp-option DNS 10.99.0.1", "--proto", tcp ? "tcp4-server" : "udp4",
                                    "--ca", d + "ca.crt", "--cert", d + "server.crt", "--key", d + "server.key",
                                    "--auth-user-pass-verify", d + "check.sh", "via-file", "--tmp-dir", dir});
    if (!m_process.waitForStarted(5000) ||
        !QTest::qWaitFor([this] { return m_log.contains("Initialization Sequence Completed") || !isRunning(); },
                         30000) ||
        !isRunning()) {
        *error = QStringLiteral("the OpenVPN server did not start:\n") + QString::fromLocal8Bit(m_log);
        return false;
    }
    return true;
}

QString OpenVpnServer::clientConfig() const
{
    QFile ca(m_dir + QStringLiteral("/ca.crt"));
    ca.open(QIODevice::ReadOnly);
    return QStringLiteral("client\ndev tun\nproto %2\nnobind\n<ca>\n%1</ca>\nremote-cert-tls server\nauth-user-pass\n"
                          "auth-nocache\nroute-nopull\ndisable-dco\nverb 3")
        .arg(QString::fromLatin1(ca.readAll()), m_tcp ? QStringLiteral("tcp4-client") : QStringLiteral("udp4"));
}

ManagementPeer::ManagementPeer()
{
    QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            ++connections;
            client = socket;
            QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] { received += socket->readAll(); });
        }
    });
}

bool ManagementPeer::waitForClient(int count)
{
    return QTest::qWaitFor([this, count] { return connections >= count && connected(); }, 20000);
}

bool ManagementPeer::waitForReceived(const QByteArray &bytes)
{
    return QTest::qWaitFor([this, &bytes] { return received.size() >= bytes.size(); }, 20000);
}
