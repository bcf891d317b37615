#include <QtTest>

#include <QtWidgets>
#include <thread>

#include "api/tovraauthmanager.h"
#include "api/tovraipmanager.h"
#include "app/appcontext.h"
#include "fakeservicecontroller.h"
#include "guard/tovraservicemanager.h"
#include "openvpnfixture.h"
#include "servers/tovraservermanager.h"
#include "support/standinprovider.h"
#include "testfiles.h"
#include "ui/tovraaccountdialog.h"
#include "ui/tovragenericdialog.h"
#include "ui/tovramainwindow.h"
#include "ui/tovrasettingsdialog.h"
#include "vpn/ikev2manager.h"
#include "vpn/openvpnmanager.h"

namespace {

constexpr int kWait = 20000;
constexpr RasHandle kHandle = 0x5150;

// What the peers saw, in order: helper-service commands, "dial", "hangup", "ovpn start", "ovpn stop".
QStringList g_events;
QStringList g_failing; // helper commands answered with an error

// RAS at its seam: every dial is started; the test reports it connected or failed from a thread of its own.
class FakeRas : public RasApi
{
public:
    RasNotifier notifier = nullptr;
    bool open = false;
    quint32 dialResult = 0;
    quint32 validateEntryName(const QString &) override { return Ras::ErrorAlreadyExists; }
    quint32 setEntryProperties(const QString &, const RasEntry &) override { return 0; }
    quint32 getEntryProperties(const QString &, RasEntry *) override { return 0; }
    quint32 setCredentials(const QString &, const RasCredentials &, bool) override { return 0; }
    quint32 dial(const RasDialParams &, RasNotifier n, RasHandle *handle) override
    {
        g_events << QStringLiteral("dial");
        notifier = n;
        *handle = kHandle;
        open = dialResult == 0;
        return dialResult;
    }
    quint32 getConnectStatus(RasHandle, RasConnStatus *status) override
    {
        status->state = Ras::StateConnected;
        return open ? 0 : Ras::ErrorInvalidHandle;
    }
    quint32 hangUp(RasHandle) override
    {
        g_events << QStringLiteral("hangup");
        open = false;
        return 0;
    }
    quint32 getErrorString(quint32, int, QString *) override { return Ras::ErrorInvalidParameter; }
    quint32 deleteEntry(const QString &) override { return 0; }
    void dispatchMessages() override {}
    void notify(quint32 state, quint32 error = 0)
    {
        std::thread([=] { notifier(kHandle, 0xCCCD, state, error, 0); }).join();
    }
};

// The helper service on 127.0.0.1:56143: records each command and answers success.
class HelperPeer : public QTcpServer
{
public:
    HelperPeer()
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *peer = nextPendingConnection();
            connect(peer, &QTcpSocket::readyRead, peer, [this, peer] {
                const QString command = QString::fromLatin1(peer->readAll()).trimmed();
                g_events << command;
                const QString word =
                    command.endsWith("DNS_FILTERS") ? "DNS " + command.left(command.indexOf('_')) : command;
                const char *result = g_failing.contains(command) ? "ERROR" : "SUCCESS";
                peer->write(QStringLiteral("SRV %1 %2: done\n").arg(result, word).toLatin1());
            });
            connect(peer, &QTcpSocket::disconnected, peer, &QObject::deleteLater);
        });
    }
};

class HelperController : public FakeServiceController
{
public:
    HelperController() : FakeServiceController(QStringLiteral("TovraVPNService")) {}
    qint64 processId() const override { return QCoreApplication::applicationPid(); }
};

TovraServer server(const QString &shortName, int load)
{
    TovraServer s;
    s.displayName = shortName.toUpper();
    s.key = shortName + QStringLiteral("-key");
    s.shortName = shortName;
    s.loadPercentage = load;
    return s;
}

} // namespace

class tst_MainWindowWorkflow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void connectAndDisconnect_data();
    void connectAndDisconnect();
    void refusals_data();
    void refusals();
    void automaticFallback_data();
    void automaticFallback();
    void drops_data();
    void drops();
    void applyConfiguration_data();
    void applyConfiguration();
    void staleAssignedIp();

