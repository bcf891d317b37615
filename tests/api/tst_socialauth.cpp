#include <QDesktopServices>
#include <QNetworkAccessManager>
#include <QNetworkInterface>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include "api/tovraapimanager.h"
#include "api/tovraauthmanager.h"
#include "api/tovrafacebookauthmanager.h"
#include "api/tovragoogleauthmanager.h"
#include "app/appcontext.h"
#include "app/buildconstants.h"
#include "support/standinprovider.h"

static const quint16 kListenerPort = 56743;

static QStringList g_log;

static void CaptureLog(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_log << message;
}

static bool Logged(const QString &text)
{
    for (const QString &line : qAsConst(g_log)) {
        if (line.contains(text))
            return true;
    }
    return false;
}

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
static bool Browse(const QList<QByteArray> &pieces, QByteArray *answer, bool closeAfterSending = false,
                   QAbstractSocket::SocketError *error = nullptr, const QHostAddress &host = QHostAddress::LocalHost)
{
    QTcpSocket socket;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] {
        if (answer)
            *answer += socket.readAll();
    });
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
    QString name;
    QObject *manager = nullptr;
    std::function<void()> login;
    std::function<void()> cancel;
    std::unique_ptr<QSignalSpy> finished;
    std::unique_ptr<QSignalSpy> failed;
    QString authPath;
    QString landingPage;
    // A redirect the stand-in provider signs in with.
    QByteArray goodRequest;
};

class tst_SocialAuth : public QObject
{
    Q_OBJECT

public slots:
    void openUrl(const QUrl &url) { opened << url; }

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void facebookSignIn_data();
    void facebookSignIn();
    void googleSignIn_data();
    void googleSignIn();
    void failures_data();
    void failures();
    void portInUse_data();
    void portInUse();
    void cancelRefusesLateRedirect_data();
    void cancelRefusesLateRedirect();
    void cancelDuringGraphRequest_data();
    void cancelDuringGraphRequest();
    void nonLoopbackCannotConnect_data();
    void nonLoopbackCannotConnect();
    void consentPagesLeadBackToListener_data();
    void consentPagesLeadBackToListener();

private:
    Flow MakeFlow(const QString &name);
    QString FacebookConsentUrl() const;
    QString GoogleConsentUrl() const;
    QByteArray Fetch(const QUrl &url, QByteArray *location);

    StandInProvider provider;
    TovraFacebookAuthManager *facebook = nullptr;
    TovraGoogleAuthManager *google = nullptr;
    TovraAuthManager *auth = nullptr;
    QTemporaryDir dir;
    QList<QUrl> opened;
};

void tst_SocialAuth::initTestCase()
{
    QVERIFY(dir.isValid());
    AppContext *context = AppContext::instance();
    context->dataPaths()->setDir(dir.path());
    QVERIFY(EnsureParentDir(context->dataPaths()->tokenFile()));
    QVERIFY2(provider.start(), qPrintable(provider.errorString()));
    context->apiManager()->setApiBaseUrl(provider.apiUrl());
    context->apiManager()->setPortalBaseUrl(provider.portalUrl());
    auth = context->authManager();

    const QString portal = provider.portalUrl();
    facebook = context->facebookAuthManager();
    facebook->setConsentUrlPrefix(portal + "/v5.0/dialog/oauth?response_type=code&");
    facebook->setAccessTokenUrlPrefix(portal + "/v5.0/oauth/access_token?");
    facebook->setProfileUrlPrefix(portal + "/me?fields=id,email&");
    facebook->setRedirectUri(portal + "/fbredirect.php");
    facebook->setLandingPageUrl(portal + "/facebook.php");
    google = context->googleAuthManager();
    google->setConsentUrlPrefix(portal + "/o/oauth2/v2/auth?");
    google->setLandingPageUrl(portal + "/google.php");

    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
    qInstallMessageHandler(CaptureLog);
}

void tst_SocialAuth::cleanupTestCase()
{
    qInstallMessageHandler(nullptr);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    provider.stop();
}

