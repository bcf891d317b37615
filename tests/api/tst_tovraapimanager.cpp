#include <QDesktopServices>
#include <QMetaMethod>
#include <QtTest>

#include <map>

#include "api/tovraapimanager.h"
#include "api/tovraauthmanager.h"
#include "app/appcontext.h"
#include "app/buildconstants.h"
#include "app/scramble.h"
#include "api/tovraipmanager.h"
#include "servers/tovraservermanager.h"
#include "support/logcapture.h"
#include "support/standinprovider.h"

using Headers = QList<QPair<QString, QString>>;

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

static QByteArray Body(const QJsonObject &request)
{
    return QByteArray::fromBase64(request.value("bodyBase64").toString().toLatin1());
}

static QJsonObject Reply(const QString &path, int status, const QByteArray &body = QByteArray(), int delayMs = 0)
{
    return QJsonObject{{"path", path}, {"status", status}, {"body", QString::fromUtf8(body)}, {"delayMs", delayMs}};
}

// A server as the tests compare it: name, address, place, load and whether it shows its load's shared icon.
static QString Describe(const TovraServer &s)
{
    if (s.shortName.isEmpty() && s.ip.isEmpty() && s.isAlive)
        return QStringLiteral("none");
    const bool icon = s.loadIcon.cacheKey() == ServerIcons::LoadIcon(s.loadPercentage).cacheKey();
    return QString("%1 %2 %3 %4 %5 %6%7")
        .arg(s.countryCode, s.shortName, s.ip)
        .arg(s.latitude)
        .arg(s.longitude)
        .arg(s.loadPercentage)
        .arg(icon ? "" : " (other icon)");
}

// Records every signal of the given objects as sorted "Name(arg, arg)" lines. A network error ends after
// "Network error: ", as Qt words the rest.
class Emissions
{
public:
    explicit Emissions(const QList<QObject *> &objects)
    {
        for (QObject *object : objects) {
            const QMetaObject *meta = object->metaObject();
            for (int i = QObject::staticMetaObject.methodCount(); i < meta->methodCount(); ++i) {
                if (meta->method(i).methodType() == QMetaMethod::Signal)
                    spies[meta->method(i).name()] = std::make_unique<QSignalSpy>(
                        object, QByteArray("2" + meta->method(i).methodSignature()).constData());
            }
        }
    }
    QStringList all() const
    {
        QStringList out;
        for (const auto &spy : spies) {
            for (const QList<QVariant> &args : *spy.second) {
                QStringList texts;
                for (const QVariant &arg : args)
                    texts << (arg.canConvert<TovraServer>() ? Describe(arg.value<TovraServer>()) : arg.toString());
                const QString line = QString::fromLatin1(spy.first) + "(" + texts.join(", ") + ")";
                out << (line.startsWith("ApiErrorOccurred(Network error: ") ? "ApiErrorOccurred(Network error: ...)"
                                                                            : line);
            }
        }
        out.sort();
        return out;
    }

private:
    std::map<QByteArray, std::unique_ptr<QSignalSpy>> spies;
};

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
    void signIn_data();
    void signIn();
    void answers_data();
    void answers();
    void userDataChain();
    void planReplies_data();
    void planReplies();
    void repliesReachTheirOwnHandlers();
    void assignedIpAbortedAfterEightSeconds();
    void ticket_data();
    void ticket();
    void mapImage();

private:
    void Start(const QString &call);
    void SignIn(TovraUserData data) { auth->OnUserDataChecked(TovraAuthManager::AuthSuccess, data); }
    void StoreToken(const QString &token);
    Emissions Record()
    {
        return Emissions({api, auth, AppContext::instance()->serverManager(), AppContext::instance()->ipManager()});
    }
    QStringList Outcome(const Emissions &emissions) const;
    bool Logged(const QString &text) const { return log->anyContains(text); }
    QJsonObject LastRequest(const QString &path)
    {
        const QJsonArray all = provider.requests(path);
        return all.isEmpty() ? QJsonObject() : all.last().toObject();
    }

    StandInProvider provider;
    TovraApiManager *api = nullptr;
    TovraAuthManager *auth = nullptr;
    QTemporaryDir dir;
    QList<QUrl> opened;
    std::unique_ptr<LogCapture> log;
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
    log = std::make_unique<LogCapture>();
}

