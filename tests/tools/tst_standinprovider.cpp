// Starts the real tovra-provider and talks to it over HTTPS.
#include "support/standinprovider.h"

#include <QImage>
#include <QProcess>
#include <QSslCertificate>
#include <QSslSocket>
#include <QtTest>

using Response = StandInProvider::Response;
using Headers = QList<QPair<QByteArray, QByteArray>>;

namespace {

QJsonObject object(const Response &response)
{
    return QJsonDocument::fromJson(response.body).object();
}

QByteArray header(const Response &response, const QByteArray &name)
{
    for (const auto &pair : response.headers) {
        if (pair.first.compare(name, Qt::CaseInsensitive) == 0)
            return pair.second;
    }
    return QByteArray();
}

// Every key of expected is in actual with that value (objects compared key by key); a null value
// stands for a key that must be absent.
bool covers(const QJsonObject &actual, const QJsonObject &expected)
{
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        const QJsonValue value = actual.value(it.key());
        if (it->isNull()     ? !value.isUndefined()
            : it->isObject() ? !covers(value.toObject(), it->toObject())
                             : value != *it)
            return false;
    }
    return true;
}

Headers withToken(Headers headers, const QByteArray &token)
{
    if (!token.isEmpty())
        headers.append({"Authorization", "Bearer: " + token});
    return headers;
}

} // namespace

class TestStandInProvider : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QVERIFY2(m_provider.reset(), qPrintable(m_provider.errorString())); }
    void cleanupTestCase();

    void apiAnswers_data();
    void apiAnswers();
    void serverList();
    void scriptedAnswers_data();
    void scriptedAnswers();
    void recordsHeadersInOrder();
    void ticketsAreStoredDecoded_data();
    void ticketsAreStoredDecoded();
    void portalPages_data();
    void portalPages();
    void accountLink();
    void survivesGarbage();
    void certificateIsReused();
    void portInUseFails();

private:
    Response get(const QString &path, const QByteArray &token)
    {
        return m_provider.call("GET", m_provider.apiUrl() + path, QByteArray(), withToken({}, token));
    }

    StandInProvider m_provider;
};

void TestStandInProvider::initTestCase()
{
    QVERIFY2(m_provider.start(), qPrintable(m_provider.errorString()));
    QVERIFY(m_provider.apiPort() != 0 && m_provider.portalPort() != 0);
    QVERIFY(m_provider.apiPort() != m_provider.portalPort());
}

void TestStandInProvider::cleanupTestCase()
{
    // A clean SIGTERM stop also shows the bad requests above did not kill it.
    QVERIFY(m_provider.isRunning());
    QVERIFY2(m_provider.stop(), m_provider.output().constData());
    QVERIFY(m_provider.output().contains("STOPPED"));
}

