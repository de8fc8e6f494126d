#pragma once

#include "chat/UserConfig.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace vestrel::chat::ShellRules {

// Exactly one argument starts the client hidden in the notification area.
bool startsHidden(const QStringList& arguments);

// What a change of the conversation pane announces.
enum class NewLineAction { None, SilentPopup, PopupWithSound };

// The line a change of the pane announces: its last line, where a trailing empty line does not count.
QString announcedLine(const QString& lastLine, const QString& lineBefore);

// Popups only while the window is hidden and "Popup" is on; never for an empty line or for the user's
// own entry notice coming back from the server; the sound only with "Suono" on.
NewLineAction newLineAction(bool windowVisible, const TUserConfig& config, const QString& line);

// The tray menu as it opens: "Attiva PopUp" ticked from the registry value read at that moment, the
// connection and window commands from the present state.
struct TrayMenuState {
    bool popupTicked = false;
    bool connectEnabled = false;
    bool disconnectEnabled = false; // "Disconnetti" and "Disconnetti ed Esci"
    bool showEnabled = false;       // "Visualizza"
    bool minimiseEnabled = false;   // "Riduci a icona"
};
TrayMenuState trayMenuState(const QByteArray& popupRegistryValue, bool connected, bool windowVisible);

} // namespace vestrel::chat::ShellRules
