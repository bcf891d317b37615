#include <QtTest>

#include "service/tcpdaemon.h"
#include "support/foreignclient.h"
#include "support/process.h"

#include <QScopeGuard>
#include <QTcpSocket>
#include <numeric>

namespace {

// A route table whose default route stays whatever is done to it; changes are recorded and fail.
class FakeRouteTool : public RouteTool
{
public:
    QStringList lines;
    QStringList changes;

    bool readRouteTable(QStringList *table) override { return (*table = lines, true); }
    bool deleteDefaultRoute(const QString &gateway) override { return record("delete " + gateway); }
    bool addDefaultRoute(const QString &gateway) override { return record("add " + gateway); }
    bool readIpv6DefaultRoutes(QStringList *routes) override { return (routes->clear(), true); }
    bool deleteIpv6DefaultRoute(const QString &route) override { return record("delete6 " + route); }
    bool addIpv6DefaultRoute(const QString &route) override { return record("add6 " + route); }
    bool record(const QString &change) { return (changes << change, false); }
};

// A packet filter that keeps its sessions and the filters added through each; results are set per
// operation ("open", "openStatic", "sublayer", "filter3", "commit", "close"; 0 when not set).
class FakeFilterEngine : public FilterEngine
{
public:
    QHash<QString, quint32> results;
    bool sublayerPresent = false;
    int sublayerAdds = 0;
    VpnDnsLookup lookup{VpnDnsLookup::Found, QHostAddress(QStringLiteral("10.8.0.1"))};
    QHash<Handle, QList<FilterSpec>> open; // open sessions and the filters added through each
    Handle returnHandleOnFailure = 0;
    Handle lastHandle = 0;

    int filtersInForce() const
    {
        return std::accumulate(open.cbegin(), open.cend(), 0, [](int n, const auto &list) { return n + list.size(); });
    }

    quint32 openSession(bool dynamic, Handle *handle) override
    {
        const quint32 result = results.value(dynamic ? QStringLiteral("open") : QStringLiteral("openStatic"));
        *handle = result == 0 ? ++lastHandle : returnHandleOnFailure;
        if (*handle)
            open.insert(*handle, {});
        return result;
    }
    quint32 closeSession(Handle session) override
    {
        const quint32 result = results.value(QStringLiteral("close"));
        if (result == 0)
            open.remove(session);
        return result;
    }
    bool hasSublayer(Handle, const QUuid &key) override { return sublayerPresent && key == WfpDnsFilter::SublayerKey; }
    quint32 addSublayer(Handle session, const SublayerSpec &spec) override
    {
        ++sublayerAdds;
        const quint32 result = results.value(QStringLiteral("sublayer"));
        sublayerPresent = result == 0 && open.contains(session) && spec.key == WfpDnsFilter::SublayerKey &&
                          spec.name == QLatin1String("TOVRAVPN WFP Filters") && spec.weight == 256;
        return result;
    }
    quint32 addFilter(Handle session, const FilterSpec &spec) override
    {
        const quint32 result = results.value(QStringLiteral("filter%1").arg(++m_filterCalls));
        if (result == 0 && open.contains(session))
            open[session] << spec;
        return result;
    }
    quint32 commitSession(Handle) override { return results.value(QStringLiteral("commit")); }
    VpnDnsLookup findVpnDnsServer() override { return lookup; }
    void removeLeftovers() override {}

private:
    int m_filterCalls = 0;
};

} // namespace

// The DNS filters over a stand-in packet filter, and the daemon's replies where a real system seldom fails;
// the service program (tst_tovravpnservice) covers the rest.
class tst_TcpDaemon : public QObject
{
    Q_OBJECT

private slots:
    void addFilters_data();
    void addFilters();
    void sessions();
    void failureReplies();
    void callers_data();
    void callers();
    void toolBudget();
};

