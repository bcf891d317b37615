#include "api/tovraapimanager.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>
#include <cmath>
#include <limits>

#include "api/apipaths.h"
#include "api/tovraauthmanager.h"
#include "app/appcontext.h"
#include "app/apptypes.h"
#include "app/buildconstants.h"
#include "guard/tovraipmanager.h"
#include "servers/tovraservermanager.h"

namespace {

enum SmartKind { RegularKind, P2pKind, StreamingKind };

QString Path(const char *path)
{
    return QString::fromLatin1(path);
}

int StatusOf(QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

void LogStatus(const QString &label, int status)
{
    qDebug().noquote() << label + QStringLiteral(" response code: ") << status;
}

void LogBody(const QString &label, const QByteArray &body)
{
    qDebug().noquote() << label + QStringLiteral(" api response: ") << QString::fromUtf8(body);
}

void LogNetworkError(QNetworkReply *reply)
{
    qDebug().noquote() << "Network error occurred during api call: " << reply->errorString();
}

// False for an empty body, a body that is not JSON, and JSON that is not an object.
bool ParseObject(const QByteArray &body, QJsonObject *object)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (document.isEmpty() || !document.isObject())
        return false;
    *object = document.object();
    return true;
}

bool Flag(const QJsonValue &value)
{
    return value.toInt(0) == 1;
}

// Negative, fractional and out-of-range counts must not reach the unsigned conversion unchecked.
quint64 ByteCount(const QJsonValue &value)
{
    const double number = value.toDouble(0);
    if (!(number > 0))
        return 0;
    if (number >= 18446744073709551616.0)
        return std::numeric_limits<quint64>::max();
    return static_cast<quint64>(number);
}

// "location": {"coordinates": [longitude, latitude]}
void Coordinates(const QJsonObject &object, double *latitude, double *longitude)
{
    const QJsonArray coordinates =
        object.value(QStringLiteral("location")).toObject().value(QStringLiteral("coordinates")).toArray();
    *longitude = coordinates.at(0).toDouble(0);
    *latitude = coordinates.at(1).toDouble(0);
}

// The characters of a JSON string literal without its quotes; plain text comes out unchanged.
QByteArray JsonStringContent(const QString &text)
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

QByteArray FileAsBase64(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll().toBase64();
}

void AppendPolylineNumber(QString &out, double value)
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
void ReleaseNetwork()
{
    AppContext::instance()->apiManager()->ReleaseNetwork();
}

} // namespace

TovraApiManager::TovraApiManager()
    : m_manager(new QNetworkAccessManager), m_apiBaseUrl(BuildConstants::apiBaseUrl()),
      m_portalBaseUrl(BuildConstants::portalBaseUrl()), m_mapApiBaseUrl(BuildConstants::mapApiBaseUrl())
{
    qRegisterMetaType<TovraServer>("TovraServer");
    connect(m_manager, &QNetworkAccessManager::sslErrors, this, &TovraApiManager::ProcessSslErrors);
    qAddPostRoutine(::ReleaseNetwork);
}

TovraApiManager::~TovraApiManager()
{
    ReleaseNetwork();
}

void TovraApiManager::ReleaseNetwork()
{
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

QNetworkRequest TovraApiManager::MakeRequest(const QString &url) const
{
    QNetworkRequest request{QUrl(url)};
    request.setRawHeader("Connection", "close");
    return request;
}

QNetworkRequest TovraApiManager::MakeAuthorizedRequest(const QString &url) const
{
    QNetworkRequest request = MakeRequest(url);
    request.setRawHeader("Authorization", QStringLiteral("Bearer: %1").arg(token).toLatin1());
    return request;
}

QNetworkReply *TovraApiManager::Get(const QNetworkRequest &request, ReplyHandler handler)
{
    if (!m_manager)
        return nullptr;
    QNetworkReply *reply = m_manager->get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply, handler] { (this->*handler)(reply); });
    return reply;
}

QNetworkReply *TovraApiManager::Post(const QString &url, const QByteArray &body, bool authorized, ReplyHandler handler)
{
    QNetworkRequest request = MakeRequest(url);
    request.setRawHeader("Content-Type", "application/json");
    // Qt sets this once more from the upload size when it sends, which moves it behind the others on the wire.
    request.setRawHeader("Content-Length", QByteArray::number(body.size()));
    if (authorized)
        request.setRawHeader("Authorization", QStringLiteral("Bearer: %1").arg(token).toLatin1());
    if (!m_manager)
        return nullptr;
    QNetworkReply *reply = m_manager->post(request, body);
    connect(reply, &QNetworkReply::finished, this, [this, reply, handler] { (this->*handler)(reply); });
    return reply;
}

