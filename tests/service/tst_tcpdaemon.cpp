#include <QtTest>

#include "service/tcpdaemon.h"

#include <QTcpSocket>

namespace {

// A route table whose default route stays whatever is done to it.
class FakeRouteTool : public RouteTool
{
public:
    QStringList lines;
    QStringList changes;

    QStringList routeTable() override { return lines; }
    bool deleteDefaultRoute(const QString &gateway) override { return record(QStringLiteral("delete ") + gateway); }
    bool addDefaultRoute(const QString &gateway) override { return record(QStringLiteral("add ") + gateway); }

private:
    bool record(const QString &change)
    {
        changes << change;
        return false;
    }
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
        int count = 0;
        for (const QList<FilterSpec> &filters : open)
            count += filters.size();
        return count;
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
        open.remove(session);
        return results.value(QStringLiteral("close"));
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
    QCOMPARE(filter->removeFilters(), 0u);
    QCOMPARE(filter->lastError, QStringLiteral("EngineClosed with result: 0"));

    // Permits for the VPN's server, blocks for any other; a second ADD closes the first session.
    QCOMPARE(filter->addFilters(), 0u);
    QCOMPARE(filter->vpnDnsAddress, QHostAddress(QStringLiteral("10.8.0.1")));
    QStringList names;
    for (const FilterSpec &spec : engine.open.value(1))
        names << QStringLiteral("%1 %2 %3")
                     .arg(spec.name)
                     .arg(spec.weight)
                     .arg(spec.matchRemoteAddress ? QHostAddress(spec.remoteAddress).toString() : QString());
    QCOMPARE(names,
             (QStringList{"TOVRAVPN WFP Filter - allow TCP DNS on VPN interface 15 10.8.0.1",
                          "TOVRAVPN WFP Filter - allow UDP DNS on VPN interface 15 10.8.0.1",
                          "TOVRAVPN WFP Filter - block TCP DNS 14 ", "TOVRAVPN WFP Filter - block UDP DNS 14 "}));
    engine.lookup.address = QHostAddress(QStringLiteral("10.9.0.1"));
    QCOMPARE(filter->addFilters(), 0u);
    QCOMPARE(engine.open.keys(), QList<FilterEngine::Handle>{2});
    QCOMPARE(engine.filtersInForce(), 4);
    QCOMPARE(engine.open.value(2).first().remoteAddress, 0x0A090001u);

    // The close result is passed on, once.
    engine.results.insert(QStringLiteral("close"), 6);
    QCOMPARE(filter->removeFilters(), 6u);
    QCOMPARE(filter->lastError, QStringLiteral("EngineClosed with result: 6"));
    QVERIFY(engine.open.isEmpty());
    QCOMPARE(filter->removeFilters(), 0u);

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
    QCOMPARE(log.count(), 5);
    QCOMPARE(log.first().first().toString(), QStringLiteral("New Connection"));

    // A line without an end is cut off once it passes the limit.
    QTcpSocket endless;
    endless.connectToHost(QHostAddress::LocalHost, daemon.serverPort());
    endless.write(QByteArray(TcpDaemon::MaxCommandBytes + 100, 'A'));
    QTRY_COMPARE_WITH_TIMEOUT(endless.state(), QAbstractSocket::UnconnectedState, 20000);
    QCOMPARE(log.last().first().toString(), QStringLiteral("Command line too long, connection closed"));
}

QTEST_GUILESS_MAIN(tst_TcpDaemon)
#include "tst_tcpdaemon.moc"
