#include "tools/chatserver/ServerTls.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>

using namespace Qt::StringLiterals;

namespace vestrel::chatserver {

std::optional<QSslConfiguration> loadServerTls(const QString& certificateFile, const QString& keyFile, QString* error) {
    if (!QSslSocket::supportsSsl()) {
        *error = u"this system's TLS library cannot be loaded"_s;
        return std::nullopt;
    }
    QFile certFile(certificateFile);
    if (!certFile.open(QIODevice::ReadOnly)) {
        *error = u"cannot read %1: %2"_s.arg(certificateFile, certFile.errorString());
        return std::nullopt;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certFile.readAll(), QSsl::Pem);
    if (chain.isEmpty()) {
        *error = u"%1 holds no PEM certificate"_s.arg(certificateFile);
        return std::nullopt;
    }
    QFile keyData(keyFile);
    if (!keyData.open(QIODevice::ReadOnly)) {
        *error = u"cannot read %1: %2"_s.arg(keyFile, keyData.errorString());
        return std::nullopt;
    }
    const QByteArray pem = keyData.readAll();
    QSslKey key(pem, QSsl::Ec);
    if (key.isNull())
        key = QSslKey(pem, QSsl::Rsa);
    if (key.isNull()) {
        *error = u"%1 holds no PEM private key (elliptic-curve or RSA, not encrypted)"_s.arg(keyFile);
        return std::nullopt;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    // It asks clients for no certificate, so it needs no authorities to check one with; without them
    // each connection's TLS context stays small.
    configuration.setCaCertificates({});
    configuration.setSslOption(QSsl::SslOptionDisableSessionTickets, true);
    configuration.setSslOption(QSsl::SslOptionDisableSessionSharing, true);
    return configuration;
}

} // namespace vestrel::chatserver
