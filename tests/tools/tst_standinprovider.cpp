// Starts the real tovra-provider and talks to it over HTTPS.
#include "support/standinprovider.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSslSocket>
#include <QTcpSocket>
#include <QUrlQuery>
#include <QtTest>

using Headers = QList<QPair<QByteArray, QByteArray>>;

class TestStandInProvider : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void errorAnswers_data();
    void errorAnswers();
    void emailSignIn_data();
    void emailSignIn();
    void accountData_data();
    void accountData();
    void serverList();
    void bestServer_data();
    void bestServer();
    void scriptedAnswers_data();
    void scriptedAnswers();
    void scriptedDelay();
    void scriptedHangup();
    void recordsHeadersInOrder();
    void ticketsAreStoredDecoded_data();
    void ticketsAreStoredDecoded();
    void facebookFlow();
    void facebookTokenRequestChecks_data();
    void facebookTokenRequestChecks();
    void survivesGarbage();
    void googleSignIn_data();
    void googleSignIn();
    void accountLink();
    void portalPages_data();
    void portalPages();
    void certificateIsReused();
    void portInUseFails();

private:
    StandInProvider::Response get(const QString &path, const QByteArray &token = QByteArray());
    StandInProvider::Response post(const QString &path, const QByteArray &body, const QByteArray &token = QByteArray());
    static QJsonObject object(const StandInProvider::Response &response);

    StandInProvider m_provider;
};

StandInProvider::Response TestStandInProvider::get(const QString &path, const QByteArray &token)
{
    Headers headers{{"Connection", "close"}};
    if (!token.isEmpty())
        headers.append({"Authorization", "Bearer: " + token});
    return m_provider.call("GET", m_provider.apiUrl() + path, QByteArray(), headers);
}

StandInProvider::Response TestStandInProvider::post(const QString &path, const QByteArray &body,
                                                    const QByteArray &token)
{
    Headers headers{{"Connection", "close"},
                    {"Content-Type", "application/json"},
                    {"Content-Length", QByteArray::number(body.size())}};
    if (!token.isEmpty())
        headers.append({"Authorization", "Bearer: " + token});
    return m_provider.call("POST", m_provider.apiUrl() + path, body, headers);
}

QJsonObject TestStandInProvider::object(const StandInProvider::Response &response)
{
    return QJsonDocument::fromJson(response.body).object();
}

void TestStandInProvider::initTestCase()
{
    QVERIFY2(m_provider.start(), qPrintable(m_provider.errorString()));
    QVERIFY(m_provider.apiPort() != 0);
    QVERIFY(m_provider.portalPort() != 0);
    QVERIFY(m_provider.apiPort() != m_provider.portalPort());
}

void TestStandInProvider::init()
{
    QVERIFY2(m_provider.reset(), qPrintable(m_provider.errorString()));
}

void TestStandInProvider::cleanupTestCase()
{
    // A clean SIGTERM stop also shows the bad requests above did not kill it.
    QVERIFY(m_provider.isRunning());
    QVERIFY2(m_provider.stop(), m_provider.output().constData());
    QVERIFY(m_provider.output().contains("STOPPED"));
}

void TestStandInProvider::errorAnswers_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("authorization");
    QTest::addColumn<int>("status");

    QTest::newRow("plan without token") << QByteArray("GET") << "/users/me/plan" << QByteArray() << QByteArray() << 401;
    QTest::newRow("plan with unknown token")
        << QByteArray("GET") << "/users/me/plan" << QByteArray() << QByteArray("Bearer: nope") << 401;
    QTest::newRow("bearer without colon")
        << QByteArray("GET") << "/users/me/plan" << QByteArray() << QByteArray("Bearer demo-token-active") << 401;
    QTest::newRow("signed-in ticket without token")
        << QByteArray("POST") << "/users/me/ticket" << QByteArray("{}") << QByteArray() << 401;
    QTest::newRow("unknown api path") << QByteArray("GET") << "/users/me/nothing" << QByteArray()
                                      << QByteArray("Bearer: demo-token-active") << 404;
    QTest::newRow("unknown update platform")
        << QByteArray("GET") << "/config/app/amiga" << QByteArray() << QByteArray() << 404;
    QTest::newRow("sign-in body not JSON")
        << QByteArray("POST") << "/auth/email" << QByteArray("{\"email\": ") << QByteArray() << 400;
    QTest::newRow("sign-in body an array")
        << QByteArray("POST") << "/auth/email" << QByteArray("[1,2]") << QByteArray() << 400;
    QTest::newRow("sign-in body empty") << QByteArray("POST") << "/auth/facebook" << QByteArray() << QByteArray()
                                        << 400;
    QTest::newRow("ticket body not JSON")
        << QByteArray("POST") << "/users/anonymous/ticket" << QByteArray("{\"name\": \"a\"b\"}") << QByteArray() << 400;
    QTest::newRow("ticket log not Base64")
        << QByteArray("POST") << "/users/anonymous/ticket"
        << QByteArray("{\"client_log\": \"**not base64**\", \"collected_data\": \"\"}") << QByteArray() << 400;
    QTest::newRow("sign-in with GET") << QByteArray("GET") << "/auth/email" << QByteArray() << QByteArray() << 405;
    QTest::newRow("best server without flags") << QByteArray("GET") << "/users/me/servers/best?country_code=nl"
                                               << QByteArray() << QByteArray("Bearer: demo-token-active") << 400;
    QTest::newRow("best server flag not a boolean")
        << QByteArray("GET") << "/users/me/servers/best?country_code=nl&is_p2p=1&is_streaming=false" << QByteArray()
        << QByteArray("Bearer: demo-token-active") << 400;
    QTest::newRow("account link to another host")
        << QByteArray("GET") << "/users/me/auto_auth_url?goto=https://evil.example/" << QByteArray()
        << QByteArray("Bearer: demo-token-active") << 400;
}

