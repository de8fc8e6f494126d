#pragma once

#include "reminders/ReminderFilters.h"

#include <QStringList>

namespace vestrel::reminders {

// What the reminders client does, decided by the number of its arguments: none opens the editor, one
// to three show today's reminders (the second and third may carry "OP=" and "PC=" codes; the first is
// never examined), more are a usage error.
enum class StartMode { Editor, Reminders, TooManyArguments };

struct StartupArguments {
    StartMode mode = StartMode::Editor;
    ReminderFilters filters;
};

inline constexpr int MaxReminderArguments = 3;

// `arguments` without the program name.
StartupArguments ParseStartupArguments(const QStringList& arguments);

} // namespace vestrel::reminders
