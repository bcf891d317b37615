#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "api/tovraauthmanager.h"
#include "api/tovrafacebookauthmanager.h"
#include "api/tovragoogleauthmanager.h"
#include "app/appcontext.h"
#include "app/buildconstants.h"
#include "support/standinprovider.h"

static const quint16 kListenerPort = 56743;
using Pieces = QList<QByteArray>;

// What the browser must get back, written out here rather than taken from the client.
static QByteArray ExpectedAnswer(const QString &landingPage)
{
    const QByteArray page = "<HTML><HEAD></HEAD><BODY><script type=\"text/javascript\">function closeWindow() { var "
                            "win = window.open('" +
                            landingPage.toUtf8() +
                            "', '_self'); win.close(); } window.onload = closeWindow();</script><center><h3><p>"
                            "Redirecting to Tovra portal...</p></h3></center></BODY></HTML>";
    return "HTTP/1.0 200 OK \r\nContent-Type: text/html; charset=\"utf-8\"\r\nContent-Length: " +
           QByteArray::number(page.size()) + "\r\n\r\n" + page;
}

// A browser coming back to the listener: sends its request in pieces and collects the answer until the
// client closes the connection. Returns false, with the socket's error, when it could not connect.
static bool Browse(const Pieces &pieces, QByteArray *answer = nullptr, bool closeAfterSending = false,
                   QAbstractSocket::SocketError *error = nullptr, const QHostAddress &host = QHostAddress::LocalHost)
{
    QTcpSocket socket;
    QSignalSpy disconnected(&socket, &QTcpSocket::disconnected);
    socket.connectToHost(host, kListenerPort);
    (void)QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState || socket.error() >= 0; },
                          10000);
    if (socket.state() != QAbstractSocket::ConnectedState) {
        if (error)
            *error = socket.error();
        return false;
    }
    for (int i = 0; i < pieces.size(); ++i) {
        socket.write(pieces.at(i));
        socket.flush();
        // Let the client read this piece on its own before the next one comes.
        if (i + 1 < pieces.size())
            QTest::qWait(200);
    }
    if (closeAfterSending)
        socket.disconnectFromHost();
    if (socket.state() != QAbstractSocket::UnconnectedState)
        disconnected.wait(30000);
    if (answer)
        *answer = socket.readAll();
    return true;
}

// One of the two flows, so both can run through the same cases.
struct Flow
{
    std::function<void()> login, cancel;
    std::unique_ptr<QSignalSpy> finished, failed;
    QString authPath, landingPage, consentUrl;
    QByteArray goodRequest; // a redirect the stand-in provider signs in with
};

class tst_SocialAuth : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void signIn_data();
    void signIn();
    void failures_data();
    void failures();
    void listener();
    void cancelDuringGraphRequest();

private:
    Flow makeFlow(const QString &name);
    // The browser returns with request; the flow signs in with the stand-in and reports once.
    void finishSignIn(Flow &flow, const Pieces &request);

    ProviderFixture m_fixture;
    StandInProvider &m_provider = m_fixture.provider;
    TovraFacebookAuthManager *m_facebook = AppContext::instance()->facebookAuthManager();
    TovraGoogleAuthManager *m_google = AppContext::instance()->googleAuthManager();
    TovraAuthManager *m_auth = AppContext::instance()->authManager();
};

void tst_SocialAuth::initTestCase()
{
    QVERIFY2(m_fixture.start(), qPrintable(m_provider.errorString()));
    const QString portal = m_provider.portalUrl();
    m_facebook->setConsentUrlPrefix(portal + "/v5.0/dialog/oauth?response_type=code&");
    m_facebook->setAccessTokenUrlPrefix(portal + "/v5.0/oauth/access_token?");
    m_facebook->setProfileUrlPrefix(portal + "/me?fields=id,email&");
    m_facebook->setRedirectUri(portal + "/fbredirect.php");
    m_facebook->setLandingPageUrl(portal + "/facebook.php");
    m_google->setConsentUrlPrefix(portal + "/o/oauth2/v2/auth?");
    m_google->setLandingPageUrl(portal + "/google.php");
}

void tst_SocialAuth::init()
{
    QVERIFY2(m_fixture.reset(), qPrintable(m_provider.errorString()));
    m_auth->DeleteToken();
}

void tst_SocialAuth::cleanup()
{
    m_facebook->CancelLoginViaFacebook();
    m_google->CancelLoginViaGoogle();
    // Let replies and sockets of the case settle before the next one.
    QTest::qWait(100);
}

