#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslError>
#include <QTimer>

class QNetworkAccessManager;
class QNetworkReply;
class QTcpServer;
class QTcpSocket;

// Facebook sign-in: the consent page in the user's browser, the loopback listener the browser comes back
// to with the code, the Graph requests for the access token and the user's id, then the API sign-in.
class TovraFacebookAuthManager : public QObject
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
    void setLandingPageUrl(const QString &url) { m_landingPageUrl = url; }
    // How long the browser may take to send its request line once it has connected.
    void setRequestTimeout(int msec) { m_requestTimer.setInterval(msec); }

public slots:
    void LoginViaFacebook();
    void CancelLoginViaFacebook();

signals:
    void LoginViaFacebookFinished();
    void LoginViaFacebookFailed();

private slots:
    void OnIncomingConnection();
    void OnBytesReady();
    void GetAccessToken(QString code);
    void GetFacebookId(QString token);
    void OnAccessTokenFinished(QNetworkReply *pReply);
    void OnFacebookIdFinished(QNetworkReply *pReply);
    void ProcessSslErrors(QNetworkReply *pReply, QList<QSslError> errors);
    void OnSocketDisconnected();
    void OnRequestTimeout();

private:
    void ProcessRequest();
    QTcpSocket *TakeSocket();
    void DropAttempt();
    void Fail();
    void Get(const QString &url, void (TovraFacebookAuthManager::*handler)(QNetworkReply *));

    QNetworkAccessManager *m_manager;
    QTcpServer *m_server;
    bool cancelled = false;
    QString facebookToken;

    // The browser's connection of this attempt until its request line is in, and what it sent so far.
    QPointer<QTcpSocket> m_socket;
    QByteArray m_request;
    QTimer m_requestTimer;
    // The Graph request of this attempt; replies of earlier attempts are dropped.
    QNetworkReply *m_reply = nullptr;

    QString m_consentUrlPrefix;
    QString m_accessTokenUrlPrefix;
    QString m_profileUrlPrefix;
    QString m_redirectUri;
    QString m_landingPageUrl;
    QString m_mailDomain;
};
