#include "certificate.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace provider {

namespace {

template <typename T, void (*F)(T *)>
struct Deleter
{
    void operator()(T *p) const { F(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

bool pairIsUsable(const QString &certPath, const QString &keyPath)
{
    BioPtr certBio(BIO_new_file(QFile::encodeName(certPath).constData(), "r"));
    BioPtr keyBio(BIO_new_file(QFile::encodeName(keyPath).constData(), "r"));
    if (!certBio || !keyBio)
        return false;
    CertPtr cert(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
    KeyPtr key(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
    return cert && key && X509_check_private_key(cert.get(), key.get()) == 1 &&
           X509_cmp_current_time(X509_get0_notAfter(cert.get())) > 0;
}

bool addExtension(X509 *cert, int nid, const char *value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION *ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        return false;
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

bool writePem(const QString &path, bool isKey, EVP_PKEY *key, X509 *cert)
{
    // The key file is readable by its owner only.
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    if (isKey)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    BioPtr bio(BIO_new(BIO_s_mem()));
    const int ok = isKey ? PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr)
                         : PEM_write_bio_X509(bio.get(), cert);
    if (ok != 1)
        return false;
    char *data = nullptr;
    const long len = BIO_get_mem_data(bio.get(), &data);
    return file.write(data, len) == len && file.flush();
}

} // namespace

bool ensureCertificate(const QString &dir, QString *certPath, QString *keyPath, QString *error)
{
    *certPath = QDir(dir).filePath(QStringLiteral("cert.pem"));
    *keyPath = QDir(dir).filePath(QStringLiteral("key.pem"));
    if (pairIsUsable(*certPath, *keyPath))
        return true;
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot create %1").arg(dir);
        return false;
    }

    KeyPtr key(EVP_EC_gen("P-256"));
    CertPtr cert(X509_new());
    if (!key || !cert) {
        *error = QStringLiteral("cannot create a key pair");
        return false;
    }
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set_int64(X509_get_serialNumber(cert.get()),
                           static_cast<int64_t>(QDateTime::currentMSecsSinceEpoch()));
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24 * 3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 10L * 365 * 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME *name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("TOVRA stand-in provider"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("127.0.0.1"), -1, -1,
                               0);
    X509_set_issuer_name(cert.get(), name);
    if (!addExtension(cert.get(), NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost") ||
        !addExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE") ||
        !addExtension(cert.get(), NID_ext_key_usage, "serverAuth") ||
        X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
        *error = QStringLiteral("cannot sign the certificate");
        return false;
    }
    if (!writePem(*keyPath, true, key.get(), cert.get()) || !writePem(*certPath, false, key.get(), cert.get())) {
        *error = QStringLiteral("cannot write the certificate files in %1").arg(dir);
        return false;
    }
    return true;
}

} // namespace provider
