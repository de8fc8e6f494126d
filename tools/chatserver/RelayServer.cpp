#include "tools/chatserver/RelayServer.h"

#include "chat/ChatRecord.h"
#include "chat/ClientListParts.h"

#include <QDateTime>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>
#include <deque>
#include <sys/resource.h>

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

int descriptorBudget() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 1 << 20;
    return std::max(1, int(std::min<rlim_t>(limit.rlim_cur, 1 << 20)) - ReservedDescriptors);
}

} // namespace

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
    QHostAddress address;
    QString peer;
    QByteArray pending; // received bytes not handled yet: whole records while paused, then a partial one
    QByteArray nick;
    QByteArray key;
    bool loggedIn = false;
    bool dropped = false;
    bool paused = false;  // not read while what it sent waits in other queues beyond the bound
    bool stalled = false; // its output has not moved for a while: it no longer holds producers back
    int unknownRecords = 0;
    qint64 idleSince = 0;    // connected or logged out at (ms); for the login time-out
    qint64 lastProgress = 0; // its output last moved at (ms)
    std::deque<Outgoing> queue;
    qint64 queued = 0; // bytes in `queue`
    qint64 held = 0;   // bytes it sent that wait, counted, in other clients' queues
};

RelayServer::RelayServer(QObject* parent)
    : QObject(parent)
    , m_maxClients(descriptorBudget())
    , m_server(std::make_unique<QTcpServer>()) {
    m_clock.start();
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
    for (auto& client : m_clients) {
        client->socket->disconnect(this);
        delete client->socket;
    }
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
    connect(socket, &QTcpSocket::bytesWritten, this, [this, raw] {
        raw->lastProgress = m_clock.elapsed();
        raw->stalled = false;
        pump(*raw);
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, raw] { dropClient(*raw, u"disconnected"_s); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, raw](QAbstractSocket::SocketError error) {
        if (error != QAbstractSocket::RemoteHostClosedError)
            dropClient(*raw, u"error: "_s + raw->socket->errorString());
    });
    if (socket->bytesAvailable() > 0)
        readFrom(*raw);
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
    if (client.dropped || client.paused)
        return;
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
    while (size - offset >= RecordSize && !client.dropped && !client.paused) {
        if (isBroadcast(data + offset)) {
            qsizetype end = offset + RecordSize;
            for (int run = 1; run < MaxBroadcastRun && size - end >= RecordSize && isBroadcast(data + end); ++run)
                end += RecordSize;
            relay(client, QByteArray(data + offset, end - offset), {});
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
    if (TChatRecord::commandIs(record, ChatCommand::Login)) {
        client.nick = TChatRecord::fieldOf(record, TChatRecord::SenderNick);
        client.key = TChatRecord::fieldOf(record, TChatRecord::SenderMachine);
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
        relay(client, QByteArray(record, RecordSize), TChatRecord::fieldOf(record, TChatRecord::Recipient));
    } else if (++client.unknownRecords <= MaxUnknownLogged) {
        log(u"#%1 dropped a record with unknown command \"%2\"%3"_s.arg(client.id).arg(
            printable(TChatRecord::fieldOf(record, TChatRecord::Command)),
            client.unknownRecords == MaxUnknownLogged ? u" (further ones not logged)"_s : QString()));
    }
}

// Sending ------------------------------------------------------------------------------------------

void RelayServer::relay(Client& producer, const QByteArray& records, const QByteArray& recipient) {
    // Indexes, not iterators: an enqueue may drop a client, which only marks it.
    for (size_t i = 0; i < m_clients.size(); ++i) {
        Client& reader = *m_clients[i];
        if (recipient.isEmpty() || reader.key == recipient)
            enqueue(reader, records, producer.id);
    }
    if (!producer.dropped && producer.held > m_limits.maxHeldPerProducer)
        producer.paused = true;
}

void RelayServer::enqueue(Client& reader, const QByteArray& bytes, quint64 producerId) {
    if (reader.dropped || !reader.loggedIn)
        return;
    Outgoing item{bytes, producerId, false};
    if (producerId != 0 && !reader.stalled) {
        if (Client* producer = find(producerId)) {
            producer->held += bytes.size();
            item.counted = true;
        }
    }
    if (reader.queue.empty() && reader.socket->bytesToWrite() == 0)
        reader.lastProgress = m_clock.elapsed();
    reader.queued += bytes.size();
    reader.queue.push_back(std::move(item));
    if (reader.queued > m_limits.maxQueuedPerClient) {
        dropClient(reader, u"cut off: it does not read what it is sent"_s);
        return;
    }
    pump(reader);
}

void RelayServer::pump(Client& reader) {
    while (!reader.dropped && !reader.queue.empty() && reader.socket->bytesToWrite() < SocketFeedLimit) {
        Outgoing item = std::move(reader.queue.front());
        reader.queue.pop_front();
        reader.queued -= item.bytes.size();
        reader.socket->write(item.bytes);
        release(item);
    }
}

void RelayServer::release(Outgoing& item) {
    if (!item.counted)
        return;
    item.counted = false;
    Client* producer = find(item.producer);
    if (!producer)
        return;
    producer->held -= item.bytes.size();
    if (producer->paused && producer->held <= m_limits.maxHeldPerProducer / 2)
        resumeLater(*producer);
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

void RelayServer::dropClient(Client& client, const QString& reason) {
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
    client.socket->disconnect(this);
    client.socket->abort();
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
        const bool waiting = !client.queue.empty() || client.socket->bytesToWrite() > 0;
        if (waiting && !client.stalled && now - client.lastProgress > m_limits.stallMs) {
            // It does not read for now: what waits for it stops holding its producers back.
            client.stalled = true;
            for (Outgoing& item : client.queue)
                release(item);
        }
    }
    if (m_refusedSinceLog > 1)
        log(u"refused %1 more connections"_s.arg(m_refusedSinceLog - 1));
    m_refusedSinceLog = 0;
    purgeDropped();
}

} // namespace vestrel::chatserver
