// The stand-in provider's own behaviour that the client suites do not drive: refusals, the demo logic
// behind sign-in and server choice, script narrowing, tickets, portal pages and the program's life.
#include "support/standinprovider.h"
#include "support/testfiles.h"

#include <QImage>
#include <QSslSocket>
#include <QtTest>

using Response = StandInProvider::Response;

class TestStandInProvider : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(m_provider.start(), qPrintable(m_provider.errorString())); }
    void init() { QVERIFY2(m_provider.reset(), qPrintable(m_provider.errorString())); }
    void cleanupTestCase();
    void answers_data();
    void answers();
    void scriptsAreNarrowed();
    void ticketsAndAccountLink();
    void survivesGarbage();
    void certificateAndPort();
    void demoWorldOptions();
    void map_data();
    void map();

private:
    Response call(const QByteArray &method, const QString &url, const QByteArray &body = {},
                  const QByteArray &token = {})
    {
        QList<QPair<QByteArray, QByteArray>> headers{{"Content-Type", "application/json"}};
        if (!token.isEmpty())
            headers.append({"Authorization", "Bearer: " + token});
        return m_provider.call(method, url, body, headers);
    }
    StandInProvider m_provider;
};

void TestStandInProvider::cleanupTestCase()
{
    // A clean SIGTERM stop also shows the bad requests did not kill it.
    QVERIFY2(m_provider.stop(), m_provider.output().constData());
    QVERIFY(m_provider.output().contains("STOPPED"));
}

void TestStandInProvider::answers_data()
{
    QTest::addColumn<QByteArray>("request"); // origin, method, path with query, and a demo account's token
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("needle"); // in the body, or the whole Location of a redirect
    const auto row = [](const char *name, const char *request, const char *body, int status, const char *needle = "") {
        QTest::newRow(name) << QByteArray(request) << QByteArray(body) << status << QByteArray(needle);
    };
    row("no token", "api GET /users/me/plan", "", 401);
    row("unknown token", "api GET /users/me/plan nope", "", 401);
    row("unknown path", "api GET /users/me/nothing demo-token-active", "", 404);
    row("wrong method", "api GET /auth/email", "", 405);
    row("body not JSON", "api POST /auth/email", "{\"email\": ", 400);
    row("body an array", "api POST /auth/google", "[1]", 400);
    row("ticket log not Base64", "api POST /users/anonymous/ticket", "{\"client_log\": \"**\"}", 400);
    row("account link to another host", "api GET /users/me/auto_auth_url?goto=https://evil.example/ demo-token-active",
        "", 400);
    row("e-mail: address in other case", "api POST /auth/email",
        R"({"email":"Business@Tovra.Test","password":"Business-2026"})", 200, "\"demo-token-business\"");
    row("e-mail: wrong password", "api POST /auth/email", R"({"email":"active@tovra.test","password":"active-2026"})",
        401);
    row("e-mail: unknown address", "api POST /auth/email", R"({"email":"x@tovra.test","password":"Active-2026"})", 404);
    row("e-mail: blocked IP", "api POST /auth/email", R"({"email":"blocked@tovra.test","password":"Blocked-2026"})",
        503);
    row("google: other redirect", "api POST /auth/google",
        R"({"code":"4/0Ab","redirect_uri":"http://127.0.0.1:56743"})", 401);
    row("facebook: forged token", "api POST /auth/facebook", R"({"secure_token":"forged"})", 401);
    // The OpenVPN server's question: an account's address with that account's API token.
    row("vpn login", "api POST /openvpn/login", R"({"username":"trial@tovra.test","password":"demo-token-trial"})", 200,
        "\"ok\"");
    row("vpn login: another account's token", "api POST /openvpn/login",
        R"({"username":"trial@tovra.test","password":"demo-token-active"})", 403);
    row("vpn login: the password", "api POST /openvpn/login",
        R"({"username":"trial@tovra.test","password":"Trial-2026"})", 403);
    row("vpn login: unknown address", "api POST /openvpn/login", R"({"username":"x@tovra.test","password":""})", 403);
    // The least loaded live server below 100 % of the country with the asked features.
    const auto best = [&row](const char *name, const char *query, int status, const char *needle = "") {
        row(name,
            qPrintable(QStringLiteral("api GET /users/me/servers/best?country_code=%1").arg(QLatin1String(query))), "",
            status, needle);
    };
    best("best skips the dead server", "fr&is_p2p=false&is_streaming=true demo-token-active", 200, "\"fr-mar-01\"");
    best("best for business is B2B", "NL&is_p2p=false&is_streaming=false demo-token-business", 200, "\"b2b-nl-01\"");
    best("best of no such category", "ro&is_p2p=true&is_streaming=true demo-token-active", 404);
    best("best with a flag not a boolean", "nl&is_p2p=1&is_streaming=false demo-token-active", 400);
    row("unknown page", "portal GET /nothing.php", "", 404);
    row("POST to a page", "portal POST /register.php", "", 404);
    row("facebook redirect to the listener", "portal GET /fbredirect.php?code=A%2Fb&state=xyz", "", 302,
        "http://127.0.0.1:56743/?code=A%2Fb&state=xyz");
    row("map without token", "portal GET /styles/v1/mapbox/streets-v11/static/auto/417x194", "", 401);
    row("facebook token: portal of another port",
        "portal GET /v5.0/oauth/access_token?client_id=1&client_secret=2&"
        "code=ABC&redirect_uri=https://127.0.0.1:1/fbredirect.php",
        "", 200, "\"access_token\":\"EAAFdemoActive\"");
    row("facebook token: other host",
        "portal GET /v5.0/oauth/access_token?client_id=1&client_secret=2&code=ABC&"
        "redirect_uri=https://evil.example/fbredirect.php",
        "", 400, "OAuthException");
}

void TestStandInProvider::answers()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QByteArray, needle);
    const QList<QByteArray> parts = request.split(' ');
    const bool portal = parts.at(0) == "portal";
    const QString path = QString::fromLatin1(parts.at(2));
    const Response response =
        call(parts.at(1), (portal ? m_provider.portalUrl() : m_provider.apiUrl()) + path, body, parts.value(3));
    QCOMPARE(response.status, status);
    QVERIFY2(status == 302 ? response.headers.contains({"Location", needle}) : response.body.contains(needle),
             response.body.constData());
    // An API refusal says why, and hands out nothing.
    const QJsonObject answer = QJsonDocument::fromJson(response.body).object();
    QVERIFY2(portal || status < 400 || (answer.keys() == QStringList{"error"} && answer["error"].toString() != ""),
             response.body.constData());
    QCOMPARE(m_provider.requests(QUrl(path).path()).last()[QLatin1String("origin")].toString(),
             QString::fromLatin1(parts.at(0)));
}

