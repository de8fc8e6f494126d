#pragma once

#include "platform/Registry.h"

#include <QByteArray>

namespace vestrel {

// The registry seen as an INI file: below one open key, each section is a subkey and each entry a
// value of it. Values are written as strings; integers are read from strings or DWORDs, and anything
// missing or unreadable gives the default.
class RegistryIniFile {
public:
    explicit RegistryIniFile(RegistryHive hive);

    // Makes `key` the key the sections live under; without `canCreate` a missing key fails.
    bool OpenKey(const QByteArray& key, bool canCreate);
    void CloseKey() { m_key.clear(); }

    int ReadInteger(const QByteArray& section, const QByteArray& ident, int defaultValue);
    // Raises RegistryError when the section cannot be created or written.
    void WriteString(const QByteArray& section, const QByteArray& ident, const QByteArray& value);
    void WriteInteger(const QByteArray& section, const QByteArray& ident, int value) {
        WriteString(section, ident, QByteArray::number(value));
    }
    // Writes several integer entries of one section in a single change of the store.
    void WriteIntegers(const QByteArray& section, const QList<QPair<QByteArray, int>>& entries);

private:
    QByteArray sectionKey(const QByteArray& section) const;

    Registry m_registry;
    QByteArray m_key;
};

} // namespace vestrel
