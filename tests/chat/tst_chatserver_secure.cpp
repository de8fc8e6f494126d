// The relay server with TLS and accounts, driven in-process by hand-made clients.
#include "chat/ChatRecord.h"
#include "tools/chatserver/AccountStore.h"
#include "tools/chatserver/CertificateMaker.h"
#include "tools/chatserver/RelayServer.h"
#include "tools/chatserver/ServerTls.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace vestrel::chat;
using namespace vestrel::chatserver;

namespace {

// A client speaking the wire protocol by hand, in clear text or over TLS.
class Peer {
public:
    Peer(quint16 port, bool tls) {
        if (tls) {
            m_socket.setPeerVerifyMode(QSslSocket::VerifyNone);
            m_socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        } else {
            m_socket.connectToHost(QHostAddress::LocalHost, port);
            if (!QTest::qWaitFor([this] { return m_socket.state() == QAbstractSocket::ConnectedState; }, 5000))
                qWarning("not connected");
        }
        QObject::connect(&m_socket, &QSslSocket::readyRead, &m_socket, [this] { m_raw += m_socket.readAll(); });
    }
    // Waits while the event loop runs: the server is in this process.
    bool waitEncrypted() {
        return QTest::qWaitFor([this] { return m_socket.isEncrypted() || closed(); }, 5000) && m_socket.isEncrypted();
    }
    void send(const TChatRecord& record) {
        m_socket.write(record.toByteArray());
        m_socket.flush();
    }
    void auth(const QByteArray& account, const QByteArray& password) {
        send(makeChatRecord(ChatCommand::Auth, {account, "", ""}, password));
    }
    void login(const QByteArray& nick, const QByteArray& machine) {
        send(makeChatRecord(ChatCommand::Login, {nick, "host-" + nick, machine}));
    }
    QList<TChatRecord> records() const {
        QList<TChatRecord> result;
        for (qsizetype at = 0; at + TChatRecord::Size <= m_raw.size(); at += TChatRecord::Size)
            result.append(TChatRecord::fromBytes(m_raw.constData() + at));
        return result;
    }
    QByteArrayList commands() const {
        QByteArrayList result;
        for (const TChatRecord& r : records())
            result.append(r.field(TChatRecord::Command));
        return result;
    }
    // The messages received: "sender nick|host|machine|text".
    QByteArrayList messages() const {
        QByteArrayList result;
        for (const TChatRecord& r : records()) {
            if (r.hasCommand(ChatCommand::Message))
                result.append(r.field(TChatRecord::SenderNick) + '|' + r.field(TChatRecord::SenderHost) + '|' +
                              r.field(TChatRecord::SenderMachine) + '|' + r.field(TChatRecord::Text));
        }
        return result;
    }
    QByteArray lastList() const {
        QByteArray list;
        for (const TChatRecord& r : records()) {
            if (r.hasCommand(ChatCommand::Login) || r.hasCommand(ChatCommand::Logout))
                list = r.field(TChatRecord::Text);
        }
        return list;
    }
    qsizetype rawBytes() const { return m_raw.size(); }
    bool closed() const { return m_socket.state() == QAbstractSocket::UnconnectedState; }
    QSslSocket& socket() { return m_socket; }

private:
    QSslSocket m_socket;
    QByteArray m_raw;
};

} // namespace

