#include "api/tovraapimanager.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <cmath>
#include <limits>

#include "api/apipaths.h"
#include "api/logmask.h"
#include "api/networkaccess.h"
#include "api/tlspolicy.h"
#include "api/tovraauthmanager.h"
#include "api/tovraipmanager.h"
#include "app/appcontext.h"
#include "app/apptypes.h"
#include "app/buildconstants.h"
#include "servers/tovraservermanager.h"

// What every reply handler starts from: the status, the body and, for a reply without error, the parsed body.
struct ApiReply
{
    int status = 0;
    bool failed = false;
    QString errorString;
    QByteArray body;
    QJsonDocument document;

    // False for an error, an empty body, a body that is not JSON, and JSON that is not an object.
    bool hasObject() const { return !failed && !document.isEmpty() && document.isObject(); }
    QJsonObject object() const { return document.object(); }
};

namespace {

// The texts a reply is logged under; a body prefix that is empty leaves the body out of the log.
struct ReplyLog
{
    QString status;
    QString body;
    QString errorBody;
};

ReplyLog logAs(const char *path)
{
    const QString text = QString::fromLatin1(path);
    const QString body = text + QStringLiteral(" api response: ");
    return ReplyLog{text, body, body};
}

// The preamble shared by every handler: the reply is released, its status and body logged, the body parsed.
// The string value of the member named secret is logged as stars.
ApiReply readReply(QNetworkReply *reply, const ReplyLog &log, const QString &secret = QString())
{
    reply->deleteLater();
    ApiReply out;
    out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    qDebug().noquote() << log.status + QStringLiteral(" response code: ") + QString::number(out.status);
    out.body = reply->readAll();
    out.failed = reply->error() != QNetworkReply::NoError;
    out.errorString = reply->errorString();
    const QString &bodyLog = out.failed ? log.errorBody : log.body;
    if (!bodyLog.isEmpty())
        qDebug().noquote() << bodyLog + (secret.isEmpty() ? QString::fromUtf8(out.body)
                                                          : LogMask::jsonBody(out.body, secret));
    if (!out.failed)
        out.document = QJsonDocument::fromJson(out.body);
    return out;
}

void logNetworkError(const ApiReply &reply)
{
    qDebug().noquote() << QStringLiteral("Network error occurred during api call: ") + reply.errorString;
}

// Negative, fractional and out-of-range counts must not reach the unsigned conversion unchecked.
quint64 byteCount(const QJsonValue &value)
{
    const double number = value.toDouble(0);
    if (!(number > 0))
        return 0;
    if (number >= 18446744073709551616.0)
        return std::numeric_limits<quint64>::max();
    return static_cast<quint64>(number);
}

// The characters of a JSON string literal without its quotes; plain text comes out unchanged.
QByteArray jsonStringContent(const QString &text)
{
    QByteArray out;
    const QByteArray utf8 = text.toUtf8();
    out.reserve(utf8.size());
    for (const char c : utf8) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
                out +=
                    QByteArray("\\u00") + QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0');
            else
                out += c;
        }
    }
    return out;
}

QByteArray fileAsBase64(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll().toBase64();
}

void appendPolylineNumber(QString &out, double value)
{
    const qint64 rounded = std::llround(value * 100000.0);
    quint64 bits = static_cast<quint64>(rounded) << 1;
    if (rounded < 0)
        bits = ~bits;
    do {
        quint64 group = bits & 0x1f;
        bits >>= 5;
        if (bits)
            group |= 0x20;
        out += QLatin1Char(static_cast<char>(63 + group));
    } while (bits);
}

// The network objects hold TLS state that has to be released while the application object still exists.
void releaseNetwork()
{
    AppContext::instance()->apiManager()->releaseNetwork();
}

QString apiPath(const char *path)
{
    return QString::fromLatin1(path);
}

} // namespace

TovraApiManager::TovraApiManager()
    : m_apiBaseUrl(BuildConstants::apiBaseUrl()), m_portalBaseUrl(BuildConstants::portalBaseUrl()),
      m_mapApiBaseUrl(BuildConstants::mapApiBaseUrl())
{
    qRegisterMetaType<TovraServer>("TovraServer");
    qAddPostRoutine(::releaseNetwork);
}

