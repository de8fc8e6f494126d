#include "tools/chatserver/RelayServer.h"

#include "chat/ChatRecord.h"

#include <QDateTime>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace vestrel {

namespace {

constexpr qsizetype RecordSize = TChatRecord::Size;
constexpr int MaxUnknownLogged = 3;

bool isRelayed(const char* record) {
    return TChatRecord::commandIs(record, ChatCommand::Message) ||
           TChatRecord::commandIs(record, ChatCommand::Dialog) ||
           TChatRecord::commandIs(record, ChatCommand::MsgNotify);
}

// What a log line may show of bytes a client sent: printable ASCII, the rest as '?'.
QString printable(const QByteArray& bytes) {
    QString text;
    for (const char c : bytes.left(40))
        text += (c >= 0x20 && c < 0x7f) ? QChar::fromLatin1(c) : u'?';
    return text;
}

} // namespace

struct RelayServer::Client {
    quint64 id = 0;
    QTcpSocket* socket = nullptr; // owned; deleted with deleteLater when the client is purged
    QString peer;
    QByteArray pending; // the start of a record whose rest has not arrived yet
    QByteArray nick;
    QByteArray key;
    bool loggedIn = false;
    bool dropped = false;
    int unknownRecords = 0;
};

RelayServer::RelayServer(QObject* parent)
    : QObject(parent)
    , m_server(std::make_unique<QTcpServer>()) {
    connect(m_server.get(), &QTcpServer::newConnection, this, &RelayServer::acceptClients);
}

RelayServer::~RelayServer() {
    for (auto& client : m_clients) {
        client->socket->disconnect(this);
        delete client->socket;
    }
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

void RelayServer::acceptClients() {
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        auto client = std::make_unique<Client>();
        client->id = m_nextId++;
        client->socket = socket;
        socket->setParent(nullptr);
        client->peer = socket->peerAddress().toString() + u':' + QString::number(socket->peerPort());
        Client* raw = client.get();
        m_clients.push_back(std::move(client));
        log(u"#%1 connected from %2"_s.arg(raw->id).arg(raw->peer));

        connect(socket, &QTcpSocket::readyRead, this, [this, raw] { readFrom(*raw); });
        connect(socket, &QTcpSocket::disconnected, this, [this, raw] { dropClient(*raw, u"disconnected"_s); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this, raw](QAbstractSocket::SocketError error) {
            if (error != QAbstractSocket::RemoteHostClosedError)
                dropClient(*raw, u"error: "_s + raw->socket->errorString());
        });
        if (socket->bytesAvailable() > 0)
            readFrom(*raw);
    }
}

void RelayServer::readFrom(Client& client) {
    if (client.dropped)
        return;
    const qint64 available = client.socket->bytesAvailable();
    if (available <= 0)
        return;
    QByteArray& buffer = client.pending;
    const qsizetype kept = buffer.size();
    buffer.resize(kept + available);
    const qint64 got = client.socket->read(buffer.data() + kept, available);
    buffer.resize(kept + std::max<qint64>(got, 0));

    // Consecutive broadcasts go to each client as one write; anything else is handled in order.
    const char* data = buffer.constData();
    const qsizetype whole = buffer.size() - buffer.size() % RecordSize;
    qsizetype runStart = -1;
    for (qsizetype offset = 0; offset < whole && !client.dropped; offset += RecordSize) {
        const char* record = data + offset;
        if (isRelayed(record) &&
            static_cast<unsigned char>(record[TChatRecord::Recipient * TChatRecord::FieldSize]) == 0) {
            if (runStart < 0)
                runStart = offset;
            continue;
        }
        if (runStart >= 0) {
            sendToAll(data + runStart, offset - runStart);
            runStart = -1;
        }
        handleRecord(client, record);
    }
    if (runStart >= 0 && !client.dropped)
        sendToAll(data + runStart, whole - runStart);
    if (!client.dropped)
        buffer.remove(0, whole);
    purgeDropped();
}

