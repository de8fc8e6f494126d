#include "platform/secrets/SecretStore.h"

#include <QEventLoop>
#include <QLoggingCategory>

#include <qt6keychain/keychain.h>

namespace vestrel::SecretStore {

namespace {

Q_LOGGING_CATEGORY(lcSecrets, "vestrel.platform.secrets")

// Runs a job to its end; the store answers through the event loop.
bool run(QKeychain::Job& job) {
    job.setAutoDelete(false);
    // Never a plain file in place of a store that does not answer.
    job.setInsecureFallback(false);
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.start();
    loop.exec();
    return job.error() == QKeychain::NoError;
}

} // namespace

std::optional<QByteArray> read(const QString& service, const QString& key) {
    QKeychain::ReadPasswordJob job(service);
    job.setKey(key);
    if (run(job))
        return job.binaryData();
    if (job.error() == QKeychain::EntryNotFound)
        return QByteArray();
    qCInfo(lcSecrets) << "the secret store did not answer:" << job.errorString();
    return std::nullopt;
}

bool write(const QString& service, const QString& key, const QByteArray& secret) {
    QKeychain::WritePasswordJob job(service);
    job.setKey(key);
    job.setBinaryData(secret);
    if (run(job))
        return true;
    qCInfo(lcSecrets) << "the secret store did not keep the secret:" << job.errorString();
    return false;
}

} // namespace vestrel::SecretStore