private:
    int page() { return m_window->findChild<QStackedWidget *>(QStringLiteral("tovraMainButtonPanel"))->currentIndex(); }
    QString popupTitle()
    {
        return m_window->messageDialog()->findChild<QLabel *>(QStringLiteral("titleLabel"))->text();
    }
    void click(const char *name) { QTest::mouseClick(m_window->findChild<QPushButton *>(name), Qt::LeftButton); }
    void setProtocol(int protocol);
    void rasConnects()
    {
        QTRY_VERIFY_WITH_TIMEOUT(m_ras->open, kWait);
        m_ras->notify(Ras::StateConnected);
    }

    ProviderFixture m_fixture;
    HelperPeer m_helper;
    ManagementPeer m_mgmt; // outlives the window, whose exit stops the fake OpenVPN service
    std::unique_ptr<TovraMainWindow> m_window;
    FakeRas *m_ras = nullptr;
    FakeOpenVpnService *m_ovpn = nullptr;
};

void tst_MainWindowWorkflow::initTestCase()
{
    QString error = OpenVpnFixture::namespaceUnavailable();
    if (!error.isEmpty())
        QSKIP(qPrintable(error));
    QVERIFY2(OpenVpnFixture::enterOwnNamespace(&error), qPrintable(error));
    QVERIFY2(m_fixture.start(), qPrintable(m_fixture.provider.errorString()));
    QVERIFY(m_helper.listen(QHostAddress::LocalHost, TovraServiceManager::ServicePort));
    QVERIFY(m_mgmt.listen());
    AppContext *context = AppContext::instance();
    context->config()->smartServerList = false;
    context->serverManager()->SetServerLists({server("nl1", 20), server("nl2", 100), server("nl3", 30)}, {}, {}, {});
    context->serverManager()->ApplyMainList();
}

void tst_MainWindowWorkflow::init()
{
    m_window.reset();
    QVERIFY(m_fixture.reset());
    g_events.clear();
    g_failing.clear();
    AppContext *context = AppContext::instance();
    *context->config() = Configuration();
    context->config()->smartServerList = false;

    TovraMainWindow::Backends backends;
    backends.ras.reset(m_ras = new FakeRas);
    backends.openVpnService.reset(m_ovpn = new FakeOpenVpnService);
    m_ovpn->onStop = [this] {
        g_events << QStringLiteral("ovpn stop");
        m_mgmt.closeClient();
    };
    backends.helperService = std::make_unique<HelperController>();
    m_window = std::make_unique<TovraMainWindow>(std::move(backends));
    m_window->setTimings({1, 1, 1, 1, 1, 1, 3, 240000});
    m_window->setStartupNetworkChecks([] { return true; }, [] { return true; });
    // The start-up answers come from this test alone.
    for (QAbstractState *state : m_window->stateMachine()->findChildren<QAbstractState *>())
        for (void (TovraMainWindow::*slot)() :
             {&TovraMainWindow::GetLocalIp, &TovraMainWindow::GetServersList, &TovraMainWindow::GetOpenVpnConfig,
              &TovraMainWindow::GetUpdateDataOnStart})
            QObject::disconnect(state, &QAbstractState::entered, m_window.get(), slot);
    m_window->serviceManager()->setTimings({5000, 10, 5, 5000});
    m_window->openVpnManager()->setTimings({1, 1, 0, kWait, 50, kWait});
    m_window->ikev2Manager()->setTimings({50, 1, 1, kWait, 1});
    context->ipManager()->setTimings({1});
    m_window->show();
    m_window->Initialize();
    QTRY_VERIFY(m_window->stateMachine()->isRunning());
    // Without a token the start-up shows the sign-in view and has cleared the account record.
    QTRY_COMPARE(m_window->findChild<QStackedWidget *>("tovraCurrentView")->currentIndex(), 1);
    context->authManager()->OnTrafficUpdated(true, 10, 1, false);
    // The start-up answers, as the sign-in flow gives them.
    emit m_window->UserDataReceived();
    emit m_window->LocalIpUpdated();
    emit context->serverManager()->ServersUpdated();
    emit m_window->OpenVpnConfigUpdated();
    emit m_window->UpdateDataReceived();
    QTRY_COMPARE_WITH_TIMEOUT(m_window->connectionState(), StateDisconnected, kWait);
}

void tst_MainWindowWorkflow::setProtocol(int protocol)
{
    AppContext::instance()->config()->protocol = static_cast<ProtocolType>(protocol);
    m_window->ApplyConfiguration();
}

