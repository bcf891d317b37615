#include "provider.h"

#include "images.h"
#include "tlsserver.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUrl>

#include <httplib.h>

#include <sys/socket.h>

#include <chrono>
#include <cstdio>

namespace provider {

namespace {

constexpr int kRedirectListenerPort = 56743;
constexpr int kMaxRecordedRequests = 10000;

QByteArray toJson(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray toJson(const QJsonArray &array)
{
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

Reply jsonReply(int status, const QJsonObject &object)
{
    Reply reply;
    reply.status = status;
    reply.body = toJson(object);
    return reply;
}

Reply errorReply(int status, const QString &message)
{
    return jsonReply(status, QJsonObject{{QStringLiteral("error"), message}});
}

Reply redirect(const QString &location)
{
    Reply reply;
    reply.status = 302;
    reply.contentType = "text/html; charset=utf-8";
    reply.headers.emplace_back("Location", location.toStdString());
    reply.body = QByteArrayLiteral("<html><body>Redirecting...</body></html>");
    return reply;
}

// Where Google sends the browser back to: the client's loopback listener.
QString googleRedirect()
{
    return QStringLiteral("http://127.0.0.1:%1/").arg(kRedirectListenerPort);
}

// A Graph API style error.
Reply graphError(const QString &message, int code)
{
    return jsonReply(400,
                     {{QStringLiteral("error"), QJsonObject{{QStringLiteral("message"), message},
                                                            {QStringLiteral("type"), QStringLiteral("OAuthException")},
                                                            {QStringLiteral("code"), code}}}});
}

QString html(const QString &text)
{
    return text.toHtmlEscaped();
}

Reply htmlPage(const QString &title, const QString &bodyHtml, int status = 200)
{
    Reply reply;
    reply.status = status;
    reply.contentType = "text/html; charset=utf-8";
    reply.body =
        QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1 - TOVRA VPN</title></head>"
                       "<body><h1>%1</h1>%2</body></html>\n")
            .arg(html(title), bodyHtml)
            .toUtf8();
    return reply;
}

Reply notFoundPage()
{
    return htmlPage(QStringLiteral("Page not found"), QStringLiteral("<p>There is no page here.</p>"), 404);
}

// Parses a request body that must be a JSON object.
bool parseObject(const std::string &body, QJsonObject *object, Reply *failure)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(body), &error);
    if (error.error != QJsonParseError::NoError) {
        *failure = errorReply(400, QStringLiteral("malformed JSON body: %1").arg(error.errorString()));
        return false;
    }
    if (!doc.isObject()) {
        *failure = errorReply(400, QStringLiteral("the body must be a JSON object"));
        return false;
    }
    *object = doc.object();
    return true;
}

// Header lines as the client sent them, in order, from the raw request head.
QJsonArray orderedHeaders(const httplib::Request &req)
{
    QJsonArray headers;
    const std::string &raw = TlsServer::currentRawRequest();
    const size_t end = raw.find("\r\n\r\n");
    if (end != std::string::npos) {
        size_t pos = raw.find("\r\n");
        while (pos < end) {
            const size_t next = raw.find("\r\n", pos + 2);
            const std::string line = raw.substr(pos + 2, next - pos - 2);
            const size_t colon = line.find(':');
            if (colon != std::string::npos) {
                const QString name = QString::fromLatin1(line.substr(0, colon).c_str());
                const QString value = QString::fromLatin1(line.substr(colon + 1).c_str()).trimmed();
                headers.append(QJsonArray{name, value});
            }
            pos = next;
        }
        return headers;
    }
    for (const auto &header : req.headers)
        headers.append(QJsonArray{QString::fromStdString(header.first), QString::fromStdString(header.second)});
    return headers;
}

QString randomHex(int bytes)
{
    QByteArray data(bytes, Qt::Uninitialized);
    for (char &c : data)
        c = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return QString::fromLatin1(data.toHex());
}

bool flagParam(const QString &value, bool *flag)
{
    if (value == QLatin1String("true") || value == QLatin1String("false")) {
        *flag = value == QLatin1String("true");
        return true;
    }
    return false;
}

// A portal page name the auto-login link may send the browser to: a relative
// page with an optional query and fragment, never another host.
bool isPortalPage(const QString &target)
{
    const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_-]+(\\.php)?([?#][^\\s\\\\]*)?$"));
    return pattern.match(target).hasMatch();
}

// The registered Facebook redirect: the portal's fbredirect.php on this machine
// (any port, so clients built for other ports work with a test instance).
bool isFacebookRedirect(const QString &uri)
{
    const QUrl url(uri, QUrl::StrictMode);
    return url.isValid() && url.scheme() == QLatin1String("https") &&
           (url.host() == QLatin1String("127.0.0.1") || url.host() == QLatin1String("localhost")) &&
           url.path() == QLatin1String("/fbredirect.php") && !url.hasQuery() && !url.hasFragment();
}

} // namespace

QString Call::param(const char *name) const
{
    const auto it = params.find(name);
    return it == params.end() ? QString() : QString::fromStdString(it->second);
}

bool Call::hasParam(const char *name) const
{
    return params.find(name) != params.end();
}

bool Provider::load(const QString &dataFile, const QString &stateDir, QString *error)
{
    QFile file(dataFile);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(dataFile, file.errorString());
        return false;
    }
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!doc.isObject()) {
        *error = QStringLiteral("%1 is not a JSON object: %2").arg(dataFile, parseError.errorString());
        return false;
    }
    m_data = doc.object();
    for (const QJsonValue &value : m_data.value(QLatin1String("accounts")).toArray()) {
        const QJsonObject json = value.toObject();
        Account account{json, json.value(QLatin1String("email")).toString(),
                        json.value(QLatin1String("password")).toString(),
                        json.value(QLatin1String("token")).toString()};
        if (account.email.isEmpty() || account.token.isEmpty()) {
            *error = QStringLiteral("%1: every account needs an email and a token").arg(dataFile);
            return false;
        }
        m_accounts.push_back(account);
    }
    m_stateDir = stateDir;
    if (!QDir().mkpath(QDir(stateDir).filePath(QStringLiteral("tickets")))) {
        *error = QStringLiteral("cannot create %1").arg(QDir(stateDir).filePath(QStringLiteral("tickets")));
        return false;
    }
    // Ticket numbers go on from the ones already stored.
    const QStringList stored =
        QDir(QDir(stateDir).filePath(QStringLiteral("tickets"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : stored)
        m_nextTicket = std::max(m_nextTicket, name.toInt() + 1);

    // The land of the maps, converted at build time beside the demo data; without it the maps show only sea.
    QFile coastlines(QFileInfo(dataFile).dir().filePath(QStringLiteral("coastlines.bin")));
    m_coastlines = coastlines.open(QIODevice::ReadOnly) ? readCoastlines(&coastlines) : Coastlines();
    if (m_coastlines.isEmpty())
        fprintf(stderr, "tovra-provider: no coastlines in %s: maps are drawn without land\n",
                qPrintable(coastlines.fileName()));
    m_images.insert(QStringLiteral("mapbox_marker_self.png"), markerPng(true, 1));
    m_images.insert(QStringLiteral("mapbox_marker_self_2x.png"), markerPng(true, 2));
    m_images.insert(QStringLiteral("mapbox_marker_srv.png"), markerPng(false, 1));
    m_images.insert(QStringLiteral("mapbox_marker_srv_2x.png"), markerPng(false, 2));
    return true;
}

void Provider::setOrigins(const QString &apiBase, const QString &portalBase)
{
    m_apiBase = apiBase;
    m_portalBase = portalBase;
}

void Provider::stop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
    m_wake.notify_all();
}

