#include "tools/chatserver/RelayServer.h"

#include "chat/ChatRecord.h"
#include "chat/ClientListParts.h"
#include "platform/Cp1252.h"
#include "tools/chatserver/AccountStore.h"

#include <QDateTime>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>
#include <cstring>
#include <deque>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace vestrel::chatserver {

using namespace vestrel::chat;

namespace {

constexpr qsizetype RecordSize = TChatRecord::Size;
constexpr int MaxUnknownLogged = 3;
// Consecutive broadcasts of one client travel as one shared block of at most this many records.
constexpr int MaxBroadcastRun = 16;
// Bytes handed to a socket's own buffer (a copy per client) before the rest waits in the shared queue.
constexpr qint64 SocketFeedLimit = 8 * 1024;
// What the kernel takes off a client's connection while the server does not read it: a paused
// producer is held back by TCP flow control, not by our memory.
constexpr qint64 SocketReadBufferSize = 64 * 1024;
// Descriptors kept free for the process itself (listening socket, event loop, logs).
constexpr int ReservedDescriptors = 32;
constexpr int SweepIntervalMs = 250;
constexpr int AcceptRetryMs = 500;
// A refused connection has this long to take its refusal before it is cut.
constexpr int RefusalFlushMs = 5000;
constexpr int PasswordCheckThreads = 2;

bool isRelayed(const char* record) {
    return TChatRecord::commandIs(record, ChatCommand::Message) ||
           TChatRecord::commandIs(record, ChatCommand::Dialog) ||
           TChatRecord::commandIs(record, ChatCommand::MsgNotify);
}

bool isBroadcast(const char* record) {
    return isRelayed(record) &&
           static_cast<unsigned char>(record[TChatRecord::Recipient * TChatRecord::FieldSize]) == 0;
}

// What a log line may show of bytes a client sent: printable ASCII, the rest as '?'.
QString printable(const QByteArray& bytes) {
    QString text;
    for (const char c : bytes.left(40))
        text += (c >= 0x20 && c < 0x7f) ? QChar::fromLatin1(c) : u'?';
    return text;
}

// Puts `value` into one field of a record lying in a buffer, as TChatRecord::setField does.
void setFieldOf(char* record, TChatRecord::Field field, const QByteArray& value) {
    char* start = record + field * TChatRecord::FieldSize;
    const qsizetype size = std::min<qsizetype>(value.size(), TChatRecord::MaxText);
    start[0] = char(size);
    std::memcpy(start + 1, value.constData(), size_t(size));
    std::memset(start + 1 + size, 0, size_t(TChatRecord::MaxText - size));
}

// Bytes given to a socket that have not reached the network yet; a TLS socket holds them in two
// buffers, before and after encryption.
qint64 unsent(const QTcpSocket* socket, const QSslSocket* tls) {
    return socket->bytesToWrite() + (tls ? tls->encryptedBytesToWrite() : 0);
}

int descriptorBudget() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 1 << 20;
    return std::max(1, int(std::min<rlim_t>(limit.rlim_cur, 1 << 20)) - ReservedDescriptors);
}

} // namespace

// Hands out QSslSocket connections when the server serves TLS; their handshake starts once the
// relay has admitted them, so the per-address limits and the login time-out cover it too.
class Listener : public QTcpServer {
public:
    bool tls = false;

protected:
    void incomingConnection(qintptr descriptor) override {
        if (!tls) {
            QTcpServer::incomingConnection(descriptor);
            return;
        }
        auto socket = std::make_unique<QSslSocket>(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            ::close(int(descriptor));
            return;
        }
        addPendingConnection(socket.release());
    }
};

// One block waiting in a reader's queue. `bytes` is shared by every reader it goes to; while
// `counted`, its size counts against its producer's backpressure bound.
struct RelayServer::Outgoing {
    QByteArray bytes;
    quint64 producer = 0; // 0: the server's own client lists
    bool counted = false;
};