void tst_TcpDaemon::addFilters_data()
{
    QTest::addColumn<QString>("failing");
    QTest::addColumn<quint32>("code");
    QTest::addColumn<bool>("sublayerPresent");
    QTest::addColumn<quint32>("result");
    QTest::addColumn<QString>("lastError");

    QTest::newRow("engine does not open") << "open" << 5u << false << 5u << "Error while opening engine: 5";
    QTest::newRow("sublayer refused") << "sublayer" << 0x80320002u << false << 0x80320002u
                                      << "Failed to add persistent TOVRAVPN wfp sublayer with error: 2150760450";
    QTest::newRow("sublayer added meanwhile is accepted") << "sublayer" << 0x80320009u << false << 0u << QString();
    QTest::newRow("sublayer session does not open")
        << "openStatic" << 1753u << false << 1753u << "Failed to add persistent TOVRAVPN wfp sublayer with error: 1753";
    QTest::newRow("existing sublayer skipped") << "sublayer" << 1u << true << 0u << QString();
    QTest::newRow("filter 3 leaves none")
        << "filter3" << 8u << true << 8u << "Failed to add 3rd filter (Block tcp dns) with error: 8";
    QTest::newRow("commit") << "commit" << 1u << true << 1u << "Failed to apply filters with error: 1";
    QTest::newRow("adapter not found") << "adapter" << 0u << true << 8524u
                                       << "TOVRAVPN information not found in ipconfig results";
    QTest::newRow("no DNS server") << "dns" << 0u << true << 8524u
                                   << "TOVRAVPN DNS information not found in ipconfig results";
}

void tst_TcpDaemon::addFilters()
{
    QFETCH(QString, failing);
    QFETCH(quint32, code);
    QFETCH(bool, sublayerPresent);
    QFETCH(quint32, result);
    QFETCH(QString, lastError);

    FakeFilterEngine engine;
    engine.sublayerPresent = sublayerPresent;
    engine.results.insert(failing, code);
    if (failing == QLatin1String("adapter") || failing == QLatin1String("dns"))
        engine.lookup.outcome =
            failing == QLatin1String("dns") ? VpnDnsLookup::DnsNotFound : VpnDnsLookup::AdapterNotFound;
    engine.returnHandleOnFailure = 77; // a handle returned with an error is closed too

    WfpDnsFilter filter(engine);
    filter.lastError = QStringLiteral("before");
    QCOMPARE(filter.addFilters(), result);
    QCOMPARE(filter.lastError, result == 0 ? QStringLiteral("before") : lastError);
    QCOMPARE(filter.filtersInForce(), result == 0);
    // All or nothing: on failure every session is closed with whatever was added through it.
    QCOMPARE(engine.filtersInForce(), result == 0 ? 4 : 0);
    QCOMPARE(engine.open.size(), result == 0 ? 1 : 0);
    if (sublayerPresent)
        QCOMPARE(engine.sublayerAdds, 0);
}

void tst_TcpDaemon::sessions()
{
    FakeFilterEngine engine;
    engine.sublayerPresent = true;
    auto filter = std::make_unique<WfpDnsFilter>(engine);
    // Permits for the VPN's server, blocks for any other; a second ADD closes the first session.
    QCOMPARE(filter->addFilters(), 0u);
    QCOMPARE(engine.open.value(1).first().remoteAddress, 0x0A080001u);
    engine.lookup.address = QHostAddress(QStringLiteral("10.9.0.1"));
    QCOMPARE(filter->addFilters(), 0u);
    QCOMPARE(engine.open.keys(), QList<FilterEngine::Handle>{2});
    QCOMPARE(engine.filtersInForce(), 4);
    QCOMPARE(engine.open.value(2).first().remoteAddress, 0x0A090001u);

    // The close result is passed on, once; the filters left in force are removed by the retry at stop.
    engine.results.insert(QStringLiteral("close"), 6);
    QCOMPARE(filter->removeFilters(), 6u);
    QCOMPARE(filter->lastError, QStringLiteral("EngineClosed with result: 6"));
    QCOMPARE(filter->removeFilters(), 0u);
    QCOMPARE(engine.filtersInForce(), 4);
    QCOMPARE(filter->retryFailedRemovals(), 6u);
    engine.results.remove(QStringLiteral("close"));
    QCOMPARE(filter->retryFailedRemovals(), 0u);
    QVERIFY(engine.open.isEmpty());
    QVERIFY(!filter->hasFailedRemovals());

    // Filters in force go with the object.
    QCOMPARE(filter->addFilters(), 0u);
    filter.reset();
    QVERIFY(engine.open.isEmpty());
}