void TestStandInProvider::errorAnswers()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, authorization);
    QFETCH(int, status);

    Headers headers{{"Content-Type", "application/json"}};
    if (!authorization.isEmpty())
        headers.append({"Authorization", authorization});
    const auto response = m_provider.call(method, m_provider.apiUrl() + path, body, headers);
    QCOMPARE(response.status, status);
    QVERIFY2(!object(response).value(QLatin1String("error")).toString().isEmpty(), response.body.constData());

    // It keeps answering.
    QCOMPARE(get(QStringLiteral("/users/me/plan"), "demo-token-active").status, 200);
}

void TestStandInProvider::emailSignIn_data()
{
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("token");

    QTest::newRow("active account") << "active@tovra.test"
                                    << "Active-2026" << 200 << "demo-token-active";
    QTest::newRow("address in other case") << "Business@Tovra.Test"
                                           << "Business-2026" << 200 << "demo-token-business";
    QTest::newRow("suspended account still gets a token") << "suspended@tovra.test"
                                                          << "Suspended-2026" << 200 << "demo-token-suspended";
    QTest::newRow("wrong password") << "active@tovra.test"
                                    << "active-2026" << 401 << "";
    QTest::newRow("empty password") << "active@tovra.test"
                                    << "" << 401 << "";
    QTest::newRow("unknown address") << "nobody@tovra.test"
                                     << "Active-2026" << 404 << "";
    QTest::newRow("blocked IP") << "blocked@tovra.test"
                                << "Blocked-2026" << 503 << "";
}

void TestStandInProvider::emailSignIn()
{
    QFETCH(QString, email);
    QFETCH(QString, password);
    QFETCH(int, status);
    QFETCH(QString, token);

    const QByteArray body =
        QJsonDocument(QJsonObject{{QStringLiteral("email"), email}, {QStringLiteral("password"), password}}).toJson();
    const auto response = post(QStringLiteral("/auth/email"), body);
    QCOMPARE(response.status, status);
    QCOMPARE(object(response).value(QLatin1String("token")).toString(), token);
    if (!token.isEmpty())
        QCOMPARE(get(QStringLiteral("/users/me"), token.toLatin1()).status, 200);
}

void TestStandInProvider::accountData_data()
{
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");

    QTest::newRow("unlimited plan") << QByteArray("demo-token-active") << "/users/me/plan"
                                    << "is_unlimited" << QVariant(1);
    QTest::newRow("pending trial status") << QByteArray("demo-token-pending") << "/users/me/plan"
                                          << "status" << QVariant("pending");
    QTest::newRow("pending is a trial") << QByteArray("demo-token-pending") << "/users/me/plan"
                                        << "is_trial" << QVariant(1);
    QTest::newRow("suspended status") << QByteArray("demo-token-suspended") << "/users/me/plan"
                                      << "status" << QVariant("suspended");
    QTest::newRow("10 GB plan total") << QByteArray("demo-token-limited") << "/users/me/bandwidth"
                                      << "bytes_total" << QVariant(10737418240.0);
    QTest::newRow("10 GB plan used") << QByteArray("demo-token-limited") << "/users/me/bandwidth"
                                     << "bytes_used" << QVariant(10522669875.0);
    QTest::newRow("10 GB plan not unlimited") << QByteArray("demo-token-limited") << "/users/me/bandwidth"
                                              << "is_unlimited" << QVariant(0);
    QTest::newRow("id is a string") << QByteArray("demo-token-active") << "/users/me"
                                    << "id" << QVariant("100001");
    QTest::newRow("first name") << QByteArray("demo-token-quotes") << "/users/me"
                                << "first_name" << QVariant("Jo \"JJ\" \\ O'Neil");
    QTest::newRow("business flag") << QByteArray("demo-token-business") << "/users/me"
                                   << "is_b2b" << QVariant(1);
    QTest::newRow("ip address") << QByteArray("demo-token-trial") << "/users/me/ip"
                                << "ip" << QVariant("203.0.113.10");
}