void tst_MainWindowWorkflow::connectAndDisconnect_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<bool>("killSwitch");
    QTest::addColumn<bool>("dnsLeakFix");
    QTest::addColumn<QStringList>("onConnect");    // what the peers saw until connected
    QTest::addColumn<QStringList>("onDisconnect"); // and then after the disconnect click
    const QString d = "dial", h = "hangup";
    QTest::newRow("IKEv2, both guards") << 2 << true << true << QStringList{d, "ADD_DNS_FILTERS", "DELETE"}
                                        << QStringList{"REMOVE_DNS_FILTERS", "RESTORE", h};
    QTest::newRow("L2TP, kill switch") << 3 << true << false << QStringList{d, "DELETE"} << QStringList{"RESTORE", h};
    QTest::newRow("PPTP, DNS fix") << 4 << false << true << QStringList{d, "ADD_DNS_FILTERS"}
                                   << QStringList{"REMOVE_DNS_FILTERS", h};
    QTest::newRow("PPTP, no guard") << 4 << false << false << QStringList{d} << QStringList{h};
    QTest::newRow("OpenVPN, both guards")
        << 1 << true << true << QStringList{"DELETE"} << QStringList{"RESTORE", "ovpn stop"};
}

void tst_MainWindowWorkflow::connectAndDisconnect()
{
    QFETCH(int, protocol);
    QFETCH(bool, killSwitch);
    QFETCH(bool, dnsLeakFix);
    QFETCH(QStringList, onConnect);
    QFETCH(QStringList, onDisconnect);
    Configuration *config = AppContext::instance()->config();
    config->killSwitch = killSwitch;
    config->dnsLeakFix = dnsLeakFix;
    setProtocol(protocol);

    click("tovraConnectButton");
    if (protocol == OpenVPN) {
        QVERIFY(m_mgmt.waitForClient(m_mgmt.connections + 1));
        m_mgmt.send(">HOLD:Waiting for hold release:0\r\n");
        QVERIFY(m_mgmt.waitForReceived("state on\nhold release\n"));
        m_mgmt.send(">STATE:1700000003,CONNECTED,SUCCESS,10.8.0.6,192.0.2.10,443,,\r\n");
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(m_ras->open, kWait);
        QTRY_COMPARE(m_window->connectionState(), StateConnecting);
        QCOMPARE(page(), 0);
        emit m_window->accountDialog()->LogoutRequested(); // refused: the tunnel uses the session
        QCOMPARE(popupTitle(), QString("You cannot logout while TOVRA VPN is connected."));
        m_ras->notify(Ras::StateConnected);
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_window->connectionState(), StateConnected, kWait);
    QTRY_COMPARE(page(), 2);
    QVERIFY(m_window->findChild<QLabel *>(QStringLiteral("tovraMainStatusTextLabel"))->text().contains("secured"));
    m_window->messageDialog()->hide();
    emit m_window->settingsDialog()->LogoutRequested();
    QVERIFY(m_window->messageDialog()->isVisible() && !m_fixture.logged("Logging out"));
    m_window->messageDialog()->hide();
    QTRY_COMPARE_WITH_TIMEOUT(g_events, onConnect, kWait);
    QVERIFY(readFile(AppContext::instance()->dataPaths()->settingsFile()).contains("nl1-key"));

    click("tovraDisconnectButton");
    QTRY_COMPARE_WITH_TIMEOUT(m_window->connectionState(), StateDisconnected, kWait);
    QTRY_COMPARE(page(), 1);
    // The guard comes off before the engine goes down (which may stop its service more than once).
    const QStringList expected = onConnect + onDisconnect;
    QTRY_VERIFY2_WITH_TIMEOUT(g_events.mid(0, expected.size()) == expected, qPrintable(g_events.join(", ")), kWait);
    QTest::qWait(50);
    QVERIFY(!m_window->messageDialog()->isVisible()); // a user disconnect is not explained
}

