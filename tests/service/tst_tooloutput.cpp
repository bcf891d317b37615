#include <QtTest>

#include "service/dnsserverparse.h"
#include "service/routetable.h"
#include "service/routetool_unix.h"
#include "service/toolrunner.h"

Q_DECLARE_METATYPE(VpnDnsLookup::Outcome)

// The readings of tool output: default routes in a route table, the VPN's DNS server in ipconfig,
// resolvectl and nmcli output.
class tst_ToolOutput : public QObject
{
    Q_OBJECT

private slots:
    void toolLines();
    void defaultRoute_data();
    void defaultRoute();
    void iproute2Lines();
    void defaultRoutes_data();
    void defaultRoutes();
    void vpnDns_data();
    void vpnDns();
};

void tst_ToolOutput::toolLines()
{
    // Every line-end form splits, empty lines stay, and text ends at the first NUL.
    QCOMPARE(ToolLines(ToolText(QByteArray("a\r\nb\nc\rd\n\ne\0tail", 17))),
             (QStringList{"a", "b", "c", "d", "", "e"}));
    QCOMPARE(RouteTable::fields(QStringLiteral("  0.0.0.0\t x   y ")), (QStringList{"0.0.0.0\t", "x", "y"}));
}

void tst_ToolOutput::defaultRoute_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("via"); // empty: the first accepted default route
    QTest::addColumn<int>("index");

    // route print with an OpenVPN tunnel (10.8.0.6), wired and wireless default routes and a persistent route.
    const QStringList table =
        ToolLines(ToolText("Active Routes:\r\n"
                           "Network Destination        Netmask          Gateway       Interface  Metric\r\n"
                           "          0.0.0.0          0.0.0.0         10.8.0.5         10.8.0.6     35\r\n"
                           "          0.0.0.0        128.0.0.0         10.8.0.5         10.8.0.6     35\r\n"
                           "          0.0.0.0          0.0.0.0      192.168.1.1     192.168.1.20     25\r\n"
                           "          0.0.0.0          0.0.0.0      192.168.0.1     192.168.0.14     50\r\n"
                           "        127.0.0.0        255.0.0.0         On-link         127.0.0.1    331\r\n"
                           "Persistent Routes:\r\n"
                           "          0.0.0.0          0.0.0.0      172.16.0.1  Default\r\n"
                           " 12    281 ::/0                     fe80::1\r\n"));
    QTest::newRow("tunnel routes skipped, first of two default routes taken") << table << QString() << 4;
    QTest::newRow("10.0. interface is not a tunnel") << QStringList{"  0.0.0.0  0.0.0.0  10.0.0.1  10.0.0.15  10",
                                                                    "  0.0.0.0  0.0.0.0  192.168.1.1  192.168.1.20  25"}
                                                     << QString() << 0;
    QTest::newRow("netmask not looked at, on-link word as gateway")
        << QStringList{"  0.0.0.0  128.0.0.0  On-link  172.20.3.4  26"} << QString() << 0;
    QTest::newRow("tab is no separator") << QStringList{"0.0.0.0\t0.0.0.0 192.168.1.1 192.168.1.20 25"} << QString()
                                         << -1;
    QTest::newRow("via tunnel gateway: no interface rule") << table << "10.8.0.5" << 2;
    QTest::newRow("via second default route") << table << "192.168.0.1" << 5;
    QTest::newRow("via persistent route does not count") << table << "172.16.0.1" << -1;
    QTest::newRow("via exact gateway only") << table << "192.168.1." << -1;
}

void tst_ToolOutput::defaultRoute()
{
    QFETCH(QStringList, lines);
    QFETCH(QString, via);
    QFETCH(int, index);
    QCOMPARE(via.isEmpty() ? RouteTable::findDefaultRoute(lines) : RouteTable::findDefaultRouteVia(lines, via), index);
}