bool Provider::wait(int delayMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_wake.wait_for(lock, std::chrono::milliseconds(delayMs), [this] { return m_stopping; });
}

QString Provider::expand(QString text) const
{
    return text.replace(QLatin1String("{api}"), m_apiBase).replace(QLatin1String("{portal}"), m_portalBase);
}

void Provider::handle(Origin origin, const httplib::Request &req, httplib::Response &res)
{
    Call call;
    call.origin = origin;
    call.method = QString::fromStdString(req.method);
    call.path = QString::fromStdString(req.path);
    const size_t question = req.target.find('?');
    call.rawQuery = question == std::string::npos ? QString() : QString::fromStdString(req.target.substr(question + 1));
    for (const auto &param : req.params)
        call.params.emplace(param.first, param.second);
    call.request = &req;

    Reply reply;
    if (call.path.startsWith(QLatin1String("/_test/"))) {
        reply = testEndpoint(call);
    } else {
        recordRequest(call);
        if (!scriptedReply(call, &reply)) {
            // A scripted hang-up: no answer at all, the peer sees the connection closed.
            if (TlsServer::currentSocket() >= 0)
                ::shutdown(TlsServer::currentSocket(), SHUT_RDWR);
            res.status = 500;
            return;
        }
    }
    res.status = reply.status;
    for (const auto &header : reply.headers)
        res.set_header(header.first.c_str(), header.second);
    res.set_content(reply.body.toStdString(), reply.contentType.c_str());
}

// The reply of the newest matching script, or the normal one; false when the script hangs up.
bool Provider::scriptedReply(const Call &call, Reply *reply)
{
    Script script;
    if (!takeScript(call, &script)) {
        *reply = dispatch(call);
        return true;
    }
    if (script.delayMs > 0 && !wait(script.delayMs)) {
        *reply = errorReply(503, QStringLiteral("shutting down"));
        return true;
    }
    if (script.hangup)
        return false;
    if (script.status == 0) {
        *reply = dispatch(call);
        return true;
    }
    reply->status = script.status;
    reply->body = script.body;
    reply->contentType = script.contentType;
    for (auto it = script.headers.begin(); it != script.headers.end(); ++it)
        reply->headers.emplace_back(it.key().toStdString(), it.value().toString().toStdString());
    return true;
}

template <size_t N>
const Provider::Route *Provider::findRoute(const Route (&routes)[N], const QString &path)
{
    for (const Route &route : routes) {
        if (route.prefix ? path.startsWith(QLatin1String(route.path)) : path == QLatin1String(route.path))
            return &route;
    }
    return nullptr;
}

const Provider::Route Provider::kTestRoutes[] = {
    {"/_test/reset", "POST", &Provider::testReset},
    {"/_test/script", "POST", &Provider::testScript},
    {"/_test/requests", "GET", &Provider::testRequests},
    {"/_test/tickets", "GET", &Provider::testTickets},
};

// Answered on both origins, so either base URL may be used for them.
const Provider::Route Provider::kSocialRoutes[] = {
    {"/v5.0/dialog/oauth", "GET", &Provider::facebookDialog},
    {"/v5.0/oauth/access_token", "GET", &Provider::facebookAccessToken},
    {"/me", "GET", &Provider::facebookProfile},
    {"/o/oauth2/v2/auth", "GET", &Provider::googleConsent},
};

