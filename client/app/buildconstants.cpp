#include "app/buildconstants.h"

namespace BuildConstants {

QString productShortName()
{
    return QString::fromUtf8(TovraConstants::ProductShortName);
}
QString productDisplayName()
{
    return QString::fromUtf8(TovraConstants::ProductDisplayName);
}
QString productToken()
{
    return QString::fromUtf8(TovraConstants::ProductToken);
}
QString applicationId()
{
    return QString::fromUtf8(TovraConstants::ApplicationId);
}
QString apiBaseUrl()
{
    return QString::fromUtf8(TovraConstants::ApiBaseUrl);
}
QString portalBaseUrl()
{
    return QString::fromUtf8(TovraConstants::PortalBaseUrl);
}
QString signUpUrl()
{
    return QString::fromUtf8(TovraConstants::SignUpUrl);
}
QString passwordResetUrl()
{
    return QString::fromUtf8(TovraConstants::PasswordResetUrl);
}
QString serviceDomain()
{
    return QString::fromUtf8(TovraConstants::ServiceDomain);
}
QString downloadPageUrl()
{
    return QString::fromUtf8(TovraConstants::DownloadPageUrl);
}
QString mapApiBaseUrl()
{
    return QString::fromUtf8(TovraConstants::MapApiBaseUrl);
}
QString mapAccessToken()
{
    return QString::fromUtf8(TovraConstants::MapAccessToken);
}

quint16 oauthListenerPort()
{
    return TovraConstants::OAuthListenerPort;
}
QString facebookAppId()
{
    return QString::fromUtf8(TovraConstants::FacebookAppId);
}
QString facebookAppSecret()
{
    return QString::fromUtf8(TovraConstants::FacebookAppSecret);
}
QString facebookDialogUrl()
{
    return QString::fromUtf8(TovraConstants::FacebookDialogUrl);
}
QString facebookRedirectUrl()
{
    return QString::fromUtf8(TovraConstants::FacebookRedirectUrl);
}
QString facebookAccessTokenUrl()
{
    return QString::fromUtf8(TovraConstants::FacebookAccessTokenUrl);
}
QString facebookProfileUrl()
{
    return QString::fromUtf8(TovraConstants::FacebookProfileUrl);
}
QString facebookLandingUrl()
{
    return QString::fromUtf8(TovraConstants::FacebookLandingUrl);
}
QString facebookMailDomain()
{
    return QString::fromUtf8(TovraConstants::FacebookMailDomain);
}
QString googleClientId()
{
    return QString::fromUtf8(TovraConstants::GoogleClientId);
}
QString googleAuthUrl()
{
    return QString::fromUtf8(TovraConstants::GoogleAuthUrl);
}
QString googleRedirectUrl()
{
    // Google sends the browser straight to the client's listener.
    return QStringLiteral("http://127.0.0.1:%1/").arg(TovraConstants::OAuthListenerPort);
}
QString googleLandingUrl()
{
    return QString::fromUtf8(TovraConstants::GoogleLandingUrl);
}

QMap<QString, QString> reviewPageUrls()
{
    return {{QStringLiteral("en"), QString::fromUtf8(TovraConstants::ReviewUrlEn)},
            {QStringLiteral("nl"), QString::fromUtf8(TovraConstants::ReviewUrlNl)},
            {QStringLiteral("de"), QString::fromUtf8(TovraConstants::ReviewUrlDe)}};
}

QMap<QString, QString> faqPageUrls()
{
    return {{QStringLiteral("en"), QString::fromUtf8(TovraConstants::FaqUrlEn)},
            {QStringLiteral("nl"), QString::fromUtf8(TovraConstants::FaqUrlNl)},
            {QStringLiteral("de"), QString::fromUtf8(TovraConstants::FaqUrlDe)}};
}

} // namespace BuildConstants
