#include "chat/ShellRules.h"

#include "chat/ChatTexts.h"
#include "platform/Cp1252.h"

namespace vestrel::chat::ShellRules {

bool startsHidden(const QStringList& arguments) {
    return arguments.size() == 2; // the program's own name and one argument, whatever it says
}

QString announcedLine(const QString& lastLine, const QString& lineBefore) {
    return lastLine.isEmpty() ? lineBefore : lastLine;
}

NewLineAction newLineAction(bool windowVisible, const TUserConfig& config, const QString& line) {
    if (windowVisible || !isOn(config.Popup) || line.isEmpty())
        return NewLineAction::None;
    // The server returns the user's own entry notice like any broadcast: it announces nothing new.
    if (cp1252::fromUnicode(line) == config.Nick + ": " + ChatText::EntryNotice)
        return NewLineAction::None;
    return isOn(config.Suono) ? NewLineAction::PopupWithSound : NewLineAction::SilentPopup;
}

TrayMenuState trayMenuState(const QByteArray& popupRegistryValue, bool connected, bool windowVisible) {
    TrayMenuState state;
    state.popupTicked = isOn(popupRegistryValue);
    state.connectEnabled = !connected;
    state.disconnectEnabled = connected;
    state.showEnabled = !windowVisible;
    state.minimiseEnabled = windowVisible;
    return state;
}

} // namespace vestrel::chat::ShellRules