QNetworkReply *TovraApiManager::PostJson(const QString &url, const QJsonObject &body, ReplyHandler handler)
{
    const QByteArray data = QJsonDocument(body).toJson();
    qDebug().noquote() << url << " post data: " << QString::fromUtf8(data);
    return Post(url, data, false, handler);
}

void TovraApiManager::ProcessSslErrors(QNetworkReply *pReply, const QList<QSslError> &errors)
{
    qDebug() << "SSL errors: " << errors;
    pReply->ignoreSslErrors();
}

void TovraApiManager::ReportNetworkError(QNetworkReply *reply)
{
    LogNetworkError(reply);
    emit ApiErrorOccurred(QStringLiteral("Network error: %1").arg(reply->errorString()));
}

void TovraApiManager::ReportEmptyResult()
{
    emit ApiErrorOccurred(QStringLiteral("API returned empty result"));
}

// ---- sign-in and password reset -------------------------------------------------------------------------------

void TovraApiManager::AuthEmail(const QString &email, const QString &password)
{
    const QString url = QStringLiteral("%1%2").arg(m_apiBaseUrl, Path(ApiPaths::AuthEmail));
    QJsonObject body{{QStringLiteral("email"), email}, {QStringLiteral("password"), password}};
    const QByteArray data = QJsonDocument(body).toJson();
    // The log shows the password as stars only.
    body.insert(QStringLiteral("password"), QString(password.size(), QLatin1Char('*')));
    qDebug().noquote() << url << " post data: " << QString::fromUtf8(QJsonDocument(body).toJson());
    Post(url, data, false, &TovraApiManager::OnAuthEmailFinished);
}

void TovraApiManager::AuthFacebook(const QString &secureToken)
{
    PostJson(QStringLiteral("%1%2").arg(m_apiBaseUrl, Path(ApiPaths::AuthFacebook)),
             QJsonObject{{QStringLiteral("secure_token"), secureToken}}, &TovraApiManager::OnAuthFacebookFinished);
}

void TovraApiManager::AuthGoogle(const QString &code, const QString &redirectUri)
{
    PostJson(QStringLiteral("%1%2").arg(m_apiBaseUrl, Path(ApiPaths::AuthGoogle)),
             QJsonObject{{QStringLiteral("code"), code}, {QStringLiteral("redirect_uri"), redirectUri}},
             &TovraApiManager::OnAuthGoogleFinished);
}

void TovraApiManager::ResetPassword(const QString &email)
{
    PostJson(QStringLiteral("%1%2").arg(m_apiBaseUrl, Path(ApiPaths::ResetPassword)),
             QJsonObject{{QStringLiteral("email"), email}}, &TovraApiManager::OnAuthPasswordResetFinished);
}

namespace {

// Shared by the three sign-in replies; only the e-mail sign-in knows the blacklist answer.
void HandleSignIn(TovraApiManager *api, QNetworkReply *reply, const QString &path, bool email,
                  void (TovraApiManager::*reportError)(QNetworkReply *), void (TovraApiManager::*reportEmpty)())
{
    const int status = StatusOf(reply);
    LogStatus(path, status);
    const QByteArray body = reply->readAll();
    LogBody(path, body);
    TovraAuthManager *auth = AppContext::instance()->authManager();
    if (reply->error() != QNetworkReply::NoError) {
        if (status == 401 || status == 404)
            auth->OnCredentialsChecked(TovraAuthManager::AuthFailed, QString());
        else if (status == 503 && email)
            auth->OnCredentialsChecked(TovraAuthManager::AuthIpBlacklisted, QString());
        else
            (api->*reportError)(reply);
        return;
    }
    QJsonObject object;
    const QString token = ParseObject(body, &object) ? object.value(QStringLiteral("token")).toString() : QString();
    // A reply without a token cannot sign anybody in.
    if (token.isEmpty()) {
        (api->*reportEmpty)();
        return;
    }
    auth->OnCredentialsChecked(TovraAuthManager::AuthSuccess, token);
}

} // namespace

void TovraApiManager::OnAuthEmailFinished(QNetworkReply *reply)
{
    HandleSignIn(this, reply, Path(ApiPaths::AuthEmail), true, &TovraApiManager::ReportNetworkError,
                 &TovraApiManager::ReportEmptyResult);
    reply->deleteLater();
}

void TovraApiManager::OnAuthFacebookFinished(QNetworkReply *reply)
{
    HandleSignIn(this, reply, Path(ApiPaths::AuthFacebook), false, &TovraApiManager::ReportNetworkError,
                 &TovraApiManager::ReportEmptyResult);
    reply->deleteLater();
}

