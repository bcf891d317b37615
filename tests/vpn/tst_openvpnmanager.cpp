#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <memory>

#include "app/appcontext.h"
#include "common/servicecontroller.h"
#include "openvpnfixture.h"
#include "service/openvpnconfigfile.h"
#include "testfiles.h"
#include "vpn/openvpnmanager.h"
#include "vpn/openvpnmgmtinterface.h"
#include "vpntesthelpers.h"

namespace {

const QByteArray kHold = ">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info\r\n"
                         ">HOLD:Waiting for hold release:0\r\n";
const QByteArray kReleaseHold = "state on\nhold release\n";
const QByteArray kPasswordPrompt = ">PASSWORD:Need 'Auth' username/password\r\n";
// UTF-8 on the wire; in the log one star per character.
const QByteArray kCredentials = "username \"Auth\" user@example.com\npassword \"Auth\" 0a1b\xe2\x82\xac\n";
const QString kCredentialLog = QString::fromLatin1("Sending command : \"password \\\"Auth\\\" *****\\n\"");
const QByteArray kConnected = ">STATE:1700000003,CONNECTED,SUCCESS,10.8.0.6,192.0.2.10,443,,\r\n";
const QByteArray kExiting = ">STATE:1700000009,EXITING,SIGTERM,,,,,\r\n";
const QString kStarted = QStringLiteral("OpenVPNService started successfully.");
const QString kTimedOut = QStringLiteral("OpenVPN did not exit in time. Carrying on as disconnected.");

struct StartCase
{
    bool leftover, installed, acceptStart; // leftover: the service still runs from an earlier session
    int runningFromCheck, checks;
    QString line;
};

struct RuleCase
{
    bool killSwitch;
    QByteArray chunk;
    QStringList events;
    bool releases; // the hold is released again
    int stops;     // a stop without Disconnected() means the server was refused
    QString line;
};

struct TeardownCase
{
    QString stage, action, onStop; // stage: starting (on hold), released, connected; onStop: what OpenVPN does
    QStringList events;
    int stops;
    QString line; // must be logged
};

} // namespace

Q_DECLARE_METATYPE(StartCase)
Q_DECLARE_METATYPE(RuleCase)
Q_DECLARE_METATYPE(TeardownCase)

// OpenVpnManager and its management channel against a scripted management end on the fixed port, and against
// a real OpenVPN client and server; everything inside a network namespace of the test's own.
class tst_OpenVpnManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void channel();
    void configFile_data();
    void configFile();
    void managementPeer_data();
    void managementPeer();
    void serviceStart_data();
    void serviceStart();
    void managementRules_data();
    void managementRules();
    void teardown_data();
    void teardown();
    void realOpenVpn_data();
    void realOpenVpn();
    void managementPassword();

private:
    OpenVpnManager &makeManager();
    void connectTcp() { m_manager->Connect(QStringLiteral("nl1.vpn.example.net"), QStringLiteral("TCP")); }
    // Has the configuration written as the helper writes it, into m_stateDir.
    OpenVpnManager::ConfigWriter helperWriter()
    {
        return [this](const QByteArray &config, const QByteArray &password, std::function<void(bool)> done) {
            ++m_writes;
            m_password = password;
            QString log;
            const QByteArray line = "OVPN_CONFIG " + config.toBase64() + ' ' + password.toBase64();
            done(OpenVpnConfigFile(m_stateDir).run(line, &log).startsWith(QLatin1String("SRV SUCCESS")));
        };
    }
    // Hands a chunk to the manager as one read of the channel would.
    void deliver(const QByteArray &chunk)
    {
        QMetaObject::invokeMethod(m_manager.get(), "ProcessManagementOutput",
                                  Q_ARG(QString, QString::fromLatin1(chunk)));
    }
    // Connects until OpenVPN has been released from its hold (and, if asked, has reported CONNECTED).
    bool connectToHold(bool thenConnected = false);

    std::unique_ptr<LogCapture> m_log;
    std::unique_ptr<ManagementPeer> m_peer;
    std::unique_ptr<OpenVpnManager> m_manager;
    FakeOpenVpnService *m_service = nullptr;
    QStringList m_events;
    QTemporaryDir m_serverDir;
    QString m_stateDir; // the helper's state folder
    int m_writes = 0;
    QByteArray m_password; // the management password of the last write
    QString m_noServer;    // why the real OpenVPN cases cannot run
    OpenVpnServer m_server;
};