const Provider::Route Provider::kApiRoutes[] = {
    {"/auth/email", "POST", &Provider::authEmail, false, true},
    {"/auth/facebook", "POST", &Provider::authFacebook, false, true},
    {"/auth/google", "POST", &Provider::authGoogle, false, true},
    {"/auth/reset_password", "POST", &Provider::resetPassword, false, true},
    {"/users/me/plan", "GET", &Provider::userPlan, true},
    {"/users/me/bandwidth", "GET", &Provider::userBandwidth, true},
    {"/users/me", "GET", &Provider::userDetails, true},
    {"/users/me/ip", "GET", &Provider::userIp, true},
    {"/users/me/servers", "GET", &Provider::serverList, true},
    {"/users/me/servers/best", "GET", &Provider::bestServer, true},
    {"/config/openvpn/tcp", "GET", &Provider::openVpnConfig, true},
    {"/config/openvpn/udp", "GET", &Provider::openVpnConfig, true},
    {"/openvpn/login", "POST", &Provider::openVpnLogin, false, true},
    {"/users/me/auto_auth_url", "GET", &Provider::autoAuthUrl, true},
    {"/users/me/ticket", "POST", &Provider::userTicket, true},
    {"/users/anonymous/ticket", "POST", &Provider::anonymousTicket},
    {"/config/app/", "GET", &Provider::appUpdate, false, false, true},
};

const Provider::Route Provider::kPortalRoutes[] = {
    {"/", "GET", &Provider::staticPage},
    {"/index.php", "GET", &Provider::staticPage},
    {"/register.php", "GET", &Provider::staticPage},
    {"/pwreset.php", "GET", &Provider::staticPage},
    {"/clientarea.php", "GET", &Provider::staticPage},
    {"/upgrade-trial.php", "GET", &Provider::staticPage},
    {"/share.php", "GET", &Provider::staticPage},
    {"/facebook.php", "GET", &Provider::staticPage},
    {"/google.php", "GET", &Provider::staticPage},
    {"/download.php", "GET", &Provider::staticPage},
    {"/faq", "GET", &Provider::infoPage},
    {"/nl/faq", "GET", &Provider::infoPage},
    {"/de/faq", "GET", &Provider::infoPage},
    {"/review/en", "GET", &Provider::infoPage},
    {"/review/nl", "GET", &Provider::infoPage},
    {"/review/de", "GET", &Provider::infoPage},
    {"/autoauth.php", "GET", &Provider::autoAuth},
    {"/viewticket.php", "GET", &Provider::viewTicket},
    {"/fbredirect.php", "GET", &Provider::facebookRedirect},
    {"/assets/img/", "GET", &Provider::markerImage, false, false, true},
    {"/styles/v1/mapbox/streets-v11/static/", "GET", &Provider::staticMap, false, false, true},
};

Reply Provider::dispatch(const Call &call)
{
    const bool get = call.method == QLatin1String("GET");
    if (const Route *route = findRoute(kSocialRoutes, call.path); route && get)
        return (this->*route->handler)(call, nullptr);
    if (call.origin == Origin::Api) {
        if (const Route *route = findRoute(kApiRoutes, call.path))
            return apiEndpoint(call, *route);
        return errorReply(404, QStringLiteral("no endpoint %1 %2").arg(call.method, call.path));
    }
    if (const Route *route = findRoute(kPortalRoutes, call.path); route && get)
        return (this->*route->handler)(call, nullptr);
    return notFoundPage();
}

// Checks what the route asks of the request (method, token, JSON body), then runs its handler.
Reply Provider::apiEndpoint(const Call &call, const Route &route)
{
    if (call.method != QLatin1String(route.method)) {
        Reply reply = errorReply(405, QStringLiteral("use %1").arg(QLatin1String(route.method)));
        reply.headers.emplace_back("Allow", route.method);
        return reply;
    }
    const Account *account = nullptr;
    if (route.bearer) {
        Reply denied;
        account = accountByToken(QByteArray::fromStdString(call.request->get_header_value("Authorization")), &denied);
        if (!account)
            return denied;
    }
    if (!route.jsonBody)
        return (this->*route.handler)(call, account);
    Call withBody = call;
    Reply failure;
    if (!parseObject(call.request->body, &withBody.json, &failure))
        return failure;
    return (this->*route.handler)(withBody, account);
}

Reply Provider::testEndpoint(const Call &call)
{
    const Route *route = findRoute(kTestRoutes, call.path);
    if (!route || call.method != QLatin1String(route->method))
        return errorReply(404, QStringLiteral("unknown test endpoint %1 %2").arg(call.method, call.path));
    return (this->*route->handler)(call, nullptr);
}

Reply Provider::testReset(const Call &, const Account *)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_scripts.clear();
    m_requests = QJsonArray();
    m_tickets = QJsonArray();
    return jsonReply(200, {{QStringLiteral("result"), QStringLiteral("ok")}});
}

Reply Provider::testScript(const Call &call, const Account *)
{
    QJsonObject body;
    Reply failure;
    if (!parseObject(call.request->body, &body, &failure))
        return failure;
    const Script script = parseScript(body);
    if (!script.path.startsWith(QLatin1Char('/')) || script.status < 0 || script.status > 999 || script.delayMs < 0 ||
        script.times < 0 ||
        (!script.origin.isEmpty() && script.origin != QLatin1String("api") && script.origin != QLatin1String("portal")))
        return errorReply(
            400, QStringLiteral("a script needs a path starting with / and sane status, delayMs, times and origin"));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_scripts.push_back(script);
    return jsonReply(200, {{QStringLiteral("result"), QStringLiteral("ok")}});
}

