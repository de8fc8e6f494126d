#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace vestrel {

// The desktop's secret store (through QtKeychain), never a file of ours. Each call waits for the
// store's answer; nullopt or false when no store answers or it refuses, which is logged.
namespace SecretStore {

// The secret kept under service/key; an empty QByteArray when the store holds none.
std::optional<QByteArray> read(const QString& service, const QString& key);
bool write(const QString& service, const QString& key, const QByteArray& secret);

} // namespace SecretStore

} // namespace vestrel
