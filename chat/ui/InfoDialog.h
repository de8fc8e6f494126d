#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;

namespace vestrel::chat {

// "Informazioni - Chat Vestrel": tells the user, when the window is closed, that the program goes on in
// the notification area. Closed with OK it stores in "Check" whether to show itself again.
class TOKBottomDlg : public QDialog {
    Q_OBJECT
public:
    explicit TOKBottomDlg(QWidget* owner = nullptr);

    QLabel* Text = nullptr;
    QCheckBox* CheckBox1 = nullptr; // "Non mostrare più questo messaggio"
    QPushButton* OKBtn = nullptr;

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace vestrel::chat