QNetworkAccessManager *TovraApiManager::network()
{
    // Made at the first request, after the window shows: the manager loads Qt's network plugins.
    if (!m_manager && !m_networkReleased) {
        m_manager = NewNetworkAccessManager();
        connect(m_manager, &QNetworkAccessManager::sslErrors, this, &TovraApiManager::ProcessSslErrors);
    }
    return m_manager;
}

TovraApiManager::~TovraApiManager()
{
    releaseNetwork();
}

void TovraApiManager::releaseNetwork()
{
    m_networkReleased = true;
    if (!m_manager)
        return;
    // Replies dying with the access manager must not reach handlers of objects already gone.
    const QList<QNetworkReply *> replies = m_manager->findChildren<QNetworkReply *>();
    for (QNetworkReply *reply : replies)
        disconnect(reply, nullptr, this, nullptr);
    delete m_manager;
    m_manager = nullptr;
    if (QCoreApplication::instance())
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// ---- request core ---------------------------------------------------------------------------------------------

QNetworkRequest TovraApiManager::makeRequest(const QString &url) const
{
    // Reading the system's trust store takes tens of milliseconds: done at the first request, not at start.
    TlsPolicy::install();
    QNetworkRequest request{QUrl(url)};
    request.setRawHeader("Connection", "close");
    return request;
}

QNetworkRequest TovraApiManager::makeAuthorizedRequest(const QString &url) const
{
    QNetworkRequest request = makeRequest(url);
    request.setRawHeader("Authorization", QStringLiteral("Bearer: %1").arg(token).toLatin1());
    return request;
}

QNetworkReply *TovraApiManager::get(const QNetworkRequest &request, ReplyHandler handler)
{
    if (!network())
        return nullptr;
    QNetworkReply *reply = m_manager->get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply, handler] { (this->*handler)(reply); });
    return reply;
}

QNetworkReply *TovraApiManager::getAuthorized(const char *path, ReplyHandler handler, const QString &query)
{
    const QString url = m_apiBaseUrl + apiPath(path) + query;
    qDebug().noquote() << url;
    return get(makeAuthorizedRequest(url), handler);
}

QNetworkReply *TovraApiManager::post(const QString &url, const QByteArray &body, bool authorized, ReplyHandler handler)
{
    QNetworkRequest request = makeRequest(url);
    request.setRawHeader("Content-Type", "application/json");
    // Qt sets this once more from the upload size when it sends, which moves it behind the others on the wire.
    request.setRawHeader("Content-Length", QByteArray::number(body.size()));
    if (authorized)
        request.setRawHeader("Authorization", QStringLiteral("Bearer: %1").arg(token).toLatin1());
    if (!network())
        return nullptr;
    QNetworkReply *reply = m_manager->post(request, body);
    connect(reply, &QNetworkReply::finished, this, [this, reply, handler] { (this->*handler)(reply); });
    return reply;
}

QNetworkReply *TovraApiManager::postJson(const QString &url, const QJsonObject &body, ReplyHandler handler,
                                         const QString &secret)
{
    const QByteArray data = QJsonDocument(body).toJson();
    QJsonObject logged = body;
    if (!secret.isEmpty())
        logged.insert(secret, LogMask::stars(body.value(secret).toString()));
    qDebug().noquote() << url + QStringLiteral(" post data: ") + QString::fromUtf8(QJsonDocument(logged).toJson());
    return post(url, data, false, handler);
}

void TovraApiManager::ProcessSslErrors(QNetworkReply *pReply, const QList<QSslError> &errors)
{
    TlsPolicy::handleSslErrors(pReply, errors);
}

void TovraApiManager::reportNetworkError(const ApiReply &reply)
{
    logNetworkError(reply);
    emit ApiErrorOccurred(QStringLiteral("Network error: %1").arg(reply.errorString));
}

void TovraApiManager::reportEmptyResult()
{
    emit ApiErrorOccurred(QStringLiteral("API returned empty result"));
}

bool TovraApiManager::reportFailure(const ApiReply &reply)
{
    if (reply.failed)
        reportNetworkError(reply);
    else if (!reply.hasObject())
        reportEmptyResult();
    return reply.hasObject();
}