void TestStandInProvider::apiAnswers_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("authorization");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QJsonObject>("answer"); // see covers()

    const auto row = [](const char *name, const char *method, const QString &path, const QByteArray &authorization,
                        const char *body, int status, const char *answer) {
        const QJsonDocument expected = QJsonDocument::fromJson(answer);
        QVERIFY2(expected.isObject(), name);
        QTest::newRow(name) << QByteArray(method) << path << authorization << QByteArray(body) << status
                            << expected.object();
    };
    // A GET with a demo account's token ("" for none), a POST without one.
    const auto get = [&](const char *name, const QString &path, const char *account, int status,
                         const char *answer = "{}") {
        row(name, "GET", path, *account ? "Bearer: demo-token-" + QByteArray(account) : QByteArray(), "", status,
            answer);
    };
    const auto post = [&](const char *name, const char *path, const char *body, int status, const char *answer = "{}") {
        row(name, "POST", path, QByteArray(), body, status, answer);
    };
    const auto best = [&](const char *name, const char *query, const char *account, int status, const char *answer) {
        get(name, QStringLiteral("/users/me/servers/best?country_code=") + query, account, status, answer);
    };

    get("plan without token", "/users/me/plan", "", 401);
    get("plan with unknown token", "/users/me/plan", "nope", 401);
    row("bearer without colon", "GET", "/users/me/plan", "Bearer demo-token-active", "", 401, "{}");
    post("signed-in ticket without token", "/users/me/ticket", "{}", 401);
    get("unknown api path", "/users/me/nothing", "active", 404);
    get("unknown update platform", "/config/app/amiga", "", 404);
    get("sign-in with GET", "/auth/email", "", 405);
    post("sign-in body not JSON", "/auth/email", R"({"email": )", 400);
    post("sign-in body an array", "/auth/email", "[1,2]", 400);
    post("sign-in body empty", "/auth/facebook", "", 400);
    post("ticket body not JSON", "/users/anonymous/ticket", R"({"name": "a"b"})", 400);
    post("ticket log not Base64", "/users/anonymous/ticket",
         R"({"client_log": "**not base64**", "collected_data": ""})", 400);
    get("account link to another host", "/users/me/auto_auth_url?goto=https://evil.example/", "active", 400);

    const char *e = "/auth/email", *g = "/auth/google", *f = "/auth/facebook";
    post("e-mail: active", e, R"({"email":"active@tovra.test","password":"Active-2026"})", 200,
         R"({"token":"demo-token-active"})");
    post("e-mail: address in other case", e, R"({"email":"Business@Tovra.Test","password":"Business-2026"})", 200,
         R"({"token":"demo-token-business"})");
    post("e-mail: suspended still gets a token", e, R"({"email":"suspended@tovra.test","password":"Suspended-2026"})",
         200, R"({"token":"demo-token-suspended"})");
    post("e-mail: wrong password", e, R"({"email":"active@tovra.test","password":"active-2026"})", 401);
    post("e-mail: empty password", e, R"({"email":"active@tovra.test","password":""})", 401);
    post("e-mail: unknown address", e, R"({"email":"nobody@tovra.test","password":"Active-2026"})", 404);
    post("e-mail: blocked IP", e, R"({"email":"blocked@tovra.test","password":"Blocked-2026"})", 503);
    post("google: business", g, R"({"code":"4/0Business","redirect_uri":"http://127.0.0.1:56743/"})", 200,
         R"({"token":"demo-token-business"})");
    post("google: code still percent-encoded", g, R"({"code":"4%2F0Ab","redirect_uri":"http://127.0.0.1:56743/"})",
         401);
    post("google: other redirect", g, R"({"code":"4/0Ab","redirect_uri":"http://127.0.0.1:56743"})", 401);
    post("google: no linked account", g, R"({"code":"4/0Unlinked","redirect_uri":"http://127.0.0.1:56743/"})", 404);
    post("facebook: no linked account", f, R"({"secure_token":"EAAFdemoUnlinked"})", 404);
    post("facebook: forged token", f, R"({"secure_token":"forged"})", 401);

    get("unlimited plan", "/users/me/plan", "active", 200, R"({"is_unlimited":1,"status":"active"})");
    get("trial pending verification", "/users/me/plan", "pending", 200, R"({"status":"pending","is_trial":1})");
    get("suspended plan", "/users/me/plan", "suspended", 200, R"({"status":"suspended"})");
    get("10 GB plan nearly used up", "/users/me/bandwidth", "limited", 200,
        R"({"bytes_total":10737418240,"bytes_used":10522669875,"is_unlimited":0})");
    get("user id is a string", "/users/me", "active", 200, R"({"id":"100001","is_b2b":0})");
    get("first name with quotes and a backslash", "/users/me", "quotes", 200,
        R"({"first_name":"Jo \"JJ\" \\ O'Neil"})");
    get("business user", "/users/me", "business", 200, R"({"is_b2b":1})");
    get("ip address", "/users/me/ip", "trial", 200, R"({"ip":"203.0.113.10"})");

    best("best nl regular: least loaded", "nl&is_p2p=false&is_streaming=false", "active", 200,
         R"({"short_name":"nl-ams-01","country_code":"NL","ip":"198.18.0.2","load_percentage":12})");
    best("best nl p2p", "nl&is_p2p=true&is_streaming=false", "active", 200,
         R"({"short_name":"nl-ams-02","country_code":"NL","ip":"198.18.0.4","load_percentage":71})");
    best("best nl streaming, code in upper case", "NL&is_p2p=false&is_streaming=true", "active", 200,
         R"({"short_name":"nl-rot-01","country_code":"NL","ip":"198.18.0.3","load_percentage":47})");
    best("best de streaming skips the full server", "de&is_p2p=false&is_streaming=true", "active", 200,
         R"({"short_name":"de-mun-01","country_code":"DE","ip":"198.18.0.7","load_percentage":33})");
    best("best fr regular skips the dead server", "fr&is_p2p=false&is_streaming=false", "active", 200,
         R"({"short_name":"fr-par-01","country_code":"FR","ip":"198.18.0.17","load_percentage":15})");
    best("best for a business account is B2B", "nl&is_p2p=false&is_streaming=false", "business", 200,
         R"({"short_name":"b2b-nl-01","country_code":"NL","ip":"198.18.0.65","load_percentage":9})");
    best("best in an unknown country", "zz&is_p2p=false&is_streaming=false", "active", 404, "{}");
    best("best of no such category", "ro&is_p2p=true&is_streaming=true", "active", 404, "{}");
    best("best without flags", "nl", "active", 400, "{}");
    best("best with a flag not a boolean", "nl&is_p2p=1&is_streaming=false", "active", 400, "{}");
}

