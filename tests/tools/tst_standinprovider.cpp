// Starts the real tovra-provider and talks to it over HTTPS.
#include "support/standinprovider.h"

#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSslCertificate>
#include <QSslSocket>
#include <QtTest>

#include <memory>

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
    void facebookGraph_data();
    void facebookGraph();
    void serverList();
    void scriptedAnswers_data();
    void scriptedAnswers();
    void scriptedHangup();
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

    struct Row
    {
        const char *name, *method, *path, *authorization, *body;
        int status;
        const char *answer;
    };
    const char *active = "Bearer: demo-token-active", *business = "Bearer: demo-token-business";
    const Row rows[] = {
        {"plan without token", "GET", "/users/me/plan", "", "", 401, "{}"},
        {"plan with unknown token", "GET", "/users/me/plan", "Bearer: nope", "", 401, "{}"},
        {"bearer without colon", "GET", "/users/me/plan", "Bearer demo-token-active", "", 401, "{}"},
        {"signed-in ticket without token", "POST", "/users/me/ticket", "", "{}", 401, "{}"},
        {"unknown api path", "GET", "/users/me/nothing", active, "", 404, "{}"},
        {"unknown update platform", "GET", "/config/app/amiga", "", "", 404, "{}"},
        {"sign-in with GET", "GET", "/auth/email", "", "", 405, "{}"},
        {"sign-in body not JSON", "POST", "/auth/email", "", R"({"email": )", 400, R"({"token":null})"},
        {"sign-in body an array", "POST", "/auth/email", "", "[1,2]", 400, R"({"token":null})"},
        {"sign-in body empty", "POST", "/auth/facebook", "", "", 400, R"({"token":null})"},
        {"ticket body not JSON", "POST", "/users/anonymous/ticket", "", R"({"name": "a"b"})", 400, "{}"},
        {"ticket log not Base64", "POST", "/users/anonymous/ticket", "",
         R"({"client_log": "**not base64**", "collected_data": ""})", 400, "{}"},
        {"account link to another host", "GET", "/users/me/auto_auth_url?goto=https://evil.example/", active, "", 400,
         "{}"},

        {"e-mail: active", "POST", "/auth/email", "", R"({"email":"active@tovra.test","password":"Active-2026"})", 200,
         R"({"token":"demo-token-active"})"},
        {"e-mail: address in other case", "POST", "/auth/email", "",
         R"({"email":"Business@Tovra.Test","password":"Business-2026"})", 200, R"({"token":"demo-token-business"})"},
        {"e-mail: suspended still gets a token", "POST", "/auth/email", "",
         R"({"email":"suspended@tovra.test","password":"Suspended-2026"})", 200, R"({"token":"demo-token-suspended"})"},
        {"e-mail: wrong password", "POST", "/auth/email", "",
         R"({"email":"active@tovra.test","password":"active-2026"})", 401, R"({"token":null})"},
        {"e-mail: empty password", "POST", "/auth/email", "", R"({"email":"active@tovra.test","password":""})", 401,
         R"({"token":null})"},
        {"e-mail: unknown address", "POST", "/auth/email", "",
         R"({"email":"nobody@tovra.test","password":"Active-2026"})", 404, R"({"token":null})"},
        {"e-mail: blocked IP", "POST", "/auth/email", "", R"({"email":"blocked@tovra.test","password":"Blocked-2026"})",
         503, R"({"token":null})"},
        {"google: decoded code", "POST", "/auth/google", "",
         R"({"code":"4/0Ab","redirect_uri":"http://127.0.0.1:56743/"})", 200, R"({"token":"demo-token-active"})"},
        {"google: business", "POST", "/auth/google", "",
         R"({"code":"4/0Business","redirect_uri":"http://127.0.0.1:56743/"})", 200,
         R"({"token":"demo-token-business"})"},
        {"google: code still percent-encoded", "POST", "/auth/google", "",
         R"({"code":"4%2F0Ab","redirect_uri":"http://127.0.0.1:56743/"})", 401, R"({"token":null})"},
        {"google: other redirect", "POST", "/auth/google", "",
         R"({"code":"4/0Ab","redirect_uri":"http://127.0.0.1:56743"})", 401, R"({"token":null})"},
        {"google: no linked account", "POST", "/auth/google", "",
         R"({"code":"4/0Unlinked","redirect_uri":"http://127.0.0.1:56743/"})", 404, R"({"token":null})"},
        {"facebook: linked account", "POST", "/auth/facebook", "", R"({"secure_token":"EAAFdemoActive"})", 200,
         R"({"token":"demo-token-active"})"},
        {"facebook: no linked account", "POST", "/auth/facebook", "", R"({"secure_token":"EAAFdemoUnlinked"})", 404,
         R"({"token":null})"},
        {"facebook: forged token", "POST", "/auth/facebook", "", R"({"secure_token":"forged"})", 401,
         R"({"token":null})"},

        {"unlimited plan", "GET", "/users/me/plan", active, "", 200, R"({"is_unlimited":1,"status":"active"})"},
        {"trial pending verification", "GET", "/users/me/plan", "Bearer: demo-token-pending", "", 200,
         R"({"status":"pending","is_trial":1})"},
        {"suspended plan", "GET", "/users/me/plan", "Bearer: demo-token-suspended", "", 200,
         R"({"status":"suspended"})"},
        {"10 GB plan nearly used up", "GET", "/users/me/bandwidth", "Bearer: demo-token-limited", "", 200,
         R"({"bytes_total":10737418240,"bytes_used":10522669875,"is_unlimited":0})"},
        {"user id is a string", "GET", "/users/me", active, "", 200, R"({"id":"100001","is_b2b":0})"},
        {"first name with quotes and a backslash", "GET", "/users/me", "Bearer: demo-token-quotes", "", 200,
         R"({"first_name":"Jo \"JJ\" \\ O'Neil"})"},
        {"business user", "GET", "/users/me", business, "", 200, R"({"is_b2b":1})"},
        {"ip address", "GET", "/users/me/ip", "Bearer: demo-token-trial", "", 200, R"({"ip":"203.0.113.10"})"},

        {"best nl regular: least loaded", "GET", "?country_code=nl&is_p2p=false&is_streaming=false", active, "", 200,
         R"({"short_name":"nl-ams-01","country_code":"NL","ip":"198.18.0.2","load_percentage":12})"},
        {"best nl p2p", "GET", "?country_code=nl&is_p2p=true&is_streaming=false", active, "", 200,
         R"({"short_name":"nl-ams-02","country_code":"NL","ip":"198.18.0.4","load_percentage":71})"},
        {"best nl streaming, code in upper case", "GET", "?country_code=NL&is_p2p=false&is_streaming=true", active, "",
         200, R"({"short_name":"nl-rot-01","country_code":"NL","ip":"198.18.0.3","load_percentage":47})"},
        {"best de streaming skips the full server", "GET", "?country_code=de&is_p2p=false&is_streaming=true", active,
         "", 200, R"({"short_name":"de-mun-01","country_code":"DE","ip":"198.18.0.7","load_percentage":33})"},
        {"best fr regular skips the dead server", "GET", "?country_code=fr&is_p2p=false&is_streaming=false", active, "",
         200, R"({"short_name":"fr-par-01","country_code":"FR","ip":"198.18.0.17","load_percentage":15})"},
        {"best for a business account is B2B", "GET", "?country_code=nl&is_p2p=false&is_streaming=false", business, "",
         200, R"({"short_name":"b2b-nl-01","country_code":"NL","ip":"198.18.0.65","load_percentage":9})"},
        {"best in an unknown country", "GET", "?country_code=zz&is_p2p=false&is_streaming=false", active, "", 404,
         R"({"short_name":null})"},
        {"best of no such category", "GET", "?country_code=ro&is_p2p=true&is_streaming=true", active, "", 404,
         R"({"short_name":null})"},
        {"best without flags", "GET", "?country_code=nl", active, "", 400, R"({"short_name":null})"},
        {"best with a flag not a boolean", "GET", "?country_code=nl&is_p2p=1&is_streaming=false", active, "", 400,
         R"({"short_name":null})"},
    };
    for (const Row &row : rows) {
        // A path that is only a query asks for the best server.
        QString path = QString::fromUtf8(row.path);
        if (path.startsWith(QLatin1Char('?')))
            path.prepend(QStringLiteral("/users/me/servers/best"));
        const QJsonDocument answer = QJsonDocument::fromJson(row.answer);
        QVERIFY2(answer.isObject(), row.name);
        QTest::newRow(row.name) << QByteArray(row.method) << path << QByteArray(row.authorization)
                                << QByteArray(row.body) << row.status << answer.object();
    }
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
    QVERIFY2(covers(object(response), answer), response.body.constData());
    // A refusal says why.
    if (status >= 400)
        QVERIFY2(!object(response).value(QLatin1String("error")).toString().isEmpty(), response.body.constData());
}

void TestStandInProvider::facebookGraph_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QJsonObject>("answer"); // see covers()

    const QString token = "/v5.0/oauth/access_token?client_id=123456789012345&client_secret="
                          "0123456789abcdef0123456789abcdef&scope&redirect_uri=";
    const QString rest = "&code=ABC&state=xyz", profile = "/me?fields=id,email&access_token=";
    const QJsonObject granted{{"access_token", "EAAFdemoActive"}};
    const QJsonObject refused{{"error", QJsonObject{{"type", "OAuthException"}}}};
    QTest::newRow("token: this portal") << token + m_provider.portalUrl() + "/fbredirect.php" + rest << 200 << granted;
    QTest::newRow("token: portal built for another port")
        << token + "https://127.0.0.1:58444/fbredirect.php" + rest << 200 << granted;
    QTest::newRow("token: localhost") << token + "https://localhost:1/fbredirect.php" + rest << 200 << granted;
    QTest::newRow("token: other host") << token + "https://evil.example/fbredirect.php" + rest << 400 << refused;
    QTest::newRow("token: plain http") << token + "http://127.0.0.1:58444/fbredirect.php" + rest << 400 << refused;
    QTest::newRow("token: other page") << token + "https://127.0.0.1:58444/facebook.php" + rest << 400 << refused;
    QTest::newRow("token: no secret")
        << "/v5.0/oauth/access_token?client_id=1&scope&redirect_uri=https://127.0.0.1:58444/fbredirect.php" + rest
        << 400 << refused;
    QTest::newRow("token: no code") << token + "https://127.0.0.1:58444/fbredirect.php&state=xyz" << 400 << refused;
    QTest::newRow("token: wrong code") << token + "https://127.0.0.1:58444/fbredirect.php&code=XYZ" << 400 << refused;
    QTest::newRow("profile") << profile + "EAAFdemoActive" << 200
                             << QJsonObject{{"id", "104729384756101"}, {"email", "active@tovra.test"}};
    QTest::newRow("profile without e-mail")
        << profile + "EAAFdemoNoEmail" << 200 << QJsonObject{{"email", QJsonValue()}};
    QTest::newRow("profile for a bad token") << profile + "bad" << 400 << refused;
}

