// The relay server in-process, driven by raw sockets that behave well and badly.
#include "ChatTestSupport.h"

#include "chat/ChatRecord.h"
#include "chat/ClientList.h"
#include "chat/ClientListParts.h"
#include "platform/SingleInstance.h"
#include "tools/chatserver/RelayServer.h"

#include <QFile>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <unistd.h>

using namespace vestrel;
using namespace vestrel::chat;
using namespace vestrel::chatserver;

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

// A client that logs in and only counts the messages it receives, for runs with many clients.
class CountingClient {
public:
    CountingClient(quint16 port, int index)
        : m_index(index) {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        QObject::connect(&m_socket, &QTcpSocket::connected, &m_socket, [this] {
            const QByteArray n = QByteArray::number(m_index);
            m_socket.write(makeChatRecord(ChatCommand::Login, {"utente" + n, "h", "pc" + n}).toByteArray());
            m_connected = true;
        });
        QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_socket, [this] {
            m_buffer += m_socket.readAll();
            qsizetype offset = 0;
            for (; m_buffer.size() - offset >= TChatRecord::Size; offset += TChatRecord::Size) {
                const char* record = m_buffer.constData() + offset;
                if (TChatRecord::commandIs(record, ChatCommand::Message))
                    ++m_messages;
                else
                    m_list.receiveListRecord(TChatRecord::fieldOf(record, TChatRecord::SenderHost),
                                             TChatRecord::fieldOf(record, TChatRecord::Text));
            }
            m_buffer.remove(0, offset);
        });
    }
    bool connected() const { return m_connected; }
    qsizetype listed() const { return m_list.count(); }
    int messages() const { return m_messages; }
    void sendBroadcast() {
        const QByteArray n = QByteArray::number(m_index);
        m_socket.write(
            makeChatRecord(ChatCommand::Message, {"utente" + n, "h", "pc" + n}, "ciao a tutti").toByteArray());
    }

private:
    int m_index;
    QTcpSocket m_socket;
    QByteArray m_buffer;
    bool m_connected = false;
    int m_messages = 0;
    ClientList m_list;
};

// User plus system CPU time a process has used, in clock ticks.
qint64 cpuTicks(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold blanks.
    const QByteArrayList fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLongLong() + fields.value(12).toLongLong(); // utime, stime
}

