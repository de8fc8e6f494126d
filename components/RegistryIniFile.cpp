#include "components/RegistryIniFile.h"

#include <QtEndian>

namespace vestrel {

RegistryIniFile::RegistryIniFile(RegistryHive hive)
    : m_registry(hive) {}

bool RegistryIniFile::OpenKey(const QByteArray& key, bool canCreate) {
    m_key.clear();
    if (key.isEmpty() || !m_registry.OpenKey(key, canCreate))
        return false;
    m_key = key;
    m_registry.CloseKey();
    return true;
}

QByteArray RegistryIniFile::sectionKey(const QByteArray& section) const {
    QByteArray key = m_key;
    if (!key.endsWith('\\'))
        key += '\\';
    return key + section;
}

int RegistryIniFile::ReadInteger(const QByteArray& section, const QByteArray& ident, int defaultValue) {
    if (m_key.isEmpty() || !m_registry.OpenKey(sectionKey(section), false))
        return defaultValue;
    const std::optional<RegistryValue> value = m_registry.ReadValue(ident);
    m_registry.CloseKey();
    if (!value)
        return defaultValue;
    switch (value->type) {
    case RegistryType::String: {
        bool ok = false;
        const int number = value->data.trimmed().toInt(&ok);
        return ok ? number : defaultValue;
    }
    case RegistryType::DWord:
        return value->data.size() == 4 ? int(qFromLittleEndian<quint32>(value->data.constData())) : defaultValue;
    default: // binary data and the other types hold no integer for this reader
        break;
    }
    return defaultValue;
}

void RegistryIniFile::WriteString(const QByteArray& section, const QByteArray& ident, const QByteArray& value) {
    if (m_key.isEmpty() || !m_registry.OpenKey(sectionKey(section), true))
        throw RegistryError("Cannot create the registry key " + sectionKey(section).toStdString());
    m_registry.WriteString(ident, value);
    m_registry.CloseKey();
}

void RegistryIniFile::WriteIntegers(const QByteArray& section, const QList<QPair<QByteArray, int>>& entries) {
    if (m_key.isEmpty() || !m_registry.OpenKey(sectionKey(section), true))
        throw RegistryError("Cannot create the registry key " + sectionKey(section).toStdString());
    RegistryValueList values;
    values.reserve(entries.size());
    for (const auto& [ident, value] : entries)
        values.append({ident, RegistryValue::fromString(QByteArray::number(value))});
    m_registry.WriteValues(values);
    m_registry.CloseKey();
}

} // namespace vestrel
