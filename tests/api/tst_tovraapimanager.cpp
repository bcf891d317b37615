#include <QDesktopServices>
#include <QtTest>

#include "api/tovraapimanager.h"
#include "api/tovraauthmanager.h"
#include "app/appcontext.h"
#include "app/buildconstants.h"
#include "app/scramble.h"
#include "guard/tovraipmanager.h"
#include "servers/tovraservermanager.h"
#include "support/standinprovider.h"

using Headers = QList<QPair<QString, QString>>;

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

// The headers the client sets itself, in the order they went over the wire.
static Headers ClientHeaders(const QJsonObject &request)
{
    static const QStringList own{"connection", "content-type", "content-length", "authorization"};
    Headers headers;
    for (const QJsonValue &value : request.value(QStringLiteral("headers")).toArray()) {
        const QJsonArray pair = value.toArray();
        if (own.contains(pair.at(0).toString().toLower()))
            headers << qMakePair(pair.at(0).toString(), pair.at(1).toString());
    }
    return headers;
}

static int Result(const QSignalSpy &spy, int row = 0)
{
    return spy.at(row).at(0).value<TovraAuthManager::eAuthResults>();
}

class tst_TovraApiManager : public QObject
{
    Q_OBJECT

public slots:
    void openUrl(const QUrl &url) { opened << url; }

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void requests_data();
    void requests();
    void passwordMaskedInLogOnly();
    void signInErrors_data();
    void signInErrors();
    void signInEmptyReplies_data();
    void signInEmptyReplies();
    void passwordReset_data();
    void passwordReset();
    void userDataChain();
    void planReplies_data();
    void planReplies();
    void laterChainErrors_data();
    void laterChainErrors();
    void trafficRefresh_data();
    void trafficRefresh();
    void repliesReachTheirOwnHandlers();
    void localIpData();
    void assignedIpAbortedAfterEightSeconds();
    void serverList_data();
    void serverList();
    void bestServer_data();
    void bestServer();
    void openVpnConfig_data();
    void openVpnConfig();
    void updateData_data();
    void updateData();
    void ticket_data();
    void ticket();
    void ticketReply_data();
    void ticketReply();
    void accountLink_data();
    void accountLink();
    void mapImage();
    void sslErrorsLoggedAndIgnored();

private:
    void Start(const QString &call);
    void SignIn(TovraUserData data);
    QJsonObject LastRequest(const QString &path);

    StandInProvider provider;
    TovraApiManager *api = nullptr;
    TovraAuthManager *auth = nullptr;
    QTemporaryDir dir;
    QList<QUrl> opened;
};

void tst_TovraApiManager::initTestCase()
{
    QVERIFY(dir.isValid());
    AppContext::instance()->dataPaths()->setDir(dir.path());
    QVERIFY(EnsureParentDir(AppContext::instance()->dataPaths()->tokenFile()));
    QVERIFY2(provider.start(), qPrintable(provider.errorString()));
    api = AppContext::instance()->apiManager();
    auth = AppContext::instance()->authManager();
    api->setApiBaseUrl(provider.apiUrl());
    api->setPortalBaseUrl(provider.portalUrl());
    api->setMapApiBaseUrl(provider.portalUrl());
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openUrl");
    qInstallMessageHandler(CaptureLog);
}

void tst_TovraApiManager::cleanupTestCase()
{
    qInstallMessageHandler(nullptr);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    provider.stop();
}

void tst_TovraApiManager::init()
{
    QVERIFY2(provider.reset(), qPrintable(provider.errorString()));
    api->token = QStringLiteral("demo-token-active");
    auth->DeleteToken();
    SignIn(TovraUserData());
    AppContext::instance()->config()->highDpiScreen = false;
    // Every assigned-IP answer ends its check at once, so no retry runs into a later test.
    AppContext::instance()->ipManager()->firstAttempt = false;
    opened.clear();
    g_log.clear();
}

void tst_TovraApiManager::SignIn(TovraUserData data)
{
    auth->OnUserDataChecked(TovraAuthManager::AuthSuccess, data);
}

QJsonObject tst_TovraApiManager::LastRequest(const QString &path)
{
    const QJsonArray all = provider.requests(path);
    return all.isEmpty() ? QJsonObject() : all.last().toObject();
}

void tst_TovraApiManager::Start(const QString &call)
{
    TovraUserData user;
    if (call == "AuthEmail")
        api->AuthEmail(QStringLiteral("anna@tovra.test"), QStringLiteral("Secret1"));
    else if (call == "AuthFacebook")
        api->AuthFacebook(QStringLiteral("fb-token"));
    else if (call == "AuthGoogle")
        api->AuthGoogle(QStringLiteral("4/code"), QStringLiteral("http://127.0.0.1:56743/"));
    else if (call == "ResetPassword")
        api->ResetPassword(QStringLiteral("anna@tovra.test"));
    else if (call == "GetUserPlan")
        api->GetUserPlan();
    else if (call == "GetUserBandwidth")
        api->GetUserBandwidth();
    else if (call == "GetUserData")
        api->GetUserData();
    else if (call == "GetLocalIpData")
        api->GetLocalIpData();
    else if (call == "GetAssignedIpData")
        api->GetAssignedIpData();
    else if (call == "UpdateUserBandwidth")
        api->UpdateUserBandwidth();
    else if (call == "GetUserAutoAuthUrl")
        api->GetUserAutoAuthUrl(QStringLiteral("?goto=share.php"));
    else if (call == "GetUserAutoAuthUrl empty")
        api->GetUserAutoAuthUrl(QString());
    else if (call.startsWith("OpenUpgradeUrl")) {
        user.isTrial = call.endsWith("trial");
        user.isUnlimited = call.endsWith("unlimited");
        SignIn(user);
        api->OpenUpgradeUrl();
    } else if (call == "GetServerList")
        api->GetServerList();
    else if (call == "GetBestServer")
        api->GetBestServer(QStringLiteral("nl"), true, false);
    else if (call == "GetOpenVpnTcpConfig")
        api->GetOpenVpnTcpConfig();
    else if (call == "GetOpenVpnUdpConfig")
        api->GetOpenVpnUdpConfig();
    else if (call == "GetUpdateData")
        api->GetUpdateData();
    else
        QFAIL(qPrintable("unknown call " + call));
}

