#include <QMetaMethod>
#include <QtTest>

#include <map>

#include "api/tovraapimanager.h"
#include "api/tovraauthmanager.h"
#include "api/tovraipmanager.h"
#include "app/appcontext.h"
#include "app/buildconstants.h"
#include "app/scramble.h"
#include "servers/tovraservermanager.h"
#include "support/standinprovider.h"

using Headers = QList<QPair<QString, QString>>;

// The headers the client sets itself, in the order they went over the wire.
static Headers ClientHeaders(const QJsonObject &request)
{
    static const QStringList own{"connection", "content-type", "content-length", "authorization"};
    Headers headers;
    for (const QJsonValue &value : request.value("headers").toArray()) {
        const QJsonArray pair = value.toArray();
        if (own.contains(pair.at(0).toString().toLower()))
            headers << qMakePair(pair.at(0).toString(), pair.at(1).toString());
    }
    return headers;
}

// A line equal to text or, for text ending in a blank, a line going on from it without a second blank.
static bool LoggedLine(const QString &text)
{
    for (const QString &line : LogCapture::lines()) {
        if (line == text || (text.endsWith(' ') && line.startsWith(text) && !line.mid(text.size(), 1).contains(' ')))
            return true;
    }
    return false;
}

static QByteArray Body(const QJsonObject &request)
{
    return QByteArray::fromBase64(request.value("bodyBase64").toString().toLatin1());
}

static QJsonObject Reply(const QString &path, int status, const QByteArray &body = QByteArray(), int delayMs = 0)
{
    return QJsonObject{{"path", path}, {"status", status}, {"body", QString::fromUtf8(body)}, {"delayMs", delayMs}};
}

// A server as the tests compare it: place, name, address, coordinates, load and whether it has its load's icon.
static QString Describe(const TovraServer &s)
{
    if (s.shortName.isEmpty() && s.ip.isEmpty())
        return QStringLiteral("none");
    const bool icon = s.loadIcon.cacheKey() == ServerIcons::loadIcon(s.loadPercentage).cacheKey();
    return QString("%1 %2 %3 %4 %5 %6%7")
        .arg(s.countryCode, s.shortName, s.ip)
        .arg(s.latitude)
        .arg(s.longitude)
        .arg(s.loadPercentage)
        .arg(icon ? "" : " (other icon)");
}

// Records every signal of the given objects as sorted "Name(arg, arg)" lines; a network error's text is cut
// after "Network error: ", as Qt words the rest.
class Emissions
{
public:
    explicit Emissions(const QList<QObject *> &objects)
    {
        for (QObject *object : objects) {
            const QMetaObject *meta = object->metaObject();
            for (int i = QObject::staticMetaObject.methodCount(); i < meta->methodCount(); ++i) {
                if (meta->method(i).methodType() == QMetaMethod::Signal)
                    m_spies[meta->method(i).name()] = std::make_unique<QSignalSpy>(
                        object, QByteArray("2" + meta->method(i).methodSignature()).constData());
            }
        }
    }
    QStringList all() const
    {
        QStringList out;
        for (const auto &spy : m_spies) {
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
    std::map<QByteArray, std::unique_ptr<QSignalSpy>> m_spies;
};

class tst_TovraApiManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(m_fixture.start(), qPrintable(m_fixture.provider.errorString())); }
    void init();
    void requests_data();
    void requests();
    void answers_data();
    void answers();
    void userDataChain_data();
    void userDataChain();
    void repliesReachTheirOwnHandlers();
    void signInLogsNoSecret();
    void ticket_data();
    void ticket();
    void polyline_data();
    void polyline();
    void mapImage_data();
    void mapImage();
    void mapImageFailures();
    void untrustedCertificate();

private:
    void start(const QString &call);
    void signIn(TovraUserData data) { m_auth->OnUserDataChecked(TovraAuthManager::AuthSuccess, data); }
    void storeToken(const QString &token);
    Emissions record() const
    {
        AppContext *context = AppContext::instance();
        return Emissions({m_api, m_auth, context->serverManager(), context->ipManager()});
    }
    QStringList outcome(const Emissions &emissions) const;

