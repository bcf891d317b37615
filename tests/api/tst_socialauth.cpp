#include <QDesktopServices>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "api/tovraapimanager.h"
#include "api/tovraauthmanager.h"
#include "api/tovrafacebookauthmanager.h"
#include "api/tovragoogleauthmanager.h"
#include "app/appcontext.h"
#include "app/buildconstants.h"
#include "support/logcapture.h"
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
// client closes the connection. Returns false when it could not connect.
static bool Browse(const Pieces &pieces, QByteArray *answer, bool closeAfterSending = false,
                   QAbstractSocket::SocketError *error = nullptr, const QHostAddress &host = QHostAddress::LocalHost)
{
    QTcpSocket socket;
    QSignalSpy connected(&socket, &QTcpSocket::connected);
    QSignalSpy failed(&socket, &QTcpSocket::errorOccurred);
    QSignalSpy disconnected(&socket, &QTcpSocket::disconnected);
    socket.connectToHost(host, kListenerPort);
    for (int i = 0; i < 100 && connected.isEmpty() && failed.isEmpty(); ++i)
        QTest::qWait(50);
    if (connected.isEmpty()) {
        if (error)
            *error = socket.error();
        return false;
    }
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] {
        if (answer)
            *answer += socket.readAll();
    });
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
        disconnected.wait(15000);
    if (answer)
        *answer += socket.readAll();
    return true;
}

// One of the two flows, so both can run through the same cases.
struct Flow
{
    std::function<void()> login;
    std::function<void()> cancel;
    std::unique_ptr<QSignalSpy> finished;
    std::unique_ptr<QSignalSpy> failed;
    QString authPath;
    QString landingPage;
    QString consentUrl;
    // A redirect the stand-in provider signs in with.
    QByteArray goodRequest;
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
    void portInUse();
    void cancelRefusesLateRedirect();
    void cancelDuringGraphRequest_data();
    void cancelDuringGraphRequest();
    void nonLoopbackCannotConnect();

private:
    Flow MakeFlow(const QString &name);
    // The browser returns with request; the flow signs in with the stand-in and reports once.
    void FinishSignIn(Flow &flow, const QByteArray &request);
    bool Logged(const QString &text) const { return m_fixture.logged(text); }

    ProviderFixture m_fixture;
    StandInProvider &provider = m_fixture.provider;
    QList<QUrl> &opened = m_fixture.opened;
    TovraFacebookAuthManager *facebook = AppContext::instance()->facebookAuthManager();
    TovraGoogleAuthManager *google = AppContext::instance()->googleAuthManager();
    TovraAuthManager *auth = AppContext::instance()->authManager();
};

void tst_SocialAuth::initTestCase()
{
    QVERIFY2(m_fixture.start(), qPrintable(provider.errorString()));
    const QString portal = provider.portalUrl();
    facebook->setConsentUrlPrefix(portal + "/v5.0/dialog/oauth?response_type=code&");
    facebook->setAccessTokenUrlPrefix(portal + "/v5.0/oauth/access_token?");
    facebook->setProfileUrlPrefix(portal + "/me?fields=id,email&");
    facebook->setRedirectUri(portal + "/fbredirect.php");
    facebook->setLandingPageUrl(portal + "/facebook.php");
    google->setConsentUrlPrefix(portal + "/o/oauth2/v2/auth?");
    google->setLandingPageUrl(portal + "/google.php");
}

void tst_SocialAuth::init()
{
    QVERIFY2(m_fixture.reset(), qPrintable(provider.errorString()));
    auth->DeleteToken();
}

void tst_SocialAuth::cleanup()
{
    facebook->CancelLoginViaFacebook();
    google->CancelLoginViaGoogle();
    // Let replies and sockets of the case settle before the next one.
    QTest::qWait(100);
}

