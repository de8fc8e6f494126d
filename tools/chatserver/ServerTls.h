#pragma once

#include <QSslConfiguration>
#include <QString>

#include <optional>

namespace vestrel::chatserver {

// The relay's TLS settings from a PEM certificate (its chain may follow it in the file) and its
// PEM private key (elliptic-curve or RSA): TLS 1.2 or later, no client certificates asked.
std::optional<QSslConfiguration> loadServerTls(const QString& certificateFile, const QString& keyFile, QString* error);

} // namespace vestrel::chatserver
