#pragma once

#include <QByteArray>
#include <QObject>

#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace vestrel {

// Raised when a connect, read or write fails; the message says why.
class TcpError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A small blocking TCP client for one connection at a time.
//
// One thread reads while another writes and a third may close: Disconnect() shuts the socket down,
// which wakes a reader blocked in ReadBuffer() and a writer blocked in WriteBuffer(), and the
// descriptor is released only when the last operation still using it has returned, so it is never
// reused under a running call. Each WriteBuffer() goes out whole, never interleaved with another.
// connected() is emitted by Connect(); disconnected() once per connection, by whichever call first
// finds it closed (Disconnect(), or a read or write that sees the peer gone), on that call's thread.
class TcpClient : public QObject {
    Q_OBJECT
public:
    // Runs a blocking job to its end, for example on a worker while the caller keeps its window
    // responsive. It must rethrow what the job throws.
    using BlockingRunner = std::function<void(const std::function<void()>& job)>;

    explicit TcpClient(QObject* parent = nullptr);
    ~TcpClient() override;

    void setHost(const QByteArray& host) { m_host = host; }
    QByteArray host() const { return m_host; }
    void setPort(int port) { m_port = port; }
    // Something else that opens the connection, for example through an encrypted tunnel: it returns
    // a connected stream descriptor the client then owns, or raises TcpError. Empty: a TCP connection
    // to host:port.
    using Opener = std::function<int(int timeoutMs)>;
    void setOpener(Opener opener) { m_opener = std::move(opener); }
    int port() const { return m_port; }

    // Opens the connection, waiting at most `timeoutMs` milliseconds; closes any previous one first.
    void Connect(int timeoutMs);
    bool Connected() const;
    void Disconnect();
    // Number of the current connection (0 before the first). A reader that started on one
    // connection passes it to ReadBuffer() so that it never reads from a later one.
    quint64 Generation() const;

    // Writes all of `data`. What the socket takes at once is written on the calling thread; when the
    // peer's buffers are full, the rest is written by a job handed to `runner` (inline without one).
    void WriteBuffer(const char* data, qsizetype size, const BlockingRunner& runner = {});
    void WriteBuffer(const QByteArray& data, const BlockingRunner& runner = {}) {
        WriteBuffer(data.constData(), data.size(), runner);
    }
    // Reads exactly `size` bytes, blocking without limit; raises TcpError when the connection ends first.
    // With a non-zero `generation` the read fails unless that connection is still the current one.
    void ReadBuffer(char* data, qsizetype size, quint64 generation = 0);
    // Bytes the reading thread has already received and not yet taken: a ReadBuffer() of at most this
    // many bytes returns without waiting. Only the reading thread may ask.
    qsizetype ReadAheadBytes() const;

    // The name of this machine as the network knows it; $VESTREL_HOSTNAME overrides it, and
    // setLocalName() overrides both for this client (several clients in one test process).
    QByteArray LocalName() const;
    void setLocalName(const QByteArray& name) { m_localName = name; }

signals:
    void connected();
    void disconnected();

private:
    struct Socket;
    static QByteArray machineHostName();
    std::shared_ptr<Socket> current() const;
    void markClosed(Socket& socket);

    QByteArray m_host;
    int m_port = 0;
    QByteArray m_localName;
    Opener m_opener;
    mutable std::mutex m_mutex; // guards m_socket only, never held during I/O
    std::shared_ptr<Socket> m_socket;
    quint64 m_generation = 0;
};

} // namespace vestrel