void TovraApiManager::OnAuthGoogleFinished(QNetworkReply *reply)
{
    HandleSignIn(this, reply, Path(ApiPaths::AuthGoogle), false, &TovraApiManager::ReportNetworkError,
                 &TovraApiManager::ReportEmptyResult);
    reply->deleteLater();
}

void TovraApiManager::OnAuthPasswordResetFinished(QNetworkReply *reply)
{
    const QString path = Path(ApiPaths::ResetPassword);
    LogStatus(path, StatusOf(reply));
    LogBody(path, reply->readAll());
    if (reply->error() != QNetworkReply::NoError) {
        LogNetworkError(reply);
        emit PasswordResetRequestSent(false);
    } else {
        emit PasswordResetRequestSent(true);
    }
    reply->deleteLater();
}

// ---- user-data chain ------------------------------------------------------------------------------------------

void TovraApiManager::GetUserPlan()
{
    m_userData.clear();
    const QString url = QStringLiteral("%1%2").arg(m_apiBaseUrl, Path(ApiPaths::UserPlan));
    qDebug() << "Get user's plan";
    qDebug().noquote() << url;
    Get(MakeAuthorizedRequest(url), &TovraApiManager::OnUserPlanReceived);
}

void TovraApiManager::GetUserBandwidth()
{
    const QString url = QStringLiteral("%1%2").arg(m_apiBaseUrl, Path(ApiPaths::UserBandwidth));
    qDebug() << "Get user's bandwidth data";
    qDebug().noquote() << url;
    Get(MakeAuthorizedRequest(url), &TovraApiManager::OnUserBandwidthReceived);
}

void TovraApiManager::GetUserData()
{
    const QString url = QStringLiteral("%1%2").arg(m_apiBaseUrl, Path(ApiPaths::UserDetails));
    qDebug() << "Get user's details";
    qDebug().noquote() << url;
    Get(MakeAuthorizedRequest(url), &TovraApiManager::OnUserDataReceived);
}

void TovraApiManager::OnUserPlanReceived(QNetworkReply *reply)
{
    reply->deleteLater();
    const QString path = Path(ApiPaths::UserPlan);
    const int status = StatusOf(reply);
    LogStatus(path, status);
    const QByteArray body = reply->readAll();
    LogBody(path, body);
    if (reply->error() != QNetworkReply::NoError) {
        // Only an HTTP answer can refuse the token; without one (status 0) the network failed, and the
        // session must survive that.
        if (status == 0 || status > 499)
            ReportNetworkError(reply);
        else
            AppContext::instance()->authManager()->OnUserDataChecked(TovraAuthManager::AuthFailed, m_userData);
        return;
    }
    QJsonObject object;
    if (!ParseObject(body, &object)) {
        ReportEmptyResult();
        return;
    }
    m_userData.isUnlimited = Flag(object.value(QStringLiteral("is_unlimited")));
    m_userData.isAnnual = Flag(object.value(QStringLiteral("is_annual")));
    m_userData.isTrial = Flag(object.value(QStringLiteral("is_trial")));
    m_userData.status = object.value(QStringLiteral("status")).toString().toUpper();
    if (m_userData.status != QLatin1String("ACTIVE")) {
        AppContext::instance()->authManager()->OnUserDataChecked(TovraAuthManager::AuthAccountInactive, m_userData);
        return;
    }
    qDebug() << "User has active status. Proceed to next api request.";
    GetUserBandwidth();
}

void TovraApiManager::OnUserBandwidthReceived(QNetworkReply *reply)
{
    reply->deleteLater();
    const QString path = Path(ApiPaths::UserBandwidth);
    LogStatus(path, StatusOf(reply));
    const QByteArray body = reply->readAll();
    LogBody(path, body);
    if (reply->error() != QNetworkReply::NoError) {
        ReportNetworkError(reply);
        return;
    }
    QJsonObject object;
    if (!ParseObject(body, &object)) {
        ReportEmptyResult();
        return;
    }
    m_userData.bytesTotal = ByteCount(object.value(QStringLiteral("bytes_total")));
    m_userData.bytesUsed = ByteCount(object.value(QStringLiteral("bytes_used")));
    GetUserData();
}

void TovraApiManager::OnUserDataReceived(QNetworkReply *reply)
{
    reply->deleteLater();
    const QString path = Path(ApiPaths::UserDetails);
    LogStatus(path, StatusOf(reply));
    const QByteArray body = reply->readAll();
    LogBody(path, body);
    if (reply->error() != QNetworkReply::NoError) {
        ReportNetworkError(reply);
        return;
    }
    QJsonObject object;
    if (!ParseObject(body, &object)) {
        ReportEmptyResult();
        return;
    }
    m_userData.email = object.value(QStringLiteral("email")).toString();
    m_userData.id = object.value(QStringLiteral("id")).toString();
    m_userData.firstName = object.value(QStringLiteral("first_name")).toString();
    m_userData.lastName = object.value(QStringLiteral("last_name")).toString();
    m_userData.isB2b = Flag(object.value(QStringLiteral("is_b2b")));
    AppContext::instance()->authManager()->OnUserDataChecked(TovraAuthManager::AuthSuccess, m_userData);
}

