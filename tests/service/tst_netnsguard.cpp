#include <QtTest>

#include "netnamespace.h"
#include "service/routetable.h"
#include "service/routetool.h"
#include "service/toolrunner.h"
#include "serviceprocess.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <memory>

// The Linux backends on a real kernel, inside a private network namespace per test:
//   veth0 192.168.98.2/24 <-> veth1 192.168.98.53/24, default route via 192.168.98.1 on veth0
//   TOVRAVPN 10.99.0.2/24 <-> vpnpeer 10.99.0.53/24 (the VPN's DNS server), 0.0.0.0/1 via 10.99.0.1
class tst_NetnsGuard : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void routeBackend();
    void killSwitchEndToEnd();
    void dnsFiltersEndToEnd();
    void leftoverFiltersRemovedAtStart();

private:
    bool makeNetwork();
    QByteArray send(const QByteArray &command);
    bool startService();
    bool chainPresent();
    bool defaultRoutePresent();
    // Whether TCP and UDP to port 53 of address get through.
    bool tcpReaches(const char *address);
    bool udpReaches(const char *address);

    std::unique_ptr<NetNamespace> m_ns;
    std::unique_ptr<ServiceProcess> m_service;
    std::unique_ptr<QTemporaryDir> m_bin;
    std::unique_ptr<QTcpServer> m_dnsTcp;
    std::unique_ptr<QUdpSocket> m_dnsUdp;
};

void tst_NetnsGuard::init()
{
    const QString reason = NetNamespace::skipReason(true);
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    m_ns = std::make_unique<NetNamespace>();
    QVERIFY(m_ns->isValid());
    QVERIFY(makeNetwork());
    QVERIFY(m_ns->enter());
}

void tst_NetnsGuard::cleanup()
{
    m_dnsTcp.reset();
    m_dnsUdp.reset();
    m_service.reset();
    m_ns.reset();
    m_bin.reset();
}

bool tst_NetnsGuard::makeNetwork()
{
    return m_ns->ipAll({
        {"link", "add", "veth0", "type", "veth", "peer", "name", "veth1"},
        {"link", "add", "TOVRAVPN", "type", "veth", "peer", "name", "vpnpeer"},
        {"addr", "add", "192.168.98.2/24", "dev", "veth0"},
        {"addr", "add", "192.168.98.53/24", "dev", "veth1"},
        {"addr", "add", "10.99.0.2/24", "dev", "TOVRAVPN"},
        {"addr", "add", "10.99.0.53/24", "dev", "vpnpeer"},
        {"link", "set", "veth0", "up"},
        {"link", "set", "veth1", "up"},
        {"link", "set", "TOVRAVPN", "up"},
        {"link", "set", "vpnpeer", "up"},
        {"route", "add", "default", "via", "192.168.98.1", "dev", "veth0"},
        // The tunnel's half-default route, which the kill switch leaves alone.
        {"route", "add", "0.0.0.0/1", "via", "10.99.0.1", "dev", "TOVRAVPN"},
    });
}

bool tst_NetnsGuard::startService()
{
    // This machine's resolver tool may be missing or know nothing of the namespace: a stand-in prints
    // resolvectl's answer for the TOVRAVPN link.
    m_bin = std::make_unique<QTemporaryDir>();
    QFile tool(m_bin->filePath(QStringLiteral("resolvectl")));
    if (!tool.open(QIODevice::WriteOnly))
        return false;
    tool.write(
        "#!/bin/sh\necho 'Global:'\necho 'Link 2 (veth0): 192.168.98.1'\necho 'Link 4 (TOVRAVPN): 10.99.0.53'\n");
    tool.close();
    tool.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PATH"),
                       m_bin->path() + QLatin1Char(':') + environment.value(QStringLiteral("PATH")));

    m_service = std::make_unique<ServiceProcess>();
    const bool started = m_service->start(m_ns->prefix(), environment);
    if (!started)
        qWarning().noquote() << m_service->log();
    return started;
}

