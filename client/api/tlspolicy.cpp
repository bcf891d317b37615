#include "api/tlspolicy.h"

#include <QDebug>
#include <QFile>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QStringBuilder>
#include <QStringList>

#include "tovraconstants.h"

namespace TlsPolicy {

namespace {

bool installed = false;

QList<QSslCertificate> readCaFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QSslCertificate::fromData(file.readAll(), QSsl::Pem);
}

} // namespace

void install()
{
    if (installed)
        return;
    installed = true;
    // An explicit CA list switches off Qt's on-demand loading of the system's store, so it is listed too.
    QList<QSslCertificate> certificates = QSslConfiguration::systemCaCertificates();
    const QString caFile = QString::fromUtf8(TovraConstants::TrustedCaFile);
    if (!caFile.isEmpty()) {
        const QList<QSslCertificate> own = readCaFile(caFile);
        if (own.isEmpty())
            qDebug().noquote() << "CA certificate not found in" << caFile;
        certificates += own;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates(certificates);
    QSslConfiguration::setDefaultConfiguration(configuration);
}

bool trustCaFile(const QString &path)
{
    install();
    const QList<QSslCertificate> certificates = readCaFile(path);
    if (certificates.isEmpty())
        return false;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(certificates);
    QSslConfiguration::setDefaultConfiguration(configuration);
    return true;
}

void handleSslErrors(QNetworkReply *reply, const QList<QSslError> &errors)
{
    QStringList texts;
    for (const QSslError &error : errors)
        texts << error.errorString();
    qDebug().noquote() << QString(QLatin1String("SSL errors: ") % texts.join(QLatin1String(", ")));
    if (TovraConstants::IgnoreTlsErrors)
        reply->ignoreSslErrors();
}

} // namespace TlsPolicy
