#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <utility>

namespace vestrel {

// An open file descriptor, closed with the object; it moves, it is not copied.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd)
        : m_fd(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept
        : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    // Opens a path in the file system's encoding (QFile::encodeName) for reading only. Should the path
    // name a pipe or a terminal, opening neither waits for a writer nor takes the terminal over. On
    // failure the object is not open and `error` (when given) says why, in the words Qt's file
    // classes use.
    static FileDescriptor openForReading(const char* nativePath, QString* error = nullptr);

    bool isOpen() const { return m_fd >= 0; }
    int get() const { return m_fd; }
    void reset();

    // Reads up to `length` bytes at `offset` (fewer at the end of the file), without moving the file
    // position: the count read, or -1 on an error.
    std::int64_t readAt(std::uint64_t offset, void* out, std::size_t length) const;

private:
    int m_fd = -1;
};

} // namespace vestrel