    ProviderFixture m_fixture;
    StandInProvider &m_provider = m_fixture.provider;
    TovraApiManager *m_api = AppContext::instance()->apiManager();
    TovraAuthManager *m_auth = AppContext::instance()->authManager();
};

void tst_TovraApiManager::init()
{
    QVERIFY2(m_fixture.reset(), qPrintable(m_provider.errorString()));
    m_auth->DeleteToken();
    signIn(TovraUserData());
    m_auth->OnTrafficUpdated(true, 7, 3, false);
    AppContext::instance()->config()->highDpiScreen = false;
    // Every assigned-IP answer ends its check at once, so no retry runs into a later case.
    AppContext::instance()->ipManager()->firstAttempt = false;
}

void tst_TovraApiManager::storeToken(const QString &token)
{
    QFile file(AppContext::instance()->dataPaths()->tokenFile());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(ScrambleText(token).toLatin1());
    file.close();
    QVERIFY(m_auth->LoadToken());
}

void tst_TovraApiManager::start(const QString &call)
{
    const auto upgrade = [this](bool trial, bool unlimited) {
        TovraUserData user;
        user.isTrial = trial;
        user.isUnlimited = unlimited;
        signIn(user);
        m_api->OpenUpgradeUrl();
    };
    const QHash<QString, std::function<void()>> calls{
        {"AuthEmail", [this] { m_api->AuthEmail("anna@tovra.test", "Secret1"); }},
        {"AuthGoogle", [this] { m_api->AuthGoogle("4/code", "http://127.0.0.1:56743/"); }},
        {"ResetPassword", [this] { m_api->ResetPassword("anna@tovra.test"); }},
        {"GetUserPlan", [this] { m_api->GetUserPlan(); }},
        {"RequestLocalIp", [] { AppContext::instance()->ipManager()->RequestLocalIp(); }},
        {"UpdateUserBandwidth", [this] { m_api->UpdateUserBandwidth(); }},
        {"GetUserAutoAuthUrl", [this] { m_api->GetUserAutoAuthUrl(QString()); }},
        {"OpenUpgradeUrl trial", [=] { upgrade(true, false); }},
        {"OpenUpgradeUrl unlimited", [=] { upgrade(false, true); }},
        {"OpenUpgradeUrl limited", [=] { upgrade(false, false); }},
        {"GetServerList", [this] { m_api->GetServerList(); }},
        {"GetBestServer", [this] { m_api->GetBestServer("nl", true, false); }},
        {"GetOpenVpnTcpConfig", [this] { m_api->GetOpenVpnTcpConfig(); }},
        {"GetOpenVpnUdpConfig", [this] { m_api->GetOpenVpnUdpConfig(); }},
        {"GetUpdateData", [this] { m_api->GetUpdateData(); }},
        {"SendSupportTicket", [this] { m_api->SendSupportTicket(false); }},
    };
    QVERIFY2(calls.contains(call), qPrintable("unknown call " + call));
    calls.value(call)();
}

// Requests whose line, headers or body differ in shape; the answers below check each endpoint's path.
void tst_TovraApiManager::requests_data()
{
    QTest::addColumn<QString>("requestLine");
    QTest::addColumn<Headers>("headers");
    QTest::addColumn<QByteArray>("body");

    const Headers get{{"Connection", "close"}, {"Authorization", "Bearer: demo-token-active"}};
    const QByteArray email("{\n    \"email\": \"anna@tovra.test\",\n    \"password\": \"Secret1\"\n}\n");
    const Headers post{{"Connection", "close"},
                       {"Content-Type", "application/json"},
                       {"Content-Length", QString::number(email.size())}};
    const QString link("GET /users/me/auto_auth_url?goto=");

    QTest::newRow("AuthEmail") << "POST /auth/email" << post << email;
    QTest::newRow("GetUserPlan") << "GET /users/me/plan" << get << QByteArray();
    QTest::newRow("GetUpdateData") << "GET /config/app/win" << Headers{{"Connection", "close"}} << QByteArray();
    QTest::newRow("GetServerList") << "GET /users/me/servers?is_debug=false" << get << QByteArray();
    QTest::newRow("GetBestServer") << "GET /users/me/servers/best?country_code=nl&is_p2p=true&is_streaming=false" << get
                                   << QByteArray();
    QTest::newRow("OpenUpgradeUrl trial") << link + "upgrade-trial.php" << get << QByteArray();
    QTest::newRow("OpenUpgradeUrl unlimited")
        << link + "clientarea.php%23upgrade-to-unlim-annual" << get << QByteArray();
    QTest::newRow("OpenUpgradeUrl limited") << link + "clientarea.php%23upgrade-50-to-unlim" << get << QByteArray();
}

