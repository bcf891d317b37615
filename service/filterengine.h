#pragma once

#include <QHostAddress>
#include <QString>
#include <QUuid>
#include <QtGlobal>

#include <memory>

class ToolRunner;

struct SublayerSpec
{
    QUuid key;
    QString name;
    QString description;
    quint16 weight = 0;
};

// One filter on outgoing connections: protocol, optional remote address, remote port. remoteAddress is the
// IPv4 address in host byte order (0 for an IPv6 one); remoteHost holds either.
struct FilterSpec
{
    QUuid sublayer;
    QString name;
    quint8 weight = 0;
    quint8 protocol = 0;
    bool matchRemoteAddress = false;
    quint32 remoteAddress = 0;
    QHostAddress remoteHost;
    quint16 remotePort = 0;
    bool permit = false;
};

// Where the VPN connection's DNS server was looked for, and what was found.
struct VpnDnsLookup
{
    enum Outcome { Found, AdapterNotFound, DnsNotFound };
    Outcome outcome = AdapterNotFound;
    QHostAddress address;
};

// The packet filter of the system. Results are 0 on success, otherwise an error code.
// A dynamic session owns what is added through it: its filters go when the session is closed.
class FilterEngine
{
public:
    using Handle = quintptr;

    virtual ~FilterEngine();

    // Opens a session; *handle may be set even on failure.
    virtual quint32 openSession(bool dynamic, Handle *handle) = 0;
    virtual quint32 closeSession(Handle session) = 0;
    virtual bool hasSublayer(Handle session, const QUuid &key) = 0;
    virtual quint32 addSublayer(Handle session, const SublayerSpec &spec) = 0;
    virtual quint32 addFilter(Handle session, const FilterSpec &spec) = 0;
    // Puts the filters added to the session in force where the system applies them in one step.
    virtual quint32 commitSession(Handle session) = 0;
    virtual VpnDnsLookup findVpnDnsServer() = 0;
    // Removes filters that an earlier run of the service left behind.
    virtual void removeLeftovers() = 0;
};

// The backend of this platform, running its tools through runner.
std::unique_ptr<FilterEngine> CreateSystemFilterEngine(ToolRunner &runner);
