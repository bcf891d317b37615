#include "service/dnsserverparse.h"

#include <QRegularExpression>

namespace {

const QLatin1String VpnName("TOVRAVPN");

bool parseIpv4(const QString &text, QHostAddress *address)
{
    QHostAddress parsed;
    if (!parsed.setAddress(text.trimmed()) || parsed.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    *address = parsed;
    return true;
}

// An IPv4 or IPv6 address; an IPv6 one with a zone is not taken (a filter cannot name the zone).
bool parseAnyIp(const QString &text, QHostAddress *address)
{
    QHostAddress parsed;
    if (!parsed.setAddress(text.trimmed()) || !parsed.scopeId().isEmpty() ||
        (parsed.protocol() != QAbstractSocket::IPv4Protocol && parsed.protocol() != QAbstractSocket::IPv6Protocol))
        return false;
    *address = parsed;
    return true;
}

VpnDnsLookup found(const QHostAddress &address)
{
    VpnDnsLookup lookup;
    lookup.outcome = VpnDnsLookup::Found;
    lookup.address = address;
    return lookup;
}

VpnDnsLookup missing(VpnDnsLookup::Outcome outcome)
{
    VpnDnsLookup lookup;
    lookup.outcome = outcome;
    return lookup;
}

} // namespace

VpnDnsLookup ParseIpconfigDns(const QStringList &lines)
{
    int header = -1;
    for (int i = 0; i < lines.size() && header < 0; ++i) {
        if (lines.at(i).contains(VpnName))
            header = i;
    }
    if (header < 0)
        return missing(VpnDnsLookup::AdapterNotFound);

    int i = header + 1;
    if (i < lines.size() && lines.at(i).isEmpty())
        ++i;
    for (; i < lines.size() && !lines.at(i).isEmpty(); ++i) {
        // Continuation lines carry no colon and IPv6 lines split into more parts: neither qualifies.
        const QStringList parts = lines.at(i).split(QLatin1Char(':'), Qt::SkipEmptyParts);
        QHostAddress address;
        if (parts.size() == 2 && parts.at(0).contains(QLatin1String("DNS")) && parseIpv4(parts.at(1), &address))
            return found(address);
    }
    return missing(VpnDnsLookup::DnsNotFound);
}

VpnDnsLookup parseResolvectlDns(const QStringList &lines)
{
    // "Link 7 (TOVRAVPN): 10.8.0.1 10.8.0.2"
    static const QRegularExpression linkLine(QStringLiteral("^Link \\d+ \\(([^)]*)\\):(.*)$"));
    for (const QString &line : lines) {
        const QRegularExpressionMatch match = linkLine.match(line.trimmed());
        if (!match.hasMatch() || !match.captured(1).contains(VpnName))
            continue;
        const QStringList servers = match.captured(2).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (QString server : servers) {
            // A server may carry "#name", an IPv4 one ":port", an IPv6 one "[address]:port".
            server = server.section(QLatin1Char('#'), 0, 0);
            if (server.startsWith(QLatin1Char('[')))
                server = server.mid(1).section(QLatin1Char(']'), 0, 0);
            else if (server.count(QLatin1Char(':')) == 1)
                server = server.section(QLatin1Char(':'), 0, 0);
            QHostAddress address;
            if (parseAnyIp(server, &address))
                return found(address);
        }
        return missing(VpnDnsLookup::DnsNotFound);
    }
    return missing(VpnDnsLookup::AdapterNotFound);
}

VpnDnsLookup parseNmcliDns(const QStringList &lines)
{
    // Terse output: one "FIELD:value" per line, a block per device starting at GENERAL.DEVICE.
    bool inVpnBlock = false;
    bool seenVpn = false;
    for (const QString &line : lines) {
        const int colon = line.indexOf(QLatin1Char(':'));
        if (colon < 0)
            continue;
        const QString field = line.left(colon);
        // Terse output escapes the colons of a value.
        const QString value = line.mid(colon + 1).remove(QLatin1Char('\\'));
        if (field == QLatin1String("GENERAL.DEVICE")) {
            if (seenVpn)
                break;
            inVpnBlock = value.contains(VpnName);
        } else if (field == QLatin1String("GENERAL.CONNECTION")) {
            inVpnBlock = inVpnBlock || value.contains(VpnName);
        }
        if (!inVpnBlock)
            continue;
        seenVpn = true;
        QHostAddress address;
        if ((field.startsWith(QLatin1String("IP4.DNS")) || field.startsWith(QLatin1String("IP6.DNS"))) &&
            parseAnyIp(value, &address))
            return found(address);
    }
    return missing(seenVpn ? VpnDnsLookup::DnsNotFound : VpnDnsLookup::AdapterNotFound);
}