void tst_TcpDaemon::failureReplies()
{
    auto routeTool = std::make_unique<FakeRouteTool>();
    auto filterEngine = std::make_unique<FakeFilterEngine>();
    FakeRouteTool &routes = *routeTool;
    FakeFilterEngine &filters = *filterEngine;
    TcpDaemon daemon(std::move(routeTool), std::move(filterEngine));
    QSignalSpy log(&daemon, &TcpDaemon::serviceLog);
    QVERIFY(daemon.listen(QHostAddress::LocalHost, 0));
    const auto command = [&daemon](const QByteArray &bytes) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, daemon.serverPort());
        socket.write(bytes);
        return QTest::qWaitFor([&] { return socket.bytesAvailable() > 0; }, 20000) ? socket.readAll() : QByteArray();
    };

    // A route that survives its deletion: RESTORE then adds nothing and names the line it stands on.
    const QString wired = QStringLiteral("          0.0.0.0          0.0.0.0      192.168.1.1     192.168.1.20     25");
    routes.lines = QStringList{QStringLiteral("  0.0.0.0  0.0.0.0  10.8.0.5  10.8.0.6  35"), wired};
    QCOMPARE(command("DELETE\n"), QByteArray("SRV ERROR DELETE: Default gateway (192.168.1.1) exists after removing"));
    QCOMPARE(command("RESTORE\n"),
             "SRV ERROR RESTORE: Default gateway already exists - 192.168.1.1 (Full entry: " + wired.toLatin1() + ")");
    QCOMPARE(routes.changes, QStringList{"delete 192.168.1.1"});

    // Filter errors carry the filter's own text.
    filters.lookup.outcome = VpnDnsLookup::DnsNotFound;
    QCOMPARE(command("ADD_DNS_FILTERS\n"),
             QByteArray("SRV ERROR DNS ADD: TOVRAVPN DNS information not found in ipconfig results"));
    filters.lookup.outcome = VpnDnsLookup::Found;
    QCOMPARE(command("ADD_DNS_FILTERS\n"), QByteArray("SRV SUCCESS DNS ADD: Wfp filters added"));
    filters.results.insert(QStringLiteral("close"), 13);
    QCOMPARE(command("REMOVE_DNS_FILTERS\n"), QByteArray("SRV ERROR DNS REMOVE: EngineClosed with result: 13"));

    // A removal that failed is tried again when the service stops.
    daemon.removeFilters();
    QCOMPARE(log.last().first().toString(), QStringLiteral("DNS filters could not be removed at service stop: 13"));
    filters.results.remove(QStringLiteral("close"));
    daemon.removeFilters();
    QCOMPARE(log.last().first().toString(), QStringLiteral("DNS filters removed at service stop"));
    QCOMPARE(filters.filtersInForce(), 0);

    // Part of a command does not keep a connection open past the idle time.
    daemon.setLimits({1024, 16, 500});
    QTcpSocket idle;
    idle.connectToHost(QHostAddress::LocalHost, daemon.serverPort());
    QVERIFY(idle.waitForConnected(10000));
    idle.write("INF");
    QTRY_COMPARE_WITH_TIMEOUT(idle.state(), QAbstractSocket::UnconnectedState, 20000);
    QCOMPARE(log.last().first().toString(), QStringLiteral("Connection closed: no complete command within 500 ms"));
}