// ---- traffic refresh ------------------------------------------------------------------------------------------

void TovraApiManager::UpdateUserBandwidth()
{
    const QString url = QStringLiteral("%1%2").arg(m_apiBaseUrl, Path(ApiPaths::UserBandwidth));
    qDebug() << "Update user's bandwidth data";
    qDebug().noquote() << url;
    Get(MakeAuthorizedRequest(url), &TovraApiManager::OnUserBandwidthUpdateFinished);
}

void TovraApiManager::OnUserBandwidthUpdateFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    const QString path = Path(ApiPaths::UserBandwidth);
    LogStatus(path, StatusOf(reply));
    const QByteArray body = reply->readAll();
    LogBody(path, body);
    TovraAuthManager *auth = AppContext::instance()->authManager();
    if (reply->error() != QNetworkReply::NoError) {
        LogNetworkError(reply);
        auth->OnTrafficUpdated(false, 0, 0, false);
        return;
    }
    QJsonObject object;
    if (!ParseObject(body, &object)) {
        auth->OnTrafficUpdated(false, 0, 0, false);
        return;
    }
    auth->OnTrafficUpdated(true, ByteCount(object.value(QStringLiteral("bytes_total"))),
                           ByteCount(object.value(QStringLiteral("bytes_used"))),
                           Flag(object.value(QStringLiteral("is_unlimited"))));
}

// ---- IP data --------------------------------------------------------------------------------------------------

void TovraApiManager::FillIpData(bool assigned, const QJsonObject &object)
{
    double latitude = 0;
    double longitude = 0;
    Coordinates(object, &latitude, &longitude);
    TovraIpManager *ip = AppContext::instance()->ipManager();
    const QString address = object.value(QStringLiteral("ip")).toString();
    if (assigned)
        ip->SetAssignedIpData(address, latitude, longitude);
    else
        ip->SetLocalIpData(address, latitude, longitude);
}

void TovraApiManager::GetLocalIpData()
{
    const QString url = QStringLiteral("%1%2").arg(m_apiBaseUrl, Path(ApiPaths::UserIp));
    qDebug().noquote() << url;
    Get(MakeAuthorizedRequest(url), &TovraApiManager::OnLocalIpDataFinished);
}

void TovraApiManager::OnLocalIpDataFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    const QString path = Path(ApiPaths::UserIp);
    LogStatus(path, StatusOf(reply));
    const QByteArray body = reply->readAll();
    if (reply->error() != QNetworkReply::NoError) {
        LogBody(path, body);
        ReportNetworkError(reply);
        return;
    }
    LogBody(QStringLiteral("Local ") + path, body);
    QJsonObject object;
    if (!ParseObject(body, &object)) {
        ReportEmptyResult();
        return;
    }
    FillIpData(false, object);
}

void TovraApiManager::GetAssignedIpData()
{
    const QString url = QStringLiteral("%1%2").arg(m_apiBaseUrl, Path(ApiPaths::UserIp));
    qDebug().noquote() << url;
    QNetworkReply *reply = Get(MakeAuthorizedRequest(url), &TovraApiManager::OnAssignedIpReplyFinished);
    if (reply && reply->isRunning()) {
        // One timer per request, so a second check cannot take the first one's time limit away.
        auto *timer = new QTimer(reply);
        timer->setObjectName(QStringLiteral("assignedIpTimer"));
        timer->setSingleShot(true);
        timer->setInterval(m_assignedIpTimeout);
        connect(timer, &QTimer::timeout, reply, &QNetworkReply::abort);
        timer->start();
    }
}

void TovraApiManager::OnAssignedIpReplyFinished(QNetworkReply *reply)
{
    if (auto *timer = reply->findChild<QTimer *>(QStringLiteral("assignedIpTimer")))
        timer->stop();
    reply->deleteLater();
    const QString path = Path(ApiPaths::UserIp);
    LogStatus(path, StatusOf(reply));
    const QByteArray body = reply->readAll();
    LogBody(QStringLiteral("Assigned ") + path, body);
    QJsonObject object;
    if (reply->error() != QNetworkReply::NoError)
        LogNetworkError(reply);
    else
        ParseObject(body, &object);
    // Errors, time-outs and empty results all reach the IP manager as an unknown address.
    FillIpData(true, object);
}

// ---- account links --------------------------------------------------------------------------------------------