// ---- sign-in and password reset -------------------------------------------------------------------------------

void TovraApiManager::AuthEmail(const QString &email, const QString &password)
{
    postJson(m_apiBaseUrl + apiPath(ApiPaths::AuthEmail),
             QJsonObject{{QStringLiteral("email"), email}, {QStringLiteral("password"), password}},
             &TovraApiManager::OnAuthEmailFinished, QStringLiteral("password"));
}

void TovraApiManager::AuthFacebook(const QString &secureToken)
{
    postJson(m_apiBaseUrl + apiPath(ApiPaths::AuthFacebook), QJsonObject{{QStringLiteral("secure_token"), secureToken}},
             &TovraApiManager::OnAuthFacebookFinished, QStringLiteral("secure_token"));
}

void TovraApiManager::AuthGoogle(const QString &code, const QString &redirectUri)
{
    postJson(m_apiBaseUrl + apiPath(ApiPaths::AuthGoogle),
             QJsonObject{{QStringLiteral("code"), code}, {QStringLiteral("redirect_uri"), redirectUri}},
             &TovraApiManager::OnAuthGoogleFinished, QStringLiteral("code"));
}

void TovraApiManager::ResetPassword(const QString &email)
{
    postJson(m_apiBaseUrl + apiPath(ApiPaths::ResetPassword), QJsonObject{{QStringLiteral("email"), email}},
             &TovraApiManager::OnAuthPasswordResetFinished);
}

// Shared by the three sign-in replies; only the e-mail sign-in knows the blacklist answer.
void TovraApiManager::handleSignIn(QNetworkReply *networkReply, const char *path, bool email)
{
    const ApiReply reply = readReply(networkReply, logAs(path), QStringLiteral("token"));
    TovraAuthManager *auth = AppContext::instance()->authManager();
    if (reply.failed && (reply.status == 401 || reply.status == 404)) {
        auth->OnCredentialsChecked(TovraAuthManager::AuthFailed, QString());
        return;
    }
    if (reply.failed && reply.status == 503 && email) {
        auth->OnCredentialsChecked(TovraAuthManager::AuthIpBlacklisted, QString());
        return;
    }
    if (!reportFailure(reply))
        return;
    const QString token = reply.object().value(QStringLiteral("token")).toString();
    // A reply without a token cannot sign anybody in.
    if (token.isEmpty()) {
        reportEmptyResult();
        return;
    }
    auth->OnCredentialsChecked(TovraAuthManager::AuthSuccess, token);
}

void TovraApiManager::OnAuthEmailFinished(QNetworkReply *reply)
{
    handleSignIn(reply, ApiPaths::AuthEmail, true);
}

void TovraApiManager::OnAuthFacebookFinished(QNetworkReply *reply)
{
    handleSignIn(reply, ApiPaths::AuthFacebook, false);
}

void TovraApiManager::OnAuthGoogleFinished(QNetworkReply *reply)
{
    handleSignIn(reply, ApiPaths::AuthGoogle, false);
}

void TovraApiManager::OnAuthPasswordResetFinished(QNetworkReply *networkReply)
{
    const ApiReply reply = readReply(networkReply, logAs(ApiPaths::ResetPassword));
    if (reply.failed)
        logNetworkError(reply);
    emit PasswordResetRequestSent(!reply.failed);
}

// ---- user-data chain ------------------------------------------------------------------------------------------

void TovraApiManager::GetUserPlan()
{
    m_userData.clear();
    qDebug() << "Get user's plan";
    getAuthorized(ApiPaths::UserPlan, &TovraApiManager::OnUserPlanReceived);
}

void TovraApiManager::GetUserBandwidth()
{
    qDebug() << "Get user's bandwidth data";
    getAuthorized(ApiPaths::UserBandwidth, &TovraApiManager::OnUserBandwidthReceived);
}

void TovraApiManager::GetUserData()
{
    qDebug() << "Get user's details";
    getAuthorized(ApiPaths::UserDetails, &TovraApiManager::OnUserDataReceived);
}