void tst_TovraApiManager::cleanupTestCase()
{
    log.reset();
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
    auth->OnTrafficUpdated(true, 7, 3, false);
    AppContext::instance()->config()->highDpiScreen = false;
    // Every assigned-IP answer ends its check at once, so no retry runs into a later test.
    AppContext::instance()->ipManager()->firstAttempt = false;
    opened.clear();
    log->clear();
}

void tst_TovraApiManager::StoreToken(const QString &token)
{
    QFile file(AppContext::instance()->dataPaths()->tokenFile());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(ScrambleText(token).toLatin1());
    file.close();
    QVERIFY(auth->LoadToken());
}

void tst_TovraApiManager::Start(const QString &call)
{
    const auto upgrade = [this](bool trial, bool unlimited) {
        TovraUserData user;
        user.isTrial = trial;
        user.isUnlimited = unlimited;
        SignIn(user);
        api->OpenUpgradeUrl();
    };
    const QHash<QString, std::function<void()>> calls{
        {"AuthEmail", [this] { api->AuthEmail("anna@tovra.test", "Secret1"); }},
        {"AuthFacebook", [this] { api->AuthFacebook("fb-token"); }},
        {"AuthGoogle", [this] { api->AuthGoogle("4/code", "http://127.0.0.1:56743/"); }},
        {"ResetPassword", [this] { api->ResetPassword("anna@tovra.test"); }},
        {"GetUserPlan", [this] { api->GetUserPlan(); }},
        {"GetUserBandwidth", [this] { api->GetUserBandwidth(); }},
        {"GetUserData", [this] { api->GetUserData(); }},
        {"GetLocalIpData", [this] { api->GetLocalIpData(); }},
        {"RequestLocalIp", [] { AppContext::instance()->ipManager()->RequestLocalIp(); }},
        {"GetAssignedIpData", [this] { api->GetAssignedIpData(); }},
        {"UpdateUserBandwidth", [this] { api->UpdateUserBandwidth(); }},
        {"GetUserAutoAuthUrl", [this] { api->GetUserAutoAuthUrl("?goto=share.php"); }},
        {"GetUserAutoAuthUrl empty", [this] { api->GetUserAutoAuthUrl(QString()); }},
        {"OpenUpgradeUrl trial", [=] { upgrade(true, false); }},
        {"OpenUpgradeUrl unlimited", [=] { upgrade(false, true); }},
        {"OpenUpgradeUrl limited", [=] { upgrade(false, false); }},
        {"GetServerList", [this] { api->GetServerList(); }},
        {"GetBestServer", [this] { api->GetBestServer("nl", true, false); }},
        {"GetOpenVpnTcpConfig", [this] { api->GetOpenVpnTcpConfig(); }},
        {"GetOpenVpnUdpConfig", [this] { api->GetOpenVpnUdpConfig(); }},
        {"GetUpdateData", [this] { api->GetUpdateData(); }},
        {"SendSupportTicket anonymous", [this] { api->SendSupportTicket(false); }},
    };
    QVERIFY2(calls.contains(call), qPrintable("unknown call " + call));
    calls.value(call)();
}