void TovraApiManager::GetUserAutoAuthUrl(const QString &suffix)
{
    const QString url = suffix.isEmpty()
                            ? QStringLiteral("%1%2").arg(m_apiBaseUrl, Path(ApiPaths::AutoAuthUrl))
                            : QStringLiteral("%1%2%3").arg(m_apiBaseUrl, Path(ApiPaths::AutoAuthUrl), suffix);
    qDebug().noquote() << url;
    Get(MakeAuthorizedRequest(url), &TovraApiManager::OnUserAutoAuthUrlReceived);
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

void TovraApiManager::OnUserAutoAuthUrlReceived(QNetworkReply *reply)
{
    reply->deleteLater();
    const QString path = Path(ApiPaths::AutoAuthUrl);
    LogStatus(path, StatusOf(reply));
    const QByteArray body = reply->readAll();
    LogBody(path, body);
    if (reply->error() != QNetworkReply::NoError) {
        LogNetworkError(reply);
        return;
    }
    QJsonObject object;
    const QString link = ParseObject(body, &object) ? object.value(QStringLiteral("url")).toString() : QString();
    if (link.isEmpty()) {
        qDebug() << "Auto_auth response is empty. Do nothing";
        return;
    }
    qDebug().noquote() << "Account link found: " << link;
    // Only web pages go to the browser; any other scheme could start a local program.
    const QUrl url(link);
    if (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http")) {
        qDebug().noquote() << "Account link is not a web address. Not opened:" << link;
        return;
    }
    QDesktopServices::openUrl(url);
}

// ---- server list ----------------------------------------------------------------------------------------------

void TovraApiManager::GetServerList()
{
    const QString url = QStringLiteral("%1%2?is_debug=false").arg(m_apiBaseUrl, Path(ApiPaths::Servers));
    qDebug().noquote() << url;
    Get(MakeAuthorizedRequest(url), &TovraApiManager::OnServerListFinished);
}

void TovraApiManager::OnServerListFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    const QString path = Path(ApiPaths::Servers);
    LogStatus(path, StatusOf(reply));
    const QByteArray body = reply->readAll();
    if (reply->error() != QNetworkReply::NoError) {
        LogBody(path, body);
        ReportNetworkError(reply);
        return;
    }
    qDebug().noquote() << path + QStringLiteral(" api response: \n") << QString::fromUtf8(body);
    const QJsonDocument document = QJsonDocument::fromJson(body);
    if (document.isEmpty()) {
        ReportEmptyResult();
        return;
    }
    BuildServerLists(document.array());
}

bool TovraApiManager::HasSmartEntry(const QList<TovraServer> &list, const QString &countryCode, int kind) const
{
    for (const TovraServer &server : list) {
        if (server.countryCode != countryCode)
            continue;
        if ((kind == RegularKind && !server.isP2p && !server.isStreaming) || (kind == P2pKind && server.isP2p) ||
            (kind == StreamingKind && server.isStreaming))
            return true;
    }
    return false;
}

bool TovraApiManager::IsRegularCountryServerAdded(const QString &countryCode) const
{
    return HasSmartEntry(smartList, countryCode, RegularKind);
}

bool TovraApiManager::IsRegularCountryB2bServerAdded(const QString &countryCode) const
{
    return HasSmartEntry(smartB2bList, countryCode, RegularKind);
}

bool TovraApiManager::IsP2pCountryServerAdded(const QString &countryCode) const
{
    return HasSmartEntry(smartList, countryCode, P2pKind);
}

bool TovraApiManager::IsP2pCountryB2bServerAdded(const QString &countryCode) const
{
    return HasSmartEntry(smartB2bList, countryCode, P2pKind);
}

bool TovraApiManager::IsStreamingCountryServerAdded(const QString &countryCode) const
{
    return HasSmartEntry(smartList, countryCode, StreamingKind);
}

bool TovraApiManager::IsStreamingCountryB2bServerAdded(const QString &countryCode) const
{
    return HasSmartEntry(smartB2bList, countryCode, StreamingKind);
}

void TovraApiManager::SetNearest(QList<TovraServer> &list, const QString &countryCode, const char *message)
{
    for (TovraServer &server : list) {
        if (server.countryCode == countryCode) {
            server.isNearest = true;
            qDebug().noquote() << message << server.displayName;
        }
    }
}

void TovraApiManager::SetNearestCountryForSmartList(const QString &countryCode)
{
    SetNearest(smartList, countryCode, "Is_nearest flag set in smart server list on: ");
}

void TovraApiManager::SetNearestCountryForB2bSmartList(const QString &countryCode)
{
    SetNearest(smartB2bList, countryCode, "Is_nearest flag set in smart B2B server list on: ");
}