void tst_OpenVpnManager::initTestCase()
{
    const QString unavailable = OpenVpnFixture::namespaceUnavailable();
    if (!unavailable.isEmpty())
        QSKIP(qPrintable(unavailable));
    QString error;
    QVERIFY2(OpenVpnFixture::enterOwnNamespace(&error), qPrintable(error));
    m_noServer = OpenVpnServer::unavailable();
    if (m_noServer.isEmpty()) {
        QVERIFY2(m_server.start(m_serverDir.path(), &error), qPrintable(error));
        QVERIFY2(OpenVpnFixture::registerOpenVpnService(m_serverDir.filePath("state"), m_serverDir.filePath("registry"),
                                                        &error),
                 qPrintable(error));
    }
}

void tst_OpenVpnManager::init()
{
    AppContext::instance()->config()->killSwitch = false;
    m_log = std::make_unique<LogCapture>();
    m_peer = std::make_unique<ManagementPeer>();
    m_events.clear();
    m_stateDir = m_serverDir.filePath("state");
    m_writes = 0;
}

void tst_OpenVpnManager::cleanup()
{
    // The destructor stops the service; nothing may be left to fire in the next test.
    if (m_service)
        m_service->onStop = [this] { m_peer->closeClient(); };
    m_manager.reset();
    m_service = nullptr;
    OpenVpnFixture::killProcessesUsing(m_serverDir.filePath("state/conn.ovpn")); // a failed real case's client
    m_peer.reset();
    m_log.reset();
}

// A second Connect() replaces the socket that is still up. Two notices in one read reach the manager as one
// message, bytes after a NUL are dropped, and a peer that closes after its last notice gives one socket error.
void tst_OpenVpnManager::channel()
{
    OpenVpnMgmtInterface channel;
    QSignalSpy spy(&channel, &OpenVpnMgmtInterface::MessageReceived);
    QVERIFY(m_peer->listen());
    channel.Connect();
    QVERIFY(m_peer->waitForClient());
    QTcpSocket *first = m_peer->client;
    channel.Connect();
    QVERIFY(m_peer->waitForClient(2));
    QTRY_VERIFY_WITH_TIMEOUT(first->state() == QAbstractSocket::UnconnectedState, kWait);
    m_peer->received.clear();
    channel.SendReleaseHold();
    channel.SendSIGTERM();
    QVERIFY(m_peer->waitForReceived(kReleaseHold + "signal SIGTERM\n"));
    QCOMPARE(m_peer->received, kReleaseHold + "signal SIGTERM\n");

    // A notice split across two writes is handed on whole, once its line feed has come; the password prompt,
    // which has no line end, as soon as it is complete.
    m_peer->send(">STATE:1700000003,CONN");
    settle(50);
    QCOMPARE(spy.count(), 0);
    m_peer->send("ECTED,SUCCESS\r\nENTER PASSWORD:");
    QString joined;
    bool wholeLines = true;
    QVERIFY(QTest::qWaitFor(
        [&] {
            for (; spy.count(); spy.removeFirst()) {
                const QString message = spy.first().at(0).toString();
                wholeLines = wholeLines && (message.endsWith("\n") || message.endsWith("ENTER PASSWORD:"));
                joined += message;
            }
            return joined.endsWith("ENTER PASSWORD:");
        },
        kWait));
    QVERIFY(wholeLines);
    QCOMPARE(joined, QStringLiteral(">STATE:1700000003,CONNECTED,SUCCESS\r\nENTER PASSWORD:"));

    const QByteArray notices = ">HOLD:Waiting for hold release:0\r\n>STATE:1700000000,WAIT,,,,,,\r\n";
    m_peer->send(notices + QByteArray("\0>STATE:x\r\n", 12));
    QVERIFY(spy.wait(kWait));
    m_peer->closeClient();
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 2, kWait);
    settle(100);
    QCOMPARE(spy.at(0).at(0).toString(), QString::fromLatin1(notices));
    QCOMPARE(spy.at(1).at(0).toString(), QStringLiteral("Socket error"));
    QCOMPARE(m_log->count(QStringLiteral("Remote host closed socket.")), 1);
}