Provider::Script Provider::parseScript(const QJsonObject &body)
{
    Script script;
    script.path = body.value(QLatin1String("path")).toString();
    script.method = body.value(QLatin1String("method")).toString().toUpper();
    script.origin = body.value(QLatin1String("origin")).toString();
    script.status = body.value(QLatin1String("status")).toInt();
    script.delayMs = body.value(QLatin1String("delayMs")).toInt();
    script.times = body.value(QLatin1String("times")).toInt();
    script.hangup = body.value(QLatin1String("hangup")).toBool();
    script.headers = body.value(QLatin1String("headers")).toObject();
    const QJsonValue scriptBody = body.value(QLatin1String("body"));
    if (scriptBody.isString())
        script.body = scriptBody.toString().toUtf8();
    else if (scriptBody.isObject())
        script.body = toJson(scriptBody.toObject());
    else if (scriptBody.isArray())
        script.body = toJson(scriptBody.toArray());
    script.contentType =
        body.value(QLatin1String("contentType")).toString(QStringLiteral("application/json")).toStdString();
    return script;
}

Reply Provider::testRequests(const Call &call, const Account *)
{
    const QString path = call.param("path");
    const QString origin = call.param("origin");
    QJsonArray result;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const QJsonValue &value : std::as_const(m_requests)) {
        const QJsonObject entry = value.toObject();
        if ((path.isEmpty() || entry.value(QLatin1String("path")).toString() == path) &&
            (origin.isEmpty() || entry.value(QLatin1String("origin")).toString() == origin))
            result.append(entry);
    }
    Reply reply;
    reply.body = toJson(result);
    return reply;
}

Reply Provider::testTickets(const Call &, const Account *)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Reply reply;
    reply.body = toJson(m_tickets);
    return reply;
}

QJsonObject Provider::recordRequest(const Call &call)
{
    const httplib::Request &req = *call.request;
    const QByteArray body = QByteArray::fromStdString(req.body);
    QJsonObject entry{
        {QStringLiteral("origin"), call.origin == Origin::Api ? QStringLiteral("api") : QStringLiteral("portal")},
        {QStringLiteral("method"), call.method},
        {QStringLiteral("target"), QString::fromStdString(req.target)},
        {QStringLiteral("path"), call.path},
        {QStringLiteral("query"), call.rawQuery},
        {QStringLiteral("version"), QString::fromStdString(req.version)},
        {QStringLiteral("headers"), orderedHeaders(req)},
        {QStringLiteral("body"), QString::fromUtf8(body)},
        {QStringLiteral("bodyBase64"), QString::fromLatin1(body.toBase64())},
    };
    std::lock_guard<std::mutex> lock(m_mutex);
    entry.insert(QStringLiteral("seq"), ++m_sequence);
    // Bounded, so a long manual session does not grow without end.
    if (m_requests.size() >= kMaxRecordedRequests)
        m_requests.removeFirst();
    m_requests.append(entry);
    return entry;
}

bool Provider::takeScript(const Call &call, Script *script)
{
    const QString origin = call.origin == Origin::Api ? QStringLiteral("api") : QStringLiteral("portal");
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto it = m_scripts.rbegin(); it != m_scripts.rend(); ++it) {
        if (it->path != call.path)
            continue;
        if (!it->method.isEmpty() && it->method.compare(call.method, Qt::CaseInsensitive) != 0)
            continue;
        if (!it->origin.isEmpty() && it->origin != origin)
            continue;
        *script = *it;
        if (it->times > 0 && --it->times == 0)
            m_scripts.erase(std::next(it).base());
        return true;
    }
    return false;
}

const Provider::Account *Provider::accountByEmail(const QString &email) const
{
    for (const Account &account : m_accounts) {
        if (account.email.compare(email, Qt::CaseInsensitive) == 0)
            return &account;
    }
    return nullptr;
}

const Provider::Account *Provider::accountByToken(const QByteArray &authorization, Reply *denied) const
{
    static const QByteArray prefix = QByteArrayLiteral("Bearer: ");
    if (!authorization.startsWith(prefix)) {
        *denied = errorReply(401, QStringLiteral("missing bearer token"));
        return nullptr;
    }
    const QString token = QString::fromLatin1(authorization.mid(prefix.size()));
    for (const Account &account : m_accounts) {
        if (account.token == token)
            return &account;
    }
    *denied = errorReply(401, QStringLiteral("invalid bearer token"));
    return nullptr;
}

Reply Provider::userPlan(const Call &, const Account *account)
{
    return jsonReply(200, account->json.value(QLatin1String("plan")).toObject());
}

Reply Provider::userBandwidth(const Call &, const Account *account)
{
    const QJsonObject &json = account->json;
    QJsonObject bandwidth = json.value(QLatin1String("bandwidth")).toObject();
    bandwidth.insert(QStringLiteral("is_unlimited"),
                     json.value(QLatin1String("plan")).toObject().value(QLatin1String("is_unlimited")).toInt());
    return jsonReply(200, bandwidth);
}