void tst_SocialAuth::init()
{
    QVERIFY2(provider.reset(), qPrintable(provider.errorString()));
    auth->DeleteToken();
    facebook->setRequestTimeout(10000);
    google->setRequestTimeout(10000);
    opened.clear();
    g_log.clear();
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
    flow.name = name;
    if (name == "facebook") {
        flow.manager = facebook;
        flow.login = [this] { facebook->LoginViaFacebook(); };
        flow.cancel = [this] { facebook->CancelLoginViaFacebook(); };
        flow.finished = std::make_unique<QSignalSpy>(facebook, &TovraFacebookAuthManager::LoginViaFacebookFinished);
        flow.failed = std::make_unique<QSignalSpy>(facebook, &TovraFacebookAuthManager::LoginViaFacebookFailed);
        flow.authPath = "/auth/facebook";
        flow.landingPage = provider.portalUrl() + "/facebook.php";
        flow.goodRequest = "GET /?code=ABC&state=xyz HTTP/1.1\r\n\r\n";
    } else {
        flow.manager = google;
        flow.login = [this] { google->LoginViaGoogle(); };
        flow.cancel = [this] { google->CancelLoginViaGoogle(); };
        flow.finished = std::make_unique<QSignalSpy>(google, &TovraGoogleAuthManager::LoginViaGoogleFinished);
        flow.failed = std::make_unique<QSignalSpy>(google, &TovraGoogleAuthManager::LoginViaGoogleFailed);
        flow.authPath = "/auth/google";
        flow.landingPage = provider.portalUrl() + "/google.php";
        flow.goodRequest = "GET /?state=state_parameter_passthrough_value&code=4%2F0Ab HTTP/1.1\r\n\r\n";
    }
    return flow;
}

QString tst_SocialAuth::FacebookConsentUrl() const
{
    return provider.portalUrl() + "/v5.0/dialog/oauth?response_type=code&client_id=" + BuildConstants::facebookAppId() +
           "&redirect_uri=" + provider.portalUrl() + "/fbredirect.php&scope=email&api_key";
}

QString tst_SocialAuth::GoogleConsentUrl() const
{
    return provider.portalUrl() +
           "/o/oauth2/v2/auth?scope=profile%20email&state=state_parameter_passthrough_value&redirect_uri="
           "http://127.0.0.1:56743/&response_type=code&client_id=" +
           BuildConstants::googleClientId();
}

// ---- successful sign-in ----------------------------------------------------------------------------------------

void tst_SocialAuth::facebookSignIn_data()
{
    QTest::addColumn<QList<QByteArray>>("request");
    QTest::addColumn<QString>("codePart");
    QTest::addColumn<QString>("accessToken");
    QTest::addColumn<QString>("email");

    QTest::newRow("code then state")
        << QList<QByteArray>{"GET /?code=ABC&state=xyz HTTP/1.1\r\nHost: 127.0.0.1:56743\r\n\r\n"}
        << "code=ABC&state=xyz"
        << "EAAFdemoActive"
        << "active@tovra.test";
    QTest::newRow("profile without e-mail gets the substitute address")
        << QList<QByteArray>{"GET /?code=fb-noemail HTTP/1.1\r\nHost: 127.0.0.1:56743\r\n\r\n"} << "code=fb-noemail"
        << "EAAFdemoNoEmail"
        << "104729384756102@" + BuildConstants::facebookMailDomain();
    QTest::newRow("request line in two pieces, split inside the code")
        << QList<QByteArray>{"GET /?code=AB", "C&state=xyz HTTP/1.1\r\nHost: 127.0.0.1:56743\r\n\r\n"}
        << "code=ABC&state=xyz"
        << "EAAFdemoActive"
        << "active@tovra.test";
    QTest::newRow("request line ended by a bare line feed")
        << QList<QByteArray>{"GET /?code=ABC HTTP/1.0\n\n"} << "code=ABC"
        << "EAAFdemoActive"
        << "active@tovra.test";
}

