#include "service/filterengine.h"

#include "service/dnsserverparse.h"
#include "service/toolrunner.h"

#include <QHash>
#include <QHostAddress>

#include <algorithm>

namespace {

const quint32 ToolMissing = 2;     // ERROR_FILE_NOT_FOUND
const quint32 ToolTimedOut = 1460; // ERROR_TIMEOUT
const quint32 InvalidFilter = 87;  // ERROR_INVALID_PARAMETER
const quint32 InvalidSession = 6;  // ERROR_INVALID_HANDLE

const QLatin1String Table("inet tovravpn");
const QLatin1String Chain("dns");

// nftables: the sublayer is the table "inet tovravpn" (IPv4 and IPv6 alike), the filters of a dynamic
// session are its chain "dns" on the output hook. A session's filters are applied in one nft transaction:
// loopback addresses first (local stub resolvers), then permits (higher weight), then blocks.
class NftFilterEngine : public FilterEngine
{
public:
    explicit NftFilterEngine(ToolRunner &runner) : m_runner(runner) {}

    quint32 openSession(bool dynamic, Handle *handle) override
    {
        *handle = 0;
        if (m_runner.findTool(QStringLiteral("nft")).isEmpty()) {
            ToolLog(QStringLiteral("nft not found: DNS filters cannot be set"));
            return ToolMissing;
        }
        Session session;
        session.dynamic = dynamic;
        *handle = ++m_lastHandle;
        m_sessions.insert(*handle, session);
        return 0;
    }

    quint32 closeSession(Handle handle) override
    {
        if (!m_sessions.contains(handle))
            return InvalidSession;
        const Session session = m_sessions.value(handle);
        if (session.dynamic && session.committed) {
            // Written so that a chain already gone is not an error. A session that fails to close stays open.
            const quint32 result =
                nft(QStringLiteral("add table %1\nadd chain %1 %2\ndelete chain %1 %2\n").arg(Table, Chain));
            if (result != 0)
                return result;
        }
        m_sessions.remove(handle);
        return 0;
    }

    bool hasSublayer(Handle, const QUuid &) override
    {
        return m_runner
            .run(QStringLiteral("nft"),
                 {QStringLiteral("list"), QStringLiteral("table"), QStringLiteral("inet"), QStringLiteral("tovravpn")})
            .succeeded();
    }

    quint32 addSublayer(Handle handle, const SublayerSpec &spec) override
    {
        if (!m_sessions.contains(handle))
            return InvalidSession;
        return nft(QStringLiteral("add table %1 { comment \"%2\" ; }\n").arg(Table, quoted(spec.name)));
    }

    quint32 addFilter(Handle handle, const FilterSpec &spec) override
    {
        auto session = m_sessions.find(handle);
        if (session == m_sessions.end())
            return InvalidSession;
        if (spec.protocol != 6 && spec.protocol != 17) {
            ToolLog(QStringLiteral("Unsupported filter protocol: %1").arg(spec.protocol));
            return InvalidFilter;
        }
        session->filters.append(spec);
        return 0;
    }

    quint32 commitSession(Handle handle) override
    {
        auto session = m_sessions.find(handle);
        if (session == m_sessions.end())
            return InvalidSession;
        QList<FilterSpec> filters = session->filters;
        std::stable_sort(filters.begin(), filters.end(),
                         [](const FilterSpec &a, const FilterSpec &b) { return a.weight > b.weight; });
        QString script = QStringLiteral("add table %1\n"
                                        "add chain %1 %2 { type filter hook output priority 0 ; policy accept ; }\n"
                                        "flush chain %1 %2\n"
                                        "add rule %1 %2 ip daddr 127.0.0.0/8 accept comment \"loopback\"\n"
                                        "add rule %1 %2 ip6 daddr ::1 accept comment \"loopback\"\n")
                             .arg(Table, Chain);
        for (const FilterSpec &filter : qAsConst(filters))
            script += QStringLiteral("add rule %1 %2 %3\n").arg(Table, Chain, rule(filter));
        const quint32 result = nft(script);
        if (result == 0 && session->dynamic)
            session->committed = true;
        return result;
    }

