#pragma once

#include "api/oauthredirect.h"

// Google sign-in: the consent page in the user's browser, the loopback listener Google sends the browser to
// with the code, then the API sign-in, which exchanges the code on the provider's side.
class TovraGoogleAuthManager : public OAuthRedirectFlow
{
    Q_OBJECT

public:
    explicit TovraGoogleAuthManager(QObject *parent = nullptr);
    ~TovraGoogleAuthManager() override;

    // Addresses the flow uses; the build constants unless changed.
    void setConsentUrlPrefix(const QString &url) { m_consentUrlPrefix = url; }

public slots:
    void LoginViaGoogle();
    void CancelLoginViaGoogle();

signals:
    void LoginViaGoogleFinished();
    void LoginViaGoogleFailed();

private:
    void onRequestLine(const QString &requestLine) override;
    void fail() override;

    QString m_consentUrlPrefix;
};