void tst_TovraApiManager::requests()
{
    QFETCH(QString, requestLine);
    QFETCH(Headers, headers);
    QFETCH(QByteArray, body);
    const QString path = requestLine.section(QLatin1Char(' '), 1).section(QLatin1Char('?'), 0, 0);
    // An answer every handler takes quietly, so nothing follows from it.
    QVERIFY(m_provider.script(path, 418, QByteArray()));
    start(QString::fromLatin1(QTest::currentDataTag()));
    QTRY_VERIFY_WITH_TIMEOUT(m_fixture.logged(" response code: "), 10000);
    const QJsonObject request = m_fixture.lastRequest(path);
    QCOMPARE(request.value("method").toString() + " " + request.value("target").toString(), requestLine);
    QCOMPARE(ClientHeaders(request), headers);
    QCOMPARE(Body(request), body);
    // The stand-in's certificate passes the check; the password is logged as stars only.
    QVERIFY(!m_fixture.logged("SSL errors: "));
    QVERIFY(!m_fixture.logged("Secret1"));
    QCOMPARE(m_fixture.logged(" post data: {\n    \"email\": \"anna@tovra.test\",\n    \"password\": \"*******\""),
             path == "/auth/email");
}

// What an answer did: its signals, the pages it opened, and the traffic or server count it left.
QStringList tst_TovraApiManager::outcome(const Emissions &emissions) const
{
    QStringList out = emissions.all();
    for (const QUrl &url : m_fixture.opened)
        out << "opened " + url.toString();
    const TovraUserData &user = m_auth->userData();
    if (out.filter("UserTrafficUpdated(").size())
        out << QString("traffic %1 of %2, unlimited %3")
                   .arg(user.bytesUsed)
                   .arg(user.bytesTotal)
                   .arg(user.isUnlimited ? "true" : "false");
    if (out.contains("ServersUpdated()"))
        out << QString("servers %1").arg(AppContext::instance()->serverManager()->fullList().size());
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
    const QString network("ApiErrorOccurred(Network error: ...)"), empty("ApiErrorOccurred(API returned empty result)");
    const QString networkLog("Network error occurred during api call: ");
    const auto update = [](const QString &version, const QString &url = BuildConstants::downloadPageUrl()) {
        return QStringList{"UpdateDataReceived(" + version + ", " + url + ")"};
    };
    const QString bandwidth("/users/me/bandwidth"), servers("/users/me/servers"), app("/config/app/win"),
        link("/users/me/auto_auth_url"), best("/users/me/servers/best"), ip("/users/me/ip");

    // A refused sign-in goes no further; only the e-mail sign-in knows the blacklist answer.
    const QByteArray refusal("{\"error\": \"scripted\"}");
    row("e-mail 401", "AuthEmail", Reply("/auth/email", 401, refusal), {"UserDataReceived(AuthFailed)"},
        "/auth/email api response: {\"error\": \"scripted\"}");
    row("e-mail 503", "AuthEmail", Reply("/auth/email", 503), {"UserDataReceived(AuthIpBlacklisted)"});
    row("e-mail without token", "AuthEmail", Reply("/auth/email", 200, "{}"), {empty});
    row("google 404", "AuthGoogle", Reply("/auth/google", 404), {"UserDataReceived(AuthFailed)"});
    row("google 503", "AuthGoogle", Reply("/auth/google", 503), {network}, "/auth/google response code: 503");
    row("reset accepted, body not inspected", "ResetPassword", Reply("/auth/reset_password", 200, "not json"),
        {"PasswordResetRequestSent(true)"});
    row("reset refused", "ResetPassword", Reply("/auth/reset_password", 404), {"PasswordResetRequestSent(false)"},
        networkLog);
    // A refusal later in the chain is no verdict on the token.
    row("chain: bandwidth 401", "GetUserPlan", Reply(bandwidth, 401), {network});
    row("chain: details malformed", "GetUserPlan", Reply("/users/me", 200, "{"), {empty});

    row("traffic, fractional count", "UpdateUserBandwidth",
        Reply(bandwidth, 200, "{\"bytes_total\": 10737418240, \"bytes_used\": 1073741824.9}"),
        {"UserTrafficUpdated(true)", "traffic 1073741824 of 10737418240, unlimited false"},
        "Update user's bandwidth data");
    row("traffic: negative total read as 0, used clamped to it", "UpdateUserBandwidth",
        Reply(bandwidth, 200, "{\"bytes_total\": -5, \"bytes_used\": 150, \"is_unlimited\": 1}"),
        {"UserTrafficUpdated(true)", "traffic 0 of 0, unlimited true"});
    row("traffic error keeps the old figures", "UpdateUserBandwidth", Reply(bandwidth, 500, "oops"),
        {"UserTrafficUpdated(false)", "traffic 3 of 7, unlimited false"}, networkLog);

    const QByteArray two("[{\"country_code\": \"NL\", \"short_name\": \"nl1\"}, {\"short_name\": \"de1\"}]");
    row("server list", "GetServerList", Reply(servers, 200, two), {"ServersUpdated()", "servers 2"},
        "/users/me/servers api response: \n" + two);
    row("server list: object instead of array", "GetServerList", Reply(servers, 200, "{\"servers\": 1}"),
        {"ServersUpdated()", "servers 0"});
    row("server list: empty body", "GetServerList", Reply(servers, 200), {empty});
    row("server list: 401", "GetServerList", Reply(servers, 401, "denied"), {network},
        "/users/me/servers api response: denied");

    row("OpenVPN TCP", "GetOpenVpnTcpConfig",
        Reply("/config/openvpn/tcp", 200, "{\"openvpn_config\": \"client\\nproto tcp\\n\"}"),
        {"OpenVpnTcpConfigUpdated(client\nproto tcp\n)"});
    row("OpenVPN UDP", "GetOpenVpnUdpConfig",
        Reply("/config/openvpn/udp", 200, "{\"openvpn_config\": \"client\\nproto udp\\n\"}"),
        {"OpenVpnUdpConfigUpdated(client\nproto udp\n)"});
    row("OpenVPN without configuration", "GetOpenVpnTcpConfig", Reply("/config/openvpn/tcp", 200, "{\"x\": 1}"),
        {empty});

    row("best server", "GetBestServer",
        Reply(best, 200,
              "{\"country_code\": \"nl\", \"short_name\": \"nl-ams-3\", \"ip\": \"10.2.2.2\", \"location\": "
              "{\"coordinates\": [4.9, 52.4]}, \"load_percentage\": 70}"),
        {"BestServerReceived(true, nl nl-ams-3 10.2.2.2 52.4 4.9 70)"}, "Best server found: nl-ams-3 (10.2.2.2)");
    row("best server error", "GetBestServer", Reply(best, 500, "{}"), {"BestServerReceived(false, none)"}, networkLog);

    // A failed local request goes the standard way and never reaches the IP manager.
    row("local IP error", "RequestLocalIp", Reply(ip, 500), {network});

    row("update: version only", "GetUpdateData", Reply(app, 200, "{\"version\": \"4.2.0\"}"), update("4.2.0.0"),
        "/config/app response code: 200");
    row("update: everything", "GetUpdateData",
        Reply(app, 200, "{\"version\": \"4.2.0\", \"build\": \"80\", \"url\": \"https://dl.test/x\"}"),
        update("4.2.0.80", "https://dl.test/x"));
    row("update: numeric build", "GetUpdateData", Reply(app, 200, "{\"version\": \"4.2.1\", \"build\": 81}"),
        update("4.2.1.81"));
    row("update: enormous build", "GetUpdateData", Reply(app, 200, "{\"version\": \"4.2.1\", \"build\": 8e125}"),
        update("4.2.1.0"), "Update data: build 8e+125 is no whole number in range; 0 taken");
    row("update: error", "GetUpdateData", Reply(app, 404, "{\"version\": \"9.9.9\"}"), update("0.0.0.0"),
        "/config/app update api response: {\"version\": \"9.9.9\"}");

    // The anonymous ticket is logged under the signed-in path.
    row("ticket stored", "SendSupportTicket",
        Reply("/users/anonymous/ticket", 200, "{\"url\": \"https://portal.test/t/7\"}"),
        {"SupportTicketFinished(true, https://portal.test/t/7)"}, "/users/me/ticket response code: 200");
    row("ticket refused", "SendSupportTicket",
        Reply("/users/anonymous/ticket", 400, "{\"url\": \"https://portal.test/t/7\"}"),
        {"SupportTicketFinished(false, )"}, networkLog);

    row("account link", "GetUserAutoAuthUrl", Reply(link, 200, "{\"url\": \"https://portal.test/auto?key=1\"}"),
        {"opened https://portal.test/auto?key=1"}, "Account link found: https://portal.test/auto?key=1");
    row("account link error", "GetUserAutoAuthUrl", Reply(link, 500, "{\"url\": \"https://portal.test/x\"}"), {},
        networkLog);
    row("account link not a web address", "GetUserAutoAuthUrl", Reply(link, 200, "{\"url\": \"file:///tmp/run.exe\"}"),
        {}, "Account link is not a web address. Not opened: file:///tmp/run.exe");
}

