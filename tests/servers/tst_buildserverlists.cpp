#include <QtTest>

#include "api/tovraapimanager.h"
#include "app/appcontext.h"
#include "servers/tovraservermanager.h"

// One server of the API's list: "code|country|city|short|flags|load", flags from p (P2P), s (streaming),
// b (B2B), n (is_nearest), N (is_nearest_b2b), d (not alive).
static QJsonObject ServerJson(const QString &spec)
{
    const QStringList f = spec.split(QLatin1Char('|'));
    QJsonObject server{{"country_code", f.value(0)},
                       {"country_name", f.value(1)},
                       {"city", f.value(2)},
                       {"short_name", f.value(3)},
                       {"ip", QStringLiteral("10.0.0.%1").arg(f.value(3).size())},
                       {"location", QJsonObject{{"coordinates", QJsonArray{4.8951679, 52.3702157}}}},
                       {"load_percentage", f.value(5).toInt()},
                       {"is_alive", f.value(4).contains(QLatin1Char('d')) ? 0 : 1}};
    const char *keys[] = {"p:is_p2p", "s:is_streaming", "b:is_b2b", "n:is_nearest", "N:is_nearest_b2b"};
    for (const char *key : keys)
        server.insert(QLatin1String(key + 2), f.value(4).contains(QLatin1Char(key[0])) ? 1 : 0);
    return server;
}

static QJsonArray Servers(const QStringList &specs)
{
    QJsonArray array;
    for (const QString &spec : specs)
        array.append(ServerJson(spec));
    return array;
}

// "displayName|key|shortName" plus "|nearest" when marked.
static QStringList Describe(const QList<TovraServer> &list)
{
    QStringList out;
    for (const TovraServer &s : list)
        out << QStringLiteral("%1|%2|%3%4")
                   .arg(s.displayName, s.key, s.shortName, s.isNearest ? QStringLiteral("|nearest") : QString());
    return out;
}

static QImage Pixels(const QImage &image)
{
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

class tst_BuildServerLists : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void smartList_data();
    void smartList();
    void fullListRecords();
    void smartEntryFlags();
    void loadIcons_data();
    void loadIcons();
    void featureIcons();
    void notAnArray_data();
    void notAnArray();

private:
    TovraApiManager *api = nullptr;
    TovraServerManager *servers = nullptr;
    QTemporaryDir dir;
};

void tst_BuildServerLists::initTestCase()
{
    QVERIFY(dir.isValid());
    AppContext::instance()->dataPaths()->setDir(dir.path());
    api = AppContext::instance()->apiManager();
    servers = AppContext::instance()->serverManager();
}

void tst_BuildServerLists::smartList_data()
{
    QTest::addColumn<QStringList>("reply");
    QTest::addColumn<QStringList>("smart");
    QTest::addColumn<QStringList>("smartB2b");

    QTest::newRow("digits removed and trimmed")
        << QStringList{"DE|Germany 2|Berlin|de1||0", "DE|3Germany|Bonn|de2|p|0"}
        << QStringList{"Germany|de_regular|de1", "Germany, P2P server|de_p2p|de2"} << QStringList{};
    QTest::newRow("three p2p and streaming servers")
        << QStringList{"SE|Sweden|Stockholm|se1|ps|0", "SE|Sweden|Malmo|se2|ps|0", "SE|Sweden|Lund|se3|ps|0"}
        << QStringList{"Sweden, P2P server|se_p2p|se1", "Sweden, Streaming server|se_streaming|se2"} << QStringList{};
    QTest::newRow("one entry per kind, first server wins")
        << QStringList{"FR|France|Paris|fr1||0",  "FR|France|Lyon|fr2||0",  "FR|France|Nice|fr3|p|0",
                       "FR|France|Lille|fr4|p|0", "FR|France|Metz|fr5|s|0", "FR|France|Caen|fr6|s|0"}
        << QStringList{"France|fr_regular|fr1", "France, P2P server|fr_p2p|fr3",
                       "France, Streaming server|fr_streaming|fr5"}
        << QStringList{};
    QTest::newRow("nearest marks the entries added so far")
        << QStringList{"GB|United Kingdom|London|uk1||0", "GB|United Kingdom|Leeds|uk2|p|0",
                       "GB|United Kingdom|York|uk3|sn|0", "GB|United Kingdom|Hull|uk4|s|0",
                       "US|United States|NYC|us1||0"}
        << QStringList{"United Kingdom|gb_regular|uk1|nearest", "United Kingdom, P2P server|gb_p2p|uk2|nearest",
                       "United Kingdom, Streaming server|gb_streaming|uk3|nearest", "United States|us_regular|us1"}
        << QStringList{};
    QTest::newRow("nearest before later entries")
        << QStringList{"CH|Switzerland|Zurich|ch1|n|0", "CH|Switzerland|Bern|ch2|p|0"}
        << QStringList{"Switzerland|ch_regular|ch1|nearest", "Switzerland, P2P server|ch_p2p|ch2"} << QStringList{};
    QTest::newRow("b2b servers in their own lists")
        << QStringList{"NL|Netherlands|Amsterdam|nl1||0", "NL|Netherlands|Amsterdam|nlb1|b|0",
                       "NL|Netherlands|Delft|nlb2|bps|0"}
        << QStringList{"Netherlands|nl_regular|nl1"}
        << QStringList{"Netherlands|nl_regular|nlb1", "Netherlands, P2P server|nl_p2p|nlb2"};
    QTest::newRow("b2b nearest flag read from is_nearest_b2b")
        << QStringList{"NL|Netherlands|Amsterdam|nl1|N|0", "DE|Germany|Berlin|deb1|bn|0", "BE|Belgium|Gent|beb1|bN|0"}
        << QStringList{"Netherlands|nl_regular|nl1"}
        << QStringList{"Germany|de_regular|deb1", "Belgium|be_regular|beb1|nearest"};
}

