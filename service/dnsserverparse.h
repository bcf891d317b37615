#pragma once

#include <QStringList>

#include "service/filterengine.h"

// The first DNS server of the VPN connection (the adapter, link or connection whose name holds
// "TOVRAVPN", case-sensitively) in the output lines of the system's network tools.

// Windows `ipconfig /all`: IPv4 servers only.
VpnDnsLookup ParseIpconfigDns(const QStringList &lines);
// systemd's `resolvectl dns`.
VpnDnsLookup parseResolvectlDns(const QStringList &lines);
// NetworkManager's `nmcli -t -f GENERAL.DEVICE,GENERAL.CONNECTION,IP4.DNS,IP6.DNS device show`.
VpnDnsLookup parseNmcliDns(const QStringList &lines);