void TestStandInProvider::accountData()
{
    QFETCH(QByteArray, token);
    QFETCH(QString, path);
    QFETCH(QString, key);
    QFETCH(QVariant, value);

    const auto response = get(path, token);
    QCOMPARE(response.status, 200);
    QCOMPARE(object(response).value(key).toVariant(),
             value.userType() == QMetaType::Int ? QVariant(value.toLongLong()) : value);
}

void TestStandInProvider::serverList()
{
    const auto regular = get(QStringLiteral("/users/me/servers?is_debug=false"), "demo-token-active");
    QCOMPARE(regular.status, 200);
    const QJsonArray servers = QJsonDocument::fromJson(regular.body).array();
    QVERIFY(servers.size() >= 60);

    static const QStringList keys = {"city",           "country_code", "country_name",   "short_name", "ip",
                                     "is_p2p",         "is_streaming", "is_alive",       "is_b2b",     "is_nearest",
                                     "is_nearest_b2b", "location",     "load_percentage"};
    QSet<QString> countries;
    int nearest = 0, fullLoad = 0, dead = 0, p2p = 0, streaming = 0, digits = 0;
    for (const QJsonValue &value : servers) {
        const QJsonObject server = value.toObject();
        for (const QString &key : keys)
            QVERIFY2(server.contains(key), qPrintable(key));
        QCOMPARE(server.value(QLatin1String("is_b2b")).toInt(), 0);
        QCOMPARE(
            server.value(QLatin1String("location")).toObject().value(QLatin1String("coordinates")).toArray().size(), 2);
        countries.insert(server.value(QLatin1String("country_code")).toString());
        nearest += server.value(QLatin1String("is_nearest")).toInt();
        fullLoad += server.value(QLatin1String("load_percentage")).toInt() >= 100;
        dead += server.value(QLatin1String("is_alive")).toInt() == 0;
        p2p += server.value(QLatin1String("is_p2p")).toInt();
        streaming += server.value(QLatin1String("is_streaming")).toInt();
        digits += server.value(QLatin1String("country_name"))
                      .toString()
                      .contains(QRegularExpression(QStringLiteral("[0-9]")));
    }
    QVERIFY(countries.size() >= 20);
    QCOMPARE(nearest, 1);
    QVERIFY(fullLoad > 0);
    QVERIFY(dead > 0);
    QVERIFY(p2p > 0);
    QVERIFY(streaming > 0);
    QVERIFY(digits > 0);

    // Business accounts also get the B2B servers.
    const QJsonArray business =
        QJsonDocument::fromJson(get(QStringLiteral("/users/me/servers"), "demo-token-business").body).array();
    int b2b = 0, nearestB2b = 0;
    for (const QJsonValue &value : business) {
        b2b += value.toObject().value(QLatin1String("is_b2b")).toInt();
        nearestB2b += value.toObject().value(QLatin1String("is_nearest_b2b")).toInt();
    }
    QVERIFY(b2b > 0);
    QVERIFY(nearestB2b > 0);
    QCOMPARE(business.size(), servers.size() + b2b);
}

void TestStandInProvider::bestServer_data()
{
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("shortName");
    QTest::addColumn<int>("load");

    const QByteArray user = "demo-token-active";
    QTest::newRow("nl regular: least loaded")
        << user << "country_code=nl&is_p2p=false&is_streaming=false" << 200 << "nl-ams-01" << 12;
    QTest::newRow("nl p2p") << user << "country_code=nl&is_p2p=true&is_streaming=false" << 200 << "nl-ams-02" << 71;
    QTest::newRow("nl streaming, code in upper case")
        << user << "country_code=NL&is_p2p=false&is_streaming=true" << 200 << "nl-rot-01" << 47;
    QTest::newRow("de streaming skips the full server")
        << user << "country_code=de&is_p2p=false&is_streaming=true" << 200 << "de-mun-01" << 33;
    QTest::newRow("fr regular skips the dead server")
        << user << "country_code=fr&is_p2p=false&is_streaming=false" << 200 << "fr-par-01" << 15;
    QTest::newRow("business account gets a B2B server")
        << QByteArray("demo-token-business") << "country_code=nl&is_p2p=false&is_streaming=false" << 200 << "b2b-nl-01"
        << 9;
    QTest::newRow("unknown country") << user << "country_code=zz&is_p2p=false&is_streaming=false" << 404 << "" << 0;
    QTest::newRow("no such category") << user << "country_code=ro&is_p2p=true&is_streaming=true" << 404 << "" << 0;
}