Flow tst_SocialAuth::makeFlow(const QString &name)
{
    Flow flow;
    const QString portal = m_provider.portalUrl();
    if (name == "facebook") {
        flow.login = [this] { m_facebook->LoginViaFacebook(); };
        flow.cancel = [this] { m_facebook->CancelLoginViaFacebook(); };
        flow.finished = std::make_unique<QSignalSpy>(m_facebook, &TovraFacebookAuthManager::LoginViaFacebookFinished);
        flow.failed = std::make_unique<QSignalSpy>(m_facebook, &TovraFacebookAuthManager::LoginViaFacebookFailed);
        flow.consentUrl = portal +
                          "/v5.0/dialog/oauth?response_type=code&client_id=" + BuildConstants::facebookAppId() +
                          "&redirect_uri=" + portal + "/fbredirect.php&scope=email&api_key";
        flow.goodRequest = "GET /?code=ABC&state=xyz HTTP/1.1\r\n\r\n";
    } else {
        flow.login = [this] { m_google->LoginViaGoogle(); };
        flow.cancel = [this] { m_google->CancelLoginViaGoogle(); };
        flow.finished = std::make_unique<QSignalSpy>(m_google, &TovraGoogleAuthManager::LoginViaGoogleFinished);
        flow.failed = std::make_unique<QSignalSpy>(m_google, &TovraGoogleAuthManager::LoginViaGoogleFailed);
        flow.consentUrl = portal +
                          "/o/oauth2/v2/auth?scope=profile%20email&state=state_parameter_passthrough_value&"
                          "redirect_uri=http://127.0.0.1:56743/&response_type=code&client_id=" +
                          BuildConstants::googleClientId();
        flow.goodRequest = "GET /?state=state_parameter_passthrough_value&code=4%2F0Ab HTTP/1.1\r\n\r\n";
    }
    flow.authPath = "/auth/" + name;
    flow.landingPage = portal + "/" + name + ".php";
    return flow;
}

void tst_SocialAuth::finishSignIn(Flow &flow, const Pieces &request)
{
    QSignalSpy signedIn(m_auth, &TovraAuthManager::UserDataReceived);
    const int failedBefore = flow.failed->count();
    QByteArray answer;
    QVERIFY(Browse(request, &answer));
    QCOMPARE(answer, ExpectedAnswer(flow.landingPage));
    QVERIFY(signedIn.wait(30000));
    QCOMPARE(signedIn.first().first().value<TovraAuthManager::eAuthResults>(), TovraAuthManager::AuthSuccess);
    QCOMPARE(flow.finished->count(), 1);
    QCOMPARE(flow.failed->count(), failedBefore);
    QCOMPARE(m_provider.requests(flow.authPath).size(), 1);
}

void tst_SocialAuth::signIn_data()
{
    QTest::addColumn<QString>("flow");
    QTest::addColumn<Pieces>("request");
    QTest::addColumn<QString>("code");  // as sent to Graph (Facebook) or to the API (Google)
    QTest::addColumn<QString>("token"); // Facebook: the Graph access token the stand-in hands out for the code
    QTest::addColumn<QString>("email"); // Facebook: in the record when the flow finishes

    const QByteArray host("Host: 127.0.0.1:56743\r\n\r\n");
    QTest::newRow("facebook: request line in two pieces, split inside the code")
        << "facebook" << Pieces{"GET /?code=AB", "C&state=xyz HTTP/1.1\r\n" + host} << "code=ABC&state=xyz"
        << "EAAFdemoActive"
        << "active@tovra.test";
    QTest::newRow("facebook: profile without e-mail, request line ended by a bare line feed")
        << "facebook" << Pieces{"GET /?code=fb-noemail HTTP/1.0\n\n"} << "code=fb-noemail"
        << "EAAFdemoNoEmail"
        << "104729384756102@" + BuildConstants::facebookMailDomain();
    QTest::newRow("google: request line in two pieces, split inside an escape")
        << "google" << Pieces{"GET /?state=state_parameter_passthrough_value&code=4%2", "F0Ab HTTP/1.1\r\n" + host}
        << "4/0Ab" << QString() << QString();
    QTest::newRow("google: scope, authuser and prompt after the code")
        << "google"
        << Pieces{"GET /?state=state_parameter_passthrough_value&code=4%2F0Business&scope=email%20profile&"
                  "authuser=0&prompt=consent HTTP/1.1\r\n" +
                  host}
        << "4/0Business" << QString() << QString();
}

