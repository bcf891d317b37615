#include <QtTest>

#include "common/servicecontroller.h"
#include "foreignclient.h"
#include "netns.h"
#include "service/firewallblock_unix.h"
#include "testfiles.h"
#include "tovraservice.h"

#include <QNetworkDatagram>
#include <QTcpServer>
#include <QUdpSocket>

// The service program itself: its command line, the command protocol, and its Linux backends on a real
// kernel. Every test runs in a network namespace of its own (so port 56143 is free and the machine's
// routes are never touched), made by init(): veth0 with the default route via 192.168.98.1, a tunnel
// "TOVRAVPN" whose DNS server is 10.99.0.53 and a DNS server outside it at 192.168.98.53.
class tst_TovraVPNService : public QObject
{
    Q_OBJECT

private slots:
    void commandLine();
    void init();
    void cleanup();
    void protocol_data();
    void protocol();
    void pauseAndResume();
    void killSwitch();
    void killSwitchLayouts_data();
    void killSwitchLayouts();
    void blockOutlivesService();
    void blockRulesLoad_data();
    void blockRulesLoad();
    void connectionLimits();
    void dnsFilters();
    void openVpnConfig_data();
    void openVpnConfig();

private:
    bool startService(
        const QByteArray &resolvectl = "Global:\nLink 2 (veth0): 192.168.98.1\nLink 4 (TOVRAVPN): 10.99.0.53\n")
    {
        m_service = std::make_unique<TovraService>();
        return m_service->launch(m_ns->prefix(), resolvectl, m_state->path());
    }
    // Everything the service has answered on socket, read after a full exchange on a second connection:
    // the service serves one connection at a time.
    QByteArray answeredSoFar(QTcpSocket &socket)
    {
        const QByteArray barrier = serviceCommand("REMOVE_DNS_FILTERS\n");
        if (!barrier.startsWith("SRV SUCCESS"))
            return "barrier: " + barrier;
        socket.waitForReadyRead(0);
        return socket.readAll();
    }
    QByteArray routes() { return m_ns->exec({"ip", "-4", "route", "show"}).output; }
    QByteArray routes6() { return m_ns->exec({"ip", "-6", "route", "show", "default"}).output; }
    bool chainPresent() { return m_ns->exec({"nft", "list", "chain", "inet", "tovravpn", "dns"}).ok(); }
    bool blockPresent() { return m_ns->exec({"nft", "list", "table", "inet", "tovra_killswitch"}).ok(); }
    // The default routes of every table of both families, sorted.
    QStringList defaultRoutes()
    {
        QStringList lines;
        for (const char *family : {"-4", "-6"}) {
            for (const QByteArray &line :
                 m_ns->exec({"ip", family, "route", "show", "table", "all"}).output.split('\n'))
                if (line.startsWith("default"))
                    lines << QString::fromLatin1(line.trimmed());
        }
        lines.sort();
        return lines;
    }
    // The error of a TCP connect: ConnectionRefusedError when the peer answered.
    static QAbstractSocket::SocketError connectOutcome(const char *host, quint16 port)
    {
        QTcpSocket socket;
        socket.connectToHost(QString::fromLatin1(host), port);
        socket.waitForConnected(10000);
        return socket.error();
    }
    QString stateFile() const { return m_state->filePath("TovraVPNService.gateway"); }
    // Whether TCP and UDP to port 53 of address get through (a blocked datagram is refused by the send).
    bool dnsReaches(const char *address)
    {
        QTcpSocket tcp;
        tcp.connectToHost(QString::fromLatin1(address), 53);
        const bool tcpReaches = tcp.waitForConnected(10000);
        QUdpSocket udp;
        const QByteArray probe = QByteArray("probe-") + address;
        const bool udpReaches =
            udp.writeDatagram(probe, QHostAddress(QString::fromLatin1(address)), 53) > 0 &&
            QTest::qWaitFor(
                [&] { return m_dnsUdp->hasPendingDatagrams() && m_dnsUdp->receiveDatagram().data() == probe; }, 10000);
        if (tcpReaches != udpReaches)
            qWarning("TCP %s, UDP %s", tcpReaches ? "reaches" : "blocked", udpReaches ? "reaches" : "blocked");
        return tcpReaches && udpReaches;
    }