void tst_TovraApiManager::requests_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("requestLine");
    QTest::addColumn<Headers>("headers");
    QTest::addColumn<QByteArray>("body");

    const Headers get{{"Connection", "close"}, {"Authorization", "Bearer: demo-token-active"}};
    const Headers plain{{"Connection", "close"}};
    const auto post = [](const QByteArray &body) {
        return Headers{{"Connection", "close"},
                       {"Content-Type", "application/json"},
                       {"Content-Length", QString::number(body.size())}};
    };
    const QByteArray email("{\n    \"email\": \"anna@tovra.test\",\n    \"password\": \"Secret1\"\n}\n");
    const QByteArray facebook("{\n    \"secure_token\": \"fb-token\"\n}\n");
    const QByteArray google("{\n    \"code\": \"4/code\",\n    \"redirect_uri\": \"http://127.0.0.1:56743/\"\n}\n");
    const QByteArray reset("{\n    \"email\": \"anna@tovra.test\"\n}\n");

    QTest::newRow("e-mail sign-in") << "AuthEmail"
                                    << "POST /auth/email" << post(email) << email;
    QTest::newRow("Facebook sign-in") << "AuthFacebook"
                                      << "POST /auth/facebook" << post(facebook) << facebook;
    QTest::newRow("Google sign-in") << "AuthGoogle"
                                    << "POST /auth/google" << post(google) << google;
    QTest::newRow("password reset") << "ResetPassword"
                                    << "POST /auth/reset_password" << post(reset) << reset;
    QTest::newRow("plan") << "GetUserPlan"
                          << "GET /users/me/plan" << get << QByteArray();
    QTest::newRow("bandwidth") << "GetUserBandwidth"
                               << "GET /users/me/bandwidth" << get << QByteArray();
    QTest::newRow("user details") << "GetUserData"
                                  << "GET /users/me" << get << QByteArray();
    QTest::newRow("local IP") << "GetLocalIpData"
                              << "GET /users/me/ip" << get << QByteArray();
    QTest::newRow("assigned IP") << "GetAssignedIpData"
                                 << "GET /users/me/ip" << get << QByteArray();
    QTest::newRow("traffic refresh") << "UpdateUserBandwidth"
                                     << "GET /users/me/bandwidth" << get << QByteArray();
    QTest::newRow("account link") << "GetUserAutoAuthUrl"
                                  << "GET /users/me/auto_auth_url?goto=share.php" << get << QByteArray();
    QTest::newRow("account link, no suffix") << "GetUserAutoAuthUrl empty"
                                             << "GET /users/me/auto_auth_url" << get << QByteArray();
    QTest::newRow("upgrade, trial") << "OpenUpgradeUrl trial"
                                    << "GET /users/me/auto_auth_url?goto=upgrade-trial.php" << get << QByteArray();
    QTest::newRow("upgrade, unlimited") << "OpenUpgradeUrl unlimited"
                                        << "GET /users/me/auto_auth_url?goto=clientarea.php%23upgrade-to-unlim-annual"
                                        << get << QByteArray();
    QTest::newRow("upgrade, limited") << "OpenUpgradeUrl limited"
                                      << "GET /users/me/auto_auth_url?goto=clientarea.php%23upgrade-50-to-unlim" << get
                                      << QByteArray();
    QTest::newRow("server list") << "GetServerList"
                                 << "GET /users/me/servers?is_debug=false" << get << QByteArray();
    QTest::newRow("best server") << "GetBestServer"
                                 << "GET /users/me/servers/best?country_code=nl&is_p2p=true&is_streaming=false" << get
                                 << QByteArray();
    QTest::newRow("OpenVPN TCP") << "GetOpenVpnTcpConfig"
                                 << "GET /config/openvpn/tcp" << get << QByteArray();
    QTest::newRow("OpenVPN UDP") << "GetOpenVpnUdpConfig"
                                 << "GET /config/openvpn/udp" << get << QByteArray();
    QTest::newRow("update check") << "GetUpdateData"
                                  << "GET /config/app/win" << plain << QByteArray();
}

void tst_TovraApiManager::requests()
{
    QFETCH(QString, call);
    QFETCH(QString, requestLine);
    QFETCH(Headers, headers);
    QFETCH(QByteArray, body);
    const QString path = requestLine.section(QLatin1Char(' '), 1).section(QLatin1Char('?'), 0, 0);
    // An answer every handler ignores quietly, so nothing follows from it.
    QVERIFY(provider.script(path, 418, QByteArray()));
    Start(call);
    QTRY_VERIFY_WITH_TIMEOUT(Logged(" response code: "), 10000);
    const QJsonObject request = LastRequest(path);
    QCOMPARE(request.value("method").toString() + " " + request.value("target").toString(), requestLine);
    QCOMPARE(ClientHeaders(request), headers);
    QCOMPARE(QByteArray::fromBase64(request.value("bodyBase64").toString().toLatin1()), body);
}

void tst_TovraApiManager::passwordMaskedInLogOnly()
{
    QVERIFY(provider.script("/auth/email", 401, QByteArray()));
    QSignalSpy received(auth, &TovraAuthManager::UserDataReceived);
    api->AuthEmail(QStringLiteral("anna@tovra.test"), QStringLiteral("Secret1"));
    QVERIFY(received.wait(10000));
    QVERIFY(LastRequest("/auth/email").value("body").toString().contains("\"password\": \"Secret1\""));
    QVERIFY(Logged(provider.apiUrl() + "/auth/email  post data:  {\n    \"email\": \"anna@tovra.test\",\n    "
                                       "\"password\": \"*******\"\n}\n"));
    QVERIFY(!Logged("Secret1"));
}

