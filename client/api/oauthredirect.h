#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QTcpServer;
class QTcpSocket;

// What the Facebook and the Google sign-in share: the loopback listener the browser comes back to and the
// page that answers it.
namespace OAuthRedirect {

// The longest request line taken from the browser, and how long it may take to arrive.
inline constexpr int MaxRequestLineBytes = 8192;
inline constexpr int RequestTimeoutMsec = 10000;

// Listens on the loopback address only: the redirect comes from this machine's browser and nobody else's.
bool listen(QTcpServer *server, quint16 port);

// The whole answer to the browser: status line, headers and the page that sends the tab on to landingPage.
QByteArray answer(const QString &landingPage);

// The received bytes as text, up to the first zero byte.
QString requestText(const QByteArray &data);

// Whether data holds a complete request line (ended by a line feed before any zero byte).
bool hasRequestLine(const QByteArray &data);
// The request line of text, without its line end; empty while the line is incomplete.
QString requestLine(const QString &text);

// From the code parameter ("code=", inclusive) up to the first blank, with whatever parameters follow the
// code; empty when the request line carries no code parameter.
QString codePart(const QString &requestLine);

} // namespace OAuthRedirect

// The part of a browser sign-in both providers share: the listener the browser comes back to, reading its
// request line (bounded in size and time), answering it with the landing page, and closing up.
class OAuthRedirectFlow : public QObject
{
    Q_OBJECT

public:
    // Addresses the flow uses; the build constants unless changed.
    void setLandingPageUrl(const QString &url) { m_landingPageUrl = url; }
    // How long the browser may take to send its request line once it has connected.
    void setRequestTimeout(int msec) { m_requestTimer.setInterval(msec); }

protected:
    // name is the provider as the log lines write it, e.g. "Facebook".
    OAuthRedirectFlow(const QString &name, const QString &landingPageUrl, QObject *parent);
    ~OAuthRedirectFlow() override;

    // Drops what is left of an earlier attempt and listens; false (logged) when the port cannot be had.
    bool startListening();
    void stopListening();
    virtual void dropAttempt();

    // The browser has been answered; requestLine is its request line without line end.
    virtual void onRequestLine(const QString &requestLine) = 0;
    virtual void fail() = 0;

    bool cancelled = false;

protected slots:
    void onIncomingConnection();
    void onBytesReady();
    void onSocketDisconnected();
    void onRequestTimeout();

private:
    void processRequest();
    QTcpSocket *takeSocket();
    void terminate(const QString &what, bool abort);

    QString m_name;
    QTcpServer *m_server;
    // The browser's connection of this attempt until its request line is in, and what it sent so far.
    QPointer<QTcpSocket> m_socket;
    QByteArray m_request;
    QTimer m_requestTimer;
    QString m_landingPageUrl;
};