// Each row is named after the call it makes.
void tst_TovraApiManager::requests_data()
{
    QTest::addColumn<QString>("requestLine");
    QTest::addColumn<Headers>("headers");
    QTest::addColumn<QByteArray>("body");

    const Headers get{{"Connection", "close"}, {"Authorization", "Bearer: demo-token-active"}};
    const auto post = [](const QByteArray &body) {
        return Headers{{"Connection", "close"},
                       {"Content-Type", "application/json"},
                       {"Content-Length", QString::number(body.size())}};
    };
    const QByteArray email("{\n    \"email\": \"anna@tovra.test\",\n    \"password\": \"Secret1\"\n}\n");
    const QByteArray facebook("{\n    \"secure_token\": \"fb-token\"\n}\n");
    const QByteArray google("{\n    \"code\": \"4/code\",\n    \"redirect_uri\": \"http://127.0.0.1:56743/\"\n}\n");
    const QByteArray reset("{\n    \"email\": \"anna@tovra.test\"\n}\n");
    const QString link("GET /users/me/auto_auth_url");

    QTest::newRow("AuthEmail") << "POST /auth/email" << post(email) << email;
    QTest::newRow("AuthFacebook") << "POST /auth/facebook" << post(facebook) << facebook;
    QTest::newRow("AuthGoogle") << "POST /auth/google" << post(google) << google;
    QTest::newRow("ResetPassword") << "POST /auth/reset_password" << post(reset) << reset;
    QTest::newRow("GetUserPlan") << "GET /users/me/plan" << get << QByteArray();
    QTest::newRow("GetUserBandwidth") << "GET /users/me/bandwidth" << get << QByteArray();
    QTest::newRow("GetUserData") << "GET /users/me" << get << QByteArray();
    QTest::newRow("GetLocalIpData") << "GET /users/me/ip" << get << QByteArray();
    QTest::newRow("GetAssignedIpData") << "GET /users/me/ip" << get << QByteArray();
    QTest::newRow("UpdateUserBandwidth") << "GET /users/me/bandwidth" << get << QByteArray();
    QTest::newRow("GetUserAutoAuthUrl") << link + "?goto=share.php" << get << QByteArray();
    QTest::newRow("GetUserAutoAuthUrl empty") << link << get << QByteArray();
    QTest::newRow("OpenUpgradeUrl trial") << link + "?goto=upgrade-trial.php" << get << QByteArray();
    QTest::newRow("OpenUpgradeUrl unlimited")
        << link + "?goto=clientarea.php%23upgrade-to-unlim-annual" << get << QByteArray();
    QTest::newRow("OpenUpgradeUrl limited")
        << link + "?goto=clientarea.php%23upgrade-50-to-unlim" << get << QByteArray();
    QTest::newRow("GetServerList") << "GET /users/me/servers?is_debug=false" << get << QByteArray();
    QTest::newRow("GetBestServer") << "GET /users/me/servers/best?country_code=nl&is_p2p=true&is_streaming=false" << get
                                   << QByteArray();
    QTest::newRow("GetOpenVpnTcpConfig") << "GET /config/openvpn/tcp" << get << QByteArray();
    QTest::newRow("GetOpenVpnUdpConfig") << "GET /config/openvpn/udp" << get << QByteArray();
    QTest::newRow("GetUpdateData") << "GET /config/app/win" << Headers{{"Connection", "close"}} << QByteArray();
}

void tst_TovraApiManager::requests()
{
    QFETCH(QString, requestLine);
    QFETCH(Headers, headers);
    QFETCH(QByteArray, body);
    const QString path = requestLine.section(QLatin1Char(' '), 1).section(QLatin1Char('?'), 0, 0);
    // An answer every handler ignores quietly, so nothing follows from it.
    QVERIFY(provider.script(path, 418, QByteArray()));
    Start(QString::fromLatin1(QTest::currentDataTag()));
    QTRY_VERIFY_WITH_TIMEOUT(Logged(" response code: "), 10000);
    const QJsonObject request = LastRequest(path);
    QCOMPARE(request.value("method").toString() + " " + request.value("target").toString(), requestLine);
    QCOMPARE(ClientHeaders(request), headers);
    QCOMPARE(Body(request), body);
    // The stand-in's self-signed certificate is logged and passed over.
    QVERIFY(Logged("SSL errors: "));
}

void tst_TovraApiManager::passwordMaskedInLogOnly()
{
    QVERIFY(provider.script("/auth/email", 401, QByteArray()));
    QSignalSpy received(auth, &TovraAuthManager::UserDataReceived);
    Start("AuthEmail");
    QVERIFY(received.wait(10000));
    QVERIFY(LastRequest("/auth/email").value("body").toString().contains("\"password\": \"Secret1\""));
    QVERIFY(Logged(provider.apiUrl() + "/auth/email  post data:  {\n    \"email\": \"anna@tovra.test\",\n    "
                                       "\"password\": \"*******\"\n}\n"));
    QVERIFY(!Logged("Secret1"));
}