void tst_TovraApiManager::answers()
{
    QFETCH(QString, call);
    QFETCH(QJsonObject, reply);
    QFETCH(QStringList, outcome);
    QFETCH(QString, log);
    QVERIFY2(m_provider.script(reply), qPrintable(m_provider.errorString()));
    QFile token(AppContext::instance()->dataPaths()->tokenFile());
    QVERIFY(token.open(QIODevice::WriteOnly) && token.write("earlier") == 7);
    token.close();
    const Emissions emissions = record();
    start(call);
    QTRY_VERIFY_WITH_TIMEOUT(this->outcome(emissions).size() >= outcome.size() && (log.isEmpty() || LoggedLine(log)),
                             10000);
    QTest::qWait(100);
    QCOMPARE(this->outcome(emissions), outcome);
    // No answer here signs anybody in: an earlier token file stays as it was, and the chain does not start.
    QVERIFY(token.open(QIODevice::ReadOnly));
    QCOMPARE(token.readAll(), QByteArray("earlier"));
    QCOMPARE(m_provider.requests("/users/me/plan").isEmpty(), call != "GetUserPlan");
}

// The chain behind a stored token: plan, then bandwidth, then details, each answer filling its fields.
void tst_TovraApiManager::userDataChain_data()
{
    QTest::addColumn<QJsonObject>("plan");
    QTest::addColumn<QString>("emitted");
    QTest::addColumn<bool>("tokenKept");

    const QString network("ApiErrorOccurred(Network error: ...)");
    const QString plan("/users/me/plan");
    QTest::newRow("lower-case active continues")
        << Reply(plan, 200, "{\"status\": \"active\", \"is_annual\": 1}") << "UserDataReceived(AuthSuccess)" << true;
    QTest::newRow("pending") << Reply(plan, 200, "{\"status\": \"pending\", \"is_trial\": 1}")
                             << "UserDataReceived(AuthAccountInactive)" << false;
    QTest::newRow("401") << Reply(plan, 401) << "UserDataReceived(AuthFailed)" << false;
    QTest::newRow("502") << Reply(plan, 502) << network << true;
    QTest::newRow("no answer at all") << QJsonObject{{"path", plan}, {"hangup", true}} << network << true;
    QTest::newRow("empty body") << Reply(plan, 200) << "ApiErrorOccurred(API returned empty result)" << true;
}