void TestStandInProvider::bestServer()
{
    QFETCH(QByteArray, token);
    QFETCH(QString, query);
    QFETCH(int, status);
    QFETCH(QString, shortName);
    QFETCH(int, load);

    const auto response = get(QStringLiteral("/users/me/servers/best?") + query, token);
    QCOMPARE(response.status, status);
    const QJsonObject best = object(response);
    QCOMPARE(best.value(QLatin1String("short_name")).toString(), shortName);
    if (status == 200) {
        // The code as the server list spells it, whatever the query's case.
        QCOMPARE(best.value(QLatin1String("country_code")).toString(), query.mid(13, 2).toUpper());
        QVERIFY(!best.value(QLatin1String("ip")).toString().isEmpty());
        QCOMPARE(best.value(QLatin1String("location")).toObject().value(QLatin1String("coordinates")).toArray().size(),
                 2);
        QCOMPARE(best.value(QLatin1String("load_percentage")).toInt(), load);
    }
}

void TestStandInProvider::scriptedAnswers_data()
{
    QTest::addColumn<QJsonObject>("script");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QList<int>>("statuses");
    QTest::addColumn<QByteArray>("firstBody");

    const QJsonObject plan502{{"path", "/users/me/plan"}, {"status", 502}, {"body", "bad gateway"}};
    QTest::newRow("status and raw body") << plan502 << QByteArray("GET") << QList<int>{502, 502}
                                         << QByteArray("bad gateway");
    QJsonObject once = plan502;
    once.insert("times", 1);
    QTest::newRow("used once, then normal")
        << once << QByteArray("GET") << QList<int>{502, 200} << QByteArray("bad gateway");
    QJsonObject postOnly = plan502;
    postOnly.insert("method", "post");
    QTest::newRow("other method not affected") << postOnly << QByteArray("GET") << QList<int>{200} << QByteArray();
    QJsonObject portalOnly = plan502;
    portalOnly.insert("origin", "portal");
    QTest::newRow("other origin not affected") << portalOnly << QByteArray("GET") << QList<int>{200} << QByteArray();
    const QJsonObject jsonBody{
        {"path", "/users/me/plan"}, {"status", 200}, {"body", QJsonObject{{"status", "ACTIVE"}}}};
    QTest::newRow("object body sent as JSON")
        << jsonBody << QByteArray("GET") << QList<int>{200} << QByteArray("{\"status\":\"ACTIVE\"}");
    const QJsonObject emptyBody{{"path", "/users/me/plan"}, {"status", 200}, {"body", ""}};
    QTest::newRow("empty body") << emptyBody << QByteArray("GET") << QList<int>{200} << QByteArray("");
    const QJsonObject unknownPath{{"path", "/not/a/real/endpoint"}, {"status", 200}, {"body", "[]"}};
    QTest::newRow("unknown path made to answer")
        << unknownPath << QByteArray("GET") << QList<int>{200} << QByteArray("[]");
}

void TestStandInProvider::scriptedAnswers()
{
    QFETCH(QJsonObject, script);
    QFETCH(QByteArray, method);
    QFETCH(QList<int>, statuses);
    QFETCH(QByteArray, firstBody);

    QVERIFY2(m_provider.script(script), qPrintable(m_provider.errorString()));
    const QString path = script.value(QLatin1String("path")).toString();
    for (int i = 0; i < statuses.size(); ++i) {
        const auto response = m_provider.call(method, m_provider.apiUrl() + path, QByteArray(),
                                              {{"Authorization", "Bearer: demo-token-active"}});
        QCOMPARE(response.status, statuses.at(i));
        if (i == 0 && !firstBody.isNull())
            QCOMPARE(response.body, firstBody);
    }
    QVERIFY(m_provider.reset());
    QCOMPARE(get(path, "demo-token-active").status, path == QLatin1String("/users/me/plan") ? 200 : 404);
}

void TestStandInProvider::scriptedDelay()
{
    QVERIFY(m_provider.script(QStringLiteral("/users/me/ip"), 200, "{\"ip\":\"198.51.100.7\"}", 3000,
                              QStringLiteral("GET")));
    const Headers auth{{"Authorization", "Bearer: demo-token-active"}};
    // Given up on long before the scripted delay ends: no answer yet.
    const auto early =
        m_provider.call("GET", m_provider.apiUrl() + QStringLiteral("/users/me/ip"), QByteArray(), auth, 500);
    QCOMPARE(early.status, 0);
    // Waited for, the scripted answer arrives.
    const auto late =
        m_provider.call("GET", m_provider.apiUrl() + QStringLiteral("/users/me/ip"), QByteArray(), auth, 30000);
    QCOMPARE(late.status, 200);
    QCOMPARE(late.body, QByteArray("{\"ip\":\"198.51.100.7\"}"));

    // Status 0 only delays; the normal answer follows.
    QVERIFY(m_provider.script(QJsonObject{{"path", "/users/me/plan"}, {"delayMs", 3000}}));
    QCOMPARE(
        m_provider.call("GET", m_provider.apiUrl() + QStringLiteral("/users/me/plan"), QByteArray(), auth, 500).status,
        0);
    const auto normal =
        m_provider.call("GET", m_provider.apiUrl() + QStringLiteral("/users/me/plan"), QByteArray(), auth, 30000);
    QCOMPARE(normal.status, 200);
    QCOMPARE(object(normal).value(QLatin1String("status")).toString(), QStringLiteral("active"));
}