void TovraApiManager::OnUserPlanReceived(QNetworkReply *networkReply)
{
    const ApiReply reply = readReply(networkReply, logAs(ApiPaths::UserPlan));
    m_userDataUnanswered = reply.failed && reply.status == 0;
    TovraAuthManager *auth = AppContext::instance()->authManager();
    // Only an HTTP answer can refuse the token; without one (status 0) the network failed, and the
    // session must survive that.
    if (reply.failed && reply.status != 0 && reply.status <= 499) {
        auth->OnUserDataChecked(TovraAuthManager::AuthFailed, m_userData);
        return;
    }
    if (!reportFailure(reply))
        return;
    const QJsonObject object = reply.object();
    m_userData.isUnlimited = jsonFlag(object.value(QStringLiteral("is_unlimited")));
    m_userData.isAnnual = jsonFlag(object.value(QStringLiteral("is_annual")));
    m_userData.isTrial = jsonFlag(object.value(QStringLiteral("is_trial")));
    m_userData.status = object.value(QStringLiteral("status")).toString().toUpper();
    if (m_userData.status != QLatin1String("ACTIVE")) {
        auth->OnUserDataChecked(TovraAuthManager::AuthAccountInactive, m_userData);
        return;
    }
    qDebug() << "User has active status. Proceed to next api request.";
    GetUserBandwidth();
}

void TovraApiManager::OnUserBandwidthReceived(QNetworkReply *networkReply)
{
    const ApiReply reply = readReply(networkReply, logAs(ApiPaths::UserBandwidth));
    m_userDataUnanswered = reply.failed && reply.status == 0;
    if (!reportFailure(reply))
        return;
    m_userData.bytesTotal = byteCount(reply.object().value(QStringLiteral("bytes_total")));
    m_userData.bytesUsed = byteCount(reply.object().value(QStringLiteral("bytes_used")));
    GetUserData();
}

void TovraApiManager::OnUserDataReceived(QNetworkReply *networkReply)
{
    const ApiReply reply = readReply(networkReply, logAs(ApiPaths::UserDetails));
    m_userDataUnanswered = reply.failed && reply.status == 0;
    if (!reportFailure(reply))
        return;
    const QJsonObject object = reply.object();
    m_userData.email = object.value(QStringLiteral("email")).toString();
    m_userData.id = object.value(QStringLiteral("id")).toString();
    m_userData.firstName = object.value(QStringLiteral("first_name")).toString();
    m_userData.lastName = object.value(QStringLiteral("last_name")).toString();
    m_userData.isB2b = jsonFlag(object.value(QStringLiteral("is_b2b")));
    AppContext::instance()->authManager()->OnUserDataChecked(TovraAuthManager::AuthSuccess, m_userData);
}

// ---- traffic refresh ------------------------------------------------------------------------------------------

void TovraApiManager::UpdateUserBandwidth()
{
    qDebug() << "Update user's bandwidth data";
    getAuthorized(ApiPaths::UserBandwidth, &TovraApiManager::OnUserBandwidthUpdateFinished);
}

void TovraApiManager::OnUserBandwidthUpdateFinished(QNetworkReply *networkReply)
{
    const ApiReply reply = readReply(networkReply, logAs(ApiPaths::UserBandwidth));
    TovraAuthManager *auth = AppContext::instance()->authManager();
    if (reply.failed)
        logNetworkError(reply);
    if (!reply.hasObject()) {
        auth->OnTrafficUpdated(false, 0, 0, false);
        return;
    }
    const QJsonObject object = reply.object();
    auth->OnTrafficUpdated(true, byteCount(object.value(QStringLiteral("bytes_total"))),
                           byteCount(object.value(QStringLiteral("bytes_used"))),
                           jsonFlag(object.value(QStringLiteral("is_unlimited"))));
}

// ---- IP data --------------------------------------------------------------------------------------------------

void TovraApiManager::fillIpData(bool assigned, const QJsonObject &object)
{
    double latitude = 0;
    double longitude = 0;
    readCoordinates(object, &latitude, &longitude);
    TovraIpManager *ip = AppContext::instance()->ipManager();
    const QString address = object.value(QStringLiteral("ip")).toString();
    if (assigned)
        ip->setAssignedIpData(address, latitude, longitude);
    else
        ip->setLocalIpData(address, latitude, longitude);
}