void tst_TovraApiManager::signIn_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("emitted");

    const QString failed("UserDataReceived(AuthFailed)");
    const QString networkError("ApiErrorOccurred(Network error: ...)");
    const QString empty("ApiErrorOccurred(API returned empty result)");
    const QByteArray scripted("{\"error\": \"scripted\"}");
    for (const QString &call : QStringList{"AuthEmail", "AuthFacebook", "AuthGoogle"}) {
        const QString path = "/auth/" + call.mid(4).toLower();
        const QByteArray name = call.toLatin1();
        QTest::newRow(name + " 401") << call << path << 401 << scripted << failed;
        QTest::newRow(name + " 404") << call << path << 404 << scripted << failed;
        QTest::newRow(name + " 503") << call << path << 503 << scripted
                                     << (call == "AuthEmail" ? "UserDataReceived(AuthIpBlacklisted)" : networkError);
        QTest::newRow(name + " 500") << call << path << 500 << scripted << networkError;
        if (call == "AuthFacebook")
            continue;
        QTest::newRow(name + ", empty body") << call << path << 200 << QByteArray() << empty;
        QTest::newRow(name + ", malformed") << call << path << 200 << QByteArray("{\"token\": ") << empty;
        QTest::newRow(name + ", no token") << call << path << 200 << QByteArray("{}") << empty;
    }
}

void tst_TovraApiManager::signIn()
{
    QFETCH(QString, call);
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, emitted);
    QVERIFY(provider.script(path, status, body));
    QFile token(AppContext::instance()->dataPaths()->tokenFile());
    QVERIFY(token.open(QIODevice::WriteOnly) && token.write("earlier") == 7);
    token.close();
    const Emissions emissions = Record();
    Start(call);
    QTRY_VERIFY_WITH_TIMEOUT(!emissions.all().isEmpty(), 10000);
    QTest::qWait(100);
    QCOMPARE(emissions.all(), QStringList{emitted});
    QVERIFY(Logged(path + " response code:  " + QString::number(status)));
    QVERIFY(Logged(path + " api response:  " + body));
    // A refused sign-in goes no further and leaves an earlier token file alone.
    QVERIFY(provider.requests("/users/me/plan").isEmpty());
    QVERIFY(token.open(QIODevice::ReadOnly));
    QCOMPARE(token.readAll(), QByteArray("earlier"));
}

// What an answer did: its signals, the pages it opened, the traffic figures, local IP and server count it left.
QStringList tst_TovraApiManager::Outcome(const Emissions &emissions) const
{
    QStringList out = emissions.all();
    for (const QUrl &url : opened)
        out << "opened " + url.toString();
    const TovraUserData &user = auth->userData();
    if (out.contains("UserTrafficUpdated(true)") || out.contains("UserTrafficUpdated(false)"))
        out << QString("traffic %1 of %2, unlimited %3")
                   .arg(user.bytesUsed)
                   .arg(user.bytesTotal)
                   .arg(user.isUnlimited ? "true" : "false");
    if (out.contains("LocalIpDataReceived()")) {
        const TovraIpManager *ip = AppContext::instance()->ipManager();
        out << QString("local IP %1 at %2, %3").arg(ip->localIp).arg(ip->latitude).arg(ip->longitude);
    }
    if (out.contains("ServersUpdated()"))
        out << QString("servers %1").arg(AppContext::instance()->serverManager()->FullList().size());
    return out;
}

