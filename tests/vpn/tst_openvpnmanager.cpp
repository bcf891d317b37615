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

// Stands in for the OpenVPN service: counts what the manager asks and plays the service's answers.
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
        if (!acceptStart)
            return false;
        startRequested = true;
        checksSinceStart = 0;
        return true;
    }
    bool stop() override
    {
        calls << QStringLiteral("stop");
        running = false;
        startRequested = false;
        if (onStop)
            onStop();
        return true;
    }

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
const QByteArray kPasswordPrompt = ">PASSWORD:Need 'Auth' username/password\r\n";
const QByteArray kConnected = ">STATE:1700000003,CONNECTED,SUCCESS,10.8.0.6,192.0.2.10,443,,\r\n";
const QByteArray kExiting = ">STATE:1700000009,EXITING,SIGTERM,,,,,\r\n";
const QString kUser = QStringLiteral("user@example.com");
const QString kToken = QStringLiteral("0a1b2c3d4e5f");

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
    void leftoverServiceIsStoppedFirst();
    void secondConnectAfterFailedOne_data();
    void secondConnectAfterFailedOne();
    void connectsThroughTheManagementChannel();
    void managementRules_data();
    void managementRules();
    void socketError_data();
    void socketError();
    void disconnectWait_data();
    void disconnectWait();
    void disconnectBeforeHoldReturnsAtOnce();
    void disconnectOnExit_data();
    void disconnectOnExit();

private:
    OpenVpnManager &makeManager();
    // Connect until OpenVPN has been released from its hold; the peer then holds the channel.
    bool connectToHold();
    void record(const char *name);

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

void tst_OpenVpnManager::record(const char *name)
{
    m_events << QLatin1String(name);
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
    m.SetCredentials(kUser, kToken);
    m.udpConfig = QStringLiteral("proto udp\ndev tun");
    m.tcpConfig = QStringLiteral("proto tcp-client\ndev tun");

    connect(&m, &OpenVpnManager::Connecting, this, [this] { record("Connecting"); });
    connect(&m, &OpenVpnManager::CanCancelConnecting, this, [this] { record("CanCancelConnecting"); });
    connect(&m, &OpenVpnManager::Connected, this, [this] { record("Connected"); });
    connect(&m, &OpenVpnManager::Reconnecting, this, [this] { record("Reconnecting"); });
    connect(&m, &OpenVpnManager::Disconnected, this, [this] { record("Disconnected"); });
    connect(&m, &OpenVpnManager::DisconnectedOnExit, this, [this] { record("DisconnectedOnExit"); });
    return m;
}

bool tst_OpenVpnManager::connectToHold()
{
    if (!m_peer->listen())
        return false;
    m_manager->Connect(QStringLiteral("nl1.vpn.example.net"), QStringLiteral("TCP"));
    if (!m_peer->waitForClient())
        return false;
    m_peer->send(kHold);
    if (!m_peer->waitForReceived("state on\nhold release\n"))
        return false;
    m_peer->received.clear();
    m_events.clear();
    m_service->calls.clear();
    return true;
}

void tst_OpenVpnManager::configFile_data()
{
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("udp");
    QTest::addColumn<QString>("tcp");
    QTest::addColumn<QByteArray>("existing"); // empty: no file before
    QTest::addColumn<QByteArray>("expected");

    const QByteArray head = "management 127.0.0.1 52025\nmanagement-query-passwords\nmanagement-hold\n"
                            "remote nl1.vpn.example.net 443\n";
    QTest::newRow("TCP takes the TCP text")
        << "TCP"
        << "proto udp"
        << "proto tcp-client\nca x" << QByteArray() << head + "proto tcp-client\nca x\n";
    QTest::newRow("tcp in lower case takes the UDP text") << "tcp"
                                                          << "proto udp"
                                                          << "proto tcp-client" << QByteArray() << head + "proto udp\n";
    QTest::newRow("UDP takes the UDP text")
        << "UDP"
        << "proto udp\r\nremote-random"
        << "proto tcp-client" << QByteArray() << head + "proto udp\r\nremote-random\n";
    QTest::newRow("empty configuration text") << "TCP"
                                              << "proto udp"
                                              << "" << QByteArray() << head + "\n";
    QTest::newRow("a longer old file is replaced, not appended to")
        << "TCP"
        << ""
        << "dev tun" << QByteArray(4096, 'x') + "\nremote old.example.net 1194\n"
        << head + "dev tun\n";
}