void TestStandInProvider::scriptsAreNarrowed()
{
    const QByteArray plan = call("GET", m_provider.apiUrl() + "/users/me/plan", {}, "demo-token-active").body;
    for (const char *narrowing : {R"("method":"POST")", R"("origin":"portal")"})
        QVERIFY(m_provider.script(
            QJsonDocument::fromJson(QByteArray(R"({"path":"/users/me/plan","status":502,)") + narrowing + '}')
                .object()));
    QVERIFY(m_provider.script(QJsonObject{{"path", "/nowhere"}, {"status", 200}, {"body", QJsonObject{{"a", 1}}}}));
    QCOMPARE(call("GET", m_provider.apiUrl() + "/users/me/plan", {}, "demo-token-active").body, plan);
    QCOMPARE(call("GET", m_provider.apiUrl() + "/nowhere").body, QByteArray(R"({"a":1})"));
    QVERIFY(m_provider.reset());
    QCOMPARE(call("GET", m_provider.apiUrl() + "/nowhere").status, 404);
}

void TestStandInProvider::ticketsAndAccountLink()
{
    const QByteArray log("line one\nline two\n\xc3\xa9"), data("ipconfig output\r\n");
    const QJsonObject ticket{{"client_log", QString::fromLatin1(log.toBase64())},
                             {"collected_data", QString::fromLatin1(data.toBase64())}};
    const Response answer =
        call("POST", m_provider.apiUrl() + "/users/me/ticket", QJsonDocument(ticket).toJson(), "demo-token-quotes");
    const QString url = QJsonDocument::fromJson(answer.body)["url"].toString();
    const QJsonObject stored = m_provider.tickets().at(0).toObject();
    QCOMPARE(stored["account"].toString() + stored["clientLog"].toString() + stored["collectedData"].toString(),
             "quotes@tovra.test" + QString::fromUtf8(log + data));
    // The ticket page opens with its check code only.
    QCOMPARE(call("GET", url).status, 200);
    QCOMPARE(call("GET", url.left(url.indexOf(QLatin1String("&c=")))).status, 404);

    const QString link = m_provider.apiUrl() + "/users/me/auto_auth_url?goto=x%23y";
    const QString once = QJsonDocument::fromJson(call("GET", link, {}, "demo-token-limited").body)["url"].toString();
    const QByteArray target = (m_provider.portalUrl() + "/x#y").toUtf8();
    QVERIFY(call("GET", once).headers.contains({"Location", target}));
    QCOMPARE(call("GET", once).status, 403); // used up
}

