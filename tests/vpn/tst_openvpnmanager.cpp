#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>

#include "app/appcontext.h"
#include "common/servicecontroller.h"
#include "vpn/openvpnmanager.h"
#include "vpntesthelpers.h"

namespace {

// Stands in for the OpenVPN service: records what the manager asks and plays the service's answers.
class FakeServiceController : public ServiceController
{
public:
    FakeServiceController() : ServiceController(QStringLiteral("OpenVPNService")) {}

    bool isInstalled() const override
    {
        calls << QStringLiteral("isInstalled");
        return installed;
    }
    bool isRunning() const override
    {
        calls << QStringLiteral("isRunning");
        if (startRequested && !running) {
            ++checksSinceStart;
            running = runningFromCheck > 0 && checksSinceStart >= runningFromCheck;
        }
        return running;
    }
    bool start(const QStringList &) override
    {
        calls << QStringLiteral("start");
        startRequested = acceptStart;
        checksSinceStart = 0;
        return acceptStart;
    }
    bool stop() override
    {
        calls << QStringLiteral("stop");
        running = startRequested = false;
        if (onStop)
            onStop();
        return true;
    }
    int stops() const { return calls.count(QStringLiteral("stop")); }

    bool installed = true;
    bool acceptStart = true;
    int runningFromCheck = 1; // the check after the start from which the service runs; 0: never
    std::function<void()> onStop;

    mutable QStringList calls;
    mutable bool running = false;
    mutable int checksSinceStart = 0;
    bool startRequested = false;
};

const QByteArray kHold = ">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info\r\n"
                         ">HOLD:Waiting for hold release:0\r\n";
const QByteArray kReleaseHold = "state on\nhold release\n";
const QByteArray kPasswordPrompt = ">PASSWORD:Need 'Auth' username/password\r\n";
const QByteArray kCredentials = "username \"Auth\" user@example.com\npassword \"Auth\" 0a1b2c3d4e5f\n";
const QByteArray kConnected = ">STATE:1700000003,CONNECTED,SUCCESS,10.8.0.6,192.0.2.10,443,,\r\n";
const QByteArray kExiting = ">STATE:1700000009,EXITING,SIGTERM,,,,,\r\n";
const QString kStarted = QStringLiteral("OpenVPNService started successfully.");

} // namespace

class tst_OpenVpnManager : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void configFile_data();
    void configFile();
    void configFileNotWritable();
    void serviceStart_data();
    void serviceStart();
    void secondConnectAfterFailedOne_data();
    void secondConnectAfterFailedOne();
    void managementRules_data();
    void managementRules();
    void teardown_data();
    void teardown();

private:
    OpenVpnManager &makeManager();
    void connectTcp() { m_manager->Connect(QStringLiteral("nl1.vpn.example.net"), QStringLiteral("TCP")); }
    // Connects until OpenVPN has been released from its hold (and, if asked, has reported CONNECTED).
    bool connectToHold(bool thenConnected = false);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<ManagementPeer> m_peer;
    std::unique_ptr<OpenVpnManager> m_manager;
    FakeServiceController *m_service = nullptr;
    QStringList m_events;
};

void tst_OpenVpnManager::init()
{
    AppContext::instance()->config()->killSwitch = false;
    m_dir = std::make_unique<QTemporaryDir>();
    m_log = std::make_unique<LogCapture>();
    m_peer = std::make_unique<ManagementPeer>();
    m_events.clear();
}

void tst_OpenVpnManager::cleanup()
{
    // The destructor stops the service; nothing may be left to fire in the next test.
    if (m_service)
        m_service->onStop = [this] { m_peer->closeClient(); };
    m_manager.reset();
    m_service = nullptr;
    m_peer.reset();
    m_log.reset();
    m_dir.reset();
}

