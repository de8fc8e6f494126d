#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>

#include <functional>
#include <memory>
#include <vector>

class QTcpServer;
class QTcpSocket;

namespace vestrel {

// The chat relay: accepts chat clients and passes their fixed-size records on.
//
// - Only whole records ever go out; bytes of an unfinished record wait for the rest, and are dropped
//   when the client goes.
// - After every login, logout and disconnect without logout, every logged-in client gets a "Login" or
//   "Logout" record whose text is the `nick=key` list of logged-in clients, one per CR LF line.
// - "MESSAGE", "DIALOG" and "MSGNOTIFY" go out unchanged to the logged-in clients whose routing key
//   equals the recipient field, or to all of them (sender included) when it is empty.
// - A client's routing key is the machine name (field 4) of its Login record.
// Anything else a client sends is logged and dropped; the client stays connected.
class RelayServer : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(const QString& line)>;

    explicit RelayServer(QObject* parent = nullptr);
    ~RelayServer() override;

    bool listen(const QHostAddress& address, quint16 port);
    quint16 serverPort() const;
    QString errorString() const;

    // Where connection and error lines go; stderr by default.
    void setLog(Log log) { m_log = std::move(log); }
    // A client whose unsent output grows past this many bytes is cut off, so that one client that
    // stops reading cannot make the server hoard memory.
    void setMaxPendingOutput(qint64 bytes) { m_maxPendingOutput = bytes; }

    int clientCount() const;
    int loggedInCount() const;

private:
    struct Client;
    void acceptClients();
    void readFrom(Client& client);
    void handleRecord(Client& client, const char* record);
    void sendToAll(const char* data, qsizetype size);
    void sendToKey(const QByteArray& key, const char* data, qsizetype size);
    void send(Client& client, const char* data, qsizetype size);
    void sendClientList(const char* command, const Client& about);
    void dropClient(Client& client, const QString& reason);
    void purgeDropped();
    void log(const QString& line) const;

    std::unique_ptr<QTcpServer> m_server;
    std::vector<std::unique_ptr<Client>> m_clients; // in connection order, which is the list order
    quint64 m_nextId = 1;
    qint64 m_maxPendingOutput = 64 * 1024 * 1024;
    bool m_purgeScheduled = false;
    Log m_log;
};

} // namespace vestrel