void TovraApiManager::GetLocalIpData()
{
    getAuthorized(ApiPaths::UserIp, &TovraApiManager::OnLocalIpDataFinished);
}

void TovraApiManager::OnLocalIpDataFinished(QNetworkReply *networkReply)
{
    ReplyLog log = logAs(ApiPaths::UserIp);
    log.body = QStringLiteral("Local ") + log.body;
    const ApiReply reply = readReply(networkReply, log);
    if (reportFailure(reply))
        fillIpData(false, reply.object());
}

void TovraApiManager::GetAssignedIpData()
{
    // Only the newest check's request may answer.
    CancelAssignedIpCheck();
    QNetworkReply *reply = getAuthorized(ApiPaths::UserIp, &TovraApiManager::OnAssignedIpReplyFinished);
    m_assignedIpReply = reply;
    if (reply && reply->isRunning()) {
        // One timer per request, so a second check cannot take the first one's time limit away.
        auto *timer = new QTimer(reply);
        timer->setObjectName(QStringLiteral("assignedIpTimer"));
        timer->setSingleShot(true);
        timer->setInterval(m_timings.assignedIpTimeoutMs);
        connect(timer, &QTimer::timeout, reply, &QNetworkReply::abort);
        timer->start();
    }
}

void TovraApiManager::CancelAssignedIpCheck()
{
    QNetworkReply *reply = m_assignedIpReply;
    m_assignedIpReply = nullptr;
    if (!reply)
        return;
    // Dropped without an answer: its handler is cut off before the abort finishes it.
    disconnect(reply, nullptr, this, nullptr);
    reply->abort();
    reply->deleteLater();
}

void TovraApiManager::OnAssignedIpReplyFinished(QNetworkReply *networkReply)
{
    if (networkReply == m_assignedIpReply)
        m_assignedIpReply = nullptr;
    if (auto *timer = networkReply->findChild<QTimer *>(QStringLiteral("assignedIpTimer")))
        timer->stop();
    ReplyLog log = logAs(ApiPaths::UserIp);
    log.body = log.errorBody = QStringLiteral("Assigned ") + log.body;
    const ApiReply reply = readReply(networkReply, log);
    if (reply.failed)
        logNetworkError(reply);
    // Errors, time-outs and empty results all reach the IP manager as an unknown address.
    fillIpData(true, reply.hasObject() ? reply.object() : QJsonObject());
}

// ---- account links --------------------------------------------------------------------------------------------

void TovraApiManager::GetUserAutoAuthUrl(const QString &suffix)
{
    getAuthorized(ApiPaths::AutoAuthUrl, &TovraApiManager::OnUserAutoAuthUrlReceived, suffix);
}

void TovraApiManager::OpenUpgradeUrl()
{
    const TovraUserData &user = AppContext::instance()->authManager()->userData();
    if (user.isTrial)
        GetUserAutoAuthUrl(QStringLiteral("?goto=upgrade-trial.php"));
    else if (user.isUnlimited)
        GetUserAutoAuthUrl(QStringLiteral("?goto=clientarea.php%23upgrade-to-unlim-annual"));
    else
        GetUserAutoAuthUrl(QStringLiteral("?goto=clientarea.php%23upgrade-50-to-unlim"));
}

void TovraApiManager::OnUserAutoAuthUrlReceived(QNetworkReply *networkReply)
{
    const ApiReply reply = readReply(networkReply, logAs(ApiPaths::AutoAuthUrl));
    if (reply.failed) {
        logNetworkError(reply);
        return;
    }
    const QString link = reply.object().value(QStringLiteral("url")).toString();
    if (link.isEmpty()) {
        qDebug() << "Auto_auth response is empty. Do nothing";
        return;
    }
    qDebug().noquote() << QStringLiteral("Account link found: ") + link;
    // Only web pages go to the browser; any other scheme could start a local program.
    const QUrl url(link);
    if (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http")) {
        qDebug().noquote() << QStringLiteral("Account link is not a web address. Not opened: ") + link;
        return;
    }
    QDesktopServices::openUrl(url);
}

// ---- server list ----------------------------------------------------------------------------------------------

