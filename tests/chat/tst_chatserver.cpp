// The relay server in-process, driven by raw sockets that behave well and badly.
#include "ChatTestSupport.h"

#include "chat/ChatRecord.h"
#include "platform/SingleInstance.h"
#include "tools/chatserver/RelayServer.h"

#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace vestrel;

namespace {

// A client speaking the wire protocol by hand.
class RawClient {
public:
    explicit RawClient(quint16 port) {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(m_socket.waitForConnected(5000));
    }
    void send(const QByteArray& bytes) {
        m_socket.write(bytes);
        m_socket.flush();
    }
    void login(const QByteArray& nick, const QByteArray& machine) {
        send(makeChatRecord(ChatCommand::Login, {nick, "h", machine}).toByteArray());
    }
    // Records received so far; the event loop must have run for new ones to arrive.
    QList<TChatRecord> records() {
        m_buffer += m_socket.readAll();
        test::takeWholeRecords(m_buffer, m_records);
        return m_records;
    }
    qsizetype partialBytes() const { return m_buffer.size(); }
    QByteArrayList texts() {
        QByteArrayList result;
        for (const TChatRecord& r : records())
            result.append(r.field(TChatRecord::Command) + '|' + r.field(TChatRecord::Text));
        return result;
    }
    QTcpSocket& socket() { return m_socket; }

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
    QList<TChatRecord> m_records;
};

} // namespace