void tst_MainWindowWorkflow::refusals_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<quint64>("bytesUsed");
    QTest::addColumn<bool>("unlimited");
    QTest::addColumn<QString>("popup"); // empty: no popup, the connect goes ahead
    QTest::newRow("full load") << 1 << quint64(1) << false << "This server is fully loaded.";
    QTest::newRow("allowance used up") << 0 << quint64(10) << false << "Your traffic limit has been reached.";
    QTest::newRow("unlimited, same figures") << 0 << quint64(10) << true << "";
    QTest::newRow("no selected row") << -1 << quint64(1) << false << "";
}

void tst_MainWindowWorkflow::refusals()
{
    QFETCH(int, row);
    QFETCH(quint64, bytesUsed);
    QFETCH(bool, unlimited);
    QFETCH(QString, popup);
    AppContext *context = AppContext::instance();
    context->config()->killSwitch = true;
    setProtocol(IKEv2);
    context->authManager()->OnTrafficUpdated(true, 10, bytesUsed, unlimited);
    m_window->findChild<QComboBox *>(QStringLiteral("tovraServersBox"))->setCurrentIndex(row);

    click("tovraConnectButton");
    QCOMPARE(m_window->messageDialog()->isVisible() ? popupTitle() : QString(), popup);
    QCOMPARE(m_fixture.logged("No server selected (index -1), connect refused"), row < 0);
    if (row >= 0 && popup.isEmpty())
        QTRY_VERIFY_WITH_TIMEOUT(m_ras->open, kWait);
    else
        QTest::qWait(200); // nothing follows a refusal: no engine call, no helper task, the connect page stays
    QCOMPARE(g_events, row >= 0 && popup.isEmpty() ? QStringList{"dial"} : QStringList());
    QCOMPARE(page(), row >= 0 && popup.isEmpty() ? 0 : 1);
}

void tst_MainWindowWorkflow::automaticFallback_data()
{
    QTest::addColumn<int>("windowsVersion");
    QTest::addColumn<QStringList>("tried");
    QTest::addColumn<bool>("cancel"); // clicked during the last dial
    QTest::newRow("Windows 7") << 144 << QStringList{"IKEv2", "L2TP", "PPtP", "OpenVPN"} << false;
    QTest::newRow("Vista") << 128 << QStringList{"L2TP", "PPtP", "OpenVPN"} << false;
    QTest::newRow("Cancel stops it") << 144 << QStringList{"IKEv2", "L2TP"} << true;
}

void tst_MainWindowWorkflow::automaticFallback()
{
    QFETCH(int, windowsVersion);
    QFETCH(QStringList, tried);
    QFETCH(bool, cancel);
    m_window->setWindowsVersion(windowsVersion);
    m_window->OnInitializationFinished();
    setProtocol(Automatic);
    m_ovpn->runningFromCheck = 0; // the OpenVPN attempt fails too

    click("tovraConnectButton");
    for (int i = 0; i + 1 < tried.size(); ++i) {
        QTRY_COMPARE_WITH_TIMEOUT(g_events.count("dial"), i + 1, kWait);
        m_ras->notify(0, 691); // the dial fails before connecting
    }
    if (cancel) {
        QTRY_COMPARE_WITH_TIMEOUT(g_events.count("dial"), tried.size(), kWait);
        QTRY_VERIFY(!m_window->findChild<QPushButton *>("tovraCancelConnectButton")->isHidden());
        click("tovraCancelConnectButton");
        QTRY_COMPARE_WITH_TIMEOUT(page(), 1, kWait);
        QTest::qWait(200);
        QVERIFY(!m_window->messageDialog()->isVisible());
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(m_window->messageDialog()->isVisible(), kWait);
        QCOMPARE(popupTitle(), QStringLiteral("An OpenVPN error occurred."));
    }
    for (QString &protocol : tried)
        protocol.prepend("Connecting to: NL1 (nl1) via ");
    QCOMPARE(LogCapture::lines().filter("Connecting to: "), tried);
}