void TovraApiManager::BuildServerLists(const QJsonArray &servers)
{
    fullList.clear();
    smartList.clear();
    fullB2bList.clear();
    smartB2bList.clear();

    static const QRegularExpression digits(QStringLiteral("[0-9]"));
    const auto boolText = [](bool value) { return value ? "true" : "false"; };

    for (const QJsonValue &value : servers) {
        const QJsonObject object = value.toObject();
        TovraServer server;
        server.countryCode = object.value(QStringLiteral("country_code")).toString();
        server.city = object.value(QStringLiteral("city")).toString();
        server.countryName = object.value(QStringLiteral("country_name")).toString();
        server.shortName = object.value(QStringLiteral("short_name")).toString();
        server.ip = object.value(QStringLiteral("ip")).toString();
        server.isP2p = Flag(object.value(QStringLiteral("is_p2p")));
        server.isStreaming = Flag(object.value(QStringLiteral("is_streaming")));
        server.isAlive = Flag(object.value(QStringLiteral("is_alive")));
        server.isB2b = Flag(object.value(QStringLiteral("is_b2b")));
        server.isNearest =
            Flag(object.value(server.isB2b ? QStringLiteral("is_nearest_b2b") : QStringLiteral("is_nearest")));
        server.displayName = QStringLiteral("%1, %2").arg(server.countryName, server.city);
        server.key = server.shortName;
        server.featureIcon = ServerIcons::FeatureIcon(server.isP2p, server.isStreaming);
        Coordinates(object, &server.latitude, &server.longitude);
        server.loadPercentage = object.value(QStringLiteral("load_percentage")).toInt(0);
        server.loadIcon = ServerIcons::LoadIcon(server.loadPercentage);

        qDebug().noquote() << "Found server: " << server.displayName << " address: " << server.shortName
                           << " ip: " << server.ip << " is_nearest:" << boolText(server.isNearest)
                           << "alive:" << boolText(server.isAlive) << "p2p:" << boolText(server.isP2p)
                           << "streaming:" << boolText(server.isStreaming) << "B2B:" << boolText(server.isB2b);

        const bool b2b = server.isB2b;
        if (b2b) {
            fullB2bList.append(server);
            qDebug().noquote() << "Server " + server.shortName + " added to full B2B list as " + server.displayName;
        } else {
            fullList.append(server);
            qDebug().noquote() << "Server " + server.shortName + " added to full list as " + server.displayName;
        }

        // The smart entry of the same server.
        QList<TovraServer> &smart = b2b ? smartB2bList : smartList;
        const QString addedText =
            b2b ? QStringLiteral(" added to smart B2B list as ") : QStringLiteral(" added to smart list as ");
        const QString country = QString(server.countryName).remove(digits).trimmed();
        const QString code = server.countryCode.toLower();
        server.loadPercentage = 0;
        server.loadIcon = ServerIcons::LoadIcon(0);
        const auto append = [&]() {
            smart.append(server);
            qDebug().noquote() << "Server " + server.shortName + addedText + server.displayName;
        };

        bool streamingCase = server.isStreaming;
        if (server.isP2p) {
            if (!(b2b ? IsP2pCountryB2bServerAdded(server.countryCode) : IsP2pCountryServerAdded(server.countryCode))) {
                server.displayName = QStringLiteral("%1, P2P server").arg(country);
                server.key = QStringLiteral("%1_p2p").arg(code);
                server.isStreaming = false;
                server.featureIcon = ServerIcons::FeatureIcon(true, false);
                append();
            }
            streamingCase = server.isStreaming;
        } else if (!server.isStreaming) {
            if (!(b2b ? IsRegularCountryB2bServerAdded(server.countryCode)
                      : IsRegularCountryServerAdded(server.countryCode))) {
                server.displayName = country;
                server.key = QStringLiteral("%1_regular").arg(code);
                append();
            }
        }
        if (streamingCase) {
            if (!(b2b ? IsStreamingCountryB2bServerAdded(server.countryCode)
                      : IsStreamingCountryServerAdded(server.countryCode))) {
                server.displayName = QStringLiteral("%1, Streaming server").arg(country);
                server.key = QStringLiteral("%1_streaming").arg(code);
                server.isP2p = false;
                server.featureIcon = ServerIcons::FeatureIcon(false, true);
                append();
            }
        }

        if (server.isNearest) {
            if (b2b)
                SetNearestCountryForB2bSmartList(server.countryCode);
            else
                SetNearestCountryForSmartList(server.countryCode);
        }
    }

    AppContext::instance()->serverManager()->SetServerLists(fullList, smartList, fullB2bList, smartB2bList);
}

// ---- best server ----------------------------------------------------------------------------------------------