void tst_TovraApiManager::signInErrors_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("result"); // -1: no result, an API error instead

    const QStringList calls{"AuthEmail", "AuthFacebook", "AuthGoogle"};
    for (const QString &call : calls) {
        const QByteArray name = call.toLatin1();
        QTest::newRow(name + " 401") << call << 401 << int(TovraAuthManager::AuthFailed);
        QTest::newRow(name + " 404") << call << 404 << int(TovraAuthManager::AuthFailed);
        QTest::newRow(name + " 503") << call << 503
                                     << (call == "AuthEmail" ? int(TovraAuthManager::AuthIpBlacklisted) : -1);
        QTest::newRow(name + " 500") << call << 500 << -1;
    }
}

void tst_TovraApiManager::signInErrors()
{
    QFETCH(QString, call);
    QFETCH(int, status);
    QFETCH(int, result);
    const QString path = call == "AuthEmail"      ? "/auth/email"
                         : call == "AuthFacebook" ? "/auth/facebook"
                                                  : "/auth/google";
    QVERIFY(provider.script(path, status, QByteArrayLiteral("{\"error\": \"scripted\"}")));
    QSignalSpy received(auth, &TovraAuthManager::UserDataReceived);
    QSignalSpy errors(api, &TovraApiManager::ApiErrorOccurred);
    Start(call);
    QTRY_VERIFY_WITH_TIMEOUT(received.count() + errors.count() > 0, 10000);
    QTest::qWait(100);
    QVERIFY(Logged(path + " response code:  " + QString::number(status)));
    QVERIFY(Logged(path + " api response:  {\"error\": \"scripted\"}"));
    if (result >= 0) {
        QCOMPARE(received.count(), 1);
        QCOMPARE(Result(received), result);
        QCOMPARE(errors.count(), 0);
    } else {
        QCOMPARE(received.count(), 0);
        QCOMPARE(errors.count(), 1);
        QVERIFY2(errors.at(0).at(0).toString().startsWith("Network error: "),
                 qPrintable(errors.at(0).at(0).toString()));
    }
    QVERIFY(provider.requests("/users/me/plan").isEmpty());
}

void tst_TovraApiManager::signInEmptyReplies_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QByteArray>("body");
    for (const QString &call : {QStringLiteral("AuthEmail"), QStringLiteral("AuthGoogle")}) {
        QTest::newRow(qPrintable(call + ", empty body")) << call << QByteArray();
        QTest::newRow(qPrintable(call + ", malformed")) << call << QByteArray("{\"token\": ");
        QTest::newRow(qPrintable(call + ", no token")) << call << QByteArray("{}");
    }
}

void tst_TovraApiManager::signInEmptyReplies()
{
    QFETCH(QString, call);
    QFETCH(QByteArray, body);
    QVERIFY(provider.script(call == "AuthEmail" ? "/auth/email" : "/auth/google", 200, body));
    QSignalSpy received(auth, &TovraAuthManager::UserDataReceived);
    QSignalSpy errors(api, &TovraApiManager::ApiErrorOccurred);
    Start(call);
    QVERIFY(errors.wait(10000));
    QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("API returned empty result"));
    QCOMPARE(received.count(), 0);
    QVERIFY(!QFile::exists(AppContext::instance()->dataPaths()->tokenFile()));
}

void tst_TovraApiManager::passwordReset_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("result");
    QTest::newRow("accepted") << 200 << QByteArray("{\"result\": \"ok\"}") << true;
    QTest::newRow("accepted, body not inspected") << 200 << QByteArray("not json") << true;
    QTest::newRow("unknown address") << 404 << QByteArray() << false;
    QTest::newRow("server error") << 500 << QByteArray() << false;
}

void tst_TovraApiManager::passwordReset()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, result);
    QVERIFY(provider.script("/auth/reset_password", status, body));
    QSignalSpy sent(api, &TovraApiManager::PasswordResetRequestSent);
    QSignalSpy errors(api, &TovraApiManager::ApiErrorOccurred);
    api->ResetPassword(QStringLiteral("anna@tovra.test"));
    QVERIFY(sent.wait(10000));
    QCOMPARE(sent.at(0).at(0).toBool(), result);
    QCOMPARE(Logged("Network error occurred during api call: "), !result);
    QCOMPARE(errors.count(), 0);
}

void tst_TovraApiManager::userDataChain()
{
    // The demo account behind the token, answered by the stand-in's own data.
    QSignalSpy received(auth, &TovraAuthManager::UserDataReceived);
    QFile token(AppContext::instance()->dataPaths()->tokenFile());
    QVERIFY(token.open(QIODevice::WriteOnly));
    token.write(ScrambleText(QStringLiteral("demo-token-limited")).toLatin1());
    token.close();
    QVERIFY(auth->LoadToken());
    auth->RequestUserData();
    QVERIFY(received.wait(10000));
    QCOMPARE(received.count(), 1);
    QVERIFY(Logged("User has active status. Proceed to next api request."));
    QCOMPARE(Result(received), int(TovraAuthManager::AuthSuccess));
    QCOMPARE(api->token, QStringLiteral("demo-token-limited"));

    // Plan, then bandwidth, then details: each asked only after the previous answer.
    QStringList order;
    for (const QJsonValue &value : provider.requests())
        order << value.toObject().value("path").toString();
    QCOMPARE(order, (QStringList{"/users/me/plan", "/users/me/bandwidth", "/users/me"}));

    const TovraUserData &user = auth->userData();
    QCOMPARE(user.token, QStringLiteral("demo-token-limited"));
    QCOMPARE(user.email, QStringLiteral("limited@tovra.test"));
    QCOMPARE(user.id, QStringLiteral("100002"));
    QCOMPARE(user.firstName, QStringLiteral("Lars"));
    QCOMPARE(user.lastName, QStringLiteral("Limited"));
    QCOMPARE(user.bytesTotal, quint64(10737418240ull));
    QCOMPARE(user.bytesUsed, quint64(10522669875ull));
    QCOMPARE(user.status, QStringLiteral("ACTIVE"));
    QVERIFY(!user.isUnlimited && !user.isAnnual && !user.isTrial && !user.isB2b);
}