struct RelayServer::Client {
    quint64 id = 0;
    QTcpSocket* socket = nullptr; // owned; deleted with deleteLater when the client is purged
    QSslSocket* tls = nullptr;    // the same socket when it speaks TLS
    QHostAddress address;
    QString peer;
    QByteArray pending; // received bytes not handled yet: whole records while paused, then a partial one
    QByteArray nick;
    QByteArray key;
    QByteArray host;       // with accounts: the host field of its login, stamped on what it sends
    QByteArray account;    // with accounts: the account it authenticated as; empty before
    bool checking = false; // its password is being checked; not read meanwhile
    bool loggedIn = false;
    bool dropped = false;
    bool paused = false;  // not read while what it sent waits in other queues beyond the bound
    bool stalled = false; // its output has not moved for a while: it no longer holds producers back
    int unknownRecords = 0;
    qint64 idleSince = 0;    // connected or logged out at (ms); for the login time-out
    qint64 lastProgress = 0; // its output last moved at (ms)
    std::deque<Outgoing> queue;
    qsizetype frontSent = 0; // bytes of the queue's first block already given to the socket
    qint64 queued = 0;       // bytes in `queue`
    qint64 held = 0;         // bytes it sent that wait, counted, in other clients' queues
};

RelayServer::RelayServer(QObject* parent)
    : QObject(parent)
    , m_maxClients(descriptorBudget())
    , m_server(std::make_unique<Listener>()) {
    m_clock.start();
    m_checks.setMaxThreadCount(PasswordCheckThreads);
    connect(m_server.get(), &QTcpServer::newConnection, this, &RelayServer::acceptClients);
    connect(m_server.get(), &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError) {
        // Typically out of descriptors: wait for clients to leave instead of retrying at once.
        log(u"cannot accept a connection: %1; pausing"_s.arg(m_server->errorString()));
        m_server->pauseAccepting();
        m_acceptPaused = true;
        QTimer::singleShot(AcceptRetryMs, this, [this] {
            m_acceptPaused = false;
            m_server->resumeAccepting();
            updateAccepting();
        });
    });
    m_sweepTimer.setInterval(SweepIntervalMs);
    connect(&m_sweepTimer, &QTimer::timeout, this, &RelayServer::sweep);
    m_sweepTimer.start();
    m_listTimer.setSingleShot(true);
    connect(&m_listTimer, &QTimer::timeout, this, &RelayServer::sendClientList);
}

RelayServer::~RelayServer() {
    m_checks.waitForDone();
    for (auto& client : m_clients) {
        if (client->socket) {
            client->socket->disconnect(this);
            delete client->socket;
        }
    }
}

void RelayServer::setTls(const QSslConfiguration& configuration) {
    m_tls = configuration;
    m_server->tls = true;
}

void RelayServer::setAccounts(std::unique_ptr<AccountStore> accounts) {
    password::initialise();
    m_accounts = std::move(accounts);
    m_standInHash = password::standInHash();
}

void RelayServer::setLimits(const Limits& limits) {
    m_limits = limits;
    m_maxClients = limits.maxClients > 0 ? limits.maxClients : descriptorBudget();
}

bool RelayServer::listen(const QHostAddress& address, quint16 port) {
    return m_server->listen(address, port);
}

quint16 RelayServer::serverPort() const {
    return m_server->serverPort();
}

QString RelayServer::errorString() const {
    return m_server->errorString();
}

int RelayServer::clientCount() const {
    int count = 0;
    for (const auto& client : m_clients)
        count += client->dropped ? 0 : 1;
    return count;
}

int RelayServer::loggedInCount() const {
    int count = 0;
    for (const auto& client : m_clients)
        count += (!client->dropped && client->loggedIn) ? 1 : 0;
    return count;
}

void RelayServer::log(const QString& line) const {
    if (m_log) {
        m_log(line);
        return;
    }
    const QString stamped = QDateTime::currentDateTime().toString(u"yyyy-MM-dd hh:mm:ss"_s) + u' ' + line;
    std::fprintf(stderr, "%s\n", stamped.toLocal8Bit().constData());
    std::fflush(stderr);
}

