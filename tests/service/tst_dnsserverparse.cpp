#include <QtTest>

#include "service/dnsserverparse.h"
#include "service/toolrunner.h"

Q_DECLARE_METATYPE(VpnDnsLookup::Outcome)

namespace {

const char IpconfigHead[] = "\r\n"
                            "Windows IP Configuration\r\n"
                            "\r\n"
                            "   Host Name . . . . . . . . . . . . : DESKTOP-7QK2\r\n"
                            "   Primary Dns Suffix  . . . . . . . : \r\n"
                            "   Node Type . . . . . . . . . . . . : Hybrid\r\n"
                            "   IP Routing Enabled. . . . . . . . : No\r\n"
                            "\r\n"
                            "Ethernet adapter Ethernet:\r\n"
                            "\r\n"
                            "   Connection-specific DNS Suffix  . : fritz.box\r\n"
                            "   Description . . . . . . . . . . . : Intel(R) Ethernet Connection I219-LM\r\n"
                            "   IPv4 Address. . . . . . . . . . . : 192.168.1.20(Preferred)\r\n"
                            "   DNS Servers . . . . . . . . . . . : 192.168.1.1\r\n"
                            "\r\n";

QString Ipconfig(const QByteArray &tail)
{
    return ToolText(QByteArray(IpconfigHead) + tail);
}

} // namespace

class tst_DnsServerParse : public QObject
{
    Q_OBJECT

private slots:
    void lookup_data();
    void lookup();
};

