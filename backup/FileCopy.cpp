#include "backup/FileCopy.h"

#include "backup/BackupLogging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace vestrel::backup {

namespace {

constexpr auto TemporaryMarker = ".part-"_L1;
constexpr int TemporarySuffixLength = 6;
constexpr auto SuffixCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"_L1;
// Bytes per kernel copy call; see streamOut.
constexpr ssize_t CopyChunk = ssize_t(32) << 20;
constexpr size_t BufferSize = size_t(1) << 20;
// The longest file name most file systems take (NAME_MAX).
constexpr qsizetype MaxFileNameBytes = 255;

QString systemText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// A file descriptor closed when it goes out of scope.
class FileHandle {
public:
    explicit FileHandle(int fd = -1)
        : m_fd(fd) {}
    ~FileHandle() { reset(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    void reset(int fd = -1) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

enum class Lock { Taken, HeldElsewhere, Unsupported };

Lock lockExclusively(int fd) {
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        return errno == EWOULDBLOCK ? Lock::HeldElsewhere : Lock::Unsupported;
    }
    return Lock::Taken;
}

// Removes the temporary files of copies to `destination` whose process died: a live copy holds its
// file locked, so only files whose lock can be taken go. Where the file system offers no locks nothing
// is removed, as a live copy could not be told from a dead one.
void removeStaleTemporaries(const QString& destination) {
    const QFileInfo target(destination);
    const QDir folder = target.dir();
    const QStringList entries = folder.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& entry : entries) {
        if (!IsCopyTemporaryName(entry, target.fileName()))
            continue;
        const QByteArray path = QFile::encodeName(folder.filePath(entry));
        // Opened for writing: network file systems grant an exclusive lock only to a writer.
        FileHandle file(::open(path.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        struct stat info {};
        if (!file.isOpen() || ::fstat(file.get(), &info) != 0) {
            const int error = errno;
            if (error != ENOENT)
                qCWarning(lcBackup).noquote()
                    << "cannot check the temporary file" << folder.filePath(entry) << ":" << systemText(error);
            continue;
        }
        if (!S_ISREG(info.st_mode) || lockExclusively(file.get()) != Lock::Taken)
            continue;
        const int error = ::unlink(path.constData()) == 0 ? 0 : errno;
        if (error == 0)
            qCInfo(lcBackup).noquote() << "removed" << folder.filePath(entry) << "left by an interrupted copy";
        else if (error != ENOENT)
            qCWarning(lcBackup).noquote() << "cannot remove" << folder.filePath(entry) << ":" << systemText(error);
    }
}

QByteArray randomSuffix() {
    QByteArray suffix(TemporarySuffixLength, '\0');
    for (char& c : suffix)
        c = SuffixCharacters.at(QRandomGenerator::global()->bounded(int(SuffixCharacters.size()))).toLatin1();
    return suffix;
}

// The temporary name for `destination`: its file name, shortened where needed so that the whole name
// stays within the file system's limit, the marker and a random suffix.
QByteArray shortenedName(const QString& fileName) {
    QByteArray name = QFile::encodeName(fileName);
    const qsizetype room = MaxFileNameBytes - TemporaryMarker.size() - TemporarySuffixLength;
    if (name.size() > room)
        name.truncate(room);
    return name;
}

QByteArray temporaryName(const QString& destination) {
    const QFileInfo target(destination);
    return QFile::encodeName(target.dir().path()) + '/' + shortenedName(target.fileName()) + TemporaryMarker.latin1() +
           randomSuffix();
}

// Creates a new temporary file beside `destination` and locks it. Returns 0 or the errno.
int createTemporary(const QString& destination, FileHandle& file, QByteArray& path) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = temporaryName(destination);
        file.reset(::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (!file.isOpen()) {
            if (errno == EEXIST || errno == EINTR)
                continue;
            return errno;
        }
        // Between our open and our lock another copy may have taken the new file for a dead one's:
        // it removes it, and we start over with another name.
        if (lockExclusively(file.get()) == Lock::HeldElsewhere)
            continue;
        struct stat info {};
        if (::fstat(file.get(), &info) != 0)
            return errno;
        if (info.st_nlink > 0)
            return 0;
    }
    file.reset();
    return EEXIST;
}

// Hands the range [start, end) just written to the disk at once, then waits for the range written
// before it, [waited, start), and drops that from memory: the copy writes while it reads instead of
// piling up dirty pages for the final flush, and a backup nobody reads soon does not push the office's
// working files out of memory. Only hints: where they are ignored the final fsync writes everything.
void streamOut(int out, off_t waited, off_t start, off_t end) {
    ::sync_file_range(out, start, end - start, SYNC_FILE_RANGE_WRITE);
    if (start > waited) {
        ::sync_file_range(out, waited, start - waited,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
        ::posix_fadvise(out, waited, start - waited, POSIX_FADV_DONTNEED);
    }
}

// Moves every byte from `in` to `out`; the kernel copies without a trip through user space where it
// can, plain reads and writes otherwise. Returns 0 or the errno of the failure.
int copyBytes(int in, int out) {
    bool kernelCopy = true;
    off_t written = 0;
    off_t waited = 0;
    for (;;) {
        ssize_t copied = 0;
        if (kernelCopy) {
            copied = ::copy_file_range(in, nullptr, out, nullptr, size_t(CopyChunk), 0);
            if (copied < 0) {
                if (errno == EINTR)
                    continue;
                if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
                    return errno;
                kernelCopy = false; // not offered between these files: fall back to reads and writes
                continue;
            }
        } else {
            static thread_local char buffer[BufferSize];
            copied = ::read(in, buffer, BufferSize);
            if (copied < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            for (ssize_t done = 0; done < copied;) {
                const ssize_t put = ::write(out, buffer + done, size_t(copied - done));
                if (put < 0) {
                    if (errno == EINTR)
                        continue;
                    return errno;
                }
                done += put;
            }
        }
        if (copied == 0)
            return 0;
        streamOut(out, waited, written, written + copied);
        waited = written;
        written += copied;
    }
}

// Flushes the folder holding `path`, so that a rename in it survives a power failure. File systems
// that cannot flush a folder say EINVAL; the rename is then as durable as they make it.
int syncFolderOf(const QString& path) {
    FileHandle folder(
        ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isOpen())
        return errno;
    if (::fsync(folder.get()) != 0 && errno != EINVAL)
        return errno;
    return 0;
}

// Fills the open temporary file with the source's bytes and the old destination's permissions, and
// flushes it to disk. Returns 0 or the errno.
int fillTemporary(int in, const struct stat& sourceInfo, int out, const QByteArray& destinationPath) {
    ::posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
    // Reserve the space at once: a full disk fails here rather than after most of the copy, and the
    // file gets few large extents. KEEP_SIZE: a source that shrinks meanwhile leaves no zero tail.
    if (sourceInfo.st_size > 0 && ::fallocate(out, FALLOC_FL_KEEP_SIZE, 0, sourceInfo.st_size) != 0 &&
        errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL)
        return errno;
    if (const int error = copyBytes(in, out))
        return error;
    // Run as the superuser, the copy keeps the database's owner, so that the database server may open
    // it as it opens the database.
    if (::geteuid() == 0 && ::fchown(out, sourceInfo.st_uid, sourceInfo.st_gid) != 0)
        return errno;
    // The new backup gets the permissions the administrator gave the old one.
    struct stat previous {};
    if (::stat(destinationPath.constData(), &previous) == 0 && ::fchmod(out, previous.st_mode & 07777) != 0)
        return errno;
    if (::fsync(out) != 0)
        return errno;
    return 0;
}

} // namespace

bool IsCopyTemporaryName(const QString& fileName, const QString& destinationName) {
    const qsizetype stem = fileName.size() - TemporarySuffixLength - TemporaryMarker.size();
    return IsTemporaryName(fileName) && QFile::encodeName(fileName.first(stem)) == shortenedName(destinationName);
}

bool IsTemporaryName(const QString& fileName) {
    const qsizetype stem = fileName.size() - TemporarySuffixLength - TemporaryMarker.size();
    if (stem <= 0 || QStringView(fileName).sliced(stem, TemporaryMarker.size()) != TemporaryMarker)
        return false;
    const QStringView suffix = QStringView(fileName).sliced(stem + TemporaryMarker.size());
    return std::all_of(suffix.begin(), suffix.end(), [](QChar c) { return SuffixCharacters.contains(c); });
}

QString TemporaryNameFor(const QString& destination) {
    return QFile::decodeName(temporaryName(destination));
}

struct PendingCopy::Private {
    FileHandle out;
    QByteArray temporary;
    QString destination;
    QString error;
    bool committed = false;
};

PendingCopy::PendingCopy(const QString& source, const QString& destination)
    : d(std::make_unique<Private>()) {
    d->destination = destination;
    FileHandle in(::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC));
    struct stat sourceInfo {};
    if (!in.isOpen() || ::fstat(in.get(), &sourceInfo) != 0) {
        d->error = systemText(errno);
        return;
    }
    if (S_ISDIR(sourceInfo.st_mode)) {
        d->error = systemText(EISDIR);
        return;
    }
    removeStaleTemporaries(destination);
    if (const int error = createTemporary(destination, d->out, d->temporary)) {
        d->temporary.clear();
        d->error = systemText(error);
        return;
    }
    if (const int error = fillTemporary(in.get(), sourceInfo, d->out.get(), QFile::encodeName(destination))) {
        d->error = systemText(error);
        ::unlink(d->temporary.constData());
        d->temporary.clear();
    }
}

PendingCopy::~PendingCopy() {
    if (!d->committed && !d->temporary.isEmpty())
        ::unlink(d->temporary.constData());
}

QString PendingCopy::error() const {
    return d->error;
}

QString PendingCopy::temporaryPath() const {
    return QFile::decodeName(d->temporary);
}

void PendingCopy::unlock() {
    d->out.reset();
}

QString PendingCopy::commit() {
    if (!d->error.isEmpty())
        return d->error;
    if (std::rename(d->temporary.constData(), QFile::encodeName(d->destination).constData()) != 0)
        return systemText(errno);
    d->committed = true;
    d->out.reset();
    if (const int folderError = syncFolderOf(d->destination))
        return systemText(folderError);
    return {};
}

QString CopyFileAtomically(const QString& source, const QString& destination) {
    PendingCopy copy(source, destination);
    if (!copy.error().isEmpty())
        return copy.error();
    return copy.commit();
}

} // namespace vestrel::backup