// Accepting ----------------------------------------------------------------------------------------

void RelayServer::acceptClients() {
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        if (!admit(socket)) {
            socket->abort();
            socket->deleteLater();
        }
    }
    updateAccepting();
}

bool RelayServer::admit(QTcpSocket* socket) {
    const QHostAddress address = socket->peerAddress();
    int fromAddress = 0;
    for (const auto& client : m_clients)
        fromAddress += (!client->dropped && client->address.isEqual(address)) ? 1 : 0;
    if (clientCount() >= m_maxClients || fromAddress >= m_limits.maxPerAddress) {
        if (m_refusedSinceLog++ == 0)
            log(u"refused a connection from %1: %2"_s.arg(
                address.toString(), fromAddress >= m_limits.maxPerAddress
                                        ? u"%1 connections from that address already"_s.arg(fromAddress)
                                        : u"too many clients"_s));
        return false;
    }

    auto client = std::make_unique<Client>();
    client->id = m_nextId++;
    client->socket = socket;
    client->address = address;
    client->idleSince = m_clock.elapsed();
    client->lastProgress = client->idleSince;
    socket->setParent(nullptr);
    socket->setReadBufferSize(SocketReadBufferSize);
    client->peer = address.toString() + u':' + QString::number(socket->peerPort());
    Client* raw = client.get();
    m_byId.insert(raw->id, raw);
    m_clients.push_back(std::move(client));
    log(u"#%1 connected from %2"_s.arg(raw->id).arg(raw->peer));

    connect(socket, &QTcpSocket::readyRead, this, [this, raw] {
        readFrom(*raw);
        purgeDropped();
    });
    const auto progressed = [this, raw] {
        raw->lastProgress = m_clock.elapsed();
        raw->stalled = false;
        pump(*raw);
    };
    connect(socket, &QTcpSocket::bytesWritten, this, progressed);
    connect(socket, &QTcpSocket::disconnected, this, [this, raw] { dropClient(*raw, u"disconnected"_s); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, raw](QAbstractSocket::SocketError error) {
        if (error != QAbstractSocket::RemoteHostClosedError)
            dropClient(*raw, u"error: "_s + raw->socket->errorString());
    });
    if (m_tls) {
        // A TLS socket's bytesWritten tells of encryption; the network has them at encryptedBytesWritten.
        raw->tls = static_cast<QSslSocket*>(socket);
        connect(raw->tls, &QSslSocket::encryptedBytesWritten, this, progressed);
        connect(raw->tls, &QSslSocket::sslErrors, this, [this, raw](const QList<QSslError>& errors) {
            log(u"#%1 TLS error: %2"_s.arg(raw->id).arg(errors.value(0).errorString()));
        });
        raw->tls->setSslConfiguration(*m_tls);
        raw->tls->startServerEncryption();
    } else if (socket->bytesAvailable() > 0) {
        readFrom(*raw);
    }
    return true;
}

// Stops accepting while the descriptor budget is spent; new connections then wait in the kernel's
// backlog until clients leave.
void RelayServer::updateAccepting() {
    const bool full = clientCount() >= m_maxClients;
    if (full && !m_acceptPaused) {
        m_server->pauseAccepting();
        m_acceptPaused = true;
        log(u"%1 clients connected, the most this process can serve: not accepting until one leaves"_s.arg(
            clientCount()));
    } else if (!full && m_acceptPaused) {
        m_server->resumeAccepting();
        m_acceptPaused = false;
        log(u"accepting connections again"_s);
    }
}

// Reading ------------------------------------------------------------------------------------------