void tst_TovraApiManager::userDataChain()
{
    QFETCH(QJsonObject, plan);
    QFETCH(QString, emitted);
    QFETCH(bool, tokenKept);
    QVERIFY(m_provider.script(Reply("/users/me/bandwidth", 200, "{\"bytes_total\": 1000, \"bytes_used\": 1200}")));
    QVERIFY(m_provider.script(Reply("/users/me", 200,
                                    "{\"email\": \"e@tovra.test\", \"id\": \"42\", \"first_name\": \"Eva\", "
                                    "\"last_name\": \"Ek\", \"is_b2b\": 1}")));
    QVERIFY2(m_provider.script(plan), qPrintable(m_provider.errorString()));
    storeToken(QStringLiteral("demo-token-trial"));
    const Emissions emissions = record();
    m_auth->RequestUserData();
    QTRY_VERIFY_WITH_TIMEOUT(!emissions.all().isEmpty(), 15000);
    QTest::qWait(100);
    QCOMPARE(emissions.all(), QStringList{emitted});
    QCOMPARE(QFile::exists(AppContext::instance()->dataPaths()->tokenFile()), tokenKept);
    const TovraUserData &user = m_auth->userData();
    if (emitted.contains("AccountInactive")) {
        QVERIFY(user.isTrial);
        QVERIFY(m_provider.requests("/users/me/bandwidth").isEmpty());
    }
    if (emitted.contains("AuthSuccess")) {
        QVERIFY(m_fixture.logged("User has active status. Proceed to next api request."));
        QCOMPARE(QStringList({user.token, user.status, user.email, user.id, user.firstName, user.lastName}),
                 QStringList({"demo-token-trial", "ACTIVE", "e@tovra.test", "42", "Eva", "Ek"}));
        QCOMPARE(user.bytesUsed, quint64(1000));
        QVERIFY(user.isAnnual && user.isB2b && !user.isTrial && !user.isUnlimited);
    }
}

