// The chat client's encrypted connection: certificate pinning, the account's login and where the
// password goes, against the relay server in-process.
#include "ChatTestSupport.h"

#include "chat/ChatPassword.h"
#include "chat/ChatRecord.h"
#include "chat/SecureConnection.h"
#include "chat/ServerTrust.h"
#include "chat/UserConfig.h"
#include "chat/ui/SettingsDialog.h"
#include "tools/chatserver/AccountStore.h"
#include "tools/chatserver/CertificateMaker.h"
#include "tools/chatserver/RelayServer.h"
#include "tools/chatserver/ServerTls.h"

#include <QAction>
#include <QCheckBox>
#include <QDirIterator>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <future>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

using namespace vestrel::chat;
using namespace vestrel::chatserver;

namespace {

QSslConfiguration makeServerTls(const QString& dir, QByteArray* fingerprint) {
    QString error;
    *fingerprint = makeCertificate(dir, {QStringLiteral("127.0.0.1")}, &error).toLatin1();
    const auto tls =
        loadServerTls(dir + QStringLiteral("/chatserver.crt"), dir + QStringLiteral("/chatserver.key"), &error);
    return tls ? *tls : QSslConfiguration();
}

std::unique_ptr<AccountStore> loadAccounts(const QString& path) {
    auto store = std::make_unique<AccountStore>(path);
    QString error;
    if (!store->load(&error))
        qWarning() << "cannot load the accounts:" << error;
    return store;
}

} // namespace

class TestChatSecure : public QObject {
    Q_OBJECT
private:
    // Starts `server` on `port` (0: any) with `tls`, the accounts given (none: every AUTH passes) and
    // its log lines appended to `log` when one is given.
    static bool startRelay(RelayServer& server, const QSslConfiguration& tls, quint16 port,
                           std::unique_ptr<AccountStore> accounts, QStringList* log = nullptr) {
        server.setLog([log](const QString& line) {
            if (log)
                log->append(line);
        });
        server.setTls(tls);
        if (accounts)
            server.setAccounts(std::move(accounts));
        return server.listen(QHostAddress::LocalHost, port);
    }

    // `peer` connects over TLS to a server with the trusted certificate, which then goes away: the
    // peer is left calling it again on `port`.
    void connectThenLoseTheServer(std::optional<test::Peer>& peer, const QByteArray& nick, const QByteArray& machine,
                                  std::unique_ptr<AccountStore> accounts, quint16& port) {
        {
            RelayServer server;
            QVERIFY(startRelay(server, m_tls, 0, std::move(accounts)));
            port = server.serverPort();
            QVERIFY(ServerTrust::pin("127.0.0.1", port, m_fingerprint));
            peer.emplace(nick, machine, port);
            peer->window->Connect();
            QTRY_VERIFY(peer->window->connection().connected());
        }
        QTRY_VERIFY(peer->window->connection().reconnecting());
    }