void tst_TovraApiManager::planReplies_data()
{
    QTest::addColumn<QJsonObject>("script");
    QTest::addColumn<int>("result");    // -1: none
    QTest::addColumn<QString>("error"); // ApiErrorOccurred text, prefix
    QTest::addColumn<bool>("tokenKept");

    const auto plan = [](const QByteArray &body, int status = 200) {
        return QJsonObject{{"path", "/users/me/plan"}, {"status", status}, {"body", QString::fromUtf8(body)}};
    };
    QTest::newRow("lower-case active continues") << plan("{\"status\": \"active\", \"is_unlimited\": 1}")
                                                 << int(TovraAuthManager::AuthSuccess) << QString() << true;
    QTest::newRow("pending") << plan("{\"status\": \"pending\", \"is_trial\": 1}")
                             << int(TovraAuthManager::AuthAccountInactive) << QString() << false;
    QTest::newRow("no status") << plan("{\"is_trial\": 1}") << int(TovraAuthManager::AuthAccountInactive) << QString()
                               << false;
    QTest::newRow("401") << plan("", 401) << int(TovraAuthManager::AuthFailed) << QString() << false;
    QTest::newRow("404") << plan("", 404) << int(TovraAuthManager::AuthFailed) << QString() << false;
    QTest::newRow("502") << plan("", 502) << -1 << "Network error: " << true;
    QTest::newRow("no answer at all") << QJsonObject{{"path", "/users/me/plan"}, {"hangup", true}} << -1
                                      << "Network error: " << true;
    QTest::newRow("empty body") << plan("") << -1 << "API returned empty result" << true;
    QTest::newRow("malformed body") << plan("{\"status\"") << -1 << "API returned empty result" << true;
    QTest::newRow("array body") << plan("[1]") << -1 << "API returned empty result" << true;
}

void tst_TovraApiManager::planReplies()
{
    QFETCH(QJsonObject, script);
    QFETCH(int, result);
    QFETCH(QString, error);
    QFETCH(bool, tokenKept);
    QVERIFY2(provider.script(script), qPrintable(provider.errorString()));
    QFile token(AppContext::instance()->dataPaths()->tokenFile());
    QVERIFY(token.open(QIODevice::WriteOnly));
    token.write(ScrambleText(QStringLiteral("demo-token-trial")).toLatin1());
    token.close();
    QVERIFY(auth->LoadToken());

    QSignalSpy received(auth, &TovraAuthManager::UserDataReceived);
    QSignalSpy errors(api, &TovraApiManager::ApiErrorOccurred);
    auth->RequestUserData();
    QTRY_VERIFY_WITH_TIMEOUT(received.count() + errors.count() > 0, 15000);
    QTest::qWait(100);
    if (result >= 0) {
        QCOMPARE(received.count(), 1);
        QCOMPARE(Result(received), result);
        QCOMPARE(errors.count(), 0);
    } else {
        QCOMPARE(received.count(), 0);
        QCOMPARE(errors.count(), 1);
        QVERIFY2(errors.at(0).at(0).toString().startsWith(error), qPrintable(errors.at(0).at(0).toString()));
    }
    QCOMPARE(QFile::exists(token.fileName()), tokenKept);
    if (result == TovraAuthManager::AuthAccountInactive) {
        QVERIFY(auth->userData().isTrial);
        QVERIFY(provider.requests("/users/me/bandwidth").isEmpty());
    }
    if (result == TovraAuthManager::AuthSuccess)
        QCOMPARE(auth->userData().status, QStringLiteral("ACTIVE"));
}

void tst_TovraApiManager::laterChainErrors_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("error");
    QTest::newRow("bandwidth 500") << "/users/me/bandwidth" << 500 << QByteArray() << "Network error: ";
    QTest::newRow("bandwidth 401") << "/users/me/bandwidth" << 401 << QByteArray() << "Network error: ";
    QTest::newRow("bandwidth empty") << "/users/me/bandwidth" << 200 << QByteArray() << "API returned empty result";
    QTest::newRow("details 503") << "/users/me" << 503 << QByteArray() << "Network error: ";
    QTest::newRow("details malformed") << "/users/me" << 200 << QByteArray("{") << "API returned empty result";
}

void tst_TovraApiManager::laterChainErrors()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, error);
    QVERIFY(provider.script(path, status, body));
    QSignalSpy received(auth, &TovraAuthManager::UserDataReceived);
    QSignalSpy errors(api, &TovraApiManager::ApiErrorOccurred);
    api->token = QStringLiteral("demo-token-active");
    api->GetUserPlan();
    QVERIFY(errors.wait(10000));
    QVERIFY2(errors.at(0).at(0).toString().startsWith(error), qPrintable(errors.at(0).at(0).toString()));
    QTest::qWait(100);
    QCOMPARE(received.count(), 0);
}

