#pragma once

#include <QByteArray>
#include <QByteArrayList>

namespace vestrel::reminders {

// Operator and workstation codes a run is restricted to; empty lets every row pass.
struct ReminderFilters {
    QByteArray OperatorFilter;
    QByteArray WorkstationFilter;
};

// Reads the codes from argument texts as the reminders client reads its second and third arguments:
// a text whose first three characters are exactly "OP=" (or "PC=") gives the operator (workstation)
// code from its 4th and 5th characters; a later text wins; anything else is ignored.
ReminderFilters ParseFilterArguments(const QByteArrayList& texts);

// Whether a row with this operator and workstation passes: a side passes when either code is empty
// or both are equal (exact, case-sensitive).
bool PassesFilters(const ReminderFilters& filters, const QByteArray& utente, const QByteArray& postazione);

} // namespace vestrel::reminders