void tst_SocialAuth::facebookSignIn()
{
    QFETCH(QList<QByteArray>, request);
    QFETCH(QString, codePart);
    QFETCH(QString, accessToken);
    QFETCH(QString, email);

    QVERIFY(!BuildConstants::facebookMailDomain().isEmpty());
    Flow flow = MakeFlow("facebook");
    QSignalSpy signedIn(auth, &TovraAuthManager::UserDataReceived);
    QString emailAtFinish;
    QObject receiver; // ends the connection with this case
    connect(facebook, &TovraFacebookAuthManager::LoginViaFacebookFinished, &receiver,
            [&] { emailAtFinish = auth->userData().email; });

    facebook->LoginViaFacebook();
    QCOMPARE(opened.size(), 1);
    QCOMPARE(QString::fromUtf8(opened.first().toEncoded()), FacebookConsentUrl());

    QByteArray answer;
    QVERIFY(Browse(request, &answer));
    QCOMPARE(answer, ExpectedAnswer(flow.landingPage));

    QTRY_VERIFY_WITH_TIMEOUT(!flow.finished->isEmpty(), 15000);
    QCOMPARE(emailAtFinish, email);
    QVERIFY(Logged("Facebook code data found:  " + codePart));

    const QJsonArray tokenRequests = provider.requests("/v5.0/oauth/access_token");
    QCOMPARE(tokenRequests.size(), 1);
    QCOMPARE(tokenRequests.at(0).toObject().value("target").toString(),
             "/v5.0/oauth/access_token?client_id=" + BuildConstants::facebookAppId() +
                 "&client_secret=" + BuildConstants::facebookAppSecret() +
                 "&scope&redirect_uri=" + provider.portalUrl() + "/fbredirect.php&" + codePart);
    const QJsonArray profileRequests = provider.requests("/me");
    QCOMPARE(profileRequests.size(), 1);
    QCOMPARE(profileRequests.at(0).toObject().value("target").toString(),
             "/me?fields=id,email&access_token=" + accessToken);

    QTRY_VERIFY_WITH_TIMEOUT(!signedIn.isEmpty(), 15000);
    QCOMPARE(signedIn.first().first().value<TovraAuthManager::eAuthResults>(), TovraAuthManager::AuthSuccess);
    const QJsonArray signIns = provider.requests("/auth/facebook");
    QCOMPARE(signIns.size(), 1);
    QCOMPARE(signIns.at(0).toObject().value("body").toString(),
             "{\n    \"secure_token\": \"" + accessToken + "\"\n}\n");
    QCOMPARE(flow.failed->count(), 0);
    QCOMPARE(flow.finished->count(), 1);
}

void tst_SocialAuth::googleSignIn_data()
{
    QTest::addColumn<QList<QByteArray>>("request");
    QTest::addColumn<QString>("code");

    QTest::newRow("encoded code last")
        << QList<QByteArray>{"GET /?state=state_parameter_passthrough_value&code=4%2F0Ab HTTP/1.1\r\n"
                             "Host: 127.0.0.1:56743\r\n\r\n"}
        << "4/0Ab";
    QTest::newRow("scope, authuser and prompt after the code")
        << QList<QByteArray>{"GET /?state=state_parameter_passthrough_value&code=4%2F0Business&scope=email%20"
                             "profile&authuser=0&prompt=consent HTTP/1.1\r\nHost: 127.0.0.1:56743\r\n\r\n"}
        << "4/0Business";
    QTest::newRow("request line in two pieces, split inside an escape")
        << QList<QByteArray>{"GET /?state=state_parameter_passthrough_value&code=4%2",
                             "F0Ab HTTP/1.1\r\nHost: 127.0.0.1:56743\r\n\r\n"}
        << "4/0Ab";
}