void tst_TovraApiManager::trafficRefresh_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<quint64>("total");
    QTest::addColumn<quint64>("used");
    QTest::addColumn<bool>("unlimited");
    QTest::newRow("figures") << 200 << QByteArray("{\"bytes_total\": 10737418240, \"bytes_used\": 1073741824.9}")
                             << true << quint64(10737418240ull) << quint64(1073741824ull) << false;
    QTest::newRow("used above total") << 200
                                      << QByteArray("{\"bytes_total\": 100, \"bytes_used\": 150, \"is_unlimited\": 1}")
                                      << true << quint64(100) << quint64(100) << true;
    QTest::newRow("negative counts read as 0")
        << 200 << QByteArray("{\"bytes_total\": -5, \"bytes_used\": -1}") << true << quint64(0) << quint64(0) << false;
    QTest::newRow("error") << 500 << QByteArray("oops") << false << quint64(7) << quint64(3) << false;
    QTest::newRow("empty") << 200 << QByteArray() << false << quint64(7) << quint64(3) << false;
}

void tst_TovraApiManager::trafficRefresh()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    QFETCH(quint64, total);
    QFETCH(quint64, used);
    QFETCH(bool, unlimited);
    auth->OnTrafficUpdated(true, 7, 3, false);
    QVERIFY(provider.script("/users/me/bandwidth", status, body));
    QSignalSpy updated(auth, &TovraAuthManager::UserTrafficUpdated);
    QSignalSpy errors(api, &TovraApiManager::ApiErrorOccurred);
    api->UpdateUserBandwidth();
    QVERIFY(updated.wait(10000));
    QCOMPARE(updated.at(0).at(0).toBool(), ok);
    QCOMPARE(auth->userData().bytesTotal, total);
    QCOMPARE(auth->userData().bytesUsed, used);
    QCOMPARE(auth->userData().isUnlimited, unlimited);
    QCOMPARE(errors.count(), 0);
    QVERIFY(Logged("Update user's bandwidth data"));
}

void tst_TovraApiManager::repliesReachTheirOwnHandlers()
{
    // A slow best-server answer and a map asked for meanwhile.
    QVERIFY(provider.script(
        QJsonObject{{"path", "/users/me/servers/best"},
                    {"status", 200},
                    {"delayMs", 700},
                    {"body", "{\"country_code\": \"nl\", \"short_name\": \"nl-ams-1\", \"ip\": \"10.1.1.1\"}"}}));
    QSignalSpy best(api, &TovraApiManager::BestServerReceived);
    QSignalSpy map(api, &TovraApiManager::MapImageReceived);
    api->GetBestServer(QStringLiteral("nl"), false, false);
    api->GetMapImage(4.9, 52.4, 5.1, 52.1, false);
    QTRY_VERIFY_WITH_TIMEOUT(best.count() == 1 && map.count() == 1, 10000);
    QVERIFY(best.at(0).at(0).toBool());
    QCOMPARE(best.at(0).at(1).value<TovraServer>().shortName, QStringLiteral("nl-ams-1"));
    QVERIFY(map.at(0).at(0).toBool());

    // A traffic refresh while the user-data chain runs.
    QVERIFY(provider.script(QJsonObject{
        {"path", "/users/me/plan"}, {"status", 200}, {"delayMs", 500}, {"body", "{\"status\": \"ACTIVE\"}"}}));
    QSignalSpy received(auth, &TovraAuthManager::UserDataReceived);
    QSignalSpy traffic(auth, &TovraAuthManager::UserTrafficUpdated);
    api->token = QStringLiteral("demo-token-active");
    api->GetUserPlan();
    api->UpdateUserBandwidth();
    QTRY_VERIFY_WITH_TIMEOUT(received.count() == 1 && traffic.count() == 1, 10000);
    QCOMPARE(Result(received), int(TovraAuthManager::AuthSuccess));
    QVERIFY(traffic.at(0).at(0).toBool());
    QCOMPARE(provider.requests("/users/me/bandwidth").size(), 2);
}

void tst_TovraApiManager::localIpData()
{
    QVERIFY(provider.script(
        "/users/me/ip", 200,
        "{\"ip\": \"198.51.100.7\", \"location\": {\"type\": \"Point\", \"coordinates\": [4.89, 52.37]}}"));
    TovraIpManager *ip = AppContext::instance()->ipManager();
    QSignalSpy local(ip, &TovraIpManager::LocalIpDataReceived);
    ip->RequestLocalIp();
    QVERIFY(local.wait(10000));
    QCOMPARE(ip->localIp, QStringLiteral("198.51.100.7"));
    QCOMPARE(ip->latitude, 52.37);
    QCOMPARE(ip->longitude, 4.89);
    QVERIFY(Logged("Local /users/me/ip api response: "));

    // A failed local request goes the standard way and never reaches the IP manager.
    QVERIFY(provider.script("/users/me/ip", 500, QByteArray()));
    QSignalSpy errors(api, &TovraApiManager::ApiErrorOccurred);
    ip->RequestLocalIp();
    QVERIFY(errors.wait(10000));
    QCOMPARE(local.count(), 1);
}

void tst_TovraApiManager::assignedIpAbortedAfterEightSeconds()
{
    QCOMPARE(api->assignedIpTimeout(), 8000);
    // Answered only after 30 s; the request must give up well before the wait below ends.
    QVERIFY(provider.script(QJsonObject{
        {"path", "/users/me/ip"}, {"status", 200}, {"delayMs", 30000}, {"body", "{\"ip\": \"192.0.2.1\"}"}}));
    TovraIpManager *ip = AppContext::instance()->ipManager();
    ip->localIp = QStringLiteral("203.0.113.10");
    ip->firstAttempt = false; // the last attempt of a check: its failure is final
    QSignalSpy finished(ip, &TovraIpManager::RemoteIpCheckFinished);
    QSignalSpy errors(api, &TovraApiManager::ApiErrorOccurred);
    ip->RequestRemoteIp();
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.at(0).at(0).toBool(), false);
    QVERIFY(ip->assignedIp.isEmpty());
    QVERIFY(Logged("Network error occurred during api call: "));
    QVERIFY(Logged("Second attempt to request new IP failed. Disconnect here."));
    QCOMPARE(errors.count(), 0);
}