QByteArray tst_NetnsGuard::send(const QByteArray &command)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), 56143);
    if (!socket.waitForConnected(5000))
        return "not connected";
    socket.write(command);
    if (!socket.waitForReadyRead(35000))
        return "no reply";
    return socket.readAll();
}

bool tst_NetnsGuard::chainPresent()
{
    return m_ns->exec({"nft", "list", "chain", "ip", "tovravpn", "dns"});
}

bool tst_NetnsGuard::defaultRoutePresent()
{
    QByteArray out;
    m_ns->exec({"ip", "-4", "route", "show", "default"}, &out);
    return out.contains("default via 192.168.98.1");
}

bool tst_NetnsGuard::tcpReaches(const char *address)
{
    QTcpSocket socket;
    socket.connectToHost(QString::fromLatin1(address), 53);
    const bool connected = socket.waitForConnected(10000);
    if (!connected && socket.error() != QAbstractSocket::ConnectionRefusedError)
        qWarning() << "unexpected TCP error" << socket.errorString();
    return connected;
}

bool tst_NetnsGuard::udpReaches(const char *address)
{
    // A blocked datagram is refused by the send itself.
    QUdpSocket socket;
    const QByteArray probe = QByteArray("probe-") + address;
    if (socket.writeDatagram(probe, QHostAddress(QString::fromLatin1(address)), 53) < 0)
        return false;
    bool arrived = false;
    return QTest::qWaitFor(
        [&] {
            while (m_dnsUdp->hasPendingDatagrams()) {
                QByteArray data(int(m_dnsUdp->pendingDatagramSize()), 0);
                m_dnsUdp->readDatagram(data.data(), data.size());
                arrived = arrived || data == probe;
            }
            return arrived;
        },
        10000);
}

void tst_NetnsGuard::routeBackend()
{
    ToolRunner runner;
    runner.commandPrefix = m_ns->prefix();
    const std::unique_ptr<RouteTool> routes = CreateSystemRouteTool(runner);

    QStringList table = routes->routeTable();
    const int index = RouteTable::FindDefaultRoute(table);
    QVERIFY2(index >= 0, qPrintable(table.join('\n')));
    QCOMPARE(RouteTable::Fields(table.at(index)),
             (QStringList{"0.0.0.0", "0.0.0.0", "192.168.98.1", "192.168.98.2", "0"}));
    QVERIFY(table.join('\n').contains(QRegularExpression("10.99.0.0 +255.255.255.0 +On-link +10.99.0.2")));

    QVERIFY(routes->deleteDefaultRoute(QStringLiteral("192.168.98.1")));
    QVERIFY(!defaultRoutePresent());
    QVERIFY(routes->routeTable().join('\n').contains(QRegularExpression("0.0.0.0 +128.0.0.0 +10.99.0.1 +10.99.0.2")));
    QCOMPARE(RouteTable::FindDefaultRouteVia(routes->routeTable(), QStringLiteral("192.168.98.1")), -1);
    QVERIFY(!routes->deleteDefaultRoute(QStringLiteral("192.168.98.1")));

    QVERIFY(routes->addDefaultRoute(QStringLiteral("192.168.98.1")));
    QVERIFY(defaultRoutePresent());
    QVERIFY(!routes->addDefaultRoute(QString()));
}