void TovraApiManager::GetServerList()
{
    getAuthorized(ApiPaths::Servers, &TovraApiManager::OnServerListFinished, QStringLiteral("?is_debug=false"));
}

void TovraApiManager::OnServerListFinished(QNetworkReply *networkReply)
{
    ReplyLog log = logAs(ApiPaths::Servers);
    log.body += QLatin1Char('\n');
    const ApiReply reply = readReply(networkReply, log);
    if (reply.failed) {
        reportNetworkError(reply);
        return;
    }
    if (reply.document.isEmpty()) {
        reportEmptyResult();
        return;
    }
    // Anything but an array gives empty lists, which still replace the old ones.
    m_serverLists = BuildServerLists(reply.document.array());
    AppContext::instance()->serverManager()->SetServerLists(m_serverLists.full, m_serverLists.smart,
                                                            m_serverLists.fullB2b, m_serverLists.smartB2b);
}

bool TovraApiManager::IsRegularCountryServerAdded(const QString &countryCode) const
{
    return m_serverLists.hasSmartEntry(false, countryCode, ServerLists::Regular);
}

bool TovraApiManager::IsRegularCountryB2bServerAdded(const QString &countryCode) const
{
    return m_serverLists.hasSmartEntry(true, countryCode, ServerLists::Regular);
}

bool TovraApiManager::IsP2pCountryServerAdded(const QString &countryCode) const
{
    return m_serverLists.hasSmartEntry(false, countryCode, ServerLists::P2p);
}

bool TovraApiManager::IsP2pCountryB2bServerAdded(const QString &countryCode) const
{
    return m_serverLists.hasSmartEntry(true, countryCode, ServerLists::P2p);
}

bool TovraApiManager::IsStreamingCountryServerAdded(const QString &countryCode) const
{
    return m_serverLists.hasSmartEntry(false, countryCode, ServerLists::Streaming);
}

bool TovraApiManager::IsStreamingCountryB2bServerAdded(const QString &countryCode) const
{
    return m_serverLists.hasSmartEntry(true, countryCode, ServerLists::Streaming);
}

void TovraApiManager::SetNearestCountryForSmartList(const QString &countryCode)
{
    m_serverLists.setNearestCountry(false, countryCode);
}

void TovraApiManager::SetNearestCountryForB2bSmartList(const QString &countryCode)
{
    m_serverLists.setNearestCountry(true, countryCode);
}

// ---- best server ----------------------------------------------------------------------------------------------

void TovraApiManager::GetBestServer(const QString &countryCode, bool isP2p, bool isStreaming)
{
    const auto text = [](bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); };
    getAuthorized(ApiPaths::BestServer, &TovraApiManager::OnServerBestFinished,
                  QStringLiteral("?country_code=%1&is_p2p=%2&is_streaming=%3")
                      .arg(QString::fromLatin1(QUrl::toPercentEncoding(countryCode)), text(isP2p), text(isStreaming)));
}

void TovraApiManager::OnServerBestFinished(QNetworkReply *networkReply)
{
    const ApiReply reply = readReply(networkReply, logAs(ApiPaths::BestServer));
    if (reply.failed)
        logNetworkError(reply);
    if (!reply.hasObject()) {
        emit BestServerReceived(false, TovraServer());
        return;
    }
    const QJsonObject object = reply.object();
    TovraServer best;
    best.countryCode = object.value(QStringLiteral("country_code")).toString();
    best.shortName = object.value(QStringLiteral("short_name")).toString();
    best.ip = object.value(QStringLiteral("ip")).toString();
    readCoordinates(object, &best.latitude, &best.longitude);
    best.loadPercentage = object.value(QStringLiteral("load_percentage")).toInt(0);
    best.loadIcon = ServerIcons::loadIcon(best.loadPercentage);
    qDebug().noquote() << QString(QStringLiteral("Best server found: ") + best.shortName + QStringLiteral(" (") +
                                  best.ip + QLatin1Char(')'));
    emit BestServerReceived(true, best);
}

// ---- OpenVPN configuration ------------------------------------------------------------------------------------

void TovraApiManager::GetOpenVpnTcpConfig()
{
    getAuthorized(ApiPaths::OpenVpnTcpConfig, &TovraApiManager::OnOpenVpnTcpConfigFinished);
}

