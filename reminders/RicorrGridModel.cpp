#include "reminders/RicorrGridModel.h"

#include "fb/DataSet.h"
#include "platform/Cp1252.h"
#include "reminders/RecurrenceDetail.h"

using namespace Qt::StringLiterals;

namespace vestrel::reminders {

RicorrGridModel::RicorrGridModel(const fb::DataSet& dataSet, QObject* parent)
    : QAbstractTableModel(parent)
    , m_dataSet(dataSet)
    , m_headers{u"Nome"_s, u"Cr."_s} {}

void RicorrGridModel::reload() {
    beginResetModel();
    endResetModel();
}

void RicorrGridModel::setHeaders(const QString& nome, const QString& criterio) {
    m_headers[ColumnNome] = nome;
    m_headers[ColumnCriterio] = criterio;
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
}

int RicorrGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() || !m_dataSet.Active() ? 0 : int(m_dataSet.RecordCount());
}

int RicorrGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant RicorrGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    try {
        const fb::Row& row = m_dataSet.RowAt(index.row());
        if (index.column() == ColumnNome)
            return cp1252::toUnicode(row.FieldByName("DESCRIZIONE").asText());
        return CriterionLetter(row.FieldByName("CRITERIO").asInt64());
    } catch (const std::exception&) {
        // A value that cannot be shown leaves its cell empty; the row stays editable.
        return {};
    }
}

QVariant RicorrGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
        return m_headers[section];
    return {};
}

} // namespace vestrel::reminders