Reply Provider::userDetails(const Call &, const Account *account)
{
    const QJsonObject &json = account->json;
    return jsonReply(200, {{QStringLiteral("id"), json.value(QLatin1String("id")).toString()},
                           {QStringLiteral("email"), account->email},
                           {QStringLiteral("first_name"), json.value(QLatin1String("firstName")).toString()},
                           {QStringLiteral("last_name"), json.value(QLatin1String("lastName")).toString()},
                           {QStringLiteral("is_b2b"), json.value(QLatin1String("isB2b")).toInt()}});
}

Reply Provider::userIp(const Call &call, const Account *account)
{
    const QJsonObject &json = account->json;
    const QString ip = m_reportPeerAddress ? QString::fromStdString(call.request->remote_addr)
                                           : json.value(QLatin1String("ip")).toString();
    return jsonReply(
        200, {{QStringLiteral("ip"), ip},
              {QStringLiteral("location"),
               QJsonObject{{QStringLiteral("type"), QStringLiteral("Point")},
                           {QStringLiteral("coordinates"), json.value(QLatin1String("coordinates")).toArray()}}}});
}

Reply Provider::openVpnConfig(const Call &call, const Account *)
{
    QString config = m_data.value(QLatin1String("openvpn")).toObject().value(call.path.mid(16)).toString();
    const int start = config.indexOf(QLatin1String("<ca>\n"));
    const int end = config.indexOf(QLatin1String("</ca>"));
    if (!m_openVpnCa.isEmpty() && start >= 0 && end > start)
        config.replace(start + 5, end - start - 5, m_openVpnCa.trimmed() + QLatin1Char('\n'));
    return jsonReply(200, {{QStringLiteral("openvpn_config"), config}});
}

// Asked by the OpenVPN server: the user name is an account's e-mail address and the password its API token.
Reply Provider::openVpnLogin(const Call &call, const Account *)
{
    const Account *account = accountByEmail(call.json.value(QLatin1String("username")).toString());
    if (!account || account->token != call.json.value(QLatin1String("password")).toString())
        return errorReply(403, QStringLiteral("unknown user name or password"));
    return jsonReply(200, {{QStringLiteral("result"), QStringLiteral("ok")}});
}

Reply Provider::appUpdate(const Call &call, const Account *)
{
    const QString platform = call.path.mid(12);
    QJsonObject update = m_data.value(QLatin1String("update")).toObject().value(platform).toObject();
    if (update.isEmpty())
        return errorReply(404, QStringLiteral("no application for platform %1").arg(platform));
    if (update.contains(QLatin1String("url")))
        update.insert(QStringLiteral("url"), expand(update.value(QLatin1String("url")).toString()));
    return jsonReply(200, update);
}

Reply Provider::userTicket(const Call &call, const Account *account)
{
    return storeTicket(QByteArray::fromStdString(call.request->body), account);
}

Reply Provider::anonymousTicket(const Call &call, const Account *)
{
    return storeTicket(QByteArray::fromStdString(call.request->body), nullptr);
}

Reply Provider::authEmail(const Call &call, const Account *)
{
    const QJsonObject &body = call.json;
    const QString email = body.value(QLatin1String("email")).toString();
    const QString password = body.value(QLatin1String("password")).toString();
    if (email.isEmpty() || password.isEmpty())
        return errorReply(401, QStringLiteral("email and password are required"));
    const Account *account = accountByEmail(email);
    if (!account)
        return errorReply(404, QStringLiteral("no account with this email address"));
    if (account->json.value(QLatin1String("ipBlacklisted")).toBool())
        return errorReply(503, QStringLiteral("your IP address is blocked"));
    if (account->password != password)
        return errorReply(401, QStringLiteral("wrong password"));
    return jsonReply(200, {{QStringLiteral("token"), account->token}});
}

Reply Provider::authFacebook(const Call &call, const Account *)
{
    const QJsonObject &body = call.json;
    const QString secureToken = body.value(QLatin1String("secure_token")).toString();
    for (const QJsonValue &value : m_data.value(QLatin1String("facebook")).toArray()) {
        const QJsonObject identity = value.toObject();
        if (secureToken.isEmpty() || identity.value(QLatin1String("accessToken")).toString() != secureToken)
            continue;
        const Account *account = accountByEmail(identity.value(QLatin1String("account")).toString());
        if (!account)
            return errorReply(404, QStringLiteral("no account is linked to this Facebook user"));
        return jsonReply(200, {{QStringLiteral("token"), account->token}});
    }
    return errorReply(401, QStringLiteral("the Facebook token is not valid"));
}

Reply Provider::authGoogle(const Call &call, const Account *)
{
    const QJsonObject &body = call.json;
    const QString code = body.value(QLatin1String("code")).toString();
    const QString redirectUri = body.value(QLatin1String("redirect_uri")).toString();
    if (redirectUri != googleRedirect())
        return errorReply(401, QStringLiteral("redirect_uri does not match"));
    for (const QJsonValue &value : m_data.value(QLatin1String("google")).toArray()) {
        const QJsonObject identity = value.toObject();
        if (code.isEmpty() || identity.value(QLatin1String("code")).toString() != code)
            continue;
        const Account *account = accountByEmail(identity.value(QLatin1String("account")).toString());
        if (!account)
            return errorReply(404, QStringLiteral("no account is linked to this Google user"));
        return jsonReply(200, {{QStringLiteral("token"), account->token}});
    }
    return errorReply(401, QStringLiteral("the Google code is not valid"));
}