void TestStandInProvider::apiAnswers()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, authorization);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QJsonObject, answer);

    Headers headers{{"Content-Type", "application/json"}};
    if (!authorization.isEmpty())
        headers.append({"Authorization", authorization});
    const Response response = m_provider.call(method, m_provider.apiUrl() + path, body, headers);
    QCOMPARE(response.status, status);
    const QJsonObject received = object(response);
    QVERIFY2(covers(received, answer), response.body.constData());
    // A refusal says why, and hands out nothing.
    if (status >= 400) {
        QVERIFY2(!received.value(QLatin1String("error")).toString().isEmpty(), response.body.constData());
        QCOMPARE(received.keys(), QStringList{"error"});
    }
}

void TestStandInProvider::serverList()
{
    const QJsonArray servers =
        QJsonDocument::fromJson(get(QStringLiteral("/users/me/servers?is_debug=false"), "demo-token-active").body)
            .array();
    QVERIFY(servers.size() >= 60);
    static const QStringList keys = {"city",           "country_code", "country_name",   "short_name", "ip",
                                     "is_p2p",         "is_streaming", "is_alive",       "is_b2b",     "is_nearest",
                                     "is_nearest_b2b", "location",     "load_percentage"};
    QSet<QString> countries;
    for (const QJsonValue &value : servers) {
        const QJsonObject server = value.toObject();
        for (const QString &key : keys)
            QVERIFY2(server.contains(key), qPrintable(key));
        QCOMPARE(
            server.value(QLatin1String("location")).toObject().value(QLatin1String("coordinates")).toArray().size(), 2);
        countries.insert(server.value(QLatin1String("country_code")).toString());
    }
    QVERIFY(countries.size() >= 20);

    // How many servers of list have a value at key that passes test.
    const auto count = [](const QJsonArray &list, const char *key, bool (*test)(const QJsonValue &)) {
        return int(std::count_if(list.begin(), list.end(),
                                 [&](const QJsonValue &server) { return test(server.toObject().value(key)); }));
    };
    const auto set = [](const QJsonValue &flag) { return flag.toInt() != 0; };
    QCOMPARE(count(servers, "is_b2b", set), 0);
    QCOMPARE(count(servers, "is_nearest", set), 1);
    QVERIFY(count(servers, "is_p2p", set) > 0);
    QVERIFY(count(servers, "is_streaming", set) > 0);
    QVERIFY(count(servers, "is_alive", [](const QJsonValue &alive) { return alive.toInt() == 0; }) > 0);
    QVERIFY(count(servers, "load_percentage", [](const QJsonValue &load) { return load.toInt() >= 100; }) > 0);
    QVERIFY(count(servers, "country_name", [](const QJsonValue &name) {
                return name.toString().contains(QRegularExpression(QStringLiteral("[0-9]")));
            }) > 0);

    // Business accounts also get the B2B servers.
    const QJsonArray business =
        QJsonDocument::fromJson(get(QStringLiteral("/users/me/servers"), "demo-token-business").body).array();
    QVERIFY(count(business, "is_nearest_b2b", set) > 0);
    QVERIFY(count(business, "is_b2b", set) > 0);
    QCOMPARE(business.size(), servers.size() + count(business, "is_b2b", set));
}

