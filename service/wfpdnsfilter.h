#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QUuid>

#include "service/filterengine.h"

// While the tunnel is up, lets DNS traffic (TCP and UDP port 53) reach only the VPN's DNS server:
// two permit filters for that server and two block filters of lower weight for every other address,
// owned by one dynamic session of the filter engine.
class WfpDnsFilter
{
public:
    static const QUuid SublayerKey;
    static constexpr quint32 DnsLookupFailure = 8524;    // ERROR_DS_DNS_LOOKUP_FAILURE
    static constexpr quint32 AlreadyExists = 0x80320009; // FWP_E_ALREADY_EXISTS

    explicit WfpDnsFilter(FilterEngine &engine);
    ~WfpDnsFilter();
    WfpDnsFilter(const WfpDnsFilter &) = delete;
    WfpDnsFilter &operator=(const WfpDnsFilter &) = delete;

    // 0 when the four filters are in force; otherwise none is and lastError tells why.
    quint32 addFilters();
    // Closes the session that owns the filters; 0 when none was open.
    quint32 removeFilters();
    // The VPN DNS server as a host-order IPv4 number, 0 when not found (or when it is an IPv6 server).
    quint32 findVpnDnsAddress();
    quint32 addSublayer(const QUuid &key);

    bool filtersInForce() const { return engineHandle != 0; }
    // Sessions whose close failed are kept and closed again here (service stop); the last failing result or 0.
    bool hasFailedRemovals() const { return !m_failedCloses.isEmpty(); }
    quint32 retryFailedRemovals();
    // The filters for the DNS servers, in the order they are added: two permits per server, then the two
    // blocks (four for one server).
    static QList<FilterSpec> filterSpecs(const QList<QHostAddress> &dnsServers);
    // The servers the tunnel pushed, admitted by the next addFilters() instead of looking the VPN adapter
    // up; empty: looked up.
    void setVpnDnsServers(const QList<QHostAddress> &servers) { m_vpnDnsServers = servers; }

    QHostAddress vpnDnsAddress;
    QString lastError;

private:
    void closeSession();
    // Looks the VPN DNS server up into vpnDnsAddress; false with lastError set when not found.
    bool lookUpVpnDns();

    FilterEngine &m_engine;
    FilterEngine::Handle engineHandle = 0;
    QList<FilterEngine::Handle> m_failedCloses;
    QList<QHostAddress> m_vpnDnsServers;
};
