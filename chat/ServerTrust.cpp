#include "chat/ServerTrust.h"

#include "chat/ChatLog.h"
#include "chat/UserConfig.h"
#include "platform/Registry.h"

namespace vestrel::chat::ServerTrust {

namespace {
// Host names compare without regard to case; the port tells two servers on one machine apart.
QByteArray valueName(const QByteArray& host, int port) {
    return host.toLower() + ':' + QByteArray::number(port);
}
} // namespace

QByteArray pinned(const QByteArray& host, int port) {
    try {
        Registry registry(RegistryHive::LocalMachine);
        if (!registry.OpenKeyReadOnly(RegistryKey))
            return {};
        const auto value = registry.ReadValue(valueName(host, port));
        return value && value->type == RegistryType::String ? value->data : QByteArray();
    } catch (const std::exception& failure) {
        qCWarning(lcChat) << "cannot read the trusted certificates:" << failure.what();
        return {};
    }
}

bool pin(const QByteArray& host, int port, const QByteArray& fingerprint) {
    try {
        Registry registry(RegistryHive::LocalMachine);
        if (!registry.OpenKey(RegistryKey, true)) {
            qCWarning(lcChat) << "cannot open the key of the trusted certificates";
            return false;
        }
        registry.WriteString(valueName(host, port), fingerprint);
        return true;
    } catch (const std::exception& failure) {
        qCWarning(lcChat) << "cannot store the trusted certificate:" << failure.what();
        return false;
    }
}

bool tlsEnabled() {
    return isOn(UserConfigStore::readRegistryString("TLS"));
}

bool setTlsEnabled(bool on) {
    return UserConfigStore::writeRegistryString("TLS", on ? "1" : "0");
}

} // namespace vestrel::chat::ServerTrust
