#pragma once

#include "chat/UserConfig.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class QAction;
class QDialog;
class QMenu;

namespace vestrel {
class DesktopScreen;
class MessageBoxes;
class TFormSaver;
class TSlidePopUp;
class TTrayIcon;
class TrayShell;
} // namespace vestrel

namespace vestrel::chat {

class NotifySound;
class TClientFrmMain;

// The parts of the desktop the chat shell uses; tests replace them. Null means the real one.
struct ChatShellSeams {
    TrayShell* tray = nullptr;
    DesktopScreen* screen = nullptr;
    NotifySound* sound = nullptr;
    // Shows a dialog modally and returns its result; QDialog::exec by default.
    std::function<int(QDialog& dialog)> runModal;
};

// The chat client as the operator lives with it: the main window with its settings and group dialogs,
// the notification-area icon and its menu, hiding instead of closing, the popup and sound that announce
// new lines while the window is hidden, the kept layout and the localised texts.
class ChatShell : public QObject {
    Q_OBJECT
public:
    using Seams = ChatShellSeams;

    ChatShell(TUserConfig& config, MessageBoxes& boxes, Seams seams = {}, QObject* parent = nullptr);
    ~ChatShell() override;

    // Selects the language, lets the tray icon decide from `arguments` whether the window starts hidden,
    // shows it unless so, and queues the window's start-up (settings, groups, the automatic connect),
    // which runs once the event loop serves the window.
    void start(const QStringList& arguments);
    // Keeps the window's layout; call before the program ends.
    void saveLayout();

    TClientFrmMain& window() { return *m_window; }
    TTrayIcon& trayIcon() { return *TrayIcon1; }
    TSlidePopUp& slidePopUp() { return *SlidePopUp1; }
    QMenu& trayMenu() { return *PopupMenu1; }
    // Whether the operator can see the window now (shown and not minimised).
    bool windowShowing() const;

    // Tray menu items in their order.
    QAction* Impostazioni2 = nullptr;
    QAction* Connetti2 = nullptr;
    QAction* Disconnetti2 = nullptr;
    QAction* Visualizza1 = nullptr;
    QAction* RiduciaIcona2 = nullptr;
    QAction* AttivaPopUp1 = nullptr;
    QAction* ChiudiIlProgramma1 = nullptr;
    QAction* DisconnettiEdEsci2 = nullptr;

    // Handlers.
    void PopupMenu1Popup();
    void AttivaPopUp1Click();
    void TrayIcon1Click();
    void TrayIcon1DblClick();
    void showWindow();
    void minimiseWindow();
    void FormCloseCommand();
    void IncomingMessagesChange();
    void ChiudiIlProgramma1Click();
    // The icon and its hint follow the connection: the hidden client shows that it is offline.
    void showTrayConnectionState(bool connected);

private:
    void buildTrayMenu();
    void buildTrayIcon();
    void buildPopup();
    void applyShellTexts();
    QString trayHint(bool connected) const;
    bool runSettingsDialog(TUserConfig& config, QWidget* owner);
    void runGroupDialog(QWidget* owner);
    int runModal(QDialog& dialog);

    TUserConfig& m_config;
    MessageBoxes& m_boxes;
    Seams m_seams;
    std::unique_ptr<NotifySound> m_ownSound;
    std::unique_ptr<TClientFrmMain> m_window;
    std::unique_ptr<QMenu> PopupMenu1;
    TTrayIcon* TrayIcon1 = nullptr;     // owned by the window
    TSlidePopUp* SlidePopUp1 = nullptr; // owned by the window
    TFormSaver* FormSaver1 = nullptr;   // owned by the window
};

} // namespace vestrel::chat