    std::unique_ptr<NetNamespace> m_ns;
    std::unique_ptr<QTemporaryDir> m_state;
    std::unique_ptr<TovraService> m_service;
    std::unique_ptr<QTcpServer> m_dnsTcp;
    std::unique_ptr<QUdpSocket> m_dnsUdp;
};

// commandLine needs no namespace: wrong arguments, then registering the program as a service and removing it.
void tst_TovraVPNService::commandLine()
{
    const ProcessResult wrong = runProcess({TovraService::program(), QStringLiteral("-INSTALL")}); // case matters
    QCOMPARE(wrong.exitCode, 0);
    QCOMPARE(wrong.output, QByteArray("Wrong argument passed. Exiting..."));
    ServiceController controller(QStringLiteral("TovraVPNService"));
    if (controller.isInstalled())
        QSKIP("TovraVPNService is installed on this machine; the test would replace its registration");
    const ProcessResult install = runProcess({TovraService::program(), QStringLiteral("-install")});
    const bool installed = controller.isInstalled();
    QCOMPARE(install.output, QByteArray("TOVRA VPN service was ") + (installed ? "" : "not ") + "installed.\n");
    if (installed)
        QCOMPARE(QFileInfo(controller.serviceFilePath()).canonicalFilePath(),
                 QFileInfo(TovraService::program()).canonicalFilePath());
    const ProcessResult remove = runProcess({TovraService::program(), QStringLiteral("-remove")});
    QCOMPARE(remove.output, QByteArray("TOVRA VPN service was not stopped.\nTOVRA VPN service was ") +
                                (installed ? "uninstalled.\n" : "not uninstalled.\n"));
    QCOMPARE(install.exitCode + remove.exitCode, 0);
    QVERIFY(!controller.isInstalled());
}

void tst_TovraVPNService::init()
{
    if (QTest::currentTestFunction() == QLatin1String("commandLine"))
        return;
    QString reason;
    m_ns = NetNamespace::entered(&reason, {QStringLiteral("nft")});
    if (!m_ns)
        QSKIP(qPrintable(reason));
    // An outside DNS server on IPv6 too.
    QVERIFY(m_ns->makeGuardNetwork());
    QVERIFY(m_ns->ip({"addr add fd00:98::53/64 dev veth1 nodad"}));
    m_dnsTcp = std::make_unique<QTcpServer>();
    m_dnsUdp = std::make_unique<QUdpSocket>();
    QVERIFY(m_dnsTcp->listen(QHostAddress::Any, 53));
    QVERIFY(m_dnsUdp->bind(QHostAddress::Any, 53));
    m_state = std::make_unique<QTemporaryDir>();
    QVERIFY2(startService(), m_service->output().constData());
}

void tst_TovraVPNService::cleanup()
{
    m_service.reset();
    m_dnsTcp.reset();
    m_dnsUdp.reset();
    m_ns.reset();
    m_state.reset();
}

void tst_TovraVPNService::protocol_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("reply");

    const QByteArray info("SRV ERROR INFO: Default gateway () not found");
    QTest::newRow("trailing words") << QByteArray("INFO now please\n") << info;
    QTest::newRow("CR LF and blanks") << QByteArray("  INFO\r\n") << info;
    QTest::newRow("text after NUL ignored") << QByteArray("INFO\0DELETE\n", 12) << info;
    QTest::newRow("no line end yet") << QByteArray("INFO") << QByteArray();
    QTest::newRow("two commands in one packet") << QByteArray("INFO\nDELETE\n") << QByteArray();
    QTest::newRow("tab after word") << QByteArray("INFO\tx\n") << QByteArray();
}

void tst_TovraVPNService::protocol()
{
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, reply);
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), 56143);
    QVERIFY(socket.waitForConnected(10000));
    QVERIFY(m_service->waitForOutput("New Connection"));
    socket.write(sent);
    QVERIFY(socket.waitForBytesWritten(10000));
    if (!reply.isEmpty())
        QVERIFY(socket.bytesAvailable() > 0 || socket.waitForReadyRead(20000));
    // Exactly the reply, no line end; the service ends the connection after its one answer, and only then.
    QCOMPARE(socket.readAll() + answeredSoFar(socket), reply);
    if (reply.isEmpty()) {
        QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
    } else {
        socket.write("INFO\n");
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 20000);
        QCOMPARE(socket.readAll(), QByteArray());
    }
}

