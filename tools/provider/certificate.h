// Self-signed certificate of the stand-in provider.
#pragma once

#include <QString>

namespace provider {

// Makes sure dir holds cert.pem and key.pem that OpenSSL can load (a new
// self-signed pair for 127.0.0.1 and localhost when they are missing or
// unreadable). Returns false with a reason in error when that fails.
bool ensureCertificate(const QString &dir, QString *certPath, QString *keyPath, QString *error);

} // namespace provider