void tst_BuildServerLists::smartList()
{
    QFETCH(QStringList, reply);
    QFETCH(QStringList, smart);
    QFETCH(QStringList, smartB2b);
    QSignalSpy updated(servers, &TovraServerManager::ServersUpdated);
    api->BuildServerLists(Servers(reply));
    QCOMPARE(updated.count(), 1);
    QCOMPARE(Describe(servers->SmartList()), smart);
    QCOMPARE(Describe(servers->SmartB2bList()), smartB2b);
    QCOMPARE(servers->FullList().size() + servers->FullB2bList().size(), reply.size());
}

void tst_BuildServerLists::fullListRecords()
{
    api->BuildServerLists(Servers({"NL|Netherlands 2|Amsterdam|nl-ams-1|pd|45", "DE|Germany|Berlin|de-ber-1|b|80"}));
    QCOMPARE(servers->FullList().size(), 1);
    const TovraServer nl = servers->FullList().at(0);
    QCOMPARE(nl.displayName, QStringLiteral("Netherlands 2, Amsterdam"));
    QCOMPARE(nl.key, QStringLiteral("nl-ams-1"));
    QCOMPARE(nl.countryCode, QStringLiteral("NL"));
    QCOMPARE(nl.ip, QStringLiteral("10.0.0.8"));
    QCOMPARE(nl.loadPercentage, 45);
    QCOMPARE(nl.latitude, 52.3702157);
    QCOMPARE(nl.longitude, 4.8951679);
    QVERIFY(nl.isP2p);
    QVERIFY(!nl.isStreaming);
    QVERIFY(!nl.isAlive);
    QVERIFY(!nl.isB2b);
    QCOMPARE(servers->FullB2bList().size(), 1);
    QCOMPARE(servers->FullB2bList().at(0).key, QStringLiteral("de-ber-1"));
    QVERIFY(servers->FullB2bList().at(0).isB2b);
}

void tst_BuildServerLists::smartEntryFlags()
{
    api->BuildServerLists(Servers({"SE|Sweden|Stockholm|se1|ps|90", "SE|Sweden|Malmo|se2|ps|50"}));
    const QList<TovraServer> smart = servers->SmartList();
    QCOMPARE(smart.size(), 2);
    // The P2P entry drops streaming, the streaming entry drops P2P; neither shows a load.
    QVERIFY(smart.at(0).isP2p && !smart.at(0).isStreaming);
    QVERIFY(!smart.at(1).isP2p && smart.at(1).isStreaming);
    for (const TovraServer &s : smart) {
        QCOMPARE(s.loadPercentage, 0);
        QCOMPARE(s.loadIcon.toImage(), ServerIcons::LoadIcon(0).toImage());
    }
    QCOMPARE(smart.at(0).featureIcon.toImage(), ServerIcons::FeatureIcon(true, false).toImage());
    QCOMPARE(smart.at(1).featureIcon.toImage(), ServerIcons::FeatureIcon(false, true).toImage());
    // The full list keeps the real values.
    QCOMPARE(servers->FullList().at(0).loadPercentage, 90);
    QVERIFY(servers->FullList().at(0).isP2p && servers->FullList().at(0).isStreaming);
    QCOMPARE(servers->FullList().at(0).featureIcon.toImage(), ServerIcons::FeatureIcon(true, true).toImage());
}

