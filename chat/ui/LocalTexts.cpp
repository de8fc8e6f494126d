#include "chat/ui/LocalTexts.h"

#include "chat/UserConfig.h"
#include "components/csLocale.h"
#include "platform/Cp1252.h"
#include "platform/IniFile.h"
#include "platform/ProgramDir.h"
#include "platform/Registry.h"
#include "platform/TcpClient.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace vestrel::chat {

QString localText(int ident, const QString& builtIn) {
    const QString text = LocalString(ident);
    return text.isEmpty() ? builtIn : text;
}

QString failureMessage(const std::exception& failure) {
    if (dynamic_cast<const IniWriteError*>(&failure) || dynamic_cast<const RegistryError*>(&failure) ||
        dynamic_cast<const UserConfigStore::SettingsSaveError*>(&failure))
        return localText(ChatMessage::CannotSave,
                         u"Impossibile salvare: il file o il registro non si pu\u00F2 scrivere."_s);
    if (dynamic_cast<const ConversionError*>(&failure))
        return localText(
            ChatMessage::StoredNumberInvalid,
            u"Un numero salvato non \u00E8 valido: il file dei gruppi o delle impostazioni va controllato."_s);
    if (dynamic_cast<const TcpError*>(&failure))
        return localText(ChatMessage::NotConnected, u"Il client non \u00E8 connesso al server."_s);
    return QString::fromUtf8(failure.what());
}

QString unsendableCharactersMessage(const QString& typed) {
    const QStringList refused = cp1252::unrepresentable(typed);
    if (refused.isEmpty())
        return {};
    return localText(ChatMessage::CharactersNotSendable,
                     u"Questi caratteri non si possono inviare n\u00E9 salvare: %1"_s)
        .arg(refused.join(u' '));
}

void applyText(QAbstractButton* button, int ident) {
    button->setText(localText(ident, button->text()));
}

void applyText(QLabel* label, int ident) {
    label->setText(localText(ident, label->text()));
}

void applyText(QAction* action, int ident) {
    action->setText(localText(ident, action->text()));
}

void applyTitle(QWidget* window, int ident) {
    window->setWindowTitle(localText(ident, window->windowTitle()));
}

void applyHint(QWidget* control, int ident) {
    control->setToolTip(localText(ident, control->toolTip()));
}

} // namespace vestrel::chat
