#pragma once

#include <QString>

namespace vestrel {

class IniFile;

// The folder of the running program, with a trailing '/'. Files that live "beside the program"
// (settings INI files, language libraries, the database folder) are looked up here.
// $VESTREL_PROGRAM_DIR overrides it, for tests and the demo.
QString programDirectory();

// programDirectory() followed by `name`; "\" in `name` is taken as a folder separator.
QString programFile(const QString& name);

// Files beside the program that a user changes (settings, groups) and the ones read with them.
// While the user can write the program directory (a build tree, $VESTREL_PROGRAM_DIR) they stay there.
// Once the program is installed where the user cannot write (/opt/vestrel), each user has their own
// files in userFilesDirectory(): an INI file there holds only the keys the user changed, over the
// program directory's file (programIniFile); any other file there replaces the program directory's.
// $VESTREL_PROGRAM_DIR_READONLY=1 makes the program directory count as not writable, for tests that run
// as root (root can write anywhere).
bool programDirectoryWritable();

// The per-user folder, with a trailing '/': ${XDG_CONFIG_HOME:-$HOME/.config}/vestrel/.
QString userFilesDirectory();

// The file `name` to read whole: the user's own file when the program directory is not writable and
// that file exists, else programFile(name).
QString programFileToRead(const QString& name);

// The INI file `name` beside the program as this user reads and writes it: programFile(name) while
// the program directory is writable, else the user's own copy over programFile(name), which keeps only
// what the user changed, so the defaults an administrator puts beside the program, then or later,
// reach every user who has not changed them (see IniFile).
IniFile programIniFile(const QString& name);

// Where the registry store keeps its hive files, with a trailing '/':
// $VESTREL_REGISTRY_DIR, else userFilesDirectory().
QString registryDirectory();

// A Windows-style local path ("C:\dati\a.gdb", "dir\\\\x.ini") made usable on this system:
// on Linux every "\" becomes "/" and doubled separators collapse. Paths sent to a database
// server are never passed through this.
QString localPath(const QString& windowsStylePath);

} // namespace vestrel
