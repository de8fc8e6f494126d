#pragma once

#include <QString>

#include <optional>

namespace vestrel::chatserver {

// Reads a new password from standard input. On a terminal it asks twice without echo and fails when
// the two differ; otherwise it takes the first line. Empty when nothing could be read.
std::optional<QString> readNewPassword(const QString& account, QString* error);

} // namespace vestrel::chatserver