void RelayServer::readFrom(Client& client) {
    if (client.dropped || client.paused || client.checking)
        return;
    if (m_heldTotal > m_limits.maxHeldTotal) {
        waitForRoom(client);
        return;
    }
    QByteArray& buffer = client.pending;
    const qint64 available = client.socket->bytesAvailable();
    if (available > 0) {
        const qsizetype kept = buffer.size();
        buffer.resize(kept + available);
        const qint64 got = client.socket->read(buffer.data() + kept, available);
        buffer.resize(kept + std::max<qint64>(got, 0));
    }

    const char* data = buffer.constData();
    const qsizetype size = buffer.size();
    qsizetype offset = 0;
    while (size - offset >= RecordSize && !client.dropped && !client.paused && !client.checking) {
        if (isBroadcast(data + offset) && (!m_accounts || !client.account.isEmpty())) {
            qsizetype end = offset + RecordSize;
            for (int run = 1; run < MaxBroadcastRun && size - end >= RecordSize && isBroadcast(data + end); ++run)
                end += RecordSize;
            const QByteArray block(data + offset, end - offset);
            relay(client, m_accounts ? stamped(client, block) : block, {});
            offset = end;
        } else {
            handleRecord(client, data + offset);
            offset += RecordSize;
        }
    }
    // A dropped client keeps its bytes: they go with it, and its log line tells of an unfinished record.
    if (!client.dropped)
        buffer.remove(0, offset);
}

void RelayServer::handleRecord(Client& client, const char* record) {
    if (TChatRecord::commandIs(record, ChatCommand::Auth)) {
        authenticate(client, record);
        return;
    }
    if (m_accounts && client.account.isEmpty()) {
        refuse(client, u"Accesso negato: il server richiede nome utente e password."_s,
               u"refused: sent \"%1\" before authenticating"_s.arg(
                   printable(TChatRecord::fieldOf(record, TChatRecord::Command))));
        return;
    }
    if (TChatRecord::commandIs(record, ChatCommand::Login)) {
        client.nick = TChatRecord::fieldOf(record, TChatRecord::SenderNick);
        client.key = TChatRecord::fieldOf(record, TChatRecord::SenderMachine);
        if (m_accounts) {
            if (client.nick != client.account) {
                refuse(client,
                       u"Accesso negato: con questo account si entra solo come %1."_s.arg(
                           cp1252::toUnicode(client.account)),
                       u"refused: account %1 tried to log in as %2"_s.arg(printable(client.account),
                                                                          printable(client.nick)));
                return;
            }
            // The routing key is the account's own name, so no one can take another's messages by
            // claiming its machine name.
            client.key = client.account;
            client.host = TChatRecord::fieldOf(record, TChatRecord::SenderHost);
        }
        client.loggedIn = true;
        log(u"#%1 login %2=%3"_s.arg(client.id).arg(printable(client.nick), printable(client.key)));
        if (client.nick.size() + 1 + client.key.size() + 2 > TChatRecord::MaxText)
            log(u"#%1 its nick and machine name are too long for the client list: others cannot address it"_s.arg(
                client.id));
        scheduleClientList(ChatCommand::Login, client);
    } else if (TChatRecord::commandIs(record, ChatCommand::Logout)) {
        if (!client.loggedIn)
            return;
        client.loggedIn = false;
        client.idleSince = m_clock.elapsed();
        log(u"#%1 logout %2"_s.arg(client.id).arg(printable(client.nick)));
        scheduleClientList(ChatCommand::Logout, client);
    } else if (isRelayed(record)) {
        // A client that has logged out may still send its exit notice.
        const QByteArray bytes(record, RecordSize);
        relay(client, m_accounts ? stamped(client, bytes) : bytes,
              TChatRecord::fieldOf(record, TChatRecord::Recipient));
    } else if (++client.unknownRecords <= MaxUnknownLogged) {
        log(u"#%1 dropped a record with unknown command \"%2\"%3"_s.arg(client.id).arg(
            printable(TChatRecord::fieldOf(record, TChatRecord::Command)),
            client.unknownRecords == MaxUnknownLogged ? u" (further ones not logged)"_s : QString()));
    }
}

// Authenticating -----------------------------------------------------------------------------------