void TestStandInProvider::scriptedAnswers_data()
{
    // The path is asked for once per status; a null body is not checked. The first request gives up
    // after firstWaitMs.
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QList<int>>("statuses");
    QTest::addColumn<QByteArrayList>("bodies");
    QTest::addColumn<int>("firstWaitMs");

    const QByteArray plan = get(QStringLiteral("/users/me/plan"), "demo-token-active").body;
    QVERIFY(plan.contains("\"status\":\"active\""));
    const QByteArray gateway = "bad gateway", none;
    QTest::newRow("status and raw body") << QByteArray(R"({"path":"/users/me/plan","status":502,"body":"bad gateway"})")
                                         << QList<int>{502, 502} << QByteArrayList{gateway, gateway} << 20000;
    QTest::newRow("used once, then normal")
        << QByteArray(R"({"path":"/users/me/plan","status":502,"body":"bad gateway","times":1})")
        << QList<int>{502, 200} << QByteArrayList{gateway, plan} << 20000;
    QTest::newRow("other method not affected")
        << QByteArray(R"({"path":"/users/me/plan","status":502,"body":"bad gateway","method":"post"})")
        << QList<int>{200} << QByteArrayList{plan} << 20000;
    QTest::newRow("other origin not affected")
        << QByteArray(R"({"path":"/users/me/plan","status":502,"body":"bad gateway","origin":"portal"})")
        << QList<int>{200} << QByteArrayList{plan} << 20000;
    QTest::newRow("object body sent as JSON")
        << QByteArray(R"({"path":"/users/me/plan","status":200,"body":{"status":"ACTIVE"}})") << QList<int>{200}
        << QByteArrayList{R"({"status":"ACTIVE"})"} << 20000;
    QTest::newRow("unknown path made to answer")
        << QByteArray(R"({"path":"/not/a/real/endpoint","status":200,"body":"[]"})") << QList<int>{200}
        << QByteArrayList{"[]"} << 20000;
    QTest::newRow("delayed answer: not there early, there when waited for")
        << QByteArray(R"({"path":"/users/me/ip","status":200,"body":"{\"ip\":\"198.51.100.7\"}","delayMs":3000})")
        << QList<int>{0, 200} << QByteArrayList{none, R"({"ip":"198.51.100.7"})"} << 500;
    QTest::newRow("status 0 only delays the normal answer") << QByteArray(R"({"path":"/users/me/plan","delayMs":3000})")
                                                            << QList<int>{0, 200} << QByteArrayList{none, plan} << 500;
}

void TestStandInProvider::scriptedAnswers()
{
    QFETCH(QByteArray, script);
    QFETCH(QList<int>, statuses);
    QFETCH(QByteArrayList, bodies);
    QFETCH(int, firstWaitMs);

    const QJsonObject entry = QJsonDocument::fromJson(script).object();
    QVERIFY2(m_provider.script(entry), qPrintable(m_provider.errorString()));
    const QString path = entry.value(QLatin1String("path")).toString();
    for (int i = 0; i < statuses.size(); ++i) {
        const Response response = m_provider.call("GET", m_provider.apiUrl() + path, QByteArray(),
                                                  withToken({}, "demo-token-active"), i == 0 ? firstWaitMs : 30000);
        QCOMPARE(response.status, statuses.at(i));
        if (!bodies.at(i).isNull())
            QCOMPARE(response.body, bodies.at(i));
    }
    QVERIFY(m_provider.reset());
    QCOMPARE(get(path, "demo-token-active").status, path.startsWith(QLatin1String("/users/")) ? 200 : 404);
}

