#include "api/oauthredirect.h"

#include <QHostAddress>
#include <QTcpServer>

namespace OAuthRedirect {

bool Listen(QTcpServer *server, quint16 port)
{
    return server->listen(QHostAddress::LocalHost, port);
}

QByteArray Answer(const QString &landingPage)
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

QString RequestText(const QByteArray &data)
{
    const int zero = data.indexOf('\0');
    return QString::fromUtf8(zero < 0 ? data : data.left(zero));
}

bool HasRequestLine(const QByteArray &data)
{
    const int zero = data.indexOf('\0');
    const int end = data.indexOf('\n');
    return end >= 0 && (zero < 0 || end < zero);
}

QString RequestLine(const QString &text)
{
    const int end = text.indexOf(QLatin1Char('\n'));
    if (end < 0)
        return QString();
    QString line = text.left(end);
    if (line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    return line;
}

QString CodePart(const QString &requestLine)
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
