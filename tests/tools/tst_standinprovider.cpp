// The stand-in provider's own behaviour that the client suites do not drive: refusals, the demo logic
// behind sign-in and server choice, script narrowing, tickets, portal pages and the program's life.
#include "support/standinprovider.h"

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
    QTest::addColumn<bool>("portal");
    QTest::addColumn<QByteArray>("request"); // method, path and query
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("needle"); // in the body, or the whole Location of a redirect
    const auto api = [](const char *name, const char *request, const char *token, const char *body, int status,
                        const char *needle = "") {
        QTest::newRow(name) << false << QByteArray(request) << QByteArray(token) << QByteArray(body) << status
                            << QByteArray(needle);
    };
    const auto portal = [](const char *name, const char *request, int status, const char *needle = "") {
        QTest::newRow(name) << true << QByteArray(request) << QByteArray() << QByteArray() << status
                            << QByteArray(needle);
    };
    api("no token", "GET /users/me/plan", "", "", 401);
    api("unknown token", "GET /users/me/plan", "nope", "", 401);
    api("unknown path", "GET /users/me/nothing", "demo-token-active", "", 404);
    api("wrong method", "GET /auth/email", "", "", 405);
    api("body not JSON", "POST /auth/email", "", "{\"email\": ", 400);
    api("body an array", "POST /auth/google", "", "[1]", 400);
    api("ticket log not Base64", "POST /users/anonymous/ticket", "", "{\"client_log\": \"**\"}", 400);
    api("account link to another host", "GET /users/me/auto_auth_url?goto=https://evil.example/", "demo-token-active",
        "", 400);
    const char *email = "POST /auth/email";
    api("e-mail: address in other case", email, "", R"({"email":"Business@Tovra.Test","password":"Business-2026"})",
        200, "\"demo-token-business\"");
    api("e-mail: wrong password", email, "", R"({"email":"active@tovra.test","password":"active-2026"})", 401);
    api("e-mail: unknown address", email, "", R"({"email":"x@tovra.test","password":"Active-2026"})", 404);
    api("e-mail: blocked IP", email, "", R"({"email":"blocked@tovra.test","password":"Blocked-2026"})", 503);
    api("google: other redirect", "POST /auth/google", "",
        R"({"code":"4/0Ab","redirect_uri":"http://127.0.0.1:56743"})", 401);
    api("facebook: forged token", "POST /auth/facebook", "", R"({"secure_token":"forged"})", 401);
    const char *best = "GET /users/me/servers/best?is_p2p=false&is_streaming=true&country_code=";
    api("best skips the full server", QByteArray(best + QByteArray("de")), "demo-token-active", "", 200,
        "\"short_name\":\"de-mun-01\"");
    api("best for a business account is B2B",
        "GET /users/me/servers/best?country_code=NL&is_p2p=false&is_streaming=false", "demo-token-business", "", 200,
        "\"short_name\":\"b2b-nl-01\"");
    api("best of no such category", "GET /users/me/servers/best?country_code=ro&is_p2p=true&is_streaming=true",
        "demo-token-active", "", 404);
    api("best with a flag not a boolean", "GET /users/me/servers/best?country_code=nl&is_p2p=1&is_streaming=false",
        "demo-token-active", "", 400);
    portal("unknown page", "GET /nothing.php", 404);
    portal("POST to a page", "POST /register.php", 404);
    portal("facebook redirect to the listener", "GET /fbredirect.php?code=A%2Fb&state=xyz", 302,
           "http://127.0.0.1:56743/?code=A%2Fb&state=xyz");
    portal("map without token", "GET /styles/v1/mapbox/streets-v11/static/auto/417x194", 401);
    const char *token = "GET /v5.0/oauth/access_token?client_id=1&client_secret=2&code=ABC&redirect_uri=";
    portal("facebook token: portal of another port",
           QByteArray(token + QByteArray("https://127.0.0.1:1/fbredirect.php")), 200,
           "\"access_token\":\"EAAFdemoActive\"");
    portal("facebook token: other host", QByteArray(token + QByteArray("https://evil.example/fbredirect.php")), 400,
           "OAuthException");
}

