#pragma once

#include <QMap>
#include <QString>

#include "tovraconstants.h"

// Typed access to the generated build constants.
namespace BuildConstants {
QString productShortName();
QString productDisplayName();
QString productToken();
QString applicationId();
QString apiBaseUrl();
QString portalBaseUrl();
QString signUpUrl();
QString passwordResetUrl();
QString serviceDomain();
QString downloadPageUrl();
QString mapApiBaseUrl();
QString mapAccessToken();
// Social sign-in.
quint16 oauthListenerPort();
QString facebookAppId();
QString facebookAppSecret();
QString facebookDialogUrl();
QString facebookRedirectUrl();
QString facebookAccessTokenUrl();
QString facebookProfileUrl();
QString facebookLandingUrl();
QString facebookMailDomain();
QString googleClientId();
QString googleAuthUrl();
QString googleRedirectUrl();
QString googleLandingUrl();
// Keyed by language code: "en", "nl", "de".
QMap<QString, QString> reviewPageUrls();
QMap<QString, QString> faqPageUrls();
} // namespace BuildConstants