Flow tst_SocialAuth::MakeFlow(const QString &name)
{
    Flow flow;
    const QString portal = provider.portalUrl();
    if (name == "facebook") {
        flow.login = [this] { facebook->LoginViaFacebook(); };
        flow.cancel = [this] { facebook->CancelLoginViaFacebook(); };
        flow.finished = std::make_unique<QSignalSpy>(facebook, &TovraFacebookAuthManager::LoginViaFacebookFinished);
        flow.failed = std::make_unique<QSignalSpy>(facebook, &TovraFacebookAuthManager::LoginViaFacebookFailed);
        flow.authPath = "/auth/facebook";
        flow.landingPage = portal + "/facebook.php";
        flow.consentUrl = portal +
                          "/v5.0/dialog/oauth?response_type=code&client_id=" + BuildConstants::facebookAppId() +
                          "&redirect_uri=" + portal + "/fbredirect.php&scope=email&api_key";
        flow.goodRequest = "GET /?code=ABC&state=xyz HTTP/1.1\r\n\r\n";
    } else {
        flow.login = [this] { google->LoginViaGoogle(); };
        flow.cancel = [this] { google->CancelLoginViaGoogle(); };
        flow.finished = std::make_unique<QSignalSpy>(google, &TovraGoogleAuthManager::LoginViaGoogleFinished);
        flow.failed = std::make_unique<QSignalSpy>(google, &TovraGoogleAuthManager::LoginViaGoogleFailed);
        flow.authPath = "/auth/google";
        flow.landingPage = portal + "/google.php";
        flow.consentUrl = portal +
                          "/o/oauth2/v2/auth?scope=profile%20email&state=state_parameter_passthrough_value&"
                          "redirect_uri=http://127.0.0.1:56743/&response_type=code&client_id=" +
                          BuildConstants::googleClientId();
        flow.goodRequest = "GET /?state=state_parameter_passthrough_value&code=4%2F0Ab HTTP/1.1\r\n\r\n";
    }
    return flow;
}

void tst_SocialAuth::FinishSignIn(Flow &flow, const QByteArray &request)
{
    QSignalSpy signedIn(auth, &TovraAuthManager::UserDataReceived);
    const int failedBefore = flow.failed->count();
    QByteArray answer;
    QVERIFY(Browse({request}, &answer));
    QCOMPARE(answer, ExpectedAnswer(flow.landingPage));
    QTRY_VERIFY_WITH_TIMEOUT(!signedIn.isEmpty(), 15000);
    QCOMPARE(signedIn.first().first().value<TovraAuthManager::eAuthResults>(), TovraAuthManager::AuthSuccess);
    QCOMPARE(flow.finished->count(), 1);
    QCOMPARE(flow.failed->count(), failedBefore);
    QCOMPARE(provider.requests(flow.authPath).size(), 1);
}

void tst_SocialAuth::signIn_data()
{
    QTest::addColumn<QString>("flow");
    QTest::addColumn<Pieces>("request");
    QTest::addColumn<QString>("codeLog");
    QTest::addColumn<QStringList>("graph"); // the Graph API requests, in order
    QTest::addColumn<QString>("email");     // at the flow's end; empty: not checked
    QTest::addColumn<QString>("authBody");

    const QByteArray host("Host: 127.0.0.1:56743\r\n\r\n");
    const auto graph = [this](const QString &codePart, const QString &accessToken) {
        return QStringList{"/v5.0/oauth/access_token?client_id=" + BuildConstants::facebookAppId() +
                               "&client_secret=" + BuildConstants::facebookAppSecret() +
                               "&scope&redirect_uri=" + provider.portalUrl() + "/fbredirect.php&" + codePart,
                           "/me?fields=id,email&access_token=" + accessToken};
    };
    const auto fbBody = [](const QString &token) { return "{\n    \"secure_token\": \"" + token + "\"\n}\n"; };
    const auto googleBody = [](const QString &code) {
        return "{\n    \"code\": \"" + code + "\",\n    \"redirect_uri\": \"http://127.0.0.1:56743/\"\n}\n";
    };

    QTest::newRow("facebook: request line in two pieces, split inside the code")
        << "facebook" << Pieces{"GET /?code=AB", "C&state=xyz HTTP/1.1\r\n" + host}
        << "Facebook code data found:  code=ABC&state=xyz" << graph("code=ABC&state=xyz", "EAAFdemoActive")
        << "active@tovra.test" << fbBody("EAAFdemoActive");
    QTest::newRow("facebook: profile without e-mail, request line ended by a bare line feed")
        << "facebook" << Pieces{"GET /?code=fb-noemail HTTP/1.0\n\n"} << "Facebook code data found:  code=fb-noemail"
        << graph("code=fb-noemail", "EAAFdemoNoEmail") << "104729384756102@" + BuildConstants::facebookMailDomain()
        << fbBody("EAAFdemoNoEmail");
    QTest::newRow("google: request line in two pieces, split inside an escape")
        << "google" << Pieces{"GET /?state=state_parameter_passthrough_value&code=4%2", "F0Ab HTTP/1.1\r\n" + host}
        << "URI-decoded google code:  4/0Ab" << QStringList() << QString() << googleBody("4/0Ab");
    QTest::newRow("google: scope, authuser and prompt after the code")
        << "google"
        << Pieces{"GET /?state=state_parameter_passthrough_value&code=4%2F0Business&scope=email%20profile&"
                  "authuser=0&prompt=consent HTTP/1.1\r\n" +
                  host}
        << "URI-decoded google code:  4/0Business" << QStringList() << QString() << googleBody("4/0Business");
}