void tst_TovraApiManager::repliesReachTheirOwnHandlers()
{
    // A slow best-server answer and a map asked for meanwhile.
    QVERIFY(m_provider.script(Reply("/users/me/servers/best", 200,
                                    "{\"country_code\": \"nl\", \"short_name\": \"nl-ams-1\", \"ip\": \"10.1.1.1\"}",
                                    700)));
    const Emissions first = record();
    m_api->GetBestServer(QStringLiteral("nl"), false, false);
    m_api->GetMapImage(4.9, 52.4, 5.1, 52.1, false);
    QTRY_COMPARE_WITH_TIMEOUT(first.all().size(), 2, 10000);
    QCOMPARE(first.all(),
             (QStringList{"BestServerReceived(true, nl nl-ams-1 10.1.1.1 0 0 0)", "MapImageReceived(true, )"}));

    // A traffic refresh while the user-data chain runs.
    QVERIFY(m_provider.script(Reply("/users/me/plan", 200, "{\"status\": \"ACTIVE\"}", 500)));
    const Emissions second = record();
    m_api->GetUserPlan();
    m_api->UpdateUserBandwidth();
    QTRY_COMPARE_WITH_TIMEOUT(second.all().size(), 2, 10000);
    QCOMPARE(second.all(), (QStringList{"UserDataReceived(AuthSuccess)", "UserTrafficUpdated(true)"}));
}

// A real sign-in: neither the password nor the API token reaches the log.
void tst_TovraApiManager::signInLogsNoSecret()
{
    QSignalSpy signedIn(m_auth, &TovraAuthManager::UserDataReceived);
    m_auth->LoginEmail("active@tovra.test", "Active-2026");
    QVERIFY(signedIn.wait(20000));
    QCOMPARE(signedIn.first().first().value<TovraAuthManager::eAuthResults>(), TovraAuthManager::AuthSuccess);
    const QString token = m_auth->userData().token;
    QVERIFY(!token.isEmpty());
    QVERIFY2(!m_fixture.logged(token) && !m_fixture.logged("Active-2026"), qPrintable(LogCapture::dump()));
    QVERIFY(LogCapture::contains("/auth/email api response: {\"token\":\"" + QString(token.size(), '*') + "\"}"));
}

