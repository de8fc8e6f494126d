#include "backup/FileCopy.h"

#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace vestrel {

namespace {

QString systemText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Moves every byte from `in` to `out`; the kernel copies without a trip through user space where it
// can, plain reads and writes otherwise. Returns 0 or the errno of the failure.
int copyBytes(int in, int out) {
    bool kernelCopy = true;
    for (;;) {
        if (kernelCopy) {
            const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
            if (copied > 0)
                continue;
            if (copied == 0)
                return 0;
            if (errno == EINTR)
                continue;
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
                return errno;
            kernelCopy = false; // not offered between these files: fall back to reads and writes
        }
        static constexpr size_t ChunkSize = 1 << 20;
        static thread_local char buffer[ChunkSize];
        const ssize_t got = ::read(in, buffer, ChunkSize);
        if (got == 0)
            return 0;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer + done, size_t(got - done));
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            done += put;
        }
    }
}

} // namespace

QString CopyFileAtomically(const QString& source, const QString& destination) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return in.errorString();
    QSaveFile out(destination);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return out.errorString();
    if (const int error = copyBytes(in.handle(), out.handle())) {
        out.cancelWriting();
        return systemText(error);
    }
    if (::fsync(out.handle()) != 0) {
        const int error = errno;
        out.cancelWriting();
        return systemText(error);
    }
    if (!out.commit())
        return out.errorString();
    return {};
}

} // namespace vestrel
