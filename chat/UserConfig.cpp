#include "chat/UserConfig.h"

#include "chat/ChatLog.h"
#include "platform/IniFile.h"
#include "platform/ProgramDir.h"
#include "platform/Registry.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace vestrel::chat {

QStringList nickForbiddenCharacters(const QString& nick) {
    QStringList found;
    for (const QChar c : nick) {
        const bool forbidden = c == u'=' || c == u']' || c == u'\r' || c == u'\n' || c == QChar(0);
        if (forbidden && !found.contains(QString(c)))
            found.append(QString(c));
    }
    return found;
}

} // namespace vestrel::chat

namespace vestrel::chat::UserConfigStore {

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

// Why the registry values could not be saved, empty when they were.
QString saveRegistryValues(const TUserConfig& config) {
    try {
        Registry registry(RegistryHive::LocalMachine);
        if (!registry.OpenKey(RegistryKey, true))
            return u"Cannot write the settings key %1 in the registry store %2"_s.arg(QString::fromLatin1(RegistryKey),
                                                                                      registryDirectory());
        // One change of the store for all values, so other programs never see half a save.
        RegistryValueList values;
        for (const RegistrySetting& setting : registrySettings) {
            values.append({setting.name, setting.field ? RegistryValue::fromString(config.*setting.field)
                                                       : RegistryValue::fromInteger(config.Timer)});
        }
        registry.WriteValues(values);
        return {};
    } catch (const RegistryError& failure) {
        return QString::fromUtf8(failure.what());
    }
}

} // namespace

TUserConfig load() {
    TUserConfig config;
    const IniFile ini = programIniFile(QString::fromLatin1(IniFileName));
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
    // Each part is saved even when the other cannot be, so only what truly cannot be stored is lost.
    QStringList failures;
    try {
        IniFile ini = programIniFile(QString::fromLatin1(IniFileName));
        for (const IniSetting& setting : iniSettings)
            ini.WriteString(setting.section, setting.key, config.*setting.field);
    } catch (const std::runtime_error& failure) {
        failures << QString::fromUtf8(failure.what());
    }
    if (const QString why = saveRegistryValues(config); !why.isEmpty())
        failures << why;
    if (failures.isEmpty())
        return;
    qCWarning(lcChat) << "settings not saved:" << failures;
    throw SettingsSaveError(failures.join(u'\n').toStdString());
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

} // namespace vestrel::chat::UserConfigStore