class TestChatServerSecure : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(QSslSocket::supportsSsl());
        QVERIFY(password::initialise());
        QVERIFY(m_dir.isValid());
        QString error;
        m_fingerprint = makeCertificate(m_dir.path(), {QStringLiteral("127.0.0.1")}, &error);
        QVERIFY2(!m_fingerprint.isEmpty(), qPrintable(error));
        const auto tls = loadServerTls(m_dir.filePath(QStringLiteral("chatserver.crt")),
                                       m_dir.filePath(QStringLiteral("chatserver.key")), &error);
        QVERIFY2(tls, qPrintable(error));
        m_tls = *tls;
        m_hashes.insert("anna", password::hash("segreto-anna"));
        m_hashes.insert("bruno", password::hash("segreto-bruno"));
    }

    void init() {
        m_log.clear();
        m_server = std::make_unique<RelayServer>();
        m_server->setLog([this](const QString& line) { m_log.append(line); });
        m_server->setTls(m_tls);
    }
    void cleanup() { m_server.reset(); }

    void clearTextClientAgainstTlsGetsNothing() {
        QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
        Peer watcher(m_server->serverPort(), true);
        QVERIFY(watcher.waitEncrypted());
        watcher.login("anna", "pcA");
        QTRY_COMPARE(watcher.commands(), QByteArrayList{"Login"});

        Peer plain(m_server->serverPort(), false);
        plain.login("intruso", "pcX");
        plain.send(makeChatRecord(ChatCommand::Message, {"intruso", "", "pcX"}, "ciao"));
        QTRY_VERIFY(plain.closed());
        QCOMPARE(plain.records().size(), 0); // at most a TLS alert, never a record
        QVERIFY(plain.rawBytes() < TChatRecord::Size);
        QTest::qWait(50);
        QCOMPARE(watcher.commands(), QByteArrayList{"Login"});
        QCOMPARE(m_server->loggedInCount(), 1);
    }

    void withoutAccountsAuthIsAnsweredAndIdentitiesStayAsSent() {
        QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
        Peer anna(m_server->serverPort(), true);
        QVERIFY(anna.waitEncrypted());
        anna.auth("anna", "qualsiasi");
        QTRY_COMPARE(anna.commands(), QByteArrayList{"AUTHOK"});
        anna.login("anna", "pcA");
        anna.send(makeChatRecord(ChatCommand::Message, {"chiunque", "h", "pcZ"}, "ciao"));
        QTRY_COMPARE(anna.messages(), QByteArrayList{"chiunque|h|pcZ|ciao"});
        QCOMPARE(anna.lastList(), QByteArray("anna=pcA\r\n"));
    }

    void wrongPasswordRefusedThenRateLimited() {
        RelayServer::Limits limits;
        limits.authFailureWindowMs = 8000; // long enough for five slow checks on a busy machine
        QElapsedTimer sinceFirstFailure;   // started once the first refusal is in: after the server's clock
        m_server->setLimits(limits);
        useAccounts();
        QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));

        // Wrong passwords and an account that does not exist are refused alike.
        for (const QByteArray& account : QByteArrayList{"anna", "anna", "nessuno", "anna", "bruno"}) {
            Peer peer(m_server->serverPort(), true);
            QVERIFY(peer.waitEncrypted());
            peer.auth(account, "sbagliata");
            QTRY_VERIFY(peer.closed());
            QCOMPARE(peer.commands(), QByteArrayList{"DIALOG"});
            QVERIFY(peer.records()[0].field(TChatRecord::Text).startsWith("Accesso negato"));
            if (!sinceFirstFailure.isValid())
                sinceFirstFailure.start();
        }
        QCOMPARE(m_log.filter(QStringLiteral("failed login")).size(), 5);
        QVERIFY(m_log.filter(QStringLiteral("failed login")).first().contains(QStringLiteral("127.0.0.1")));

        // A sixth attempt is refused even with the right password, until the window is over.
        {
            Peer peer(m_server->serverPort(), true);
            QVERIFY(peer.waitEncrypted());
            peer.auth("anna", "segreto-anna");
            QTRY_VERIFY(peer.closed());
            QCOMPARE(peer.commands(), QByteArrayList{"DIALOG"});
            QVERIFY(peer.records()[0].field(TChatRecord::Text).contains("troppi tentativi"));
        }
        QTest::qWait(int(limits.authFailureWindowMs - sinceFirstFailure.elapsed()) + 200);
        Peer peer(m_server->serverPort(), true);
        QVERIFY(peer.waitEncrypted());
        peer.auth("anna", "segreto-anna");
        QTRY_COMPARE(peer.commands(), QByteArrayList{"AUTHOK"});
        QVERIFY(!peer.closed());
    }

    void recordsBeforeAuthOrUnderAnotherNickAreRefused() {
        useAccounts();
        QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
        Peer early(m_server->serverPort(), true);
        QVERIFY(early.waitEncrypted());
        early.login("anna", "pcA");
        QTRY_VERIFY(early.closed());
        QCOMPARE(early.commands(), QByteArrayList{"DIALOG"});

        Peer impostor(m_server->serverPort(), true);
        QVERIFY(impostor.waitEncrypted());
        impostor.auth("bruno", "segreto-bruno");
        impostor.login("anna", "pcA");
        QTRY_VERIFY(impostor.closed());
        QCOMPARE(impostor.commands(), (QByteArrayList{"AUTHOK", "DIALOG"}));
        QCOMPARE(m_server->loggedInCount(), 0);
    }

    void forgedSenderArrivesAsTheAccount() {
        useAccounts();
        QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
        Peer anna(m_server->serverPort(), true);
        Peer bruno(m_server->serverPort(), true);
        logIn(anna, "anna", "segreto-anna", "pcA");
        logIn(bruno, "bruno", "segreto-bruno", "pcB");
        QTRY_COMPARE(anna.lastList(), QByteArray("anna=anna\r\nbruno=bruno\r\n"));

        // One forged record alone, then a run of broadcasts that travels as one block.
        bruno.send(makeChatRecord(ChatCommand::Message, {"anna", "falso", "pcA"}, "sono anna"));
        QTRY_COMPARE(anna.messages().size(), 1);
        for (int i = 0; i < 3; ++i)
            bruno.send(makeChatRecord(ChatCommand::Message, {"anna", "falso", "pcA"}, QByteArray::number(i)));
        QTRY_COMPARE(anna.messages().size(), 4);
        QCOMPARE(anna.messages(), (QByteArrayList{"bruno|host-bruno|bruno|sono anna", "bruno|host-bruno|bruno|0",
                                                  "bruno|host-bruno|bruno|1", "bruno|host-bruno|bruno|2"}));
    }

    void claimingAnotherMachineNameReceivesNoneOfItsMessages() {
        useAccounts();
        QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
        Peer anna(m_server->serverPort(), true);
        Peer annaToo(m_server->serverPort(), true); // anna on a second desk shares her key
        Peer bruno(m_server->serverPort(), true);
        logIn(anna, "anna", "segreto-anna", "pcA");
        logIn(annaToo, "anna", "segreto-anna", "pcA2");
        logIn(bruno, "bruno", "segreto-bruno", "pcA"); // claims anna's machine
        QTRY_COMPARE(anna.lastList(), QByteArray("anna=anna\r\nanna=anna\r\nbruno=bruno\r\n"));

        // By the key in the list, and by the machine name anna really has: bruno gets neither.
        bruno.send(makeChatRecord(ChatCommand::Message, {"bruno", "", "pcA"}, "chiave", "anna"));
        bruno.send(makeChatRecord(ChatCommand::Message, {"bruno", "", "pcA"}, "macchina", "pcA"));
        anna.send(makeChatRecord(ChatCommand::Message, {"anna", "", "pcA"}, "a me", "anna"));
        QTRY_COMPARE(anna.messages().size(), 2);
        QTRY_COMPARE(annaToo.messages().size(), 2);
        QTest::qWait(100);
        QCOMPARE(bruno.messages(), QByteArrayList{});
        QByteArrayList received = anna.messages();
        std::sort(received.begin(), received.end()); // two senders: either may come first
        QCOMPARE(received, (QByteArrayList{"anna|host-anna|anna|a me", "bruno|host-bruno|bruno|chiave"}));
    }

    void makeCertPrintsTheFingerprintATlsClientSees() {
        QTemporaryDir dir;
        const QString program = qEnvironmentVariable("VESTREL_BIN_DIR") + QStringLiteral("/chatserver");
        QProcess make;
        make.start(program,
                   {QStringLiteral("--make-cert"), dir.path(), QStringLiteral("--cert-host"),
                    QStringLiteral("127.0.0.1"), QStringLiteral("--cert-host"), QStringLiteral("chat.ufficio")});
        QVERIFY(make.waitForFinished(20000));
        QCOMPARE(make.exitCode(), 0);
        const auto match = QRegularExpression(QStringLiteral("SHA-256 fingerprint: ([0-9A-F:]{95})"))
                               .match(QString::fromLatin1(make.readAllStandardOutput()));
        QVERIFY(match.hasMatch());
        struct stat info {};
        QCOMPARE(::stat(QFile::encodeName(dir.filePath(QStringLiteral("chatserver.key"))).constData(), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);

        // Never overwrites.
        const QByteArray key = readFile(dir.filePath(QStringLiteral("chatserver.key")));
        make.start(program, {QStringLiteral("--make-cert"), dir.path()});
        QVERIFY(make.waitForFinished(20000));
        QVERIFY(make.exitCode() != 0);
        QCOMPARE(readFile(dir.filePath(QStringLiteral("chatserver.key"))), key);

        QString error;
        const auto tls = loadServerTls(dir.filePath(QStringLiteral("chatserver.crt")),
                                       dir.filePath(QStringLiteral("chatserver.key")), &error);
        QVERIFY2(tls, qPrintable(error));
        RelayServer server;
        server.setLog([](const QString&) {});
        server.setTls(*tls);
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        Peer peer(server.serverPort(), true);
        QVERIFY(peer.waitEncrypted());
        const QSslCertificate seen = peer.socket().peerCertificate();
        QCOMPARE(QString::fromLatin1(seen.digest(QCryptographicHash::Sha256).toHex(':').toUpper()), match.captured(1));
        QVERIFY(seen.expiryDate() > QDateTime::currentDateTimeUtc().addYears(9));
        QCOMPARE(seen.subjectAlternativeNames().values(QSsl::DnsEntry), QStringList{QStringLiteral("chat.ufficio")});
        QCOMPARE(seen.subjectAlternativeNames().values(QSsl::IpAddressEntry), QStringList{QStringLiteral("127.0.0.1")});
    }

    void accountFileKeepsCommentsAndRefusesBadLines() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("accounts"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# ufficio\n\nanna:" + m_hashes.value("anna") + "\n");
        file.close();
        AccountStore store(path);
        QString error;
        QVERIFY(store.load(&error));
        store.setHash("perch\xe9", m_hashes.value("bruno"));
        QVERIFY(store.remove("anna"));
        QVERIFY(!store.remove("anna"));
        QVERIFY(store.save(&error));
        QCOMPARE(readFile(path), "# ufficio\n\nperch\xc3\xa9:" + m_hashes.value("bruno") + "\n");
        QCOMPARE(QFile::permissions(path) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions{});

        AccountStore again(path);
        QVERIFY(again.load(&error));
        QVERIFY(again.find("perch\xe9")); // cp1252, as on the wire
        QVERIFY(password::verify(again.find("perch\xe9")->hash, "segreto-bruno"));

        QVERIFY(file.open(QIODevice::Append));
        file.write("senza-hash\n");
        file.close();
        QVERIFY(!again.reloadIfChanged(&error));
        QVERIFY(error.contains(QStringLiteral("line 4")));
        QVERIFY(again.find("perch\xe9")); // the accounts it had stay

        QVERIFY(AccountStore::invalidName(QStringLiteral("anna")).isEmpty());
        for (const QString& bad : {QString(), QStringLiteral(" anna"), QStringLiteral("a=b"), QStringLiteral("a:b"),
                                   QStringLiteral("a\tb"), QStringLiteral("\u20ac\u4e2d"), QString(127, u'x')})
            QVERIFY2(!AccountStore::invalidName(bad).isEmpty(), qPrintable(bad));
    }

private:
    static QByteArray readFile(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    void useAccounts() {
        const QString path = m_dir.filePath(QStringLiteral("accounts-%1").arg(++m_accountFiles));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (auto it = m_hashes.cbegin(); it != m_hashes.cend(); ++it)
            file.write(it.key() + ':' + it.value() + '\n');
        file.close();
        auto store = std::make_unique<AccountStore>(path);
        QString error;
        QVERIFY2(store->load(&error), qPrintable(error));
        m_server->setAccounts(std::move(store));
    }

    void logIn(Peer& peer, const QByteArray& account, const QByteArray& secret, const QByteArray& machine) {
        QVERIFY(peer.waitEncrypted());
        peer.auth(account, secret);
        peer.login(account, machine);
        QTRY_VERIFY(peer.commands().contains("Login"));
        QCOMPARE(peer.commands().first(), QByteArray("AUTHOK"));
    }

    QTemporaryDir m_dir;
    QSslConfiguration m_tls;
    QString m_fingerprint;
    QMap<QByteArray, QByteArray> m_hashes;
    int m_accountFiles = 0;
    std::unique_ptr<RelayServer> m_server;
    QStringList m_log;
};

QTEST_GUILESS_MAIN(TestChatServerSecure)
#include "tst_chatserver_secure.moc"