// One request, its scripted answer and all that answer made the client do.
void tst_TovraApiManager::answers_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<QJsonObject>("reply");
    QTest::addColumn<QStringList>("outcome");
    QTest::addColumn<QString>("log"); // a line logged on the way, if any

    const auto row = [](const char *name, const QString &call, const QJsonObject &reply, const QStringList &outcome,
                        const QString &log = QString()) { QTest::newRow(name) << call << reply << outcome << log; };
    const QString network("ApiErrorOccurred(Network error: ...)");
    const QString empty("ApiErrorOccurred(API returned empty result)");
    const auto update = [](const QString &version, const QString &url = BuildConstants::downloadPageUrl()) {
        return QStringList{"UpdateDataReceived(" + version + ", " + url + ")"};
    };
    const QString reset("/auth/reset_password"), bandwidth("/users/me/bandwidth"), servers("/users/me/servers"),
        app("/config/app/win"), link("/users/me/auto_auth_url"), ticket("/users/anonymous/ticket"),
        best("/users/me/servers/best"), tcp("/config/openvpn/tcp"), udp("/config/openvpn/udp");

    row("reset accepted", "ResetPassword", Reply(reset, 200, "{\"result\": \"ok\"}"),
        {"PasswordResetRequestSent(true)"});
    row("reset accepted, body not inspected", "ResetPassword", Reply(reset, 200, "not json"),
        {"PasswordResetRequestSent(true)"});
    row("reset of an unknown address", "ResetPassword", Reply(reset, 404), {"PasswordResetRequestSent(false)"},
        "Network error occurred during api call: ");

    row("chain: bandwidth 500", "GetUserPlan", Reply(bandwidth, 500), {network});
    row("chain: bandwidth 401", "GetUserPlan", Reply(bandwidth, 401), {network});
    row("chain: bandwidth empty", "GetUserPlan", Reply(bandwidth, 200), {empty});
    row("chain: details 503", "GetUserPlan", Reply("/users/me", 503), {network});
    row("chain: details malformed", "GetUserPlan", Reply("/users/me", 200, "{"), {empty});

    row("traffic figures", "UpdateUserBandwidth",
        Reply(bandwidth, 200, "{\"bytes_total\": 10737418240, \"bytes_used\": 1073741824.9}"),
        {"UserTrafficUpdated(true)", "traffic 1073741824 of 10737418240, unlimited false"},
        "Update user's bandwidth data");
    row("traffic used above total", "UpdateUserBandwidth",
        Reply(bandwidth, 200, "{\"bytes_total\": 100, \"bytes_used\": 150, \"is_unlimited\": 1}"),
        {"UserTrafficUpdated(true)", "traffic 100 of 100, unlimited true"});
    row("traffic negative counts read as 0", "UpdateUserBandwidth",
        Reply(bandwidth, 200, "{\"bytes_total\": -5, \"bytes_used\": -1}"),
        {"UserTrafficUpdated(true)", "traffic 0 of 0, unlimited false"});
    row("traffic error keeps the old figures", "UpdateUserBandwidth", Reply(bandwidth, 500, "oops"),
        {"UserTrafficUpdated(false)", "traffic 3 of 7, unlimited false"});
    row("traffic empty keeps the old figures", "UpdateUserBandwidth", Reply(bandwidth, 200),
        {"UserTrafficUpdated(false)", "traffic 3 of 7, unlimited false"});

    row("server list", "GetServerList",
        Reply(servers, 200,
              "[{\"country_code\": \"NL\", \"country_name\": \"Netherlands\", \"city\": \"Amsterdam\", \"short_name\": "
              "\"nl1\", \"is_alive\": 1, \"load_percentage\": 50}, {\"country_code\": \"DE\", \"country_name\": "
              "\"Germany 2\", \"city\": \"Berlin\", \"short_name\": \"de1\", \"is_p2p\": 1}]"),
        {"ServersUpdated()", "servers 2"}, "/users/me/servers api response: \n");
    row("server list: object instead of array", "GetServerList", Reply(servers, 200, "{\"servers\": 1}"),
        {"ServersUpdated()", "servers 0"});
    row("server list: empty body", "GetServerList", Reply(servers, 200), {empty});
    row("server list: malformed", "GetServerList", Reply(servers, 200, "[{"), {empty});
    row("server list: 401", "GetServerList", Reply(servers, 401), {network});
    row("server list: 500", "GetServerList", Reply(servers, 500), {network});

    row("OpenVPN TCP", "GetOpenVpnTcpConfig", Reply(tcp, 200, "{\"openvpn_config\": \"client\\nproto tcp\\n\"}"),
        {"OpenVpnTcpConfigUpdated(client\nproto tcp\n)"});
    row("OpenVPN UDP", "GetOpenVpnUdpConfig", Reply(udp, 200, "{\"openvpn_config\": \"client\\nproto udp\\n\"}"),
        {"OpenVpnUdpConfigUpdated(client\nproto udp\n)"});
    row("OpenVPN TCP error", "GetOpenVpnTcpConfig", Reply(tcp, 500), {network});
    row("OpenVPN UDP empty", "GetOpenVpnUdpConfig", Reply(udp, 200), {empty});

    row("best server", "GetBestServer",
        Reply(best, 200,
              "{\"country_code\": \"nl\", \"short_name\": \"nl-ams-3\", \"ip\": \"10.2.2.2\", \"location\": "
              "{\"coordinates\": [4.9, 52.4]}, \"load_percentage\": 70}"),
        {"BestServerReceived(true, nl nl-ams-3 10.2.2.2 52.4 4.9 70)"}, "Best server found: nl-ams-3 (10.2.2.2)");
    row("best server error", "GetBestServer", Reply(best, 500, "{}"), {"BestServerReceived(false, none)"});
    row("best server empty", "GetBestServer", Reply(best, 200), {"BestServerReceived(false, none)"});

    row("local IP", "RequestLocalIp",
        Reply("/users/me/ip", 200,
              "{\"ip\": \"198.51.100.7\", \"location\": {\"type\": \"Point\", \"coordinates\": [4.89, 52.37]}}"),
        {"LocalIpDataReceived()", "local IP 198.51.100.7 at 52.37, 4.89"}, "Local /users/me/ip api response: ");
    // A failed local request goes the standard way and never reaches the IP manager.
    row("local IP error", "RequestLocalIp", Reply("/users/me/ip", 500), {network});

    const QString code("/config/app response code:  ");
    row("update: version only", "GetUpdateData", Reply(app, 200, "{\"version\": \"4.2.0\"}"), update("4.2.0.0"),
        code + "200");
    row("update: everything", "GetUpdateData",
        Reply(app, 200, "{\"version\": \"4.2.0\", \"build\": \"80\", \"url\": \"https://dl.test/x\"}"),
        update("4.2.0.80", "https://dl.test/x"), code + "200");
    row("update: numeric build", "GetUpdateData", Reply(app, 200, "{\"version\": \"4.2.1\", \"build\": 81}"),
        update("4.2.1.81"), code + "200");
    row("update: empty object", "GetUpdateData", Reply(app, 200, "{}"), update("0.0.0.0"), code + "200");
    row("update: empty body", "GetUpdateData", Reply(app, 200), update("0.0.0.0"), code + "200");
    row("update: malformed", "GetUpdateData", Reply(app, 200, "{\"version\""), update("0.0.0.0"), code + "200");
    row("update: error", "GetUpdateData", Reply(app, 404, "{\"version\": \"9.9.9\"}"), update("0.0.0.0"), code + "404");

    // The anonymous ticket is logged under the signed-in path.
    const QString ticketCode("/users/me/ticket response code:  ");
    row("ticket stored", "SendSupportTicket anonymous", Reply(ticket, 200, "{\"url\": \"https://portal.test/t/7\"}"),
        {"SupportTicketFinished(true, https://portal.test/t/7)"}, ticketCode + "200");
    row("ticket refused", "SendSupportTicket anonymous", Reply(ticket, 400, "{\"url\": \"https://portal.test/t/7\"}"),
        {"SupportTicketFinished(false, )"}, ticketCode + "400");
    row("ticket, empty answer", "SendSupportTicket anonymous", Reply(ticket, 200), {"SupportTicketFinished(false, )"},
        ticketCode + "200");

    const QString linkEmpty("Auto_auth response is empty. Do nothing");
    row("account link", "GetUserAutoAuthUrl empty", Reply(link, 200, "{\"url\": \"https://portal.test/auto?key=1\"}"),
        {"opened https://portal.test/auto?key=1"}, "Account link found:  https://portal.test/auto?key=1");
    row("account link empty", "GetUserAutoAuthUrl empty", Reply(link, 200, "{}"), {}, linkEmpty);
    row("account link malformed", "GetUserAutoAuthUrl empty", Reply(link, 200, "{"), {}, linkEmpty);
    row("account link error", "GetUserAutoAuthUrl empty", Reply(link, 500, "{\"url\": \"https://portal.test/x\"}"), {},
        "Network error occurred during api call: ");
    row("account link not a web address", "GetUserAutoAuthUrl empty",
        Reply(link, 200, "{\"url\": \"file:///tmp/run.exe\"}"), {}, "Account link is not a web address. Not opened:");
}