void tst_ToolOutput::iproute2Lines()
{
    // Output of "ip -j -4 route show table main" and "ip -j -4 addr show" with an OpenVPN tunnel up.
    const QByteArray routes = R"([
        {"dst":"0.0.0.0/1","gateway":"10.8.0.5","dev":"tun0","flags":[]},
        {"dst":"default","gateway":"192.168.1.1","dev":"eth0","metric":100,"flags":[]},
        {"dst":"default","dev":"ppp0","scope":"link","flags":[]},
        {"type":"blackhole","dst":"default","flags":[]},
        {"dst":"default","metric":600,"flags":[],"nexthops":[{"gateway":"192.168.2.1","dev":"wlan0"},
                                                                {"gateway":"192.168.3.1","dev":"eth1"}]},
        {"dst":"192.168.1.0/24","dev":"eth0","scope":"link","prefsrc":"192.168.1.20","flags":[]}])";
    const QByteArray addresses = R"([
        {"ifname":"eth0","addr_info":[{"family":"inet","local":"192.168.1.20","prefixlen":24}]},
        {"ifname":"tun0","addr_info":[{"family":"inet","local":"10.8.0.6","prefixlen":24}]},
        {"ifname":"ppp0","addr_info":[{"family":"inet","local":"172.20.3.4","prefixlen":32}]},
        {"ifname":"wlan0","addr_info":[{"family":"inet","local":"192.168.2.7","prefixlen":24}]}])";
    QStringList lines, fields;
    for (const IpRoute &route : parseIpRoutes(routes, addresses)) {
        lines << ipRouteLine(route);
        fields << RouteTable::fields(lines.last()).join(QLatin1Char('|'));
    }
    QCOMPARE(
        fields,
        (QStringList{"0.0.0.0|128.0.0.0|10.8.0.5|10.8.0.6|0", "0.0.0.0|0.0.0.0|192.168.1.1|192.168.1.20|100",
                     "0.0.0.0|0.0.0.0|On-link|172.20.3.4|0", "0.0.0.0|0.0.0.0|192.168.2.1|192.168.2.7|600",
                     "0.0.0.0|0.0.0.0|192.168.3.1|0.0.0.0|600", "192.168.1.0|255.255.255.0|On-link|192.168.1.20|0"}));
    // The same rules as on Windows: the tunnel's half-default is passed over.
    QCOMPARE(RouteTable::findDefaultRoute(lines), 1);
}

void tst_ToolOutput::defaultRoutes_data()
{
    QTest::addColumn<QByteArray>("json"); // "ip -j -4|-6 route show table all"
    QTest::addColumn<bool>("ipv6");
    QTest::addColumn<QStringList>("routes");
    QTest::addColumn<QString>("tunnel");

    const QByteArray halves = R"({"dst":"0.0.0.0/1","gateway":"10.8.0.5","dev":"tun0","flags":[]},
        {"dst":"128.0.0.0/1","gateway":"10.8.0.5","dev":"tun0","flags":[]},)";
    QTest::newRow("every table, unicast only, one route per next hop")
        << QByteArray("[" + halves + R"(
            {"dst":"default","gateway":"192.168.5.4","dev":"eth0","table":"220","flags":[]},
            {"type":"unreachable","dst":"default","table":"200","metric":9,"flags":[]},
            {"dst":"default","gateway":"192.168.1.1","dev":"eth0","metric":100,"flags":[]},
            {"dst":"default","dev":"ppp0","scope":"link","table":"main","flags":[]},
            {"dst":"default","metric":600,"flags":[],"nexthops":[{"gateway":"192.168.2.1","dev":"wlan0"},
                                                                    {"gateway":"192.168.3.1","dev":"eth1"}]},
            {"type":"local","dst":"127.0.0.1","dev":"lo","table":"local","flags":[]}])")
        << false
        << QStringList{"inet via 192.168.5.4 dev eth0 table 220", "inet via 192.168.1.1 dev eth0 metric 100",
                       "inet dev ppp0", "inet via 192.168.2.1 dev wlan0 metric 600",
                       "inet via 192.168.3.1 dev eth1 metric 600"}
        << "tun0";
    QTest::newRow("halves on two devices name no tunnel")
        << QByteArray(R"([{"dst":"0.0.0.0/1","dev":"tun0","flags":[]},{"dst":"128.0.0.0/1","dev":"tun1","flags":[]}])")
        << false << QStringList() << QString();
    QTest::newRow("IPv6") << QByteArray(R"([{"dst":"default","gateway":"fd00:6::53","dev":"v6a","metric":1024,
                                             "flags":[],"pref":"medium"},
                                            {"dst":"fe80::/64","dev":"v6a","metric":256,"flags":[]}])")
                          << true << QStringList{"inet6 via fd00:6::53 dev v6a metric 1024"} << QString();
}

void tst_ToolOutput::defaultRoutes()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, ipv6);
    QFETCH(QStringList, routes);
    QFETCH(QString, tunnel);
    QString device = QStringLiteral("before");
    QStringList texts;
    for (const DefaultRoute &route : parseDefaultRoutes(json, ipv6, &device)) {
        texts << route.toText();
        // What the state file keeps reads back as the same route.
        DefaultRoute read;
        QVERIFY2(DefaultRoute::fromText(texts.last(), &read) && read == route, qPrintable(texts.last()));
    }
    QCOMPARE(texts, routes);
    QCOMPARE(device, tunnel);
}