Reply Provider::resetPassword(const Call &call, const Account *)
{
    const QJsonObject &body = call.json;
    const QString email = body.value(QLatin1String("email")).toString();
    if (email.isEmpty())
        return errorReply(400, QStringLiteral("email is required"));
    if (!accountByEmail(email))
        return errorReply(404, QStringLiteral("no account with this email address"));
    return jsonReply(200, {{QStringLiteral("result"), QStringLiteral("ok")},
                           {QStringLiteral("message"), QStringLiteral("A reset link was sent to %1").arg(email)}});
}

Reply Provider::serverList(const Call &, const Account *account)
{
    // B2B servers are listed for business accounts only.
    const bool b2b = account->json.value(QLatin1String("isB2b")).toInt() == 1;
    QJsonArray result;
    for (const QJsonValue &value : m_data.value(QLatin1String("servers")).toArray()) {
        if (b2b || value.toObject().value(QLatin1String("is_b2b")).toInt() != 1)
            result.append(value);
    }
    Reply reply;
    reply.body = toJson(result);
    return reply;
}

Reply Provider::bestServer(const Call &call, const Account *account)
{
    const QString country = call.param("country_code");
    bool p2p = false;
    bool streaming = false;
    if (country.isEmpty() || !flagParam(call.param("is_p2p"), &p2p) ||
        !flagParam(call.param("is_streaming"), &streaming))
        return errorReply(400,
                          QStringLiteral("country_code, is_p2p=true|false and is_streaming=true|false are required"));
    const bool b2b = account->json.value(QLatin1String("isB2b")).toInt() == 1;
    QJsonObject best;
    int bestLoad = 0;
    bool countryKnown = false;
    for (const QJsonValue &value : m_data.value(QLatin1String("servers")).toArray()) {
        const QJsonObject server = value.toObject();
        if (server.value(QLatin1String("country_code")).toString().compare(country, Qt::CaseInsensitive) != 0)
            continue;
        if (!b2b && server.value(QLatin1String("is_b2b")).toInt() == 1)
            continue;
        countryKnown = true;
        const int load = server.value(QLatin1String("load_percentage")).toInt();
        if (server.value(QLatin1String("is_alive")).toInt() != 1 || load >= 100)
            continue;
        if ((p2p && server.value(QLatin1String("is_p2p")).toInt() != 1) ||
            (streaming && server.value(QLatin1String("is_streaming")).toInt() != 1))
            continue;
        if (best.isEmpty() || load < bestLoad) {
            best = server;
            bestLoad = load;
        }
    }
    if (!countryKnown)
        return errorReply(404, QStringLiteral("no servers in %1").arg(country));
    if (best.isEmpty())
        return errorReply(404, QStringLiteral("no server of this category is available in %1").arg(country));
    return jsonReply(200, {{QStringLiteral("country_code"), best.value(QLatin1String("country_code"))},
                           {QStringLiteral("short_name"), best.value(QLatin1String("short_name"))},
                           {QStringLiteral("ip"), best.value(QLatin1String("ip"))},
                           {QStringLiteral("location"), best.value(QLatin1String("location"))},
                           {QStringLiteral("load_percentage"), best.value(QLatin1String("load_percentage"))}});
}