void TovraApiManager::GetBestServer(const QString &countryCode, bool isP2p, bool isStreaming)
{
    const auto flag = [](bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); };
    const QString url =
        QStringLiteral("%1%2?country_code=%3&is_p2p=%4&is_streaming=%5")
            .arg(m_apiBaseUrl, Path(ApiPaths::BestServer), QString::fromLatin1(QUrl::toPercentEncoding(countryCode)),
                 flag(isP2p), flag(isStreaming));
    qDebug().noquote() << url;
    Get(MakeAuthorizedRequest(url), &TovraApiManager::OnServerBestFinished);
}

void TovraApiManager::OnServerBestFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    const QString path = Path(ApiPaths::BestServer);
    LogStatus(path, StatusOf(reply));
    const QByteArray body = reply->readAll();
    LogBody(path, body);
    if (reply->error() != QNetworkReply::NoError) {
        LogNetworkError(reply);
        emit BestServerReceived(false, TovraServer());
        return;
    }
    QJsonObject object;
    if (!ParseObject(body, &object)) {
        emit BestServerReceived(false, TovraServer());
        return;
    }
    TovraServer best;
    best.countryCode = object.value(QStringLiteral("country_code")).toString();
    best.shortName = object.value(QStringLiteral("short_name")).toString();
    best.ip = object.value(QStringLiteral("ip")).toString();
    Coordinates(object, &best.latitude, &best.longitude);
    best.loadPercentage = object.value(QStringLiteral("load_percentage")).toInt(0);
    best.loadIcon = ServerIcons::LoadIcon(best.loadPercentage);
    qDebug().noquote() << "Best server found: " + best.shortName + " (" + best.ip + ")";
    emit BestServerReceived(true, best);
}

// ---- OpenVPN configuration ------------------------------------------------------------------------------------

void TovraApiManager::GetOpenVpnTcpConfig()
{
    const QString url = QStringLiteral("%1%2").arg(m_apiBaseUrl, Path(ApiPaths::OpenVpnTcpConfig));
    qDebug().noquote() << url;
    Get(MakeAuthorizedRequest(url), &TovraApiManager::OnOpenVpnTcpConfigFinished);
}

void TovraApiManager::GetOpenVpnUdpConfig()
{
    const QString url = QStringLiteral("%1%2").arg(m_apiBaseUrl, Path(ApiPaths::OpenVpnUdpConfig));
    qDebug().noquote() << url;
    Get(MakeAuthorizedRequest(url), &TovraApiManager::OnOpenVpnUdpConfigFinished);
}

void TovraApiManager::HandleOpenVpnConfig(QNetworkReply *reply, const QString &path, bool tcp)
{
    reply->deleteLater();
    LogStatus(path, StatusOf(reply));
    const QByteArray body = reply->readAll();
    LogBody(path, body);
    if (reply->error() != QNetworkReply::NoError) {
        ReportNetworkError(reply);
        return;
    }
    QJsonObject object;
    if (!ParseObject(body, &object)) {
        ReportEmptyResult();
        return;
    }
    const QString config = object.value(QStringLiteral("openvpn_config")).toString();
    if (tcp)
        emit OpenVpnTcpConfigUpdated(config);
    else
        emit OpenVpnUdpConfigUpdated(config);
}

void TovraApiManager::OnOpenVpnTcpConfigFinished(QNetworkReply *reply)
{
    HandleOpenVpnConfig(reply, Path(ApiPaths::OpenVpnTcpConfig), true);
}

void TovraApiManager::OnOpenVpnUdpConfigFinished(QNetworkReply *reply)
{
    HandleOpenVpnConfig(reply, Path(ApiPaths::OpenVpnUdpConfig), false);
}

// ---- update check ---------------------------------------------------------------------------------------------

void TovraApiManager::GetUpdateData()
{
    const QString url =
        QStringLiteral("%1%2%3").arg(m_apiBaseUrl, Path(ApiPaths::UpdateCheck), Path(ApiPaths::UpdatePlatform));
    qDebug().noquote() << url;
    Get(MakeRequest(url), &TovraApiManager::OnUpdateDataFinished);
}

void TovraApiManager::OnUpdateDataFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    LogStatus(QStringLiteral("/config/app"), StatusOf(reply));
    const QByteArray body = reply->readAll();
    qDebug().noquote() << "/config/app update api response: " << QString::fromUtf8(body);
    const QString defaultPage = BuildConstants::downloadPageUrl();
    QJsonObject object;
    if (reply->error() != QNetworkReply::NoError) {
        LogNetworkError(reply);
        emit UpdateDataReceived(QStringLiteral("0.0.0.0"), defaultPage);
        return;
    }
    if (!ParseObject(body, &object)) {
        emit UpdateDataReceived(QStringLiteral("0.0.0.0"), defaultPage);
        return;
    }
    const QString version = object.value(QStringLiteral("version")).toString(QStringLiteral("0.0.0"));
    // The build number may come as a JSON number as well as a string.
    const QJsonValue buildValue = object.value(QStringLiteral("build"));
    QString build = buildValue.toString(QStringLiteral("0"));
    if (buildValue.isDouble() && buildValue.toDouble() >= 0 &&
        buildValue.toDouble() == std::floor(buildValue.toDouble()))
        build = QString::number(static_cast<qint64>(buildValue.toDouble()));
    const QString downloadUrl = object.value(QStringLiteral("url")).toString(defaultPage);
    emit UpdateDataReceived(QStringLiteral("%1.%2").arg(version, build), downloadUrl);
}