void tst_SocialAuth::googleSignIn()
{
    QFETCH(QList<QByteArray>, request);
    QFETCH(QString, code);

    Flow flow = MakeFlow("google");
    QSignalSpy signedIn(auth, &TovraAuthManager::UserDataReceived);

    google->LoginViaGoogle();
    QCOMPARE(opened.size(), 1);
    QCOMPARE(QString::fromUtf8(opened.first().toEncoded()), GoogleConsentUrl());

    QByteArray answer;
    QVERIFY(Browse(request, &answer));
    QCOMPARE(answer, ExpectedAnswer(flow.landingPage));
    QTRY_VERIFY_WITH_TIMEOUT(!flow.finished->isEmpty(), 15000);
    QVERIFY(Logged("URI-decoded google code:  " + code));

    QTRY_VERIFY_WITH_TIMEOUT(!signedIn.isEmpty(), 15000);
    QCOMPARE(signedIn.first().first().value<TovraAuthManager::eAuthResults>(), TovraAuthManager::AuthSuccess);
    const QJsonArray signIns = provider.requests("/auth/google");
    QCOMPARE(signIns.size(), 1);
    QCOMPARE(signIns.at(0).toObject().value("body").toString(),
             "{\n    \"code\": \"" + code + "\",\n    \"redirect_uri\": \"http://127.0.0.1:56743/\"\n}\n");
    QCOMPARE(flow.failed->count(), 0);
    QCOMPARE(flow.finished->count(), 1);
}

// ---- failures ---------------------------------------------------------------------------------------------------

void tst_SocialAuth::failures_data()
{
    QTest::addColumn<QString>("flow");
    QTest::addColumn<QList<QByteArray>>("request");
    QTest::addColumn<bool>("closeEarly");
    QTest::addColumn<QString>("scriptPath");
    QTest::addColumn<int>("scriptStatus");
    QTest::addColumn<QByteArray>("scriptBody");
    QTest::addColumn<QString>("log");

    const QList<QByteArray> abc{"GET /?code=ABC&state=xyz HTTP/1.1\r\n\r\n"};
    const QList<QByteArray> tooLong{"GET /?code=" + QByteArray(9000, 'a')};

    QTest::newRow("facebook: code unknown to Graph")
        << "facebook" << QList<QByteArray>{"GET /?code=nope HTTP/1.1\r\n\r\n"} << false << QString() << 0
        << QByteArray() << "Network error occurred during facebook access token request: ";
    QTest::newRow("facebook: token reply without access_token")
        << "facebook" << abc << false << "/v5.0/oauth/access_token" << 200 << QByteArray("{\"token_type\":\"bearer\"}")
        << "Access token not found. Emitting error";
    QTest::newRow("facebook: token reply not JSON")
        << "facebook" << abc << false << "/v5.0/oauth/access_token" << 200 << QByteArray("<html>busy</html>")
        << "Access token not found. Emitting error";
    QTest::newRow("facebook: profile request fails") << "facebook" << abc << false << "/me" << 500 << QByteArray("{}")
                                                     << "Network error occurred during facebook id request: ";
    QTest::newRow("facebook: profile without id")
        << "facebook" << abc << false << "/me" << 200 << QByteArray("{\"email\":\"a@b.test\"}")
        << "Facebook id not found. Emitting error";
    QTest::newRow("facebook: consent refused, error_code is no code")
        << "facebook" << QList<QByteArray>{"GET /?error_code=200&error=access_denied HTTP/1.1\r\n\r\n"} << false
        << QString() << 0 << QByteArray() << "Facebook code not found, login via facebook terminated";
    QTest::newRow("facebook: browser closes before the request line")
        << "facebook" << QList<QByteArray>{"GET /?code=ABC"} << true << QString() << 0 << QByteArray()
        << "Facebook browser closed the connection before its request";
    QTest::newRow("facebook: request line too long")
        << "facebook" << tooLong << false << QString() << 0 << QByteArray() << "Facebook request line too long";
    QTest::newRow("facebook: browser sends nothing") << "facebook" << QList<QByteArray>() << false << QString() << 0
                                                     << QByteArray() << "Facebook browser request timed out";

    QTest::newRow("google: consent refused")
        << "google"
        << QList<QByteArray>{"GET /?state=state_parameter_passthrough_value&error=access_denied HTTP/1.1\r\n\r\n"}
        << false << QString() << 0 << QByteArray() << "Google code not found, login via google terminated";
    QTest::newRow("google: empty code") << "google"
                                        << QList<QByteArray>{"GET /?state=s&code=&scope=email HTTP/1.1\r\n\r\n"}
                                        << false << QString() << 0 << QByteArray()
                                        << "Google code not found, login via google terminated";
    QTest::newRow("google: browser closes before the request line")
        << "google" << QList<QByteArray>{"GET /?state=s&code=4%2F0Ab"} << true << QString() << 0 << QByteArray()
        << "Google browser closed the connection before its request";
    QTest::newRow("google: request line too long")
        << "google" << tooLong << false << QString() << 0 << QByteArray() << "Google request line too long";
    QTest::newRow("google: browser sends nothing") << "google" << QList<QByteArray>() << false << QString() << 0
                                                   << QByteArray() << "Google browser request timed out";
}

