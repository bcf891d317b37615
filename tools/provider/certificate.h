// Certificates of the stand-in provider: its own CA and the server certificate the CA signs.
#pragma once

#include <QString>

namespace provider {

// Makes sure dir holds a CA (ca.pem, ca-key.pem; made once and kept) and a
// server certificate for 127.0.0.1, localhost and address signed by it
// (cert.pem, key.pem, or cert-ADDRESS.pem, key-ADDRESS.pem for an address
// other than 127.0.0.1; made again when missing, unreadable, expired or not
// signed by that CA). Returns false with a reason in error when that fails.
bool ensureCertificate(const QString &dir, const QString &address, QString *certPath, QString *keyPath, QString *error);

} // namespace provider
