#include <QtTest>

#include "service/routetable.h"
#include "service/routetool_unix.h"
#include "service/toolrunner.h"

// route print of a machine with wired and wireless default routes, an OpenVPN tunnel (10.8.0.6) and
// persistent routes; lines end in CR LF as Windows writes them.
static const char RoutePrint[] = "===========================================================================\r\n"
                                 "Interface List\r\n"
                                 " 18...00 ff 3a 9c 11 02 ......TAP-Windows Adapter V9\r\n"
                                 " 12...d4 81 d7 22 10 9a ......Intel(R) Ethernet Connection I219-LM\r\n"
                                 "  1...........................Software Loopback Interface 1\r\n"
                                 "===========================================================================\r\n"
                                 "\r\n"
                                 "IPv4 Route Table\r\n"
                                 "===========================================================================\r\n"
                                 "Active Routes:\r\n"
                                 "Network Destination        Netmask          Gateway       Interface  Metric\r\n"
                                 "          0.0.0.0          0.0.0.0         10.8.0.5         10.8.0.6     35\r\n"
                                 "          0.0.0.0        128.0.0.0         10.8.0.5         10.8.0.6     35\r\n"
                                 "          0.0.0.0          0.0.0.0      192.168.1.1     192.168.1.20     25\r\n"
                                 "          0.0.0.0          0.0.0.0      192.168.0.1     192.168.0.14     50\r\n"
                                 "         10.8.0.0    255.255.255.0         On-link          10.8.0.6    291\r\n"
                                 "        127.0.0.0        255.0.0.0         On-link         127.0.0.1    331\r\n"
                                 "  255.255.255.255  255.255.255.255         On-link      192.168.1.20    281\r\n"
                                 "===========================================================================\r\n"
                                 "Persistent Routes:\r\n"
                                 "  Network Address          Netmask  Gateway Address  Metric\r\n"
                                 "          0.0.0.0          0.0.0.0      172.16.0.1  Default\r\n"
                                 "===========================================================================\r\n"
                                 "\r\n"
                                 "IPv6 Route Table\r\n"
                                 "===========================================================================\r\n"
                                 "Active Routes:\r\n"
                                 " If Metric Network Destination      Gateway\r\n"
                                 " 12    281 ::/0                     fe80::1\r\n"
                                 "  1    331 ::1/128                  On-link\r\n"
                                 "===========================================================================\r\n"
                                 "Persistent Routes:\r\n"
                                 "  None\r\n";

class tst_RouteTable : public QObject
{
    Q_OBJECT

private slots:
    void toolLines();
    void defaultRoute_data();
    void defaultRoute();
    void iproute2Lines();
};

void tst_RouteTable::toolLines()
{
    // Every line-end form splits, empty lines stay, and text ends at the first NUL.
    const QByteArray bytes("a\r\nb\nc\rd\n\ne\0tail", 17);
    QCOMPARE(ToolLines(ToolText(bytes)), (QStringList{"a", "b", "c", "d", "", "e"}));
    QCOMPARE(RouteTable::Fields(QStringLiteral("  0.0.0.0\t x   y ")), (QStringList{"0.0.0.0\t", "x", "y"}));
}

void tst_RouteTable::defaultRoute_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("via"); // empty: the first accepted default route
    QTest::addColumn<int>("index");

    const QStringList full = ToolLines(ToolText(QByteArray(RoutePrint)));
    QTest::newRow("tunnel routes skipped, first of two default routes taken") << full << QString() << 13;
    QTest::newRow("10.0. interface is not a tunnel") << QStringList{"  0.0.0.0  0.0.0.0  10.0.0.1  10.0.0.15  10",
                                                                    "  0.0.0.0  0.0.0.0  192.168.1.1  192.168.1.20  25"}
                                                     << QString() << 0;
    QTest::newRow("netmask not looked at")
        << QStringList{"  0.0.0.0  128.0.0.0  192.168.5.1  192.168.5.9  5"} << QString() << 0;
    QTest::newRow("on-link word as gateway")
        << QStringList{"  0.0.0.0  0.0.0.0  On-link  172.20.3.4  26"} << QString() << 0;
    QTest::newRow("only tunnel and persistent routes")
        << QStringList{"  0.0.0.0  0.0.0.0  10.8.0.5  10.8.0.6  35", "  0.0.0.0  0.0.0.0  172.16.0.1  Default"}
        << QString() << -1;
    QTest::newRow("tab is no separator") << QStringList{"0.0.0.0\t0.0.0.0 192.168.1.1 192.168.1.20 25"} << QString()
                                         << -1;
    QTest::newRow("IPv6 table only") << QStringList{" 12    281 ::/0                     fe80::1"} << QString() << -1;
    QTest::newRow("via tunnel gateway: no interface rule") << full << "10.8.0.5" << 11;
    QTest::newRow("via second default route") << full << "192.168.0.1" << 14;
    QTest::newRow("via persistent route does not count") << full << "172.16.0.1" << -1;
    QTest::newRow("via exact gateway only") << full << "192.168.1." << -1;
}

