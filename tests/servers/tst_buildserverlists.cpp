#include <QtTest>

#include "servers/serverlists.h"

// One server of the API's list: "code|country|city|short|flags|load", flags from p (P2P), s (streaming),
// b (B2B), n (is_nearest), N (is_nearest_b2b), d (not alive).
static QJsonArray Servers(const QStringList &specs)
{
    QJsonArray array;
    for (const QString &spec : specs) {
        const QStringList f = spec.split(QLatin1Char('|'));
        QJsonObject server{{"country_code", f.value(0)},
                           {"country_name", f.value(1)},
                           {"city", f.value(2)},
                           {"short_name", f.value(3)},
                           {"ip", QStringLiteral("10.0.0.%1").arg(f.value(3).size())},
                           {"location", QJsonObject{{"coordinates", QJsonArray{4.8951679, 52.3702157}}}},
                           {"load_percentage", f.value(5).toInt()},
                           {"is_alive", f.value(4).contains(QLatin1Char('d')) ? 0 : 1}};
        for (const char *key : {"p:is_p2p", "s:is_streaming", "b:is_b2b", "n:is_nearest", "N:is_nearest_b2b"})
            server.insert(QLatin1String(key + 2), f.value(4).contains(QLatin1Char(key[0])) ? 1 : 0);
        array.append(server);
    }
    return array;
}

// "displayName|key|shortName", then the flags p, s, n when set and the load when not 0.
static QStringList Describe(const QList<TovraServer> &list)
{
    QStringList out;
    for (const TovraServer &s : list)
        out << QStringLiteral("%1|%2|%3%4%5%6%7")
                   .arg(s.displayName, s.key, s.shortName, s.isP2p ? "|p" : "", s.isStreaming ? "|s" : "",
                        s.isNearest ? "|n" : "", s.loadPercentage ? QStringLiteral("|%1").arg(s.loadPercentage) : "");
    return out;
}

