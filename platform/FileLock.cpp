#include "platform/FileLock.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vestrel {

FileLock::FileLock(const QString& path, Wait wait)
    : m_path(path) {
    const QByteArray name = QFile::encodeName(path);
    for (;;) {
        bool created = false;
        int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 && errno == EEXIST)
                continue; // another writer made it first
            created = fd >= 0;
        }
        if (fd < 0) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            return;
        }
        int locked;
        do {
            locked = ::flock(fd, wait == Wait::No ? LOCK_EX | LOCK_NB : LOCK_EX);
        } while (locked != 0 && errno == EINTR);
        if (locked != 0 && errno == EWOULDBLOCK) {
            m_heldElsewhere = true;
            ::close(fd);
            return;
        }
        if (locked != 0) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            ::close(fd);
            return;
        }
        struct stat held;
        struct stat current;
        if (::fstat(fd, &held) == 0 && ::stat(name.constData(), &current) == 0 && held.st_dev == current.st_dev &&
            held.st_ino == current.st_ino) {
            m_fd = fd;
            m_created = created;
            return;
        }
        // Replaced or removed while we waited: the file now at the path is the one to lock.
        ::close(fd);
    }
}

FileLock::~FileLock() {
    if (m_fd >= 0)
        ::close(m_fd);
}

void FileLock::removeIfCreated() {
    struct stat held;
    if (m_fd >= 0 && m_created && ::fstat(m_fd, &held) == 0 && held.st_size == 0)
        ::unlink(QFile::encodeName(m_path).constData());
    m_created = false;
}

} // namespace vestrel
