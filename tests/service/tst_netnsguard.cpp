#include <QtTest>

#include "netnamespace.h"
#include "serviceprocess.h"

#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <memory>

// The service and its Linux backends on a real kernel, inside the network of NetNamespace::makeGuardNetwork()
// in a private namespace per test.
class tst_NetnsGuard : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void killSwitch();
    void dnsFilters();

private:
    bool startService();
    QByteArray send(const QByteArray &command);
    bool chainPresent() { return m_ns->exec({"nft", "list", "chain", "ip", "tovravpn", "dns"}); }
    QByteArray routes();
    // Whether TCP and UDP to port 53 of address get through.
    bool tcpReaches(const char *address);
    bool udpReaches(const char *address);

    std::unique_ptr<NetNamespace> m_ns;
    std::unique_ptr<ServiceProcess> m_service;
    std::unique_ptr<QUdpSocket> m_dnsUdp;
};

void tst_NetnsGuard::init()
{
    const QString reason = NetNamespace::skipReason({QStringLiteral("nft")});
    if (!reason.isEmpty())
        QSKIP(qPrintable(reason));
    m_ns = std::make_unique<NetNamespace>();
    QVERIFY(m_ns->isValid());
    QVERIFY(m_ns->makeGuardNetwork());
    QVERIFY(m_ns->enter());
}

void tst_NetnsGuard::cleanup()
{
    m_dnsUdp.reset();
    m_service.reset();
    m_ns.reset();
}

bool tst_NetnsGuard::startService()
{
    m_service = std::make_unique<ServiceProcess>();
    if (m_service->start(m_ns->prefix(), "Global:\nLink 2 (veth0): 192.168.98.1\nLink 4 (TOVRAVPN): 10.99.0.53\n"))
        return true;
    qWarning().noquote() << m_service->log();
    return false;
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

QByteArray tst_NetnsGuard::routes()
{
    QByteArray out;
    m_ns->exec({"ip", "-4", "route", "show"}, &out);
    return out;
}

bool tst_NetnsGuard::tcpReaches(const char *address)
{
    QTcpSocket socket;
    socket.connectToHost(QString::fromLatin1(address), 53);
    return socket.waitForConnected(10000);
}

bool tst_NetnsGuard::udpReaches(const char *address)
{
    // A blocked datagram is refused by the send itself.
    QUdpSocket socket;
    const QByteArray probe = QByteArray("probe-") + address;
    if (socket.writeDatagram(probe, QHostAddress(QString::fromLatin1(address)), 53) < 0)
        return false;
    return QTest::qWaitFor(
        [&] { return m_dnsUdp->hasPendingDatagrams() && m_dnsUdp->receiveDatagram().data() == probe; }, 10000);
}

void tst_NetnsGuard::killSwitch()
{
    QVERIFY(startService());
    QCOMPARE(send("RESTORE\n"), QByteArray("SRV ERROR RESTORE: Default gateway not found after restoring"));
    QCOMPARE(send("INFO\n"), QByteArray("SRV ERROR INFO: Default gateway () not found"));
    QCOMPARE(send("DELETE\n"), QByteArray("SRV SUCCESS DELETE: Default gateway removed - 192.168.98.1"));
    // Only the default route went; the tunnel's half-default stays.
    QVERIFY(!routes().contains("default"));
    QVERIFY2(routes().contains("0.0.0.0/1 via 10.99.0.1 dev TOVRAVPN"), routes().constData());
    QCOMPARE(send("INFO\n"), QByteArray("SRV ERROR INFO: Default gateway (192.168.98.1) not found"));
    QCOMPARE(send("DELETE\n"), QByteArray("SRV ERROR DELETE: Default gateway not found"));

    const QByteArray restored = send("RESTORE\n");
    QVERIFY2(QRegularExpression(
                 "^SRV SUCCESS RESTORE: Default gateway restored - 192\\.168\\.98\\.1 \\(Full entry: +0\\.0\\.0\\.0 "
                 "+0\\.0\\.0\\.0 +192\\.168\\.98\\.1 +192\\.168\\.98\\.2 +0\\)$")
                 .match(QString::fromLatin1(restored))
                 .hasMatch(),
             restored.constData());
    QVERIFY(routes().contains("default via 192.168.98.1 dev veth0"));
    QCOMPARE(send("INFO\n"), QByteArray("SRV SUCCESS INFO: Default gateway exists - 192.168.98.1"));
    QVERIFY(
        send("RESTORE\n").startsWith("SRV ERROR RESTORE: Default gateway already exists - 192.168.98.1 (Full entry: "));
}

void tst_NetnsGuard::dnsFilters()
{
    QTcpServer dnsTcp;
    m_dnsUdp = std::make_unique<QUdpSocket>();
    QVERIFY(dnsTcp.listen(QHostAddress::AnyIPv4, 53));
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

    // Filters left by a killed service go when it starts again.
    QVERIFY(startService());
    QCOMPARE(send("ADD_DNS_FILTERS\n"), QByteArray("SRV SUCCESS DNS ADD: Wfp filters added"));
    m_service->kill();
    QVERIFY(chainPresent());
    QVERIFY(startService());
    QByteArray ruleset;
    QVERIFY(m_ns->exec({"nft", "-j", "list", "ruleset"}, &ruleset));
    QVERIFY2(!ruleset.contains("\"rule\""), ruleset.constData());
    QVERIFY(tcpReaches("192.168.98.53"));
}

QTEST_GUILESS_MAIN(tst_NetnsGuard)
#include "tst_netnsguard.moc"
