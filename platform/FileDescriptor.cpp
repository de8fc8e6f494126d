#include "platform/FileDescriptor.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace vestrel {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        reset();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

FileDescriptor FileDescriptor::openForReading(const char* nativePath, QString* error) {
    const int fd = ::open(nativePath, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 && error)
        *error = qt_error_string(errno);
    return FileDescriptor(fd);
}

void FileDescriptor::reset() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

std::int64_t FileDescriptor::readAt(std::uint64_t offset, void* out, std::size_t length) const {
    auto* bytes = static_cast<char*>(out);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::pread(m_fd, bytes + done, length - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break; // end of file
        done += std::size_t(n);
    }
    return std::int64_t(done);
}

} // namespace vestrel
