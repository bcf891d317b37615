#include "service/firewallblock_unix.h"

#include "service/toolrunner.h"

const char *const KillSwitchTable = "inet tovra_killswitch";

QString nftBlockScript(const BlockRules &rules)
{
    const QString table = QString::fromLatin1(KillSwitchTable);
    // Before the DNS filters and other filter chains; a drop in any chain of the hook is final.
    QString output = QStringLiteral("    chain output {\n"
                                    "        type filter hook output priority -10; policy drop;\n"
                                    "        oifname \"lo\" accept\n");
    QString forward = QStringLiteral("    chain forward {\n"
                                     "        type filter hook forward priority -10; policy drop;\n");
    if (!rules.tunnelDevice.isEmpty()) {
        // By name: a tunnel device made anew on reconnect is matched again.
        const QString tunnel = QStringLiteral("        oifname \"%1\" accept\n").arg(rules.tunnelDevice);
        output += tunnel;
        forward += tunnel;
    }
    if (rules.allowIpsec) {
        output += QStringLiteral("        rt ipsec exists accept\n");
        forward += QStringLiteral("        rt ipsec exists accept\n");
    }
    if (rules.server.isSet()) {
        const bool ipv6 = rules.server.address.protocol() == QAbstractSocket::IPv6Protocol;
        QStringList ports;
        for (const quint16 port : rules.server.ports())
            ports << QString::number(port);
        const QString set =
            ports.size() == 1 ? ports.first() : QStringLiteral("{ %1 }").arg(ports.join(QStringLiteral(", ")));
        output += QStringLiteral("        %1 daddr %2 %3 dport %4 accept\n")
                      .arg(ipv6 ? QStringLiteral("ip6") : QStringLiteral("ip"), rules.server.address.toString(),
                           rules.server.protocol, set);
    }
    // What keeps the uplink itself: DHCP, DHCPv6 and IPv6 neighbour discovery.
    output += QStringLiteral("        udp sport 68 udp dport 67 accept\n"
                             "        udp sport 546 udp dport 547 accept\n"
                             "        icmpv6 type { nd-router-solicit, nd-neighbor-solicit, nd-neighbor-advert, "
                             "mld2-listener-report } accept\n"
                             "        counter drop comment \"kill switch\"\n"
                             "    }\n");
    forward += QStringLiteral("        counter drop comment \"kill switch\"\n"
                              "    }\n");
    return QStringLiteral("add table %1\ndelete table %1\ntable %1 {\n").arg(table) + output + forward +
           QStringLiteral("}\n");
}

namespace {

// nftables: one table of the service's own in the kernel, loaded and removed atomically with "nft -f -".
class NftFirewallBlock : public FirewallBlock
{
public:
    explicit NftFirewallBlock(ToolRunner &runner) : m_runner(runner) {}

    bool apply(const BlockRules &rules) override { return nft(nftBlockScript(rules)); }

    bool remove() override
    {
        // Written so that a table already gone is not an error.
        const QString table = QString::fromLatin1(KillSwitchTable);
        return nft(QStringLiteral("add table %1\ndelete table %1\n").arg(table));
    }

    Status status() override
    {
        if (m_runner.findTool(QStringLiteral("nft")).isEmpty()) {
            m_lastError = QStringLiteral("nft not found");
            return Status::Unknown;
        }
        const ToolRun run =
            m_runner.run(QStringLiteral("nft"), QStringList{QStringLiteral("list"), QStringLiteral("table")} +
                                                    QString::fromLatin1(KillSwitchTable).split(QLatin1Char(' ')));
        if (run.succeeded())
            return Status::Blocking;
        // nft reports a missing table as "No such file or directory"; anything else is not an answer.
        if (run.started && !run.timedOut && run.errorOutput.contains("No such file or directory"))
            return Status::Open;
        m_lastError = QStringLiteral("nft failed: ") + ToolText(run.errorOutput).trimmed();
        return Status::Unknown;
    }

private:
    bool nft(const QString &script)
    {
        if (m_runner.findTool(QStringLiteral("nft")).isEmpty()) {
            m_lastError = QStringLiteral("nft not found");
            ToolLog(QStringLiteral("nft not found: the kill switch firewall block cannot be changed"));
            return false;
        }
        const ToolRun run =
            m_runner.run(QStringLiteral("nft"), {QStringLiteral("-f"), QStringLiteral("-")}, script.toUtf8());
        if (run.succeeded())
            return true;
        m_lastError = QStringLiteral("nft failed: ") + ToolText(run.errorOutput).trimmed();
        ToolLog(m_lastError);
        return false;
    }

    ToolRunner &m_runner;
};

} // namespace

std::unique_ptr<FirewallBlock> CreateSystemFirewallBlock(ToolRunner &runner)
{
    return std::make_unique<NftFirewallBlock>(runner);
}
