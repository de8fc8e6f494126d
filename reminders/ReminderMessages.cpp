#include "reminders/ReminderMessages.h"

namespace vestrel::reminders {

ReminderMessages::ReminderMessages(fb::Attachment& attachment, fb::Transaction& transaction)
    : m_select(attachment, transaction, ByIdSQL) {}

QByteArray ReminderMessages::Read(qint64 id) {
    m_select.setParam(0, fb::Value::fromInteger(id));
    auto cursor = m_select.openCursor();
    fb::Row row;
    if (!cursor->fetch(row))
        return {}; // deleted since the walk read it
    return row.at(0).asText();
}

} // namespace vestrel::reminders
