#include "platform/SingleInstance.h"

#include "platform/ProgramDir.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QLoggingCategory>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace vestrel {

namespace {

Q_LOGGING_CATEGORY(lcSingleInstance, "vestrel.platform.instance")

const QByteArray activateRequest = QByteArrayLiteral("activate\n");

QString runtimeFolder() {
    // Without a session's runtime folder (a service, a bare test run) the temporary folder serves.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return QDir::tempPath();
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return folder.isEmpty() ? QDir::tempPath() : folder;
}

} // namespace

SingleInstance::SingleInstance(const QString& programName, QObject* parent)
    : QObject(parent) {
    const QByteArray installation = (programDirectory() + u'\n' + registryDirectory()).toUtf8();
    const QByteArray hash = QCryptographicHash::hash(installation, QCryptographicHash::Sha1).toHex().left(16);
    m_name = programName + u'-' + QString::fromLatin1(hash);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::tryAcquire() {
    m_lock = std::make_unique<QLockFile>(runtimeFolder() + u'/' + m_name + u".lock"_s);
    m_lock->setStaleLockTime(0); // a lock is stale only when its process is gone
    if (!m_lock->tryLock(0)) {
        m_lock.reset();
        return false;
    }
    // We own the lock, so a socket of this name can only be left over from a crashed instance.
    QLocalServer::removeServer(m_name);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (m_server->listen(m_name)) {
        connect(m_server.get(), &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* peer = m_server->nextPendingConnection()) {
                connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
                connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                    if (peer->readAll().contains('\n'))
                        emit activationRequested();
                    peer->disconnectFromServer();
                });
            }
        });
    } else {
        // Still the only instance, but a second start cannot ask this one to come to the front.
        qCWarning(lcSingleInstance) << "single instance: cannot listen on local socket" << m_name << "-"
                                    << m_server->errorString() << "- a second start will not bring this window forward";
    }
    return true;
}

bool SingleInstance::activateRunning(int timeoutMs) const {
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(activateRequest);
    const bool written = socket.waitForBytesWritten(timeoutMs);
    socket.disconnectFromServer();
    return written;
}

} // namespace vestrel
