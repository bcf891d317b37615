#pragma once

#include <QByteArray>
#include <QString>

class QTcpServer;

// What the Facebook and the Google sign-in share: the loopback listener the browser comes back to and the
// page that answers it.
namespace OAuthRedirect {

// The longest request line taken from the browser, and how long it may take to arrive.
inline constexpr int MaxRequestLineBytes = 8192;
inline constexpr int RequestTimeoutMsec = 10000;

// Listens on the loopback address only: the redirect comes from this machine's browser and nobody else's.
bool Listen(QTcpServer *server, quint16 port);

// The whole answer to the browser: status line, headers and the page that sends the tab on to landingPage.
QByteArray Answer(const QString &landingPage);

// The received bytes as text, up to the first zero byte.
QString RequestText(const QByteArray &data);

// Whether data holds a complete request line (ended by a line feed before any zero byte).
bool HasRequestLine(const QByteArray &data);
// The request line of text, without its line end; empty while the line is incomplete.
QString RequestLine(const QString &text);

// From the code parameter ("code=", inclusive) up to the first blank, with whatever parameters follow the
// code; empty when the request line carries no code parameter.
QString CodePart(const QString &requestLine);

} // namespace OAuthRedirect
