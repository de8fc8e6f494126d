#pragma once

#include "platform/Registry.h"

#include <QByteArray>
#include <QDate>
#include <QSet>

#include <stdexcept>

namespace vestrel::reminders {

// The user's record of dismissed reminders: under this key of HKEY_CURRENT_USER, one REG_BINARY value
// per dismissed reminder, named after its ID in decimal, holding the day of the dismissal as an 8-byte
// little-endian OLE Automation date.
inline constexpr char AlertKey[] = "\\software\\pelk software\\vestrel\\alert";

// Raised when a stored dismissal is not an 8-byte binary date.
class DismissalError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

QByteArray EncodeDismissalDate(QDate day);
// The day a stored value holds; DismissalError for another type, another size or a value that is not a date.
QDate DecodeDismissalDate(const RegistryValue& value);

// Records the dismissal of reminder `id` on `day`, as "Non mostrare ancora" does: the alert key is
// created when missing and an earlier value is overwritten. Raises RegistryError when it cannot be written.
void WriteDismissal(qint64 id, QDate day);

// The alert key as one evaluation reads it. The value names are taken once when it is opened, so a
// reminder that was never dismissed costs no registry read; dates are read when a rule asks for them.
class DismissalLookup {
public:
    // Opens the alert key, creating it when missing. When it cannot be opened nothing counts as dismissed.
    void Open();
    bool HasValue(qint64 id) const;
    // The dismissal day of `id`; DismissalError or RegistryError when it is missing or unreadable.
    QDate ReadDate(qint64 id) const;

private:
    Registry m_registry{RegistryHive::CurrentUser};
    QSet<QByteArray> m_names; // lower case
    bool m_open = false;
};

} // namespace vestrel::reminders
