#include "api/tovrafacebookauthmanager.h"

#include <QDebug>
#include <QDesktopServices>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include "api/logmask.h"
#include "api/networkaccess.h"
#include "api/oauthredirect.h"
#include "api/tlspolicy.h"
#include "api/tovraapimanager.h"
#include "api/tovraauthmanager.h"
#include "app/appcontext.h"
#include "app/buildconstants.h"

TovraFacebookAuthManager::TovraFacebookAuthManager(QObject *parent)
    : OAuthRedirectFlow(QStringLiteral("Facebook"), BuildConstants::facebookLandingUrl(), parent),
      m_consentUrlPrefix(BuildConstants::facebookDialogUrl()),
      m_accessTokenUrlPrefix(BuildConstants::facebookAccessTokenUrl()),
      m_profileUrlPrefix(BuildConstants::facebookProfileUrl()), m_redirectUri(BuildConstants::facebookRedirectUrl()),
      m_mailDomain(BuildConstants::facebookMailDomain())
{}

TovraFacebookAuthManager::~TovraFacebookAuthManager()
{
    // Replies going down with their manager must not reach this half-destroyed object.
    if (m_manager)
        QObject::disconnect(m_manager, nullptr, this, nullptr);
}

void TovraFacebookAuthManager::LoginViaFacebook()
{
    cancelled = false;
    m_facebookToken.clear();
    if (!startListening()) {
        emit LoginViaFacebookFailed();
        return;
    }
    const QString url = QStringLiteral("%1client_id=%2&redirect_uri=%3&scope=email&api_key")
                            .arg(m_consentUrlPrefix, BuildConstants::facebookAppId(), m_redirectUri);
    qDebug().noquote() << QStringLiteral("Open facebook oauth url: ") + url;
    QDesktopServices::openUrl(QUrl(url));
}

void TovraFacebookAuthManager::CancelLoginViaFacebook()
{
    cancelled = true;
    stopListening();
}

void TovraFacebookAuthManager::onRequestLine(const QString &requestLine)
{
    const QString codePart = OAuthRedirect::codePart(requestLine);
    if (codePart.isEmpty()) {
        qDebug() << "Facebook code not found, login via facebook terminated";
        fail();
        return;
    }
    qDebug().noquote() << QStringLiteral("Facebook code data found: ") +
                              LogMask::queryParameter(codePart, QStringLiteral("code"));
    if (!cancelled)
        getAccessToken(codePart);
}

void TovraFacebookAuthManager::getAccessToken(QString code)
{
    const QString pattern = QStringLiteral("%1client_id=%2&client_secret=%3&scope&redirect_uri=%4&%5");
    const QString secret = BuildConstants::facebookAppSecret();
    const QString url =
        pattern.arg(m_accessTokenUrlPrefix, BuildConstants::facebookAppId(), secret, m_redirectUri, code);
    qDebug().noquote() << QStringLiteral("Get facebook access token with url: ") +
                              pattern.arg(m_accessTokenUrlPrefix, BuildConstants::facebookAppId(),
                                          LogMask::stars(secret), m_redirectUri,
                                          LogMask::queryParameter(code, QStringLiteral("code")));
    get(url, &TovraFacebookAuthManager::OnAccessTokenFinished);
}

void TovraFacebookAuthManager::getFacebookId(QString token)
{
    const QString pattern = QStringLiteral("%1access_token=%2");
    const QString url = pattern.arg(m_profileUrlPrefix, token);
    qDebug().noquote() << QStringLiteral("Get facebook id with url: ") +
                              pattern.arg(m_profileUrlPrefix, LogMask::stars(token));
    get(url, &TovraFacebookAuthManager::OnFacebookIdFinished);
}

void TovraFacebookAuthManager::OnAccessTokenFinished(QNetworkReply *pReply)
{
    pReply->deleteLater();
    if (pReply != m_reply)
        return;
    m_reply = nullptr;
    if (pReply->error() != QNetworkReply::NoError) {
        qDebug().noquote() << QStringLiteral("Network error occurred during facebook access token request: ") +
                                  pReply->errorString();
        fail();
        return;
    }
    const QByteArray body = pReply->readAll();
    qDebug().noquote() << QStringLiteral("Access token reply result: ") +
                              LogMask::jsonBody(body, QStringLiteral("access_token"));
    const QJsonDocument document = QJsonDocument::fromJson(body);
    const QString token = document.object().value(QLatin1String("access_token")).toString();
    if (document.isEmpty() || token.isEmpty()) {
        qDebug() << "Access token not found. Emitting error";
        fail();
        return;
    }
    qDebug().noquote() << QStringLiteral("Facebook access token found: ") + LogMask::stars(token);
    m_facebookToken = token;
    if (!cancelled)
        getFacebookId(token);
}

void TovraFacebookAuthManager::OnFacebookIdFinished(QNetworkReply *pReply)
{
    pReply->deleteLater();
    if (pReply != m_reply)
        return;
    m_reply = nullptr;
    if (pReply->error() != QNetworkReply::NoError) {
        qDebug().noquote() << QStringLiteral("Network error occurred during facebook id request: ") +
                                  pReply->errorString();
        fail();
        return;
    }
    const QByteArray body = pReply->readAll();
    qDebug().noquote() << QStringLiteral("Facebook id reply result: ") + QString::fromUtf8(body);
    const QJsonDocument document = QJsonDocument::fromJson(body);
    const QJsonObject profile = document.object();
    const QString id = profile.value(QLatin1String("id")).toString();
    if (document.isEmpty() || id.isEmpty()) {
        qDebug() << "Facebook id not found. Emitting error";
        fail();
        return;
    }
    qDebug().noquote() << QStringLiteral("Facebook id found: ") + id;
    QString email = profile.value(QLatin1String("email")).toString();
    if (email.isEmpty())
        email = QStringLiteral("%1@%2").arg(id, m_mailDomain);
    // A cancelled attempt does not sign in, however far its requests got.
    if (cancelled)
        return;
    AppContext::instance()->authManager()->setEmail(email);
    emit LoginViaFacebookFinished();
    AppContext::instance()->apiManager()->AuthFacebook(m_facebookToken);
}

void TovraFacebookAuthManager::ProcessSslErrors(QNetworkReply *pReply, QList<QSslError> errors)
{
    TlsPolicy::handleSslErrors(pReply, errors);
}

void TovraFacebookAuthManager::get(const QString &url, void (TovraFacebookAuthManager::*handler)(QNetworkReply *))
{
    // Made on the first request: a sign-in through Facebook is rare.
    if (!m_manager)
        m_manager = NewNetworkAccessManager(this);
    QObject::disconnect(m_manager, nullptr, nullptr, nullptr);
    connect(m_manager, &QNetworkAccessManager::finished, this, handler);
    connect(m_manager, &QNetworkAccessManager::sslErrors, this, &TovraFacebookAuthManager::ProcessSslErrors);
    TlsPolicy::install();
    m_reply = m_manager->get(QNetworkRequest(QUrl(url)));
}

void TovraFacebookAuthManager::dropAttempt()
{
    OAuthRedirectFlow::dropAttempt();
    if (m_reply) {
        QNetworkReply *reply = m_reply;
        m_reply = nullptr;
        reply->abort();
    }
}

void TovraFacebookAuthManager::fail()
{
    // Once the user has cancelled, the attempt ends quietly.
    if (!cancelled)
        emit LoginViaFacebookFailed();
}