void TestStandInProvider::recordsHeadersInOrder()
{
    const QByteArray body = "{\n    \"email\": \"a@b.c\",\n    \"password\": \"pw\"\n}\n";
    const Headers ours{
        {"Connection", "close"}, {"Content-Type", "application/json"}, {"X-Second", "y"}, {"X-Last", "z"}};
    m_provider.call("POST", m_provider.apiUrl() + QStringLiteral("/auth/email?x=1"), body, ours);
    QCOMPARE(get(QStringLiteral("/users/me"), "demo-token-active").status, 200);

    const QJsonArray recorded = m_provider.requests();
    QCOMPARE(recorded.size(), 2);
    const QJsonObject first = recorded.at(0).toObject();
    QVERIFY(covers(first, {{"method", "POST"}, {"path", "/auth/email"}, {"query", "x=1"}, {"origin", "api"}}));
    QCOMPARE(first.value(QLatin1String("body")).toString().toUtf8(), body);
    QCOMPARE(QByteArray::fromBase64(first.value(QLatin1String("bodyBase64")).toString().toLatin1()), body);
    // Our headers appear with their values and in the order they were set.
    const QJsonArray all = first.value(QLatin1String("headers")).toArray();
    Headers seen;
    for (const QJsonValue &pair : all) {
        const QByteArray name = pair[0].toString().toLatin1();
        if (std::any_of(ours.begin(), ours.end(), [&name](const auto &our) { return our.first == name; }))
            seen.append({name, pair[1].toString().toLatin1()});
    }
    QCOMPARE(seen, ours);
    QVERIFY(all.contains(QJsonArray{"Content-Length", QString::number(body.size())}));

    const QJsonArray second = m_provider.requests(QStringLiteral("/users/me"));
    QCOMPARE(second.size(), 1);
    QVERIFY(second[0][QLatin1String("headers")].toArray().contains(
        QJsonArray{"Authorization", "Bearer: demo-token-active"}));
}

void TestStandInProvider::ticketsAreStoredDecoded_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("log");
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("signed in") << "/users/me/ticket" << QByteArray("demo-token-quotes") << "Jo \"JJ\" \\ O'Neil"
                               << QByteArray("line one\nline two\n\xc3\xa9") << QByteArray("ipconfig output\r\n");
    QTest::newRow("anonymous") << "/users/anonymous/ticket" << QByteArray() << "Non-logged user" << QByteArray("log")
                               << QByteArray();
    QTest::newRow("no log file") << "/users/anonymous/ticket" << QByteArray() << "Non-logged user" << QByteArray()
                                 << QByteArray();
}

