#pragma once

#include <QString>

namespace vestrel {

// An exclusive advisory lock on a file that its writers replace by renaming a new file over it.
//
// The constructor waits in the kernel's queue until no other holder is left, so writers take turns
// in order instead of polling, and a holder that dies releases the lock with its last descriptor.
// The lock is on the file itself, no lock file is left beside it: when another writer replaced the
// file while we waited, the new file is locked instead. A missing file is created empty to be locked.
// Only processes that take this lock are held back; readers are not.
class FileLock {
public:
    enum class Wait { UntilFree, No };

    // With Wait::No the constructor gives up at once when another process holds the lock: isLocked()
    // is false and heldElsewhere() true.
    explicit FileLock(const QString& path, Wait wait = Wait::UntilFree);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool isLocked() const { return m_fd >= 0; }
    bool heldElsewhere() const { return m_heldElsewhere; }
    QString errorString() const { return m_error; }

    // For a writer that ended up changing nothing: removes the empty file the lock created.
    void removeIfCreated();

private:
    QString m_path;
    QString m_error;
    int m_fd = -1;
    bool m_created = false;
    bool m_heldElsewhere = false;
};

} // namespace vestrel