void tst_SocialAuth::signIn()
{
    QFETCH(QString, flow);
    QFETCH(Pieces, request);
    QFETCH(QString, codeLog);
    QFETCH(QStringList, graph);
    QFETCH(QString, email);
    QFETCH(QString, authBody);

    QVERIFY(!BuildConstants::facebookMailDomain().isEmpty());
    Flow f = MakeFlow(flow);
    QSignalSpy signedIn(auth, &TovraAuthManager::UserDataReceived);
    QString emailAtFinish;
    QObject receiver; // ends the connections with this case
    connect(facebook, &TovraFacebookAuthManager::LoginViaFacebookFinished, &receiver,
            [&] { emailAtFinish = auth->userData().email; });
    connect(google, &TovraGoogleAuthManager::LoginViaGoogleFinished, &receiver,
            [&] { emailAtFinish = auth->userData().email; });

    f.login();
    QCOMPARE(opened.size(), 1);
    QCOMPARE(QString::fromUtf8(opened.first().toEncoded()), f.consentUrl);
    QByteArray answer;
    QVERIFY(Browse(request, &answer));
    QCOMPARE(answer, ExpectedAnswer(f.landingPage));

    QTRY_VERIFY_WITH_TIMEOUT(!signedIn.isEmpty(), 15000);
    QCOMPARE(signedIn.first().first().value<TovraAuthManager::eAuthResults>(), TovraAuthManager::AuthSuccess);
    QVERIFY(Logged(codeLog));
    if (!email.isEmpty())
        QCOMPARE(emailAtFinish, email);
    QStringList graphTargets;
    for (const QString &path : {QStringLiteral("/v5.0/oauth/access_token"), QStringLiteral("/me")}) {
        for (const QJsonValue &value : provider.requests(path))
            graphTargets << value.toObject().value("target").toString();
    }
    QCOMPARE(graphTargets, graph);
    const QJsonArray signIns = provider.requests(f.authPath);
    QCOMPARE(signIns.size(), 1);
    QCOMPARE(signIns.at(0).toObject().value("body").toString(), authBody);
    QCOMPARE(f.failed->count(), 0);
    QCOMPARE(f.finished->count(), 1);
}

void tst_SocialAuth::failures_data()
{
    QTest::addColumn<QString>("flow");
    QTest::addColumn<Pieces>("request");
    QTest::addColumn<bool>("closeEarly");
    QTest::addColumn<QString>("scriptPath");
    QTest::addColumn<int>("scriptStatus");
    QTest::addColumn<QByteArray>("scriptBody");
    QTest::addColumn<QString>("log");

    const Pieces abc{"GET /?code=ABC&state=xyz HTTP/1.1\r\n\r\n"};
    const Pieces tooLong{"GET /?code=" + QByteArray(9000, 'a')};
    const QString token("/v5.0/oauth/access_token");

    const auto row = [](const char *name, const QString &flow, const Pieces &request, const QString &log,
                        const QString &path = QString(), int status = 0, const QByteArray &body = QByteArray(),
                        bool closeEarly = false) {
        QTest::newRow(name) << flow << request << closeEarly << path << status << body << log;
    };
    row("facebook: code unknown to Graph", "facebook", {"GET /?code=nope HTTP/1.1\r\n\r\n"},
        "Network error occurred during facebook access token request: ");
    row("facebook: token reply without access_token", "facebook", abc, "Access token not found. Emitting error", token,
        200, "{\"token_type\":\"bearer\"}");
    row("facebook: profile request fails", "facebook", abc, "Network error occurred during facebook id request: ", "/me",
        500, "{}");
    row("facebook: profile without id", "facebook", abc, "Facebook id not found. Emitting error", "/me", 200,
        "{\"email\":\"a@b.test\"}");
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
        "Facebook browser closed the connection before its request", QString(), 0, QByteArray(), true);
    row("google: request line too long", "google", tooLong, "Google request line too long");
    row("facebook: browser sends nothing", "facebook", Pieces(), "Facebook browser request timed out");
}