void RelayServer::handleRecord(Client& client, const char* record) {
    if (TChatRecord::commandIs(record, ChatCommand::Login)) {
        client.nick = TChatRecord::fieldOf(record, TChatRecord::SenderNick);
        client.key = TChatRecord::fieldOf(record, TChatRecord::SenderMachine);
        client.loggedIn = true;
        log(u"#%1 login %2=%3"_s.arg(client.id).arg(printable(client.nick), printable(client.key)));
        sendClientList(ChatCommand::Login, client);
    } else if (TChatRecord::commandIs(record, ChatCommand::Logout)) {
        if (!client.loggedIn)
            return;
        client.loggedIn = false;
        log(u"#%1 logout %2"_s.arg(client.id).arg(printable(client.nick)));
        sendClientList(ChatCommand::Logout, client);
    } else if (isRelayed(record)) {
        // A client that has logged out may still send its exit notice.
        const QByteArray recipient = TChatRecord::fieldOf(record, TChatRecord::Recipient);
        if (recipient.isEmpty())
            sendToAll(record, RecordSize);
        else
            sendToKey(recipient, record, RecordSize);
    } else if (++client.unknownRecords <= MaxUnknownLogged) {
        log(u"#%1 dropped a record with unknown command \"%2\"%3"_s.arg(client.id).arg(
            printable(TChatRecord::fieldOf(record, TChatRecord::Command)),
            client.unknownRecords == MaxUnknownLogged ? u" (further ones not logged)"_s : QString()));
    }
}

void RelayServer::send(Client& client, const char* data, qsizetype size) {
    if (client.dropped || !client.loggedIn)
        return;
    // Judged before writing, so that one large batch alone never counts as a client falling behind.
    if (client.socket->bytesToWrite() > m_maxPendingOutput) {
        dropClient(client, u"cut off: it does not read what it is sent"_s);
        return;
    }
    client.socket->write(data, size);
}

void RelayServer::sendToAll(const char* data, qsizetype size) {
    // Indexes, not iterators: a send may drop a client, which only marks it.
    for (size_t i = 0; i < m_clients.size(); ++i)
        send(*m_clients[i], data, size);
}

void RelayServer::sendToKey(const QByteArray& key, const char* data, qsizetype size) {
    for (size_t i = 0; i < m_clients.size(); ++i) {
        if (m_clients[i]->key == key)
            send(*m_clients[i], data, size);
    }
}

void RelayServer::sendClientList(const char* command, const Client& about) {
    // Whole lines only: a list longer than a field holds loses its last entries, never half of one.
    QByteArray list;
    for (const auto& client : m_clients) {
        if (client->dropped || !client->loggedIn)
            continue;
        const QByteArray line = client->nick + '=' + client->key + "\r\n";
        if (list.size() + line.size() > TChatRecord::MaxText)
            break;
        list += line;
    }
    TChatRecord record;
    record.setField(TChatRecord::Command, command);
    record.setField(TChatRecord::SenderNick, about.nick);
    record.setField(TChatRecord::SenderMachine, about.key);
    record.setField(TChatRecord::Text, list);
    sendToAll(record.data(), RecordSize);
}

void RelayServer::dropClient(Client& client, const QString& reason) {
    if (client.dropped)
        return;
    client.dropped = true;
    const qsizetype partial = client.pending.size() % RecordSize;
    log(u"#%1 %2%3"_s.arg(client.id).arg(reason, partial ? u" (an unfinished record of %1 bytes dropped)"_s.arg(partial)
                                                         : QString()));
    // `pending` stays: readFrom() may be walking it right now; it goes with the client.
    client.socket->disconnect(this);
    client.socket->abort();
    if (client.loggedIn) {
        client.loggedIn = false;
        sendClientList(ChatCommand::Logout, client);
    }
    if (!m_purgeScheduled) {
        m_purgeScheduled = true;
        QMetaObject::invokeMethod(this, &RelayServer::purgeDropped, Qt::QueuedConnection);
    }
}

void RelayServer::purgeDropped() {
    m_purgeScheduled = false;
    for (auto it = m_clients.begin(); it != m_clients.end();) {
        if ((*it)->dropped) {
            (*it)->socket->deleteLater();
            it = m_clients.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace vestrel