void tst_OpenVpnManager::configFile()
{
    QFETCH(QString, protocol);
    QFETCH(QString, udp);
    QFETCH(QString, tcp);
    QFETCH(QByteArray, existing);
    QFETCH(QByteArray, expected);

    OpenVpnManager &m = makeManager();
    m_service->installed = false; // stop right after the file
    m.udpConfig = udp;
    m.tcpConfig = tcp;
    const QString path = m_dir->filePath(QStringLiteral("conn.ovpn"));
    if (!existing.isEmpty()) {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(existing);
    }
    QByteArray atConnecting = "not emitted";
    connect(&m, &OpenVpnManager::Connecting, this, [&] {
        QFile f(path);
        atConnecting = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    });

    m.Connect(QStringLiteral("nl1.vpn.example.net"), protocol);

    QCOMPARE(atConnecting, existing); // Connecting() comes before the file is written
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    QCOMPARE(written, expected);
    QVERIFY(!written.contains(kUser.toUtf8()));
    QVERIFY(!written.contains(kToken.toUtf8()));
}

void tst_OpenVpnManager::configFileNotWritable()
{
    OpenVpnManager &m = makeManager();
    m.SetConfigFilePath(m_dir->filePath(QStringLiteral("missing/conn.ovpn")));
    m.Connect(QStringLiteral("nl1.vpn.example.net"), QStringLiteral("TCP"));

    QCOMPARE(m_events, (QStringList{"Connecting", "Disconnected"}));
    QVERIFY(m_log->contains(QStringLiteral("Can't generate config file. Error writing to file.")));
    QVERIFY(m_service->calls.isEmpty());
}

void tst_OpenVpnManager::serviceStart_data()
{
    QTest::addColumn<bool>("installed");
    QTest::addColumn<bool>("acceptStart");
    QTest::addColumn<int>("runningFromCheck");
    QTest::addColumn<bool>("started");
    QTest::addColumn<int>("checks");
    QTest::addColumn<QString>("outcomeLine");

    const QString cannotStart = QStringLiteral("OpenVPN service error: service can't be started.");
    const QString started = QStringLiteral("OpenVPNService started successfully.");
    QTest::newRow("not installed") << false << true << 1 << false << 0
                                   << QStringLiteral("OpenVPN service error: service not installed.");
    QTest::newRow("start request refused") << true << false << 1 << false << 0 << cannotStart;
    QTest::newRow("running on the first check") << true << true << 1 << true << 1 << started;
    QTest::newRow("running on the tenth check counts as started") << true << true << 10 << true << 10 << started;
    QTest::newRow("still stopped after ten checks") << true << true << 11 << false << 10 << cannotStart;
    QTest::newRow("never running") << true << true << 0 << false << 10 << cannotStart;
}

void tst_OpenVpnManager::serviceStart()
{
    QFETCH(bool, installed);
    QFETCH(bool, acceptStart);
    QFETCH(int, runningFromCheck);
    QFETCH(bool, started);
    QFETCH(int, checks);
    QFETCH(QString, outcomeLine);

    QVERIFY(m_peer->listen());
    OpenVpnManager &m = makeManager();
    m_service->installed = installed;
    m_service->acceptStart = acceptStart;
    m_service->runningFromCheck = runningFromCheck;

    m.Connect(QStringLiteral("nl1.vpn.example.net"), QStringLiteral("TCP"));

    QVERIFY2(m_log->contains(outcomeLine), qPrintable(m_log->dump()));
    QCOMPARE(m_service->checksSinceStart, checks);
    QCOMPARE(m_log->count(QStringLiteral("OpenVPN service still not running, next check in 1 sec.")),
             qMax(0, checks - 1));
    if (started) {
        QVERIFY(m_peer->waitForClient()); // the management channel follows the start
        QVERIFY(m.serviceAvailable);
        QVERIFY(m_log->contains(QStringLiteral("Connecting management interface.")));
    } else {
        QTRY_COMPARE(m_events, (QStringList{"Connecting", "Disconnected"}));
        QVERIFY(!m.serviceAvailable);
        QVERIFY(!m_log->contains(QStringLiteral("Connecting management interface.")));
        QCOMPARE(m_peer->connections, 0);
    }
    QCOMPARE(m_service->calls.count(QStringLiteral("start")), installed ? 1 : 0);
}

