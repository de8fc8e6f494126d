#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QSslConfiguration>
#include <QThreadPool>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QTcpSocket;

namespace vestrel::chatserver {

class AccountStore;
class Listener;

// The chat relay: accepts chat clients and passes their fixed-size records on.
//
// - Only whole records ever go out; bytes of an unfinished record wait for the rest, and are dropped
//   when the client goes.
// - After logins, logouts and disconnects without logout, every logged-in client gets "Login" or
//   "Logout" records whose texts are the `nick=key` list of logged-in clients, one per CR LF line.
//   Changes that come close together share one list. A list longer than one record goes out as
//   several records (see ClientListParts.h); an entry too long for any record is left out and logged.
// - "MESSAGE", "DIALOG" and "MSGNOTIFY" go out unchanged to the logged-in clients whose routing key
//   equals the recipient field, or to all of them (sender included) when it is empty.
// - A client's routing key is the machine name (field 4) of its Login record.
// - "AUTH" is answered with "AUTHOK" when the server has no accounts.
// Anything else a client sends is logged and dropped; the client stays connected.
//
// Security, both off unless set:
// - With TLS every connection must complete a TLS handshake first; one that does not is closed and
//   has received nothing.
// - With accounts a connection's first record must be "AUTH" (account in the sender nick, password
//   in the text); it is answered "AUTHOK", or refused with a "DIALOG" record and closed. Passwords
//   are checked on worker threads, against a stand-in hash when the account does not exist so that
//   both take the same time. An address with too many failures in a window is refused until the
//   window ends. An authenticated connection may log in only under its account's name, its routing
//   key is that name, and every record it sends goes out with the sender fields of its account
//   and login, whatever it wrote there.
//
// Load and abuse:
// - Every record sent to many clients is held once and shared by their output queues.
// - Backpressure: while the bytes a client has sent that still wait in other clients' queues exceed
//   a bound, the server stops reading from it, so the producer slows to the pace of its readers
//   instead of piling data up. A reader whose output has not moved for a while no longer holds its
//   producers back; it is cut off when its own queue passes a hard limit ("it does not read what it
//   is sent"). Readers that keep reading are never cut.
// - The same holds for all producers together: while everything they sent that still waits exceeds
//   a bound, no client is read. Many clients broadcasting at once (each within its own bound) would
//   otherwise fill every queue with an entry per sender.
// - Connections that do not log in within a time-out are closed, each address may hold a limited
//   number of connections, and when the descriptor limit is near the server stops accepting until
//   clients leave, instead of failing accepts in a loop.
class RelayServer : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(const QString& line)>;

    struct Limits {
        int loginTimeoutMs = 10000;                   // a connection not logged in by then is closed
        int maxPerAddress = 64;                       // connections one address may hold at once
        int maxClients = 0;                           // 0: from the descriptor limit of the process
        qint64 maxHeldPerProducer = 1024 * 1024;      // reading from a client pauses above this
        qint64 maxHeldTotal = 32 * 1024 * 1024;       // reading from every client pauses above this
        qint64 maxQueuedPerClient = 16 * 1024 * 1024; // a client whose queue passes this is cut off
        int stallMs = 2000;                           // no output progress for this long: a stalled reader
        int listDelayMs = 20;            // list changes within this time (longer with many clients) share one list
        int maxAuthFailures = 5;         // failed logins one address may have in a window
        int authFailureWindowMs = 60000; // the window starts at the first failure
    };

    explicit RelayServer(QObject* parent = nullptr);
    ~RelayServer() override;

    // Limits apply to what happens after the call; set them before listening.
    void setLimits(const Limits& limits);
    const Limits& limits() const { return m_limits; }

    // Serves TLS with this configuration (its certificate and key set); before listening.
    void setTls(const QSslConfiguration& configuration);
    bool usesTls() const { return m_tls.has_value(); }
    // Requires every connection to authenticate against these accounts. Only sensible with TLS.
    void setAccounts(std::unique_ptr<AccountStore> accounts);

    bool listen(const QHostAddress& address, quint16 port);
    quint16 serverPort() const;
    QString errorString() const;

    // Where connection and error lines go; stderr by default.
    void setLog(Log log) { m_log = std::move(log); }

    int clientCount() const;
    int loggedInCount() const;
    bool isAccepting() const { return !m_acceptPaused; }
    // Bytes clients have sent that wait in other clients' queues and count against the bounds.
    qint64 heldBytes() const { return m_heldTotal; }

private:
    struct Client;
    struct Outgoing;

    void acceptClients();
    bool admit(QTcpSocket* socket);
    void readFrom(Client& client);
    void handleRecord(Client& client, const char* record);
    void authenticate(Client& client, const char* record);
    void finishAuthentication(quint64 id, const QString& address, const QByteArray& account, bool valid);
    void refuse(Client& client, const QString& text, const QString& reason);
    QByteArray stamped(const Client& producer, const QByteArray& records) const;
    void relay(Client& producer, const QByteArray& records, const QByteArray& recipient);
    void enqueue(Client& reader, const QByteArray& bytes, quint64 producerId);
    void pump(Client& reader);
    void release(Outgoing& item);
    void resumeLater(Client& producer);
    void waitForRoom(Client& producer);
    void scheduleClientList(const char* command, const Client& about);
    void sendClientList();
    void dropClient(Client& client, const QString& reason, bool graceful = false);
    void purgeDropped();
    void sweep();
    void updateAccepting();
    void log(const QString& line) const;
    Client* find(quint64 id) const { return m_byId.value(id, nullptr); }

    struct Failures {
        qint64 since = 0;
        int count = 0;
        int checking = 0; // checks under way, counted as failures until they end
    };

    Limits m_limits;
    int m_maxClients = 0;
    std::unique_ptr<Listener> m_server;
    std::optional<QSslConfiguration> m_tls;
    std::unique_ptr<AccountStore> m_accounts;
    QByteArray m_standInHash; // checked when an account does not exist
    QHash<QString, Failures> m_failures;
    QThreadPool m_checks;
    std::vector<std::unique_ptr<Client>> m_clients; // in connection order, which is the list order
    qint64 m_heldTotal = 0;                         // the `held` bytes of all producers
    std::vector<quint64> m_waitingForRoom;          // paused until m_heldTotal has come down
    QHash<quint64, Client*> m_byId;
    quint64 m_nextId = 1;
    bool m_purgeScheduled = false;
    bool m_acceptPaused = false;
    int m_refusedSinceLog = 0;
    QTimer m_sweepTimer;
    QTimer m_listTimer;
    QByteArray m_listCommand;
    QByteArray m_listAboutNick;
    QByteArray m_listAboutKey;
    QElapsedTimer m_clock;
    Log m_log;
};

} // namespace vestrel::chatserver
