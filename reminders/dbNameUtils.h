#pragma once

#include "platform/IniFile.h"

#include <QByteArray>

#include <memory>

namespace vestrel::reminders {

// The connection string for a database `file` on `host` (cp1252 bytes, kept exactly as composed because
// they go to the database server). A non-empty host comes first in the form the protocol asks for:
// 1 "\\host\", 0 "host:", 2 "host@", any other number the bare host. A file that holds a '\' or a '/'
// follows unchanged; a bare file name is taken from the "database" folder of the local program
// directory, also when a host is given. Without a host the name opens in this process, so it is given
// as the file system spells it (on Linux its UTF-8 bytes); with one it stays cp1252 for the server.
QByteArray ComposeDatabaseName(const QByteArray& host, const QByteArray& file, int protocol);

// "config.ini" in the program directory (or the user's own copy over it, see programIniFile); a
// missing file reads as empty. The caller owns the object.
std::unique_ptr<IniFile> OpenConfigIni();

} // namespace vestrel::reminders