OpenVpnManager &tst_OpenVpnManager::makeManager()
{
    auto service = std::make_unique<FakeServiceController>();
    m_service = service.get();
    // Stopping the service ends OpenVPN, which drops the management channel.
    m_service->onStop = [this] { m_peer->closeClient(); };
    m_manager = std::make_unique<OpenVpnManager>(std::move(service));
    OpenVpnManager &m = *m_manager;
    m.servicePollInterval = 1;
    m.failureDisconnectDelay = 0;
    m.managementConnectDelay = 0;
    m.disconnectTimeout = 5000;
    m.SetConfigFilePath(m_dir->filePath(QStringLiteral("conn.ovpn")));
    m.SetCredentials(QStringLiteral("user@example.com"), QStringLiteral("0a1b2c3d4e5f"));
    m.udpConfig = QStringLiteral("proto udp\ndev tun");
    m.tcpConfig = QStringLiteral("proto tcp-client\ndev tun");

    const auto record = [this, &m](auto signal, const char *name) {
        QObject::connect(&m, signal, this, [this, name] { m_events << QLatin1String(name); });
    };
    record(&OpenVpnManager::Connecting, "Connecting");
    record(&OpenVpnManager::CanCancelConnecting, "CanCancelConnecting");
    record(&OpenVpnManager::Connected, "Connected");
    record(&OpenVpnManager::Reconnecting, "Reconnecting");
    record(&OpenVpnManager::Disconnected, "Disconnected");
    record(&OpenVpnManager::DisconnectedOnExit, "DisconnectedOnExit");
    return m;
}

bool tst_OpenVpnManager::connectToHold(bool thenConnected)
{
    if (!m_peer->listen())
        return false;
    connectTcp();
    if (!m_peer->waitForClient())
        return false;
    m_peer->send(kHold);
    if (!m_peer->waitForReceived(kReleaseHold) || m_peer->received != kReleaseHold)
        return false;
    if (thenConnected) {
        m_peer->send(kConnected);
        if (!QTest::qWaitFor([this] { return m_events.contains(QStringLiteral("Connected")); }))
            return false;
    }
    const QStringList expected = thenConnected ? QStringList{"Connecting", "CanCancelConnecting", "Connected"}
                                               : QStringList{"Connecting", "CanCancelConnecting"};
    if (m_events != expected)
        return false;
    m_peer->received.clear();
    m_events.clear();
    m_service->calls.clear();
    return true;
}

void tst_OpenVpnManager::configFile_data()
{
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("tcp");
    QTest::addColumn<QByteArray>("existing"); // empty: no file before
    QTest::addColumn<QByteArray>("expected");

    const QByteArray head = "management 127.0.0.1 52025\nmanagement-query-passwords\nmanagement-hold\n"
                            "remote nl1.vpn.example.net 443\n";
    QTest::newRow("TCP takes the TCP text")
        << "TCP"
        << "proto tcp-client\r\nca x" << QByteArray() << head + "proto tcp-client\r\nca x\n";
    QTest::newRow("tcp in lower case takes the UDP text") << "tcp"
                                                          << "proto tcp-client" << QByteArray() << head + "proto udp\n";
    QTest::newRow("empty configuration text") << "TCP"
                                              << "" << QByteArray() << head + "\n";
    QTest::newRow("a longer old file is replaced, not appended to")
        << "TCP"
        << "dev tun" << QByteArray(4096, 'x') + "\nremote old.example.net 1194\n"
        << head + "dev tun\n";
}

void tst_OpenVpnManager::configFile()
{
    QFETCH(QString, protocol);
    QFETCH(QString, tcp);
    QFETCH(QByteArray, existing);
    QFETCH(QByteArray, expected);

    OpenVpnManager &m = makeManager();
    m_service->installed = false; // stop right after the file
    m.udpConfig = QStringLiteral("proto udp");
    m.tcpConfig = tcp;
    QFile file(m_dir->filePath(QStringLiteral("conn.ovpn")));
    if (!existing.isEmpty()) {
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(existing);
        file.close();
    }
    QByteArray atConnecting = "not emitted";
    QObject::connect(&m, &OpenVpnManager::Connecting, this, [&] {
        atConnecting = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        file.close();
    });

    m.Connect(QStringLiteral("nl1.vpn.example.net"), protocol);

    QCOMPARE(atConnecting, existing); // Connecting() comes before the file is written
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), expected); // the credentials never go into the file
}

void tst_OpenVpnManager::configFileNotWritable()
{
    OpenVpnManager &m = makeManager();
    m.SetConfigFilePath(m_dir->filePath(QStringLiteral("missing/conn.ovpn")));
    connectTcp();

    QCOMPARE(m_events, (QStringList{"Connecting", "Disconnected"}));
    QVERIFY(m_log->contains(QStringLiteral("Can't generate config file. Error writing to file.")));
    QVERIFY(m_service->calls.isEmpty());
}

