// The VPN connection's DNS server in the output of `ipconfig /all`, `resolvectl dns` and `nmcli`, through
// the service's line splitting as the filter backends run it.
#include "fuzz/fuzzsupport.h"

#include "service/dnsserverparse.h"
#include "service/toolrunner.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::init<QCoreApplication>();
    return 0;
}

// A server is reported found exactly when it has an address (IPv4, or IPv6 where the reader takes it).
static void check(const VpnDnsLookup &lookup, bool ipv6Allowed)
{
    const auto protocol = lookup.address.protocol();
    const bool usable =
        protocol == QAbstractSocket::IPv4Protocol || (ipv6Allowed && protocol == QAbstractSocket::IPv6Protocol);
    if ((lookup.outcome == VpnDnsLookup::Found) != usable)
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QStringList lines = ToolLines(ToolText(Fuzz::bytes(data, size)));
    check(ParseIpconfigDns(lines), false);
    check(parseResolvectlDns(lines), true);
    check(parseNmcliDns(lines), true);
    return 0;
}