Reply Provider::storeTicket(const QByteArray &body, const Account *account)
{
    QJsonObject ticket;
    Reply failure;
    if (!parseObject(body.toStdString(), &ticket, &failure))
        return failure;
    QByteArray decoded[2];
    const char *keys[2] = {"client_log", "collected_data"};
    for (int i = 0; i < 2; ++i) {
        const QJsonValue value = ticket.value(QLatin1String(keys[i]));
        if (!value.isUndefined() && !value.isString())
            return errorReply(400, QStringLiteral("%1 must be a string").arg(QLatin1String(keys[i])));
        const auto result =
            QByteArray::fromBase64Encoding(value.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!result)
            return errorReply(400, QStringLiteral("%1 is not valid Base64").arg(QLatin1String(keys[i])));
        decoded[i] = *result;
    }

    std::lock_guard<std::mutex> lock(m_mutex);
    const int id = m_nextTicket++;
    const QString check = randomHex(4);
    const QString url = QStringLiteral("%1/viewticket.php?tid=%2&c=%3").arg(m_portalBase).arg(id).arg(check);
    QJsonObject record{
        {QStringLiteral("id"), id},
        {QStringLiteral("check"), check},
        {QStringLiteral("url"), url},
        {QStringLiteral("signedIn"), account != nullptr},
        {QStringLiteral("account"), account ? account->email : QString()},
        {QStringLiteral("name"), ticket.value(QLatin1String("name")).toString()},
        {QStringLiteral("subject"), ticket.value(QLatin1String("subject")).toString()},
        {QStringLiteral("message"), ticket.value(QLatin1String("message")).toString()},
        {QStringLiteral("clientLog"), QString::fromUtf8(decoded[0])},
        {QStringLiteral("collectedData"), QString::fromUtf8(decoded[1])},
        {QStringLiteral("createdAt"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
    };
    const QString dir = QDir(m_stateDir).filePath(QStringLiteral("tickets/%1").arg(id));
    const auto store = [&dir](const QString &name, const QByteArray &bytes) {
        QSaveFile file(QDir(dir).filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
    };
    if (!QDir().mkpath(dir) || !store(QStringLiteral("request.json"), body) ||
        !store(QStringLiteral("client_log"), decoded[0]) || !store(QStringLiteral("collected_data"), decoded[1]) ||
        !store(QStringLiteral("ticket.json"), QJsonDocument(record).toJson()))
        return errorReply(500, QStringLiteral("the ticket could not be stored"));
    m_tickets.append(record);
    return jsonReply(200, {{QStringLiteral("id"), id}, {QStringLiteral("url"), url}});
}

Reply Provider::autoAuthUrl(const Call &call, const Account *account)
{
    const QString target = call.param("goto");
    if (call.hasParam("goto") && !isPortalPage(target))
        return errorReply(400, QStringLiteral("goto must name a portal page"));
    const QString key = randomHex(16);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_autoAuthKeys.insert(key, account->email);
    }
    QString url = QStringLiteral("%1/autoauth.php?key=%2").arg(m_portalBase, key);
    if (!target.isEmpty())
        url += QStringLiteral("&goto=") + QString::fromLatin1(QUrl::toPercentEncoding(target));
    return jsonReply(200, {{QStringLiteral("url"), url}});
}

Reply Provider::staticPage(const Call &call, const Account *)
{
    struct StaticContent
    {
        const char *path;
        const char *title;
        const char *body;
    };
    static const StaticContent pages[] = {
        {"/", "TOVRA VPN", "<p>Stand-in portal of the TOVRA VPN provider.</p>"},
        {"/index.php", "TOVRA VPN", "<p>Stand-in portal of the TOVRA VPN provider.</p>"},
        {"/register.php", "Create your account",
         "<form><input name=\"email\" type=\"email\"><input name=\"password\" type=\"password\">"
         "<button>Sign up</button></form>"},
        {"/pwreset.php", "Reset your password",
         "<form><input name=\"email\" type=\"email\"><button>Send reset link</button></form>"},
        {"/clientarea.php", "Client area",
         "<p>Your plan and upgrades.</p><p id=\"upgrade-to-unlim-annual\">Unlimited, annual</p>"
         "<p id=\"upgrade-50-to-unlim\">From 50 GB to unlimited</p>"},
        {"/upgrade-trial.php", "Upgrade your trial", "<p>Choose a plan.</p>"},
        {"/share.php", "Invite your friends", "<p>Share TOVRA VPN.</p>"},
        {"/facebook.php", "You are signed in", "<p>Return to the TOVRA VPN application.</p>"},
        {"/google.php", "You are signed in", "<p>Return to the TOVRA VPN application.</p>"},
    };
    if (call.path == QLatin1String("/download.php"))
        return htmlPage(QStringLiteral("Download TOVRA VPN"),
                        QStringLiteral("<p>Platform: %1</p>").arg(html(call.param("platform"))));
    for (const StaticContent &page : pages) {
        if (call.path == QLatin1String(page.path))
            return htmlPage(QString::fromUtf8(page.title), QString::fromUtf8(page.body));
    }
    return notFoundPage();
}

Reply Provider::infoPage(const Call &call, const Account *)
{
    return htmlPage(call.path.contains(QLatin1String("review")) ? QStringLiteral("Review TOVRA VPN")
                                                                : QStringLiteral("Frequently asked questions"),
                    QStringLiteral("<p>%1</p>").arg(html(call.path)));
}

Reply Provider::markerImage(const Call &call, const Account *)
{
    const auto it = m_images.constFind(call.path.mid(12));
    if (it == m_images.constEnd())
        return notFoundPage();
    Reply reply;
    reply.contentType = "image/png";
    reply.body = *it;
    return reply;
}

Reply Provider::staticMap(const Call &call, const Account *)
{
    const QRegularExpression size(QStringLiteral("/auto/(\\d{1,4})x(\\d{1,4})(@2x)?$"));
    const QRegularExpressionMatch match = size.match(call.path);
    if (!match.hasMatch())
        return errorReply(422, QStringLiteral("the map size is missing"));
    if (call.param("access_token").isEmpty())
        return errorReply(401, QStringLiteral("access_token is required"));
    const int scale = match.captured(3).isEmpty() ? 1 : 2;
    MapRequest request;
    request.width = match.captured(1).toInt();
    request.height = match.captured(2).toInt();
    request.scale = scale;
    if (request.width < 1 || request.height < 1 || request.width > 1280 || request.height > 1280)
        return errorReply(422, QStringLiteral("the map size must be between 1 and 1280"));
    static const QString prefix = QStringLiteral("/styles/v1/mapbox/streets-v11/static/");
    parseMapOverlays(call.path.mid(prefix.size(), match.capturedStart() - prefix.size()), &request);
    Reply reply;
    reply.contentType = "image/png";
    reply.body = mapPng(m_coastlines, request);
    return reply;
}

Reply Provider::autoAuth(const Call &call, const Account *)
{
    QString email;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        email = m_autoAuthKeys.take(call.param("key"));
    }
    if (email.isEmpty())
        return htmlPage(QStringLiteral("Link expired"),
                        QStringLiteral("<p>This sign-in link is not valid (any more).</p>"), 403);
    const QString target = call.param("goto");
    if (!target.isEmpty() && !isPortalPage(target))
        return htmlPage(QStringLiteral("Bad link"), QStringLiteral("<p>The link names no portal page.</p>"), 400);
    Reply reply = redirect(
        QStringLiteral("%1/%2").arg(m_portalBase, target.isEmpty() ? QStringLiteral("clientarea.php") : target));
    reply.headers.emplace_back("Set-Cookie", QStringLiteral("portal_user=%1; Path=/; Secure; HttpOnly")
                                                 .arg(QString::fromLatin1(QUrl::toPercentEncoding(email)))
                                                 .toStdString());
    return reply;
}

Reply Provider::viewTicket(const Call &call, const Account *)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const QJsonValue &value : std::as_const(m_tickets)) {
        const QJsonObject ticket = value.toObject();
        if (QString::number(ticket.value(QLatin1String("id")).toInt()) == call.param("tid") &&
            ticket.value(QLatin1String("check")).toString() == call.param("c"))
            return htmlPage(QStringLiteral("Ticket #%1").arg(ticket.value(QLatin1String("id")).toInt()),
                            QStringLiteral("<p>%1</p><p>%2</p>")
                                .arg(html(ticket.value(QLatin1String("subject")).toString()),
                                     html(ticket.value(QLatin1String("message")).toString())));
    }
    return htmlPage(QStringLiteral("Ticket not found"), QStringLiteral("<p>No such ticket.</p>"), 404);
}

