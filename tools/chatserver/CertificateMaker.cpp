#include "tools/chatserver/CertificateMaker.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <fcntl.h>
#include <memory>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace vestrel::chatserver {

namespace {

constexpr long TenYearsSeconds = 10L * 365 * 24 * 3600 + 3 * 24 * 3600; // with the leap days

template <auto Free> struct Deleter {
    template <typename T> void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free>>;

QByteArray pem(const std::function<int(BIO*)>& write) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || write(bio.get()) != 1)
        return {};
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, size);
}

// Creates `path` for writing, failing when it exists.
bool writeNew(const QString& path, const QByteArray& bytes, mode_t mode, QString* error) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        *error = u"cannot create %1: %2"_s.arg(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    QFile file;
    bool ok = file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle) && file.write(bytes) == bytes.size() &&
              file.flush() && ::fsync(fd) == 0;
    if (!ok) {
        *error = u"cannot write %1: %2"_s.arg(path, file.errorString());
        file.close();
        QFile::remove(path);
    }
    return ok;
}

bool addSubjectAltNames(X509* cert, const QStringList& hosts) {
    QStringList names;
    for (const QString& host : hosts) {
        const QHostAddress address(host);
        names.append((address.isNull() ? u"DNS:"_s : u"IP:"_s) + host);
    }
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION_free>> extension(
        X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, names.join(u',').toUtf8().constData()));
    return extension && X509_add_ext(cert, extension.get(), -1) == 1;
}

} // namespace

QString makeCertificate(const QString& dir, const QStringList& hosts, QString* error) {
    const QString keyPath = QDir(dir).filePath(u"chatserver.key"_s);
    const QString certPath = QDir(dir).filePath(u"chatserver.crt"_s);
    if (hosts.isEmpty()) {
        *error = u"no host name for the certificate"_s;
        return {};
    }
    if (QFile::exists(keyPath) || QFile::exists(certPath)) {
        *error = u"%1 already holds a certificate or key; not overwriting"_s.arg(dir);
        return {};
    }

    // An elliptic-curve key: small, and fast to handshake with for many clients at once.
    KeyPtr key(EVP_EC_gen("P-256"));
    CertPtr cert(X509_new());
    unsigned char serial[16];
    if (!key || !cert || RAND_bytes(serial, sizeof serial) != 1) {
        *error = u"cannot make a key"_s;
        return {};
    }
    serial[0] &= 0x7f; // a positive serial number
    std::unique_ptr<BIGNUM, Deleter<BN_free>> serialNumber(BN_bin2bn(serial, sizeof serial, nullptr));
    X509_NAME* name = X509_get_subject_name(cert.get());
    const QByteArray commonName = hosts.first().toUtf8();
    bool ok =
        X509_set_version(cert.get(), 2) == 1 && serialNumber &&
        BN_to_ASN1_INTEGER(serialNumber.get(), X509_get_serialNumber(cert.get())) &&
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) &&
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), TenYearsSeconds) &&
        X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Vestrel chat"), -1,
                                   -1, 0) == 1 &&
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(commonName.constData()), -1, -1, 0) == 1 &&
        X509_set_issuer_name(cert.get(), name) == 1 && X509_set_pubkey(cert.get(), key.get()) == 1 &&
        addSubjectAltNames(cert.get(), hosts) && X509_sign(cert.get(), key.get(), EVP_sha256()) > 0;
    if (!ok) {
        *error = u"cannot make the certificate (is every host name valid?)"_s;
        return {};
    }
    const QByteArray keyPem =
        pem([&](BIO* bio) { return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr); });
    const QByteArray certPem = pem([&](BIO* bio) { return PEM_write_bio_X509(bio, cert.get()); });
    if (keyPem.isEmpty() || certPem.isEmpty()) {
        *error = u"cannot encode the key pair"_s;
        return {};
    }
    if (!writeNew(keyPath, keyPem, 0600, error))
        return {};
    if (!writeNew(certPath, certPem, 0644, error)) {
        QFile::remove(keyPath);
        return {};
    }
    return QString::fromLatin1(QSslCertificate(certPem).digest(QCryptographicHash::Sha256).toHex(':').toUpper());
}

} // namespace vestrel::chatserver
