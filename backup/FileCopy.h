#pragma once

#include <QString>

#include <memory>

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

// The same copy in two steps, for a caller that checks or mends the new file before it replaces the
// old one: the constructor fills the temporary file (error() says why it could not), commit() renames
// it over the destination. A copy never committed removes its temporary file when it goes.
class PendingCopy {
public:
    PendingCopy(const QString& source, const QString& destination);
    ~PendingCopy();
    PendingCopy(const PendingCopy&) = delete;
    PendingCopy& operator=(const PendingCopy&) = delete;

    QString error() const;
    QString temporaryPath() const;
    // Closes the temporary file and gives up its lock, so that another program (the database server)
    // may open it. Only a caller that alone writes the folder (it holds the plan's lock) may do so:
    // an unlocked temporary file looks like a dead copy's.
    void unlock();
    // Empty on success, else the system's text for the failure.
    QString commit();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// A temporary name beside `destination` ("<name>.part-XXXXXX", the name shortened to fit the file
// system's limit), for files that another program (the database server) writes.
QString TemporaryNameFor(const QString& destination);

// Whether `fileName` has the form of any temporary file of a backup.
bool IsTemporaryName(const QString& fileName);

// Whether `fileName` (a name without folder) has the form of a temporary file of a copy to the file
// named `destinationName` in the same folder (a long name is shortened in its temporary name).
bool IsCopyTemporaryName(const QString& fileName, const QString& destinationName);

} // namespace vestrel::backup
