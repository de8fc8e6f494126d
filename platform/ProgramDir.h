#pragma once

#include <QString>

#include <stdexcept>

namespace vestrel {

// Raised when a user's own copy of a file beside the program cannot be made.
class ProgramFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The folder of the running program, with a trailing '/'. Files that live "beside the program"
// (settings INI files, language libraries, the database folder) are looked up here.
// $VESTREL_PROGRAM_DIR overrides it, for tests and the demo.
QString programDirectory();

// programDirectory() followed by `name`; "\" in `name` is taken as a folder separator.
QString programFile(const QString& name);

// Files beside the program that a user changes (settings, groups) and the ones read with them.
// While the user can write the program directory (a build tree, $VESTREL_PROGRAM_DIR) they stay there.
// Once the program is installed where the user cannot write (/opt/vestrel), each user keeps their own
// copy in userFilesDirectory(): it is read before the program directory's file, and writes go to it.
// $VESTREL_PROGRAM_DIR_READONLY=1 makes the program directory count as not writable, for tests that run
// as root (root can write anywhere).
bool programDirectoryWritable();

// The per-user folder, with a trailing '/': ${XDG_CONFIG_HOME:-$HOME/.config}/vestrel/.
QString userFilesDirectory();

// The file `name` to read: the user's own copy when the program directory is not writable and the
// copy exists, else programFile(name).
QString programFileToRead(const QString& name);

// The file `name` to write: programFile(name) while the program directory is writable, else the user's
// own copy. The first call makes that copy from the program directory's file, creating the folder, so
// the defaults an administrator put there carry over. Raises ProgramFileError, with the path and the
// system's reason, when the folder or the copy cannot be made.
QString programFileToWrite(const QString& name);

// Where the registry store keeps its hive files, with a trailing '/':
// $VESTREL_REGISTRY_DIR, else userFilesDirectory().
QString registryDirectory();

// A Windows-style local path ("C:\dati\a.gdb", "dir\\\\x.ini") made usable on this system:
// on Linux every "\" becomes "/" and doubled separators collapse. Paths sent to a database
// server are never passed through this.
QString localPath(const QString& windowsStylePath);

} // namespace vestrel