OpenVpnManager &tst_OpenVpnManager::makeManager()
{
    auto service = std::make_unique<FakeOpenVpnService>();
    m_service = service.get();
    // Stopping the service ends OpenVPN, which drops the management channel.
    m_service->onStop = [this] { m_peer->closeClient(); };
    m_manager = std::make_unique<OpenVpnManager>(std::move(service));
    OpenVpnManager &m = *m_manager;
    m.setTimings({1, 0, 0, kWait});
    m.SetConfigWriter(helperWriter());
    m.SetCredentials(QStringLiteral("user@example.com"), QStringLiteral("0a1b€"));
    m.udpConfig = QStringLiteral("proto udp");
    m.tcpConfig = QStringLiteral("proto tcp-client");
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
    m_peer->listen(); // unless it listens already
    connectTcp();
    if (!m_peer->waitForClient())
        return false;
    m_peer->send(kHold);
    if (!m_peer->waitForReceived(kReleaseHold) || m_peer->received != kReleaseHold)
        return false;
    if (thenConnected)
        m_peer->send(kConnected);
    const QStringList expected =
        QStringList{"Connecting", "CanCancelConnecting", "Connected"}.mid(0, 2 + thenConnected);
    const bool reached = QTest::qWaitFor([&] { return m_events == expected; }, kWait);
    m_peer->received.clear();
    m_events.clear();
    m_service->stops = 0;
    return reached;
}

// The configuration the helper writes before the service starts, or the connect refused without one.
void tst_OpenVpnManager::configFile_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("tcp");
    QTest::addColumn<QByteArray>("expected"); // after the four fixed lines; "-": no file
    QTest::addColumn<QStringList>("lines");   // each logged once

    const QString server("nl1.vpn.example.net"), dropped("Dropped configuration directive: ");
    const QString refused("OpenVPN configuration refused: line ");
    const QString failed("Can't generate config file. Error writing to file.");
    const auto refusal = [&](const char *name, const QString &config, const QString &why) {
        QTest::newRow(name) << server << "TCP"
                            << "0a1b" << config << QByteArray("-") << QStringList{refused + why, failed};
    };
    QTest::newRow("TCP takes the TCP text, replacing a longer old file")
        << server << "TCP"
        << "0a1b"
        << "proto tcp-client\n  verb 3 # quiet" << QByteArray("proto tcp-client\n  verb 3 # quiet\n") << QStringList();
    QTest::newRow("tcp in lower case takes the UDP text") << server << "tcp"
                                                          << "0a1b"
                                                          << "x" << QByteArray("proto udp\n") << QStringList();
    QTest::newRow("the helper cannot write: Disconnected() at once") << server << "TCP"
                                                                     << "0a1b"
                                                                     << "" << QByteArray("-") << QStringList{failed};
    QTest::newRow("the provider's remotes and connection blocks are dropped")
        << server << "TCP"
        << "0a1b"
        << "client\nremote evil.example.net 1194\n<connection>\nremote x 1\nup /bin/sh\n</connection>\n"
           "remote-cert-tls server\n--remote-random\n<ca>\n-----BEGIN CERTIFICATE-----\nAAEC\n"
           "-----END CERTIFICATE-----\n</ca>\n"
        << QByteArray("client\nremote-cert-tls server\n<ca>\n-----BEGIN CERTIFICATE-----\nAAEC\n"
                      "-----END CERTIFICATE-----\n</ca>\n")
        << QStringList{dropped + "remote", dropped + "<connection>", dropped + "remote-random"};
    for (const char *protocol : {"tcp", "udp"}) {
        const QJsonObject provider =
            QJsonDocument::fromJson(readFile(TOVRA_SOURCE_DIR "/tools/provider/data/demo.json")).object();
        const QString text = provider["openvpn"].toObject()[protocol].toString();
        QString kept = text;
        kept.remove(QRegularExpression("remote vpn.tovra.test [0-9]+\n"));
        QTest::addRow("the stand-in provider's %s configuration", protocol)
            << server << "TCP"
            << "0a1b" << text << kept.toLatin1() << QStringList{dropped + "remote"};
    }
    refusal("quote-glued words", "client\n\"script-security\"2\n\"up\"'/usr/bin/touch /x'",
            "2: directive \"script-security\" not allowed");
    refusal("a no-break space before the inline tags",
            "ignore-unknown-option\n\u00a0<ca>\nup /usr/bin/touch /x\n\u00a0</ca>", "2: byte 0xc2 is not allowed");
    refusal("genkey writes a file", "client\ngenkey secret /etc/passwd", "2: directive \"genkey\" not allowed");
    refusal("--up", "client\n--up /bin/sh", "2: directive \"up\" not allowed");
    refusal("CR before LF", "client\r\nverb 3", "1: byte 0x0d is not allowed");
    refusal("a line OpenVPN would split", "verb 3" + QString(250, ' ') + "up /bin/sh", "1: longer than 254 bytes");
    refusal("a NUL byte", QString::fromLatin1("client\n\0up /bin/sh", 18), "2: byte 0x00 is not allowed");
    refusal("a file path as key material", "ca /etc/shadow", "1: directive \"ca\" not allowed");
    refusal("credentials from a file", "auth-user-pass /etc/shadow", "1: arguments of \"auth-user-pass\" not allowed");
    refusal("commands inside a key block", "<tls-auth>\nup /bin/sh\n</tls-auth>",
            "2: not key text inside an inline block");
    refusal("an inline block for a file of another kind", "<dh>\nAAAA\n</dh>", "1: inline block \"<dh>\" not allowed");
    QTest::newRow("a line feed in the server name refuses the connect")
        << server + "\nup /bin/sh"
        << "TCP"
        << "0a1b"
        << "client" << QByteArray("-") << QStringList{"Invalid server address. Refusing to connect."};
    QTest::newRow("a line feed in the password refuses the connect")
        << server << "TCP"
        << "0a1b\nsignal SIGTERM"
        << "client" << QByteArray("-")
        << QStringList{"The VPN user name or password holds a line break. Refusing to connect."};
}