void tst_TovraVPNService::pauseAndResume()
{
    QTcpSocket before;
    before.connectToHost(QStringLiteral("127.0.0.1"), 56143);
    QVERIFY(before.waitForConnected(10000));
    QVERIFY(m_service->waitForOutput("New Connection"));
    QVERIFY(m_service->signal(SIGUSR1));
    QVERIFY(m_service->waitForOutput("Service paused"));

    // Data on an open connection is not read while paused; a connection made while paused is closed unserved.
    before.write("INFO\n");
    QVERIFY(before.waitForBytesWritten(10000));
    QTcpSocket during;
    during.connectToHost(QStringLiteral("127.0.0.1"), 56143);
    QVERIFY(during.waitForConnected(10000));
    during.write("INFO\n");
    QTRY_COMPARE_WITH_TIMEOUT(during.state(), QAbstractSocket::UnconnectedState, 20000);
    QCOMPARE(during.readAll(), QByteArray());

    QVERIFY(m_service->signal(SIGUSR2));
    QVERIFY(m_service->waitForOutput("Service resumed"));
    // What waited is handled at the next arrival of data.
    QCOMPARE(answeredSoFar(before), QByteArray());
    before.write("\n");
    QVERIFY(before.waitForReadyRead(20000));
    QCOMPARE(before.readAll(), QByteArray("SRV ERROR INFO: Default gateway () not found"));
}

// DELETE and RESTORE of the default routes, IPv6 ones too; the saved routes outlive the helper: a new run,
// and "-restore" by hand, put them back.
void tst_TovraVPNService::killSwitch()
{
    // An IPv6 default route through a peer in a namespace of its own, which answers for 2001:db8::1.
    NetNamespace peer;
    QVERIFY(peer.isValid());
    QVERIFY(
        m_ns->ip({"link add v6a type veth peer name v6b netns " + peer.name(), "addr add fd00:6::2/64 dev v6a nodad",
                  "link set v6a up", "-6 route add default via fd00:6::53 dev v6a"}));
    QVERIFY(peer.ip({"addr add fd00:6::53/64 dev v6b nodad", "addr add 2001:db8::1/128 dev lo", "link set v6b up"}));
    // A refused connection is an answer from the peer; without a route nothing leaves.
    const auto ipv6Outcome = [] {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("2001:db8::1"), 9);
        socket.waitForConnected(10000);
        return socket.error();
    };
    const auto restoredAll = [&] {
        return routes().contains("default via 192.168.98.1 dev veth0") &&
               routes6().contains("default via fd00:6::53 dev v6a");
    };
    const QByteArray removed("SRV SUCCESS DELETE: Default gateway removed - 192.168.98.1");
    const QByteArray restored("Default gateway restored - 192.168.98.1 (Full entry: ");
    QTRY_COMPARE_WITH_TIMEOUT(ipv6Outcome(), QAbstractSocket::ConnectionRefusedError, 20000);

    // Another user's command is refused and changes nothing.
    ForeignClient nobody;
    QVERIFY(nobody.start(ForeignClient::Nobody, 56143, "DELETE\n"));
    QCOMPARE(nobody.answer(), QByteArray("SRV ERROR DELETE: Caller not permitted"));
    QVERIFY(m_service->waitForOutput("Command DELETE refused: uid 65534 is neither root nor a member of group tovra"));
    QVERIFY(restoredAll());
    QCOMPARE(serviceCommand("RESTORE\n"), QByteArray("SRV ERROR RESTORE: Default gateway not found after restoring"));
    QCOMPARE(serviceCommand("DELETE\n"), removed);
    // Only the default routes went; the tunnel's half-default stays.
    QVERIFY2(!routes().contains("default") && routes().contains("0.0.0.0/1 via 10.99.0.1 dev TOVRAVPN"), routes());
    QCOMPARE(routes6(), QByteArray());
    QCOMPARE(ipv6Outcome(), QAbstractSocket::NetworkError);
    QCOMPARE(serviceCommand("INFO\n"), QByteArray("SRV ERROR INFO: Default gateway (192.168.98.1) not found"));
    // Again while the routes are held away: the kill switch holds, and says so.
    QCOMPARE(serviceCommand("DELETE\n"), removed);
    const QFile::Permissions open = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
    QVERIFY(QFileInfo::exists(stateFile()));
    QCOMPARE(QFileInfo(stateFile()).permissions() & open, QFile::Permissions());

    m_service->kill();
    QVERIFY(startService());
    const QByteArray answer = serviceCommand("RESTORE\n");
    QVERIFY2(QRegularExpression("^SRV SUCCESS RESTORE: Default gateway restored - 192\\.168\\.98\\.1 \\(Full entry: "
                                "+0\\.0\\.0\\.0 +0\\.0\\.0\\.0 +192\\.168\\.98\\.1 +192\\.168\\.98\\.2 +0\\)$")
                 .match(QString::fromLatin1(answer))
                 .hasMatch(),
             answer);
    QVERIFY2(restoredAll(), routes() + routes6());
    QCOMPARE(ipv6Outcome(), QAbstractSocket::ConnectionRefusedError);
    QVERIFY(!QFileInfo::exists(stateFile()));
    QCOMPARE(serviceCommand("INFO\n"), QByteArray("SRV SUCCESS INFO: Default gateway exists - 192.168.98.1"));
    QVERIFY(serviceCommand("RESTORE\n")
                .startsWith("SRV ERROR RESTORE: Default gateway already exists - 192.168.98.1 (Full entry: "));

    QCOMPARE(serviceCommand("DELETE\n"), removed);
    QVERIFY(m_service->stop());
    const QStringList restore{TovraService::program(), "-restore", "-statedir", m_state->path()};
    ProcessResult run = m_ns->exec(restore);
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.output.startsWith("SRV SUCCESS RESTORE: " + restored), run.output);
    QVERIFY(restoredAll());
    run = m_ns->exec(restore);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.output, "No saved default gateway found in " + stateFile().toUtf8() + ".\n");
}

