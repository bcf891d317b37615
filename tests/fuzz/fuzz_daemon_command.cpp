// The helper's command reader as the daemon runs it: the bytes a local process sends arrive on a connected
// socket handed to the listener, which reads and answers them over stand-in route and filter backends.
#include "fuzz/fuzzsupport.h"

#include "service/tcpdaemon.h"

#include <QTcpSocket>

#include <sys/socket.h>
#include <unistd.h>

namespace {

class TableRoutes : public RouteTool
{
public:
    QStringList table{QStringLiteral("0.0.0.0 0.0.0.0 192.168.1.1 192.168.1.20 25"),
                      QStringLiteral("192.168.1.0 255.255.255.0 On-link 192.168.1.20 281")};
    bool readRouteTable(QStringList *lines) override
    {
        *lines = table;
        return true;
    }
    bool deleteDefaultRoute(const QString &gateway) override
    {
        return table.removeAll(QStringLiteral("0.0.0.0 0.0.0.0 ") + gateway + QStringLiteral(" 192.168.1.20 25")) > 0;
    }
    bool addDefaultRoute(const QString &gateway) override
    {
        table.prepend(QStringLiteral("0.0.0.0 0.0.0.0 ") + gateway + QStringLiteral(" 192.168.1.20 25"));
        return true;
    }
    QStringList ipv6{QStringLiteral("default via fe80::1 dev eth0")};
    bool readIpv6DefaultRoutes(QStringList *routes) override
    {
        *routes = ipv6;
        return true;
    }
    bool deleteIpv6DefaultRoute(const QString &route) override { return ipv6.removeAll(route) > 0; }
    bool addIpv6DefaultRoute(const QString &route) override
    {
        ipv6.append(route);
        return true;
    }
};

class AcceptingFilters : public FilterEngine
{
public:
    quint32 openSession(bool, Handle *handle) override
    {
        *handle = 1;
        return 0;
    }
    quint32 closeSession(Handle) override { return 0; }
    bool hasSublayer(Handle, const QUuid &) override { return false; }
    quint32 addSublayer(Handle, const SublayerSpec &) override { return 0; }
    quint32 addFilter(Handle, const FilterSpec &) override { return 0; }
    quint32 commitSession(Handle) override { return 0; }
    VpnDnsLookup findVpnDnsServer() override
    {
        VpnDnsLookup lookup;
        lookup.outcome = VpnDnsLookup::Found;
        lookup.address = QHostAddress(QStringLiteral("10.8.0.1"));
        return lookup;
    }
    void removeLeftovers() override {}
};

class Daemon : public TcpDaemon
{
public:
    Daemon() : TcpDaemon(std::make_unique<TableRoutes>(), std::make_unique<AcceptingFilters>()) {}
    using TcpDaemon::incomingConnection;

protected:
    // The socket pair is in no TCP table: its caller is root, so the commands themselves run.
    SocketOwner::Caller callerOf(const QAbstractSocket &) const override
    {
        SocketOwner::Caller root;
        root.id = 0;
        root.permitted = true;
        root.name = QStringLiteral("uid 0");
        return root;
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::init<QCoreApplication>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size > 65536)
        return 0;
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0)
        std::abort();
    if (write(ends[1], data, size) != static_cast<ssize_t>(size))
        std::abort();
    // A daemon per input: what one input leaves in it must not shape the next one's run.
    Daemon daemon;
    daemon.incomingConnection(ends[0]);
    auto *socket = daemon.findChild<QTcpSocket *>();
    if (!socket)
        std::abort();
    socket->waitForReadyRead(1000);
    // The reply leaves the socket's buffer on the event loop's next turn.
    if (socket->bytesToWrite() > 0)
        socket->waitForBytesWritten(1000);

    // Whatever is answered is one reply line of the service.
    char reply[4096];
    const ssize_t got = recv(ends[1], reply, sizeof reply, MSG_DONTWAIT);
    if (got > 0 && (got < 4 || memcmp(reply, "SRV ", 4) != 0))
        std::abort();
    // A plain command line is always answered.
    static const QList<QByteArray> commands{"INFO\n", "DELETE\n", "RESTORE\n", "ADD_DNS_FILTERS\n",
                                            "REMOVE_DNS_FILTERS\n"};
    if (got <= 0 && commands.contains(Fuzz::bytes(data, size)))
        std::abort();
    close(ends[1]);
    delete socket;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
