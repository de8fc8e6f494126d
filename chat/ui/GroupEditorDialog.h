#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QToolButton;

namespace vestrel {
class MessageBoxes;
} // namespace vestrel

namespace vestrel::chat {

// "CreaGruppi": the name and members of one group. It writes nothing itself; the group list reads
// its name and members once it has closed with OK.
class TCreaGruppi : public QDialog {
    Q_OBJECT
public:
    TCreaGruppi(MessageBoxes& boxes, QWidget* owner = nullptr);

    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr; // the group name
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QListWidget* ListBox1 = nullptr; // candidates
    QPushButton* Button2 = nullptr;  // ">>"
    QPushButton* Button3 = nullptr;  // "<<"
    QListWidget* ListBox2 = nullptr; // members
    QToolButton* SpeedButton1 = nullptr;
    QToolButton* SpeedButton2 = nullptr;
    QPushButton* BtOk = nullptr;
    QPushButton* BtAnnulla = nullptr;

    QStringList members() const;
    // Names of the other groups: a name the group file would store as one of them is refused, so that
    // saving never writes one group over another.
    QByteArrayList otherGroups;

    void Button2Click();
    void Button3Click();
    void SpeedButton1Click();
    void SpeedButton2Click();
    // OK closes only with a name the group file can hold and at least one member; silently otherwise.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();

    MessageBoxes& m_boxes;
    // The refusal of the name as typed, naming what is wrong; empty when the group can be saved.
    QString nameRefusal() const;
};

} // namespace vestrel::chat
