#pragma once

#include <QString>

namespace vestrel {

// The folder of the running program, with a trailing '/'. Files that live "beside the program"
// (settings INI files, language libraries, the database folder) are looked up here.
// $VESTREL_PROGRAM_DIR overrides it, for tests and the demo.
QString programDirectory();

// programDirectory() followed by `name`; "\" in `name` is taken as a folder separator.
QString programFile(const QString& name);

// Where the registry store keeps its hive files, with a trailing '/':
// $VESTREL_REGISTRY_DIR, else ${XDG_CONFIG_HOME:-$HOME/.config}/vestrel/.
QString registryDirectory();

// A Windows-style local path ("C:\dati\a.gdb", "dir\\\\x.ini") made usable on this system:
// on Linux every "\" becomes "/" and doubled separators collapse. Paths sent to a database
// server are never passed through this.
QString localPath(const QString& windowsStylePath);

} // namespace vestrel