void RelayServer::authenticate(Client& client, const char* record) {
    const QByteArray account = TChatRecord::fieldOf(record, TChatRecord::SenderNick);
    if (!m_accounts) {
        TChatRecord answer;
        answer.setField(TChatRecord::Command, ChatCommand::AuthOk);
        answer.setField(TChatRecord::SenderNick, account);
        client.socket->write(answer.toByteArray());
        return;
    }
    if (!client.account.isEmpty()) {
        log(u"#%1 authenticated already; a further AUTH ignored"_s.arg(client.id));
        return;
    }
    const QString address = client.address.toString();
    Failures& failures = m_failures[address];
    const qint64 now = m_clock.elapsed();
    if (failures.count > 0 && now - failures.since >= m_limits.authFailureWindowMs) {
        failures.count = 0;
    }
    if (failures.count + failures.checking >= m_limits.maxAuthFailures) {
        refuse(client, u"Accesso negato: troppi tentativi falliti. Riprovare tra un minuto."_s,
               u"refused: too many failed logins from %1"_s.arg(address));
        return;
    }
    if (QString error; !m_accounts->reloadIfChanged(&error))
        log(u"accounts not reloaded, the previous ones stay: %1"_s.arg(error));

    const AccountStore::Account* found = m_accounts->find(account);
    const QByteArray hash = found ? found->hash : m_standInHash;
    const QByteArray secret = TChatRecord::fieldOf(record, TChatRecord::Text);
    client.checking = true;
    ++failures.checking;
    m_checks.start([this, id = client.id, address, account, hash, secret, exists = found != nullptr] {
        const bool valid = password::verify(hash, secret) && exists;
        QMetaObject::invokeMethod(
            this, [this, id, address, account, valid] { finishAuthentication(id, address, account, valid); },
            Qt::QueuedConnection);
    });
}

void RelayServer::finishAuthentication(quint64 id, const QString& address, const QByteArray& account, bool valid) {
    Failures& failures = m_failures[address];
    --failures.checking;
    if (!valid) {
        if (failures.count == 0)
            failures.since = m_clock.elapsed();
        ++failures.count;
    } else if (failures.count == 0 && failures.checking == 0) {
        m_failures.remove(address);
    }
    Client* client = find(id);
    if (!client || client->dropped)
        return;
    client->checking = false;
    if (!valid) {
        refuse(*client, u"Accesso negato: nome utente o password errati."_s,
               u"refused: failed login as %1 from %2"_s.arg(printable(account), address));
        purgeDropped();
        return;
    }
    client->account = account;
    log(u"#%1 authenticated as %2"_s.arg(client->id).arg(printable(account)));
    TChatRecord answer;
    answer.setField(TChatRecord::Command, ChatCommand::AuthOk);
    answer.setField(TChatRecord::SenderNick, account);
    client->socket->write(answer.toByteArray()); // nothing else is queued for it before its login
    readFrom(*client);
    purgeDropped();
}

// Answers with a "DIALOG" record saying why, then closes once it has gone out.
void RelayServer::refuse(Client& client, const QString& text, const QString& reason) {
    TChatRecord answer;
    answer.setField(TChatRecord::Command, ChatCommand::Dialog);
    answer.setField(TChatRecord::SenderNick, "chatserver");
    answer.setField(TChatRecord::Text, cp1252::fromUnicode(text));
    client.socket->write(answer.toByteArray());
    dropClient(client, reason, true);
}

// The records with the sender fields of the producer's account and login.
QByteArray RelayServer::stamped(const Client& producer, const QByteArray& records) const {
    QByteArray copy = records;
    for (qsizetype offset = 0; offset + RecordSize <= copy.size(); offset += RecordSize) {
        char* record = copy.data() + offset;
        setFieldOf(record, TChatRecord::SenderNick, producer.account);
        setFieldOf(record, TChatRecord::SenderHost, producer.host);
        setFieldOf(record, TChatRecord::SenderMachine, producer.key);
    }
    return copy;
}

// Sending ------------------------------------------------------------------------------------------

