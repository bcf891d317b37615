#include "service/wfpdnsfilter.h"

#include "service/toolrunner.h"

const QUuid WfpDnsFilter::SublayerKey(QStringLiteral("{5AB776A8-E2E8-4024-B853-391A4168641E}"));

namespace {

const quint8 ProtocolTcp = 6;
const quint8 ProtocolUdp = 17;
const quint16 DnsPort = 53;

QString code(quint32 result)
{
    return QString::number(result);
}

} // namespace

WfpDnsFilter::WfpDnsFilter(FilterEngine &engine) : m_engine(engine) {}

WfpDnsFilter::~WfpDnsFilter()
{
    // The filters belong to this run only.
    closeSession();
}

QList<FilterSpec> WfpDnsFilter::filterSpecs(const QList<QHostAddress> &dnsServers)
{
    auto spec = [](const QHostAddress &dnsAddress, const char *name, quint8 weight, quint8 protocol, bool matchAddress,
                   bool permit) {
        FilterSpec filter;
        filter.sublayer = SublayerKey;
        filter.name = QString::fromLatin1(name);
        filter.weight = weight;
        filter.protocol = protocol;
        filter.matchRemoteAddress = matchAddress;
        if (matchAddress) {
            filter.remoteAddress = dnsAddress.toIPv4Address();
            filter.remoteHost = dnsAddress;
        }
        filter.remotePort = DnsPort;
        filter.permit = permit;
        return filter;
    };
    QList<FilterSpec> filters;
    for (const QHostAddress &server : dnsServers) {
        filters << spec(server, "TOVRAVPN WFP Filter - allow TCP DNS on VPN interface", 15, ProtocolTcp, true, true)
                << spec(server, "TOVRAVPN WFP Filter - allow UDP DNS on VPN interface", 15, ProtocolUdp, true, true);
    }
    filters << spec(QHostAddress(), "TOVRAVPN WFP Filter - block TCP DNS", 14, ProtocolTcp, false, false)
            << spec(QHostAddress(), "TOVRAVPN WFP Filter - block UDP DNS", 14, ProtocolUdp, false, false);
    return filters;
}

void WfpDnsFilter::closeSession()
{
    if (engineHandle != 0)
        m_engine.closeSession(engineHandle);
    engineHandle = 0;
}

quint32 WfpDnsFilter::addFilters()
{
    // Filters of an earlier ADD would otherwise stay in force with no way to remove them.
    if (engineHandle != 0) {
        ToolLog(QStringLiteral("Closing the earlier DNS filter session"));
        closeSession();
    }

    FilterEngine::Handle handle = 0;
    quint32 result = m_engine.openSession(true, &handle);
    engineHandle = handle;
    if (result != 0) {
        closeSession();
        lastError = QStringLiteral("Error while opening engine: %1").arg(code(result));
        return result;
    }

    if (!m_engine.hasSublayer(engineHandle, SublayerKey)) {
        result = addSublayer(SublayerKey);
        if (result != 0 && result != AlreadyExists) {
            closeSession();
            lastError =
                QStringLiteral("Failed to add persistent TOVRAVPN wfp sublayer with error: %1").arg(code(result));
            return result;
        }
    }

    QList<QHostAddress> servers = m_vpnDnsServers;
    if (servers.isEmpty()) {
        if (!lookUpVpnDns()) {
            closeSession();
            return DnsLookupFailure;
        }
        servers << vpnDnsAddress;
    }

    static const char *const failures[] = {
        "Failed to add 1st filter (Allow tcp dns on vpn interface) with error: %1",
        "Failed to add 2nd filter (Allow udp dns on vpn interface) with error: %1",
        "Failed to add 3rd filter (Block tcp dns) with error: %1",
        "Failed to add 4th filter (Block udp dns) with error: %1",
    };
    const QList<FilterSpec> filters = filterSpecs(servers);
    for (int k = 0; k < filters.size(); ++k) {
        result = m_engine.addFilter(engineHandle, filters.at(k));
        if (result != 0) {
            closeSession();
            // Named as the four filters of one server are: permits by protocol, then the blocks.
            const int kind = k >= filters.size() - 2 ? k - filters.size() + 4 : k % 2;
            lastError = QString::fromLatin1(failures[kind]).arg(code(result));
            return result;
        }
    }

    result = m_engine.commitSession(engineHandle);
    if (result != 0) {
        closeSession();
        lastError = QStringLiteral("Failed to apply filters with error: %1").arg(code(result));
        return result;
    }
    return 0;
}

quint32 WfpDnsFilter::removeFilters()
{
    const quint32 result = engineHandle != 0 ? m_engine.closeSession(engineHandle) : 0;
    lastError = QStringLiteral("EngineClosed with result: %1").arg(code(result));
    if (result != 0) {
        // The filters may still be in force: tried again at service stop.
        m_failedCloses << engineHandle;
        ToolLog(QStringLiteral("DNS filter removal failed, to be retried at service stop: ") + code(result));
    }
    engineHandle = 0;
    return result;
}

quint32 WfpDnsFilter::retryFailedRemovals()
{
    quint32 last = 0;
    const QList<FilterEngine::Handle> handles = m_failedCloses;
    m_failedCloses.clear();
    for (const FilterEngine::Handle handle : handles) {
        const quint32 result = m_engine.closeSession(handle);
        if (result != 0) {
            m_failedCloses << handle;
            last = result;
        }
    }
    return last;
}

quint32 WfpDnsFilter::findVpnDnsAddress()
{
    return lookUpVpnDns() ? vpnDnsAddress.toIPv4Address() : 0;
}

bool WfpDnsFilter::lookUpVpnDns()
{
    const VpnDnsLookup lookup = m_engine.findVpnDnsServer();
    switch (lookup.outcome) {
    case VpnDnsLookup::Found:
        vpnDnsAddress = lookup.address;
        return true;
    case VpnDnsLookup::AdapterNotFound:
        lastError = QStringLiteral("TOVRAVPN information not found in ipconfig results");
        break;
    case VpnDnsLookup::DnsNotFound:
        lastError = QStringLiteral("TOVRAVPN DNS information not found in ipconfig results");
        break;
    }
    return false;
}

quint32 WfpDnsFilter::addSublayer(const QUuid &key)
{
    FilterEngine::Handle session = 0;
    quint32 result = m_engine.openSession(false, &session);
    if (result != 0) {
        if (session != 0)
            m_engine.closeSession(session);
        return result;
    }
    SublayerSpec spec;
    spec.key = key;
    spec.name = QStringLiteral("TOVRAVPN WFP Filters");
    spec.description = spec.name;
    spec.weight = 0x100;
    result = m_engine.addSublayer(session, spec);
    // Closing this session leaves the sublayer registered.
    m_engine.closeSession(session);
    return result;
}