    VpnDnsLookup findVpnDnsServer() override
    {
        const bool haveResolvectl = !m_runner.findTool(QStringLiteral("resolvectl")).isEmpty();
        const bool haveNmcli = !m_runner.findTool(QStringLiteral("nmcli")).isEmpty();
        if (!haveResolvectl && !haveNmcli) {
            ToolLog(QStringLiteral("Neither resolvectl nor nmcli found: the VPN DNS server cannot be looked up"));
            return VpnDnsLookup();
        }
        VpnDnsLookup lookup;
        if (haveResolvectl) {
            const ToolRun run = m_runner.run(QStringLiteral("resolvectl"), {QStringLiteral("dns")});
            lookup = parseResolvectlDns(ToolLines(ToolText(run.output)));
        }
        if (lookup.outcome == VpnDnsLookup::AdapterNotFound && haveNmcli) {
            const ToolRun run = m_runner.run(QStringLiteral("nmcli"),
                                             {QStringLiteral("-t"), QStringLiteral("-f"),
                                              QStringLiteral("GENERAL.DEVICE,GENERAL.CONNECTION,IP4.DNS,IP6.DNS"),
                                              QStringLiteral("device"), QStringLiteral("show")});
            lookup = parseNmcliDns(ToolLines(ToolText(run.output)));
        }
        return lookup;
    }

    void removeLeftovers() override
    {
        if (m_runner.findTool(QStringLiteral("nft")).isEmpty())
            return;
        // Earlier versions kept the chain in an "ip" table.
        for (const QString &table : {QString(Table), QStringLiteral("ip tovravpn")}) {
            const ToolRun chain =
                m_runner.run(QStringLiteral("nft"), QStringList{QStringLiteral("list"), QStringLiteral("chain")} +
                                                        table.split(QLatin1Char(' ')) + QStringList{Chain});
            if (chain.succeeded() && nft(QStringLiteral("delete chain %1 %2\n").arg(table, Chain)) == 0)
                ToolLog(QStringLiteral("Removed DNS filters left by an earlier run"));
        }
    }

private:
    struct Session
    {
        bool dynamic = false;
        bool committed = false;
        QList<FilterSpec> filters;
    };

    static QString quoted(QString text) { return text.remove(QLatin1Char('"')).remove(QLatin1Char('\n')); }

    static QString rule(const FilterSpec &filter)
    {
        const bool tcp = filter.protocol == 6;
        QString text;
        if (filter.matchRemoteAddress) {
            const bool ipv6 = filter.remoteHost.protocol() == QAbstractSocket::IPv6Protocol;
            const QHostAddress address = ipv6 ? filter.remoteHost : QHostAddress(filter.remoteAddress);
            text += (ipv6 ? QStringLiteral("ip6 daddr ") : QStringLiteral("ip daddr ")) + address.toString() +
                    QLatin1Char(' ');
        }
        text += QStringLiteral("%1 dport %2 ")
                    .arg(tcp ? QStringLiteral("tcp") : QStringLiteral("udp"))
                    .arg(filter.remotePort);
        // A blocked TCP connect is refused at once; a blocked UDP send fails with "operation not permitted".
        if (filter.permit)
            text += QStringLiteral("accept");
        else
            text += tcp ? QStringLiteral("reject with tcp reset") : QStringLiteral("drop");
        text += QStringLiteral(" comment \"%1\"").arg(quoted(filter.name));
        return text;
    }

    quint32 nft(const QString &script)
    {
        const ToolRun run =
            m_runner.run(QStringLiteral("nft"), {QStringLiteral("-f"), QStringLiteral("-")}, script.toUtf8());
        if (run.succeeded())
            return 0;
        ToolLog(QStringLiteral("nft failed: ") + ToolText(run.errorOutput).trimmed());
        if (!run.started)
            return ToolMissing;
        if (run.timedOut)
            return ToolTimedOut;
        return run.exitCode > 0 ? quint32(run.exitCode) : 1;
    }

    ToolRunner &m_runner;
    QHash<Handle, Session> m_sessions;
    Handle m_lastHandle = 0;
};

} // namespace

std::unique_ptr<FilterEngine> CreateSystemFilterEngine(ToolRunner &runner)
{
    return std::make_unique<NftFilterEngine>(runner);
}
