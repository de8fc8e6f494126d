#pragma once

#include <QAbstractTableModel>

namespace vestrel::fb {
class DataSet;
} // namespace vestrel::fb

namespace vestrel::reminders {

// The editor's list of reminders over the RICORRENZE dataset: column 0 "Nome" (DESCRIZIONE), column 1
// "Cr." (CRITERIO as one letter). Read-only; the source row is the dataset's row index.
class RicorrGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColumnNome = 0, ColumnCriterio = 1, ColumnCount = 2 };

    explicit RicorrGridModel(const fb::DataSet& dataSet, QObject* parent = nullptr);

    // The dataset's rows were added, removed or rewritten.
    void reload();
    void setHeaders(const QString& nome, const QString& criterio);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const fb::DataSet& m_dataSet;
    QString m_headers[ColumnCount];
};

} // namespace vestrel::reminders
