#pragma once

#include "fb/Statement.h"

#include <QByteArray>

namespace vestrel::reminders {

// The walk of the reminders selects every column but MESSAGGIO; this reads the message of one reminder
// by its ID, with one prepared statement for the whole walk. A message the connection cannot convert
// (a character outside its character set, a damaged blob) raises FbError for that reminder only.
class ReminderMessages {
public:
    static constexpr char WalkSQL[] =
        "select ID, POSTAZIONE, UTENTE, DESCRIZIONE, CRITERIO, SOTTOCRITERIO, FINACTIVE from RICORRENZE";
    static constexpr char ByIdSQL[] = "select MESSAGGIO from RICORRENZE where ID = ?";

    ReminderMessages(fb::Attachment& attachment, fb::Transaction& transaction);
    QByteArray Read(qint64 id);

private:
    fb::Statement m_select;
};

} // namespace vestrel::reminders