void tst_SocialAuth::failures()
{
    QFETCH(QString, flow);
    QFETCH(QList<QByteArray>, request);
    QFETCH(bool, closeEarly);
    QFETCH(QString, scriptPath);
    QFETCH(int, scriptStatus);
    QFETCH(QByteArray, scriptBody);
    QFETCH(QString, log);

    if (!scriptPath.isEmpty())
        QVERIFY2(provider.script(scriptPath, scriptStatus, scriptBody), qPrintable(provider.errorString()));
    Flow f = MakeFlow(flow);
    facebook->setRequestTimeout(300);
    google->setRequestTimeout(300);

    f.login();
    QByteArray answer;
    QVERIFY(Browse(request, &answer, closeEarly));
    QTRY_VERIFY_WITH_TIMEOUT(!f.failed->isEmpty(), 15000);
    QVERIFY2(Logged(log), qPrintable(g_log.join('\n')));
    // Whatever else is still under way must not report a second time.
    QTest::qWait(500);
    QCOMPARE(f.failed->count(), 1);
    QCOMPARE(f.finished->count(), 0);
    QCOMPARE(provider.requests(f.authPath).size(), 0);
    // A browser whose request line came in got the page; the others got nothing.
    const bool gotLine = !request.isEmpty() && request.last().contains('\n');
    QCOMPARE(answer.startsWith("HTTP/1.0 200 OK \r\n"), gotLine);
}

void tst_SocialAuth::portInUse_data()
{
    QTest::addColumn<QString>("flow");
    QTest::newRow("facebook") << "facebook";
    QTest::newRow("google") << "google";
}

void tst_SocialAuth::portInUse()
{
    QFETCH(QString, flow);
    Flow f = MakeFlow(flow);
    QTcpServer squatter;
    QVERIFY2(squatter.listen(QHostAddress::LocalHost, kListenerPort), qPrintable(squatter.errorString()));

    f.login();
    QCOMPARE(f.failed->count(), 1);
    QVERIFY(opened.isEmpty());
    QVERIFY(Logged(flow == "facebook" ? "Facebook redirect listener failed: " : "Google redirect listener failed: "));

    // Once the port is free again, the next attempt listens.
    squatter.close();
    QSignalSpy signedIn(auth, &TovraAuthManager::UserDataReceived);
    f.login();
    QCOMPARE(opened.size(), 1);
    QByteArray answer;
    QVERIFY(Browse({f.goodRequest}, &answer));
    QCOMPARE(answer, ExpectedAnswer(f.landingPage));
    QTRY_VERIFY_WITH_TIMEOUT(!signedIn.isEmpty(), 15000);
    QCOMPARE(f.finished->count(), 1);
    QCOMPARE(f.failed->count(), 1);
}

// ---- cancel -----------------------------------------------------------------------------------------------------

void tst_SocialAuth::cancelRefusesLateRedirect_data()
{
    QTest::addColumn<QString>("flow");
    QTest::newRow("facebook") << "facebook";
    QTest::newRow("google") << "google";
}

