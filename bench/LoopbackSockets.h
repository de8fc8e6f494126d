#pragma once

// Plain blocking sockets on loopback for the relay server benchmarks: the clients run on threads of
// their own, without an event loop, so that only the server's work is measured.

#include <QtGlobal>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vestrel::bench {

// A connection to 127.0.0.1:port; a benchmark cannot go on without it, so a failure ends the run.
inline int connectTo(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("connect to the relay server");
        std::abort();
    }
    return fd;
}

// Writes all of `data`; false when the connection ended first.
inline bool sendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= size_t(sent);
    }
    return true;
}

} // namespace vestrel::bench
