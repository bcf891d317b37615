// Real IKEv2 dials through the Linux backend: the client's charon (started as a registered service) in a
// namespace of the test, a strongSwan responder in a second one.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "app/apptypes.h"
#include "common/servicecontroller.h"
#include "common/serviceregistry_unix.h"
#include "support/netns.h"
#include "vpn/ikev2manager.h"
#include "vpn/rasapi_unix.h"
#include "vpntesthelpers.h"

#include <csignal>

namespace {

const QString kServer = QStringLiteral("10.77.0.1");
const QString kUser = QStringLiteral("active@tovra.test");
const QString kToken = QStringLiteral("demo-token-active");

QString charonProgram()
{
    for (const char *path : {"/usr/lib/ipsec/charon", "/usr/libexec/ipsec/charon"}) {
        if (QFileInfo(QLatin1String(path)).isExecutable())
            return QLatin1String(path);
    }
    return QString();
}

QString output(const QStringList &command)
{
    return QString::fromLocal8Bit(runProcess(command).output).trimmed();
}

// Runs charon in a mount namespace of its own with folder/run over /run and folder/strongswan.conf over
// /etc/strongswan.conf, as the demo world does; its pid.
qint64 startResponder(const NetNamespace &ns, const QString &folder)
{
    qint64 pid = 0;
    QProcess::startDetached(
        QStringLiteral("ip"),
        ns.prefix().mid(1) + QStringList{QStringLiteral("unshare"), QStringLiteral("-m"),
                                         QStringLiteral("--propagation"), QStringLiteral("private"),
                                         QStringLiteral("sh"), QStringLiteral("-c"),
                                         QStringLiteral("mount --bind \"$1/run\" /run && mount "
                                                        "--bind \"$1/strongswan.conf\" "
                                                        "/etc/strongswan.conf && exec \"$2\" >\"$1/charon.out\" 2>&1"),
                                         QStringLiteral("sh"), folder, charonProgram()},
        QString(), &pid);
    return pid;
}

} // namespace

class tst_StrongSwan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init() { LogCapture::clear(); }
    void dial_data();
    void dial();
    void drop();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    bool pki(const QStringList &arguments, const QString &out) const
    {
        QProcess process;
        process.setStandardOutputFile(path(out));
        process.start(QStringLiteral("pki"), arguments);
        return process.waitForFinished(20000) && process.exitCode() == 0;
    }
    bool responderUp();
    // No charon of the client, no IPsec state, policy or device.
    void expectNothingLeft();

    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<NetNamespace> m_client;
    std::unique_ptr<NetNamespace> m_server;
    QTemporaryDir m_dir;
    qint64 m_responder = 0;
    StrongSwanSettings m_settings;
};