void TestStandInProvider::scriptedHangup()
{
    // Qt resends a GET once when the connection closes before an answer, so the script stays.
    QVERIFY(m_provider.script(QJsonObject{{"path", "/users/me/plan"}, {"hangup", true}}));
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(m_provider.apiUrl() + QStringLiteral("/users/me/plan")));
    request.setRawHeader("Authorization", "Bearer: demo-token-active");
    QNetworkReply *reply = manager.get(request);
    connect(reply, &QNetworkReply::sslErrors, reply, [reply] { reply->ignoreSslErrors(); });
    QSignalSpy finished(reply, &QNetworkReply::finished);
    QVERIFY(finished.wait(20000));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 0);
    QVERIFY(reply->error() != QNetworkReply::NoError);
    delete reply;
    QVERIFY(m_provider.requests(QStringLiteral("/users/me/plan")).size() >= 1);
    QVERIFY(m_provider.reset());
    QCOMPARE(get(QStringLiteral("/users/me/plan"), "demo-token-active").status, 200);
}

void TestStandInProvider::recordsHeadersInOrder()
{
    const QByteArray body = "{\n    \"email\": \"a@b.c\",\n    \"password\": \"pw\"\n}\n";
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(m_provider.apiUrl() + QStringLiteral("/auth/email?x=1")));
    request.setRawHeader("Connection", "close");
    request.setRawHeader("Content-Type", "application/json");
    request.setRawHeader("X-Second", "y");
    request.setRawHeader("X-Last", "z");
    QNetworkReply *reply = manager.post(request, body);
    connect(reply, &QNetworkReply::sslErrors, reply, [reply] { reply->ignoreSslErrors(); });
    QSignalSpy finished(reply, &QNetworkReply::finished);
    QVERIFY(finished.wait(20000));
    delete reply;
    QCOMPARE(get(QStringLiteral("/users/me"), "demo-token-active").status, 200);

    const QJsonArray recorded = m_provider.requests();
    QCOMPARE(recorded.size(), 2);
    const QJsonObject first = recorded.at(0).toObject();
    QCOMPARE(first.value(QLatin1String("method")).toString(), QStringLiteral("POST"));
    QCOMPARE(first.value(QLatin1String("path")).toString(), QStringLiteral("/auth/email"));
    QCOMPARE(first.value(QLatin1String("query")).toString(), QStringLiteral("x=1"));
    QCOMPARE(first.value(QLatin1String("origin")).toString(), QStringLiteral("api"));
    QCOMPARE(first.value(QLatin1String("body")).toString().toUtf8(), body);
    QCOMPARE(QByteArray::fromBase64(first.value(QLatin1String("bodyBase64")).toString().toLatin1()), body);

    // Our headers appear with their values and in the order they were set.
    QStringList names;
    QHash<QString, QString> values;
    for (const QJsonValue &header : first.value(QLatin1String("headers")).toArray()) {
        names << header.toArray().at(0).toString();
        values.insert(names.last(), header.toArray().at(1).toString());
    }
    const QStringList ours = {"Connection", "Content-Type", "X-Second", "X-Last"};
    int last = -1;
    for (const QString &name : ours) {
        const int at = names.indexOf(name);
        QVERIFY2(at > last, qPrintable(names.join(QLatin1Char(','))));
        last = at;
    }
    QCOMPARE(values.value(QStringLiteral("Content-Length")), QString::number(body.size()));
    QCOMPARE(values.value(QStringLiteral("X-Last")), QStringLiteral("z"));

    QCOMPARE(m_provider.requests(QStringLiteral("/users/me")).size(), 1);
    const QJsonArray second =
        m_provider.requests(QStringLiteral("/users/me")).at(0).toObject().value(QLatin1String("headers")).toArray();
    QVERIFY(second.contains(QJsonArray{"Authorization", "Bearer: demo-token-active"}));
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
    const auto response = post(path, QJsonDocument(ticket).toJson(QJsonDocument::Compact), token);
    QCOMPARE(response.status, 200);
    const QString url = object(response).value(QLatin1String("url")).toString();
    QVERIFY2(url.startsWith(m_provider.portalUrl() + QStringLiteral("/viewticket.php?tid=")), qPrintable(url));

    const QJsonArray tickets = m_provider.tickets();
    QCOMPARE(tickets.size(), 1);
    const QJsonObject stored = tickets.at(0).toObject();
    QCOMPARE(stored.value(QLatin1String("name")).toString(), name);
    QCOMPARE(stored.value(QLatin1String("signedIn")).toBool(), !token.isEmpty());
    QCOMPARE(stored.value(QLatin1String("account")).toString(),
             token.isEmpty() ? QString() : QStringLiteral("quotes@tovra.test"));
    QCOMPARE(stored.value(QLatin1String("clientLog")).toString().toUtf8(), log);
    QCOMPARE(stored.value(QLatin1String("collectedData")).toString().toUtf8(), data);
    QCOMPARE(stored.value(QLatin1String("url")).toString(), url);

    const QDir dir(m_provider.statePath() + QStringLiteral("/tickets/") +
                   QString::number(stored.value(QLatin1String("id")).toInt()));
    QFile logFile(dir.filePath(QStringLiteral("client_log")));
    QVERIFY(logFile.open(QIODevice::ReadOnly));
    QCOMPARE(logFile.readAll(), log);
    QFile dataFile(dir.filePath(QStringLiteral("collected_data")));
    QVERIFY(dataFile.open(QIODevice::ReadOnly));
    QCOMPARE(dataFile.readAll(), data);

    // The ticket page opens with the check code and not without it.
    const QString page = url.mid(m_provider.portalUrl().size());
    QCOMPARE(m_provider.call("GET", m_provider.portalUrl() + page).status, 200);
    QCOMPARE(m_provider.call("GET", m_provider.portalUrl() + page.left(page.indexOf(QLatin1String("&c=")))).status,
             404);
}