void TestStandInProvider::ticketsAreStoredDecoded()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, token);
    QFETCH(QString, name);
    QFETCH(QByteArray, log);
    QFETCH(QByteArray, data);

    const QJsonObject ticket{{"name", name},
                             {"subject", "Automatic ticket from TOVRA v.4.1.5 (71)"},
                             {"message", "This ticket was automatically generated by TOVRA application request."},
                             {"client_log", QString::fromLatin1(log.toBase64())},
                             {"collected_data", QString::fromLatin1(data.toBase64())}};
    const Response response =
        m_provider.call("POST", m_provider.apiUrl() + path, QJsonDocument(ticket).toJson(QJsonDocument::Compact),
                        withToken({{"Content-Type", "application/json"}}, token));
    QCOMPARE(response.status, 200);
    const QString url = object(response).value(QLatin1String("url")).toString();
    QVERIFY2(url.startsWith(m_provider.portalUrl() + QStringLiteral("/viewticket.php?tid=")), qPrintable(url));

    const QJsonArray tickets = m_provider.tickets();
    QCOMPARE(tickets.size(), 1);
    const QJsonObject stored = tickets.at(0).toObject();
    QVERIFY2(covers(stored, {{"name", name},
                             {"signedIn", !token.isEmpty()},
                             {"account", token.isEmpty() ? "" : "quotes@tovra.test"},
                             {"clientLog", QString::fromUtf8(log)},
                             {"collectedData", QString::fromUtf8(data)},
                             {"url", url}}),
             QJsonDocument(stored).toJson().constData());
    const QDir dir(m_provider.statePath() + QStringLiteral("/tickets/") +
                   QString::number(stored.value(QLatin1String("id")).toInt()));
    const auto storedFile = [&dir](const char *name) {
        QFile file(dir.filePath(QLatin1String(name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    };
    QCOMPARE(storedFile("client_log"), log);
    QCOMPARE(storedFile("collected_data"), data);

    // The ticket page opens with the check code and not without it.
    QCOMPARE(m_provider.call("GET", url).status, 200);
    QCOMPARE(m_provider.call("GET", url.left(url.indexOf(QLatin1String("&c=")))).status, 404);
}

void TestStandInProvider::portalPages_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("text"); // in the answer, or the whole Location of a redirect
    QTest::addColumn<QSize>("imageSize");

    struct Row
    {
        const char *name, *path;
        int status;
        const char *text;
        QSize imageSize = QSize();
    };
    const char *styles = "/styles/v1/mapbox/streets-v11/static/";
    const QString token = "/v5.0/oauth/access_token?client_id=123456789012345&client_secret="
                          "0123456789abcdef0123456789abcdef&scope&redirect_uri=";
    const char *granted = R"("access_token":"EAAFdemoActive")", *refused = R"("type":"OAuthException")";
    const Row rows[] = {
        {"sign-up page", "/register.php", 200, ""},
        {"password reset page", "/pwreset.php", 200, ""},
        {"facebook landing page", "/facebook.php", 200, ""},
        {"google landing page", "/google.php", 200, ""},
        {"share page", "/share.php", 200, ""},
        {"dutch faq", "/nl/faq", 200, ""},
        {"unknown page", "/nothing.php", 404, ""},
        {"facebook redirect to the listener", "/fbredirect.php?code=ABC&state=xyz", 302,
         "http://127.0.0.1:56743/?code=ABC&state=xyz"},
        {"self marker", "/assets/img/mapbox_marker_self.png", 200, "", QSize(20, 28)},
        {"server marker 2x", "/assets/img/mapbox_marker_srv_2x.png", 200, "", QSize(40, 56)},
        {"unknown image", "/assets/img/other.png", 404, ""},
        {"map", "url-x(1,2),url-y(3,4)/auto/417x194?access_token=t", 200, "", QSize(417, 194)},
        {"b2b map 2x", "path-2+F38827-1(_p~iF~ps%7CU_ulLnnqC),url-x(1,2)/auto/417x174@2x?access_token=t", 200, "",
         QSize(834, 348)},
        {"map without token", "auto/417x194", 401, ""},
        {"facebook token: portal built for another port", "https://127.0.0.1:58444/fbredirect.php&code=ABC", 200,
         granted},
        {"facebook token: localhost", "https://localhost:1/fbredirect.php&code=ABC", 200, granted},
        {"facebook token: other host", "https://evil.example/fbredirect.php&code=ABC", 400, refused},
        {"facebook token: plain http", "http://127.0.0.1:58444/fbredirect.php&code=ABC", 400, refused},
        {"facebook token: other page", "https://127.0.0.1:58444/facebook.php&code=ABC", 400, refused},
        {"facebook token: no code", "https://127.0.0.1:58444/fbredirect.php&state=xyz", 400, refused},
        {"facebook token: wrong code", "https://127.0.0.1:58444/fbredirect.php&code=XYZ", 400, refused},
        {"facebook token: no secret",
         "/v5.0/oauth/access_token?client_id=1&scope&redirect_uri=https://127.0.0.1:58444/fbredirect.php&code=ABC", 400,
         refused},
        {"facebook profile for a bad token", "/me?fields=id,email&access_token=bad", 400, refused},
    };
    for (const Row &row : rows) {
        // Map rows give the path after the style, token rows the redirect_uri onwards.
        QString path = QString::fromUtf8(row.path);
        if (path.startsWith(QLatin1String("http")))
            path.prepend(token);
        else if (!path.startsWith(QLatin1Char('/')))
            path.prepend(QLatin1String(styles));
        QTest::newRow(row.name) << path << row.status << QByteArray(row.text) << row.imageSize;
    }
}

void TestStandInProvider::portalPages()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QByteArray, text);
    QFETCH(QSize, imageSize);

    const Response response = m_provider.call("GET", m_provider.portalUrl() + path);
    QCOMPARE(response.status, status);
    if (status == 302)
        QCOMPARE(header(response, "Location"), text);
    else if (!text.isEmpty())
        QVERIFY2(response.body.contains(text), response.body.constData());
    if (imageSize.isValid())
        QCOMPARE(QImage::fromData(response.body, "PNG").size(), imageSize);
    const QJsonArray recorded = m_provider.requests(QUrl(m_provider.portalUrl() + path).path());
    QCOMPARE(recorded.at(0).toObject().value(QLatin1String("origin")).toString(), QStringLiteral("portal"));
}

