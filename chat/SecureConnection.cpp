#include "chat/SecureConnection.h"

#include "chat/ChatLog.h"
#include "chat/ChatRecord.h"
#include "platform/Cp1252.h"

#include <QEventLoop>
#include <QLocalSocket>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

#include <chrono>
#include <future>
#include <memory>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace vestrel::chat {

namespace {

QByteArray fingerprintOf(const QSslCertificate& certificate) {
    return certificate.digest(QCryptographicHash::Sha256).toHex(':').toUpper();
}

// One encrypted connection and the local socket it serves; lives on its own thread's event loop.
class Tunnel : public QObject {
public:
    Tunnel(std::shared_ptr<std::promise<SecureOpening>> result, QByteArray pinned, QByteArray auth, QEventLoop& loop)
        : m_result(std::move(result))
        , m_pinned(std::move(pinned))
        , m_auth(std::move(auth))
        , m_loop(loop) {
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setProtocol(QSsl::TlsV1_2OrLater);
        m_tls.setSslConfiguration(configuration);
        connect(&m_tls, &QSslSocket::sslErrors, this, &Tunnel::checkCertificate);
        connect(&m_tls, &QSslSocket::encrypted, this, [this] { m_tls.write(m_auth); });
        connect(&m_tls, &QSslSocket::readyRead, this, &Tunnel::fromServer);
        connect(&m_tls, &QSslSocket::disconnected, this, &Tunnel::serverGone);
        connect(&m_tls, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
            if (error != QAbstractSocket::RemoteHostClosedError || !m_local)
                fail(SecureOpening::Status::Failed, m_tls.errorString());
            serverGone();
        });
    }

    void open(const QString& host, quint16 port) { m_tls.connectToHostEncrypted(host, port); }
    // The deadline: without effect once the connection is open.
    void abandon() {
        if (m_settled)
            return;
        fail(SecureOpening::Status::Failed, u"time-out"_s);
        m_tls.abort();
        m_loop.quit();
    }

private:
    void checkCertificate(const QList<QSslError>& errors) {
        m_fingerprint = fingerprintOf(m_tls.peerCertificate());
        if (!m_pinned.isEmpty() && m_fingerprint == m_pinned) {
            m_tls.ignoreSslErrors(errors);
            return;
        }
        fail(m_pinned.isEmpty() ? SecureOpening::Status::UnknownCertificate : SecureOpening::Status::ChangedCertificate,
             errors.value(0).errorString());
        m_tls.abort();
        m_loop.quit();
    }

    void fromServer() {
        if (m_local) {
            m_local->write(m_tls.readAll());
            return;
        }
        if (m_tls.bytesAvailable() < TChatRecord::Size)
            return;
        const TChatRecord answer = TChatRecord::fromBytes(m_tls.read(TChatRecord::Size).constData());
        if (!answer.hasCommand(ChatCommand::AuthOk)) {
            const bool refused = answer.hasCommand(ChatCommand::Dialog);
            fail(refused ? SecureOpening::Status::Refused : SecureOpening::Status::Failed,
                 refused ? cp1252::toUnicode(answer.field(TChatRecord::Text))
                         : u"unexpected answer \"%1\""_s.arg(cp1252::toUnicode(answer.field(TChatRecord::Command))));
            m_tls.abort();
            m_loop.quit();
            return;
        }
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
            fail(SecureOpening::Status::Failed, u"cannot make a local socket"_s);
            m_tls.abort();
            m_loop.quit();
            return;
        }
        m_local = std::make_unique<QLocalSocket>();
        m_local->setSocketDescriptor(ends[1]);
        connect(m_local.get(), &QLocalSocket::readyRead, this, [this] { m_tls.write(m_local->readAll()); });
        connect(m_local.get(), &QLocalSocket::disconnected, this, [this] {
            // The client closed: what it wrote last still goes out before the connection ends.
            m_tls.write(m_local->readAll());
            m_tls.disconnectFromHost();
            if (m_tls.state() == QAbstractSocket::UnconnectedState)
                m_loop.quit();
        });
        SecureOpening opened;
        opened.status = SecureOpening::Status::Open;
        opened.descriptor = ends[0];
        opened.fingerprint = fingerprintOf(m_tls.peerCertificate());
        settle(std::move(opened));
        if (m_tls.bytesAvailable() > 0)
            m_local->write(m_tls.readAll());
    }

    void serverGone() {
        if (m_local) {
            m_local->flush();
            m_local->disconnectFromServer();
        } else {
            fail(SecureOpening::Status::Failed, u"connection closed by the server"_s);
        }
        m_loop.quit();
    }

    void fail(SecureOpening::Status status, const QString& message) {
        SecureOpening failed;
        failed.status = status;
        failed.fingerprint = m_fingerprint;
        failed.message = message;
        settle(std::move(failed));
    }

    void settle(SecureOpening outcome) {
        if (m_settled)
            return;
        m_settled = true;
        m_result->set_value(std::move(outcome));
    }

    std::shared_ptr<std::promise<SecureOpening>> m_result;
    QByteArray m_pinned;
    QByteArray m_auth;
    QEventLoop& m_loop;
    QSslSocket m_tls;
    std::unique_ptr<QLocalSocket> m_local;
    QByteArray m_fingerprint;
    bool m_settled = false;
};

} // namespace

SecureOpening openSecureConnection(const QByteArray& host, int port, const QByteArray& pinned,
                                   const QByteArray& account, const QByteArray& password, int timeoutMs) {
    if (!QSslSocket::supportsSsl()) {
        SecureOpening failed;
        failed.message = u"this system's TLS library cannot be loaded"_s;
        return failed;
    }
    auto result = std::make_shared<std::promise<SecureOpening>>();
    std::future<SecureOpening> outcome = result->get_future();
    TChatRecord auth;
    auth.setField(TChatRecord::Command, ChatCommand::Auth);
    auth.setField(TChatRecord::SenderNick, account);
    auth.setField(TChatRecord::Text, password);

    // A thread of its own with an event loop: the chat client reads and writes the local end from
    // several threads of its own, which a TLS connection could not serve directly.
    std::thread([result, pinned, record = auth.toByteArray(), host = QString::fromLatin1(host), port, timeoutMs] {
        QEventLoop loop;
        Tunnel tunnel(result, pinned, record, loop);
        QTimer deadline;
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &tunnel, [&tunnel] { tunnel.abandon(); });
        deadline.start(timeoutMs);
        tunnel.open(host, quint16(port));
        loop.exec();
        qCDebug(lcChat) << "encrypted connection to" << host << "ended";
    }).detach();

    // The thread settles the outcome by the deadline at the latest; a little more for its own start.
    if (outcome.wait_for(std::chrono::milliseconds(timeoutMs + 2000)) != std::future_status::ready) {
        SecureOpening failed;
        failed.message = u"no answer"_s;
        return failed;
    }
    return outcome.get();
}

} // namespace vestrel::chat
