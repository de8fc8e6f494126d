#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace vestrel::chat {

class HistoryStore;

// "Cerca nella cronologia": the words typed are looked up over the whole history as they are typed;
// the lines found are listed newest first with their date, time and sender, and the one chosen is shown
// among the lines around it.
class HistorySearchDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int SearchDelayMs = 250;
    static constexpr int ContextLines = 15;

    HistorySearchDialog(HistoryStore& store, QWidget* owner = nullptr);

    // Looks up the present text at once (Enter does the same).
    void runSearch();

    QLineEdit* SearchEdit = nullptr;
    QTreeWidget* Results = nullptr;
    QPlainTextEdit* Context = nullptr;
    QLabel* Status = nullptr;

private:
    void showContext(QTreeWidgetItem* item);

    HistoryStore& m_store;
    QTimer* m_delay = nullptr;
};

} // namespace vestrel::chat
