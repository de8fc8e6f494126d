#pragma once

#include <QDialog>

#include <functional>

class QDateEdit;
class QRadioButton;

namespace vestrel {
class MessageBoxes;
} // namespace vestrel

namespace vestrel::chat {

class HistoryStore;

// "Esporta la cronologia": the lines of a range of days, as plain text or CSV, into a file the user
// chooses; the result is told in a box.
class HistoryExportDialog : public QDialog {
    Q_OBJECT
public:
    // Asks for the file to write (`csv` says which kind); empty when the user gives up.
    using ChooseFile = std::function<QString(QWidget* owner, bool csv)>;

    HistoryExportDialog(HistoryStore& store, MessageBoxes& boxes, ChooseFile chooseFile, QWidget* owner = nullptr);

    QDateEdit* From = nullptr;
    QDateEdit* To = nullptr;
    QRadioButton* PlainText = nullptr;
    QRadioButton* Csv = nullptr;

    void accept() override;

private:
    HistoryStore& m_store;
    MessageBoxes& m_boxes;
    ChooseFile m_chooseFile;
};

} // namespace vestrel::chat