void tst_TovraVPNService::killSwitchLayouts_data()
{
    QTest::addColumn<QStringList>("layout"); // ip commands on top of the guard network
    QTest::addColumn<QByteArray>("server");  // sent before DELETE
    QTest::addColumn<QByteArray>("deleteReply");
    QTest::addColumn<QStringList>("kept");        // default routes while the block holds
    QTest::addColumn<QByteArray>("restoreReply"); // its beginning

    const QByteArray removed("SRV SUCCESS DELETE: Default gateway removed - 192.168.98.1");
    const QByteArray restored("SRV SUCCESS RESTORE: Default gateway restored - 192.168.98.1 (Full entry: ");
    const QStringList tunnelRoute{"default dev TOVRAVPN scope link metric 5"};
    QTest::newRow("tunnel half routes") << QStringList{"route add 128.0.0.0/1 via 10.99.0.1 dev TOVRAVPN",
                                                       "route add default dev TOVRAVPN metric 5"}
                                        << QByteArray() << removed << tunnelRoute << restored;
    QTest::newRow("tunnel device named by the client")
        << QStringList{"route add default dev TOVRAVPN metric 5"}
        << QByteArray("GUARD_SERVER 192.168.98.53 udp 1194 TOVRAVPN\n") << removed << tunnelRoute << restored;
    QTest::newRow("two uplinks") << QStringList{"route del default",
                                                "route add default via 192.168.98.1 dev veth0 metric 100",
                                                "route add default via 192.168.98.254 dev veth0 metric 600"}
                                 << QByteArray() << removed << QStringList() << restored;
    QTest::newRow("other table and IPv6")
        << QStringList{"route add default via 192.168.98.254 dev veth0 table 220",
                       "addr add fd00:98::2/64 dev veth0 nodad", "-6 route add default via fd00:98::1 dev veth0"}
        << QByteArray() << removed << QStringList() << restored;
    QTest::newRow("IPv6 only") << QStringList{"route del default", "addr add fd00:98::2/64 dev veth0 nodad",
                                              "-6 route add default via fd00:98::1 dev veth0"}
                               << QByteArray() << QByteArray("SRV SUCCESS DELETE: Default gateway removed - fd00:98::1")
                               << QStringList()
                               << QByteArray("SRV SUCCESS RESTORE: Default gateway restored - fd00:98::1 (Full entry: "
                                             "inet6 via fd00:98::1 dev veth0 metric 1024)");
    QTest::newRow("LAN only") << QStringList{"route del default"} << QByteArray()
                              << QByteArray("SRV ERROR DELETE: Default gateway not found") << QStringList()
                              << QByteArray("SRV ERROR RESTORE: Default gateway not found after restoring");
}