class TestChatServer : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_log.clear();
        m_server = std::make_unique<RelayServer>();
        m_server->setLog([this](const QString& line) { m_log.append(line); });
        QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
    }
    void cleanup() { m_server.reset(); }

    void listsAfterLoginLogoutAndVanishing() {
        RawClient anna(m_server->serverPort());
        RawClient bob(m_server->serverPort());
        anna.login("anna", "pcA");
        QTRY_COMPARE(anna.texts(), QByteArrayList{"Login|anna=pcA\r\n"});
        bob.login("bob", "pcB");
        QTRY_COMPARE(anna.texts().size(), 2);
        QCOMPARE(anna.texts().last(), QByteArray("Login|anna=pcA\r\nbob=pcB\r\n"));
        QTRY_COMPARE(bob.texts(), QByteArrayList{"Login|anna=pcA\r\nbob=pcB\r\n"});

        bob.send(makeChatRecord(ChatCommand::Logout, {"bob", "h", "pcB"}).toByteArray());
        QTRY_COMPARE(anna.texts().size(), 3);
        QCOMPARE(anna.texts().last(), QByteArray("Logout|anna=pcA\r\n"));

        bob.login("bob", "pcB");
        QTRY_COMPARE(anna.texts().size(), 4);
        bob.socket().abort(); // gone without logging out
        QTRY_COMPARE(anna.texts().size(), 5);
        QCOMPARE(anna.texts().last(), QByteArray("Logout|anna=pcA\r\n"));
        QTRY_COMPARE(m_server->clientCount(), 1);
    }

    void routingByMachineName() {
        RawClient anna(m_server->serverPort());
        RawClient bob(m_server->serverPort());
        RawClient bobToo(m_server->serverPort()); // a second client on bob's machine shares its key
        anna.login("anna", "pcA");
        bob.login("bob", "pcB");
        bobToo.login("bob2", "pcB");
        QTRY_COMPARE(m_server->loggedInCount(), 3);
        QTRY_COMPARE(anna.records().size(), 3);
        QTRY_COMPARE(bob.records().size(), 2);
        QTRY_COMPARE(bobToo.records().size(), 1);

        const TChatRecord direct = makeChatRecord(ChatCommand::MsgNotify, {"anna", "h", "pcA"}, "x", "pcB");
        const TChatRecord broadcast = makeChatRecord(ChatCommand::Dialog, {"anna", "h", "pcA"}, "y");
        anna.send(direct.toByteArray() + broadcast.toByteArray());
        QTRY_COMPARE(bob.records().size(), 4);
        QTRY_COMPARE(bobToo.records().size(), 3);
        QTRY_COMPARE(anna.records().size(), 4);                         // the broadcast only
        QCOMPARE(bob.records()[2].toByteArray(), direct.toByteArray()); // forwarded unchanged
        QCOMPARE(bob.records()[3].toByteArray(), broadcast.toByteArray());
        QCOMPARE(anna.records()[3].toByteArray(), broadcast.toByteArray());
    }

    void misbehavingClientsDoNotDisturbTheOthers() {
        RawClient anna(m_server->serverPort());
        RawClient rogue(m_server->serverPort());
        anna.login("anna", "pcA");
        rogue.login("rogue", "pcR");
        QTRY_COMPARE(anna.records().size(), 2);

        // Garbage records are dropped and logged; half a record waits for its rest.
        rogue.send(QByteArray(3 * TChatRecord::Size, '\x07'));
        const QByteArray message = makeChatRecord(ChatCommand::Message, {"rogue", "h", "pcR"}, "intero").toByteArray();
        rogue.send(message.left(1000));
        QTRY_VERIFY(m_log.filter(QStringLiteral("unknown command")).size() == 3);
        QTest::qWait(50);
        QCOMPARE(anna.records().size(), 2);
        QCOMPARE(anna.partialBytes(), 0);
        rogue.send(message.mid(1000));
        QTRY_COMPARE(anna.records().size(), 3);
        QCOMPARE(anna.records().last().toByteArray(), message);

        // Vanishing mid-record: the half record is dropped, never forwarded.
        rogue.send(message.left(700));
        rogue.socket().abort();
        QTRY_COMPARE(anna.records().size(), 4);
        QCOMPARE(anna.texts().last(), QByteArray("Logout|anna=pcA\r\n"));
        QTRY_VERIFY(!m_log.filter(QStringLiteral("unfinished record of 700 bytes")).isEmpty());
        QCOMPARE(anna.partialBytes(), 0);

        // The others are still served.
        RawClient bob(m_server->serverPort());
        bob.login("bob", "pcB");
        QTRY_COMPARE(anna.records().size(), 5);
    }

    void clientThatStopsReadingIsCutOff() {
        m_server->setMaxPendingOutput(256 * 1024);
        RawClient reader(m_server->serverPort());
        RawClient sleeper(m_server->serverPort());
        reader.login("reader", "pcA");
        sleeper.login("sleeper", "pcS");
        QTRY_COMPARE(m_server->loggedInCount(), 2);
        sleeper.socket().setReadBufferSize(1); // stops taking data off the wire
        const QByteArray broadcast = makeChatRecord(ChatCommand::Message, {"reader", "", "pcA"}, "z").toByteArray();
        QByteArray burst;
        for (int i = 0; i < 100; ++i)
            burst += broadcast;
        // The reader keeps up, the sleeper does not: once the sleeper's socket buffers are full its
        // backlog grows on the server until it is cut off.
        qsizetype expected = reader.records().size();
        for (int round = 0; round < 400 && m_server->loggedInCount() == 2; ++round) {
            reader.send(burst);
            expected += 100;
            QTRY_VERIFY_WITH_TIMEOUT(reader.records().size() >= expected, 20000); // + the list once cut
        }
        QTRY_COMPARE(m_server->loggedInCount(), 1);
        QTRY_COMPARE(reader.texts().last(), QByteArray("Logout|reader=pcA\r\n"));
        QVERIFY(!m_log.filter(QStringLiteral("cut off")).isEmpty());
    }

    void longListsKeepWholeLines() {
        std::vector<std::unique_ptr<RawClient>> clients;
        for (int i = 0; i < 30; ++i) {
            clients.push_back(std::make_unique<RawClient>(m_server->serverPort()));
            clients.back()->login("utente" + QByteArray::number(i), "macchina" + QByteArray::number(i));
        }
        QTRY_COMPARE(m_server->loggedInCount(), 30);
        QTRY_COMPARE(clients.front()->records().size(), 30);
        const QByteArray list = clients.front()->records().last().field(TChatRecord::Text);
        QVERIFY(list.size() <= 255);
        QVERIFY(list.endsWith("\r\n"));
        QVERIFY(list.startsWith("utente0=macchina0\r\n"));
    }

    void secondInstanceAsksTheFirst() {
        QTemporaryDir dir;
        qputenv("VESTREL_PROGRAM_DIR", dir.path().toLocal8Bit());
        qputenv("VESTREL_REGISTRY_DIR", dir.path().toLocal8Bit());
        SingleInstance first(QStringLiteral("tst_chat"));
        QVERIFY(first.tryAcquire());
        QSignalSpy asked(&first, &SingleInstance::activationRequested);
        SingleInstance second(QStringLiteral("tst_chat"));
        QVERIFY(!second.tryAcquire());
        QVERIFY(second.activateRunning());
        QTRY_COMPARE(asked.count(), 1);

        // Another installation is another program.
        QTemporaryDir other;
        qputenv("VESTREL_PROGRAM_DIR", other.path().toLocal8Bit());
        SingleInstance elsewhere(QStringLiteral("tst_chat"));
        QVERIFY(elsewhere.tryAcquire());
    }

private:
    std::unique_ptr<RelayServer> m_server;
    QStringList m_log;
};

QTEST_GUILESS_MAIN(TestChatServer)
#include "tst_chatserver.moc"