void tst_OpenVpnManager::configFile()
{
    QFETCH(QString, server);
    QFETCH(QString, protocol);
    QFETCH(QString, password);
    QFETCH(QString, tcp);
    QFETCH(QByteArray, expected);
    QFETCH(QStringList, lines);
    OpenVpnManager &m = makeManager();
    m_service->installed = false; // stop right after the file
    m.SetCredentials(QStringLiteral("user@example.com"), password);
    m.tcpConfig = tcp;
    const QString path = m_stateDir + QStringLiteral("/conn.ovpn");
    const QByteArray old = QByteArray(4096, 'x') + "\nremote old.example.net 1194\n";
    QVERIFY(writeFile(path, old));
    if (lines == QStringList{"Can't generate config file. Error writing to file."})
        m_stateDir = path + QStringLiteral("/below-a-file");

    m.Connect(server, protocol);

    QTRY_COMPARE_WITH_TIMEOUT(m_events, (QStringList{"Connecting", "Disconnected"}), kWait); // the service fails
    const QString pw = m_serverDir.filePath(QStringLiteral("state/conn.pw"));
    const QByteArray head = "management 127.0.0.1 52025 \"" + pw.toUtf8() +
                            "\"\nmanagement-query-passwords\nmanagement-hold\nremote nl1.vpn.example.net 443\n";
    QCOMPARE(readFile(path), expected == "-" ? old : head + expected); // never the credentials
    if (expected != "-") {
        QCOMPARE(QFileInfo(path).permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(readFile(pw), m_password + '\n');
        QCOMPARE(QFileInfo(pw).permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QVERIFY(QRegularExpression("^[0-9a-f]{64}$").match(QString::fromLatin1(m_password)).hasMatch());
    }
    // A refused configuration never reaches the helper.
    QCOMPARE(m_writes, expected != "-" || lines.value(0).startsWith("Can't") ? 1 : 0);
    for (const QString &line : lines)
        QVERIFY2(m_log->count(line) == 1, qPrintable(line + QStringLiteral(" in:\n") + m_log->dump()));
    QCOMPARE(m_service->starts, 0);
}

void tst_OpenVpnManager::managementPeer_data()
{
    QTest::addColumn<QString>("peer"); // late: OpenVPN listens late; squatter: another program took the port
    QTest::addColumn<QString>("line");
    QTest::newRow("a late listener is reached by the retry")
        << "late"
        << "Management interface not reachable yet, next try in 1 sec.";
    QTest::newRow("another program gets no credentials")
        << "squatter"
        << "The management interface is not OpenVPN's: another process holds the port.";
    QTest::newRow("nobody listens: the service is stopped")
        << "none"
        << "OpenVPN did not answer on the management interface in time.";
}

void tst_OpenVpnManager::managementPeer()
{
    QFETCH(QString, peer);
    QFETCH(QString, line);
    OpenVpnManager &m = makeManager();
    m.setTimings({1, 0, 0, kWait, 200, peer == QLatin1String("none") ? 2000 : 10000});
    m.SetCredentials(QStringLiteral("user@example.com"), QStringLiteral("pa\"ss \\word"));
    PortSquatter squatter;
    if (peer == QLatin1String("squatter"))
        QVERIFY(squatter.listen(52025, kHold + kPasswordPrompt));
    if (peer == QLatin1String("late"))
        QTimer::singleShot(1500, [this] { m_peer->listen(); });

    connectTcp();

    if (peer == QLatin1String("late")) {
        QVERIFY(m_peer->waitForClient());
        m_peer->send(kHold);
        QVERIFY(m_peer->waitForReceived(kReleaseHold));
        m_peer->send(kPasswordPrompt);
        // Quote and backslash escaped as OpenVPN's command parser reads them.
        const QByteArray wire =
            kReleaseHold + "username \"Auth\" user@example.com\npassword \"Auth\" \"pa\\\"ss \\\\word\"\n";
        QVERIFY(m_peer->waitForReceived(wire));
        QCOMPARE(m_peer->received, wire);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(m_events, (QStringList{"Connecting", "Disconnected"}), kWait);
        QCOMPARE(m_service->stops, 1);
        QVERIFY(!m.serviceAvailable);
    }
    QVERIFY2(m_log->contains(line), qPrintable(m_log->dump()));
    if (peer == QLatin1String("squatter"))
        QCOMPARE(squatter.output(), QByteArray("listening\n"));
}

void tst_OpenVpnManager::serviceStart_data()
{
    QTest::addColumn<StartCase>("c");
    const QString cannotStart = QStringLiteral("OpenVPN service error: service can't be started.");
    QTest::newRow("not installed") << StartCase{
        false, false, true, 1, 0, QStringLiteral("OpenVPN service error: service not installed.")};
    QTest::newRow("start request refused") << StartCase{false, true, false, 1, 0, cannotStart};
    QTest::newRow("running on the tenth check counts as started") << StartCase{false, true, true, 10, 10, kStarted};
    QTest::newRow("still stopped after ten checks") << StartCase{false, true, true, 11, 10, cannotStart};
    QTest::newRow("a leftover service is stopped first") << StartCase{true, true, true, 1, 1, kStarted};
}

void tst_OpenVpnManager::serviceStart()
{
    QFETCH(StartCase, c);
    QVERIFY(m_peer->listen());
    OpenVpnManager &m = makeManager();
    m_service->running = c.leftover;
    m_service->installed = c.installed;
    m_service->acceptStart = c.acceptStart;
    m_service->runningFromCheck = c.runningFromCheck;
    m_service->onStop = [this] { QCOMPARE(m_service->starts, 0); };
    m.setTimings({1, 200, 0, kWait});

    connectTcp();

    QCOMPARE(m_service->checksSinceStart, c.checks);
    QCOMPARE(m_service->stops, c.leftover ? 1 : 0);
    QVERIFY2(m_log->contains(c.line), qPrintable(m_log->dump()));
    if (c.line == kStarted) {
        QVERIFY(m_peer->waitForClient()); // the management channel follows the start
        QVERIFY(m.serviceAvailable);
    } else {
        QVERIFY(!m.serviceAvailable);
        QCOMPARE(m_peer->connections, 0);
        // A second connect while the drop is still due starts afresh, and the drop does not reach it.
        m_service->installed = m_service->acceptStart = true;
        m_service->startRequested = false;
        m_service->runningFromCheck = 10;
        m_events.clear();
        QVERIFY(connectToHold());
        QVERIFY(m.serviceAvailable);
        settle(300);
        QVERIFY(m_events.isEmpty());
    }
}

void tst_OpenVpnManager::managementRules_data()
{
    QTest::addColumn<RuleCase>("c");
    const QString ks = QStringLiteral("Reconnecting message found, but KillSwitch is enabled. Disconnecting.");
    const QByteArray reconnecting = ">STATE:1700000005,RECONNECTING,SIGUSR1,,,,,\r\n";
    const QByteArray hold = ">HOLD:Waiting for hold release:5\r\n";
    const QStringList none, gone{"Disconnected"};
    QTest::newRow("CONNECTED with EXITING is CONNECTED only")
        << RuleCase{false, kConnected + kExiting, {"Connected"}, false, 0, {}};
    QTest::newRow("password prompt comes before everything else")
        << RuleCase{false, kPasswordPrompt + kConnected + hold, none, false, 0, kCredentialLog};
    QTest::newRow("EXITING with auth-failure stops the service")
        << RuleCase{false, ">STATE:1,EXITING,auth-failure,,,,,\r\n",
                    gone,  false,
                    1,     QStringLiteral("Server returns auth-failure. Disconnecting.")};
    QTest::newRow("EXITING with tls-error is EXITING")
        << RuleCase{false, ">STATE:1,EXITING,tls-error,,,,,\r\n",
                    gone,  false,
                    0,     QStringLiteral("Disconnecting management interface.")};
    QTest::newRow("RECONNECTING with tls-error is a tls error")
        << RuleCase{false, ">STATE:1,RECONNECTING,tls-error,,,,,\r\n",
                    none,  false,
                    1,     QStringLiteral("Server returns tls-error. Disconnecting.")};
    QTest::newRow("HOLD with RECONNECTING, kill switch off: reconnect, then release")
        << RuleCase{false, reconnecting + hold, {"Reconnecting", "CanCancelConnecting"}, true, 0, {}};
    QTest::newRow("HOLD with RECONNECTING, kill switch on: stop, no release")
        << RuleCase{true, reconnecting + hold, none, false, 1, ks};
    QTest::newRow("HOLD alone releases, kill switch or not")
        << RuleCase{true, hold, {"CanCancelConnecting"}, true, 0, {}};
    QTest::newRow("RECONNECTING, kill switch off") << RuleCase{false, reconnecting, {"Reconnecting"}, false, 0, {}};
    QTest::newRow("RECONNECTING, kill switch on") << RuleCase{true, reconnecting, none, false, 1, ks};
    QTest::newRow("the channel's password prompt gets the written password")
        << RuleCase{true, "ENTER PASSWORD:", none, false, 0, QStringLiteral("Sending the management password.")};
    QTest::newRow("anything else is ignored")
        << RuleCase{true, ">STATE:1700000002,WAIT,,,,,,\r\nSUCCESS: x\r\n", none, false, 0, {}};
}

void tst_OpenVpnManager::managementRules()
{
    QFETCH(RuleCase, c);
    AppContext::instance()->config()->killSwitch = c.killSwitch;
    OpenVpnManager &m = makeManager();
    QVERIFY(connectToHold());

    m_service->onStop = nullptr; // OpenVPN's reaction to a stop is not part of these cases
    // The chunk as one read of the channel: no rule depends on how TCP splits the bytes.
    deliver(c.chunk);
    QByteArray wire = c.releases                             ? kReleaseHold
                      : c.chunk.startsWith(kPasswordPrompt)  ? kCredentials
                      : c.chunk.startsWith("ENTER PASSWORD") ? m_password + '\n'
                                                             : QByteArray();
    if (c.events.contains(QStringLiteral("Disconnected"))) {
        QTRY_VERIFY_WITH_TIMEOUT(m_peer->clientGone(), kWait);
    } else {
        // Everything the chunk made the manager send arrives before the answer to this prompt.
        deliver(kPasswordPrompt);
        wire += kCredentials;
        QVERIFY(m_peer->waitForReceived(wire));
    }
    QCOMPARE(m_peer->received, wire);
    QCOMPARE(m_events, c.events);
    QCOMPARE(m_service->stops, c.stops);
    QVERIFY2(c.line.isEmpty() || m_log->contains(c.line), qPrintable(m_log->dump()));
    QCOMPARE(m.serverAvailable, c.stops == 0 || !c.events.isEmpty());
    QCOMPARE(m_log->count(kCredentialLog), wire.count(kCredentials));
    QVERIFY(!m_log->dump().contains(QStringLiteral("0a1b€")));
    QVERIFY(!m_log->dump().contains(QString::fromLatin1(m_password)));
}

void tst_OpenVpnManager::teardown_data()
{
    QTest::addColumn<TeardownCase>("c");
    const QString closed = QStringLiteral("Remote host closed socket.");
    const QString socketError = QStringLiteral("Socket error occurs. Disconnecting.");
    const QString stopped = QStringLiteral("Result of stopping openvpn service: true");
    const QStringList gone{"Disconnected"};
    QTest::newRow("drop before the hold is ignored") << TeardownCase{"starting", "drop", "close", {}, 0, closed};
    QTest::newRow("drop after the hold tears down") << TeardownCase{"released", "drop", "close", gone, 1, socketError};
    QTest::newRow("disconnect before the hold returns without waiting")
        << TeardownCase{"starting", "disconnect", "close", {}, 1, closed};
    QTest::newRow("exit while the service starts")
        << TeardownCase{"starting", "exit", "close", {"DisconnectedOnExit"}, 1, closed};
    QTest::newRow("exit while connected waits for EXITING")
        << TeardownCase{"connected", "exit", "exiting", {"Disconnected", "DisconnectedOnExit"}, 1, stopped};
    // The socket-failure rule runs its own disconnect, which stops the service once more.
    QTest::newRow("disconnect: OpenVPN drops the channel")
        << TeardownCase{"connected", "disconnect", "close later", gone, 2, socketError};
    QTest::newRow("disconnect: EXITING arrives while the stop still runs")
        << TeardownCase{"connected", "disconnect", "exiting during stop", gone, 1, stopped};
    QTest::newRow("disconnect: OpenVPN stays silent, the wait ends at its limit")
        << TeardownCase{"connected", "disconnect", "silent", gone, 1, kTimedOut};
}

void tst_OpenVpnManager::teardown()
{
    QFETCH(TeardownCase, c);
    OpenVpnManager &m = makeManager();
    if (c.stage == QLatin1String("starting")) {
        QVERIFY(m_peer->listen());
        connectTcp();
        QVERIFY(m_peer->waitForClient());
        m_events.clear();
    } else {
        QVERIFY(connectToHold(c.stage == QLatin1String("connected")));
    }
    if (c.onStop == QLatin1String("exiting")) {
        m_service->onStop = [this] { QTimer::singleShot(0, [this] { m_peer->send(kExiting); }); };
    } else if (c.onStop == QLatin1String("close later")) {
        m_service->onStop = [this] { QTimer::singleShot(0, [this] { m_peer->closeClient(); }); };
    } else if (c.onStop == QLatin1String("exiting during stop")) {
        // A controller that keeps the event loop running while it waits for the stopped state.
        m_service->onStop = [this] {
            m_peer->send(kExiting);
            QVERIFY(QTest::qWaitFor([this] { return m_events.contains(QStringLiteral("Disconnected")); }, kWait));
        };
    } else if (c.onStop == QLatin1String("silent")) {
        m_service->onStop = nullptr;
        m.setTimings({1, 0, 0, 100});
    }

    if (c.action == QLatin1String("drop"))
        m_peer->closeClient();
    else if (c.action == QLatin1String("disconnect"))
        m.Disconnect();
    else
        m.DisconnectOnExit();

    QVERIFY2(m_log->waitFor(c.line, kWait), qPrintable(m_log->dump()));
    QCOMPARE(m_events, c.events);
    QCOMPARE(m_service->stops, c.stops);
    QCOMPARE(m_log->contains(kTimedOut), c.onStop == QLatin1String("silent"));
    if (c.events == QStringList{"Disconnected"}) {
        // Torn down once: a later disconnect waits for nothing, leaving stops nothing.
        m_service->onStop = nullptr;
        m_service->stops = 0;
        m_events.clear();
        m.Disconnect();
        m.DisconnectOnExit();
        QCOMPARE(m_service->stops, 1);
        QCOMPARE(m_events, QStringList{"DisconnectedOnExit"});
    }
}

void tst_OpenVpnManager::realOpenVpn_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("protocol"); // TCP: nobody listens, OpenVPN keeps reconnecting
    QTest::addColumn<bool>("killSwitch");
    QTest::newRow("right password: Connected(), then Disconnect() leaves no openvpn")
        << OpenVpnServer::password << "UDP" << false;
    QTest::newRow("wrong password: auth-failure, Disconnected(), service stopped") << "wrong-pass"
                                                                                   << "UDP" << false;
    QTest::newRow("no server, kill switch off: Reconnecting() until the user disconnects")
        << OpenVpnServer::password << "TCP" << false;
    QTest::newRow("no server, kill switch on: the manager stops OpenVPN itself")
        << OpenVpnServer::password << "TCP" << true;
}

void tst_OpenVpnManager::realOpenVpn()
{
    QFETCH(QString, password);
    QFETCH(QString, protocol);
    QFETCH(bool, killSwitch);
    if (!m_noServer.isEmpty())
        QSKIP(qPrintable(m_noServer));
    const bool reachable = protocol == QLatin1String("UDP");
    const bool accepted = reachable && password == OpenVpnServer::password;
    const QString configFile = m_stateDir + QStringLiteral("/conn.ovpn");
    AppContext::instance()->config()->killSwitch = killSwitch;

    // The client runs as the registered "OpenVPNService", started by the real service controller.
    auto controller = std::make_unique<ServiceController>(QStringLiteral("OpenVPNService"));
    controller->setRegistryDir(m_serverDir.filePath("registry"));
    OpenVpnManager manager(std::move(controller));
    manager.SetConfigWriter(helperWriter());
    manager.SetCredentials(OpenVpnServer::userName, password);
    // A configuration that would run a command is refused before anything starts; the fixed one then runs.
    const QString marker = m_serverDir.filePath("marker");
    manager.udpConfig = manager.tcpConfig =
        "script-security 2\nup \"/usr/bin/touch " + marker + "\"\n" + m_server.clientConfig();
    QSignalSpy refused(&manager, &OpenVpnManager::Disconnected);
    manager.Connect(QStringLiteral("127.0.0.1"), protocol);
    QCOMPARE(refused.count(), 1);
    QVERIFY(OpenVpnFixture::processesUsing(configFile).isEmpty());
    manager.udpConfig = m_server.clientConfig();
    manager.tcpConfig = m_server.clientConfig().replace("proto udp4", "proto tcp4-client\nconnect-retry 1");
    QSignalSpy connected(&manager, &OpenVpnManager::Connected);
    QSignalSpy reconnecting(&manager, &OpenVpnManager::Reconnecting);
    QSignalSpy disconnected(&manager, &OpenVpnManager::Disconnected);

    manager.Connect(QStringLiteral("127.0.0.1"), protocol);
    QCOMPARE(OpenVpnFixture::processesUsing(configFile).size(), 1); // the service started openvpn
    if (accepted || (!reachable && !killSwitch)) {
        QTRY_VERIFY2_WITH_TIMEOUT(connected.count() + reconnecting.count() > 0, qPrintable(m_log->dump()), 60000);
        manager.Disconnect(); // returns once OpenVPN has reported its exit
    } else {
        QTRY_VERIFY2_WITH_TIMEOUT(disconnected.count() == 1, qPrintable(m_log->dump()), 60000);
        QVERIFY(m_log->anyContains(killSwitch ? "Reconnecting message found, but KillSwitch is enabled."
                                              : "Server returns auth-failure."));
    }
    QCOMPARE(connected.count(), accepted ? 1 : 0);
    QCOMPARE(disconnected.count(), 1);
    QCOMPARE(reconnecting.count() > 0, !reachable && !killSwitch);
    QCOMPARE(manager.serverAvailable, !killSwitch);
    QVERIFY(!m_log->contains(kTimedOut));
    QVERIFY(OpenVpnFixture::processesUsing(configFile).isEmpty());
    // OpenVPN took the credentials over the channel; the log never shows the password.
    QVERIFY2(m_log->anyContains("SUCCESS: 'Auth' password entered, but not yet verified"), qPrintable(m_log->dump()));
    QVERIFY(!m_log->anyContains(password));
    QVERIFY(!QFileInfo::exists(marker));
}

// A program that reaches OpenVPN's management port before the client gets nothing without the password: no
// hold release, no state, no credentials prompt.
void tst_OpenVpnManager::managementPassword()
{
    if (!m_noServer.isEmpty())
        QSKIP(qPrintable(m_noServer));
    bool written = false;
    helperWriter()("remote 127.0.0.1 443\n" + m_server.clientConfig().toLatin1(), "0123456789abcdef0123",
                   [&written](bool ok) { written = ok; });
    QVERIFY(written);
    ServiceController controller(QStringLiteral("OpenVPNService"));
    controller.setRegistryDir(m_serverDir.filePath("registry"));
    QVERIFY(controller.start());
    auto stop = qScopeGuard([&controller] { controller.stop(); });

    QTcpSocket first;
    QVERIFY(QTest::qWaitFor(
        [&first] {
            first.abort();
            first.connectToHost(QStringLiteral("127.0.0.1"), 52025);
            return first.waitForConnected(500);
        },
        kWait));
    first.write("hold release\nstate on\nhold release\n");
    QByteArray said;
    QVERIFY(QTest::qWaitFor(
        [&] {
            first.waitForReadyRead(100);
            said += first.readAll();
            return said.count("ERROR: bad password") == 3 || first.state() == QAbstractSocket::UnconnectedState;
        },
        kWait));
    QVERIFY2(said.startsWith("ENTER PASSWORD:"), said.constData());
    QVERIFY2(!said.contains(">HOLD") && !said.contains("SUCCESS") && !said.contains(">STATE"), said.constData());
}

QTEST_GUILESS_MAIN(tst_OpenVpnManager)
#include "tst_openvpnmanager.moc"