void tst_SocialAuth::cancelRefusesLateRedirect()
{
    QFETCH(QString, flow);
    Flow f = MakeFlow(flow);

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
    QSignalSpy signedIn(auth, &TovraAuthManager::UserDataReceived);
    QByteArray answer;
    QVERIFY(Browse({f.goodRequest}, &answer));
    QCOMPARE(answer, ExpectedAnswer(f.landingPage));
    QTRY_VERIFY_WITH_TIMEOUT(!signedIn.isEmpty(), 15000);
    QCOMPARE(f.finished->count(), 1);
    QCOMPARE(f.failed->count(), 0);
    QCOMPARE(provider.requests(f.authPath).size(), 1);
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

// ---- reach of the listener ---------------------------------------------------------------------------------------

void tst_SocialAuth::nonLoopbackCannotConnect_data()
{
    QTest::addColumn<QString>("flow");
    QTest::newRow("facebook") << "facebook";
    QTest::newRow("google") << "google";
}

void tst_SocialAuth::nonLoopbackCannotConnect()
{
    QFETCH(QString, flow);
    QHostAddress outside;
    for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback()) {
            outside = address;
            break;
        }
    }
    if (outside.isNull())
        QSKIP("this machine has no IPv4 address besides loopback to connect from");

    Flow f = MakeFlow(flow);
    f.login();
    QAbstractSocket::SocketError error = QAbstractSocket::UnknownSocketError;
    QVERIFY2(!Browse({"GET /?code=ABC HTTP/1.1\r\n\r\n"}, nullptr, false, &error, outside),
             qPrintable(outside.toString()));
    QCOMPARE(error, QAbstractSocket::ConnectionRefusedError);
    QVERIFY(!Logged("incoming connection received"));

    // The same attempt still takes the browser on loopback.
    QSignalSpy signedIn(auth, &TovraAuthManager::UserDataReceived);
    QByteArray answer;
    QVERIFY(Browse({f.goodRequest}, &answer));
    QCOMPARE(answer, ExpectedAnswer(f.landingPage));
    QTRY_VERIFY_WITH_TIMEOUT(!signedIn.isEmpty(), 15000);
    QCOMPARE(f.finished->count(), 1);
}

// ---- the stand-in's consent pages --------------------------------------------------------------------------------

QByteArray tst_SocialAuth::Fetch(const QUrl &url, QByteArray *location)
{
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(QNetworkRequest(url));
    connect(reply, &QNetworkReply::sslErrors, reply, [reply] { reply->ignoreSslErrors(); });
    QSignalSpy done(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        done.wait(15000);
    const QByteArray body = reply->readAll();
    if (location)
        *location = reply->rawHeader("Location");
    delete reply;
    return body;
}

void tst_SocialAuth::consentPagesLeadBackToListener_data()
{
    QTest::addColumn<QString>("flow");
    QTest::newRow("facebook") << "facebook";
    QTest::newRow("google") << "google";
}

void tst_SocialAuth::consentPagesLeadBackToListener()
{
    QFETCH(QString, flow);
    Flow f = MakeFlow(flow);
    QSignalSpy signedIn(auth, &TovraAuthManager::UserDataReceived);

    f.login();
    QCOMPARE(opened.size(), 1);
    // The consent page accepts what the client sent and offers the demo identities.
    const QByteArray page = Fetch(opened.first(), nullptr);
    const QRegularExpressionMatch link = QRegularExpression("<a href=\"([^\"]+)\">").match(QString::fromUtf8(page));
    QVERIFY2(link.hasMatch(), page.constData());
    QUrl target(link.captured(1).replace("&amp;", "&"));
    if (flow == "facebook") {
        QCOMPARE(target.path(), QString("/fbredirect.php"));
        QByteArray location;
        Fetch(target, &location);
        target = QUrl::fromEncoded(location);
    }
    QCOMPARE(target.host(), QString("127.0.0.1"));
    QCOMPARE(target.port(), int(kListenerPort));

    QByteArray answer;
    QVERIFY(Browse({"GET " + target.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority) +
                    " HTTP/1.1\r\nHost: 127.0.0.1:56743\r\n\r\n"},
                   &answer));
    QCOMPARE(answer, ExpectedAnswer(f.landingPage));
    QTRY_VERIFY_WITH_TIMEOUT(!signedIn.isEmpty(), 15000);
    QCOMPARE(signedIn.first().first().value<TovraAuthManager::eAuthResults>(), TovraAuthManager::AuthSuccess);
    QCOMPARE(f.finished->count(), 1);
    QCOMPARE(auth->userData().email, QString("active@tovra.test"));
}

QTEST_MAIN(tst_SocialAuth)
#include "tst_socialauth.moc"
