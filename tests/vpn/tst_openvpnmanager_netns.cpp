#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include "app/appcontext.h"
#include "common/servicecontroller.h"
#include "vpn/openvpnmanager.h"
#include "vpntesthelpers.h"

namespace {

const QString kOpenVpn = QStringLiteral("/usr/sbin/openvpn");
const QString kService = QStringLiteral("OpenVPNService");

// Runs a program to its end; false with its output in *error when it fails.
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

// Processes whose command line names the file, i.e. openvpn clients on our configuration.
QList<pid_t> processesUsing(const QString &file)
{
    QList<pid_t> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool numeric = false;
        const pid_t pid = pid_t(entry.toInt(&numeric));
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(entry));
        if (numeric && pid != getpid() && cmdline.open(QIODevice::ReadOnly) &&
            cmdline.readAll().split('\0').contains(file.toLocal8Bit()))
            pids << pid;
    }
    return pids;
}

} // namespace

// OpenVpnManager against a real OpenVPN server, both ends inside a network namespace of the test's own.
// The client runs as the registered "OpenVPNService" command, started by the real service controller.
class tst_OpenVpnManagerNetns : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void session_data();
    void session();

private:
    QTemporaryDir m_dir;
    QString m_namespace; // set while the named namespace exists
    QString m_configFile;
    QProcess m_server;
    QByteArray m_serverLog;
};

void tst_OpenVpnManagerNetns::initTestCase()
{
    if (geteuid() != 0)
        QSKIP("needs root: the test makes a network namespace and tun devices");
    if (!QFileInfo(kOpenVpn).isExecutable())
        QSKIP("openvpn is not installed (Debian package openvpn)");
    if (!QFileInfo::exists(QStringLiteral("/dev/net/tun")))
        QSKIP("/dev/net/tun is missing: no tun devices here");
    for (const char *tool : {"ip", "openssl"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed (iproute2, openssl)").arg(QLatin1String(tool))));
    }
    QVERIFY(m_dir.isValid());
    QString error;

    // Enter a fresh namespace on this thread before any socket or child exists; the name is dropped at
    // once, so the namespace goes away with this process and whatever it started, even on a crash.
    const QString name = QStringLiteral("tovra-ovpn-%1").arg(getpid());
    QVERIFY2(run(QStringLiteral("ip"), {"netns", "add", name}, &error), qPrintable(error));
    m_namespace = name;
    QVERIFY2(run(QStringLiteral("ip"), {"-n", name, "link", "set", "lo", "up"}, &error), qPrintable(error));
    const int fd = open(QFile::encodeName(QStringLiteral("/var/run/netns/") + name).constData(), O_RDONLY);
    QVERIFY(fd >= 0);
    const int entered = setns(fd, CLONE_NEWNET);
    close(fd);
    QCOMPARE(entered, 0);
    QVERIFY2(run(QStringLiteral("ip"), {"netns", "del", name}, &error), qPrintable(error));
    m_namespace.clear();

    // A CA, a server certificate it signed, and a check that accepts one user.
    const QString dir = m_dir.path() + QLatin1Char('/');
    const QStringList ec = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1"};
    QVERIFY2(run("openssl",
                 QStringList{"req", "-x509"} + ec +
                     QStringList{"-keyout", dir + "ca.key", "-out", dir + "ca.crt", "-subj", "/CN=tovra-ca"},
                 &error),
             qPrintable(error));
    QVERIFY2(
        run("openssl",
            QStringList{"req"} + ec.mid(0, 5) +
                QStringList{"-keyout", dir + "server.key", "-out", dir + "server.csr", "-subj", "/CN=tovra-server"},
            &error),
        qPrintable(error));
    QFile ext(dir + "server.ext");
    QVERIFY(ext.open(QIODevice::WriteOnly));
    ext.write("extendedKeyUsage=serverAuth\nkeyUsage=digitalSignature,keyAgreement\n");
    ext.close();
    QVERIFY2(run("openssl",
                 {"x509", "-req", "-in", dir + "server.csr", "-CA", dir + "ca.crt", "-CAkey", dir + "ca.key",
                  "-CAcreateserial", "-days", "1", "-extfile", dir + "server.ext", "-out", dir + "server.crt"},
                 &error),
             qPrintable(error));
    QFile check(dir + "check.sh");
    QVERIFY(check.open(QIODevice::WriteOnly));
    check.write("#!/bin/sh\n[ \"$(sed -n 1p \"$1\")\" = tovra-user ] && [ \"$(sed -n 2p \"$1\")\" = right-pass ]\n");
    check.close();
    QVERIFY(check.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));

    // The server listens where the manager points the client: 127.0.0.1, port 443, here the namespace's own.
    m_server.setProcessChannelMode(QProcess::MergedChannels);
    connect(&m_server, &QProcess::readyRead, this, [this] { m_serverLog += m_server.readAll(); });
    m_server.start(kOpenVpn, {"--server",
                              "10.99.0.0",
                              "255.255.255.0",
                              "--topology",
                              "subnet",
                              "--dev",
                              "tun",
                              "--proto",
                              "udp4",
                              "--local",
                              "127.0.0.1",
                              "--port",
                              "443",
                              "--ca",
                              dir + "ca.crt",
                              "--cert",
                              dir + "server.crt",
                              "--key",
                              dir + "server.key",
                              "--dh",
                              "none",
                              "--verify-client-cert",
                              "none",
                              "--username-as-common-name",
                              "--auth-user-pass-verify",
                              dir + "check.sh",
                              "via-file",
                              "--script-security",
                              "2",
                              "--tmp-dir",
                              m_dir.path(),
                              "--disable-dco",
                              "--verb",
                              "3"});
    QTRY_VERIFY2_WITH_TIMEOUT(m_serverLog.contains("Initialization Sequence Completed"), m_serverLog.constData(),
                              30000);

    // "OpenVPNService" as the install step registers it: openvpn on DATA/Data/conn.ovpn.
    QVERIFY(QDir().mkpath(dir + "Data"));
    m_configFile = dir + "Data/conn.ovpn";
    QVERIFY2(run(QStringLiteral(TOVRA_SOURCE_DIR "/scripts/register-openvpn-service"),
                 {"--registry", dir + "registry", m_dir.path()}, &error),
             qPrintable(error));
    AppContext::instance()->config()->killSwitch = false;
}