void tst_TovraApiManager::answers()
{
    QFETCH(QString, call);
    QFETCH(QJsonObject, reply);
    QFETCH(QStringList, outcome);
    QFETCH(QString, log);
    QVERIFY2(provider.script(reply), qPrintable(provider.errorString()));
    const Emissions emissions = Record();
    Start(call);
    QTRY_VERIFY_WITH_TIMEOUT(Outcome(emissions).size() >= outcome.size() && (log.isEmpty() || Logged(log)), 10000);
    QTest::qWait(100);
    QCOMPARE(Outcome(emissions), outcome);
}

void tst_TovraApiManager::userDataChain()
{
    // The demo account behind the token, answered by the stand-in's own data.
    QSignalSpy received(auth, &TovraAuthManager::UserDataReceived);
    StoreToken(QStringLiteral("demo-token-limited"));
    auth->RequestUserData();
    QVERIFY(received.wait(10000));
    QCOMPARE(received.count(), 1);
    QVERIFY(Logged("User has active status. Proceed to next api request."));
    QCOMPARE(received.at(0).at(0).value<TovraAuthManager::eAuthResults>(), TovraAuthManager::AuthSuccess);
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
    QTest::addColumn<QJsonObject>("reply");
    QTest::addColumn<QString>("emitted");
    QTest::addColumn<bool>("tokenKept");

    const QString network("ApiErrorOccurred(Network error: ...)");
    const QString empty("ApiErrorOccurred(API returned empty result)");
    const QString inactive("UserDataReceived(AuthAccountInactive)");
    const QString plan("/users/me/plan");
    QTest::newRow("lower-case active continues")
        << Reply(plan, 200, "{\"status\": \"active\", \"is_unlimited\": 1}") << "UserDataReceived(AuthSuccess)" << true;
    QTest::newRow("pending") << Reply(plan, 200, "{\"status\": \"pending\", \"is_trial\": 1}") << inactive << false;
    QTest::newRow("no status") << Reply(plan, 200, "{\"is_trial\": 1}") << inactive << false;
    QTest::newRow("401") << Reply(plan, 401) << "UserDataReceived(AuthFailed)" << false;
    QTest::newRow("404") << Reply(plan, 404) << "UserDataReceived(AuthFailed)" << false;
    QTest::newRow("502") << Reply(plan, 502) << network << true;
    QTest::newRow("no answer at all") << QJsonObject{{"path", plan}, {"hangup", true}} << network << true;
    QTest::newRow("empty body") << Reply(plan, 200) << empty << true;
    QTest::newRow("malformed body") << Reply(plan, 200, "{\"status\"") << empty << true;
    QTest::newRow("array body") << Reply(plan, 200, "[1]") << empty << true;
}

