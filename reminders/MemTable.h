#pragma once

#include <QByteArray>

#include <optional>
#include <vector>

namespace vestrel::reminders {

// One reminder due in this run, as the display shows it.
struct MemTBRow {
    qint32 ID = 0;
    QByteArray Descrizione; // at most DescrizioneSize characters (cp1252)
    QByteArray Messaggio;
    qint16 CRITERIO = 0;
};

// The in-memory table of due reminders (fields ID, Descrizione, Messaggio, CRITERIO), filled by the
// evaluation in the order the reminders were read and walked by the display.
class MemTable {
public:
    static constexpr qsizetype DescrizioneSize = 30;

    // Opening starts an empty table; closing drops the rows.
    void Open();
    void Close();
    bool Active() const { return m_active; }

    // Appends a row; a longer Descrizione is cut to DescrizioneSize, as the field holds no more.
    // Raises std::logic_error on a closed table.
    void Append(MemTBRow row);

    qsizetype RecordCount() const { return qsizetype(m_rows.size()); }
    const MemTBRow& at(qsizetype index) const { return m_rows.at(size_t(index)); }
    const std::vector<MemTBRow>& rows() const { return m_rows; }
    // The first row whose ID equals `id`.
    std::optional<MemTBRow> Locate(qint32 id) const;

private:
    std::vector<MemTBRow> m_rows;
    bool m_active = false;
};

} // namespace vestrel::reminders