void tst_TcpDaemon::callers_data()
{
    QTest::addColumn<uint>("uid");
    QTest::addColumn<bool>("member"); // of the daemon's users group
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("log"); // the start of the last service-log line

    const QByteArray obeyed("SRV ERROR DELETE: Default gateway (192.168.1.1) exists after removing");
    const QString refused("Command %1 refused: uid 65534 is neither root nor a member of group %2");
    QTest::newRow("root is obeyed") << 0u << false << QByteArray("DELETE\n") << obeyed << "New Connection";
    QTest::newRow("a member of the group is obeyed")
        << uint(ForeignClient::Nobody) << true << QByteArray("DELETE\n") << obeyed << "New Connection";
    QTest::newRow("another user is refused") << uint(ForeignClient::Nobody) << false << QByteArray("DELETE\n")
                                             << QByteArray("SRV ERROR DELETE: Caller not permitted")
                                             << refused.arg("DELETE", "%1 (the group does not exist)");
    QTest::newRow("refusal carries the command's tag")
        << uint(ForeignClient::Nobody) << false << QByteArray("REMOVE_DNS_FILTERS now\n")
        << QByteArray("SRV ERROR DNS REMOVE: Caller not permitted") << refused.arg("REMOVE_DNS_FILTERS", "%1");
}

// Commands from a child process that has taken another uid: only root and the group's members are obeyed.
void tst_TcpDaemon::callers()
{
    QFETCH(uint, uid);
    QFETCH(bool, member);
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, reply);
    QFETCH(QString, log);
    if (geteuid() != 0)
        QSKIP("taking another uid needs root");

    // A group of this test only, removed again whatever happens.
    const QString group = QStringLiteral("tovra-test-%1").arg(QCoreApplication::applicationPid());
    runProcess({"groupdel", group});
    if (member)
        QVERIFY(runProcess({"groupadd", "-U", "nobody", group}).ok());
    const auto removeGroup = qScopeGuard([&] { runProcess({"groupdel", group}); });

    auto routeTool = std::make_unique<FakeRouteTool>();
    FakeRouteTool &routes = *routeTool;
    routes.lines = QStringList{QStringLiteral("  0.0.0.0  0.0.0.0  192.168.1.1  192.168.1.20  25")};
    TcpDaemon daemon(std::move(routeTool), std::make_unique<FakeFilterEngine>(), {{}, {}, group});
    QSignalSpy serviceLog(&daemon, &TcpDaemon::serviceLog);
    QVERIFY(daemon.listen(QHostAddress::LocalHost, 0));

    ForeignClient client;
    QVERIFY(client.start(uid_t(uid), daemon.serverPort(), sent));
    // The answer, and then the end of the connection.
    QCOMPARE(client.answer(), reply);
    QVERIFY2(serviceLog.last().first().toString().startsWith(log.contains("%1") ? log.arg(group) : log),
             qPrintable(serviceLog.last().first().toString()));
    QCOMPARE(routes.changes,
             reply.contains("Caller not permitted") ? QStringList() : QStringList{"delete 192.168.1.1"});
}

void tst_TcpDaemon::toolBudget()
{
    // Tools come from the tool folders only, and a command stops starting them once its time is spent.
    ToolRunner runner;
    QVERIFY(runner.findTool(QStringLiteral("sh")).startsWith(QLatin1Char('/')));
    QVERIFY(runner.findTool(QStringLiteral("../bin/sh")).isEmpty());
    runner.setToolDirs({});
    QVERIFY(!runner.run(QStringLiteral("true"), {}).started);
    runner.setToolDirs({QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
    runner.setTimings({20000, 300});
    runner.beginCommand();
    QVERIFY(runner.run(QStringLiteral("sleep"), {QStringLiteral("0.5")}).succeeded());
    QVERIFY(!runner.run(QStringLiteral("true"), {}).started);
    QVERIFY(runner.commandOutOfTime());
    runner.endCommand();
    QVERIFY(runner.run(QStringLiteral("true"), {}).succeeded());
}

QTEST_GUILESS_MAIN(tst_TcpDaemon)
#include "tst_tcpdaemon.moc"
