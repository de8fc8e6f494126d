#include "reminders/StartupArguments.h"

#include "platform/Cp1252.h"

namespace vestrel::reminders {

StartupArguments ParseStartupArguments(const QStringList& arguments) {
    StartupArguments result;
    if (arguments.isEmpty()) {
        result.mode = StartMode::Editor;
    } else if (arguments.size() > MaxReminderArguments) {
        result.mode = StartMode::TooManyArguments;
    } else {
        result.mode = StartMode::Reminders;
        QByteArrayList texts;
        for (qsizetype i = 1; i < arguments.size(); ++i)
            texts.append(cp1252::fromUnicode(arguments.at(i)));
        result.filters = ParseFilterArguments(texts);
    }
    return result;
}

} // namespace vestrel::reminders