// ---- support ticket -------------------------------------------------------------------------------------------

void TovraApiManager::SendSupportTicket(bool signedIn)
{
    AppContext *context = AppContext::instance();
    const QString url =
        QStringLiteral("%1%2").arg(m_apiBaseUrl, Path(signedIn ? ApiPaths::TicketSignedIn : ApiPaths::TicketAnonymous));

    QByteArray body("{\"name\": \"");
    // Escaped, so a quote or a backslash in the name cannot break the JSON and lose the ticket.
    body += signedIn ? JsonStringContent(context->authManager()->userData().firstName) : QByteArray("Non-logged user");
    body += "\", ";
    body += "\"subject\": \"Automatic ticket from TOVRA v.";
    body += JsonStringContent(FormatVersion(ReadAppVersion()));
    body += "\", ";
    body += "\"message\": \"This ticket was automatically generated by TOVRA application request.\", ";
    qDebug().noquote() << url << " post data without logfile and supportfile: " << QString::fromUtf8(body);
    body += "\"client_log\": \"";
    body += FileAsBase64(context->dataPaths()->logFile());
    body += "\", ";
    if (signedIn) {
        body += "\"collected_data\": \"";
        body += FileAsBase64(context->dataPaths()->supportDataFile());
        body += "\"}";
    } else {
        body += "\"collected_data\": \"\"}";
    }
    Post(url, body, signedIn, &TovraApiManager::OnSupportTicketFinished);
}

void TovraApiManager::OnSupportTicketFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    const QString path = Path(ApiPaths::TicketSignedIn);
    LogStatus(path, StatusOf(reply));
    const QByteArray body = reply->readAll();
    LogBody(path, body);
    if (reply->error() != QNetworkReply::NoError) {
        LogNetworkError(reply);
        emit SupportTicketFinished(false, QString());
        return;
    }
    QJsonObject object;
    if (!ParseObject(body, &object)) {
        emit SupportTicketFinished(false, QString());
        return;
    }
    emit SupportTicketFinished(true, object.value(QStringLiteral("url")).toString());
}

// ---- map image ------------------------------------------------------------------------------------------------

QString TovraApiManager::EncodePolyline(double fromLatitude, double fromLongitude, double toLatitude,
                                        double toLongitude)
{
    QString out;
    AppendPolylineNumber(out, fromLatitude);
    AppendPolylineNumber(out, fromLongitude);
    AppendPolylineNumber(out, toLatitude - fromLatitude);
    AppendPolylineNumber(out, toLongitude - fromLongitude);
    return out;
}

QString TovraApiManager::MapImageUrl(double userLongitude, double userLatitude, double serverLongitude,
                                     double serverLatitude, bool drawPath) const
{
    AppContext *context = AppContext::instance();
    const bool hiDpi = context->config()->highDpiScreen;
    const int height = context->authManager()->userData().isB2b ? ApiPaths::MapHeightB2b : ApiPaths::MapHeight;
    const auto marker = [this](const char *path) {
        return QString::fromLatin1(QUrl::toPercentEncoding(m_portalBaseUrl + QLatin1String(path)));
    };

    QString route;
    if (drawPath)
        route = QString::fromLatin1(ApiPaths::RouteLine)
                    .arg(EncodePolyline(userLatitude, userLongitude, serverLatitude, serverLongitude));
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
    const QString url = MapImageUrl(userLongitude, userLatitude, serverLongitude, serverLatitude, drawPath);
    qDebug().noquote() << "Sending map request: " << url;
    Get(MakeRequest(url), &TovraApiManager::OnMapImageRequestFinished);
}

void TovraApiManager::OnMapImageRequestFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    qDebug() << "Map request response code: " << StatusOf(reply);
    if (reply->error() != QNetworkReply::NoError) {
        qDebug().noquote() << "Error ocurred when loading google map image: " << reply->errorString();
        emit MapImageReceived(false, QImage());
        return;
    }
    QImage image;
    image.loadFromData(reply->readAll());
    emit MapImageReceived(true, image);
}