void tst_TovraApiManager::planReplies()
{
    QFETCH(QJsonObject, reply);
    QFETCH(QString, emitted);
    QFETCH(bool, tokenKept);
    QVERIFY2(provider.script(reply), qPrintable(provider.errorString()));
    StoreToken(QStringLiteral("demo-token-trial"));
    const Emissions emissions = Record();
    auth->RequestUserData();
    QTRY_VERIFY_WITH_TIMEOUT(!emissions.all().isEmpty(), 15000);
    QTest::qWait(100);
    QCOMPARE(emissions.all(), QStringList{emitted});
    QCOMPARE(QFile::exists(AppContext::instance()->dataPaths()->tokenFile()), tokenKept);
    if (emitted.contains("AccountInactive")) {
        QVERIFY(auth->userData().isTrial);
        QVERIFY(provider.requests("/users/me/bandwidth").isEmpty());
    }
    if (emitted.contains("AuthSuccess"))
        QCOMPARE(auth->userData().status, QStringLiteral("ACTIVE"));
}

void tst_TovraApiManager::repliesReachTheirOwnHandlers()
{
    // A slow best-server answer and a map asked for meanwhile.
    QVERIFY(
        provider.script(Reply("/users/me/servers/best", 200,
                              "{\"country_code\": \"nl\", \"short_name\": \"nl-ams-1\", \"ip\": \"10.1.1.1\"}", 700)));
    const Emissions first = Record();
    api->GetBestServer(QStringLiteral("nl"), false, false);
    api->GetMapImage(4.9, 52.4, 5.1, 52.1, false);
    QTRY_COMPARE_WITH_TIMEOUT(first.all().size(), 2, 10000);
    QCOMPARE(first.all(),
             (QStringList{"BestServerReceived(true, nl nl-ams-1 10.1.1.1 0 0 0)", "MapImageReceived(true, )"}));

    // A traffic refresh while the user-data chain runs.
    QVERIFY(provider.script(Reply("/users/me/plan", 200, "{\"status\": \"ACTIVE\"}", 500)));
    const Emissions second = Record();
    api->GetUserPlan();
    api->UpdateUserBandwidth();
    QTRY_COMPARE_WITH_TIMEOUT(second.all().size(), 2, 10000);
    QCOMPARE(second.all(), (QStringList{"UserDataReceived(AuthSuccess)", "UserTrafficUpdated(true)"}));
    QCOMPARE(provider.requests("/users/me/bandwidth").size(), 2);
}

