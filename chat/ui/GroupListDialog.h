#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QDialog>

#include <functional>
#include <memory>

class QLabel;
class QListWidget;
class QPushButton;

namespace vestrel {
class IniFile;
class MessageBoxes;
} // namespace vestrel

namespace vestrel::chat {

// "Gestione Gruppi": creates, edits and deletes the groups of "gruppi.ini". Every confirmed change is
// written at once; closing refills the main window's group selector with the stored group names.
class TFrmGruppi : public QDialog {
    Q_OBJECT
public:
    struct Context {
        QByteArrayList clientNicks; // the names of the main window's client list, in list order
        QByteArray ownNick;
        // Refills the main window's group selector from the names stored when the dialog closes.
        std::function<void(const QByteArrayList& groupNames)> refillGroupSelector;
    };

    TFrmGruppi(Context context, MessageBoxes& boxes, QWidget* owner = nullptr);
    ~TFrmGruppi() override;

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QListWidget* listGruppi = nullptr;
    QListWidget* ListClient = nullptr;
    QPushButton* Button1 = nullptr; // "&Crea "
    QPushButton* Button2 = nullptr; // "&Elimina "
    QPushButton* Button3 = nullptr; // "&Modifica"
    QPushButton* Button4 = nullptr; // "&Esci"

    void listGruppiClick();
    void Button1Click();
    void Button2Click();
    void Button3Click();

    // Tests and the main window answer the editor through this hook instead of its modal loop; by
    // default it runs the editor modally and returns its result.
    std::function<int(class TCreaGruppi& editor)> runEditor;

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void FormShow();
    void FormClose();
    void editGroup(const QByteArray& name, const QStringList& members, bool offerOwnNick);
    QByteArrayList listedNames() const;
    void showNames(const QByteArrayList& names);
    // Runs a handler; a failure (an unreadable count in the file, a write refused) reaches the error box.
    void guarded(const std::function<void()>& handler);

    Context m_context;
    MessageBoxes& m_boxes;
    std::unique_ptr<IniFile> GroupIni;
    bool m_closed = false;
};

} // namespace vestrel::chat
