#pragma once

#include "chat/UserConfig.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QToolButton;

namespace vestrel {
class MessageBoxes;
} // namespace vestrel

namespace vestrel::chat {

// "Impostazioni Client": edits every field of the settings record. On OK it copies the controls back
// into the record and saves the settings. It refuses, naming them, characters the settings file and
// the wire cannot hold (and in the nick those that break the server's client list), keeping the
// dialog open on that field. Closed any other way it changes nothing.
class TForm1 : public QDialog {
    Q_OBJECT
public:
    // `hostName` answers the machine's host name for the "N" button.
    TForm1(TUserConfig& config, std::function<QByteArray()> hostName, QWidget* owner = nullptr);

    // Why the save on OK failed (the settings record was still updated); empty when it did not.
    QString saveError() const { return m_saveError; }
    // Where a refusal is shown; without one it is only logged and the dialog stays open.
    void setMessageBoxes(MessageBoxes* boxes) { m_boxes = boxes; }

    QCheckBox* CheckBox1 = nullptr; // Check
    QCheckBox* CheckBox2 = nullptr; // Mostra
    QCheckBox* CheckBox3 = nullptr; // Notifica
    QCheckBox* CheckBox4 = nullptr; // Popup
    QCheckBox* CheckBox5 = nullptr; // Suono
    QCheckBox* CheckBox6 = nullptr; // TLS, in the registry beside the settings
    QSpinBox* Edit5 = nullptr;      // Timer, with its up-down buttons
    QLineEdit* Edit1 = nullptr;     // Server
    QLineEdit* Edit2 = nullptr;     // Porta
    QLineEdit* Edit3 = nullptr;     // Nick
    QLineEdit* Edit4 = nullptr;     // Host
    QLineEdit* Edit6 = nullptr;     // Password, kept by ChatPassword, never in the settings files
    QToolButton* SpeedButton2 = nullptr;
    QSpinBox* HistoryDays = nullptr; // "Conserva la cronologia per N giorni"
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;

    void CheckBox4Click();
    void SpeedButton2Click();

    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    void showHistoryDaysText(const QString& text);
    // The refusal for the text fields as typed, focusing the first field refused; empty when all fit.
    QString refusal();

    TUserConfig& m_config;
    std::function<QByteArray()> m_hostName;
    QLabel* m_labels[5] = {}; // "Host Server", "Porta Server", "Nick Client", "Host Client", "Timer PopUp"
    QString m_saveError;
    QLabel* m_historyLabel = nullptr;
    MessageBoxes* m_boxes = nullptr;
    QLabel* m_passwordLabel = nullptr;
    QByteArray m_shownPassword;
};

} // namespace vestrel::chat
