#include <QtTest>

#include "fakebackends.h"
#include "service/tcpdaemon.h"

#include <QTcpSocket>

namespace {

const QString Wired = QStringLiteral("          0.0.0.0          0.0.0.0      192.168.1.1     192.168.1.20     25");
const QString Wireless = QStringLiteral("          0.0.0.0          0.0.0.0      192.168.0.1     192.168.0.14     50");
const QString Tunnel = QStringLiteral("          0.0.0.0          0.0.0.0         10.8.0.5         10.8.0.6     35");

} // namespace

// The daemon in this process on a free loopback port, over stand-in backends.
class tst_TcpDaemon : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void killSwitch_data();
    void killSwitch();
    void dnsFilters();

private:
    QByteArray command(const QByteArray &bytes);

    FakeRouteTool *m_routes = nullptr;
    FakeFilterEngine *m_filters = nullptr;
    std::unique_ptr<TcpDaemon> m_daemon;
    QStringList m_log;
};

void tst_TcpDaemon::init()
{
    auto routes = std::make_unique<FakeRouteTool>();
    auto filters = std::make_unique<FakeFilterEngine>();
    m_routes = routes.get();
    m_filters = filters.get();
    m_daemon = std::make_unique<TcpDaemon>(std::move(routes), std::move(filters));
    connect(m_daemon.get(), &TcpDaemon::serviceLog, this, [this](const QString &line) { m_log << line; });
    QVERIFY(m_daemon->listen(QHostAddress::LocalHost, 0));
    m_log.clear();
}

// Sends bytes on a new connection and returns the answer.
QByteArray tst_TcpDaemon::command(const QByteArray &bytes)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_daemon->serverPort());
    if (!socket.waitForConnected(5000))
        return "not connected";
    socket.write(bytes);
    // The reply has no line end: whatever the first chunk brings.
    return QTest::qWaitFor([&] { return socket.bytesAvailable() > 0; }, 5000) ? socket.readAll() : QByteArray();
}

void tst_TcpDaemon::killSwitch_data()
{
    QTest::addColumn<QStringList>("table");
    QTest::addColumn<bool>("deleteWorks");
    QTest::addColumn<QByteArrayList>("commands");
    QTest::addColumn<QByteArrayList>("replies");
    QTest::addColumn<QStringList>("changes"); // route tool calls other than print

    const QStringList table{QStringLiteral("IPv4 Route Table"), Tunnel, Wired, Wireless};
    const QByteArray restored(
        "SRV SUCCESS RESTORE: Default gateway restored - 192.168.1.1 (Full entry: " + Wired.toLatin1() + ")");
    QTest::newRow("DELETE, INFO, RESTORE, INFO")
        << table << true << QByteArrayList{"DELETE\n", "INFO\n", "RESTORE\n", "INFO\n"}
        << QByteArrayList{"SRV SUCCESS DELETE: Default gateway removed - 192.168.1.1",
                          "SRV ERROR INFO: Default gateway (192.168.1.1) not found", restored,
                          "SRV SUCCESS INFO: Default gateway exists - 192.168.1.1"}
        << QStringList{"delete 192.168.1.1", "add 192.168.1.1"};
    QTest::newRow("route survives the delete, RESTORE adds nothing")
        << QStringList{Wired} << false << QByteArrayList{"DELETE\n", "RESTORE\n"}
        << QByteArrayList{"SRV ERROR DELETE: Default gateway (192.168.1.1) exists after removing",
                          "SRV ERROR RESTORE: Default gateway already exists - 192.168.1.1 (Full entry: " +
                              Wired.toLatin1() + ")"}
        << QStringList{"delete 192.168.1.1"};
    QTest::newRow("RESTORE before any DELETE")
        << table << true << QByteArrayList{"RESTORE\n"}
        << QByteArrayList{"SRV ERROR RESTORE: Default gateway not found after restoring"} << QStringList{"add "};
}

void tst_TcpDaemon::killSwitch()
{
    QFETCH(QStringList, table);
    QFETCH(bool, deleteWorks);
    QFETCH(QByteArrayList, commands);
    QFETCH(QByteArrayList, replies);
    QFETCH(QStringList, changes);
    m_routes->lines = table;
    m_routes->deleteWorks = deleteWorks;
    for (int i = 0; i < commands.size(); ++i)
        QCOMPARE(command(commands.at(i)), replies.at(i));
    m_routes->calls.removeAll(QStringLiteral("print"));
    QCOMPARE(m_routes->calls, changes);
}

void tst_TcpDaemon::dnsFilters()
{
    m_filters->lookup.outcome = VpnDnsLookup::DnsNotFound;
    QCOMPARE(command("ADD_DNS_FILTERS\n"),
             QByteArray("SRV ERROR DNS ADD: TOVRAVPN DNS information not found in ipconfig results"));
    m_filters->lookup.outcome = VpnDnsLookup::Found;
    m_filters->lookup.address = QHostAddress(QStringLiteral("10.8.0.1"));
    QCOMPARE(command("ADD_DNS_FILTERS\n"), QByteArray("SRV SUCCESS DNS ADD: Wfp filters added"));
    QCOMPARE(m_filters->filtersInForce(), 4);
    m_filters->results.insert(QStringLiteral("close"), 13);
    QCOMPARE(command("REMOVE_DNS_FILTERS\n"), QByteArray("SRV ERROR DNS REMOVE: EngineClosed with result: 13"));
    QVERIFY(m_log.contains(QStringLiteral("New Connection")));

    // On stop the filters in force go; on start those of a crashed run.
    QCOMPARE(command("ADD_DNS_FILTERS\n"), QByteArray("SRV SUCCESS DNS ADD: Wfp filters added"));
    m_daemon->removeFilters();
    QCOMPARE(m_filters->filtersInForce(), 0);
    m_daemon->removeLeftoverFilters();
    QCOMPARE(m_filters->calls.last(), QStringLiteral("leftovers"));
}

QTEST_GUILESS_MAIN(tst_TcpDaemon)
#include "tst_tcpdaemon.moc"