void tst_SocialAuth::failures()
{
    QFETCH(QString, flow);
    QFETCH(Pieces, request);
    QFETCH(bool, closeEarly);
    QFETCH(QString, scriptPath);
    QFETCH(int, scriptStatus);
    QFETCH(QByteArray, scriptBody);
    QFETCH(QString, log);

    if (!scriptPath.isEmpty())
        QVERIFY2(provider.script(scriptPath, scriptStatus, scriptBody), qPrintable(provider.errorString()));
    Flow f = MakeFlow(flow);

    f.login();
    QByteArray answer;
    QVERIFY(Browse(request, &answer, closeEarly));
    QTRY_VERIFY_WITH_TIMEOUT(!f.failed->isEmpty(), 30000);
    QVERIFY2(Logged(log), qPrintable(LogCapture::dump()));
    // Whatever else is still under way must not report a second time.
    QTest::qWait(500);
    QCOMPARE(f.failed->count(), 1);
    QCOMPARE(f.finished->count(), 0);
    QCOMPARE(provider.requests(f.authPath).size(), 0);
    // A browser whose request line came in got the page; the others got nothing.
    const bool gotLine = !request.isEmpty() && request.last().contains('\n');
    QCOMPARE(answer.startsWith("HTTP/1.0 200 OK \r\n"), gotLine);
}

void tst_SocialAuth::portInUse()
{
    Flow f = MakeFlow("google");
    QTcpServer squatter;
    QVERIFY2(squatter.listen(QHostAddress::LocalHost, kListenerPort), qPrintable(squatter.errorString()));

    f.login();
    QCOMPARE(f.failed->count(), 1);
    QVERIFY(opened.isEmpty());
    QVERIFY(Logged("Google redirect listener failed: "));

    // Once the port is free again, the next attempt listens.
    squatter.close();
    f.login();
    QCOMPARE(opened.size(), 1);
    FinishSignIn(f, f.goodRequest);
}

void tst_SocialAuth::cancelRefusesLateRedirect()
{
    Flow f = MakeFlow("facebook");

    f.login();
    f.cancel();
    QAbstractSocket::SocketError error = QAbstractSocket::UnknownSocketError;
    QVERIFY(!Browse({f.goodRequest}, nullptr, false, &error));
    QCOMPARE(error, QAbstractSocket::ConnectionRefusedError);
    QTest::qWait(200);
    QCOMPARE(f.failed->count(), 0);
    QCOMPARE(f.finished->count(), 0);

    // A new attempt after the cancel works, even when started twice in a row.
    f.login();
    f.login();
    QCOMPARE(opened.size(), 3);
    FinishSignIn(f, f.goodRequest);
}

void tst_SocialAuth::cancelDuringGraphRequest_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QString>("processed");
    QTest::newRow("token request") << "/v5.0/oauth/access_token"
                                   << "Get facebook access token with url: "
                                   << "Facebook access token found: ";
    QTest::newRow("profile request") << "/me"
                                     << "Get facebook id with url: "
                                     << "Facebook id found: ";
}

void tst_SocialAuth::cancelDuringGraphRequest()
{
    QFETCH(QString, path);
    QFETCH(QString, sent);
    QFETCH(QString, processed);
    Flow f = MakeFlow("facebook");
    // Status 0: answer normally, only later.
    QVERIFY2(provider.script(QJsonObject{{"path", path}, {"status", 0}, {"delayMs", 1500}}),
             qPrintable(provider.errorString()));

    f.login();
    QVERIFY(Browse({"GET /?code=ABC HTTP/1.1\r\n\r\n"}, nullptr));
    QTRY_VERIFY_WITH_TIMEOUT(Logged(sent), 15000);
    f.cancel();
    // The reply still comes and is read, but the attempt goes no further.
    QTRY_VERIFY_WITH_TIMEOUT(Logged(processed), 15000);
    QTest::qWait(300);
    QCOMPARE(f.finished->count(), 0);
    QCOMPARE(f.failed->count(), 0);
    QCOMPARE(provider.requests("/auth/facebook").size(), 0);
    if (path != "/me")
        QCOMPARE(provider.requests("/me").size(), 0);
}

void tst_SocialAuth::nonLoopbackCannotConnect()
{
    QHostAddress outside;
    for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback()) {
            outside = address;
            break;
        }
    }
    if (outside.isNull())
        QSKIP("this machine has no IPv4 address besides loopback to connect from");

    Flow f = MakeFlow("google");
    f.login();
    QAbstractSocket::SocketError error = QAbstractSocket::UnknownSocketError;
    QVERIFY2(!Browse({"GET /?code=ABC HTTP/1.1\r\n\r\n"}, nullptr, false, &error, outside),
             qPrintable(outside.toString()));
    QCOMPARE(error, QAbstractSocket::ConnectionRefusedError);
    QVERIFY(!Logged("incoming connection received"));
    // The same attempt still takes the browser on loopback.
    FinishSignIn(f, f.goodRequest);
}

QTEST_MAIN(tst_SocialAuth)
#include "tst_socialauth.moc"
