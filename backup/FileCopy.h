#pragma once

#include <QString>

namespace vestrel::backup {

// Copies `source` over `destination` without ever leaving a half-written destination: the bytes go to
// a temporary file "<destination>.part-XXXXXX" (six letters or digits) in the destination's folder,
// which is flushed to disk and then renamed over the old file; the folder is flushed after the rename.
// The new file keeps the permissions of the file it replaces. On failure the previous destination is
// untouched, the temporary file is removed, and the result is the system's text for the failure; an
// empty result means success.
//
// A copy holds an exclusive lock on its temporary file for as long as it writes it. Before it starts,
// a copy removes the temporary files of the same destination that nobody holds locked: those of copies
// whose process was killed. Files of other names are never touched.
QString CopyFileAtomically(const QString& source, const QString& destination);

// Whether `fileName` (a name without folder) has the form of a temporary file of a copy to the file
// named `destinationName` in the same folder.
bool IsCopyTemporaryName(const QString& fileName, const QString& destinationName);

} // namespace vestrel::backup
