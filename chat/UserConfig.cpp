#include "chat/UserConfig.h"

#include "chat/ChatLog.h"
#include "platform/IniFile.h"
#include "platform/ProgramDir.h"
#include "platform/Registry.h"

namespace vestrel::UserConfigStore {

namespace {

struct IniSetting {
    QByteArray TUserConfig::*field;
    const char* section;
    const char* key;
};

struct RegistrySetting {
    QByteArray TUserConfig::*field; // null for the integer "Timer"
    const char* name;
};

// Defaults live in TUserConfig's member initialisers; these tables say where each value is kept,
// in the order the values are read and written.
constexpr IniSetting iniSettings[] = {
    {&TUserConfig::Server, "Server", "Host"},
    {&TUserConfig::Porta, "Porta", "Porta"},
};

constexpr RegistrySetting registrySettings[] = {
    {&TUserConfig::Check, "Check"},       {&TUserConfig::Mostra, "Mostra"},
    {&TUserConfig::Notifica, "Notifica"}, {&TUserConfig::Popup, "Popup"},
    {&TUserConfig::Suono, "Suono"},       {&TUserConfig::Nick, "Nick"},
    {&TUserConfig::Host, "Host"},         {nullptr, "Timer"},
};

IniFile settingsFile() {
    return IniFile(programFile(QString::fromLatin1(IniFileName)));
}

} // namespace

TUserConfig load() {
    TUserConfig config;
    const IniFile ini = settingsFile();
    for (const IniSetting& setting : iniSettings)
        config.*setting.field = ini.ReadString(setting.section, setting.key, QByteArray());

    try {
        Registry registry(RegistryHive::LocalMachine);
        if (!registry.OpenKey(RegistryKey, false))
            return config;
        for (const RegistrySetting& setting : registrySettings) {
            try {
                if (!registry.ValueExists(setting.name))
                    continue;
                if (setting.field)
                    config.*setting.field = registry.ReadString(setting.name);
                else
                    config.Timer = registry.ReadInteger(setting.name);
            } catch (const RegistryError& failure) {
                // a value of the wrong type keeps its default, like a missing one
                qCInfo(lcChat) << "settings value" << setting.name << "ignored:" << failure.what();
            }
        }
    } catch (const RegistryError& failure) {
        qCWarning(lcChat) << "settings key unreadable, defaults kept:" << failure.what();
    }
    return config;
}

void save(const TUserConfig& config) {
    IniFile ini = settingsFile();
    for (const IniSetting& setting : iniSettings)
        ini.WriteString(setting.section, setting.key, config.*setting.field);

    try {
        Registry registry(RegistryHive::LocalMachine);
        if (!registry.OpenKey(RegistryKey, true)) {
            qCWarning(lcChat) << "settings key cannot be opened for writing; only" << IniFileName << "was saved";
            return;
        }
        // One change of the store for all values, so other programs never see half a save.
        RegistryValueList values;
        for (const RegistrySetting& setting : registrySettings) {
            values.append({setting.name, setting.field ? RegistryValue::fromString(config.*setting.field)
                                                       : RegistryValue::fromInteger(config.Timer)});
        }
        registry.WriteValues(values);
    } catch (const RegistryError& failure) {
        qCWarning(lcChat) << "settings not written to the registry; only" << IniFileName
                          << "was saved:" << failure.what();
    }
}

QByteArray readRegistryString(const char* name) {
    try {
        Registry registry(RegistryHive::LocalMachine);
        if (!registry.OpenKey(RegistryKey, false))
            return {};
        return registry.ReadString(name);
    } catch (const RegistryError& failure) {
        qCInfo(lcChat) << "settings value" << name << "read as empty:" << failure.what();
        return {};
    }
}

bool writeRegistryString(const char* name, const QByteArray& value) {
    try {
        Registry registry(RegistryHive::LocalMachine);
        if (!registry.OpenKey(RegistryKey, true)) {
            qCWarning(lcChat) << "settings key cannot be opened to write" << name;
            return false;
        }
        registry.WriteString(name, value);
        return true;
    } catch (const RegistryError& failure) {
        qCWarning(lcChat) << "settings value" << name << "not written:" << failure.what();
        return false;
    }
}

} // namespace vestrel::UserConfigStore