void tst_OpenVpnManager::leftoverServiceIsStoppedFirst()
{
    QVERIFY(m_peer->listen());
    OpenVpnManager &m = makeManager();
    m_service->running = true;

    m.Connect(QStringLiteral("nl1.vpn.example.net"), QStringLiteral("TCP"));

    QCOMPARE(m_service->calls.mid(0, 4), (QStringList{"isInstalled", "isRunning", "stop", "start"}));
    const QStringList &log = m_log->lines();
    const int already = log.indexOf(QStringLiteral("OpenVPNService is already running. Trying to stop it."));
    QVERIFY2(already >= 0, qPrintable(m_log->dump()));
    QCOMPARE(log.value(already + 1), QStringLiteral("Result of stopping openvpn service: true"));
    QVERIFY(m_log->contains(QStringLiteral("OpenVPNService started successfully.")));
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

    QVERIFY(m_peer->listen());
    OpenVpnManager &m = makeManager();
    m_service->runningFromCheck = 0;
    m.Connect(QStringLiteral("nl1.vpn.example.net"), QStringLiteral("TCP"));
    QCOMPARE(m_service->checksSinceStart, 10);
    QVERIFY(!m.serviceAvailable);
    if (waitForFirstDrop)
        QTRY_COMPARE(m_events, (QStringList{"Connecting", "Disconnected"}));
    m_events.clear();

    // A fresh ten-check budget: the service comes up on the last check this time.
    m_service->runningFromCheck = 10;
    m.Connect(QStringLiteral("nl1.vpn.example.net"), QStringLiteral("TCP"));
    QCOMPARE(m_service->checksSinceStart, 10);
    QVERIFY(m.serviceAvailable);
    QVERIFY(m_peer->waitForClient());
    m_peer->send(kHold);
    QVERIFY(m_peer->waitForReceived("state on\nhold release\n"));
    m_peer->send(kConnected);
    QTRY_VERIFY(m_events.contains(QStringLiteral("Connected")));
    // The first attempt's drop must not reach the second one.
    QCOMPARE(m_events, (QStringList{"Connecting", "CanCancelConnecting", "Connected"}));
}