// DELETE takes every default route outside the tunnel away and sets up the block; RESTORE puts back
// exactly what was there and lifts it.
void tst_TovraVPNService::killSwitchLayouts()
{
    QFETCH(QStringList, layout);
    QFETCH(QByteArray, server);
    QFETCH(QByteArray, deleteReply);
    QFETCH(QStringList, kept);
    QFETCH(QByteArray, restoreReply);
    QVERIFY(m_ns->ip(layout));
    const QStringList before = defaultRoutes();
    if (!server.isEmpty())
        QVERIFY(serviceCommand(server).startsWith("SRV SUCCESS GUARD SERVER: admitted "));
    QCOMPARE(serviceCommand("DELETE\n"), deleteReply);
    QCOMPARE(defaultRoutes(), kept);
    QCOMPARE(serviceCommand("GUARD_STATUS\n"), QByteArray("SRV SUCCESS GUARD STATUS: blocking"));
    QVERIFY(blockPresent());
    QVERIFY(QFileInfo::exists(stateFile()));

    const QByteArray reply = serviceCommand("RESTORE\n");
    QVERIFY2(reply.startsWith(restoreReply), reply);
    QCOMPARE(defaultRoutes(), before);
    QCOMPARE(serviceCommand("GUARD_STATUS\n"), QByteArray("SRV SUCCESS GUARD STATUS: open"));
    QVERIFY(!blockPresent());
    QVERIFY(!QFileInfo::exists(stateFile()));
}