void tst_TovraApiManager::serverList_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("servers"); // -1: API error instead
    QTest::addColumn<QString>("error");
    QTest::newRow("list")
        << 200
        << QByteArray(
               "[{\"country_code\": \"NL\", \"country_name\": \"Netherlands\", \"city\": \"Amsterdam\",\n"
               "                                 \"short_name\": \"nl1\", \"is_alive\": 1, \"load_percentage\": 50},\n"
               "                                {\"country_code\": \"DE\", \"country_name\": \"Germany 2\", \"city\": "
               "\"Berlin\",\n"
               "                                 \"short_name\": \"de1\", \"is_alive\": 1, \"is_p2p\": 1}]")
        << 2 << QString();
    QTest::newRow("object instead of array") << 200 << QByteArray("{\"servers\": 1}") << 0 << QString();
    QTest::newRow("empty body") << 200 << QByteArray() << -1 << "API returned empty result";
    QTest::newRow("malformed") << 200 << QByteArray("[{") << -1 << "API returned empty result";
    QTest::newRow("401") << 401 << QByteArray() << -1 << "Network error: ";
    QTest::newRow("500") << 500 << QByteArray() << -1 << "Network error: ";
}

void tst_TovraApiManager::serverList()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, servers);
    QFETCH(QString, error);
    QVERIFY(provider.script("/users/me/servers", status, body));
    TovraServerManager *manager = AppContext::instance()->serverManager();
    QSignalSpy updated(manager, &TovraServerManager::ServersUpdated);
    QSignalSpy errors(api, &TovraApiManager::ApiErrorOccurred);
    api->GetServerList();
    QTRY_VERIFY_WITH_TIMEOUT(updated.count() + errors.count() > 0, 10000);
    if (servers >= 0) {
        QCOMPARE(updated.count(), 1);
        QCOMPARE(manager->FullList().size(), servers);
        QVERIFY(Logged("/users/me/servers api response: \n"));
    } else {
        QCOMPARE(updated.count(), 0);
        QVERIFY2(errors.at(0).at(0).toString().startsWith(error), qPrintable(errors.at(0).at(0).toString()));
    }
}

void tst_TovraApiManager::bestServer_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("result");
    QTest::newRow("found") << 200
                           << QByteArray(
                                  "{\"country_code\": \"nl\", \"short_name\": \"nl-ams-3\", \"ip\": \"10.2.2.2\",\n"
                                  "                                 \"location\": {\"coordinates\": [4.9, 52.4]}, "
                                  "\"load_percentage\": 70}")
                           << true;
    QTest::newRow("error") << 500 << QByteArray("{}") << false;
    QTest::newRow("empty") << 200 << QByteArray() << false;
}

void tst_TovraApiManager::bestServer()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, result);
    QVERIFY(provider.script("/users/me/servers/best", status, body));
    QSignalSpy best(api, &TovraApiManager::BestServerReceived);
    QSignalSpy errors(api, &TovraApiManager::ApiErrorOccurred);
    api->GetBestServer(QStringLiteral("nl"), false, true);
    QVERIFY(best.wait(10000));
    QCOMPARE(best.at(0).at(0).toBool(), result);
    const TovraServer server = best.at(0).at(1).value<TovraServer>();
    QCOMPARE(errors.count(), 0);
    if (!result) {
        QVERIFY(server.shortName.isEmpty() && server.ip.isEmpty() && server.isAlive);
        return;
    }
    QCOMPARE(server.countryCode, QStringLiteral("nl"));
    QCOMPARE(server.shortName, QStringLiteral("nl-ams-3"));
    QCOMPARE(server.ip, QStringLiteral("10.2.2.2"));
    QCOMPARE(server.latitude, 52.4);
    QCOMPARE(server.longitude, 4.9);
    QCOMPARE(server.loadPercentage, 70);
    QCOMPARE(server.loadIcon.cacheKey(), ServerIcons::LoadIcon(70).cacheKey());
    QVERIFY(Logged("Best server found: nl-ams-3 (10.2.2.2)"));
}

void tst_TovraApiManager::openVpnConfig_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("error");
    QTest::newRow("TCP") << true << 200 << QByteArray("{\"openvpn_config\": \"client\\nproto tcp\\n\"}") << QString();
    QTest::newRow("UDP") << false << 200 << QByteArray("{\"openvpn_config\": \"client\\nproto udp\\n\"}") << QString();
    QTest::newRow("TCP error") << true << 500 << QByteArray() << "Network error: ";
    QTest::newRow("UDP empty") << false << 200 << QByteArray() << "API returned empty result";
}

void tst_TovraApiManager::openVpnConfig()
{
    QFETCH(bool, tcp);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, error);
    QVERIFY(provider.script(tcp ? "/config/openvpn/tcp" : "/config/openvpn/udp", status, body));
    QSignalSpy tcpSpy(api, &TovraApiManager::OpenVpnTcpConfigUpdated);
    QSignalSpy udpSpy(api, &TovraApiManager::OpenVpnUdpConfigUpdated);
    QSignalSpy errors(api, &TovraApiManager::ApiErrorOccurred);
    if (tcp)
        api->GetOpenVpnTcpConfig();
    else
        api->GetOpenVpnUdpConfig();
    QTRY_VERIFY_WITH_TIMEOUT(tcpSpy.count() + udpSpy.count() + errors.count() > 0, 10000);
    if (!error.isEmpty()) {
        QVERIFY2(errors.at(0).at(0).toString().startsWith(error), qPrintable(errors.at(0).at(0).toString()));
        QCOMPARE(tcpSpy.count() + udpSpy.count(), 0);
        return;
    }
    QSignalSpy &spy = tcp ? tcpSpy : udpSpy;
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(),
             tcp ? QStringLiteral("client\nproto tcp\n") : QStringLiteral("client\nproto udp\n"));
    QCOMPARE((tcp ? udpSpy : tcpSpy).count(), 0);
}