void tst_SocialAuth::signIn()
{
    QFETCH(QString, flow);
    QFETCH(Pieces, request);
    QFETCH(QString, code);
    QFETCH(QString, token);
    QFETCH(QString, email);
    Flow f = makeFlow(flow);
    QString emailAtFinish;
    QObject receiver; // ends the connection with this case
    connect(m_facebook, &TovraFacebookAuthManager::LoginViaFacebookFinished, &receiver,
            [&] { emailAtFinish = m_auth->userData().email; });

    f.login();
    QCOMPARE(m_fixture.opened.size(), 1);
    QCOMPARE(QString::fromUtf8(m_fixture.opened.first().toEncoded()), f.consentUrl);
    finishSignIn(f, request);
    // The app secret, the Graph token, the API token and the authorization code are logged as stars only.
    const QString rawCode = flow == "facebook" ? code.mid(5).section('&', 0, 0) : code;
    for (const QString &secret : {BuildConstants::facebookAppSecret(), token, m_auth->userData().token, rawCode,
                                  QString::fromLatin1(QUrl::toPercentEncoding(rawCode))})
        QVERIFY2(secret.isEmpty() || !m_fixture.logged(secret), qPrintable(LogCapture::dump()));
    QCOMPARE(LogCapture::contains("Facebook access token found: " + QString(token.size(), '*')), flow == "facebook");

    QStringList graph;
    for (const QString &path : {QStringLiteral("/v5.0/oauth/access_token"), QStringLiteral("/me")}) {
        for (const QJsonValue &value : m_provider.requests(path))
            graph << value.toObject().value("target").toString();
    }
    const QString signInBody = m_fixture.lastRequest(f.authPath).value("body").toString();
    if (flow == "facebook") {
        QCOMPARE(graph, QStringList({"/v5.0/oauth/access_token?client_id=" + BuildConstants::facebookAppId() +
                                         "&client_secret=" + BuildConstants::facebookAppSecret() +
                                         "&scope&redirect_uri=" + m_provider.portalUrl() + "/fbredirect.php&" + code,
                                     "/me?fields=id,email&access_token=" + token}));
        QCOMPARE(emailAtFinish, email);
        QCOMPARE(signInBody, "{\n    \"secure_token\": \"" + token + "\"\n}\n");
    } else {
        QVERIFY(graph.isEmpty());
        QCOMPARE(signInBody,
                 "{\n    \"code\": \"" + code + "\",\n    \"redirect_uri\": \"http://127.0.0.1:56743/\"\n}\n");
    }
}

void tst_SocialAuth::failures_data()
{
    QTest::addColumn<QString>("flow");
    QTest::addColumn<Pieces>("request");
    QTest::addColumn<QString>("log");
    QTest::addColumn<QJsonObject>("script"); // the stand-in's answer, if scripted
    QTest::addColumn<bool>("closeEarly");

    const Pieces abc{"GET /?code=ABC&state=xyz HTTP/1.1\r\n\r\n"};
    const auto answer = [](const QString &path, int status, const QString &body) {
        return QJsonObject{{"path", path}, {"status", status}, {"body", body}};
    };
    const auto row = [](const char *name, const QString &flow, const Pieces &request, const QString &log,
                        const QJsonObject &script = QJsonObject(), bool closeEarly = false) {
        QTest::newRow(name) << flow << request << log << script << closeEarly;
    };
    row("facebook: code unknown to Graph", "facebook", {"GET /?code=nope HTTP/1.1\r\n\r\n"},
        "Network error occurred during facebook access token request: ");
    row("facebook: token reply without access_token", "facebook", abc, "Access token not found. Emitting error",
        answer("/v5.0/oauth/access_token", 200, "{\"token_type\":\"bearer\"}"));
    row("facebook: profile request fails", "facebook", abc,
        "Network error occurred during facebook id request: ", answer("/me", 500, "{}"));
    row("facebook: profile without id", "facebook", abc, "Facebook id not found. Emitting error",
        answer("/me", 200, "{\"email\":\"a@b.test\"}"));
    row("facebook: consent refused, error_code is no code", "facebook",
        {"GET /?error_code=200&error=access_denied HTTP/1.1\r\n\r\n"},
        "Facebook code not found, login via facebook terminated");
    row("google: consent refused", "google",
        {"GET /?state=state_parameter_passthrough_value&error=access_denied HTTP/1.1\r\n\r\n"},
        "Google code not found, login via google terminated");
    row("google: empty code", "google", {"GET /?state=s&code=&scope=email HTTP/1.1\r\n\r\n"},
        "Google code not found, login via google terminated");
    // The listener both flows share reads the browser's request.
    row("facebook: browser closes before the request line", "facebook", {"GET /?code=ABC"},
        "Facebook browser closed the connection before its request", QJsonObject(), true);
    row("google: request line too long", "google", {"GET /?code=" + QByteArray(9000, 'a')},
        "Google request line too long");
    row("facebook: browser sends nothing", "facebook", Pieces(), "Facebook browser request timed out");
}