void TestStandInProvider::facebookFlow()
{
    const QString redirect = m_provider.portalUrl() + QStringLiteral("/fbredirect.php");
    const auto dialog = m_provider.call(
        "GET", m_provider.portalUrl() +
                   QStringLiteral("/v5.0/dialog/oauth?response_type=code&client_id=123456789012345&redirect_uri=") +
                   redirect + QStringLiteral("&scope=email&api_key"));
    QCOMPARE(dialog.status, 200);
    QVERIFY(dialog.body.contains(QString(redirect + QStringLiteral("?code=ABC")).toUtf8()));

    const auto forwarded = m_provider.call("GET", redirect + QStringLiteral("?code=ABC&state=xyz"));
    QCOMPARE(forwarded.status, 302);
    QByteArray location;
    for (const auto &header : forwarded.headers) {
        if (header.first.compare("Location", Qt::CaseInsensitive) == 0)
            location = header.second;
    }
    QCOMPARE(location, QByteArray("http://127.0.0.1:56743/?code=ABC&state=xyz"));

    const QString tokenUrl = m_provider.portalUrl() +
                             QStringLiteral("/v5.0/oauth/"
                                            "access_token?client_id=123456789012345&client_secret="
                                            "0123456789abcdef0123456789abcdef&scope&redirect_uri=") +
                             redirect + QStringLiteral("&code=ABC&state=xyz");
    const auto token = m_provider.call("GET", tokenUrl);
    QCOMPARE(token.status, 200);
    const QString accessToken = object(token).value(QLatin1String("access_token")).toString();
    QCOMPARE(accessToken, QStringLiteral("EAAFdemoActive"));
    QCOMPARE(
        m_provider.call("GET", QString(tokenUrl).replace(QLatin1String("code=ABC"), QLatin1String("code=XYZ"))).status,
        400);

    const auto profile = m_provider.call("GET", m_provider.portalUrl() +
                                                    QStringLiteral("/me?fields=id,email&access_token=") + accessToken);
    QCOMPARE(profile.status, 200);
    QCOMPARE(object(profile).value(QLatin1String("id")).toString(), QStringLiteral("104729384756101"));
    QCOMPARE(object(profile).value(QLatin1String("email")).toString(), QStringLiteral("active@tovra.test"));
    const auto noEmail = m_provider.call("GET", m_provider.portalUrl() +
                                                    QStringLiteral("/me?fields=id,email&access_token=EAAFdemoNoEmail"));
    QCOMPARE(noEmail.status, 200);
    QVERIFY(!object(noEmail).contains(QLatin1String("email")));
    QCOMPARE(
        m_provider.call("GET", m_provider.portalUrl() + QStringLiteral("/me?fields=id,email&access_token=bad")).status,
        400);

    const auto signIn =
        post(QStringLiteral("/auth/facebook"), "{\n    \"secure_token\": \"" + accessToken.toLatin1() + "\"\n}\n");
    QCOMPARE(signIn.status, 200);
    QCOMPARE(object(signIn).value(QLatin1String("token")).toString(), QStringLiteral("demo-token-active"));
    QCOMPARE(post(QStringLiteral("/auth/facebook"), "{\"secure_token\": \"EAAFdemoUnlinked\"}").status, 404);
    QCOMPARE(post(QStringLiteral("/auth/facebook"), "{\"secure_token\": \"forged\"}").status, 401);
}

