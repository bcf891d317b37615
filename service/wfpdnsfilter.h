#pragma once

#include <QHostAddress>
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
    // The VPN DNS server as a host-order IPv4 number, 0 when not found.
    quint32 findVpnDnsAddress();
    quint32 addSublayer(const QUuid &key);

    bool filtersInForce() const { return engineHandle != 0; }
    // The four filters for a DNS server, in the order they are added.
    static QList<FilterSpec> filterSpecs(quint32 dnsAddress);

    QHostAddress vpnDnsAddress;
    QString lastError;

private:
    void closeSession();

    FilterEngine &m_engine;
    FilterEngine::Handle engineHandle = 0;
};