void tst_OpenVpnManager::serviceStart_data()
{
    QTest::addColumn<bool>("leftover"); // the service still runs from an earlier session
    QTest::addColumn<bool>("installed");
    QTest::addColumn<bool>("acceptStart");
    QTest::addColumn<int>("runningFromCheck");
    QTest::addColumn<int>("checks");
    QTest::addColumn<QString>("outcomeLine");

    const QString cannotStart = QStringLiteral("OpenVPN service error: service can't be started.");
    QTest::newRow("not installed") << false << false << true << 1 << 0
                                   << QStringLiteral("OpenVPN service error: service not installed.");
    QTest::newRow("start request refused") << false << true << false << 1 << 0 << cannotStart;
    QTest::newRow("running on the first check") << false << true << true << 1 << 1 << kStarted;
    QTest::newRow("running on the tenth check counts as started") << false << true << true << 10 << 10 << kStarted;
    QTest::newRow("still stopped after ten checks") << false << true << true << 11 << 10 << cannotStart;
    QTest::newRow("a leftover service is stopped first") << true << true << true << 1 << 1 << kStarted;
}

void tst_OpenVpnManager::serviceStart()
{
    QFETCH(bool, leftover);
    QFETCH(bool, installed);
    QFETCH(bool, acceptStart);
    QFETCH(int, runningFromCheck);
    QFETCH(int, checks);
    QFETCH(QString, outcomeLine);

    QVERIFY(m_peer->listen());
    OpenVpnManager &m = makeManager();
    m_service->running = leftover;
    m_service->installed = installed;
    m_service->acceptStart = acceptStart;
    m_service->runningFromCheck = runningFromCheck;

    connectTcp();

    QStringList calls{"isInstalled"};
    if (installed)
        calls << "isRunning" << (leftover ? QStringList{"stop", "start"} : QStringList{"start"});
    for (int i = 0; i < checks; ++i)
        calls << "isRunning";
    QCOMPARE(m_service->calls, calls);
    const QStringList log = m_log->lines();
    QVERIFY2(log.contains(outcomeLine), qPrintable(m_log->dump()));
    QCOMPARE(log.count(QStringLiteral("OpenVPN service still not running, next check in 1 sec.")), qMax(0, checks - 1));
    const int already = log.indexOf(QStringLiteral("OpenVPNService is already running. Trying to stop it."));
    QCOMPARE(already >= 0, leftover);
    if (leftover)
        QCOMPARE(log.value(already + 1), QStringLiteral("Result of stopping openvpn service: true"));
    if (outcomeLine == kStarted) {
        QVERIFY(m_peer->waitForClient()); // the management channel follows the start
        QVERIFY(m.serviceAvailable);
        QVERIFY(log.contains(QStringLiteral("Connecting management interface.")));
    } else {
        QTRY_COMPARE(m_events, (QStringList{"Connecting", "Disconnected"}));
        QVERIFY(!m.serviceAvailable);
        QVERIFY(!m_log->contains(QStringLiteral("Connecting management interface.")));
        QCOMPARE(m_peer->connections, 0);
    }
}

void tst_OpenVpnManager::secondConnectAfterFailedOne_data()
{
    QTest::addColumn<bool>("waitForFirstDrop");
    QTest::newRow("after the first drop was reported") << true;
    QTest::newRow("before the delayed drop of the first attempt") << false;
}

void tst_OpenVpnManager::secondConnectAfterFailedOne()
{
    QFETCH(bool, waitForFirstDrop);

    OpenVpnManager &m = makeManager();
    m_service->runningFromCheck = 0;
    connectTcp();
    QCOMPARE(m_service->checksSinceStart, 10);
    QVERIFY(!m.serviceAvailable);
    if (waitForFirstDrop)
        QTRY_COMPARE(m_events, (QStringList{"Connecting", "Disconnected"}));
    m_events.clear();

    // A fresh ten-check budget: the service comes up on the last check this time.
    m_service->runningFromCheck = 10;
    QVERIFY(connectToHold(true)); // the first attempt's drop must not reach the second one
    QCOMPARE(m_service->checksSinceStart, 10);
    QVERIFY(m.serviceAvailable);
}