void tst_TovraApiManager::updateData_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("url");
    const QString page = BuildConstants::downloadPageUrl();
    QTest::newRow("version only") << 200 << QByteArray("{\"version\": \"4.2.0\"}") << "4.2.0.0" << page;
    QTest::newRow("everything") << 200
                                << QByteArray(
                                       "{\"version\": \"4.2.0\", \"build\": \"80\", \"url\": \"https://dl.test/x\"}")
                                << "4.2.0.80"
                                << "https://dl.test/x";
    QTest::newRow("numeric build") << 200 << QByteArray("{\"version\": \"4.2.1\", \"build\": 81}") << "4.2.1.81"
                                   << page;
    QTest::newRow("empty object") << 200 << QByteArray("{}") << "0.0.0.0" << page;
    QTest::newRow("empty body") << 200 << QByteArray() << "0.0.0.0" << page;
    QTest::newRow("malformed") << 200 << QByteArray("{\"version\"") << "0.0.0.0" << page;
    QTest::newRow("error") << 404 << QByteArray("{\"version\": \"9.9.9\"}") << "0.0.0.0" << page;
}

void tst_TovraApiManager::updateData()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, version);
    QFETCH(QString, url);
    QVERIFY(provider.script("/config/app/win", status, body));
    QSignalSpy update(api, &TovraApiManager::UpdateDataReceived);
    QSignalSpy errors(api, &TovraApiManager::ApiErrorOccurred);
    api->GetUpdateData();
    QVERIFY(update.wait(10000));
    QCOMPARE(update.at(0).at(0).toString(), version);
    QCOMPARE(update.at(0).at(1).toString(), url);
    QCOMPARE(errors.count(), 0);
    QVERIFY(Logged("/config/app response code:  " + QString::number(status)));
}

void tst_TovraApiManager::ticket_data()
{
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<QString>("firstName");
    QTest::addColumn<QByteArray>("nameInBody");
    QTest::addColumn<bool>("withFiles");
    QTest::newRow("signed in") << true << "Anna" << QByteArray("Anna") << true;
    QTest::newRow("signed in, non-ASCII name") << true << QString::fromUtf8("Zoë") << QByteArray("Zo\xc3\xab") << true;
    QTest::newRow("signed in, quote and backslash")
        << true << "Ann \"Q\" \\ B" << QByteArray("Ann \\\"Q\\\" \\\\ B") << true;
    QTest::newRow("signed in, control characters") << true << "A\tB\nC\x01" << QByteArray("A\\tB\\nC\\u0001") << true;
    QTest::newRow("signed in, files missing") << true << "Anna" << QByteArray("Anna") << false;
    QTest::newRow("anonymous") << false << "Anna" << QByteArray("Non-logged user") << true;
    QTest::newRow("anonymous, files missing") << false << "Anna" << QByteArray("Non-logged user") << false;
}

void tst_TovraApiManager::ticket()
{
    QFETCH(bool, signedIn);
    QFETCH(QString, firstName);
    QFETCH(QByteArray, nameInBody);
    QFETCH(bool, withFiles);
    DataPaths *paths = AppContext::instance()->dataPaths();
    const QByteArray log("Dec 06 01:25:42 | Message: XXXXabcYYYY\r\n");
    const QByteArray support("ipconfig output\r\n\xff\x00 binary");
    QFile::remove(paths->logFile());
    QFile::remove(paths->supportDataFile());
    if (withFiles) {
        QFile logFile(paths->logFile());
        QVERIFY(logFile.open(QIODevice::WriteOnly));
        logFile.write(log);
        QFile supportFile(paths->supportDataFile());
        QVERIFY(supportFile.open(QIODevice::WriteOnly));
        supportFile.write(support);
    }
    TovraUserData user;
    user.firstName = firstName;
    SignIn(user);
    api->token = QStringLiteral("demo-token-active");
    const QString path = signedIn ? "/users/me/ticket" : "/users/anonymous/ticket";
    QVERIFY(provider.script(path, 200, "{\"url\": \"https://portal.test/ticket/1\"}"));
    QSignalSpy done(api, &TovraApiManager::SupportTicketFinished);
    api->SendSupportTicket(signedIn);
    QVERIFY(done.wait(10000));

    QByteArray expected = "{\"name\": \"" + nameInBody +
                          "\", \"subject\": \"Automatic ticket from TOVRA v.4.1.5 (71)\", \"message\": \"This ticket "
                          "was automatically generated by TOVRA application request.\", \"client_log\": \"" +
                          (withFiles ? log.toBase64() : QByteArray()) + "\", \"collected_data\": \"";
    if (signedIn)
        expected += (withFiles ? support.toBase64() : QByteArray()) + "\"}";
    else
        expected += "\"}";
    const QJsonObject request = LastRequest(path);
    const QByteArray body = QByteArray::fromBase64(request.value("bodyBase64").toString().toLatin1());
    QCOMPARE(body, expected);
    QJsonParseError parseError;
    const QJsonObject parsed = QJsonDocument::fromJson(body, &parseError).object();
    QCOMPARE(parseError.error, QJsonParseError::NoError);
    QCOMPARE(parsed.value("name").toString(), signedIn ? firstName : QStringLiteral("Non-logged user"));

    // Qt's HTTP layer sets Content-Length from the upload size just before sending, which puts it after
    // every header set by the client: the bearer header goes out before it.
    Headers headers{{"Connection", "close"}, {"Content-Type", "application/json"}};
    if (signedIn)
        headers << qMakePair(QStringLiteral("Authorization"), QStringLiteral("Bearer: demo-token-active"));
    headers << qMakePair(QStringLiteral("Content-Length"), QString::number(expected.size()));
    QCOMPARE(ClientHeaders(request), headers);
    QVERIFY(Logged(" post data without logfile and supportfile: "));
}