void TovraApiManager::GetOpenVpnUdpConfig()
{
    getAuthorized(ApiPaths::OpenVpnUdpConfig, &TovraApiManager::OnOpenVpnUdpConfigFinished);
}

void TovraApiManager::handleOpenVpnConfig(QNetworkReply *networkReply, const char *path, bool tcp)
{
    const ApiReply reply = readReply(networkReply, logAs(path));
    if (!reportFailure(reply))
        return;
    const QString config = reply.object().value(QStringLiteral("openvpn_config")).toString();
    // A reply without a configuration has nothing to connect with.
    if (config.isEmpty()) {
        reportEmptyResult();
        return;
    }
    if (tcp)
        emit OpenVpnTcpConfigUpdated(config);
    else
        emit OpenVpnUdpConfigUpdated(config);
}

void TovraApiManager::OnOpenVpnTcpConfigFinished(QNetworkReply *reply)
{
    handleOpenVpnConfig(reply, ApiPaths::OpenVpnTcpConfig, true);
}

void TovraApiManager::OnOpenVpnUdpConfigFinished(QNetworkReply *reply)
{
    handleOpenVpnConfig(reply, ApiPaths::OpenVpnUdpConfig, false);
}

// ---- update check ---------------------------------------------------------------------------------------------

void TovraApiManager::GetUpdateData()
{
    const QString url = m_apiBaseUrl + apiPath(ApiPaths::UpdateCheck) + apiPath(ApiPaths::UpdatePlatform);
    qDebug().noquote() << url;
    get(makeRequest(url), &TovraApiManager::OnUpdateDataFinished);
}

void TovraApiManager::OnUpdateDataFinished(QNetworkReply *networkReply)
{
    const QString body = QStringLiteral("/config/app update api response: ");
    const ApiReply reply = readReply(networkReply, ReplyLog{QStringLiteral("/config/app"), body, body});
    const QString defaultPage = BuildConstants::downloadPageUrl();
    if (reply.failed)
        logNetworkError(reply);
    if (!reply.hasObject()) {
        emit UpdateDataReceived(QStringLiteral("0.0.0.0"), defaultPage);
        return;
    }
    const QJsonObject object = reply.object();
    const QString version = object.value(QStringLiteral("version")).toString(QStringLiteral("0.0.0"));
    // The build number may come as a JSON number as well as a string.
    const QJsonValue buildValue = object.value(QStringLiteral("build"));
    QString build = buildValue.toString(QStringLiteral("0"));
    if (buildValue.isDouble()) {
        // Whole numbers up to 2^53 only: a larger one has no exact integer and must not reach the conversion.
        const double number = buildValue.toDouble();
        if (number >= 0 && number < 9007199254740992.0 && number == std::floor(number))
            build = QString::number(static_cast<qint64>(number));
        else
            qDebug().noquote() << "Update data: build" << QString::number(number)
                               << "is no whole number in range; 0 taken";
    }
    const QString downloadUrl = object.value(QStringLiteral("url")).toString(defaultPage);
    emit UpdateDataReceived(QStringLiteral("%1.%2").arg(version, build), downloadUrl);
}

// ---- support ticket -------------------------------------------------------------------------------------------

void TovraApiManager::SendSupportTicket(bool signedIn)
{
    AppContext *context = AppContext::instance();
    const QString url = m_apiBaseUrl + apiPath(signedIn ? ApiPaths::TicketSignedIn : ApiPaths::TicketAnonymous);

    QByteArray body("{\"name\": \"");
    // Escaped, so a quote or a backslash in the name cannot break the JSON and lose the ticket.
    body += signedIn ? jsonStringContent(context->authManager()->userData().firstName) : QByteArray("Non-logged user");
    body += "\", ";
    body += "\"subject\": \"Automatic ticket from TOVRA v.";
    body += jsonStringContent(FormatVersion(ReadAppVersion()));
    body += "\", ";
    body += "\"message\": \"This ticket was automatically generated by TOVRA application request.\", ";
    qDebug().noquote() << url + QStringLiteral(" post data without logfile and supportfile: ") +
                              QString::fromUtf8(body);
    body += "\"client_log\": \"";
    body += fileAsBase64(context->dataPaths()->logFile());
    body += "\", ";
    if (signedIn) {
        body += "\"collected_data\": \"";
        body += fileAsBase64(context->dataPaths()->supportDataFile());
        body += "\"}";
    } else {
        body += "\"collected_data\": \"\"}";
    }
    post(url, body, signedIn, &TovraApiManager::OnSupportTicketFinished);
}

