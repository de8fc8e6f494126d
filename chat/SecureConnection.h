#pragma once

#include <QByteArray>
#include <QString>

namespace vestrel::chat {

// What opening an encrypted connection to the relay came to.
struct SecureOpening {
    enum class Status {
        Open,               // `descriptor` carries the records in clear, on this machine only
        Failed,             // no connection, no handshake, or no answer: `message` says why
        UnknownCertificate, // a certificate no trusted authority signed and none pinned for this server
        ChangedCertificate, // not the certificate pinned for this server
        Refused,            // the server refused the account: `message` is its text
    };
    Status status = Status::Failed;
    int descriptor = -1;
    QByteArray fingerprint; // the server certificate's SHA-256, "AB:CD:..."
    QString message;
};

// Opens a TLS connection (1.2 or later) to host:port, waiting at most `timeoutMs`. A certificate no
// authority the system trusts has signed is accepted only when its fingerprint equals `pinned`.
// Once encrypted, sends "AUTH" with `account` and `password` and waits for the answer; the password
// never travels in clear. On success a thread of its own relays between the returned descriptor (a
// local socket the caller owns and closes) and the TLS connection until either side ends.
SecureOpening openSecureConnection(const QByteArray& host, int port, const QByteArray& pinned,
                                   const QByteArray& account, const QByteArray& password, int timeoutMs);

} // namespace vestrel::chat