void tst_StrongSwan::initTestCase()
{
    m_log = std::make_unique<LogCapture>();
    QString reason;
    m_client =
        NetNamespace::entered(&reason, {QStringLiteral("swanctl"), QStringLiteral("pki"), QStringLiteral("unshare")});
    if (!m_client)
        QSKIP(qPrintable(reason));
    if (charonProgram().isEmpty())
        QSKIP("strongSwan's charon is not installed");
    m_server = std::make_unique<NetNamespace>();
    QVERIFY(m_server->isValid() && m_dir.isValid());
    QVERIFY(m_client->ip({QStringLiteral("link add ike0 type veth peer name ike1 netns ") + m_server->name(),
                          QStringLiteral("addr add 10.77.0.2/24 dev ike0"), QStringLiteral("link set ike0 up")}));
    QVERIFY(m_server->ip({QStringLiteral("addr add 10.77.0.1/24 dev ike1"), QStringLiteral("link set ike1 up")}));

    // A CA, a server certificate for the server's address from it, and a CA that signed nothing here.
    const QString ec = QStringLiteral("--type=ecdsa");
    QVERIFY(QDir().mkpath(path("server/run")) && QDir().mkpath(path("server/swanctl/x509")) &&
            QDir().mkpath(path("server/swanctl/ecdsa")));
    QVERIFY(pki({"--gen", ec, "--size", "256"}, "ca.key"));
    QVERIFY(pki({"--self", "--ca", "--in", path("ca.key"), ec, "--dn", "CN=Test CA", "--outform", "pem"}, "ca.pem"));
    QVERIFY(pki({"--gen", ec, "--size", "256"}, "other.key"));
    QVERIFY(
        pki({"--self", "--ca", "--in", path("other.key"), ec, "--dn", "CN=Other CA", "--outform", "pem"}, "other.pem"));
    QVERIFY(pki({"--gen", ec, "--size", "256", "--outform", "pem"}, "server/swanctl/ecdsa/server.pem"));
    QVERIFY(pki({"--pub", "--in", path("server/swanctl/ecdsa/server.pem"), ec}, "server.pub"));
    QVERIFY(pki({"--issue", "--cacert", path("ca.pem"), "--cakey", path("ca.key"), "--in", path("server.pub"), "--type",
                 "pub", "--dn", "CN=" + kServer, "--san", kServer, "--flag", "serverAuth", "--outform", "pem"},
                "server/swanctl/x509/server.pem"));

    // Plain files for the responder, as the demo world writes them.
    QFile conf(path("server/strongswan.conf"));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    conf.write("charon {\n load_modular = yes\n plugins {\n  include /etc/strongswan.d/charon/*.conf\n"
               "  kernel-libipsec {\n   load = yes\n  }\n  resolve {\n   load = no\n  }\n }\n}\n");
    conf.close();
    QFile swanctl(path("server/swanctl/swanctl.conf"));
    QVERIFY(swanctl.open(QIODevice::WriteOnly));
    swanctl.write(QStringLiteral("connections {\n test {\n  local_addrs = %1\n  pools = test\n  local {\n"
                                 "   auth = pubkey\n   certs = server.pem\n   id = %any\n  }\n  remote {\n"
                                 "   auth = eap-mschapv2\n   eap_id = %any\n  }\n  children {\n   test {\n"
                                 "    local_ts = 0.0.0.0/0\n   }\n  }\n }\n}\npools {\n test {\n"
                                 "  addrs = 10.78.0.0/24\n }\n}\nsecrets {\n eap-test {\n  id = %2\n"
                                 "  secret = \"%3\"\n }\n}\n")
                      .arg(kServer, kUser, kToken)
                      .toUtf8());
    swanctl.close();
    QVERIFY2(responderUp(), qPrintable(output({"cat", path("server/run/charon.log")})));

    // The client's charon, registered as the install step registers it.
    m_settings.serviceName = QStringLiteral("IKEv2Service");
    m_settings.registryDir = path("services");
    m_settings.folder = path("client");
    m_settings.caFiles = QStringList{path("ca.pem")};
    m_settings.retransmitTimeoutMs = 500;
    m_settings.retransmitTries = 2;
    m_settings.dpdDelaySeconds = 1;
    ServiceRegistry::Registration service;
    service.name = m_settings.serviceName;
    service.isProgram = false;
    service.program = charonProgram();
    service.binds =
        QStringList{m_settings.folder + "/run:/run", m_settings.folder + "/strongswan.conf:/etc/strongswan.conf"};
    QVERIFY(ServiceRegistry::writeRegistration(m_settings.registryDir, service, &reason));
}

bool tst_StrongSwan::responderUp()
{
    m_responder = startResponder(*m_server, path("server"));
    const QString socket = path("server/run/charon.vici");
    if (!QTest::qWaitFor([&] { return QFile::exists(socket); }, kWait))
        return false;
    return runProcess({"swanctl", "--load-all", "--noprompt", "--file", path("server/swanctl/swanctl.conf"), "--uri",
                       "unix://" + socket})
        .ok();
}

void tst_StrongSwan::cleanupTestCase()
{
    if (m_responder > 0)
        ::kill(pid_t(m_responder), SIGKILL);
    ServiceController client(m_settings.serviceName);
    client.setRegistryDir(m_settings.registryDir);
    if (client.isRunning())
        client.stop();
    m_server.reset();
    m_client.reset();
}

