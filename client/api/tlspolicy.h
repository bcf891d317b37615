#pragma once

#include <QList>
#include <QSslError>
#include <QString>

class QNetworkReply;

// How every HTTPS request of the client treats the server's certificate: checked against the system's trust
// store plus the CA certificate the build names. A failed check ends the request as a network error, unless
// the build keeps the old behaviour of logging the errors and going on.
namespace TlsPolicy {

// Makes the process's default TLS configuration, which every access manager and request of the client starts
// from, trust the system's store and the build's CA. Safe to call more than once.
void install();
// Adds the CA certificates of a PEM file to what later requests trust; false when the file holds none.
bool trustCaFile(const QString &path);
// The sslErrors handler of every request: logs "SSL errors: " with the errors, then lets the request fail
// (or, in a build that asks for it, ignores them).
void handleSslErrors(QNetworkReply *reply, const QList<QSslError> &errors);

} // namespace TlsPolicy
