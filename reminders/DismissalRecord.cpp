#include "reminders/DismissalRecord.h"

#include "reminders/DueDates.h"

#include <QtEndian>

#include <cstring>

namespace vestrel::reminders {

QByteArray EncodeDismissalDate(QDate day) {
    const double ole = ToOleDate(day);
    quint64 bits = 0;
    std::memcpy(&bits, &ole, sizeof bits);
    QByteArray data(8, '\0');
    qToLittleEndian(bits, data.data());
    return data;
}

QDate DecodeDismissalDate(const RegistryValue& value) {
    if (value.type != RegistryType::Binary || value.data.size() != 8)
        throw DismissalError("the dismissal value is not an 8-byte binary date");
    const quint64 bits = qFromLittleEndian<quint64>(value.data.constData());
    double ole = 0;
    std::memcpy(&ole, &bits, sizeof ole);
    const std::optional<QDate> day = FromOleDate(ole);
    if (!day)
        throw DismissalError("the dismissal value does not hold a date");
    return *day;
}

void WriteDismissal(qint64 id, QDate day) {
    Registry registry(RegistryHive::CurrentUser);
    if (!registry.OpenKey(AlertKey, true))
        throw RegistryError("cannot open or create the key " + std::string(AlertKey));
    registry.WriteBinaryData(QByteArray::number(id), EncodeDismissalDate(day));
}

void DismissalLookup::Open() {
    m_names.clear();
    m_open = m_registry.OpenKey(AlertKey, true);
    if (!m_open)
        return;
    for (const QByteArray& name : m_registry.GetValueNames())
        m_names.insert(name.toLower());
}

bool DismissalLookup::HasValue(qint64 id) const {
    return m_open && m_names.contains(QByteArray::number(id));
}

QDate DismissalLookup::ReadDate(qint64 id) const {
    if (!m_open)
        throw DismissalError("the alert key is not open");
    const std::optional<RegistryValue> value = m_registry.ReadValue(QByteArray::number(id));
    if (!value)
        throw DismissalError("no dismissal value for " + std::to_string(id));
    return DecodeDismissalDate(*value);
}

} // namespace vestrel::reminders