void tst_MainWindowWorkflow::drops_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("fault"); // what ends the first tunnel
    QTest::addColumn<bool>("killSwitch");
    QTest::addColumn<bool>("network");
    QTest::addColumn<QString>("popup"); // empty: a new connect follows, no popup
    QTest::addColumn<QString>("next");  // and is logged so, at least delay ms after the drop
    QTest::addColumn<int>("delay");
    const QString unavailable = "This server is unavailable.", serverError = "A server error occurred.", n = "";
    const QString nl1 = "NL1 (nl1) via IKEv2";
    QTest::newRow("dial refused") << 2 << "refuse" << true << true << "An IKEv2 connection error occurred." << n << 0;
    QTest::newRow("dial error") << 3 << "error" << true << true << unavailable << n << 0;
    QTest::newRow("OpenVPN service down") << 1 << "service" << false << true << "An OpenVPN error occurred." << n << 0;
    QTest::newRow("assigned IP unknown") << 2 << "ip" << false << true << "IP error occurred." << n << 0;
    QTest::newRow("traffic used up") << 2 << "traffic" << true << true << "Your traffic limit has been reached." << n
                                     << 0;
    QTest::newRow("kill switch, no network") << 2 << "drop" << true << false << serverError << n << 0;
    QTest::newRow("no network") << 2 << "drop" << false << false << n << nl1 << 1000;
    QTest::newRow("network found") << 2 << "drop" << true << true << n << nl1 << 1000;
    QTest::newRow("automatic: no fallback") << 0 << "drop" << true << true << n << nl1 << 1000;
    QTest::newRow("server change") << 2 << "server" << true << true << n << "NL3 (nl3) via IKEv2" << 1500;
    QTest::newRow("protocol change") << 2 << "protocol" << true << true << n << "NL1 (nl1) via PPtP" << 1500;
}

void tst_MainWindowWorkflow::drops()
{
    QFETCH(int, protocol);
    QFETCH(QString, fault);
    QFETCH(bool, killSwitch);
    QFETCH(bool, network);
    QFETCH(QString, popup);
    QFETCH(QString, next);
    QFETCH(int, delay);
    AppContext *context = AppContext::instance();
    context->config()->killSwitch = killSwitch;
    setProtocol(protocol);
    m_window->setTimings({1, 1, 1, 1500, 1000, 1, 3, 240000});
    m_window->setNetworkCheck([network] { return network; });
    m_ras->dialResult = fault == "refuse" ? 800 : 0;
    m_ovpn->runningFromCheck = fault == "service" ? 0 : 1;
    if (fault == "ip")
        QVERIFY(m_fixture.provider.script("/users/me/ip", 200, "{}"));
    if (fault == "traffic")
        QVERIFY(m_fixture.provider.script("/users/me/bandwidth", 200, R"({"bytes_total": 10, "bytes_used": 10})"));

    click("tovraConnectButton");
    if (protocol != OpenVPN) {
        QTRY_COMPARE_WITH_TIMEOUT(g_events.count("dial"), 1, kWait);
        if (fault != "refuse") {
            QTRY_COMPARE(m_window->connectionState(), StateConnecting);
            m_window->OnRegularBwCheckTimer(); // skipped while connecting
            QVERIFY(m_fixture.logged("Regular bandwidth check skipped"));
        }
        if (fault == "error")
            m_ras->notify(0, 691);
        else if (fault != "refuse")
            m_ras->notify(Ras::StateConnected);
    }
    QElapsedTimer sinceDrop;
    if (!next.isEmpty() || fault == "traffic" || fault == "drop") {
        QTRY_COMPARE_WITH_TIMEOUT(m_window->connectionState(), StateConnected, kWait);
        sinceDrop.start();
        if (fault == "drop")
            m_ras->open = false;
        else if (fault == "server")
            m_window->findChild<QComboBox *>(QStringLiteral("tovraServersBox"))->setCurrentIndex(2);
        else if (fault == "protocol")
            setProtocol(PPTP);
        else
            m_window->OnRegularBwCheckTimer();
    }
    if (popup.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(g_events.count("dial"), 2, kWait);
        QVERIFY2(sinceDrop.elapsed() >= delay, qPrintable(QString::number(sinceDrop.elapsed())));
        QCOMPARE(LogCapture::lines().filter("Connecting to: ").value(1), "Connecting to: " + next);
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_window->messageDialog()->isVisible() ? popupTitle() : QString(), popup, kWait);
    QCOMPARE(m_fixture.logged("Requesting reconnect"), popup.isEmpty() && fault == "drop");
    QCOMPARE(m_fixture.provider.requests("/users/me/bandwidth").size(), int(fault == "traffic"));
    QCOMPARE(m_fixture.logged("Trying again with next available protocol"), false);
}

