#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "app/appcontext.h"
#include "common/servicecontroller.h"
#include "vpn/openvpnmanager.h"
#include "vpntesthelpers.h"

namespace {

const QString kOpenVpn = QStringLiteral("/usr/sbin/openvpn");

// Runs the real openvpn on the written configuration, as the OpenVPN service does.
class OpenVpnProcessController : public ServiceController
{
public:
    explicit OpenVpnProcessController(const QString &configFile)
        : ServiceController(QStringLiteral("OpenVPNService")), m_configFile(configFile)
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
    }
    ~OpenVpnProcessController() override { stop(); }

    bool isInstalled() const override { return QFileInfo(kOpenVpn).isExecutable(); }
    bool isRunning() const override { return m_process.state() != QProcess::NotRunning; }
    bool start(const QStringList &) override
    {
        m_process.start(kOpenVpn, {QStringLiteral("--config"), m_configFile});
        return m_process.waitForStarted(5000);
    }
    bool stop() override
    {
        if (m_process.state() == QProcess::NotRunning)
            return true;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
        output += m_process.readAll();
        return m_process.state() == QProcess::NotRunning;
    }

    QByteArray output;

private:
    QString m_configFile;
    QProcess m_process;
};

} // namespace

// OpenVpnManager driving a real OpenVPN client whose server (127.0.0.1:443) refuses it,
// so nothing leaves the machine and no tunnel device is ever opened.
class tst_OpenVpnManagerReal : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void refusedServer_data();
    void refusedServer();

private:
    QTemporaryDir m_dir;
    QString m_caFile;
};

void tst_OpenVpnManagerReal::initTestCase()
{
    if (!QFileInfo(kOpenVpn).isExecutable())
        QSKIP("openvpn is not installed (Debian package openvpn)");
    QVERIFY(m_dir.isValid());
    m_caFile = m_dir.filePath(QStringLiteral("ca.crt"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                   m_dir.filePath(QStringLiteral("ca.key")), "-out", m_caFile, "-subj", "/CN=tovra-test-ca", "-days",
                   "1"});
    if (!openssl.waitForStarted(5000))
        QSKIP("openssl is not installed (Debian package openssl)");
    QVERIFY(openssl.waitForFinished(30000));
    QCOMPARE(openssl.exitCode(), 0);
}

void tst_OpenVpnManagerReal::refusedServer_data()
{
    QTest::addColumn<bool>("killSwitch");
    QTest::newRow("kill switch off: reconnects until the user disconnects") << false;
    QTest::newRow("kill switch on: the manager stops OpenVPN itself") << true;
}

void tst_OpenVpnManagerReal::refusedServer()
{
    QFETCH(bool, killSwitch);
    AppContext::instance()->config()->killSwitch = killSwitch;
    LogCapture log;

    const QString configFile = m_dir.filePath(QStringLiteral("conn.ovpn"));
    auto controller = std::make_unique<OpenVpnProcessController>(configFile);
    OpenVpnProcessController *service = controller.get();
    auto manager = std::make_unique<OpenVpnManager>(std::move(controller));
    const QString token = QStringLiteral("secret-token-4711");
    manager->SetConfigFilePath(configFile);
    manager->SetCredentials(QStringLiteral("user@example.com"), token);
    manager->tcpConfig = QStringLiteral("client\ndev tun\nproto tcp-client\nauth-user-pass\nca %1\n"
                                        "connect-retry 1\nverb 3")
                             .arg(m_caFile);
    QSignalSpy canCancel(manager.get(), &OpenVpnManager::CanCancelConnecting);
    QSignalSpy reconnecting(manager.get(), &OpenVpnManager::Reconnecting);
    QSignalSpy disconnected(manager.get(), &OpenVpnManager::Disconnected);
    QSignalSpy connected(manager.get(), &OpenVpnManager::Connected);

    manager->Connect(QStringLiteral("127.0.0.1"), QStringLiteral("TCP"));
    QVERIFY2(log.contains(QStringLiteral("OpenVPNService started successfully.")), qPrintable(log.dump()));
    QTRY_VERIFY_WITH_TIMEOUT(canCancel.count() >= 1, 15000);

    if (killSwitch) {
        QTRY_VERIFY_WITH_TIMEOUT(disconnected.count() == 1, 15000);
        QVERIFY(log.contains(QStringLiteral("Reconnecting message found, but KillSwitch is enabled. Disconnecting.")));
        QCOMPARE(reconnecting.count(), 0);
        QVERIFY(!manager->serverAvailable);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(reconnecting.count() >= 1, 15000);
        manager->Disconnect(); // returns once OpenVPN has reported its exit
        QCOMPARE(disconnected.count(), 1);
        QVERIFY(!log.contains(QStringLiteral("OpenVPN did not exit in time. Carrying on as disconnected.")));
    }
    QVERIFY(!service->isRunning());
    QCOMPARE(connected.count(), 0);
    QVERIFY(manager->serviceAvailable);

    // OpenVPN took the credentials over the channel; the log never shows the token.
    const QString accepted = QStringLiteral("SUCCESS: 'Auth' password entered, but not yet verified");
    QVERIFY2(!log.lines().filter(accepted).isEmpty(), qPrintable(log.dump()));
    QVERIFY(!log.lines().filter(QStringLiteral("EXITING")).isEmpty());
    for (const QString &line : log.lines())
        QVERIFY2(!line.contains(token), qPrintable(line));
    QVERIFY2(!service->output.contains(token.toUtf8()), service->output.constData());
}

QTEST_GUILESS_MAIN(tst_OpenVpnManagerReal)
#include "tst_openvpnmanager_real.moc"
