#include <QtTest>

#include "fakebackends.h"
#include "service/tcpdaemon.h"

#include <QTcpSocket>

// The daemon in this process on a free loopback port, over stand-in backends that fail where a real
// system seldom does; the service binary covers the rest.
class tst_TcpDaemon : public QObject
{
    Q_OBJECT

private slots:
    void failureReplies();
};

void tst_TcpDaemon::failureReplies()
{
    auto routeTool = std::make_unique<FakeRouteTool>();
    auto filterEngine = std::make_unique<FakeFilterEngine>();
    FakeRouteTool &routes = *routeTool;
    FakeFilterEngine &filters = *filterEngine;
    TcpDaemon daemon(std::move(routeTool), std::move(filterEngine));
    QSignalSpy log(&daemon, &TcpDaemon::serviceLog);
    QVERIFY(daemon.listen(QHostAddress::LocalHost, 0));
    // Sends bytes on a new connection and returns the answer (no line end: whatever the first chunk brings).
    const auto command = [&daemon](const QByteArray &bytes) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, daemon.serverPort());
        if (!socket.waitForConnected(5000))
            return QByteArray("not connected");
        socket.write(bytes);
        return QTest::qWaitFor([&] { return socket.bytesAvailable() > 0; }, 5000) ? socket.readAll() : QByteArray();
    };

    // A route that survives its deletion: RESTORE then adds nothing and names the line it stands on.
    const QString wired = QStringLiteral("          0.0.0.0          0.0.0.0      192.168.1.1     192.168.1.20     25");
    routes.lines = QStringList{
        QStringLiteral("          0.0.0.0          0.0.0.0         10.8.0.5         10.8.0.6     35"), wired};
    QCOMPARE(command("DELETE\n"), QByteArray("SRV ERROR DELETE: Default gateway (192.168.1.1) exists after removing"));
    QCOMPARE(command("RESTORE\n"),
             "SRV ERROR RESTORE: Default gateway already exists - 192.168.1.1 (Full entry: " + wired.toLatin1() + ")");
    routes.calls.removeAll(QStringLiteral("print"));
    QCOMPARE(routes.calls, QStringList{"delete 192.168.1.1"});

    // Filter errors carry the filter's own text.
    filters.lookup.outcome = VpnDnsLookup::DnsNotFound;
    QCOMPARE(command("ADD_DNS_FILTERS\n"),
             QByteArray("SRV ERROR DNS ADD: TOVRAVPN DNS information not found in ipconfig results"));
    filters.lookup.outcome = VpnDnsLookup::Found;
    QCOMPARE(command("ADD_DNS_FILTERS\n"), QByteArray("SRV SUCCESS DNS ADD: Wfp filters added"));
    QCOMPARE(filters.filtersInForce(), 4);
    filters.results.insert(QStringLiteral("close"), 13);
    QCOMPARE(command("REMOVE_DNS_FILTERS\n"), QByteArray("SRV ERROR DNS REMOVE: EngineClosed with result: 13"));
    QCOMPARE(log.count(), 5);
    QCOMPARE(log.first().first().toString(), QStringLiteral("New Connection"));

    // On stop the filters in force go; on start those of a crashed run.
    QCOMPARE(command("ADD_DNS_FILTERS\n"), QByteArray("SRV SUCCESS DNS ADD: Wfp filters added"));
    daemon.removeFilters();
    QCOMPARE(filters.filtersInForce(), 0);
    daemon.removeLeftoverFilters();
    QCOMPARE(filters.calls.last(), QStringLiteral("leftovers"));
}

QTEST_GUILESS_MAIN(tst_TcpDaemon)
#include "tst_tcpdaemon.moc"
