#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vestrel::chat {

// "Aggiungi Client": the nickname of a client that is not connected, for the group editor.
class Taggiungi : public QDialog {
    Q_OBJECT
public:
    explicit Taggiungi(QWidget* owner = nullptr);

    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;

    void FormShow();
};

} // namespace vestrel::chat