void tst_OpenVpnManager::connectsThroughTheManagementChannel()
{
    QVERIFY(m_peer->listen());
    OpenVpnManager &m = makeManager();
    const QString token = QStringLiteral("tok€n-42");
    m.SetCredentials(kUser, token);

    m.Connect(QStringLiteral("nl1.vpn.example.net"), QStringLiteral("TCP"));
    QVERIFY(m_peer->waitForClient());
    m_peer->send(kHold);
    QVERIFY(m_peer->waitForReceived("state on\nhold release\n"));
    QCOMPARE(m_peer->received, QByteArray("state on\nhold release\n"));
    QCOMPARE(m_events, (QStringList{"Connecting", "CanCancelConnecting"}));

    m_peer->received.clear();
    m_peer->send(kPasswordPrompt);
    const QByteArray credentials = "username \"Auth\" user@example.com\npassword \"Auth\" " + token.toUtf8() + "\n";
    QVERIFY(m_peer->waitForReceived(credentials));
    QCOMPARE(m_peer->received, credentials);

    // The token is the user's API secret: masked in the log, one star per character.
    const QString masked = QStringLiteral(R"(Sending command : "password \"Auth\" ********\n")");
    QVERIFY2(m_log->contains(masked), qPrintable(m_log->dump()));
    for (const QString &line : m_log->lines())
        QVERIFY2(!line.contains(QStringLiteral("tok")), qPrintable(line));

    m_peer->send(kConnected);
    QTRY_COMPARE(m_events, (QStringList{"Connecting", "CanCancelConnecting", "Connected"}));
    QVERIFY(m.serverAvailable);
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
    const QByteArray releaseHold = "state on\nhold release\n";
    const QByteArray reconnecting = ">STATE:1700000005,RECONNECTING,SIGUSR1,,,,,\r\n";
    const QByteArray holdAgain = ">HOLD:Waiting for hold release:5\r\n";

    QTest::newRow("CONNECTED with EXITING is CONNECTED only")
        << false << kConnected + kExiting << QStringList{"Connected"} << QByteArray() << 0 << QString() << true
        << false;
    QTest::newRow("password prompt comes before everything else")
        << false << kPasswordPrompt + kConnected + holdAgain << QStringList{}
        << QByteArray("username \"Auth\" user@example.com\npassword \"Auth\" 0a1b2c3d4e5f\n") << 0 << QString() << true
        << false;
    QTest::newRow("EXITING") << false << kExiting << QStringList{"Disconnected"} << QByteArray() << 0
                             << QStringLiteral("Disconnecting management interface.") << true << true;
    QTest::newRow("EXITING with auth-failure stops the service")
        << false
        << QByteArray(">PASSWORD:Verification Failed: 'Auth'\r\n>STATE:1700000004,EXITING,auth-failure,,,,,\r\n")
        << QStringList{"Disconnected"} << QByteArray() << 1
        << QStringLiteral("Server returns auth-failure. Disconnecting.") << true << true;
    QTest::newRow("EXITING with tls-error is EXITING")
        << false << QByteArray(">STATE:1700000004,EXITING,tls-error,,,,,\r\n") << QStringList{"Disconnected"}
        << QByteArray() << 0 << QString() << true << true;
    QTest::newRow("RECONNECTING with tls-error is a tls error")
        << false << QByteArray(">STATE:1700000004,RECONNECTING,tls-error,,,,,\r\n") << QStringList{} << QByteArray()
        << 1 << QStringLiteral("Server returns tls-error. Disconnecting.") << false << true;
    QTest::newRow("HOLD with RECONNECTING, kill switch off: reconnect, then release")
        << false << reconnecting + holdAgain << QStringList{"Reconnecting", "CanCancelConnecting"} << releaseHold << 0
        << QString() << true << false;
    QTest::newRow("HOLD with RECONNECTING, kill switch on: stop, no release")
        << true << reconnecting + holdAgain << QStringList{} << QByteArray() << 1 << ksLine << false << true;
    QTest::newRow("HOLD alone releases the hold")
        << true << holdAgain << QStringList{"CanCancelConnecting"} << releaseHold << 0 << QString() << true << false;
    QTest::newRow("RECONNECTING, kill switch off")
        << false << reconnecting << QStringList{"Reconnecting"} << QByteArray() << 0 << QString() << true << false;
    QTest::newRow("RECONNECTING, kill switch on")
        << true << reconnecting << QStringList{} << QByteArray() << 1 << ksLine << false << true;
    QTest::newRow("anything else is ignored")
        << true << QByteArray(">STATE:1700000002,WAIT,,,,,,\r\n>STATE:1700000002,AUTH,,,,,,\r\nSUCCESS: x\r\n")
        << QStringList{} << QByteArray() << 0 << QString() << true << false;
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
        wire += "username \"Auth\" user@example.com\npassword \"Auth\" 0a1b2c3d4e5f\n";
        QVERIFY(m_peer->waitForReceived(wire));
    }
    QCOMPARE(m_peer->received, wire);
    QCOMPARE(m_events, events);
    QCOMPARE(m_service->calls.count(QStringLiteral("stop")), stops);
    if (!logLine.isEmpty())
        QVERIFY2(m_log->contains(logLine), qPrintable(m_log->dump()));
    QCOMPARE(m.serverAvailable, serverAvailable);
}

