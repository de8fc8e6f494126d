#pragma once

#include <QString>

namespace vestrel::fb {

// The embedded engine keeps its lock files in $FIREBIRD_LOCK, else in /tmp/firebird. Where the server
// package is installed that folder belongs to firebird:firebird with mode 0770, so the embedded engine
// of an ordinary user cannot start ("... /tmp/firebird/ ... Permission denied"); and where no server is
// installed, the first user to open a database makes the folder their own and locks the others out.
//
// When FIREBIRD_LOCK is unset and this user cannot use the shared folder, it is set to a folder of this
// user only: $XDG_RUNTIME_DIR/firebird, else ${XDG_CACHE_HOME:-$HOME/.cache}/firebird, created with
// mode 0700. All of one user's processes pick the same folder, so they still share their databases.
// A user who can use the shared folder (root, members of the firebird group) keeps it, so that their
// embedded engine and the server coordinate on a database both open: engines with different lock
// folders would not see each other's locks.
//
// Programs call it first thing in main, before any thread starts (it changes the environment); the
// first use of the engine calls it too, for programs and tests that do not. Returns the folder it set,
// empty when it left the environment as it was.
QString chooseEmbeddedLockFolder();

// The decision above with its inputs given, for tests: `sharedFolder` stands for /tmp/firebird.
QString chooseEmbeddedLockFolder(const QString& sharedFolder);

} // namespace vestrel::fb