void tst_StrongSwan::expectNothingLeft()
{
    ServiceController client(m_settings.serviceName);
    client.setRegistryDir(m_settings.registryDir);
    QVERIFY(!client.isRunning());
    QCOMPARE(output({"ip", "xfrm", "state"}), QString());
    QCOMPARE(output({"ip", "xfrm", "policy"}), QString());
    QVERIFY(!runProcess({"ip", "link", "show", "ipsec0"}).ok());
}

void tst_StrongSwan::dial_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("caFile");
    QTest::addColumn<quint32>("error");
    QTest::newRow("right password connects") << kServer << kToken << "ca.pem" << 0u;
    QTest::newRow("wrong password") << kServer << "demo-token-other"
                                    << "ca.pem" << 691u;
    QTest::newRow("no responder") << "10.77.0.9" << kToken << "ca.pem" << 809u;
    QTest::newRow("server certificate from another CA") << kServer << kToken << "other.pem" << 13801u;
}

void tst_StrongSwan::dial()
{
    QFETCH(QString, server);
    QFETCH(QString, password);
    QFETCH(QString, caFile);
    QFETCH(quint32, error);
    StrongSwanSettings settings = m_settings;
    settings.caFiles = QStringList{path(caFile)};
    IKEv2Manager manager(CreateStrongSwanRasApi(settings));
    manager.setTimings({200, 10, 10, kWait, 20});
    QSignalSpy connected(&manager, &IKEv2Manager::Connected);
    QSignalSpy disconnected(&manager, &IKEv2Manager::Disconnected);
    manager.SetCredentials(kUser, password);
    manager.Connect(server, IKEv2);
    if (error == 0) {
        QVERIFY2(connected.wait(kWait), qPrintable(LogCapture::dump()));
        // Everything goes through the tunnel: strongSwan's device, or the kernel's IPsec policy.
        QVERIFY2(output({"ip", "route", "get", "192.0.2.1"}).contains(QLatin1String("dev ipsec0")) ||
                     output({"ip", "xfrm", "policy"}).contains(QLatin1String("dir out")),
                 qPrintable(output({"ip", "route", "show", "table", "all"})));
        manager.Disconnect();
    } else {
        QVERIFY2(disconnected.wait(kWait), qPrintable(LogCapture::dump()));
        QVERIFY2(LogCapture::anyContains(QStringLiteral("Error occured. Code %1: ").arg(error)),
                 qPrintable(LogCapture::dump()));
        QVERIFY(!manager.serverAvailable);
    }
    QCOMPARE(connected.count(), error == 0 ? 1 : 0);
    QCOMPARE(disconnected.count(), 1);
    expectNothingLeft();
}

// The responder goes away: the regular check reports the drop.
void tst_StrongSwan::drop()
{
    IKEv2Manager manager(CreateStrongSwanRasApi(m_settings));
    manager.setTimings({200, 10, 10, kWait, 20});
    QSignalSpy connected(&manager, &IKEv2Manager::Connected);
    QSignalSpy disconnected(&manager, &IKEv2Manager::Disconnected);
    manager.SetCredentials(kUser, kToken);
    manager.Connect(kServer, IKEv2);
    QVERIFY2(connected.wait(kWait), qPrintable(LogCapture::dump()));
    ::kill(pid_t(m_responder), SIGTERM);
    QVERIFY2(disconnected.wait(kWait), qPrintable(LogCapture::dump()));
    QVERIFY(LogCapture::contains(QStringLiteral("Regular check result: IKEv2 disconnected")));
    QTRY_VERIFY_WITH_TIMEOUT(processGone(m_responder), kWait);
    m_responder = 0;
    manager.Disconnect();
    expectNothingLeft();
}

QTEST_GUILESS_MAIN(tst_StrongSwan)
#include "tst_strongswan.moc"