void TestStandInProvider::facebookGraph()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QJsonObject, answer);

    const Response response = m_provider.call("GET", m_provider.portalUrl() + path);
    QCOMPARE(response.status, status);
    QVERIFY2(covers(object(response), answer), response.body.constData());
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
    QTest::newRow("empty body") << QByteArray(R"({"path":"/users/me/plan","status":200,"body":""})") << QList<int>{200}
                                << QByteArrayList{""} << 20000;
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

void TestStandInProvider::scriptedHangup()
{
    // Qt resends a GET once when the connection closes before an answer, so the script stays.
    QVERIFY(m_provider.script(QJsonObject{{"path", "/users/me/plan"}, {"hangup", true}}));
    QNetworkAccessManager manager;
    const std::unique_ptr<QNetworkReply> reply(
        manager.get(QNetworkRequest(QUrl(m_provider.apiUrl() + QStringLiteral("/users/me/plan")))));
    connect(reply.get(), &QNetworkReply::sslErrors, reply.get(), [&reply] { reply->ignoreSslErrors(); });
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    QVERIFY(finished.wait(20000));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 0);
    QVERIFY(reply->error() != QNetworkReply::NoError);
    QVERIFY(m_provider.requests(QStringLiteral("/users/me/plan")).size() >= 1);
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
    QTest::addColumn<QByteArray>("text"); // in the page, or the whole Location of a redirect
    QTest::addColumn<QSize>("imageSize");

    const QString fbRedirect = m_provider.portalUrl() + "/fbredirect.php";
    const QByteArray none;
    QTest::newRow("sign-up page") << "/register.php" << 200 << none << QSize();
    QTest::newRow("password reset page") << "/pwreset.php" << 200 << none << QSize();
    QTest::newRow("facebook landing page") << "/facebook.php" << 200 << none << QSize();
    QTest::newRow("google landing page") << "/google.php" << 200 << none << QSize();
    QTest::newRow("share page") << "/share.php" << 200 << none << QSize();
    QTest::newRow("dutch faq") << "/nl/faq" << 200 << none << QSize();
    QTest::newRow("unknown page") << "/nothing.php" << 404 << none << QSize();
    QTest::newRow("facebook dialog links back with a code")
        << "/v5.0/dialog/oauth?response_type=code&client_id=123456789012345&redirect_uri=" + fbRedirect +
               "&scope=email&api_key"
        << 200 << QString(fbRedirect + "?code=ABC").toUtf8() << QSize();
    QTest::newRow("facebook redirect forwards to the loopback listener")
        << "/fbredirect.php?code=ABC&state=xyz" << 302 << QByteArray("http://127.0.0.1:56743/?code=ABC&state=xyz")
        << QSize();
    QTest::newRow("google consent links back with a code")
        << "/o/oauth2/v2/auth?scope=profile%20email&state=state_parameter_passthrough_value&redirect_uri=http://"
           "127.0.0.1:56743/&response_type=code&client_id=x.apps.example"
        << 200 << QByteArray("http://127.0.0.1:56743/?state=state_parameter_passthrough_value&amp;code=4%2F0Ab")
        << QSize();
    QTest::newRow("self marker") << "/assets/img/mapbox_marker_self.png" << 200 << none << QSize(20, 28);
    QTest::newRow("server marker 2x") << "/assets/img/mapbox_marker_srv_2x.png" << 200 << none << QSize(40, 56);
    QTest::newRow("unknown image") << "/assets/img/other.png" << 404 << none << QSize();
    QTest::newRow("map") << "/styles/v1/mapbox/streets-v11/static/url-x(1,2),url-y(3,4)/auto/417x194?access_token=t"
                         << 200 << none << QSize(417, 194);
    QTest::newRow("b2b map 2x") << "/styles/v1/mapbox/streets-v11/static/"
                                   "path-2+F38827-1(_p~iF~ps%7CU_ulLnnqC),url-x(1,2)/auto/417x174@2x?access_token=t"
                                << 200 << none << QSize(834, 348);
    QTest::newRow("map without token") << "/styles/v1/mapbox/streets-v11/static/auto/417x194" << 401 << none << QSize();
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
    StandInProvider other;
    QVERIFY2(other.start(), qPrintable(other.errorString()));
    QFile cert(other.statePath() + QStringLiteral("/cert.pem"));
    QVERIFY(cert.open(QIODevice::ReadOnly));
    const QByteArray pem = cert.readAll();
    QVERIFY(pem.startsWith("-----BEGIN CERTIFICATE-----"));
    const QSslCertificate parsed(pem, QSsl::Pem);
    QVERIFY(parsed.subjectAlternativeNames().values(QSsl::IpAddressEntry).contains(QStringLiteral("127.0.0.1")));

    // A second program on the same state folder serves the same certificate.
    QProcess second;
    second.start(QStringLiteral(TOVRA_PROVIDER_EXE),
                 {"--api-port", "0", "--portal-port", "0", "--state", other.statePath()});
    QByteArray output;
    while (!output.contains("LISTENING") && second.waitForReadyRead(20000))
        output += second.readAllStandardOutput();
    QVERIFY2(output.contains("LISTENING"), output.constData());
    second.terminate();
    QVERIFY(second.waitForFinished(15000));
    QCOMPARE(second.exitCode(), 0);
    cert.seek(0);
    QCOMPARE(cert.readAll(), pem);
    QVERIFY(other.stop());
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