static QImage Pixels(const QPixmap &pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

class tst_BuildServerLists : public QObject
{
    Q_OBJECT

private slots:
    void smartList_data();
    void smartList();
    void fullListRecords();
    void icons_data();
    void icons();
};

void tst_BuildServerLists::smartList_data()
{
    QTest::addColumn<QStringList>("reply");
    QTest::addColumn<QStringList>("smart");
    QTest::addColumn<QStringList>("smartB2b");

    QTest::newRow("digits removed and trimmed")
        << QStringList{"DE|Germany 2|Berlin|de1||50", "DE|3Germany|Bonn|de2|p|0"}
        << QStringList{"Germany|de_regular|de1", "Germany, P2P server|de_p2p|de2|p"} << QStringList{};
    QTest::newRow("three p2p and streaming servers")
        << QStringList{"SE|Sweden|Stockholm|se1|ps|90", "SE|Sweden|Malmo|se2|ps|0", "SE|Sweden|Lund|se3|ps|0"}
        << QStringList{"Sweden, P2P server|se_p2p|se1|p", "Sweden, Streaming server|se_streaming|se2|s"}
        << QStringList{};
    QTest::newRow("one entry per kind, first server wins")
        << QStringList{"FR|France|Paris|fr1||0",  "FR|France|Lyon|fr2||0",  "FR|France|Nice|fr3|p|0",
                       "FR|France|Lille|fr4|p|0", "FR|France|Metz|fr5|s|0", "FR|France|Caen|fr6|s|0"}
        << QStringList{"France|fr_regular|fr1", "France, P2P server|fr_p2p|fr3|p",
                       "France, Streaming server|fr_streaming|fr5|s"}
        << QStringList{};
    QTest::newRow("nearest marks the entries added so far")
        << QStringList{"GB|United Kingdom|London|uk1||0", "GB|United Kingdom|Leeds|uk2|pn|0",
                       "GB|United Kingdom|York|uk3|s|0", "US|United States|NYC|us1||0"}
        << QStringList{"United Kingdom|gb_regular|uk1|n", "United Kingdom, P2P server|gb_p2p|uk2|p|n",
                       "United Kingdom, Streaming server|gb_streaming|uk3|s", "United States|us_regular|us1"}
        << QStringList{};
    QTest::newRow("b2b servers in their own lists, nearest from is_nearest_b2b")
        << QStringList{"NL|Netherlands|Amsterdam|nl1|N|0", "NL|Netherlands|Amsterdam|nlb1|bn|0",
                       "NL|Netherlands|Delft|nlb2|bps|0", "BE|Belgium|Gent|beb1|b|0", "BE|Belgium|Gent|beb2|bpN|0"}
        << QStringList{"Netherlands|nl_regular|nl1"}
        << QStringList{"Netherlands|nl_regular|nlb1", "Netherlands, P2P server|nl_p2p|nlb2|p",
                       "Belgium|be_regular|beb1|n", "Belgium, P2P server|be_p2p|beb2|p|n"};
}

void tst_BuildServerLists::smartList()
{
    QFETCH(QStringList, reply);
    QFETCH(QStringList, smart);
    QFETCH(QStringList, smartB2b);
    const ServerLists lists = BuildServerLists(Servers(reply));
    QCOMPARE(Describe(lists.smart), smart);
    QCOMPARE(Describe(lists.smartB2b), smartB2b);
    QCOMPARE(lists.full.size() + lists.fullB2b.size(), reply.size());
    // Smart entries never show a load: all carry the green icon.
    for (const TovraServer &s : lists.smart + lists.smartB2b)
        QCOMPARE(s.loadIcon.cacheKey(), ServerIcons::loadIcon(0).cacheKey());
}

void tst_BuildServerLists::fullListRecords()
{
    QJsonArray reply = Servers({"NL|Netherlands 2|Amsterdam|nl-ams-1|pdn|45", "DE|Germany|Berlin|de1|bsN|80"});
    reply << 1 << "not an object";
    const ServerLists lists = BuildServerLists(reply);
    QCOMPARE(Describe(lists.full), (QStringList{"Netherlands 2, Amsterdam|nl-ams-1|nl-ams-1|p|n|45", ", ||", ", ||"}));
    QCOMPARE(Describe(lists.fullB2b), (QStringList{"Germany, Berlin|de1|de1|s|n|80"}));
    const TovraServer nl = lists.full.at(0);
    QCOMPARE(QStringList({nl.countryCode, nl.countryName, nl.city, nl.ip}),
             QStringList({"NL", "Netherlands 2", "Amsterdam", "10.0.0.8"}));
    QVERIFY(nl.latitude == 52.3702157 && nl.longitude == 4.8951679);
    QVERIFY(!nl.isAlive && !nl.isB2b && lists.fullB2b.at(0).isAlive && lists.fullB2b.at(0).isB2b);
    // Missing keys: empty texts, load 0, coordinates 0, not alive.
    const TovraServer empty = lists.full.at(1);
    QVERIFY(empty.countryCode.isEmpty() && empty.latitude == 0 && empty.longitude == 0 && !empty.isAlive);
}

// Load thresholds and the four feature icons, as the resource files draw them; each file is loaded once.
void tst_BuildServerLists::icons_data()
{
    QTest::addColumn<int>("load");
    QTest::addColumn<QString>("flags");
    QTest::addColumn<QString>("loadIcon");
    QTest::addColumn<QString>("featureIcon");
    const auto row = [](const char *name, int load, const char *flags, const char *loadIcon, const char *feature) {
        QTest::newRow(name) << load << QString::fromLatin1(flags) << QString::fromLatin1(loadIcon)
                            << QString::fromLatin1(feature);
    };
    row("33, P2P and streaming", 33, "ps", "Green", "StreamingOn_P2pOn");
    row("34, P2P", 34, "p", "Yellow", "StreamingOff_P2pOn");
    row("66, streaming", 66, "s", "Yellow", "StreamingOn_P2pOff");
    row("67, neither", 67, "", "Red", "StreamingOff_P2pOff");
}

void tst_BuildServerLists::icons()
{
    QFETCH(int, load);
    QFETCH(QString, flags);
    QFETCH(QString, loadIcon);
    QFETCH(QString, featureIcon);
    const QString server = QStringLiteral("NL|Netherlands|Amsterdam|nl1|%1|%2").arg(flags).arg(load);
    const ServerLists lists = BuildServerLists(Servers({server, server}));
    const QImage loadImage(":/images/LoadPercentage" + loadIcon + ".png");
    const QImage featureImage(":/images/" + featureIcon + ".png");
    QVERIFY(!loadImage.isNull() && !featureImage.isNull());
    QCOMPARE(Pixels(lists.full.at(0).loadIcon), Pixels(QPixmap::fromImage(loadImage)));
    QCOMPARE(Pixels(lists.full.at(0).featureIcon), Pixels(QPixmap::fromImage(featureImage)));
    QVERIFY(lists.full.at(1).loadIcon.cacheKey() == lists.full.at(0).loadIcon.cacheKey() &&
            lists.full.at(1).featureIcon.cacheKey() == lists.full.at(0).featureIcon.cacheKey());
}

QTEST_MAIN(tst_BuildServerLists)
#include "tst_buildserverlists.moc"