void tst_TovraApiManager::assignedIpAbortedAfterEightSeconds()
{
    QCOMPARE(api->assignedIpTimeout(), 8000);
    // Answered only after 30 s; the request must give up well before the wait below ends.
    QVERIFY(provider.script(Reply("/users/me/ip", 200, "{\"ip\": \"192.0.2.1\"}", 30000)));
    TovraIpManager *ip = AppContext::instance()->ipManager();
    ip->localIp = QStringLiteral("203.0.113.10");
    ip->firstAttempt = false; // the last attempt of a check: its failure is final
    const Emissions emissions = Record();
    ip->RequestRemoteIp();
    QTRY_VERIFY_WITH_TIMEOUT(!emissions.all().isEmpty(), 20000);
    QCOMPARE(emissions.all(), QStringList{"RemoteIpCheckFinished(false)"});
    QVERIFY(ip->assignedIp.isEmpty());
    QVERIFY(Logged("Network error occurred during api call: "));
    QVERIFY(Logged("Second attempt to request new IP failed. Disconnect here."));
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
    for (const auto &file : {qMakePair(paths->logFile(), log), qMakePair(paths->supportDataFile(), support)}) {
        QFile::remove(file.first);
        QFile out(file.first);
        QVERIFY(!withFiles || (out.open(QIODevice::WriteOnly) && out.write(file.second) == file.second.size()));
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

    const QByteArray expected =
        "{\"name\": \"" + nameInBody +
        "\", \"subject\": \"Automatic ticket from TOVRA v.4.1.5 (71)\", \"message\": \"This "
        "ticket was automatically generated by TOVRA application request.\", \"client_log\": \"" +
        (withFiles ? log.toBase64() : QByteArray()) + "\", \"collected_data\": \"" +
        (signedIn && withFiles ? support.toBase64() : QByteArray()) + "\"}";
    const QJsonObject request = LastRequest(path);
    QCOMPARE(Body(request), expected);
    QJsonParseError parseError;
    const QJsonObject parsed = QJsonDocument::fromJson(expected, &parseError).object();
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
    QCOMPARE(ClientHeaders(requests.at(0).toObject()), (Headers{{"Connection", "close"}}));
    QVERIFY(Logged("Sending map request:  "));

    // A failing map service, then data that is no image, which still counts as an answer.
    QVERIFY(provider.script(Reply("/styles/v1/mapbox/streets-v11/static/x", 200, "no image")));
    for (const QString &base : {provider.apiUrl(), provider.apiUrl() + "/styles/v1/mapbox/streets-v11/static/x#"}) {
        api->setMapApiBaseUrl(base);
        api->GetMapImage(4.8951679, 52.3702157, -120.2, 38.5, false);
        QVERIFY(map.wait(10000));
    }
    api->setMapApiBaseUrl(provider.portalUrl());
    QVERIFY(!map.at(1).at(0).toBool());
    QVERIFY(map.at(1).at(1).value<QImage>().isNull());
    QVERIFY(Logged("Error ocurred when loading google map image: "));
    QVERIFY(map.at(2).at(0).toBool());
    QVERIFY(map.at(2).at(1).value<QImage>().isNull());
}

QTEST_MAIN(tst_TovraApiManager)
#include "tst_tovraapimanager.moc"