void tst_MainWindowWorkflow::applyConfiguration_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<bool>("before"); // both guards, at the connect
    QTest::addColumn<bool>("after");  // and as applied
    QTest::addColumn<int>("protocol");
    QTest::addColumn<QString>("failing");
    QTest::addColumn<QStringList>("commands"); // sent on the apply
    QTest::addColumn<QString>("popup");
    const QStringList none, on{"DELETE", "ADD_DNS_FILTERS"}, off{"RESTORE", "REMOVE_DNS_FILTERS"};
    QTest::newRow("on, connected") << true << false << true << 2 << "" << on << "";
    QTest::newRow("off, connected") << true << true << false << 2 << "" << off << "";
    QTest::newRow("unchanged, connected") << true << true << true << 2 << "" << none << "";
    QTest::newRow("on, disconnected") << false << false << true << 2 << "" << none << "";
    QTest::newRow("protocol, disconnected") << false << false << false << 4 << "" << none << "";
    QTest::newRow("DELETE fails") << true << false << true << 2 << "DELETE" << on << "Kill Switch Setup Failed.";
    QTest::newRow("DNS filters fail") << true << false << true << 2 << "ADD_DNS_FILTERS" << on
                                      << "Setup of DNS leak prevention failed.";
}

void tst_MainWindowWorkflow::applyConfiguration()
{
    QFETCH(bool, connected);
    QFETCH(bool, before);
    QFETCH(bool, after);
    QFETCH(int, protocol);
    QFETCH(QString, failing);
    QFETCH(QStringList, commands);
    QFETCH(QString, popup);
    Configuration *config = AppContext::instance()->config();
    config->killSwitch = config->dnsLeakFix = before;
    setProtocol(IKEv2);
    if (connected) {
        click("tovraConnectButton");
        rasConnects();
        QTRY_COMPARE_WITH_TIMEOUT(m_window->connectionState(), StateConnected, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(g_events.size(), before ? 3 : 1, kWait);
    }
    const int sent = g_events.size();
    g_failing << failing;
    config->killSwitch = config->dnsLeakFix = after;
    config->SaveSettings(); // as the settings dialog does
    setProtocol(protocol);
    QTest::qWait(200); // nothing beyond the commands
    QTRY_COMPARE_WITH_TIMEOUT(g_events.mid(sent), commands, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(m_window->messageDialog()->isVisible() ? popupTitle() : QString(), popup, kWait);
    const QString settings = readFile(AppContext::instance()->dataPaths()->settingsFile());
    QCOMPARE(settings.contains("<KillSwitch enabled=\"1\"/>"), after && failing != "DELETE");
    QCOMPARE(settings.contains("<DnsLeakFix enabled=\"1\"/>"), after && failing != "ADD_DNS_FILTERS");
    const QString label = m_window->findChild<QLabel *>("tovraMainProtocolLabel")->text();
    QVERIFY2(label.contains(protocol == PPTP ? "PPtP" : "IKEv2"), qPrintable(label));
}

void tst_MainWindowWorkflow::staleAssignedIp()
{
    // Two late answers without an address: were they heard, they would end the next tunnel.
    QVERIFY(m_fixture.provider.script(
        QJsonObject{{"path", "/users/me/ip"}, {"status", 200}, {"body", "{}"}, {"delayMs", 1000}, {"times", 2}}));
    setProtocol(IKEv2);
    click("tovraConnectButton");
    rasConnects();
    QTRY_COMPARE_WITH_TIMEOUT(m_fixture.provider.requests("/users/me/ip").size(), 1, kWait);
    m_ras->open = false; // dropped during the check
    QTRY_VERIFY_WITH_TIMEOUT(m_window->messageDialog()->isVisible(), kWait);
    const int hangups = g_events.count("hangup");
    click("tovraConnectButton");
    QTRY_COMPARE_WITH_TIMEOUT(g_events.count("dial"), 2, kWait);
    QTest::qWait(2500);
    QCOMPARE(m_window->connectionState(), StateConnecting);
    QCOMPARE(g_events.count("hangup"), hangups);
    m_ras->notify(Ras::StateConnected);
    QTRY_COMPARE_WITH_TIMEOUT(m_window->connectionState(), StateConnected, kWait);
}

QTEST_MAIN(tst_MainWindowWorkflow)
#include "tst_mainwindow_workflow.moc"
