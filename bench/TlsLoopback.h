#pragma once

// TLS clients for the relay server benchmarks, on the plain sockets of LoopbackSockets.h: OpenSSL
// directly, without an event loop, so that what is measured is the server's work. The certificate
// is not checked (the benchmark made it itself).

#include "LoopbackSockets.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <fcntl.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace vestrel::bench {

// A connection, encrypted when `ssl` is set.
struct Link {
    int fd = -1;
    SSL* ssl = nullptr;
};

inline SSL_CTX* tlsClientContext() {
    static SSL_CTX* context = [] {
        SSL_CTX* made = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_min_proto_version(made, TLS1_2_VERSION);
        SSL_CTX_set_verify(made, SSL_VERIFY_NONE, nullptr);
        SSL_CTX_set_mode(made, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        return made;
    }();
    return context;
}

// A connection to 127.0.0.1:port, with a finished TLS handshake when `tls`; a failure ends the run.
inline Link connectLink(quint16 port, bool tls) {
    Link link{connectTo(port), nullptr};
    if (!tls)
        return link;
    link.ssl = SSL_new(tlsClientContext());
    SSL_set_fd(link.ssl, link.fd);
    if (SSL_connect(link.ssl) != 1) {
        ERR_print_errors_fp(stderr);
        std::abort();
    }
    return link;
}

inline void closeLink(Link& link) {
    if (link.ssl) {
        SSL_free(link.ssl);
        link.ssl = nullptr;
    }
    ::close(link.fd);
}

// Writes all of `data` on a blocking link; false when the connection ended first.
inline bool sendAll(const Link& link, const char* data, size_t size) {
    if (!link.ssl)
        return sendAll(link.fd, data, size);
    while (size > 0) {
        const int sent = SSL_write(link.ssl, data, int(std::min<size_t>(size, 1 << 20)));
        if (sent <= 0)
            return false;
        data += sent;
        size -= size_t(sent);
    }
    return true;
}

// Reads what a blocking link has (at least one byte); 0 or less when it ended.
inline ssize_t receiveSome(const Link& link, char* buffer, size_t size) {
    if (!link.ssl)
        return ::recv(link.fd, buffer, size, 0);
    return SSL_read(link.ssl, buffer, int(std::min<size_t>(size, 1 << 30)));
}

// Sends `out` and receives `expected` bytes on one thread, in whatever order the link allows: one
// TLS connection may not be used by two threads at once. The link is non-blocking afterwards.
inline void exchange(const Link& link, const char* out, size_t outSize, size_t expected) {
    ::fcntl(link.fd, F_SETFL, ::fcntl(link.fd, F_GETFL) | O_NONBLOCK);
    std::vector<char> buffer(256 * 1024);
    size_t sent = 0;
    size_t got = 0;
    const auto wouldBlock = [&link](ssize_t result) {
        if (link.ssl) {
            const int error = SSL_get_error(link.ssl, int(result));
            return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE;
        }
        return result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    };
    while (sent < outSize || got < expected) {
        bool progress = false;
        if (sent < outSize) {
            const size_t chunk = std::min<size_t>(outSize - sent, 16 * 1024);
            const ssize_t n = link.ssl ? SSL_write(link.ssl, out + sent, int(chunk))
                                       : ::send(link.fd, out + sent, chunk, MSG_NOSIGNAL);
            if (n > 0) {
                sent += size_t(n);
                progress = true;
            } else if (!wouldBlock(n)) {
                std::abort();
            }
        }
        if (got < expected) {
            const ssize_t n = link.ssl ? SSL_read(link.ssl, buffer.data(), int(buffer.size()))
                                       : ::recv(link.fd, buffer.data(), buffer.size(), 0);
            if (n > 0) {
                got += size_t(n);
                progress = true;
            } else if (!wouldBlock(n)) {
                std::abort();
            }
        }
        if (!progress) {
            pollfd poll{link.fd, short(POLLIN | (sent < outSize ? POLLOUT : 0)), 0};
            ::poll(&poll, 1, 1000);
        }
    }
}

} // namespace vestrel::bench