qint64 peakMemoryKiB(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

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
        // One at a time: logins close together would share one list.
        anna.login("anna", "pcA");
        QTRY_COMPARE(anna.records().size(), 1);
        bob.login("bob", "pcB");
        QTRY_COMPARE(bob.records().size(), 1);
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
        QTRY_COMPARE(anna.records().size(), 1);
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

    void floodIsSlowedNotHonestReadersCut() {
        RelayServer::Limits limits;
        limits.maxHeldPerProducer = 64 * 1024;
        limits.maxQueuedPerClient = 512 * 1024;
        limits.stallMs = 300;
        m_server->setLimits(limits);
        RawClient flooder(m_server->serverPort());
        std::vector<std::unique_ptr<RawClient>> readers;
        flooder.login("flooder", "pcF");
        for (int i = 0; i < 3; ++i) {
            readers.push_back(std::make_unique<RawClient>(m_server->serverPort()));
            readers.back()->login("reader" + QByteArray::number(i), "pc" + QByteArray::number(i));
        }
        QTRY_COMPARE(m_server->loggedInCount(), 4);

        // Far more than every bound above, sent at once: the server may only slow the flooder down.
        const QByteArray broadcast =
            makeChatRecord(ChatCommand::Message, {"flooder", "", "pcF"}, "flood").toByteArray();
        constexpr int Flood = 4000;
        flooder.socket().write(broadcast.repeated(Flood));
        const auto messages = [](RawClient& client) {
            int count = 0;
            for (const TChatRecord& record : client.records())
                count += record.hasCommand(ChatCommand::Message) ? 1 : 0;
            return count;
        };
        for (auto& reader : readers)
            QTRY_COMPARE_WITH_TIMEOUT(messages(*reader), Flood, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(messages(flooder), Flood, 30000);
        QCOMPARE(m_server->loggedInCount(), 4);
        QVERIFY(m_log.filter(QStringLiteral("cut off")).isEmpty());
    }

    void manyProducersWithinTheirBoundsAreHeldBackTogether() {
        RelayServer::Limits limits;
        limits.maxHeldPerProducer = 256 * 1024;
        limits.maxHeldTotal = 128 * 1024;
        limits.maxQueuedPerClient = 64 * 1024 * 1024;
        limits.stallMs = 60000; // the sleeper below keeps holding its producers back
        m_server->setLimits(limits);
        RawClient sleeper(m_server->serverPort());
        sleeper.login("sleeper", "pcS");
        sleeper.socket().setReadBufferSize(1); // takes nothing off the wire for now
        std::vector<std::unique_ptr<RawClient>> producers;
        for (int i = 0; i < 4; ++i) {
            producers.push_back(std::make_unique<RawClient>(m_server->serverPort()));
            producers.back()->login("p" + QByteArray::number(i), "pc" + QByteArray::number(i));
        }
        QTRY_COMPARE(m_server->loggedInCount(), 5);
        // Each sends more than the sleeper's connection can take; each alone stays within its bound.
        constexpr int Records = 1500;
        for (int i = 0; i < 4; ++i) {
            const QByteArray n = QByteArray::number(i);
            producers[size_t(i)]->send(
                makeChatRecord(ChatCommand::Message, {"p" + n, "", "pc" + n}, "x").toByteArray().repeated(Records));
        }
        const auto echoes = [&producers] {
            qsizetype count = 0;
            for (auto& producer : producers)
                count += producer->records().size();
            return count;
        };
        // Once nothing moves any more, what waits for the sleeper is about the common bound: a block
        // more per producer at most, not a bound's worth per producer.
        for (qsizetype last = -1; last != echoes();) {
            last = echoes();
            QTest::qWait(300);
        }
        QVERIFY2(m_server->heldBytes() > 0, "the sleeper's connection took everything");
        QVERIFY2(m_server->heldBytes() <= limits.maxHeldTotal + 4 * 16 * TChatRecord::Size,
                 qPrintable(QString::number(m_server->heldBytes())));

        // The sleeper wakes: everyone gets everything, nobody is cut off.
        sleeper.socket().setReadBufferSize(0);
        const auto messages = [](RawClient& client) {
            int count = 0;
            for (const TChatRecord& record : client.records())
                count += record.hasCommand(ChatCommand::Message) ? 1 : 0;
            return count;
        };
        QTRY_COMPARE_WITH_TIMEOUT(messages(sleeper), 4 * Records, 30000);
        for (auto& producer : producers)
            QTRY_COMPARE_WITH_TIMEOUT(messages(*producer), 4 * Records, 30000);
        QCOMPARE(m_server->heldBytes(), 0);
        QVERIFY(m_log.filter(QStringLiteral("cut off")).isEmpty());
    }

    void clientThatStopsReadingIsCutOffAloneAndOthersGoOn() {
        RelayServer::Limits limits;
        limits.maxHeldPerProducer = 64 * 1024;
        limits.maxQueuedPerClient = 256 * 1024;
        limits.stallMs = 200;
        m_server->setLimits(limits);
        RawClient reader(m_server->serverPort());
        RawClient sleeper(m_server->serverPort());
        reader.login("reader", "pcA");
        sleeper.login("sleeper", "pcS");
        QTRY_COMPARE(m_server->loggedInCount(), 2);
        sleeper.socket().setReadBufferSize(1); // stops taking data off the wire
        const QByteArray burst =
            makeChatRecord(ChatCommand::Message, {"reader", "", "pcA"}, "z").toByteArray().repeated(100);
        // The reader keeps up, the sleeper does not: the reader's own messages keep coming back to it
        // while the sleeper's backlog grows until it is cut off.
        qsizetype expected = reader.records().size();
        for (int round = 0; round < 400 && m_server->loggedInCount() == 2; ++round) {
            reader.send(burst);
            expected += 100;
            QTRY_VERIFY_WITH_TIMEOUT(reader.records().size() >= expected, 20000);
        }
        QTRY_COMPARE(m_server->loggedInCount(), 1);
        QTRY_COMPARE(reader.texts().last(), QByteArray("Logout|reader=pcA\r\n"));
        QCOMPARE(m_log.filter(QStringLiteral("cut off")).size(), 1);
    }

    void listsLongerThanARecordTravelInParts() {
        RelayServer::Limits limits;
        limits.maxPerAddress = 1000;
        m_server->setLimits(limits);
        std::vector<std::unique_ptr<RawClient>> clients;
        // First a client whose entry fits no record: it is left out and the list goes on after it.
        clients.push_back(std::make_unique<RawClient>(m_server->serverPort()));
        clients.back()->login(QByteArray(200, 'n'), QByteArray(100, 'k'));
        for (int i = 0; i < 100; ++i) {
            clients.push_back(std::make_unique<RawClient>(m_server->serverPort()));
            clients.back()->login("utente" + QByteArray::number(i), "macchina" + QByteArray::number(i));
            QCoreApplication::processEvents(); // the server accepts while the clients connect
        }
        QTRY_COMPARE(m_server->loggedInCount(), 101);
        QTRY_VERIFY(!m_log.filter(QStringLiteral("too long for the client list")).isEmpty());

        // The last list each client received is complete once joined; each part holds whole lines.
        RawClient late(m_server->serverPort());
        late.login("ultimo", "macchinaU");
        QTRY_VERIFY(!late.records().isEmpty() &&
                    late.records()
                        .last()
                        .field(TChatRecord::SenderHost)
                        .startsWith(clientListPartMarker({int(late.records().size()), int(late.records().size())})));
        ClientList joined;
        bool complete = false;
        for (const TChatRecord& record : late.records()) {
            QVERIFY(record.hasCommand(ChatCommand::Login));
            QVERIFY(record.field(TChatRecord::Text).endsWith("\r\n"));
            complete = joined.receiveListRecord(record.field(TChatRecord::SenderHost), record.field(TChatRecord::Text));
        }
        QVERIFY(complete);
        QCOMPARE(joined.count(), 101);
        QCOMPARE(joined.keyFor("utente99"), QByteArray("macchina99"));
        QCOMPARE(joined.keyFor("ultimo"), QByteArray("macchinaU"));
        QCOMPARE(joined.names().first(), QByteArray("utente0"));
        // A client that keeps only the last record still holds valid entries.
        ClientList lastOnly;
        lastOnly.setText(late.records().last().field(TChatRecord::Text));
        QVERIFY(lastOnly.count() > 0);
        QCOMPARE(lastOnly.keyFor("ultimo"), QByteArray("macchinaU"));
    }

    void connectionsPerAddressAreLimited() {
        RelayServer::Limits limits;
        limits.maxPerAddress = 3;
        m_server->setLimits(limits);
        std::vector<std::unique_ptr<RawClient>> clients;
        for (int i = 0; i < 3; ++i)
            clients.push_back(std::make_unique<RawClient>(m_server->serverPort()));
        QTRY_COMPARE(m_server->clientCount(), 3);
        RawClient fourth(m_server->serverPort());
        QTRY_COMPARE(fourth.socket().state(), QAbstractSocket::UnconnectedState);
        QVERIFY(!m_log.filter(QStringLiteral("3 connections from that address already")).isEmpty());
        clients.pop_back();
        QTRY_COMPARE(m_server->clientCount(), 2);
        RawClient again(m_server->serverPort());
        again.login("again", "pcX");
        QTRY_COMPARE(again.texts().size(), 1);
    }

    void silentConnectionsAreClosed() {
        RelayServer::Limits limits;
        limits.loginTimeoutMs = 300;
        m_server->setLimits(limits);
        RawClient silent(m_server->serverPort());
        RawClient talker(m_server->serverPort());
        talker.login("talker", "pcT");
        QTRY_COMPARE(silent.socket().state(), QAbstractSocket::UnconnectedState);
        QVERIFY(!m_log.filter(QStringLiteral("not logged in within 300 ms")).isEmpty());
        QTest::qWait(400);
        QCOMPARE(talker.socket().state(), QAbstractSocket::ConnectedState);
        QCOMPARE(m_server->loggedInCount(), 1);
    }

    // The real program with a low descriptor limit, stormed by connections that never speak: it does
    // not spin, closes them after the login time-out, and then serves a newcomer.
    void idleConnectionsDoNotLockNewcomersOut() {
        test::RelayProcess relay({QStringLiteral("--login-timeout"), QStringLiteral("1"),
                                  QStringLiteral("--max-per-address"), QStringLiteral("1000")},
                                 100);
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < 300; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            idle.back()->connectToHost(QHostAddress::LocalHost, relay.port());
        }
        QTest::qWait(500);
        const qint64 before = cpuTicks(relay.pid());
        QTest::qWait(1000);
        const double cpuShare = double(cpuTicks(relay.pid()) - before) / double(::sysconf(_SC_CLK_TCK));
        QVERIFY2(cpuShare < 0.3, qPrintable(QString::number(cpuShare)));

        QTcpSocket newcomer;
        newcomer.connectToHost(QHostAddress::LocalHost, relay.port());
        QVERIFY(newcomer.waitForConnected(5000));
        newcomer.write(makeChatRecord(ChatCommand::Login, {"nuovo", "h", "pcN"}).toByteArray());
        QByteArray reply;
        QTRY_VERIFY_WITH_TIMEOUT((reply += newcomer.readAll()).size() >= TChatRecord::Size, 30000);
        QCOMPARE(TChatRecord::fromBytes(reply.constData()).field(TChatRecord::Text), QByteArray("nuovo=pcN\r\n"));
        const QByteArray log = relay.takeLog();
        QVERIFY2(log.contains("not accepting until one leaves"), log.right(2000).constData());
        QVERIFY(log.contains("not logged in within 1000 ms"));
    }

    // 400 clients each broadcasting once through the real program: every message reaches everybody,
    // and the program's peak memory stays modest because each broadcast is held once.
    void fanOutToManyClientsKeepsMemoryBounded() {
        test::RelayProcess relay({QStringLiteral("--max-per-address"), QStringLiteral("1000")});
        constexpr int Clients = 400;
        std::vector<std::unique_ptr<CountingClient>> clients;
        for (int i = 0; i < Clients; ++i)
            clients.push_back(std::make_unique<CountingClient>(relay.port(), i));
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(clients.begin(), clients.end(), [](const auto& c) { return c->listed() == Clients; }), 60000);
        for (auto& client : clients)
            client->sendBroadcast();
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(clients.begin(), clients.end(), [](const auto& c) { return c->messages() == Clients; }), 60000);
        const qint64 peakKiB = peakMemoryKiB(relay.pid());
        qInfo("relay server peak memory with %d clients: %lld KiB", Clients, peakKiB);
        QVERIFY2(peakKiB > 0 && peakKiB < 128 * 1024, qPrintable(QString::number(peakKiB)));
    }

    void secondInstanceAsksTheFirst() {
        QTemporaryDir dir;
        qputenv("VESTREL_PROGRAM_DIR", dir.path().toLocal8Bit());
        qputenv("VESTREL_REGISTRY_DIR", dir.path().toLocal8Bit());
        qputenv("XDG_DATA_HOME", dir.path().toLocal8Bit());
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