void TestStandInProvider::survivesGarbage()
{
    // Not HTTP inside TLS.
    QSslSocket tls;
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    tls.connectToHostEncrypted(QStringLiteral("127.0.0.1"), m_provider.apiPort());
    QVERIFY(tls.waitForEncrypted(20000));
    tls.write("\x01\x02 NOT HTTP\r\n\r\n");
    QByteArray answer;
    while (tls.waitForReadyRead(20000))
        answer += tls.readAll();
    QVERIFY2(answer.startsWith("HTTP/1.1 400"), answer.constData());
    // A client that hangs up mid-handshake.
    QTcpSocket quitter;
    quitter.connectToHost(QStringLiteral("127.0.0.1"), m_provider.apiPort());
    QVERIFY(quitter.waitForConnected(20000));
    quitter.write(QByteArray("\x16\x03\x01\x02\x00\x01", 6));
    QVERIFY(quitter.waitForBytesWritten(20000));
    quitter.abort();
    QCOMPARE(call("GET", m_provider.apiUrl() + "/users/me", {}, "demo-token-active").status, 200);
}

void TestStandInProvider::certificateAndPort()
{
    const QString cert = m_provider.statePath() + QStringLiteral("/cert.pem");
    const QByteArray pem = readFile(cert);
    QVERIFY(!pem.isEmpty());
    // A second program on the same state folder serves the same certificate.
    StandInProvider second;
    QVERIFY2(second.start({"--state", m_provider.statePath()}), qPrintable(second.errorString()));
    QVERIFY(second.stop());
    QCOMPARE(readFile(cert), pem);

    QProcess clash;
    QTemporaryDir state;
    clash.start(QStringLiteral(TOVRA_PROVIDER_EXE),
                {"--api-port", QString::number(m_provider.apiPort()), "--portal-port", "0", "--state", state.path()});
    QVERIFY(clash.waitForFinished(30000) && clash.exitCode() == 1);
    QVERIFY(clash.readAllStandardError().contains("cannot listen on 127.0.0.1"));
    QVERIFY(!clash.readAllStandardOutput().contains("LISTENING"));
}