// The block keeps packets in while the helper watches the routes, after it is killed, and after a restart;
// only RESTORE or "-restore" lift it, also when its state file is lost.
void tst_TovraVPNService::blockOutlivesService()
{
    // A peer that answers for 198.51.100.1-2 and 2001:db8::2 behind the IPv4 and IPv6 uplinks; the VPN
    // server 198.51.100.1 has a host route of its own, as a tunnel sets up.
    NetNamespace peer;
    QVERIFY(peer.isValid());
    QVERIFY(m_ns->ip({"route del default", "link add v4a type veth peer name v4b netns " + peer.name(),
                      "link add v6a type veth peer name v6b netns " + peer.name(), "addr add 192.168.97.2/24 dev v4a",
                      "addr add fd00:6::2/64 dev v6a nodad", "link set v4a up", "link set v6a up",
                      "route add 198.51.100.1/32 via 192.168.97.53 dev v4a"}));
    QVERIFY(peer.ip({"addr add 192.168.97.53/24 dev v4b", "addr add fd00:6::53/64 dev v6b nodad",
                     "addr add 198.51.100.1/32 dev lo", "addr add 198.51.100.2/32 dev lo",
                     "addr add 2001:db8::2/128 dev lo", "link set v4b up", "link set v6b up"}));
    const QStringList addBack{"route add default via 192.168.97.53 dev v4a metric 600",
                              "-6 route add default via fd00:6::53 dev v6a"};
    QVERIFY(m_ns->ip(addBack));
    const auto reached = [](const char *host, quint16 port) {
        return connectOutcome(host, port) == QAbstractSocket::ConnectionRefusedError;
    };
    QTRY_VERIFY_WITH_TIMEOUT(reached("198.51.100.2", 9) && reached("2001:db8::2", 9), 20000);

    QCOMPARE(serviceCommand("GUARD_SERVER 198.51.100.1 tcp 9\n"),
             QByteArray("SRV SUCCESS GUARD SERVER: admitted 198.51.100.1 tcp 9"));
    QCOMPARE(serviceCommand("DELETE\n"), QByteArray("SRV SUCCESS DELETE: Default gateway removed - 192.168.97.53"));
    // The server on its transport only.
    QVERIFY(reached("198.51.100.1", 9));
    QVERIFY(!reached("198.51.100.1", 10));

    // A default route that comes back is taken away again.
    QVERIFY(m_ns->ip({addBack.first()}));
    QVERIFY(m_service->waitForOutput(
        "Default route outside the tunnel removed again: inet via 192.168.97.53 dev v4a metric 600"));
    QTRY_COMPARE_WITH_TIMEOUT(defaultRoutes(), QStringList(), 20000);

    // Killed, the helper watches nothing, but the kernel still drops what the routes would let out.
    m_service->kill();
    QVERIFY(m_ns->ip(addBack));
    QVERIFY(!reached("198.51.100.2", 9));
    QVERIFY(!reached("2001:db8::2", 9));
    QVERIFY(reached("198.51.100.1", 9));
    const QByteArray chain = m_ns->exec({"nft", "list", "chain", "inet", "tovra_killswitch", "output"}).output;
    QVERIFY2(QRegularExpression("counter packets [1-9]").match(QString::fromLatin1(chain)).hasMatch(), chain);

    // A new run keeps the block and takes away what came back meanwhile.
    QVERIFY(startService());
    QCOMPARE(serviceCommand("GUARD_STATUS\n"), QByteArray("SRV SUCCESS GUARD STATUS: blocking"));
    QTRY_COMPARE_WITH_TIMEOUT(defaultRoutes(), QStringList(), 20000);
    m_service->kill();

    const QStringList restore{TovraService::program(), "-restore", "-statedir", m_state->path()};
    ProcessResult run = m_ns->exec(restore);
    QVERIFY2(run.output.startsWith("SRV SUCCESS RESTORE: Default gateway restored - 192.168.97.53") &&
                 run.output.endsWith(")\nKill switch firewall block was lifted.\n"),
             run.output);
    QCOMPARE(run.exitCode, 0);
    QVERIFY(reached("198.51.100.2", 9) && reached("2001:db8::2", 9));

    // A block whose state file is lost is found by its name.
    QVERIFY(startService());
    QVERIFY(serviceCommand("DELETE\n").startsWith("SRV SUCCESS DELETE"));
    m_service->kill();
    QVERIFY(QFile::remove(stateFile()));
    run = m_ns->exec(restore);
    QCOMPARE(run.output, "No saved default gateway found in " + stateFile().toUtf8() +
                             ".\nKill switch firewall block was lifted.\n");
    QCOMPARE(run.exitCode, 0);
    QVERIFY(!blockPresent());
}

// The rules no command sets up yet (an IPv6 server, the IPsec exception) load as well.
void tst_TovraVPNService::blockRulesLoad_data()
{
    QTest::addColumn<QStringList>("server");
    QTest::addColumn<QByteArray>("rule");
    QTest::newRow("IPv6 server") << QStringList{"2001:db8::1", "udp", "1194"}
                                 << QByteArray("ip6 daddr 2001:db8::1 udp dport 1194 accept");
    QTest::newRow("IKE with its NAT traversal port")
        << QStringList{"198.51.100.20", "udp", "500"}
        << QByteArray("ip daddr 198.51.100.20 udp dport { 500, 4500 } accept");
}

void tst_TovraVPNService::blockRulesLoad()
{
    QFETCH(QStringList, server);
    QFETCH(QByteArray, rule);
    BlockRules rules;
    rules.tunnelDevice = QStringLiteral("tun0");
    QVERIFY(GuardServer::fromWords(server, &rules.server));
    rules.allowIpsec = true;
    QProcess nft;
    nft.start("ip", {"netns", "exec", m_ns->name(), "nft", "-f", "-"});
    nft.write(nftBlockScript(rules).toUtf8());
    nft.closeWriteChannel();
    QVERIFY(nft.waitForFinished(30000) && nft.exitCode() == 0);
    const QByteArray table = m_ns->exec({"nft", "list", "table", "inet", "tovra_killswitch"}).output;
    QVERIFY2(table.contains(rule) && table.count("rt ipsec exists accept") == 2, table);
}