void tst_TovraApiManager::ticket_data()
{
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<QByteArray>("nameInBody");
    QTest::addColumn<bool>("withFiles");
    const QByteArray escaped("Zo\xc3\xab \\\"Q\\\" \\\\ \\t\\n\\u0001");
    QTest::newRow("signed in, name needing escapes") << true << escaped << true;
    QTest::newRow("signed in, files missing") << true << escaped << false;
    QTest::newRow("anonymous") << false << QByteArray("Non-logged user") << true;
}

void tst_TovraApiManager::ticket()
{
    QFETCH(bool, signedIn);
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
    user.firstName = QString::fromUtf8("Zoë \"Q\" \\ \t\n\x01");
    signIn(user);
    const QString path = signedIn ? "/users/me/ticket" : "/users/anonymous/ticket";
    QVERIFY(m_provider.script(path, 200, "{\"url\": \"https://portal.test/ticket/1\"}"));
    QSignalSpy done(m_api, &TovraApiManager::SupportTicketFinished);
    m_api->SendSupportTicket(signedIn);
    QVERIFY(done.wait(10000));

    const QByteArray expected =
        "{\"name\": \"" + nameInBody +
        "\", \"subject\": \"Automatic ticket from TOVRA v.4.1.5 (71)\", \"message\": \"This "
        "ticket was automatically generated by TOVRA application request.\", \"client_log\": \"" +
        (withFiles ? log.toBase64() : QByteArray()) + "\", \"collected_data\": \"" +
        (signedIn && withFiles ? support.toBase64() : QByteArray()) + "\"}";
    const QJsonObject request = m_fixture.lastRequest(path);
    QCOMPARE(Body(request), expected);
    QCOMPARE(QJsonDocument::fromJson(expected).object().value("name").toString(),
             signedIn ? user.firstName : QStringLiteral("Non-logged user"));
    // Qt sets Content-Length from the upload size just before sending, after every header the client set.
    Headers headers{{"Connection", "close"}, {"Content-Type", "application/json"}};
    if (signedIn)
        headers << qMakePair(QStringLiteral("Authorization"), QStringLiteral("Bearer: demo-token-active"));
    headers << qMakePair(QStringLiteral("Content-Length"), QString::number(expected.size()));
    QCOMPARE(ClientHeaders(request), headers);
    QVERIFY(m_fixture.logged(" post data without logfile and supportfile: "));
}

void tst_TovraApiManager::polyline_data()
{
    QTest::addColumn<QList<double>>("points"); // from latitude, from longitude, to latitude, to longitude
    QTest::addColumn<QString>("encoded");
    QTest::newRow("published example") << QList<double>{38.5, -120.2, 40.7, -120.95} << "_p~iF~ps|U_ulLnnqC";
    // Halves round away from zero: 0.000005 -> 1, -0.000005 -> -1.
    QTest::newRow("halves") << QList<double>{0.000005, -0.000005, 0.000005, -0.000005} << "A@??";
    QTest::newRow("large negative") << QList<double>{-179.98321, -90.0, 0, 0} << "`~oia@~bidPa~oia@_cidP";
}

void tst_TovraApiManager::polyline()
{
    QFETCH(QList<double>, points);
    QFETCH(QString, encoded);
    QCOMPARE(TovraApiManager::encodePolyline(points[0], points[1], points[2], points[3]), encoded);
}

// The map request as the stand-in got it; the stand-in draws the size it was asked for.
void tst_TovraApiManager::mapImage_data()
{
    QTest::addColumn<bool>("b2b");
    QTest::addColumn<bool>("hiDpi");
    QTest::addColumn<bool>("drawPath");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QSize>("size");
    const QString marker = QUrl::toPercentEncoding(m_provider.portalUrl()) + "%2Fassets%2Fimg%2Fmapbox_marker_";
    const QString base("/styles/v1/mapbox/streets-v11/static/");
    const QString token = QUrl::toPercentEncoding(BuildConstants::mapAccessToken());
    QTest::newRow("regular user, normal screen") << false << false << false
                                                 << base + "url-" + marker + "self.png(4.89517,52.3702),url-" + marker +
                                                        "srv.png(-120.2,38.5)/auto/417x194?access_token=" + token
                                                 << QSize(417, 194);
    QTest::newRow("b2b user, high density, route")
        << true << true << true
        << base + "path-2+F38827-1(%7Bps~Hya%7B%5Cz_tsAxsozV),url-" + marker + "self_2x.png(4.89517,52.3702),url-" +
               marker + "srv_2x.png(-120.2,38.5)/auto/417x174@2x?access_token=" + token
        << QSize(834, 348);
}

