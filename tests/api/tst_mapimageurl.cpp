#include <QtTest>

#include "api/tovraapimanager.h"
#include "api/tovraauthmanager.h"
#include "app/appcontext.h"
#include "app/buildconstants.h"

class tst_MapImageUrl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void polyline_data();
    void polyline();
    void url_data();
    void url();
};

void tst_MapImageUrl::initTestCase()
{
    TovraApiManager *api = AppContext::instance()->apiManager();
    api->setMapApiBaseUrl(QStringLiteral("https://maps.test"));
    api->setPortalBaseUrl(QStringLiteral("https://portal.test:8443"));
}

void tst_MapImageUrl::polyline_data()
{
    QTest::addColumn<double>("fromLat");
    QTest::addColumn<double>("fromLon");
    QTest::addColumn<double>("toLat");
    QTest::addColumn<double>("toLon");
    QTest::addColumn<QString>("encoded");
    QTest::newRow("published example") << 38.5 << -120.2 << 40.7 << -120.95 << "_p~iF~ps|U_ulLnnqC";
    QTest::newRow("all zero") << 0.0 << 0.0 << 0.0 << 0.0 << "????";
    QTest::newRow("same point") << 52.3702 << 4.89517 << 52.3702 << 4.89517 << "wps~Hya{\\??";
    // Halves round away from zero: 0.000005 -> 1, -0.000005 -> -1.
    QTest::newRow("halves") << 0.000005 << -0.000005 << 0.000005 << -0.000005 << "A@??";
    QTest::newRow("large negative") << -179.98321 << -90.0 << 0.0 << 0.0 << "`~oia@~bidPa~oia@_cidP";
}

void tst_MapImageUrl::polyline()
{
    QFETCH(double, fromLat);
    QFETCH(double, fromLon);
    QFETCH(double, toLat);
    QFETCH(double, toLon);
    QFETCH(QString, encoded);
    QCOMPARE(TovraApiManager::EncodePolyline(fromLat, fromLon, toLat, toLon), encoded);
}

void tst_MapImageUrl::url_data()
{
    QTest::addColumn<bool>("b2b");
    QTest::addColumn<bool>("hiDpi");
    QTest::addColumn<bool>("drawPath");
    QTest::addColumn<QString>("expected");

    const QString self = QStringLiteral("url-https%3A%2F%2Fportal.test%3A8443%2Fassets%2Fimg%2Fmapbox_marker_self");
    const QString srv = QStringLiteral(",url-https%3A%2F%2Fportal.test%3A8443%2Fassets%2Fimg%2Fmapbox_marker_srv");
    const QString base = QStringLiteral("https://maps.test/styles/v1/mapbox/streets-v11/static/");
    const QString token = BuildConstants::mapAccessToken();
    QTest::newRow("regular user, normal screen")
        << false << false << false
        << base + self + ".png(4.89517,52.3702)" + srv + ".png(-120.2,38.5)/auto/417x194?access_token=" + token;
    QTest::newRow("b2b user, normal screen")
        << true << false << false
        << base + self + ".png(4.89517,52.3702)" + srv + ".png(-120.2,38.5)/auto/417x174?access_token=" + token;
    QTest::newRow("b2b user, high density") << true << true << false
                                            << base + self + "_2x.png(4.89517,52.3702)" + srv +
                                                   "_2x.png(-120.2,38.5)/auto/417x174@2x?access_token=" + token;
    QTest::newRow("regular user, high density, route")
        << false << true << true
        << base + "path-2+F38827-1({ps~Hya{\\z_tsAxsozV)," + self + "_2x.png(4.89517,52.3702)" + srv +
               "_2x.png(-120.2,38.5)/auto/417x194@2x?access_token=" + token;
}

void tst_MapImageUrl::url()
{
    QFETCH(bool, b2b);
    QFETCH(bool, hiDpi);
    QFETCH(bool, drawPath);
    QFETCH(QString, expected);
    TovraUserData user;
    user.isB2b = b2b;
    AppContext::instance()->authManager()->OnUserDataChecked(TovraAuthManager::AuthSuccess, user);
    AppContext::instance()->config()->highDpiScreen = hiDpi;
    const QString url =
        AppContext::instance()->apiManager()->MapImageUrl(4.8951679, 52.3702157, -120.2, 38.5, drawPath);
    QCOMPARE(url, expected);
}

QTEST_MAIN(tst_MapImageUrl)
#include "tst_mapimageurl.moc"