void tst_OpenVpnManager::managementRules_data()
{
    QTest::addColumn<bool>("killSwitch");
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<int>("stops");
    QTest::addColumn<QString>("logLine"); // empty: none required
    QTest::addColumn<bool>("serverAvailable");
    QTest::addColumn<bool>("channelClosed");

    const QString ksLine = QStringLiteral("Reconnecting message found, but KillSwitch is enabled. Disconnecting.");
    const QByteArray reconnecting = ">STATE:1700000005,RECONNECTING,SIGUSR1,,,,,\r\n";
    const QByteArray holdAgain = ">HOLD:Waiting for hold release:5\r\n";
    const QStringList none;

    QTest::newRow("CONNECTED with EXITING is CONNECTED only")
        << false << kConnected + kExiting << QStringList{"Connected"} << QByteArray() << 0 << QString() << true
        << false;
    QTest::newRow("password prompt comes before everything else")
        << false << kPasswordPrompt + kConnected + holdAgain << none << kCredentials << 0 << QString() << true << false;
    QTest::newRow("EXITING with auth-failure stops the service")
        << false
        << QByteArray(">PASSWORD:Verification Failed: 'Auth'\r\n>STATE:1700000004,EXITING,auth-failure,,,,,\r\n")
        << QStringList{"Disconnected"} << QByteArray() << 1
        << QStringLiteral("Server returns auth-failure. Disconnecting.") << true << true;
    QTest::newRow("EXITING with tls-error is EXITING")
        << false << QByteArray(">STATE:1700000004,EXITING,tls-error,,,,,\r\n") << QStringList{"Disconnected"}
        << QByteArray() << 0 << QStringLiteral("Disconnecting management interface.") << true << true;
    QTest::newRow("RECONNECTING with tls-error is a tls error")
        << false << QByteArray(">STATE:1700000004,RECONNECTING,tls-error,,,,,\r\n") << none << QByteArray() << 1
        << QStringLiteral("Server returns tls-error. Disconnecting.") << false << true;
    QTest::newRow("HOLD with RECONNECTING, kill switch off: reconnect, then release")
        << false << reconnecting + holdAgain << QStringList{"Reconnecting", "CanCancelConnecting"} << kReleaseHold << 0
        << QString() << true << false;
    QTest::newRow("HOLD with RECONNECTING, kill switch on: stop, no release")
        << true << reconnecting + holdAgain << none << QByteArray() << 1 << ksLine << false << true;
    QTest::newRow("HOLD alone releases the hold")
        << true << holdAgain << QStringList{"CanCancelConnecting"} << kReleaseHold << 0 << QString() << true << false;
    QTest::newRow("RECONNECTING, kill switch off")
        << false << reconnecting << QStringList{"Reconnecting"} << QByteArray() << 0 << QString() << true << false;
    QTest::newRow("RECONNECTING, kill switch on")
        << true << reconnecting << none << QByteArray() << 1 << ksLine << false << true;
    QTest::newRow("anything else is ignored")
        << true << QByteArray(">STATE:1700000002,WAIT,,,,,,\r\n>STATE:1700000002,AUTH,,,,,,\r\nSUCCESS: x\r\n") << none
        << QByteArray() << 0 << QString() << true << false;
}

void tst_OpenVpnManager::managementRules()
{
    QFETCH(bool, killSwitch);
    QFETCH(QByteArray, chunk);
    QFETCH(QStringList, events);
    QFETCH(QByteArray, wire);
    QFETCH(int, stops);
    QFETCH(QString, logLine);
    QFETCH(bool, serverAvailable);
    QFETCH(bool, channelClosed);

    AppContext::instance()->config()->killSwitch = killSwitch;
    OpenVpnManager &m = makeManager();
    QVERIFY(connectToHold());

    m_peer->send(chunk);
    // The channel logs every chunk before it hands it on.
    QVERIFY2(m_log->waitFor(QString::fromLatin1(chunk)), qPrintable(m_log->dump()));
    if (channelClosed) {
        QTRY_VERIFY(m_peer->clientGone());
    } else {
        // Everything the chunk made the manager send arrives before the answer to this prompt.
        m_peer->send(kPasswordPrompt);
        wire += kCredentials;
        QVERIFY(m_peer->waitForReceived(wire));
    }
    QCOMPARE(m_peer->received, wire);
    QCOMPARE(m_events, events);
    QCOMPARE(m_service->stops(), stops);
    QVERIFY2(logLine.isEmpty() || m_log->contains(logLine), qPrintable(m_log->dump()));
    QCOMPARE(m.serverAvailable, serverAvailable);
}