void tst_TovraApiManager::ticketReply_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("url");
    QTest::newRow("stored") << 200 << QByteArray("{\"url\": \"https://portal.test/t/7\"}") << true
                            << "https://portal.test/t/7";
    QTest::newRow("error") << 400 << QByteArray("{\"url\": \"https://portal.test/t/7\"}") << false << QString();
    QTest::newRow("empty") << 200 << QByteArray() << false << QString();
}

void tst_TovraApiManager::ticketReply()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, result);
    QFETCH(QString, url);
    QVERIFY(provider.script("/users/anonymous/ticket", status, body));
    QSignalSpy done(api, &TovraApiManager::SupportTicketFinished);
    api->SendSupportTicket(false);
    QVERIFY(done.wait(10000));
    QCOMPARE(done.at(0).at(0).toBool(), result);
    QCOMPARE(done.at(0).at(1).toString(), url);
    QVERIFY(Logged("/users/me/ticket response code:  " + QString::number(status)));
}

void tst_TovraApiManager::accountLink_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("opened");
    QTest::addColumn<QString>("log");
    QTest::newRow("link") << 200 << QByteArray("{\"url\": \"https://portal.test/auto?key=1\"}")
                          << "https://portal.test/auto?key=1"
                          << "Account link found:  https://portal.test/auto?key=1";
    QTest::newRow("empty") << 200 << QByteArray("{}") << QString() << "Auto_auth response is empty. Do nothing";
    QTest::newRow("malformed") << 200 << QByteArray("{") << QString() << "Auto_auth response is empty. Do nothing";
    QTest::newRow("error") << 500 << QByteArray("{\"url\": \"https://portal.test/x\"}") << QString()
                           << "Network error occurred during api call: ";
    QTest::newRow("not a web address") << 200 << QByteArray("{\"url\": \"file:///tmp/run.exe\"}") << QString()
                                       << "Account link is not a web address. Not opened:";
}

void tst_TovraApiManager::accountLink()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, opened);
    QFETCH(QString, log);
    QVERIFY(provider.script("/users/me/auto_auth_url", status, body));
    QSignalSpy errors(api, &TovraApiManager::ApiErrorOccurred);
    api->GetUserAutoAuthUrl(QString());
    QTRY_VERIFY_WITH_TIMEOUT(Logged(log), 10000);
    QTest::qWait(100);
    QCOMPARE(this->opened, opened.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(opened)});
    QCOMPARE(errors.count(), 0);
}

void tst_TovraApiManager::mapImage()
{
    TovraUserData user;
    user.isB2b = true;
    SignIn(user);
    AppContext::instance()->config()->highDpiScreen = true;
    QSignalSpy map(api, &TovraApiManager::MapImageReceived);
    api->GetMapImage(4.8951679, 52.3702157, -120.2, 38.5, true);
    QVERIFY(map.wait(10000));
    QVERIFY(map.at(0).at(0).toBool());
    // The stand-in draws the size it was asked for: 417x174 at twice the density.
    QCOMPARE(map.at(0).at(1).value<QImage>().size(), QSize(834, 348));
    const QJsonArray requests = provider.requests();
    QCOMPARE(requests.size(), 1);
    const QString target = requests.at(0).toObject().value("target").toString();
    QVERIFY2(target.startsWith("/styles/v1/mapbox/streets-v11/static/path-2+F38827-1("), qPrintable(target));
    QVERIFY2(target.contains("url-" + QString::fromLatin1(QUrl::toPercentEncoding(provider.portalUrl())) +
                             "%2Fassets%2Fimg%2Fmapbox_marker_self_2x.png(4.89517,52.3702)"),
             qPrintable(target));
    QVERIFY2(target.contains("/auto/417x174@2x?access_token="), qPrintable(target));
    QCOMPARE(ClientHeaders(requests.at(0).toObject()), (Headers{{"Connection", "close"}}));
    QVERIFY(Logged("Sending map request:  "));

    // A failing map service.
    api->setMapApiBaseUrl(provider.apiUrl());
    api->GetMapImage(4.8951679, 52.3702157, -120.2, 38.5, false);
    QVERIFY(map.wait(10000));
    api->setMapApiBaseUrl(provider.portalUrl());
    QVERIFY(!map.at(1).at(0).toBool());
    QVERIFY(map.at(1).at(1).value<QImage>().isNull());
    QVERIFY(Logged("Error ocurred when loading google map image: "));

    // Data that is no image still counts as an answer.
    QVERIFY(provider.script(
        QJsonObject{{"path", "/styles/v1/mapbox/streets-v11/static/x"}, {"status", 200}, {"body", "no image"}}));
    api->setMapApiBaseUrl(provider.apiUrl() + "/styles/v1/mapbox/streets-v11/static/x#");
    api->GetMapImage(0, 0, 0, 0, false);
    QVERIFY(map.wait(10000));
    api->setMapApiBaseUrl(provider.portalUrl());
    QVERIFY(map.at(2).at(0).toBool());
    QVERIFY(map.at(2).at(1).value<QImage>().isNull());
}

void tst_TovraApiManager::sslErrorsLoggedAndIgnored()
{
    QSignalSpy update(api, &TovraApiManager::UpdateDataReceived);
    api->GetUpdateData();
    QVERIFY(update.wait(10000));
    QVERIFY(Logged("SSL errors: "));
    // The stand-in's own answer came through despite its self-signed certificate.
    QVERIFY(Logged("/config/app response code:  200"));
}

QTEST_MAIN(tst_TovraApiManager)
#include "tst_tovraapimanager.moc"