void tst_OpenVpnManager::socketError_data()
{
    QTest::addColumn<QString>("stage");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<int>("stops");

    QTest::newRow("refused before OpenVPN listens is ignored") << "refused" << QStringList{} << 0;
    QTest::newRow("closed before the hold is ignored") << "before hold" << QStringList{} << 0;
    QTest::newRow("closed after the hold tears down") << "after hold" << QStringList{"Disconnected"} << 1;
    QTest::newRow("closed while connected tears down") << "connected" << QStringList{"Disconnected"} << 1;
}

void tst_OpenVpnManager::socketError()
{
    QFETCH(QString, stage);
    QFETCH(QStringList, events);
    QFETCH(int, stops);

    OpenVpnManager &m = makeManager();
    if (stage == QLatin1String("refused")) {
        m.Connect(QStringLiteral("nl1.vpn.example.net"), QStringLiteral("TCP"));
        m_events.clear();
        m_service->calls.clear();
    } else if (stage == QLatin1String("before hold")) {
        QVERIFY(m_peer->listen());
        m.Connect(QStringLiteral("nl1.vpn.example.net"), QStringLiteral("TCP"));
        QVERIFY(m_peer->waitForClient());
        m_events.clear();
        m_service->calls.clear();
        m_peer->closeClient();
    } else {
        QVERIFY(connectToHold());
        if (stage == QLatin1String("connected")) {
            m_peer->send(kConnected);
            QTRY_COMPARE(m_events, QStringList{"Connected"});
            m_events.clear();
        }
        m_peer->closeClient();
    }

    const QString channelLine = stage == QLatin1String("refused")
                                    ? QStringLiteral("The connection was refused by the peer. Make sure the openvpn "
                                                     "server is running, and check that the host name and port "
                                                     "settings are correct.")
                                    : QStringLiteral("Remote host closed socket.");
    QVERIFY2(m_log->waitFor(channelLine), qPrintable(m_log->dump()));
    QCOMPARE(m_events, events);
    QCOMPARE(m_service->calls.count(QStringLiteral("stop")), stops);
    const QStringList &log = m_log->lines();
    const int teardown = log.indexOf(QStringLiteral("Socket error occurs. Disconnecting."));
    if (stops == 0) {
        QCOMPARE(teardown, -1);
    } else {
        QVERIFY2(teardown >= 0, qPrintable(m_log->dump()));
        QCOMPARE(log.value(teardown + 1), QStringLiteral("Disconnecting from server."));
        // Torn down once: a later service stop does not wait for an exit that already happened.
        m_service->calls.clear();
        m.Disconnect();
        QCOMPARE(m_events, events);
    }
}

void tst_OpenVpnManager::disconnectWait_data()
{
    QTest::addColumn<QString>("openVpnOnStop");
    QTest::addColumn<bool>("timedOut");
    QTest::addColumn<int>("stops");

    QTest::newRow("OpenVPN reports EXITING") << "exiting" << false << 1;
    // The socket-failure rule runs its own disconnect, which stops the service once more.
    QTest::newRow("OpenVPN drops the channel") << "close" << false << 2;
    QTest::newRow("EXITING arrives while the stop is still running") << "exiting during stop" << false << 1;
    QTest::newRow("OpenVPN stays silent: the wait ends at its limit") << "silent" << true << 1;
}