// Hands the browser on to the client's loopback listener, query unchanged.
Reply Provider::facebookRedirect(const Call &call, const Account *)
{
    return redirect(QStringLiteral("http://127.0.0.1:%1/%2%3")
                        .arg(kRedirectListenerPort)
                        .arg(call.rawQuery.isEmpty() ? QString() : QStringLiteral("?"), call.rawQuery));
}

Reply Provider::facebookDialog(const Call &call, const Account *)
{
    const QString redirectUri = call.param("redirect_uri");
    if (call.param("client_id").isEmpty() || !isFacebookRedirect(redirectUri))
        return htmlPage(QStringLiteral("Facebook Login"),
                        QStringLiteral("<p>URL blocked: client_id is missing or the redirect URI is not allowed.</p>"),
                        400);
    QString links;
    for (const QJsonValue &value : m_data.value(QLatin1String("facebook")).toArray()) {
        const QJsonObject identity = value.toObject();
        const QString target =
            redirectUri + QStringLiteral("?code=") +
            QString::fromLatin1(QUrl::toPercentEncoding(identity.value(QLatin1String("code")).toString()));
        links += QStringLiteral("<li><a href=\"%1\">Continue as %2</a></li>")
                     .arg(html(target), html(identity.value(QLatin1String("email"))
                                                 .toString(identity.value(QLatin1String("id")).toString())));
    }
    return htmlPage(QStringLiteral("Log in with Facebook"), QStringLiteral("<ul>%1</ul>").arg(links));
}

Reply Provider::facebookAccessToken(const Call &call, const Account *)
{
    if (call.param("client_id").isEmpty() || call.param("client_secret").isEmpty())
        return graphError(QStringLiteral("Missing client_id or client_secret parameter."), 100);
    if (!isFacebookRedirect(call.param("redirect_uri")))
        return graphError(QStringLiteral("Can't load URL: the redirect_uri does not match."), 100);
    for (const QJsonValue &value : m_data.value(QLatin1String("facebook")).toArray()) {
        const QJsonObject identity = value.toObject();
        if (!call.param("code").isEmpty() && identity.value(QLatin1String("code")).toString() == call.param("code"))
            return jsonReply(200, {{QStringLiteral("access_token"), identity.value(QLatin1String("accessToken"))},
                                   {QStringLiteral("token_type"), QStringLiteral("bearer")},
                                   {QStringLiteral("expires_in"), 5183944}});
    }
    return graphError(QStringLiteral("Invalid verification code format."), 100);
}

Reply Provider::facebookProfile(const Call &call, const Account *)
{
    for (const QJsonValue &value : m_data.value(QLatin1String("facebook")).toArray()) {
        const QJsonObject identity = value.toObject();
        if (call.param("access_token").isEmpty() ||
            identity.value(QLatin1String("accessToken")).toString() != call.param("access_token"))
            continue;
        QJsonObject profile{{QStringLiteral("id"), identity.value(QLatin1String("id"))}};
        const QStringList fields = call.param("fields").split(QLatin1Char(','));
        if (fields.contains(QLatin1String("email")) && identity.contains(QLatin1String("email")))
            profile.insert(QStringLiteral("email"), identity.value(QLatin1String("email")));
        return jsonReply(200, profile);
    }
    return graphError(QStringLiteral("Invalid OAuth access token."), 190);
}

Reply Provider::googleConsent(const Call &call, const Account *)
{
    const QString redirectUri = call.param("redirect_uri");
    if (call.param("client_id").isEmpty() || redirectUri != googleRedirect() ||
        call.param("response_type") != QLatin1String("code"))
        return htmlPage(QStringLiteral("Sign in with Google"),
                        QStringLiteral("<p>Error 400: invalid_request (client_id, response_type=code and a registered "
                                       "redirect_uri are required).</p>"),
                        400);
    QString links;
    for (const QJsonValue &value : m_data.value(QLatin1String("google")).toArray()) {
        const QJsonObject identity = value.toObject();
        const QString target =
            redirectUri + QStringLiteral("?state=") +
            QString::fromLatin1(QUrl::toPercentEncoding(call.param("state"))) + QStringLiteral("&code=") +
            QString::fromLatin1(QUrl::toPercentEncoding(identity.value(QLatin1String("code")).toString()));
        links += QStringLiteral("<li><a href=\"%1\">Continue as %2</a></li>")
                     .arg(html(target), html(identity.value(QLatin1String("name")).toString()));
    }
    return htmlPage(QStringLiteral("Sign in with Google"), QStringLiteral("<ul>%1</ul>").arg(links));
}

} // namespace provider
