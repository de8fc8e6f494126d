#include "platform/TcpClient.h"

#include <QDeadlineTimer>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <semaphore>
#include <string>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vestrel {

namespace {

std::string errnoText(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

void setBlocking(int fd, bool blocking) {
    const int flags = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK));
}

// One attempt on one resolved address; returns the connected descriptor or -1 with `error` set.
int connectOne(const addrinfo& address, const QDeadlineTimer& deadline, int& error) {
    const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC, address.ai_protocol);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    setBlocking(fd, false);
    if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) {
            error = errno;
            ::close(fd);
            return -1;
        }
        pollfd pfd{fd, POLLOUT, 0};
        int ready = 0;
        do {
            ready = ::poll(&pfd, 1, static_cast<int>(deadline.remainingTime()));
        } while (ready < 0 && errno == EINTR);
        if (ready <= 0) {
            error = ready == 0 ? ETIMEDOUT : errno;
            ::close(fd);
            return -1;
        }
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
            if (error == 0)
                error = errno;
            ::close(fd);
            return -1;
        }
    }
    setBlocking(fd, true);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

} // namespace

struct TcpClient::Socket {
    Socket(int descriptor, quint64 number)
        : fd(descriptor)
        , generation(number) {}
    ~Socket() {
        // Read what the peer still sent, so that closing does not reset the connection and
        // throw away our last records before the peer has them.
        char sink[4096];
        while (::recv(fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
        }
        ::close(fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    const int fd;
    const quint64 generation;
    std::atomic<bool> open{true};
    std::atomic<bool> reported{false}; // disconnected() already emitted
    std::binary_semaphore writeSlot{1};
    // Read-ahead of the single reading thread.
    QByteArray readBuffer;
    qsizetype readPos = 0;
};

TcpClient::TcpClient(QObject* parent)
    : QObject(parent) {}

TcpClient::~TcpClient() {
    const std::lock_guard lock(m_mutex);
    if (m_socket) {
        m_socket->open = false;
        ::shutdown(m_socket->fd, SHUT_RDWR);
    }
}

std::shared_ptr<TcpClient::Socket> TcpClient::current() const {
    const std::lock_guard lock(m_mutex);
    return m_socket;
}

void TcpClient::markClosed(Socket& socket) {
    socket.open = false;
    ::shutdown(socket.fd, SHUT_RDWR);
    if (!socket.reported.exchange(true))
        emit disconnected();
}

void TcpClient::Connect(int timeoutMs) {
    Disconnect();
    if (m_port <= 0 || m_port > 65535)
        throw TcpError("invalid port " + std::to_string(m_port));

    if (m_opener) {
        const int fd = m_opener(timeoutMs);
        {
            const std::lock_guard lock(m_mutex);
            m_socket = std::make_shared<Socket>(fd, ++m_generation);
        }
        emit connected();
        return;
    }

    const QDeadlineTimer deadline(timeoutMs);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const QByteArray service = QByteArray::number(m_port);
    const int resolved = ::getaddrinfo(m_host.constData(), service.constData(), &hints, &found);
    if (resolved != 0)
        throw TcpError(std::string("cannot resolve ") + m_host.constData() + ": " + ::gai_strerror(resolved));

    int fd = -1;
    int error = ETIMEDOUT;
    for (const addrinfo* address = found; address && fd < 0 && !deadline.hasExpired(); address = address->ai_next)
        fd = connectOne(*address, deadline, error);
    ::freeaddrinfo(found);
    if (fd < 0)
        throw TcpError(errnoText("cannot connect", error));

    {
        const std::lock_guard lock(m_mutex);
        m_socket = std::make_shared<Socket>(fd, ++m_generation);
    }
    emit connected();
}

bool TcpClient::Connected() const {
    const auto socket = current();
    return socket && socket->open;
}

quint64 TcpClient::Generation() const {
    const std::lock_guard lock(m_mutex);
    return m_generation;
}

void TcpClient::Disconnect() {
    std::shared_ptr<Socket> socket;
    {
        const std::lock_guard lock(m_mutex);
        socket.swap(m_socket);
    }
    if (socket)
        markClosed(*socket);
}

void TcpClient::WriteBuffer(const char* data, qsizetype size, const BlockingRunner& runner) {
    const auto socket = current();
    if (!socket || !socket->open)
        throw TcpError("not connected");

    qsizetype written = 0;
    bool holdingSlot = socket->writeSlot.try_acquire();
    if (holdingSlot) {
        while (written < size) {
            const ssize_t sent =
                ::send(socket->fd, data + written, size_t(size - written), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent > 0) {
                written += sent;
            } else if (sent < 0 && errno == EINTR) {
                continue;
            } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                break;
            } else {
                const int error = errno;
                socket->writeSlot.release();
                markClosed(*socket);
                throw TcpError(errnoText("write failed", error));
            }
        }
        if (written == size) {
            socket->writeSlot.release();
            return;
        }
    }

    // The rest has to wait for the peer, or for another write to finish. The job holds `socket`
    // so the descriptor stays valid even if Disconnect() runs meanwhile.
    const auto job = [this, socket, data, size, written, holdingSlot] {
        if (!holdingSlot)
            socket->writeSlot.acquire();
        qsizetype done = written;
        int error = 0;
        while (done < size && socket->open) {
            const ssize_t sent = ::send(socket->fd, data + done, size_t(size - done), MSG_NOSIGNAL);
            if (sent > 0)
                done += sent;
            else if (sent < 0 && errno == EINTR)
                continue;
            else {
                error = sent < 0 ? errno : EPIPE;
                break;
            }
        }
        socket->writeSlot.release();
        if (done < size) {
            markClosed(*socket);
            throw TcpError(error ? errnoText("write failed", error) : std::string("connection closed while writing"));
        }
    };
    if (runner)
        runner(job);
    else
        job();
}

void TcpClient::ReadBuffer(char* data, qsizetype size, quint64 generation) {
    const auto socket = current();
    if (!socket || !socket->open || (generation != 0 && socket->generation != generation))
        throw TcpError("not connected");

    QByteArray& buffer = socket->readBuffer;
    qsizetype copied = 0;
    while (copied < size) {
        const qsizetype available = buffer.size() - socket->readPos;
        if (available > 0) {
            const qsizetype chunk = std::min(available, size - copied);
            std::memcpy(data + copied, buffer.constData() + socket->readPos, size_t(chunk));
            copied += chunk;
            socket->readPos += chunk;
            continue;
        }
        constexpr qsizetype readAhead = 64 * 1024;
        buffer.resize(readAhead);
        socket->readPos = 0;
        const ssize_t received = ::recv(socket->fd, buffer.data(), size_t(readAhead), 0);
        if (received > 0) {
            buffer.resize(received);
            continue;
        }
        buffer.clear();
        if (received < 0 && errno == EINTR)
            continue;
        const int error = received < 0 ? errno : 0;
        markClosed(*socket);
        throw TcpError(error ? errnoText("read failed", error) : std::string("connection closed by the peer"));
    }
}

qsizetype TcpClient::ReadAheadBytes() const {
    const auto socket = current();
    return socket ? socket->readBuffer.size() - socket->readPos : 0;
}

QByteArray TcpClient::LocalName() const {
    if (!m_localName.isEmpty())
        return m_localName;
    return machineHostName();
}

QByteArray TcpClient::machineHostName() {
    const QByteArray overridden = qgetenv("VESTREL_HOSTNAME");
    if (!overridden.isEmpty())
        return overridden;
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return QByteArrayLiteral("localhost");
    return QByteArray(name);
}

} // namespace vestrel