void tst_TovraVPNService::dnsFilters()
{
    const QByteArray added("SRV SUCCESS DNS ADD: Wfp filters added");
    QCOMPARE(serviceCommand("REMOVE_DNS_FILTERS\n"), QByteArray("SRV SUCCESS DNS REMOVE: Wfp filters removed"));
    QVERIFY(dnsReaches("192.168.98.53"));
    QCOMPARE(serviceCommand("ADD_DNS_FILTERS\n"), added);
    QVERIFY(!dnsReaches("192.168.98.53"));
    QVERIFY(!dnsReaches("fd00:98::53"));
    QVERIFY(dnsReaches("10.99.0.53"));
    // A local stub resolver still answers.
    QVERIFY(dnsReaches("127.0.0.53"));
    // A second ADD replaces the filters instead of stacking a second set.
    QCOMPARE(serviceCommand("ADD_DNS_FILTERS\n"), added);
    QCOMPARE(
        m_ns->exec({"nft", "list", "chain", "inet", "tovravpn", "dns"}).output.count("comment \"TOVRAVPN WFP Filter"),
        4);
    QCOMPARE(serviceCommand("REMOVE_DNS_FILTERS\n"), QByteArray("SRV SUCCESS DNS REMOVE: Wfp filters removed"));
    QVERIFY(!chainPresent());
    QVERIFY(dnsReaches("192.168.98.53"));

    // A service that stops in order takes its filters with it.
    QCOMPARE(serviceCommand("ADD_DNS_FILTERS\n"), added);
    QVERIFY(m_service->stop());
    QVERIFY(!chainPresent());
    // Filters left by a killed service go when it starts again.
    QVERIFY(startService());
    QCOMPARE(serviceCommand("ADD_DNS_FILTERS\n"), added);
    m_service->kill();
    QVERIFY(chainPresent());
    QVERIFY(startService());
    const QByteArray ruleset = m_ns->exec({"nft", "-j", "list", "ruleset"}).output;
    QVERIFY2(!ruleset.contains("\"rule\""), ruleset);
    QVERIFY(dnsReaches("192.168.98.53"));

    // The VPN's DNS server may be an IPv6 address.
    QVERIFY(m_ns->ip({"addr add fd00:99::53/64 dev vpnpeer nodad"}));
    QVERIFY(startService("Link 4 (TOVRAVPN): fd00:99::53\n"));
    QCOMPARE(serviceCommand("ADD_DNS_FILTERS\n"), added);
    QVERIFY(dnsReaches("fd00:99::53"));
    QVERIFY(!dnsReaches("10.99.0.53"));

    // The servers a tunnel pushed are admitted instead of the looked-up one, until REMOVE.
    QCOMPARE(serviceCommand("VPN_DNS 10.99.0.53\n"), QByteArray("SRV SUCCESS VPN DNS: 10.99.0.53"));
    QCOMPARE(serviceCommand("ADD_DNS_FILTERS\n"), added);
    QVERIFY(dnsReaches("10.99.0.53"));
    QVERIFY(!dnsReaches("fd00:99::53"));
}

// Four connections of one user at most (callers not permitted count as one), a line of 1 KiB, and no
// connection open past the idle time.
void tst_TovraVPNService::connectionLimits()
{
    // Another user's 16 idle connections take four slots; root is still served.
    ForeignClient nobody;
    QVERIFY(nobody.start(ForeignClient::Nobody, 56143, "INFO", 16));
    for (int i = 0; i < 4; ++i)
        QVERIFY2(m_service->waitForOutput("New Connection"), m_service->output().constData());
    for (int i = 0; i < 12; ++i)
        QVERIFY(m_service->waitForOutput("Connection refused: callers not permitted hold 4 connections (uid 65534)"));
    QCOMPARE(serviceCommand("DELETE\n"), QByteArray("SRV SUCCESS DELETE: Default gateway removed - 192.168.98.1"));

    QTcpSocket flooding;
    flooding.connectToHost(QStringLiteral("127.0.0.1"), 56143);
    QVERIFY(flooding.waitForConnected(10000));
    flooding.write(QByteArray(2048, 'A'));
    QVERIFY(flooding.waitForBytesWritten(10000));
    QVERIFY(m_service->waitForOutput("Connection closed: command line longer than 1024 bytes"));
    QTRY_COMPARE_WITH_TIMEOUT(flooding.state(), QAbstractSocket::UnconnectedState, 20000);

    // Connections that send no command are closed 10 s after they were taken.
    QVERIFY(m_service->waitForOutput("Connection closed: no complete command within 10000 ms", 40000));
    QCOMPARE(nobody.answer(), QByteArray());
}