void tst_ToolOutput::vpnDns_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QString>("output");
    QTest::addColumn<VpnDnsLookup::Outcome>("outcome");
    QTest::addColumn<QString>("address");
    const auto row = [](const char *name, const char *tool, const QString &output, const char *address,
                        VpnDnsLookup::Outcome outcome = VpnDnsLookup::Found) {
        QTest::newRow(name) << QString::fromLatin1(tool) << output << outcome << QString::fromLatin1(address);
    };
    const auto notFound = VpnDnsLookup::DnsNotFound;
    const auto noAdapter = VpnDnsLookup::AdapterNotFound;

    const QString ethernet = QStringLiteral("Ethernet adapter Ethernet:\r\n\r\n"
                                            "   DNS Servers . . . . . . . . . . . : 192.168.1.1\r\n\r\n");
    row("ipconfig: first server only, suffix line passed over", "ipconfig",
        ethernet +
            "PPP adapter TOVRAVPN:\r\n\r\n   Connection-specific DNS Suffix  . : vpn.tovra.test\r\n"
            "   DNS Servers . . . . . . . . . . . : 10.8.0.1\r\n                                       10.8.0.2\r\n",
        "10.8.0.1");
    // The IPv6 line splits at its colons and the continuation line has none: nothing qualifies.
    row("ipconfig: IPv6 server line, IPv4 only on continuation line", "ipconfig",
        "PPP adapter TOVRAVPN:\r\n\r\n   DNS Servers . . . . : fd00::53\r\n                 10.8.0.1\r\n", "",
        notFound);
    row("ipconfig: no DNS in the block, the next block's does not count", "ipconfig",
        "PPP adapter TOVRAVPN:\r\n\r\n   IPv4 Address. . . : 10.8.0.6\r\n\r\n" + ethernet, "", notFound);
    row("ipconfig: adapter name in other letter case", "ipconfig",
        ethernet + "PPP adapter TovraVPN:\r\n\r\n   DNS Servers . . . : 10.8.0.1\r\n", "", noAdapter);
    row("resolvectl: first server of the link, a zoned one passed over", "resolvectl",
        "Global: 1.1.1.1\nLink 2 (eth0): 192.168.1.1\nLink 7 (TOVRAVPN): fe80::1%tun0 10.8.0.1#dns.tovra.test "
        "fd00::53\n",
        "10.8.0.1");
    row("resolvectl: IPv6 server with port", "resolvectl",
        "Link 7 (TOVRAVPN): [fd00::53]:5353#dns.tovra.test 10.8.0.1\n", "fd00::53");
    row("resolvectl: server with port", "resolvectl", "Link 9 (TOVRAVPN): 10.8.0.1:5353\n", "10.8.0.1");
    row("resolvectl: link without servers", "resolvectl", "Global:\nLink 7 (TOVRAVPN):\n", "", notFound);
    row("resolvectl: other letter case", "resolvectl", "Link 7 (tovravpn): 10.8.0.1\n", "", noAdapter);
    row("nmcli: escaped IPv6 server", "nmcli",
        "GENERAL.DEVICE:tun0\nGENERAL.CONNECTION:TOVRAVPN\nIP6.DNS[1]:fd00\\:\\:53\n", "fd00::53");
    row("nmcli: connection named TOVRAVPN", "nmcli",
        "GENERAL.DEVICE:eth0\nGENERAL.CONNECTION:w\nIP4.DNS[1]:192.168.1.1\n\nGENERAL.DEVICE:tun0\n"
        "GENERAL.CONNECTION:TOVRAVPN\nIP4.DNS[1]:10.8.0.1\nIP4.DNS[2]:10.8.0.2\n",
        "10.8.0.1");
    row("nmcli: device named TOVRAVPN", "nmcli", "GENERAL.DEVICE:TOVRAVPN\nGENERAL.CONNECTION:\nIP4.DNS[1]:10.7.0.1\n",
        "10.7.0.1");
    row("nmcli: no DNS on the VPN, the next device's does not count", "nmcli",
        "GENERAL.DEVICE:tun0\nGENERAL.CONNECTION:TOVRAVPN\n\nGENERAL.DEVICE:eth0\nIP4.DNS[1]:192.168.1.1\n", "",
        notFound);
    row("nmcli: no VPN", "nmcli", "GENERAL.DEVICE:eth0\nIP4.DNS[1]:192.168.1.1\n", "", noAdapter);
}

void tst_ToolOutput::vpnDns()
{
    QFETCH(QString, tool);
    QFETCH(QString, output);
    QFETCH(VpnDnsLookup::Outcome, outcome);
    QFETCH(QString, address);
    const QStringList lines = ToolLines(output);
    const VpnDnsLookup lookup = tool == QLatin1String("nmcli")        ? parseNmcliDns(lines)
                                : tool == QLatin1String("resolvectl") ? parseResolvectlDns(lines)
                                                                      : ParseIpconfigDns(lines);
    QCOMPARE(lookup.outcome, outcome);
    QCOMPARE(lookup.address.toString(), address);
}

QTEST_GUILESS_MAIN(tst_ToolOutput)
#include "tst_tooloutput.moc"