    // After the one box, no more calls: the next one of the backoff would have come within 2.4 s.
    static void expectNoMoreCalls(const test::Peer& peer, const QStringList& serverLog) {
        QTest::qWait(3000);
        QCOMPARE(serverLog.filter(QStringLiteral("connected from")).size(), 1);
        QCOMPARE(peer.boxes.shown.size(), 1);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        qputenv("VESTREL_PROGRAM_DIR", m_dir.filePath(QStringLiteral("prog")).toLocal8Bit());
        qputenv("VESTREL_REGISTRY_DIR", m_dir.filePath(QStringLiteral("reg")).toLocal8Bit());
        qunsetenv("VESTREL_CHAT_PASSWORD");
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("prog"))));
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("cert1"))));
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("cert2"))));
        m_tls = makeServerTls(m_dir.filePath(QStringLiteral("cert1")), &m_fingerprint);
        m_otherTls = makeServerTls(m_dir.filePath(QStringLiteral("cert2")), &m_otherFingerprint);
        QVERIFY(!m_fingerprint.isEmpty() && !m_otherFingerprint.isEmpty());

        QVERIFY(password::initialise());
        const QString accounts = m_dir.filePath(QStringLiteral("accounts"));
        QFile file(accounts);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("anna:" + password::hash("Segreto-Anna-42") + "\n");
        file.close();
        m_accounts = accounts;
    }

    void certificateIsAskedPinnedAndAChangedOneRefused() {
        RelayServer server;
        server.setLog([](const QString&) {});
        server.setTls(m_tls);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const int port = server.serverPort();

        // First contact: nothing pinned, the fingerprint is reported for the user to judge.
        SecureOpening first = open(port, ServerTrust::pinned("127.0.0.1", port), "anna", "x");
        QCOMPARE(first.status, SecureOpening::Status::UnknownCertificate);
        QCOMPARE(first.fingerprint, m_fingerprint);

        QVERIFY(ServerTrust::pin("127.0.0.1", port, first.fingerprint));
        SecureOpening second = open(port, ServerTrust::pinned("127.0.0.1", port), "anna", "x");
        QCOMPARE(second.status, SecureOpening::Status::Open);
        // Records pass the tunnel both ways.
        const TChatRecord login = makeChatRecord(ChatCommand::Login, {"anna", "h", "pcA"});
        QCOMPARE(::send(second.descriptor, login.data(), TChatRecord::Size, MSG_NOSIGNAL), TChatRecord::Size);
        QByteArray reply;
        QTRY_VERIFY(readSome(second.descriptor, reply) >= TChatRecord::Size);
        QCOMPARE(TChatRecord::fromBytes(reply.constData()).field(TChatRecord::Text), QByteArray("anna=pcA\r\n"));
        ::close(second.descriptor);
        QTRY_COMPARE(server.clientCount(), 0);

        // Another server answers on that host and port: refused, whatever the password.
        RelayServer impostor;
        impostor.setLog([](const QString&) {});
        impostor.setTls(m_otherTls);
        QVERIFY(impostor.listen(QHostAddress::LocalHost, 0));
        QVERIFY(ServerTrust::pin("127.0.0.1", impostor.serverPort(), m_fingerprint));
        const SecureOpening changed =
            open(impostor.serverPort(), ServerTrust::pinned("127.0.0.1", impostor.serverPort()), "anna", "x");
        QCOMPARE(changed.status, SecureOpening::Status::ChangedCertificate);
        QCOMPARE(changed.fingerprint, m_otherFingerprint);
        QCOMPARE(impostor.loggedInCount(), 0);
    }

    void aCallAgainThatMeetsAChangedCertificateStopsAndWarnsOnce() {
        ServerTrust::setTlsEnabled(true);
        const auto tlsOff = qScopeGuard([] { ServerTrust::setTlsEnabled(false); });
        ChatPassword::remember("carla", "x"); // the server has no accounts: any password passes
        std::optional<test::Peer> carla;
        quint16 port = 0;
        connectThenLoseTheServer(carla, "carla", "pcC", nullptr, port);
        if (QTest::currentTestFailed())
            return;

        // Another server, with another certificate, answers on its port before the first call again.
        RelayServer impostor;
        QStringList impostorLog;
        QVERIFY(startRelay(impostor, m_otherTls, port, nullptr, &impostorLog));

        QTRY_COMPARE_WITH_TIMEOUT(carla->boxes.texts(QStringLiteral("error")).size(), 1, 10000);
        const QString warning = carla->boxes.texts(QStringLiteral("error")).first();
        QVERIFY2(warning.contains(QStringLiteral("certificato del server 127.0.0.1:%1 è cambiato").arg(port)),
                 qPrintable(warning));
        QVERIFY(warning.contains(QString::fromLatin1(m_otherFingerprint)));
        QVERIFY(!carla->window->connection().reconnecting());
        QVERIFY(carla->window->Connetti1->isEnabled());
        QVERIFY(!carla->window->Disconnetti1->isEnabled());
        expectNoMoreCalls(*carla, impostorLog);
        QCOMPARE(impostor.loggedInCount(), 0);
        QCOMPARE(ServerTrust::pinned("127.0.0.1", port), m_fingerprint);
    }

    // The server comes back with anna's password changed: the refusal is shown once and the client
    // stops calling, instead of knocking with the old password until the server locks it out.
    void aCallAgainThatIsRefusedStops() {
        ServerTrust::setTlsEnabled(true);
        const auto tlsOff = qScopeGuard([] { ServerTrust::setTlsEnabled(false); });
        ChatPassword::remember("anna", "Segreto-Anna-42");
        std::optional<test::Peer> anna;
        quint16 port = 0;
        connectThenLoseTheServer(anna, "anna", "pcA", loadAccounts(m_accounts), port);
        if (QTest::currentTestFailed())
            return;

        const QString changed = m_dir.filePath(QStringLiteral("accounts-changed"));
        QFile file(changed);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("anna:" + password::hash("Nuova-Anna-43") + "\n");
        file.close();
        RelayServer restarted;
        QStringList log;
        QVERIFY(startRelay(restarted, m_tls, port, loadAccounts(changed), &log));

        QTRY_COMPARE_WITH_TIMEOUT(anna->boxes.texts(QStringLiteral("warning")).size(), 1, 10000);
        QVERIFY(anna->boxes.texts(QStringLiteral("warning")).first().startsWith(QStringLiteral("Accesso negato")));
        QVERIFY(!anna->window->connection().reconnecting());
        expectNoMoreCalls(*anna, log);
    }

    void accountLoginsAnsweredOrRefused() {
        RelayServer server;
        server.setLog([](const QString&) {});
        server.setTls(m_tls);
        auto store = std::make_unique<AccountStore>(m_accounts);
        QString error;
        QVERIFY(store->load(&error));
        server.setAccounts(std::move(store));
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));

        const SecureOpening refused = open(server.serverPort(), m_fingerprint, "anna", "sbagliata");
        QCOMPARE(refused.status, SecureOpening::Status::Refused);
        QVERIFY(refused.message.startsWith(QStringLiteral("Accesso negato")));

        const SecureOpening opened = open(server.serverPort(), m_fingerprint, "anna", "Segreto-Anna-42");
        QCOMPARE(opened.status, SecureOpening::Status::Open);
        ::close(opened.descriptor);
    }

    void passwordIsInNoFileTheClientWrites() {
        TUserConfig config;
        config.Server = "127.0.0.1";
        config.Porta = "47110";
        config.Nick = "anna";
        config.Host = "pcA";
        TForm1 dialog(config, [] { return QByteArray("pcA"); });
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.CheckBox6->setChecked(true);
        dialog.Edit6->setText(QStringLiteral("Segreto-Anna-42"));
        dialog.accept();
        QVERIFY(dialog.saveError().isEmpty());
        QVERIFY(ServerTrust::tlsEnabled());
        QVERIFY(ServerTrust::pin("127.0.0.1", 47110, m_fingerprint));
        QCOMPARE(ChatPassword::get("anna"), QByteArray("Segreto-Anna-42"));

        int files = 0;
        for (QDirIterator it(m_dir.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
            QFile file(it.next());
            QVERIFY(file.open(QIODevice::ReadOnly));
            ++files;
            QVERIFY2(!file.readAll().contains("Segreto-Anna-42"), qPrintable(file.fileName()));
        }
        QVERIFY(files >= 2); // at least the settings file and the registry store
    }

private:
    // Opens from another thread: the server runs on this one's event loop.
    SecureOpening open(int port, const QByteArray& pinned, const QByteArray& account, const QByteArray& secret) {
        auto pending = std::async(std::launch::async, [=] {
            return openSecureConnection("127.0.0.1", port, pinned, account, secret, 10000);
        });
        if (!QTest::qWaitFor([&] { return pending.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                             20000))
            return {};
        return pending.get();
    }

    static qsizetype readSome(int fd, QByteArray& into) {
        char buffer[4096];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0)
            into.append(buffer, got);
        return into.size();
    }

    QTemporaryDir m_dir;
    QSslConfiguration m_tls;
    QSslConfiguration m_otherTls;
    QByteArray m_fingerprint;
    QByteArray m_otherFingerprint;
    QString m_accounts;
};

QTEST_MAIN(TestChatSecure)
#include "tst_chatsecure.moc"