void tst_OpenVpnManagerNetns::cleanupTestCase()
{
    m_server.terminate();
    if (!m_server.waitForFinished(5000))
        m_server.kill();
    m_server.waitForFinished(2000);
    if (!m_namespace.isEmpty()) {
        QString error;
        if (!run(QStringLiteral("ip"), {"netns", "del", m_namespace}, &error))
            qWarning().noquote() << error;
    }
}

void tst_OpenVpnManagerNetns::cleanup()
{
    // A failed case may leave its client running; it must not outlive the test.
    if (m_configFile.isEmpty())
        return;
    for (const pid_t pid : processesUsing(m_configFile))
        ::kill(pid, SIGKILL);
}

void tst_OpenVpnManagerNetns::session_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("serverLine");
    QTest::newRow("right password: Connected(), then Disconnect() leaves no openvpn")
        << QStringLiteral("right-pass") << QByteArray("authentication succeeded for username 'tovra-user'");
    QTest::newRow("wrong password: auth-failure ends in Disconnected() with the service stopped")
        << QStringLiteral("wrong-pass") << QByteArray("Auth Username/Password verification failed");
}

void tst_OpenVpnManagerNetns::session()
{
    QFETCH(QString, password);
    QFETCH(QByteArray, serverLine);
    const bool rightPassword = password == QLatin1String("right-pass");
    LogCapture log;
    m_serverLog.clear();

    auto controller = std::make_unique<ServiceController>(kService);
    controller->setRegistryDir(m_dir.filePath(QStringLiteral("registry")));
    ServiceController observer(kService); // another handle on the same registration
    observer.setRegistryDir(controller->registryDir());
    auto manager = std::make_unique<OpenVpnManager>(std::move(controller));
    manager->SetConfigFilePath(m_configFile);
    manager->SetCredentials(QStringLiteral("tovra-user"), password);
    manager->udpConfig = QStringLiteral("client\ndev tun\nproto udp4\nnobind\nca %1\nremote-cert-tls server\n"
                                        "auth-user-pass\nauth-nocache\nroute-nopull\ndisable-dco\nverb 3")
                             .arg(m_dir.filePath(QStringLiteral("ca.crt")));
    QSignalSpy connected(manager.get(), &OpenVpnManager::Connected);
    QSignalSpy disconnected(manager.get(), &OpenVpnManager::Disconnected);

    manager->Connect(QStringLiteral("127.0.0.1"), QStringLiteral("UDP"));
    QVERIFY2(log.contains(QStringLiteral("OpenVPNService started successfully.")), qPrintable(log.dump()));
    QCOMPARE(processesUsing(m_configFile).size(), 1);

    if (rightPassword) {
        QTRY_VERIFY2_WITH_TIMEOUT(connected.count() == 1, qPrintable(log.dump()), 60000);
        QVERIFY(observer.isRunning());
        manager->Disconnect(); // returns once OpenVPN has reported its exit
        QVERIFY(!log.contains(QStringLiteral("OpenVPN did not exit in time. Carrying on as disconnected.")));
    } else {
        QTRY_VERIFY2_WITH_TIMEOUT(disconnected.count() == 1, qPrintable(log.dump()), 60000);
        QVERIFY(log.contains(QStringLiteral("Server returns auth-failure. Disconnecting.")));
        QCOMPARE(connected.count(), 0);
    }
    QCOMPARE(disconnected.count(), 1);
    QVERIFY(!observer.isRunning());
    QVERIFY(processesUsing(m_configFile).isEmpty());
    QVERIFY2(m_serverLog.contains(serverLine), m_serverLog.constData());
    QCOMPARE(m_server.state(), QProcess::Running);
    for (const QString &line : log.lines())
        QVERIFY2(!line.contains(password), qPrintable(line));
}

QTEST_GUILESS_MAIN(tst_OpenVpnManagerNetns)
#include "tst_openvpnmanager_netns.moc"
