#include "reminders/MemTable.h"

#include <stdexcept>

namespace vestrel::reminders {

void MemTable::Open() {
    m_rows.clear();
    m_active = true;
}

void MemTable::Close() {
    m_rows.clear();
    m_active = false;
}

void MemTable::Append(MemTBRow row) {
    if (!m_active)
        throw std::logic_error("the memory table is closed");
    row.Descrizione.truncate(DescrizioneSize);
    m_rows.push_back(std::move(row));
}

std::optional<MemTBRow> MemTable::Locate(qint32 id) const {
    for (const MemTBRow& row : m_rows) {
        if (row.ID == id)
            return row;
    }
    return std::nullopt;
}

} // namespace vestrel::reminders