void tst_BuildServerLists::loadIcons_data()
{
    QTest::addColumn<int>("load");
    QTest::addColumn<QString>("icon");
    QTest::newRow("negative") << -5 << QStringLiteral(":/images/LoadPercentageGreen.png");
    QTest::newRow("33") << 33 << QStringLiteral(":/images/LoadPercentageGreen.png");
    QTest::newRow("34") << 34 << QStringLiteral(":/images/LoadPercentageYellow.png");
    QTest::newRow("66") << 66 << QStringLiteral(":/images/LoadPercentageYellow.png");
    QTest::newRow("67") << 67 << QStringLiteral(":/images/LoadPercentageRed.png");
    QTest::newRow("150") << 150 << QStringLiteral(":/images/LoadPercentageRed.png");
}

void tst_BuildServerLists::loadIcons()
{
    QFETCH(int, load);
    QFETCH(QString, icon);
    api->BuildServerLists(Servers({QStringLiteral("NL|Netherlands|Amsterdam|nl1||%1").arg(load),
                                   QStringLiteral("NL|Netherlands|Delft|nl2||%1").arg(load)}));
    const QImage expected(icon);
    QVERIFY2(!expected.isNull(), qPrintable(icon));
    const TovraServer first = servers->FullList().at(0);
    QCOMPARE(Pixels(first.loadIcon.toImage()), Pixels(expected));
    // Loaded once: every record shares the same pixmap.
    QCOMPARE(servers->FullList().at(1).loadIcon.cacheKey(), first.loadIcon.cacheKey());
}

void tst_BuildServerLists::featureIcons()
{
    api->BuildServerLists(Servers({"A|A|a|a1|ps|0", "B|B|b|b1|p|0", "C|C|c|c1|s|0", "D|D|d|d1||0", "E|E|e|e1||0"}));
    const QStringList expected{":/images/StreamingOn_P2pOn.png", ":/images/StreamingOff_P2pOn.png",
                               ":/images/StreamingOn_P2pOff.png", ":/images/StreamingOff_P2pOff.png"};
    const QList<TovraServer> full = servers->FullList();
    for (int i = 0; i < expected.size(); ++i) {
        const QImage image(expected.at(i));
        QVERIFY2(!image.isNull(), qPrintable(expected.at(i)));
        QCOMPARE(Pixels(full.at(i).featureIcon.toImage()), Pixels(image));
    }
    QCOMPARE(full.at(4).featureIcon.cacheKey(), full.at(3).featureIcon.cacheKey());
    // The two kinds of icon differ.
    QVERIFY(full.at(0).featureIcon.toImage() != full.at(3).featureIcon.toImage());
}

void tst_BuildServerLists::notAnArray_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("records");
    QTest::newRow("object") << QByteArray(R"({"servers": [{"short_name": "nl1"}]})") << 0;
    QTest::newRow("empty array") << QByteArray("[]") << 0;
    QTest::newRow("array of non-objects") << QByteArray("[1, \"x\"]") << 2;
}

void tst_BuildServerLists::notAnArray()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, records);
    api->BuildServerLists(Servers({"NL|Netherlands|Amsterdam|nl1||0", "DE|Germany|Berlin|de1|b|0"}));
    QSignalSpy updated(servers, &TovraServerManager::ServersUpdated);
    api->BuildServerLists(QJsonDocument::fromJson(reply).array());
    // The lists are rebuilt from scratch and handed over whatever the reply held.
    QCOMPARE(updated.count(), 1);
    QCOMPARE(servers->FullList().size(), records);
    QVERIFY(servers->FullB2bList().isEmpty() && servers->SmartB2bList().isEmpty());
    QVERIFY(!Describe(servers->SmartList()).contains("Netherlands|nl_regular|nl1"));
    // Missing keys: empty texts, load 0, coordinates 0, not alive.
    for (const TovraServer &s : servers->FullList()) {
        QVERIFY(s.shortName.isEmpty() && s.countryCode.isEmpty());
        QCOMPARE(s.loadPercentage, 0);
        QCOMPARE(s.latitude, 0.0);
        QVERIFY(!s.isAlive);
    }
}

QTEST_MAIN(tst_BuildServerLists)
#include "tst_buildserverlists.moc"