void TestStandInProvider::answers()
{
    QFETCH(bool, portal);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, token);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QByteArray, needle);
    const QString path = QString::fromLatin1(request.mid(request.indexOf(' ') + 1));
    const Response response = call(request.left(request.indexOf(' ')),
                                   (portal ? m_provider.portalUrl() : m_provider.apiUrl()) + path, body, token);
    QCOMPARE(response.status, status);
    if (status == 302)
        QVERIFY(response.headers.contains({"Location", needle}));
    else
        QVERIFY2(response.body.contains(needle), response.body.constData());
    // An API refusal says why, and hands out nothing.
    const QJsonObject answer = QJsonDocument::fromJson(response.body).object();
    if (!portal && status >= 400)
        QVERIFY2(answer.keys() == QStringList{"error"} && !answer.value("error").toString().isEmpty(),
                 response.body.constData());
    const QJsonArray recorded = m_provider.requests(QUrl(path).path());
    QCOMPARE(recorded.last()[QLatin1String("origin")].toString(), QLatin1String(portal ? "portal" : "api"));
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
    const QJsonObject ticket{{"name", "Jo"},
                             {"subject", "s"},
                             {"client_log", QString::fromLatin1(log.toBase64())},
                             {"collected_data", QString::fromLatin1(data.toBase64())}};
    const Response answer =
        call("POST", m_provider.apiUrl() + "/users/me/ticket", QJsonDocument(ticket).toJson(), "demo-token-quotes");
    QCOMPARE(answer.status, 200);
    const QString url = QJsonDocument::fromJson(answer.body)["url"].toString();
    const QJsonObject stored = m_provider.tickets().at(0).toObject();
    QCOMPARE(stored["account"].toString(), QStringLiteral("quotes@tovra.test"));
    QCOMPARE(stored["clientLog"].toString(), QString::fromUtf8(log));
    QFile file(QStringLiteral("%1/tickets/%2/collected_data").arg(m_provider.statePath()).arg(stored["id"].toInt()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), data);
    // The ticket page opens with its check code only.
    QCOMPARE(call("GET", url).status, 200);
    QCOMPARE(call("GET", url.left(url.indexOf(QLatin1String("&c=")))).status, 404);

    const Response link = call("GET", m_provider.apiUrl() + "/users/me/auto_auth_url?goto=clientarea.php%23annual", {},
                               "demo-token-limited");
    const QString once = QJsonDocument::fromJson(link.body)["url"].toString();
    QVERIFY(call("GET", once)
                .headers.contains(
                    {"Location", (m_provider.portalUrl() + QStringLiteral("/clientarea.php#annual")).toUtf8()}));
    QCOMPARE(call("GET", once).status, 403);
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
    QFile cert(m_provider.statePath() + QStringLiteral("/cert.pem"));
    QVERIFY(cert.open(QIODevice::ReadOnly));
    const QByteArray pem = cert.readAll();
    // A second program on the same state folder serves the same certificate.
    StandInProvider second;
    QVERIFY2(second.start({"--state", m_provider.statePath()}), qPrintable(second.errorString()));
    QVERIFY(second.stop());
    cert.seek(0);
    QCOMPARE(cert.readAll(), pem);

    QProcess clash;
    QTemporaryDir state;
    clash.start(QStringLiteral(TOVRA_PROVIDER_EXE),
                {"--api-port", QString::number(m_provider.apiPort()), "--portal-port", "0", "--state", state.path()});
    QVERIFY(clash.waitForFinished(30000));
    QCOMPARE(clash.exitCode(), 1);
    QVERIFY(clash.readAllStandardError().contains("cannot listen on 127.0.0.1"));
    QVERIFY(!clash.readAllStandardOutput().contains("LISTENING"));
}

QTEST_GUILESS_MAIN(TestStandInProvider)
#include "tst_standinprovider.moc"