void TovraApiManager::OnSupportTicketFinished(QNetworkReply *networkReply)
{
    const ApiReply reply = readReply(networkReply, logAs(ApiPaths::TicketSignedIn));
    if (reply.failed)
        logNetworkError(reply);
    if (!reply.hasObject()) {
        emit SupportTicketFinished(false, QString());
        return;
    }
    emit SupportTicketFinished(true, reply.object().value(QStringLiteral("url")).toString());
}

// ---- map image ------------------------------------------------------------------------------------------------

QString TovraApiManager::encodePolyline(double fromLatitude, double fromLongitude, double toLatitude,
                                        double toLongitude)
{
    QString out;
    appendPolylineNumber(out, fromLatitude);
    appendPolylineNumber(out, fromLongitude);
    appendPolylineNumber(out, toLatitude - fromLatitude);
    appendPolylineNumber(out, toLongitude - fromLongitude);
    return out;
}

QString TovraApiManager::mapImageUrl(double userLongitude, double userLatitude, double serverLongitude,
                                     double serverLatitude, bool drawPath) const
{
    AppContext *context = AppContext::instance();
    const bool hiDpi = context->config()->highDpiScreen;
    const int height = context->authManager()->userData().isB2b ? ApiPaths::MapHeightB2b : ApiPaths::MapHeight;
    const auto marker = [this](const char *path) {
        return QString::fromLatin1(QUrl::toPercentEncoding(m_portalBaseUrl + QLatin1String(path)));
    };

    // The polyline may hold "?" and other characters that end a path.
    QString route;
    if (drawPath)
        route = QString::fromLatin1(ApiPaths::RouteLine)
                    .arg(QString::fromLatin1(QUrl::toPercentEncoding(
                        encodePolyline(userLatitude, userLongitude, serverLatitude, serverLongitude))));
    QString url = m_mapApiBaseUrl + QLatin1String(ApiPaths::MapStylePath) + route;
    url += QStringLiteral("url-") + marker(hiDpi ? ApiPaths::MarkerSelf2x : ApiPaths::MarkerSelf) +
           QStringLiteral("(%1,%2)").arg(userLongitude).arg(userLatitude);
    url += QStringLiteral(",url-") + marker(hiDpi ? ApiPaths::MarkerServer2x : ApiPaths::MarkerServer) +
           QStringLiteral("(%1,%2)").arg(serverLongitude).arg(serverLatitude);
    url += (hiDpi ? QStringLiteral("/auto/%1x%2@2x?access_token=%3") : QStringLiteral("/auto/%1x%2?access_token=%3"))
               .arg(ApiPaths::MapWidth)
               .arg(height)
               .arg(BuildConstants::mapAccessToken());
    return url;
}

void TovraApiManager::GetMapImage(double userLongitude, double userLatitude, double serverLongitude,
                                  double serverLatitude, bool drawPath)
{
    const QString url = mapImageUrl(userLongitude, userLatitude, serverLongitude, serverLatitude, drawPath);
    qDebug().noquote() << QStringLiteral("Sending map request: ") + url;
    get(makeRequest(url), &TovraApiManager::OnMapImageRequestFinished);
}

void TovraApiManager::OnMapImageRequestFinished(QNetworkReply *networkReply)
{
    // The image is not JSON and is not logged.
    const ApiReply reply = readReply(networkReply, ReplyLog{QStringLiteral("Map request"), QString(), QString()});
    if (reply.failed) {
        qDebug().noquote() << QStringLiteral("Error ocurred when loading google map image: ") + reply.errorString;
        emit MapImageReceived(false, QImage());
        return;
    }
    QImage image;
    image.loadFromData(reply.body);
    emit MapImageReceived(true, image);
}
