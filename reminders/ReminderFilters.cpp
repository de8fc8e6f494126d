#include "reminders/ReminderFilters.h"

namespace vestrel::reminders {

ReminderFilters ParseFilterArguments(const QByteArrayList& texts) {
    ReminderFilters filters;
    for (const QByteArray& text : texts) {
        if (text.startsWith("OP="))
            filters.OperatorFilter = text.mid(3, 2);
        else if (text.startsWith("PC="))
            filters.WorkstationFilter = text.mid(3, 2);
    }
    return filters;
}

bool PassesFilters(const ReminderFilters& filters, const QByteArray& utente, const QByteArray& postazione) {
    if (!utente.isEmpty() && !filters.OperatorFilter.isEmpty() && utente != filters.OperatorFilter)
        return false;
    if (!postazione.isEmpty() && !filters.WorkstationFilter.isEmpty() && postazione != filters.WorkstationFilter)
        return false;
    return true;
}

} // namespace vestrel::reminders
