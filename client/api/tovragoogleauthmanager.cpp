#include "api/tovragoogleauthmanager.h"

#include <QDebug>
#include <QDesktopServices>
#include <QUrl>

#include "api/logmask.h"
#include "api/oauthredirect.h"
#include "api/tovraapimanager.h"
#include "app/appcontext.h"
#include "app/buildconstants.h"

TovraGoogleAuthManager::TovraGoogleAuthManager(QObject *parent)
    : OAuthRedirectFlow(QStringLiteral("Google"), BuildConstants::googleLandingUrl(), parent),
      m_consentUrlPrefix(BuildConstants::googleAuthUrl())
{}

TovraGoogleAuthManager::~TovraGoogleAuthManager() = default;

void TovraGoogleAuthManager::LoginViaGoogle()
{
    cancelled = false;
    if (!startListening()) {
        emit LoginViaGoogleFailed();
        return;
    }
    const QString url =
        QStringLiteral("%1scope=profile%20email&state=state_parameter_passthrough_value&redirect_uri="
                       "%2&response_type=code&client_id=%3")
            .arg(m_consentUrlPrefix, BuildConstants::googleRedirectUrl(), BuildConstants::googleClientId());
    qDebug().noquote() << QStringLiteral("Open google oauth url: ") + url;
    QDesktopServices::openUrl(QUrl(url));
}

void TovraGoogleAuthManager::CancelLoginViaGoogle()
{
    cancelled = true;
    stopListening();
}

void TovraGoogleAuthManager::onRequestLine(const QString &requestLine)
{
    QString code = OAuthRedirect::codePart(requestLine).mid(5);
    // Google puts scope, authuser and prompt after the code; they are not part of it.
    const int next = code.indexOf(QLatin1Char('&'));
    if (next >= 0)
        code.truncate(next);
    if (code.isEmpty()) {
        qDebug() << "Google code not found, login via google terminated";
        fail();
        return;
    }
    qDebug().noquote() << QStringLiteral("Google code data found: ") + LogMask::stars(code);
    const QString decoded = QUrl::fromPercentEncoding(code.toUtf8());
    qDebug().noquote() << QStringLiteral("URI-decoded google code: ") + LogMask::stars(decoded);
    // A cancelled attempt does not sign in.
    if (cancelled)
        return;
    emit LoginViaGoogleFinished();
    AppContext::instance()->apiManager()->AuthGoogle(decoded, BuildConstants::googleRedirectUrl());
}

void TovraGoogleAuthManager::fail()
{
    // Once the user has cancelled, the attempt ends quietly.
    if (!cancelled)
        emit LoginViaGoogleFailed();
}