void RelayServer::relay(Client& producer, const QByteArray& records, const QByteArray& recipient) {
    // Indexes, not iterators: an enqueue may drop a client, which only marks it.
    for (size_t i = 0; i < m_clients.size(); ++i) {
        Client& reader = *m_clients[i];
        if (recipient.isEmpty() || reader.key == recipient)
            enqueue(reader, records, producer.id);
    }
    if (producer.dropped)
        return;
    if (producer.held > m_limits.maxHeldPerProducer)
        producer.paused = true; // what it sent going out resumes it
    else if (m_heldTotal > m_limits.maxHeldTotal)
        waitForRoom(producer);
}

// Stops reading from `producer` until the backlog of all producers has come down to half its bound.
void RelayServer::waitForRoom(Client& producer) {
    if (!producer.paused)
        m_waitingForRoom.push_back(producer.id);
    producer.paused = true;
}

void RelayServer::enqueue(Client& reader, const QByteArray& bytes, quint64 producerId) {
    if (reader.dropped || !reader.loggedIn)
        return;
    Outgoing item{bytes, producerId, false};
    if (producerId != 0 && !reader.stalled) {
        if (Client* producer = find(producerId)) {
            producer->held += bytes.size();
            m_heldTotal += bytes.size();
            item.counted = true;
        }
    }
    if (reader.queue.empty() && unsent(reader.socket, reader.tls) == 0)
        reader.lastProgress = m_clock.elapsed();
    reader.queued += bytes.size();
    reader.queue.push_back(std::move(item));
    if (reader.queued > m_limits.maxQueuedPerClient) {
        dropClient(reader, u"cut off: it does not read what it is sent"_s);
        return;
    }
    pump(reader);
}

// Hands the socket whole records from the front of the queue while it holds less than
// SocketFeedLimit, at most one broadcast run at a time. A socket keeps every byte it is given in
// buffers of its own (over TLS twice, before and after encryption, and the TLS library's buffer keeps
// its largest size for the life of the connection), so a large shared block, such as a client list,
// goes out in pieces instead of being copied whole into each socket.
void RelayServer::pump(Client& reader) {
    while (!reader.dropped && !reader.queue.empty()) {
        if (unsent(reader.socket, reader.tls) >= SocketFeedLimit)
            break;
        Outgoing& item = reader.queue.front();
        const qsizetype piece = std::min(item.bytes.size() - reader.frontSent, MaxBroadcastRun * RecordSize);
        reader.socket->write(item.bytes.constData() + reader.frontSent, piece);
        reader.frontSent += piece;
        if (reader.frontSent < item.bytes.size())
            continue;
        Outgoing done = std::move(item);
        reader.queue.pop_front();
        reader.frontSent = 0;
        reader.queued -= done.bytes.size();
        release(done);
    }
}

void RelayServer::release(Outgoing& item) {
    if (!item.counted)
        return;
    item.counted = false;
    m_heldTotal -= item.bytes.size();
    if (Client* producer = find(item.producer)) {
        producer->held -= item.bytes.size();
        if (producer->paused && producer->held <= m_limits.maxHeldPerProducer / 2)
            resumeLater(*producer);
    }
    if (!m_waitingForRoom.empty() && m_heldTotal <= m_limits.maxHeldTotal / 2) {
        for (const quint64 id : std::exchange(m_waitingForRoom, {})) {
            Client* waiting = find(id);
            if (waiting && waiting->paused && waiting->held <= m_limits.maxHeldPerProducer / 2)
                resumeLater(*waiting);
        }
    }
}

void RelayServer::resumeLater(Client& producer) {
    producer.paused = false;
    // Later, not now: the release may come from inside another client's read.
    QMetaObject::invokeMethod(
        this,
        [this, id = producer.id] {
            if (Client* client = find(id)) {
                readFrom(*client);
                purgeDropped();
            }
        },
        Qt::QueuedConnection);
}

void RelayServer::scheduleClientList(const char* command, const Client& about) {
    m_listCommand = command;
    m_listAboutNick = about.nick;
    m_listAboutKey = about.key;
    // Each list goes to every client, so with many clients a burst of logins is gathered for longer.
    if (!m_listTimer.isActive())
        m_listTimer.start(m_limits.listDelayMs + loggedInCount() / 10);
}