void TestStandInProvider::accountLink()
{
    const Response link = get(QStringLiteral("/users/me/auto_auth_url?goto=clientarea.php%23upgrade-to-unlim-annual"),
                              "demo-token-limited");
    QCOMPARE(link.status, 200);
    const QString url = object(link).value(QLatin1String("url")).toString();
    QVERIFY2(url.startsWith(m_provider.portalUrl() + QStringLiteral("/autoauth.php?key=")), qPrintable(url));

    const Response first = m_provider.call("GET", url);
    QCOMPARE(first.status, 302);
    QCOMPARE(header(first, "Location"),
             (m_provider.portalUrl() + QStringLiteral("/clientarea.php#upgrade-to-unlim-annual")).toUtf8());
    // A link works once.
    QCOMPARE(m_provider.call("GET", url).status, 403);

    const Response plain = get(QStringLiteral("/users/me/auto_auth_url"), "demo-token-limited");
    QCOMPARE(m_provider.call("GET", object(plain).value(QLatin1String("url")).toString()).status, 302);
}

void TestStandInProvider::survivesGarbage()
{
    // Not HTTP inside TLS.
    QSslSocket tls;
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    tls.connectToHostEncrypted(QStringLiteral("127.0.0.1"), m_provider.apiPort());
    QVERIFY(tls.waitForEncrypted(10000));
    tls.write("\x01\x02 NOT HTTP\r\n\r\n");
    QByteArray answer;
    while (tls.waitForReadyRead(10000))
        answer += tls.readAll();
    QVERIFY2(answer.startsWith("HTTP/1.1 400"), answer.constData());

    // Plain HTTP on the TLS port, then a client that hangs up mid-handshake.
    QTcpSocket plain, quitter;
    plain.connectToHost(QStringLiteral("127.0.0.1"), m_provider.apiPort());
    QVERIFY(plain.waitForConnected(10000));
    plain.write("GET /users/me HTTP/1.1\r\nHost: x\r\n\r\n");
    plain.waitForDisconnected(10000);
    quitter.connectToHost(QStringLiteral("127.0.0.1"), m_provider.apiPort());
    QVERIFY(quitter.waitForConnected(10000));
    quitter.write(QByteArray("\x16\x03\x01\x02\x00\x01", 6));
    quitter.waitForBytesWritten(10000);
    quitter.abort();

    QCOMPARE(get(QStringLiteral("/users/me"), "demo-token-active").status, 200);
}

void TestStandInProvider::certificateIsReused()
{
    QFile cert(m_provider.statePath() + QStringLiteral("/cert.pem"));
    QVERIFY(cert.open(QIODevice::ReadOnly));
    const QByteArray pem = cert.readAll();
    const QSslCertificate parsed(pem, QSsl::Pem);
    QVERIFY(parsed.subjectAlternativeNames().values(QSsl::IpAddressEntry).contains(QStringLiteral("127.0.0.1")));

    // A second program on the same state folder serves the same certificate.
    StandInProvider second;
    QVERIFY2(second.start({"--state", m_provider.statePath()}), qPrintable(second.errorString()));
    QVERIFY(second.stop());
    cert.seek(0);
    QCOMPARE(cert.readAll(), pem);
}

void TestStandInProvider::portInUseFails()
{
    QProcess clash;
    QTemporaryDir state;
    clash.start(QStringLiteral(TOVRA_PROVIDER_EXE),
                {"--api-port", QString::number(m_provider.apiPort()), "--portal-port", "0", "--state", state.path()});
    QVERIFY(clash.waitForFinished(20000));
    QCOMPARE(clash.exitStatus(), QProcess::NormalExit);
    QCOMPARE(clash.exitCode(), 1);
    QVERIFY(clash.readAllStandardError().contains("cannot listen on 127.0.0.1"));
    QVERIFY(!clash.readAllStandardOutput().contains("LISTENING"));
    QVERIFY(m_provider.isRunning());
}

QTEST_GUILESS_MAIN(TestStandInProvider)
#include "tst_standinprovider.moc"