void TestStandInProvider::facebookTokenRequestChecks_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("status");

    const QString rest = QStringLiteral("&code=ABC&state=xyz");
    const QString ids =
        QStringLiteral("client_id=123456789012345&client_secret=0123456789abcdef0123456789abcdef&scope&redirect_uri=");
    QTest::newRow("portal built for another port") << ids + "https://127.0.0.1:58444/fbredirect.php" + rest << 200;
    QTest::newRow("localhost") << ids + "https://localhost:1/fbredirect.php" + rest << 200;
    QTest::newRow("other host") << ids + "https://evil.example/fbredirect.php" + rest << 400;
    QTest::newRow("plain http") << ids + "http://127.0.0.1:58444/fbredirect.php" + rest << 400;
    QTest::newRow("other page") << ids + "https://127.0.0.1:58444/facebook.php" + rest << 400;
    QTest::newRow("no secret") << "client_id=1&scope&redirect_uri=https://127.0.0.1:58444/fbredirect.php" + rest << 400;
    QTest::newRow("no code") << ids + "https://127.0.0.1:58444/fbredirect.php&state=xyz" << 400;
}

void TestStandInProvider::facebookTokenRequestChecks()
{
    QFETCH(QString, query);
    QFETCH(int, status);

    const auto response =
        m_provider.call("GET", m_provider.portalUrl() + QStringLiteral("/v5.0/oauth/access_token?") + query);
    QCOMPARE(response.status, status);
    const QJsonObject reply = object(response);
    if (status == 200) {
        QCOMPARE(reply.value(QLatin1String("access_token")).toString(), QStringLiteral("EAAFdemoActive"));
    } else {
        QCOMPARE(reply.value(QLatin1String("error")).toObject().value(QLatin1String("type")).toString(),
                 QStringLiteral("OAuthException"));
    }
}

void TestStandInProvider::survivesGarbage()
{
    // Not HTTP inside TLS.
    QSslSocket tls;
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    tls.connectToHostEncrypted(QStringLiteral("127.0.0.1"), m_provider.apiPort());
    QVERIFY(tls.waitForEncrypted(10000));
    tls.write("\x01\x02 NOT HTTP\r\n\r\n");
    QVERIFY(tls.waitForBytesWritten(10000));
    QByteArray answer;
    while (tls.waitForReadyRead(10000))
        answer += tls.readAll();
    QVERIFY2(answer.startsWith("HTTP/1.1 400"), answer.constData());

    // Plain HTTP on the TLS port, then a client that hangs up mid-handshake.
    QTcpSocket plain;
    plain.connectToHost(QStringLiteral("127.0.0.1"), m_provider.apiPort());
    QVERIFY(plain.waitForConnected(10000));
    plain.write("GET /users/me HTTP/1.1\r\nHost: x\r\n\r\n");
    plain.waitForDisconnected(10000);
    QTcpSocket quitter;
    quitter.connectToHost(QStringLiteral("127.0.0.1"), m_provider.apiPort());
    QVERIFY(quitter.waitForConnected(10000));
    quitter.write(QByteArray("\x16\x03\x01\x02\x00\x01", 6));
    quitter.waitForBytesWritten(10000);
    quitter.abort();

    QCOMPARE(get(QStringLiteral("/users/me"), "demo-token-active").status, 200);
}

void TestStandInProvider::googleSignIn_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("redirectUri");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("token");

    QTest::newRow("decoded code") << "4/0Ab"
                                  << "http://127.0.0.1:56743/" << 200 << "demo-token-active";
    QTest::newRow("business code") << "4/0Business"
                                   << "http://127.0.0.1:56743/" << 200 << "demo-token-business";
    QTest::newRow("still percent-encoded") << "4%2F0Ab"
                                           << "http://127.0.0.1:56743/" << 401 << "";
    QTest::newRow("other redirect") << "4/0Ab"
                                    << "http://127.0.0.1:56743" << 401 << "";
    QTest::newRow("no linked account") << "4/0Unlinked"
                                       << "http://127.0.0.1:56743/" << 404 << "";
}

