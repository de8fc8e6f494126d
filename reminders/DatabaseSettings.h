#pragma once

#include "fb/Connection.h"

#include <QString>

#include <functional>

namespace vestrel::reminders {

// Shows a message to the user; the program passes a message box, tests and tools their own.
using ShowMessageFn = std::function<void(const QString& text)>;

// The localised text shown when "config.ini" names no database file.
inline constexpr int NoDatabaseFileMessage = 45130;

// Applies section "Database" of "config.ini" to `connection`: its database name (ComposeDatabaseName of
// "host", "File" and "protocollo") and its parameter list ("user_name=", "password=" and, for a
// non-empty "ruolo", "sql_role_name="; values as read). An open connection is closed first, after
// committing its active default transaction. When "File" is empty, message 45130 is shown and the
// connection keeps its name and parameters. Does not connect. Errors of the INI file or of the
// connection pass to the caller.
void LoadDatabaseSettings(fb::Connection& connection, const ShowMessageFn& showMessage);

} // namespace vestrel::reminders