void tst_TovraVPNService::openVpnConfig_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("reply");   // after "SRV "
    QTest::addColumn<QByteArray>("written"); // after the management lines; empty: the old files stay

    const QByteArray ours = "remote nl1.vpn.tovra.test 443\n";
    const QByteArray password = "0123456789abcdef0123456789abcdef";
    // Longer than the other commands' 1 KiB line, well within its own.
    const QByteArray key = "<ca>\n" + QByteArray(40, 'A').append('\n').repeated(60) + "</ca>\n";
    const QByteArray refused = "ERROR OVPN CONFIG: the configuration must start with the one remote line, port 443";
    QTest::newRow("checked and written") << ours + "client\n" + key << password
                                         << QByteArray("SUCCESS OVPN CONFIG: configuration written")
                                         << "remote nl1.vpn.tovra.test 443\nclient\n" + key;
    QTest::newRow("a provider's remote left in") << ours + "remote evil.example.net 443\n"
                                                 << password << refused << QByteArray();
    QTest::newRow("our remote not first") << "client\n" + ours << password << refused << QByteArray();
    QTest::newRow("another port") << QByteArray("remote nl1.vpn.tovra.test 1194\n") << password << refused
                                  << QByteArray();
    QTest::newRow("a command in the text")
        << ours + "script-security 2\n"
        << password
        << QByteArray("ERROR OVPN CONFIG: OpenVPN configuration refused: line 2: directive \"script-security\" not "
                      "allowed")
        << QByteArray();
    QTest::newRow("a password with a blank")
        << ours << QByteArray("0123456789 abcdef0123") << QByteArray("ERROR OVPN CONFIG: unusable management password")
        << QByteArray();
}

// The helper checks the client's configuration again and writes it, behind its own management lines, with the
// password file beside it: owner-only, a link planted at either path replaced rather than followed.
void tst_TovraVPNService::openVpnConfig()
{
    QFETCH(QByteArray, config);
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, written);
    const QString configFile = m_state->filePath("conn.ovpn"), passwordFile = m_state->filePath("conn.pw");
    const QString target = m_state->filePath("target");
    QVERIFY(writeFile(target, "untouched"));
    QVERIFY(QFile::link(target, configFile) && QFile::link(target, passwordFile));

    QCOMPARE(serviceCommand("OVPN_CONFIG " + config.toBase64() + ' ' + password.toBase64() + '\n'), "SRV " + reply);

    QCOMPARE(readFile(target), QByteArray("untouched"));
    QVERIFY(m_service->waitForOutput(written.isEmpty() ? "OpenVPN configuration not written: "
                                                       : "OpenVPN configuration written: "));
    if (written.isEmpty()) {
        QVERIFY(QFileInfo(configFile).isSymLink() && QFileInfo(passwordFile).isSymLink());
        return;
    }
    QCOMPARE(readFile(configFile), "management 127.0.0.1 52025 \"" + passwordFile.toUtf8() +
                                       "\"\nmanagement-query-passwords\nmanagement-hold\n" + written);
    QCOMPARE(readFile(passwordFile), password + '\n');
    for (const QString &file : {configFile, passwordFile}) {
        QVERIFY(!QFileInfo(file).isSymLink());
        QCOMPARE(QFile::permissions(file) & 0x0fff, QFileDevice::ReadUser | QFileDevice::WriteUser);
    }
    // The line cap of the configuration's command is its own.
    QTcpSocket flood;
    flood.connectToHost(QStringLiteral("127.0.0.1"), 56143);
    QVERIFY(flood.waitForConnected(10000));
    flood.write("OVPN_CONFIG " + QByteArray(70000, 'A'));
    while (flood.bytesToWrite() > 0 && flood.waitForBytesWritten(10000)) {
    }
    QVERIFY(m_service->waitForOutput("Connection closed: command line longer than 65536 bytes"));
}

QTEST_GUILESS_MAIN(tst_TovraVPNService)
#include "tst_tovravpnservice.moc"