void TestStandInProvider::googleSignIn()
{
    QFETCH(QString, code);
    QFETCH(QString, redirectUri);
    QFETCH(int, status);
    QFETCH(QString, token);

    const auto consent = m_provider.call(
        "GET",
        m_provider.portalUrl() +
            QStringLiteral(
                "/o/oauth2/v2/auth?scope=profile%20email&state=state_parameter_passthrough_value&redirect_uri=http://"
                "127.0.0.1:56743/&response_type=code&client_id=x.apps.example"));
    QCOMPARE(consent.status, 200);
    QVERIFY(consent.body.contains("http://127.0.0.1:56743/?state=state_parameter_passthrough_value&amp;code=4%2F0Ab"));

    const QByteArray body = QJsonDocument(QJsonObject{{"code", code}, {"redirect_uri", redirectUri}}).toJson();
    const auto response = post(QStringLiteral("/auth/google"), body);
    QCOMPARE(response.status, status);
    QCOMPARE(object(response).value(QLatin1String("token")).toString(), token);
}

void TestStandInProvider::accountLink()
{
    const auto link = get(QStringLiteral("/users/me/auto_auth_url?goto=clientarea.php%23upgrade-to-unlim-annual"),
                          "demo-token-limited");
    QCOMPARE(link.status, 200);
    const QString url = object(link).value(QLatin1String("url")).toString();
    QVERIFY2(url.startsWith(m_provider.portalUrl() + QStringLiteral("/autoauth.php?key=")), qPrintable(url));

    const auto first = m_provider.call("GET", url);
    QCOMPARE(first.status, 302);
    QByteArray location;
    for (const auto &header : first.headers) {
        if (header.first.compare("Location", Qt::CaseInsensitive) == 0)
            location = header.second;
    }
    QCOMPARE(location, (m_provider.portalUrl() + QStringLiteral("/clientarea.php#upgrade-to-unlim-annual")).toUtf8());
    // A link works once.
    QCOMPARE(m_provider.call("GET", url).status, 403);

    const auto plain = get(QStringLiteral("/users/me/auto_auth_url"), "demo-token-limited");
    const auto opened = m_provider.call("GET", object(plain).value(QLatin1String("url")).toString());
    QCOMPARE(opened.status, 302);
}

void TestStandInProvider::portalPages_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QSize>("imageSize");

    QTest::newRow("sign-up page") << "/register.php" << 200 << QSize();
    QTest::newRow("password reset page") << "/pwreset.php" << 200 << QSize();
    QTest::newRow("facebook landing page") << "/facebook.php" << 200 << QSize();
    QTest::newRow("google landing page") << "/google.php" << 200 << QSize();
    QTest::newRow("share page") << "/share.php" << 200 << QSize();
    QTest::newRow("dutch faq") << "/nl/faq" << 200 << QSize();
    QTest::newRow("unknown page") << "/nothing.php" << 404 << QSize();
    QTest::newRow("self marker") << "/assets/img/mapbox_marker_self.png" << 200 << QSize(20, 28);
    QTest::newRow("server marker 2x") << "/assets/img/mapbox_marker_srv_2x.png" << 200 << QSize(40, 56);
    QTest::newRow("unknown image") << "/assets/img/other.png" << 404 << QSize();
    QTest::newRow("map") << "/styles/v1/mapbox/streets-v11/static/url-x(1,2),url-y(3,4)/auto/417x194?access_token=t"
                         << 200 << QSize(417, 194);
    QTest::newRow("b2b map 2x") << "/styles/v1/mapbox/streets-v11/static/"
                                   "path-2+F38827-1(_p~iF~ps%7CU_ulLnnqC),url-x(1,2)/auto/417x174@2x?access_token=t"
                                << 200 << QSize(834, 348);
    QTest::newRow("map without token") << "/styles/v1/mapbox/streets-v11/static/auto/417x194" << 401 << QSize();
}

void TestStandInProvider::portalPages()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QSize, imageSize);

    const auto response = m_provider.call("GET", m_provider.portalUrl() + path);
    QCOMPARE(response.status, status);
    if (imageSize.isValid()) {
        const QImage image = QImage::fromData(response.body, "PNG");
        QCOMPARE(image.size(), imageSize);
    }
    QCOMPARE(m_provider.requests(QUrl(m_provider.portalUrl() + path).path())
                 .at(0)
                 .toObject()
                 .value(QLatin1String("origin"))
                 .toString(),
             QStringLiteral("portal"));
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
    QVERIFY(!parsed.isNull());
    QVERIFY(parsed.subjectAlternativeNames().values(QSsl::IpAddressEntry).contains(QStringLiteral("127.0.0.1")));

    // A second program on the same state folder serves the same certificate.
    QProcess second;
    second.start(QStringLiteral(TOVRA_PROVIDER_EXE),
                 {"--api-port", "0", "--portal-port", "0", "--state", other.statePath()});
    QVERIFY(second.waitForStarted());
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
