#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

#include <memory>

class ToolRunner;

// The VPN server the block lets through: one address, for the tunnel's transport only.
struct GuardServer
{
    QHostAddress address;
    QString protocol; // "udp" or "tcp"
    quint16 port = 0;
    QString device; // the tunnel's interface, when the caller named it

    bool isSet() const { return !address.isNull(); }
    // The server ports let through: IKE on udp 500 floats to 4500 behind NAT, so both go together.
    QList<quint16> ports() const
    {
        return protocol == QLatin1String("udp") && port == 500 ? QList<quint16>{500, 4500} : QList<quint16>{port};
    }
    // "203.0.113.5 udp 1194 tun0" (the device only when set), the form of the command and the state file.
    QString toText() const;
    // Reads that form strictly: a literal IPv4 or IPv6 unicast address, udp or tcp, a port 1-65535 and an
    // optional device name; false for anything else.
    static bool fromWords(const QStringList &words, GuardServer *server);
};

// What the kill switch's firewall block lets out; everything else leaving or forwarded is dropped.
struct BlockRules
{
    QString tunnelDevice; // the tunnel's interface; empty: none yet
    GuardServer server;   // the VPN server; unset: none
    // Traffic the system's IPsec policy carries (IKEv2); no command sets it yet.
    bool allowIpsec = false;
};

// A packet filter block of the service's own that lives in the system, not in the service process: it
// stays in force when the service ends or is killed, until remove() takes it away by its name.
class FirewallBlock
{
public:
    enum class Status { Open, Blocking, Unknown };

    virtual ~FirewallBlock();

    // Puts the block in force with these rules, replacing an earlier one in one step; false (with
    // lastError()) when the block is not in force as asked.
    virtual bool apply(const BlockRules &rules) = 0;
    // Takes the block away, whoever set it up; true when none is left.
    virtual bool remove() = 0;
    // Whether the system holds the block now.
    virtual Status status() = 0;
    QString lastError() const { return m_lastError; }

protected:
    QString m_lastError;
};

// The backend of this platform, running its tools through runner.
std::unique_ptr<FirewallBlock> CreateSystemFirewallBlock(ToolRunner &runner);