void tst_SocialAuth::failures()
{
    QFETCH(QString, flow);
    QFETCH(Pieces, request);
    QFETCH(QString, log);
    QFETCH(QJsonObject, script);
    QFETCH(bool, closeEarly);
    QVERIFY2(script.isEmpty() || m_provider.script(script), qPrintable(m_provider.errorString()));
    Flow f = makeFlow(flow);
    f.login();
    QByteArray answer;
    QVERIFY(Browse(request, &answer, closeEarly));
    QTRY_VERIFY_WITH_TIMEOUT(!f.failed->isEmpty(), 30000);
    QVERIFY2(m_fixture.logged(log), qPrintable(LogCapture::dump()));
    // Whatever else is still under way must not report a second time.
    QTest::qWait(500);
    QCOMPARE(f.failed->count(), 1);
    QCOMPARE(f.finished->count(), 0);
    QCOMPARE(m_provider.requests(f.authPath).size(), 0);
    // A browser whose request line came in got the page; the others got nothing.
    QCOMPARE(answer.startsWith("HTTP/1.0 200 OK \r\n"), !request.isEmpty() && request.last().contains('\n'));
}

// The listener: a taken port, a cancel, a second start and a caller from outside loopback.
void tst_SocialAuth::listener()
{
    Flow f = makeFlow("google");
    QTcpServer squatter;
    QVERIFY2(squatter.listen(QHostAddress::LocalHost, kListenerPort), qPrintable(squatter.errorString()));
    f.login();
    QCOMPARE(f.failed->count(), 1);
    QVERIFY(m_fixture.opened.isEmpty());
    QVERIFY(m_fixture.logged("Google redirect listener failed: "));
    squatter.close();

    // A cancelled attempt refuses the late browser and reports nothing.
    f.login();
    f.cancel();
    QAbstractSocket::SocketError error = QAbstractSocket::UnknownSocketError;
    QVERIFY(!Browse({f.goodRequest}, nullptr, false, &error));
    QCOMPARE(error, QAbstractSocket::ConnectionRefusedError);
    QTest::qWait(200);
    QCOMPARE(f.failed->count() + f.finished->count(), 1);

    // Started twice in a row, the attempt listens on loopback only.
    f.login();
    f.login();
    QCOMPARE(m_fixture.opened.size(), 3);
    QHostAddress outside;
    for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
            outside = address;
    }
    if (!outside.isNull()) {
        QVERIFY2(!Browse({f.goodRequest}, nullptr, false, &error, outside), qPrintable(outside.toString()));
        QCOMPARE(error, QAbstractSocket::ConnectionRefusedError);
    }
    finishSignIn(f, {f.goodRequest});
}

// A cancel while a Graph request runs: its reply still comes and is read, but the attempt goes no further.
void tst_SocialAuth::cancelDuringGraphRequest()
{
    const QStringList paths{"/v5.0/oauth/access_token", "/me"};
    const QStringList sent{"Get facebook access token with url: ", "Get facebook id with url: "};
    const QStringList processed{"Facebook access token found: ", "Facebook id found: "};
    for (int i = 0; i < paths.size(); ++i) {
        init();
        Flow f = makeFlow("facebook");
        // Status 0: answer normally, only later.
        QVERIFY(m_provider.script(QJsonObject{{"path", paths[i]}, {"status", 0}, {"delayMs", 1500}}));
        f.login();
        QVERIFY(Browse({"GET /?code=ABC HTTP/1.1\r\n\r\n"}));
        QTRY_VERIFY_WITH_TIMEOUT(m_fixture.logged(sent[i]), 30000);
        f.cancel();
        QTRY_VERIFY_WITH_TIMEOUT(m_fixture.logged(processed[i]), 30000);
        QTest::qWait(300);
        QCOMPARE(f.finished->count() + f.failed->count(), 0);
        QCOMPARE(m_provider.requests("/auth/facebook").size(), 0);
        QCOMPARE(m_provider.requests("/me").size(), i);
    }
}

QTEST_MAIN(tst_SocialAuth)
#include "tst_socialauth.moc"
