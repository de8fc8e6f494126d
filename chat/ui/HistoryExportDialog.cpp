#include "chat/ui/HistoryExportDialog.h"

#include "chat/HistoryExport.h"
#include "chat/HistoryStore.h"
#include "chat/ui/HistoryTexts.h"
#include "chat/ui/LocalTexts.h"
#include "components/ui/MessageBoxes.h"

#include <QDateEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QRadioButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace vestrel::chat {

namespace {
constexpr int defaultDays = 30;
}

HistoryExportDialog::HistoryExportDialog(HistoryStore& store, MessageBoxes& boxes, ChooseFile chooseFile,
                                         QWidget* owner)
    : QDialog(owner)
    , m_store(store)
    , m_boxes(boxes)
    , m_chooseFile(std::move(chooseFile)) {
    setObjectName(u"HistoryExport"_s);
    setWindowTitle(localText(HistoryText::ExportTitle, u"Esporta la cronologia"_s));

    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    const QDate today = QDate::currentDate();
    From = new QDateEdit(today.addDays(-defaultDays));
    To = new QDateEdit(today);
    for (QDateEdit* edit : {From, To}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(u"dd/MM/yyyy"_s);
    }
    form->addRow(localText(HistoryText::ExportFrom, u"Dal:"_s), From);
    form->addRow(localText(HistoryText::ExportTo, u"Al:"_s), To);
    layout->addLayout(form);
    PlainText = new QRadioButton(localText(HistoryText::ExportPlainText, u"Testo semplice"_s));
    Csv = new QRadioButton(localText(HistoryText::ExportCsv, u"CSV (separato da punto e virgola)"_s));
    PlainText->setChecked(true);
    layout->addWidget(PlainText);
    layout->addWidget(Csv);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &HistoryExportDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &HistoryExportDialog::reject);
    layout->addWidget(buttons);
}

void HistoryExportDialog::accept() {
    const bool csv = Csv->isChecked();
    const QString path = m_chooseFile ? m_chooseFile(this, csv) : QString();
    if (path.isEmpty())
        return; // the dialog stays open for another choice
    QDate from = From->date();
    QDate to = To->date();
    if (from > to)
        std::swap(from, to);
    m_store.waitUntilWritten(); // the lines just shown belong in the export too
    const QList<HistoryLine> lines = m_store.between(from, to);
    QString error;
    if (!writeHistoryExport(path, lines, csv ? HistoryExportFormat::Csv : HistoryExportFormat::PlainText, &error)) {
        m_boxes.warning(localText(HistoryText::ExportFailed, u"Esportazione non riuscita: %1"_s).arg(error));
        return;
    }
    m_boxes.information(localText(HistoryText::Exported, u"Esportate %1 righe in %2."_s).arg(lines.size()).arg(path));
    QDialog::accept();
}

} // namespace vestrel::chat
