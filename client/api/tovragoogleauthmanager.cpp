#include "api/tovragoogleauthmanager.h"

#include <QDebug>
#include <QDesktopServices>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

#include "api/oauthredirect.h"
#include "api/tovraapimanager.h"
#include "app/appcontext.h"
#include "app/buildconstants.h"

TovraGoogleAuthManager::TovraGoogleAuthManager(QObject *parent)
    : QObject(parent), m_server(new QTcpServer(this)), m_consentUrlPrefix(BuildConstants::googleAuthUrl()),
      m_landingPageUrl(BuildConstants::googleLandingUrl())
{
    connect(m_server, &QTcpServer::newConnection, this, &TovraGoogleAuthManager::OnIncomingConnection);
    m_requestTimer.setSingleShot(true);
    m_requestTimer.setInterval(OAuthRedirect::RequestTimeoutMsec);
    connect(&m_requestTimer, &QTimer::timeout, this, &TovraGoogleAuthManager::OnRequestTimeout);
}

TovraGoogleAuthManager::~TovraGoogleAuthManager()
{
    if (m_socket)
        m_socket->disconnect(this);
}

void TovraGoogleAuthManager::LoginViaGoogle()
{
    cancelled = false;
    DropAttempt();
    if (!OAuthRedirect::Listen(m_server, BuildConstants::oauthListenerPort())) {
        qDebug().noquote() << "Google redirect listener failed: " << m_server->errorString();
        emit LoginViaGoogleFailed();
        return;
    }
    const QString url =
        QStringLiteral("%1scope=profile%20email&state=state_parameter_passthrough_value&redirect_uri="
                       "%2&response_type=code&client_id=%3")
            .arg(m_consentUrlPrefix, BuildConstants::googleRedirectUrl(), BuildConstants::googleClientId());
    qDebug().noquote() << "Open google oauth url: " << url;
    QDesktopServices::openUrl(QUrl(url));
}

void TovraGoogleAuthManager::CancelLoginViaGoogle()
{
    cancelled = true;
    m_server->close();
}

void TovraGoogleAuthManager::OnIncomingConnection()
{
    qDebug() << "Google incoming connection received";
    QTcpSocket *socket = m_server->nextPendingConnection();
    // One connection per attempt.
    m_server->close();
    if (!socket) {
        qDebug() << "Socket not found, login via google terminated";
        Fail();
        return;
    }
    m_socket = socket;
    m_request.clear();
    connect(socket, &QTcpSocket::readyRead, this, &TovraGoogleAuthManager::OnBytesReady, Qt::UniqueConnection);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::disconnected, this, &TovraGoogleAuthManager::OnSocketDisconnected);
    m_requestTimer.start();
}

void TovraGoogleAuthManager::OnBytesReady()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (!socket) {
        qDebug() << "Socket not found, login via google terminated";
        Fail();
        return;
    }
    if (socket != m_socket)
        return;
    m_request += socket->readAll();
    if (OAuthRedirect::HasRequestLine(m_request)) {
        ProcessRequest();
    } else if (m_request.size() > OAuthRedirect::MaxRequestLineBytes) {
        qDebug() << "Google request line too long, login via google terminated";
        TakeSocket()->abort();
        Fail();
    }
}

void TovraGoogleAuthManager::OnSocketDisconnected()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (!socket || socket != m_socket)
        return;
    m_request += socket->readAll();
    if (OAuthRedirect::HasRequestLine(m_request)) {
        ProcessRequest();
        return;
    }
    qDebug() << "Google browser closed the connection before its request, login via google terminated";
    TakeSocket();
    Fail();
}

void TovraGoogleAuthManager::OnRequestTimeout()
{
    if (!m_socket)
        return;
    qDebug() << "Google browser request timed out, login via google terminated";
    TakeSocket()->abort();
    Fail();
}

void TovraGoogleAuthManager::ProcessRequest()
{
    QTcpSocket *socket = TakeSocket();
    // A browser that sent its request and hung up gets no answer.
    if (socket->state() == QAbstractSocket::ConnectedState) {
        socket->write(OAuthRedirect::Answer(m_landingPageUrl));
        socket->flush();
    }

    const QString text = OAuthRedirect::RequestText(m_request);
    m_request.clear();
    qDebug().noquote() << "Socket data received: " << text;
    QString code = OAuthRedirect::CodePart(OAuthRedirect::RequestLine(text)).mid(5);
    // Google puts scope, authuser and prompt after the code; they are not part of it.
    const int next = code.indexOf(QLatin1Char('&'));
    if (next >= 0)
        code.truncate(next);

    // Closing waits for the page to be written.
    socket->disconnectFromHost();
    m_server->close();
    if (code.isEmpty()) {
        qDebug() << "Google code not found, login via google terminated";
        Fail();
        return;
    }
    qDebug().noquote() << "Google code data found: " << code;
    const QString decoded = QUrl::fromPercentEncoding(code.toUtf8());
    qDebug().noquote() << "URI-decoded google code: " << decoded;
    // A cancelled attempt does not sign in.
    if (cancelled)
        return;
    emit LoginViaGoogleFinished();
    AppContext::instance()->apiManager()->AuthGoogle(decoded, BuildConstants::googleRedirectUrl());
}

QTcpSocket *TovraGoogleAuthManager::TakeSocket()
{
    m_requestTimer.stop();
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(this);
    return socket;
}

void TovraGoogleAuthManager::DropAttempt()
{
    m_server->close();
    if (m_socket)
        TakeSocket()->abort();
    m_request.clear();
}

void TovraGoogleAuthManager::Fail()
{
    // Once the user has cancelled, the attempt ends quietly.
    if (!cancelled)
        emit LoginViaGoogleFailed();
}