void tst_OpenVpnManager::teardown_data()
{
    // Stage: refused, starting (channel up, still on hold), released, connected. Action: drop (OpenVPN closes
    // the channel), disconnect, exit. Then what OpenVPN does when the service stops.
    QTest::addColumn<QStringList>("how");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<int>("stops");
    QTest::addColumn<QString>("line"); // must be logged

    const QString closed = QStringLiteral("Remote host closed socket.");
    const QString socketError = QStringLiteral("Socket error occurs. Disconnecting.");
    const QString stopped = QStringLiteral("Result of stopping openvpn service: true");
    const QStringList none;
    const QStringList disconnected{"Disconnected"};
    QTest::newRow("refused channel is ignored")
        << QStringList{"refused", "drop", "close"} << none << 0
        << QStringLiteral("The connection was refused by the peer. Make sure the openvpn server is running, and "
                          "check that the host name and port settings are correct.");
    QTest::newRow("drop before the hold is ignored") << QStringList{"starting", "drop", "close"} << none << 0 << closed;
    QTest::newRow("drop after the hold tears down")
        << QStringList{"released", "drop", "close"} << disconnected << 1 << socketError;
    QTest::newRow("disconnect before the hold returns without waiting")
        << QStringList{"starting", "disconnect", "close"} << none << 1 << closed;
    QTest::newRow("exit while the service starts")
        << QStringList{"starting", "exit", "close"} << QStringList{"DisconnectedOnExit"} << 1 << closed;
    QTest::newRow("exit while connected waits for EXITING")
        << QStringList{"connected", "exit", "exiting"} << QStringList{"Disconnected", "DisconnectedOnExit"} << 1
        << stopped;
    QTest::newRow("disconnect: OpenVPN reports EXITING")
        << QStringList{"connected", "disconnect", "exiting"} << disconnected << 1 << stopped;
    // The socket-failure rule runs its own disconnect, which stops the service once more.
    QTest::newRow("disconnect: OpenVPN drops the channel")
        << QStringList{"connected", "disconnect", "close later"} << disconnected << 2 << socketError;
    QTest::newRow("disconnect: EXITING arrives while the stop still runs")
        << QStringList{"connected", "disconnect", "exiting during stop"} << disconnected << 1 << stopped;
    QTest::newRow("disconnect: OpenVPN stays silent, the wait ends at its limit")
        << QStringList{"connected", "disconnect", "silent"} << disconnected << 1
        << QStringLiteral("OpenVPN did not exit in time. Carrying on as disconnected.");
}

void tst_OpenVpnManager::teardown()
{
    QFETCH(QStringList, how);
    QFETCH(QStringList, events);
    QFETCH(int, stops);
    QFETCH(QString, line);
    const QString stage = how.at(0), action = how.at(1), onStop = how.at(2);

    OpenVpnManager &m = makeManager();
    if (stage == QLatin1String("released") || stage == QLatin1String("connected")) {
        QVERIFY(connectToHold(stage == QLatin1String("connected")));
    } else {
        QVERIFY(stage == QLatin1String("refused") || m_peer->listen());
        connectTcp();
        QVERIFY(stage == QLatin1String("refused") || m_peer->waitForClient());
        m_events.clear();
        m_service->calls.clear();
    }
    if (onStop == QLatin1String("exiting")) {
        m_service->onStop = [this] { QTimer::singleShot(0, [this] { m_peer->send(kExiting); }); };
    } else if (onStop == QLatin1String("close later")) {
        m_service->onStop = [this] { QTimer::singleShot(0, [this] { m_peer->closeClient(); }); };
    } else if (onStop == QLatin1String("exiting during stop")) {
        // A controller that keeps the event loop running while it waits for the stopped state.
        m_service->onStop = [this] {
            m_peer->send(kExiting);
            if (!QTest::qWaitFor([this] { return m_events.contains(QStringLiteral("Disconnected")); }))
                qWarning("EXITING was not handled during the stop");
        };
    } else if (onStop == QLatin1String("silent")) {
        m_service->onStop = nullptr;
        m.disconnectTimeout = 100;
    }

    if (action == QLatin1String("drop"))
        m_peer->closeClient();
    else if (action == QLatin1String("disconnect"))
        m.Disconnect();
    else
        m.DisconnectOnExit();

    QVERIFY2(m_log->waitFor(line), qPrintable(m_log->dump()));
    QCOMPARE(m_events, events);
    QCOMPARE(m_service->stops(), stops);
    QCOMPARE(m_log->contains(QStringLiteral("OpenVPN did not exit in time. Carrying on as disconnected.")),
             onStop == QLatin1String("silent"));
    if (events.contains(QStringLiteral("Disconnected")) && action != QLatin1String("exit")) {
        // Torn down once: a later disconnect waits for nothing, leaving stops nothing.
        m_service->onStop = nullptr;
        m_service->calls.clear();
        m_events.clear();
        m.Disconnect();
        m.DisconnectOnExit();
        QCOMPARE(m_service->stops(), 1);
        QCOMPARE(m_events, QStringList{"DisconnectedOnExit"});
    }
}

QTEST_GUILESS_MAIN(tst_OpenVpnManager)
#include "tst_openvpnmanager.moc"
