#include "api/oauthredirect.h"

#include <QDebug>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include "api/logmask.h"
#include "app/buildconstants.h"

namespace OAuthRedirect {

bool listen(QTcpServer *server, quint16 port)
{
    return server->listen(QHostAddress::LocalHost, port);
}

QByteArray answer(const QString &landingPage)
{
    const QByteArray page =
        QByteArrayLiteral("<HTML><HEAD></HEAD><BODY><script type=\"text/javascript\">function closeWindow() { var "
                          "win = window.open('") +
        landingPage.toUtf8() +
        QByteArrayLiteral("', '_self'); win.close(); } window.onload = closeWindow();</script><center><h3><p>"
                          "Redirecting to Tovra portal...</p></h3></center></BODY></HTML>");
    return QByteArrayLiteral("HTTP/1.0 200 OK \r\n") +
           QByteArrayLiteral("Content-Type: text/html; charset=\"utf-8\"\r\n") +
           QStringLiteral("Content-Length: %1\r\n\r\n").arg(page.size()).toLatin1() + page;
}

QString requestText(const QByteArray &data)
{
    const int zero = data.indexOf('\0');
    return QString::fromUtf8(zero < 0 ? data : data.left(zero));
}

bool hasRequestLine(const QByteArray &data)
{
    const int zero = data.indexOf('\0');
    const int end = data.indexOf('\n');
    return end >= 0 && (zero < 0 || end < zero);
}

QString requestLine(const QString &text)
{
    const int end = text.indexOf(QLatin1Char('\n'));
    if (end < 0)
        return QString();
    QString line = text.left(end);
    if (line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    return line;
}

QString codePart(const QString &requestLine)
{
    // Only a parameter named code counts; "error_code=" of a refused consent does not.
    const QString key = QStringLiteral("code=");
    int start = requestLine.indexOf(key);
    while (start > 0 && requestLine.at(start - 1) != QLatin1Char('?') && requestLine.at(start - 1) != QLatin1Char('&'))
        start = requestLine.indexOf(key, start + 1);
    if (start <= 0)
        return QString();
    const int blank = requestLine.indexOf(QLatin1Char(' '), start);
    return blank < 0 ? requestLine.mid(start) : requestLine.mid(start, blank - start);
}

} // namespace OAuthRedirect

OAuthRedirectFlow::OAuthRedirectFlow(const QString &name, const QString &landingPageUrl, QObject *parent)
    : QObject(parent), m_name(name), m_server(new QTcpServer(this)), m_landingPageUrl(landingPageUrl)
{
    connect(m_server, &QTcpServer::newConnection, this, &OAuthRedirectFlow::onIncomingConnection);
    m_requestTimer.setSingleShot(true);
    m_requestTimer.setInterval(OAuthRedirect::RequestTimeoutMsec);
    connect(&m_requestTimer, &QTimer::timeout, this, &OAuthRedirectFlow::onRequestTimeout);
}

OAuthRedirectFlow::~OAuthRedirectFlow()
{
    if (m_socket)
        m_socket->disconnect(this);
}

bool OAuthRedirectFlow::startListening()
{
    dropAttempt();
    if (OAuthRedirect::listen(m_server, BuildConstants::oauthListenerPort()))
        return true;
    qDebug().noquote() << m_name + QStringLiteral(" redirect listener failed: ") + m_server->errorString();
    return false;
}

void OAuthRedirectFlow::stopListening()
{
    m_server->close();
}

void OAuthRedirectFlow::dropAttempt()
{
    m_server->close();
    if (m_socket)
        takeSocket()->abort();
    m_request.clear();
}

void OAuthRedirectFlow::onIncomingConnection()
{
    qDebug().noquote() << m_name + QStringLiteral(" incoming connection received");
    QTcpSocket *socket = m_server->nextPendingConnection();
    // One connection per attempt.
    m_server->close();
    if (!socket) {
        terminate(QStringLiteral("Socket not found"), false);
        return;
    }
    m_socket = socket;
    m_request.clear();
    connect(socket, &QTcpSocket::readyRead, this, &OAuthRedirectFlow::onBytesReady, Qt::UniqueConnection);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::disconnected, this, &OAuthRedirectFlow::onSocketDisconnected);
    m_requestTimer.start();
}

void OAuthRedirectFlow::onBytesReady()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (!socket) {
        terminate(QStringLiteral("Socket not found"), false);
        return;
    }
    if (socket != m_socket)
        return;
    m_request += socket->readAll();
    if (OAuthRedirect::hasRequestLine(m_request))
        processRequest();
    else if (m_request.size() > OAuthRedirect::MaxRequestLineBytes)
        terminate(m_name + QStringLiteral(" request line too long"), true);
}

void OAuthRedirectFlow::onSocketDisconnected()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (!socket || socket != m_socket)
        return;
    m_request += socket->readAll();
    if (OAuthRedirect::hasRequestLine(m_request))
        processRequest();
    else
        terminate(m_name + QStringLiteral(" browser closed the connection before its request"), false);
}

void OAuthRedirectFlow::onRequestTimeout()
{
    if (m_socket)
        terminate(m_name + QStringLiteral(" browser request timed out"), true);
}

void OAuthRedirectFlow::terminate(const QString &what, bool abort)
{
    qDebug().noquote() << what + QStringLiteral(", login via ") + m_name.toLower() + QStringLiteral(" terminated");
    if (m_socket) {
        QTcpSocket *socket = takeSocket();
        if (abort)
            socket->abort();
    }
    fail();
}

void OAuthRedirectFlow::processRequest()
{
    QTcpSocket *socket = takeSocket();
    // A browser that sent its request and hung up gets no answer.
    if (socket->state() == QAbstractSocket::ConnectedState) {
        socket->write(OAuthRedirect::answer(m_landingPageUrl));
        socket->flush();
    }
    const QString text = OAuthRedirect::requestText(m_request);
    m_request.clear();
    qDebug().noquote() << QStringLiteral("Socket data received: ") +
                              LogMask::queryParameter(text, QStringLiteral("code"));
    // Closing waits for the page to be written.
    socket->disconnectFromHost();
    m_server->close();
    onRequestLine(OAuthRedirect::requestLine(text));
}

QTcpSocket *OAuthRedirectFlow::takeSocket()
{
    m_requestTimer.stop();
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(this);
    return socket;
}
