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

static void check(const VpnDnsLookup &lookup)
{
    // A server is only reported found with an IPv4 address.
    if ((lookup.outcome == VpnDnsLookup::Found) != (lookup.address.protocol() == QAbstractSocket::IPv4Protocol))
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QStringList lines = ToolLines(ToolText(Fuzz::bytes(data, size)));
    check(ParseIpconfigDns(lines));
    check(parseResolvectlDns(lines));
    check(parseNmcliDns(lines));
    return 0;
}