void tst_DnsServerParse::lookup_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QString>("output");
    QTest::addColumn<VpnDnsLookup::Outcome>("outcome");
    QTest::addColumn<QString>("address");

    QTest::newRow("ipconfig: PPP adapter, second server on continuation line")
        << "ipconfig"
        << Ipconfig("PPP adapter TOVRAVPN:\r\n"
                    "\r\n"
                    "   Connection-specific DNS Suffix  . : \r\n"
                    "   Description . . . . . . . . . . . : TOVRAVPN\r\n"
                    "   IPv4 Address. . . . . . . . . . . : 10.8.0.6(Preferred)\r\n"
                    "   DNS Servers . . . . . . . . . . . : 10.8.0.1\r\n"
                    "                                       10.8.0.2\r\n"
                    "   NetBIOS over Tcpip. . . . . . . . : Disabled\r\n")
        << VpnDnsLookup::Found << "10.8.0.1";
    QTest::newRow("ipconfig: suffix line names a domain and is passed over")
        << "ipconfig"
        << Ipconfig("Unknown adapter TOVRAVPN:\r\n"
                    "\r\n"
                    "   Connection-specific DNS Suffix  . : vpn.tovra.test\r\n"
                    "   DNS Servers . . . . . . . . . . . : 10.9.0.1\r\n")
        << VpnDnsLookup::Found << "10.9.0.1";
    // The IPv6 line splits at its colons and the continuation line has none: nothing qualifies.
    QTest::newRow("ipconfig: IPv6 server line, IPv4 only on continuation line")
        << "ipconfig"
        << Ipconfig("PPP adapter TOVRAVPN:\r\n"
                    "\r\n"
                    "   DNS Servers . . . . . . . . . . . : fd00::53\r\n"
                    "                                       10.8.0.1\r\n"
                    "   Primary WINS Server . . . . . . . : 10.8.0.1\r\n")
        << VpnDnsLookup::DnsNotFound << QString();
    QTest::newRow("ipconfig: adapter without DNS servers")
        << "ipconfig"
        << Ipconfig("PPP adapter TOVRAVPN:\r\n"
                    "\r\n"
                    "   Connection-specific DNS Suffix  . : \r\n"
                    "   IPv4 Address. . . . . . . . . . . : 10.8.0.6(Preferred)\r\n"
                    "\r\n"
                    "Wireless LAN adapter Wi-Fi:\r\n"
                    "\r\n"
                    "   DNS Servers . . . . . . . . . . . : 192.168.0.1\r\n")
        << VpnDnsLookup::DnsNotFound << QString();
    QTest::newRow("ipconfig: adapter name in other letter case")
        << "ipconfig"
        << Ipconfig("PPP adapter TovraVPN:\r\n"
                    "\r\n"
                    "   DNS Servers . . . . . . . . . . . : 10.8.0.1\r\n")
        << VpnDnsLookup::AdapterNotFound << QString();
    QTest::newRow("ipconfig: no output") << "ipconfig" << QString() << VpnDnsLookup::AdapterNotFound << QString();

    const QString resolvectl = QStringLiteral("Global: 1.1.1.1\n"
                                              "Link 2 (eth0): 192.168.1.1 fe80::1%2\n"
                                              "Link 7 (TOVRAVPN): fd00::53 10.8.0.1#dns.tovra.test 10.8.0.2\n");
    QTest::newRow("resolvectl: first IPv4 server of the link")
        << "resolvectl" << resolvectl << VpnDnsLookup::Found << "10.8.0.1";
    QTest::newRow("resolvectl: server with port") << "resolvectl"
                                                  << "Link 9 (TOVRAVPN): 10.8.0.1:5353\n"
                                                  << VpnDnsLookup::Found << "10.8.0.1";
    QTest::newRow("resolvectl: link without servers") << "resolvectl"
                                                      << "Global:\nLink 7 (TOVRAVPN):\n"
                                                      << VpnDnsLookup::DnsNotFound << QString();
    QTest::newRow("resolvectl: other letter case") << "resolvectl"
                                                   << "Link 7 (tovravpn): 10.8.0.1\n"
                                                   << VpnDnsLookup::AdapterNotFound << QString();

    const QString nmcli = QStringLiteral("GENERAL.DEVICE:eth0\n"
                                         "GENERAL.CONNECTION:Wired connection 1\n"
                                         "IP4.DNS[1]:192.168.1.1\n"
                                         "\n"
                                         "GENERAL.DEVICE:tun0\n"
                                         "GENERAL.CONNECTION:TOVRAVPN\n"
                                         "IP4.DNS[1]:10.8.0.1\n"
                                         "IP4.DNS[2]:10.8.0.2\n"
                                         "\n"
                                         "GENERAL.DEVICE:lo\n"
                                         "GENERAL.CONNECTION:lo\n");
    QTest::newRow("nmcli: connection named TOVRAVPN") << "nmcli" << nmcli << VpnDnsLookup::Found << "10.8.0.1";
    QTest::newRow("nmcli: device named TOVRAVPN")
        << "nmcli"
        << "GENERAL.DEVICE:TOVRAVPN\nGENERAL.CONNECTION:\nIP4.DNS[1]:10.7.0.1\n"
        << VpnDnsLookup::Found << "10.7.0.1";
    QTest::newRow("nmcli: no DNS on the VPN, the next device's does not count")
        << "nmcli"
        << "GENERAL.DEVICE:tun0\nGENERAL.CONNECTION:TOVRAVPN\n\nGENERAL.DEVICE:eth0\nGENERAL.CONNECTION:w\n"
           "IP4.DNS[1]:192.168.1.1\n"
        << VpnDnsLookup::DnsNotFound << QString();
    QTest::newRow("nmcli: no VPN") << "nmcli"
                                   << "GENERAL.DEVICE:eth0\nIP4.DNS[1]:192.168.1.1\n"
                                   << VpnDnsLookup::AdapterNotFound << QString();
}

void tst_DnsServerParse::lookup()
{
    QFETCH(QString, tool);
    QFETCH(QString, output);
    QFETCH(VpnDnsLookup::Outcome, outcome);
    QFETCH(QString, address);
    const QStringList lines = ToolLines(output);
    const VpnDnsLookup lookup = tool == QLatin1String("nmcli")        ? ParseNmcliDns(lines)
                                : tool == QLatin1String("resolvectl") ? ParseResolvectlDns(lines)
                                                                      : ParseIpconfigDns(lines);
    QCOMPARE(lookup.outcome, outcome);
    QCOMPARE(lookup.address.toString(), address);
}

QTEST_GUILESS_MAIN(tst_DnsServerParse)
#include "tst_dnsserverparse.moc"
