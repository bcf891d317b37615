#include <QtTest>

#include "fakebackends.h"
#include "service/wfpdnsfilter.h"

#include <memory>

namespace {

QString Describe(const FilterSpec &f)
{
    return QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8")
        .arg(f.name)
        .arg(f.weight)
        .arg(f.protocol)
        .arg(f.permit ? "permit" : "block")
        .arg(f.matchRemoteAddress)
        .arg(f.remoteAddress, 8, 16, QLatin1Char('0'))
        .arg(f.remotePort)
        .arg(f.sublayer.toString());
}

} // namespace

class tst_WfpDnsFilter : public QObject
{
    Q_OBJECT

private slots:
    void filterDefinitions();
    void addFilters_data();
    void addFilters();
    void sessions();
};

void tst_WfpDnsFilter::filterDefinitions()
{
    FakeFilterEngine engine;
    WfpDnsFilter filter(engine);
    QCOMPARE(filter.addFilters(), 0u);
    QCOMPARE(filter.vpnDnsAddress, QHostAddress(QStringLiteral("10.8.0.1")));

    QStringList specs;
    for (const FilterSpec &spec : qAsConst(engine.filters))
        specs << Describe(spec);
    const QString sublayer = QStringLiteral("{5ab776a8-e2e8-4024-b853-391a4168641e}");
    QCOMPARE(specs, (QStringList{
                        "TOVRAVPN WFP Filter - allow TCP DNS on VPN interface|15|6|permit|1|0a080001|53|" + sublayer,
                        "TOVRAVPN WFP Filter - allow UDP DNS on VPN interface|15|17|permit|1|0a080001|53|" + sublayer,
                        "TOVRAVPN WFP Filter - block TCP DNS|14|6|block|0|00000000|53|" + sublayer,
                        "TOVRAVPN WFP Filter - block UDP DNS|14|17|block|0|00000000|53|" + sublayer,
                    }));
    QCOMPARE(engine.filtersInForce(), 4);
    // The sublayer was new: added through a second, non-dynamic session that is closed again.
    QCOMPARE(engine.calls,
             (QStringList{"open dynamic", "has sublayer 1", "open static", "add sublayer 2 TOVRAVPN WFP Filters 256",
                          "close 2", "find dns", "filter 1 1", "filter 1 2", "filter 1 3", "filter 1 4", "commit 1"}));
}

void tst_WfpDnsFilter::addFilters_data()
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
    QTest::newRow("filter 1") << "filter1" << 0x80320009u << true << 0x80320009u
                              << "Failed to add 1st filter (Allow tcp dns on vpn interface) with error: 2150760457";
    QTest::newRow("filter 2") << "filter2" << 7u << true << 7u
                              << "Failed to add 2nd filter (Allow udp dns on vpn interface) with error: 7";
    QTest::newRow("filter 3 leaves none")
        << "filter3" << 8u << true << 8u << "Failed to add 3rd filter (Block tcp dns) with error: 8";
    QTest::newRow("filter 4") << "filter4" << 9u << true << 9u
                              << "Failed to add 4th filter (Block udp dns) with error: 9";
    QTest::newRow("commit") << "commit" << 1u << true << 1u << "Failed to apply filters with error: 1";
    QTest::newRow("adapter not found") << "adapter" << 0u << true << 8524u
                                       << "TOVRAVPN information not found in ipconfig results";
    QTest::newRow("no DNS server") << "dns" << 0u << true << 8524u
                                   << "TOVRAVPN DNS information not found in ipconfig results";
}

void tst_WfpDnsFilter::addFilters()
{
    QFETCH(QString, failing);
    QFETCH(quint32, code);
    QFETCH(bool, sublayerPresent);
    QFETCH(quint32, result);
    QFETCH(QString, lastError);

    FakeFilterEngine engine;
    engine.sublayerPresent = sublayerPresent;
    engine.results.insert(failing, code);
    if (failing == QLatin1String("adapter"))
        engine.lookup.outcome = VpnDnsLookup::AdapterNotFound;
    if (failing == QLatin1String("dns"))
        engine.lookup.outcome = VpnDnsLookup::DnsNotFound;
    engine.returnHandleOnFailure = 77; // a handle returned with an error is closed too

    WfpDnsFilter filter(engine);
    filter.lastError = QStringLiteral("before");
    QCOMPARE(filter.addFilters(), result);
    if (result == 0) {
        QCOMPARE(engine.filtersInForce(), 4);
        QCOMPARE(filter.lastError, QStringLiteral("before"));
        QVERIFY(filter.filtersInForce());
        QCOMPARE(engine.calls.contains(QStringLiteral("open static")), !sublayerPresent);
    } else {
        // All or nothing: the dynamic session is closed with whatever was added through it.
        QCOMPARE(filter.lastError, lastError);
        QVERIFY(!filter.filtersInForce());
        QVERIFY(engine.open.isEmpty());
        QCOMPARE(filter.removeFilters(), 0u);
    }
}

void tst_WfpDnsFilter::sessions()
{
    FakeFilterEngine engine;
    engine.sublayerPresent = true;
    auto filter = std::make_unique<WfpDnsFilter>(engine);
    QCOMPARE(filter->removeFilters(), 0u);
    QCOMPARE(filter->lastError, QStringLiteral("EngineClosed with result: 0"));
    QVERIFY(engine.calls.isEmpty());

    // A second ADD closes the first session before it opens the next.
    QCOMPARE(filter->addFilters(), 0u);
    engine.lookup.address = QHostAddress(QStringLiteral("10.9.0.1"));
    QCOMPARE(filter->addFilters(), 0u);
    QCOMPARE(engine.open.keys(), QList<FilterEngine::Handle>{2});
    QCOMPARE(engine.filtersInForce(), 4);
    QCOMPARE(engine.calls.mid(7, 3), (QStringList{"commit 1", "close 1", "open dynamic"}));
    QCOMPARE(engine.filters.at(4).remoteAddress, 0x0A090001u);

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

QTEST_GUILESS_MAIN(tst_WfpDnsFilter)
#include "tst_wfpdnsfilter.moc"