void tst_OpenVpnManager::disconnectWait()
{
    QFETCH(QString, openVpnOnStop);
    QFETCH(bool, timedOut);
    QFETCH(int, stops);

    OpenVpnManager &m = makeManager();
    QVERIFY(connectToHold());
    m_peer->send(kConnected);
    QTRY_COMPARE(m_events, QStringList{"Connected"});
    m_events.clear();

    if (openVpnOnStop == QLatin1String("exiting")) {
        m_service->onStop = [this] { QTimer::singleShot(0, [this] { m_peer->send(kExiting); }); };
    } else if (openVpnOnStop == QLatin1String("close")) {
        m_service->onStop = [this] { QTimer::singleShot(0, [this] { m_peer->closeClient(); }); };
    } else if (openVpnOnStop == QLatin1String("exiting during stop")) {
        // A controller that keeps the event loop running while it waits for the stopped state.
        m_service->onStop = [this] {
            m_peer->send(kExiting);
            if (!QTest::qWaitFor([this] { return m_events.contains(QStringLiteral("Disconnected")); }, 5000))
                qWarning("EXITING was not handled during the stop");
        };
    } else {
        m_service->onStop = nullptr;
        m.disconnectTimeout = 100;
    }

    m.Disconnect();

    QCOMPARE(m_events, QStringList{"Disconnected"});
    QCOMPARE(m_service->calls.count(QStringLiteral("stop")), stops);
    QVERIFY(m_log->contains(QStringLiteral("Disconnecting from server.")));
    QVERIFY(m_log->contains(QStringLiteral("Result of stopping openvpn service: true")));
    QCOMPARE(m_log->contains(QStringLiteral("OpenVPN did not exit in time. Carrying on as disconnected.")), timedOut);

    // Afterwards the manager is idle: leaving does not stop the service again.
    m_service->calls.clear();
    m.DisconnectOnExit();
    QCOMPARE(m_service->calls.count(QStringLiteral("stop")), 0);
    QCOMPARE(m_events, (QStringList{"Disconnected", "DisconnectedOnExit"}));
}

void tst_OpenVpnManager::disconnectBeforeHoldReturnsAtOnce()
{
    QVERIFY(m_peer->listen());
    OpenVpnManager &m = makeManager();
    m.disconnectTimeout = 60000; // a wait here would fail the test by its time limit
    m.Connect(QStringLiteral("nl1.vpn.example.net"), QStringLiteral("TCP"));
    QVERIFY(m_peer->waitForClient());
    m_events.clear();

    m.Disconnect();
    QCOMPARE(m_service->calls.count(QStringLiteral("stop")), 1);
    // The channel closes with the service; before the hold that is no drop.
    QVERIFY(m_log->waitFor(QStringLiteral("Remote host closed socket.")));
    QCOMPARE(m_events, QStringList{});
}

void tst_OpenVpnManager::disconnectOnExit_data()
{
    QTest::addColumn<QString>("stage");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<int>("stops");

    QTest::newRow("idle") << "idle" << QStringList{"DisconnectedOnExit"} << 0;
    QTest::newRow("starting") << "starting" << QStringList{"DisconnectedOnExit"} << 1;
    QTest::newRow("connected") << "connected" << QStringList{"Disconnected", "DisconnectedOnExit"} << 1;
}

void tst_OpenVpnManager::disconnectOnExit()
{
    QFETCH(QString, stage);
    QFETCH(QStringList, events);
    QFETCH(int, stops);

    OpenVpnManager &m = makeManager();
    if (stage == QLatin1String("starting")) {
        QVERIFY(m_peer->listen());
        m.Connect(QStringLiteral("nl1.vpn.example.net"), QStringLiteral("TCP"));
        QVERIFY(m_peer->waitForClient());
    } else if (stage == QLatin1String("connected")) {
        QVERIFY(connectToHold());
        m_peer->send(kConnected);
        QTRY_COMPARE(m_events, QStringList{"Connected"});
        m_service->onStop = [this] { QTimer::singleShot(0, [this] { m_peer->send(kExiting); }); };
    }
    m_events.clear();
    m_service->calls.clear();

    m.DisconnectOnExit();

    QCOMPARE(m_events, events);
    QCOMPARE(m_service->calls.count(QStringLiteral("stop")), stops);
}

QTEST_GUILESS_MAIN(tst_OpenVpnManager)
#include "tst_openvpnmanager.moc"