void RelayServer::sendClientList() {
    QByteArrayList lines;
    for (const auto& client : m_clients) {
        if (!client->dropped && client->loggedIn)
            lines.append(client->nick + '=' + client->key);
    }
    const QByteArrayList texts = packClientListLines(lines, TChatRecord::MaxText);
    QByteArray records;
    records.reserve(texts.size() * RecordSize);
    for (int i = 0; i < texts.size(); ++i) {
        TChatRecord record;
        record.setField(TChatRecord::Command, m_listCommand);
        record.setField(TChatRecord::SenderNick, m_listAboutNick);
        if (texts.size() > 1)
            record.setField(TChatRecord::SenderHost, clientListPartMarker({i + 1, int(texts.size())}));
        record.setField(TChatRecord::SenderMachine, m_listAboutKey);
        record.setField(TChatRecord::Text, texts[i]);
        records += record.toByteArray();
    }
    for (size_t i = 0; i < m_clients.size(); ++i)
        enqueue(*m_clients[i], records, 0);
    purgeDropped();
}

// Leaving ------------------------------------------------------------------------------------------

void RelayServer::dropClient(Client& client, const QString& reason, bool graceful) {
    if (client.dropped)
        return;
    client.dropped = true;
    const qsizetype partial = client.pending.size() % RecordSize;
    log(u"#%1 %2%3"_s.arg(client.id).arg(reason, partial ? u" (an unfinished record of %1 bytes dropped)"_s.arg(partial)
                                                         : QString()));
    for (Outgoing& item : client.queue)
        release(item);
    client.queue.clear();
    client.queued = 0;
    client.frontSent = 0;
    client.socket->disconnect(this);
    if (graceful) {
        // The socket lives on, owned by the server, until what it was given has gone out.
        QTcpSocket* socket = std::exchange(client.socket, nullptr);
        client.tls = nullptr;
        socket->setParent(this);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(RefusalFlushMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        socket->disconnectFromHost();
    } else {
        client.socket->abort();
    }
    if (client.loggedIn) {
        client.loggedIn = false;
        scheduleClientList(ChatCommand::Logout, client);
    }
    if (!m_purgeScheduled) {
        m_purgeScheduled = true;
        QMetaObject::invokeMethod(this, &RelayServer::purgeDropped, Qt::QueuedConnection);
    }
}

void RelayServer::purgeDropped() {
    m_purgeScheduled = false;
    bool purged = false;
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        if ((*it)->dropped) {
            m_byId.remove((*it)->id);
            if ((*it)->socket)
                (*it)->socket->deleteLater();
            it = m_clients.erase(it);
            purged = true;
        } else {
            ++it;
        }
    }
    if (purged)
        updateAccepting();
}

void RelayServer::sweep() {
    const qint64 now = m_clock.elapsed();
    for (size_t i = 0; i < m_clients.size(); ++i) {
        Client& client = *m_clients[i];
        if (client.dropped)
            continue;
        if (!client.loggedIn && now - client.idleSince > m_limits.loginTimeoutMs) {
            dropClient(client, u"closed: not logged in within %1 ms"_s.arg(m_limits.loginTimeoutMs));
            continue;
        }
        const bool waiting = !client.queue.empty() || unsent(client.socket, client.tls) > 0;
        if (waiting && !client.stalled && now - client.lastProgress > m_limits.stallMs) {
            // It does not read for now: what waits for it stops holding its producers back.
            client.stalled = true;
            for (Outgoing& item : client.queue)
                release(item);
        }
    }
    // Every TLS connection allocates and frees its own buffers and context in many small pieces; the
    // freed memory goes back to the system here instead of lingering between bursts.
    if (m_tls)
        ::malloc_trim(0);
    if (m_refusedSinceLog > 1)
        log(u"refused %1 more connections"_s.arg(m_refusedSinceLog - 1));
    m_refusedSinceLog = 0;
    purgeDropped();
}

} // namespace vestrel::chatserver