void tst_TovraApiManager::mapImage()
{
    QFETCH(bool, b2b);
    QFETCH(bool, hiDpi);
    QFETCH(bool, drawPath);
    QFETCH(QString, target);
    QFETCH(QSize, size);
    TovraUserData user;
    user.isB2b = b2b;
    signIn(user);
    AppContext::instance()->config()->highDpiScreen = hiDpi;
    QSignalSpy map(m_api, &TovraApiManager::MapImageReceived);
    m_api->GetMapImage(4.8951679, 52.3702157, -120.2, 38.5, drawPath);
    QVERIFY(map.wait(10000));
    QVERIFY(map.at(0).at(0).toBool());
    QCOMPARE(map.at(0).at(1).value<QImage>().size(), size);
    const QJsonObject request = m_provider.requests().at(0).toObject();
    QCOMPARE(QUrl::fromPercentEncoding(request.value("target").toString().toLatin1()),
             QUrl::fromPercentEncoding(target.toLatin1()));
    QCOMPARE(ClientHeaders(request), (Headers{{"Connection", "close"}}));
    QVERIFY(LoggedLine("Sending map request: "));
    // The same place twice: the route ends in zeros, encoded "??", which must not start the query.
    const QUrl same(m_api->mapImageUrl(5.1, 52.1, 5.1, 52.1, true));
    QCOMPARE(same.query(QUrl::FullyDecoded), "access_token=" + BuildConstants::mapAccessToken());
}

// A failing map service, then data that is no image, which still counts as an answer.
void tst_TovraApiManager::mapImageFailures()
{
    QSignalSpy map(m_api, &TovraApiManager::MapImageReceived);
    QVERIFY(m_provider.script(Reply("/styles/v1/mapbox/streets-v11/static/x", 200, "no image")));
    for (const QString &base : {m_provider.apiUrl(), m_provider.apiUrl() + "/styles/v1/mapbox/streets-v11/static/x#"}) {
        m_api->setMapApiBaseUrl(base);
        m_api->GetMapImage(4.8951679, 52.3702157, -120.2, 38.5, false);
        QVERIFY(map.wait(10000));
    }
    m_api->setMapApiBaseUrl(m_provider.portalUrl());
    QCOMPARE(map.at(0).at(0).toBool(), false);
    QVERIFY(m_fixture.logged("Error ocurred when loading google map image: "));
    QVERIFY(map.at(1).at(0).toBool());
    QVERIFY(map.at(1).at(1).value<QImage>().isNull());
}

// A provider the client does not trust: the sign-in fails in the handshake, before the password leaves.
void tst_TovraApiManager::untrustedCertificate()
{
    StandInProvider stranger;
    QVERIFY2(stranger.start(), qPrintable(stranger.errorString()));
    m_api->setApiBaseUrl(stranger.apiUrl());
    const auto restore = qScopeGuard([this] { m_api->setApiBaseUrl(m_provider.apiUrl()); });
    const Emissions emissions = record();
    m_api->AuthEmail("anna@tovra.test", "Secret1");
    QTRY_VERIFY_WITH_TIMEOUT(m_fixture.logged("/auth/email response code: "), 10000);
    QCOMPARE(emissions.all(), QStringList{"ApiErrorOccurred(Network error: ...)"});
    QVERIFY(m_fixture.logged("SSL errors: "));
    QCOMPARE(stranger.requests(), QJsonArray());
}

QTEST_MAIN(tst_TovraApiManager)
#include "tst_tovraapimanager.moc"