void tst_RouteTable::defaultRoute()
{
    QFETCH(QStringList, lines);
    QFETCH(QString, via);
    QFETCH(int, index);
    QCOMPARE(via.isEmpty() ? RouteTable::FindDefaultRoute(lines) : RouteTable::FindDefaultRouteVia(lines, via), index);
}

void tst_RouteTable::iproute2Lines()
{
    // Output of "ip -j -4 route show table main" and "ip -j -4 addr show" with an OpenVPN tunnel up.
    const QByteArray routes = R"([
        {"dst":"0.0.0.0/1","gateway":"10.8.0.5","dev":"tun0","flags":[]},
        {"dst":"default","gateway":"192.168.1.1","dev":"eth0","protocol":"dhcp","prefsrc":"192.168.1.20","metric":100,"flags":[]},
        {"dst":"default","dev":"ppp0","scope":"link","flags":[]},
        {"type":"blackhole","dst":"default","flags":[]},
        {"dst":"default","metric":600,"flags":[],"nexthops":[{"gateway":"192.168.2.1","dev":"wlan0","weight":1,"flags":[]},
                                                                {"gateway":"192.168.3.1","dev":"eth1","weight":1,"flags":[]}]},
        {"dst":"10.8.0.1","gateway":"10.8.0.5","dev":"tun0","flags":[]},
        {"dst":"192.168.1.0/24","dev":"eth0","protocol":"kernel","scope":"link","prefsrc":"192.168.1.20","flags":[]}])";
    const QByteArray addresses = R"([
        {"ifindex":2,"ifname":"eth0","addr_info":[{"family":"inet","local":"192.168.1.20","prefixlen":24}]},
        {"ifindex":5,"ifname":"tun0","addr_info":[{"family":"inet","local":"10.8.0.6","prefixlen":24}]},
        {"ifindex":6,"ifname":"ppp0","addr_info":[{"family":"inet","local":"172.20.3.4","prefixlen":32}]},
        {"ifindex":7,"ifname":"wlan0","addr_info":[{"family":"inet","local":"192.168.2.7","prefixlen":24}]}])";

    QStringList lines, fields;
    for (const IpRoute &route : ParseIpRoutes(routes, addresses)) {
        lines << IpRouteLine(route);
        fields << RouteTable::Fields(lines.last()).join(QLatin1Char('|'));
    }
    QCOMPARE(fields, (QStringList{
                         "0.0.0.0|128.0.0.0|10.8.0.5|10.8.0.6|0",
                         "0.0.0.0|0.0.0.0|192.168.1.1|192.168.1.20|100",
                         "0.0.0.0|0.0.0.0|On-link|172.20.3.4|0",
                         "0.0.0.0|0.0.0.0|192.168.2.1|192.168.2.7|600",
                         "0.0.0.0|0.0.0.0|192.168.3.1|0.0.0.0|600",
                         "10.8.0.1|255.255.255.255|10.8.0.5|10.8.0.6|0",
                         "192.168.1.0|255.255.255.0|On-link|192.168.1.20|0",
                     }));
    // The same rules as on Windows: the tunnel's half-default is passed over.
    QCOMPARE(RouteTable::FindDefaultRoute(lines), 1);
    QCOMPARE(RouteTable::FindDefaultRouteVia(lines, QStringLiteral("192.168.3.1")), 4);
}

QTEST_GUILESS_MAIN(tst_RouteTable)
#include "tst_routetable.moc"
