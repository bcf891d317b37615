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

CertPtr readCertificate(const QString &path)
{
    BioPtr bio(BIO_new_file(QFile::encodeName(path).constData(), "r"));
    return CertPtr(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

KeyPtr readKey(const QString &path)
{
    BioPtr bio(BIO_new_file(QFile::encodeName(path).constData(), "r"));
    return KeyPtr(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

// The certificate matches the key, has not expired and, with an issuer, was signed by it.
bool pairIsUsable(X509 *cert, EVP_PKEY *key, X509 *issuer)
{
    if (!cert || !key || X509_check_private_key(cert, key) != 1 || X509_cmp_current_time(X509_get0_notAfter(cert)) <= 0)
        return false;
    return !issuer ||
           (X509_check_issued(issuer, cert) == X509_V_OK && X509_verify(cert, X509_get0_pubkey(issuer)) == 1);
}

bool addExtension(X509 *cert, X509 *issuer, int nid, const char *value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
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

// A new certificate for key: the CA when issuer is null (self-signed), else a server certificate for
// 127.0.0.1, localhost and address signed by the issuer.
CertPtr makeCertificate(EVP_PKEY *key, X509 *issuer, EVP_PKEY *issuerKey, const QString &address)
{
    const QByteArray altNames = QByteArrayLiteral("IP:127.0.0.1,DNS:localhost") +
                                (address == QLatin1String("127.0.0.1") ? QByteArray() : ",IP:" + address.toLatin1());
    CertPtr cert(X509_new());
    const bool isCa = !issuer;
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set_int64(X509_get_serialNumber(cert.get()),
                           static_cast<int64_t>(QDateTime::currentMSecsSinceEpoch()) * 2 + (isCa ? 0 : 1));
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24 * 3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 10L * 365 * 24 * 3600);
    X509_set_pubkey(cert.get(), key);
    X509_NAME *name = X509_get_subject_name(cert.get());
    const char *commonName = isCa ? "TOVRA stand-in provider CA" : "127.0.0.1";
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("TOVRA stand-in provider"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>(commonName), -1, -1,
                               0);
    X509_set_issuer_name(cert.get(), isCa ? name : X509_get_subject_name(issuer));
    X509 *signer = isCa ? cert.get() : issuer;
    const bool extended = isCa
                              ? addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE,pathlen:0") &&
                                    addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign") &&
                                    addExtension(cert.get(), signer, NID_subject_key_identifier, "hash")
                              : addExtension(cert.get(), signer, NID_subject_alt_name, altNames.constData()) &&
                                    addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE") &&
                                    addExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth") &&
                                    addExtension(cert.get(), signer, NID_authority_key_identifier, "keyid");
    if (!extended || X509_sign(cert.get(), isCa ? key : issuerKey, EVP_sha256()) == 0)
        return nullptr;
    return cert;
}

} // namespace

bool ensureCertificate(const QString &dir, const QString &address, QString *certPath, QString *keyPath, QString *error)
{
    // Another listening address has a certificate of its own beside the loopback one.
    const QString suffix = address == QLatin1String("127.0.0.1") ? QString() : QLatin1Char('-') + address;
    const QString caPath = QDir(dir).filePath(QStringLiteral("ca.pem"));
    const QString caKeyPath = QDir(dir).filePath(QStringLiteral("ca-key.pem"));
    *certPath = QDir(dir).filePath(QStringLiteral("cert%1.pem").arg(suffix));
    *keyPath = QDir(dir).filePath(QStringLiteral("key%1.pem").arg(suffix));
    CertPtr ca = readCertificate(caPath);
    KeyPtr caKey = readKey(caKeyPath);
    const bool caUsable = pairIsUsable(ca.get(), caKey.get(), nullptr);
    if (caUsable && pairIsUsable(readCertificate(*certPath).get(), readKey(*keyPath).get(), ca.get()))
        return true;
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot create %1").arg(dir);
        return false;
    }
    // The CA is made once and kept: clients that trust it keep working when the server certificate is renewed.
    if (!caUsable) {
        caKey.reset(EVP_EC_gen("P-256"));
        ca = caKey ? makeCertificate(caKey.get(), nullptr, nullptr, address) : nullptr;
        if (!ca || !writePem(caKeyPath, true, caKey.get(), nullptr) || !writePem(caPath, false, nullptr, ca.get())) {
            *error = QStringLiteral("cannot make the CA certificate in %1").arg(dir);
            return false;
        }
    }
    KeyPtr key(EVP_EC_gen("P-256"));
    CertPtr cert = key ? makeCertificate(key.get(), ca.get(), caKey.get(), address) : nullptr;
    if (!cert || !writePem(*keyPath, true, key.get(), nullptr) || !writePem(*certPath, false, nullptr, cert.get())) {
        *error = QStringLiteral("cannot make the server certificate in %1").arg(dir);
        return false;
    }
    return true;
}

} // namespace provider
