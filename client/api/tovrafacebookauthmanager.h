#pragma once

#include <QList>
#include <QSslError>

#include "api/oauthredirect.h"

class QNetworkAccessManager;
class QNetworkReply;

// Facebook sign-in: the consent page in the user's browser, the loopback listener the browser comes back
// to with the code, the Graph requests for the access token and the user's id, then the API sign-in.
class TovraFacebookAuthManager : public OAuthRedirectFlow
{
    Q_OBJECT

public:
    explicit TovraFacebookAuthManager(QObject *parent = nullptr);
    ~TovraFacebookAuthManager() override;

    // Addresses the flow uses; the build constants unless changed.
    void setConsentUrlPrefix(const QString &url) { m_consentUrlPrefix = url; }
    void setAccessTokenUrlPrefix(const QString &url) { m_accessTokenUrlPrefix = url; }
    void setProfileUrlPrefix(const QString &url) { m_profileUrlPrefix = url; }
    void setRedirectUri(const QString &url) { m_redirectUri = url; }

public slots:
    void LoginViaFacebook();
    void CancelLoginViaFacebook();

signals:
    void LoginViaFacebookFinished();
    void LoginViaFacebookFailed();

private slots:
    void getAccessToken(QString code);
    void getFacebookId(QString token);
    void OnAccessTokenFinished(QNetworkReply *pReply);
    void OnFacebookIdFinished(QNetworkReply *pReply);
    void ProcessSslErrors(QNetworkReply *pReply, QList<QSslError> errors);

private:
    void onRequestLine(const QString &requestLine) override;
    void dropAttempt() override;
    void fail() override;
    void get(const QString &url, void (TovraFacebookAuthManager::*handler)(QNetworkReply *));

    QNetworkAccessManager *m_manager = nullptr;
    QString m_facebookToken;

    // The Graph request of this attempt; replies of earlier attempts are dropped.
    QNetworkReply *m_reply = nullptr;

    QString m_consentUrlPrefix;
    QString m_accessTokenUrlPrefix;
    QString m_profileUrlPrefix;
    QString m_redirectUri;
    QString m_mailDomain;
};
