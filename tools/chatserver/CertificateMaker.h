#pragma once

#include <QString>
#include <QStringList>

namespace vestrel::chatserver {

// Writes a new self-signed key pair into `dir`: "chatserver.key" (owner-only) and "chatserver.crt",
// valid ten years, naming `hosts` (host names or addresses) as its subject alternative names. Never
// overwrites: fails when either file exists. Returns the certificate's SHA-256 fingerprint
// ("AB:CD:..."), or an empty string with `error` set.
QString makeCertificate(const QString& dir, const QStringList& hosts, QString* error);

} // namespace vestrel::chatserver
