#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

class QTcpServer;
class QTcpSocket;

// Google sign-in: the consent page in the user's browser, the loopback listener Google sends the browser to
// with the code, then the API sign-in, which exchanges the code on the provider's side.
class TovraGoogleAuthManager : public QObject
{
    Q_OBJECT

public:
    explicit TovraGoogleAuthManager(QObject *parent = nullptr);
    ~TovraGoogleAuthManager() override;

    // Addresses the flow uses; the build constants unless changed.
    void setConsentUrlPrefix(const QString &url) { m_consentUrlPrefix = url; }
    void setLandingPageUrl(const QString &url) { m_landingPageUrl = url; }
    // How long the browser may take to send its request line once it has connected.
    void setRequestTimeout(int msec) { m_requestTimer.setInterval(msec); }

public slots:
    void LoginViaGoogle();
    void CancelLoginViaGoogle();

signals:
    void LoginViaGoogleFinished();
    void LoginViaGoogleFailed();

private slots:
    void OnIncomingConnection();
    void OnBytesReady();
    void OnSocketDisconnected();
    void OnRequestTimeout();

private:
    void ProcessRequest();
    QTcpSocket *TakeSocket();
    void DropAttempt();
    void Fail();

    QTcpServer *m_server;
    bool cancelled = false;

    // The browser's connection of this attempt until its request line is in, and what it sent so far.
    QPointer<QTcpSocket> m_socket;
    QByteArray m_request;
    QTimer m_requestTimer;

    QString m_consentUrlPrefix;
    QString m_landingPageUrl;
};