void tst_NetnsGuard::killSwitchEndToEnd()
{
    QVERIFY(startService());
    QCOMPARE(send("INFO\n"), QByteArray("SRV ERROR INFO: Default gateway () not found"));
    QCOMPARE(send("DELETE\n"), QByteArray("SRV SUCCESS DELETE: Default gateway removed - 192.168.98.1"));
    QVERIFY(!defaultRoutePresent());
    QCOMPARE(send("INFO\n"), QByteArray("SRV ERROR INFO: Default gateway (192.168.98.1) not found"));
    QCOMPARE(send("DELETE\n"), QByteArray("SRV ERROR DELETE: Default gateway not found"));

    const QByteArray restored = send("RESTORE\n");
    QVERIFY2(QRegularExpression(
                 "^SRV SUCCESS RESTORE: Default gateway restored - 192\\.168\\.98\\.1 \\(Full entry: +0\\.0\\.0\\.0 "
                 "+0\\.0\\.0\\.0 +192\\.168\\.98\\.1 +192\\.168\\.98\\.2 +0\\)$")
                 .match(QString::fromLatin1(restored))
                 .hasMatch(),
             restored.constData());
    QVERIFY(defaultRoutePresent());
    QCOMPARE(send("INFO\n"), QByteArray("SRV SUCCESS INFO: Default gateway exists - 192.168.98.1"));
    QVERIFY(
        send("RESTORE\n").startsWith("SRV ERROR RESTORE: Default gateway already exists - 192.168.98.1 (Full entry: "));
}

void tst_NetnsGuard::dnsFiltersEndToEnd()
{
    m_dnsTcp = std::make_unique<QTcpServer>();
    m_dnsUdp = std::make_unique<QUdpSocket>();
    QVERIFY(m_dnsTcp->listen(QHostAddress::AnyIPv4, 53));
    QVERIFY(m_dnsUdp->bind(QHostAddress::AnyIPv4, 53));
    QVERIFY(startService());

    QVERIFY(tcpReaches("192.168.98.53"));
    QVERIFY(udpReaches("192.168.98.53"));

    QCOMPARE(send("ADD_DNS_FILTERS\n"), QByteArray("SRV SUCCESS DNS ADD: Wfp filters added"));
    QVERIFY(chainPresent());
    QVERIFY(!tcpReaches("192.168.98.53"));
    QVERIFY(!udpReaches("192.168.98.53"));
    QVERIFY(tcpReaches("10.99.0.53"));
    QVERIFY(udpReaches("10.99.0.53"));

    // A second ADD replaces the filters instead of stacking a second set.
    QCOMPARE(send("ADD_DNS_FILTERS\n"), QByteArray("SRV SUCCESS DNS ADD: Wfp filters added"));
    QByteArray rules;
    QVERIFY(m_ns->exec({"nft", "list", "chain", "ip", "tovravpn", "dns"}, &rules));
    QCOMPARE(rules.count("comment \"TOVRAVPN WFP Filter"), 4);

    QCOMPARE(send("REMOVE_DNS_FILTERS\n"), QByteArray("SRV SUCCESS DNS REMOVE: Wfp filters removed"));
    QVERIFY(!chainPresent());
    QVERIFY(tcpReaches("192.168.98.53"));
    QVERIFY(udpReaches("192.168.98.53"));

    // A service that stops in order takes its filters with it.
    QCOMPARE(send("ADD_DNS_FILTERS\n"), QByteArray("SRV SUCCESS DNS ADD: Wfp filters added"));
    QVERIFY(m_service->stop());
    QVERIFY(!chainPresent());
    QVERIFY(tcpReaches("192.168.98.53"));
}

void tst_NetnsGuard::leftoverFiltersRemovedAtStart()
{
    QVERIFY(startService());
    QCOMPARE(send("ADD_DNS_FILTERS\n"), QByteArray("SRV SUCCESS DNS ADD: Wfp filters added"));
    m_service->kill();
    QVERIFY(chainPresent());

    QVERIFY(startService());
    QVERIFY(!chainPresent());
    QByteArray ruleset;
    QVERIFY(m_ns->exec({"nft", "-j", "list", "ruleset"}, &ruleset));
    QVERIFY2(!ruleset.contains("\"rule\""), ruleset.constData());
    QCOMPARE(send("REMOVE_DNS_FILTERS\n"), QByteArray("SRV SUCCESS DNS REMOVE: Wfp filters removed"));
}

QTEST_GUILESS_MAIN(tst_NetnsGuard)
#include "tst_netnsguard.moc"