// As the demo world starts it: the IP answer is the caller's address and the OpenVPN configurations carry the
// world's CA; another listening address gets a certificate of its own.
void TestStandInProvider::demoWorldOptions()
{
    QTemporaryDir dir;
    const QByteArray ca = "-----BEGIN CERTIFICATE-----\nV09STEQ=\n-----END CERTIFICATE-----\n";
    QVERIFY(writeFile(dir.filePath("ca.crt"), ca));
    StandInProvider world;
    QVERIFY2(world.start({"--report-peer-address", "--openvpn-ca", dir.filePath("ca.crt"), "--state", dir.path()}),
             qPrintable(world.errorString()));
    Response ip = call("GET", world.apiUrl() + "/users/me/ip", {}, "demo-token-active");
    QCOMPARE(QJsonDocument::fromJson(ip.body)["ip"].toString(), QStringLiteral("127.0.0.1"));
    for (const char *protocol : {"tcp", "udp"}) {
        const Response config = call("GET", world.apiUrl() + "/config/openvpn/" + protocol, {}, "demo-token-active");
        const QString text = QJsonDocument::fromJson(config.body)["openvpn_config"].toString();
        QVERIFY2(text.contains("<ca>\n" + ca + "</ca>") && !text.contains("MIIB"), qPrintable(text));
    }
    QVERIFY(world.stop());

    QProcess other;
    other.start(QStringLiteral(TOVRA_PROVIDER_EXE),
                {"--listen", "127.0.0.2", "--api-port", "0", "--portal-port", "0", "--state", dir.path()});
    QVERIFY(other.waitForReadyRead(30000));
    other.terminate();
    QVERIFY(other.waitForFinished(30000));
    QVERIFY(QFile::exists(dir.filePath("cert-127.0.0.2.pem")));
    QProcess text;
    text.start("openssl", {"x509", "-noout", "-ext", "subjectAltName", "-in", dir.filePath("cert-127.0.0.2.pem")});
    QVERIFY(text.waitForFinished(30000));
    QVERIFY(text.readAll().contains("IP Address:127.0.0.1, DNS:localhost, IP Address:127.0.0.2"));
    other.start(QStringLiteral(TOVRA_PROVIDER_EXE), {"--listen", "::1", "--state", dir.path()});
    QVERIFY(other.waitForFinished(30000) && other.exitCode() == 1);
    QVERIFY(other.readAllStandardError().contains("--listen takes an IPv4 address"));
}

// The static map as the client asks for it: land and sea of the world at the asked size and density, the user's
// pin, and the server's with the route between them once connected.
void TestStandInProvider::map_data()
{
    QTest::addColumn<QString>("overlays");
    QTest::addColumn<int>("scale");
    QTest::addColumn<bool>("route");
    const auto encoded = [](const QString &text) { return QString::fromLatin1(QUrl::toPercentEncoding(text)); };
    const QString self = "url-" + encoded(m_provider.portalUrl() + "/assets/img/mapbox_marker_self.png");
    const QString server = "url-" + encoded(m_provider.portalUrl() + "/assets/img/mapbox_marker_srv.png");
    // Amsterdam to New York, as an encoded polyline.
    const QString path = "path-2+F38827-1(" + encoded("oos~H_`|\\nhffA~cq`N") + "),";
    QTest::newRow("user only") << self + "(4.9,52.37)" << 1 << false;
    QTest::newRow("disconnected") << self + "(4.9,52.37)," + server + "(-74,40.7)" << 1 << false;
    QTest::newRow("connected, high density") << path + self + "(4.9,52.37)," + server + "(-74,40.7)" << 2 << true;
}

void TestStandInProvider::map()
{
    QFETCH(QString, overlays);
    QFETCH(int, scale);
    QFETCH(bool, route);
    const Response response = call("GET", m_provider.portalUrl() + "/styles/v1/mapbox/streets-v11/static/" + overlays +
                                              "/auto/417x194" + (scale == 2 ? "@2x" : "") + "?access_token=pk.demo");
    QCOMPARE(response.status, 200);
    const QImage image = QImage::fromData(response.body, "PNG").convertToFormat(QImage::Format_RGB32);
    QCOMPARE(image.size(), QSize(417, 194) * scale);
    // Pixels near a colour, counted in 1x pixels.
    const auto share = [&image, scale](QRgb colour) {
        int n = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = image.pixel(x, y);
                n += qAbs(qRed(p) - qRed(colour)) + qAbs(qGreen(p) - qGreen(colour)) + qAbs(qBlue(p) - qBlue(colour)) <
                     30;
            }
        return n / (scale * scale);
    };
    const int land = share(qRgb(0xf4, 0xf1, 0xea)), sea = share(qRgb(0xc8, 0xdf, 0xea));
    QVERIFY2(land > 4000 && sea > 4000, qPrintable(QString("land %1, sea %2").arg(land).arg(sea)));
    QVERIFY(share(qRgb(0x2f, 0x80, 0xed)) > 150); // the user's pin
    const int orange = share(qRgb(0xf3, 0x88, 0x27));
    QVERIFY2(overlays.contains("srv") ? orange > 150 : orange == 0, qPrintable(QString::number(orange)));
    QVERIFY2(route == (orange > 600), qPrintable(QString::number(orange))); // a pin, or a pin and the route
}

QTEST_GUILESS_MAIN(TestStandInProvider)
#include "tst_standinprovider.moc"
