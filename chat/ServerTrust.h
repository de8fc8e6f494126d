#pragma once

#include <QByteArray>

namespace vestrel::chat {

// The certificates the user chose to trust, one per server host and port, kept by their SHA-256
// fingerprint in the registry store beside the chat settings (the way a secure shell client keeps
// host keys): a server whose certificate no recognised authority signed is accepted only with the
// fingerprint pinned here.
namespace ServerTrust {

inline constexpr char RegistryKey[] = "\\software\\Pelk Software\\Vestrel\\Chat\\Certificati";

// The pinned fingerprint of host:port, or empty.
QByteArray pinned(const QByteArray& host, int port);
// Pins `fingerprint` for host:port; false (and logged) when the store cannot be written.
bool pin(const QByteArray& host, int port, const QByteArray& fingerprint);

// Whether the chat connects with TLS (the "TLS" value of the settings key, "1" for on).
bool tlsEnabled();
bool setTlsEnabled(bool on);

} // namespace ServerTrust

} // namespace vestrel::chat
