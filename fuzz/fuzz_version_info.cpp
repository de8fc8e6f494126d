// Feeds arbitrary bytes to the version reader: as a whole file (PE or ELF) when the first byte is
// even, else as a version block, and asks what verinfo and the components ask. A whole file is also
// read the way verinfo reads files, in pieces from disk, and must give the same block.
#include "platform/FileVersionInfo.h"
#include "platform/VersionBlock.h"
#include "versioninfo/VersionReport.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

#include <sys/mman.h>
#include <unistd.h>

using namespace vestrel;
using namespace vestrel::versioninfo;

namespace {

// Visits every node the way a reader of all tables would, four levels deep at most.
void walk(const VersionNode& node, int depth) {
    node.text();
    if (depth >= 4)
        return;
    for (const VersionNode& child : node.children())
        walk(child, depth + 1);
}

// A file in memory with a path, rewritten for each input.
class MemoryFile {
public:
    MemoryFile()
        : m_fd(memfd_create("fuzz_version_info", MFD_CLOEXEC)) {}
    ~MemoryFile() {
        if (m_fd >= 0)
            close(m_fd);
    }
    bool write(const QByteArray& bytes) const {
        return m_fd >= 0 && ftruncate(m_fd, 0) == 0 &&
               pwrite(m_fd, bytes.constData(), std::size_t(bytes.size()), 0) == bytes.size();
    }
    QString path() const { return QStringLiteral("/proc/self/fd/%1").arg(m_fd); }

private:
    int m_fd;
};

void compareWithFileOnDisk(const QByteArray& image, const VersionResourceRead& fromImage) {
    static const MemoryFile file;
    if (!file.write(image))
        return;
    const VersionResourceRead fromDisk = readVersionResource(file.path());
    if (fromDisk.status != fromImage.status || fromDisk.block != fromImage.block)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const QByteArray rest(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    QByteArray block = rest;
    if (data[0] % 2 == 0) {
        const VersionResourceRead read = readVersionResourceFromImage(rest);
        compareWithFileOnDisk(rest, read);
        if (read.status != VersionResourceRead::Status::Found)
            return 0;
        block = read.block;
    }
    for (const char* path : {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040904E4\\CompanyName",
                             "\\StringFileInfo\\041004E4\\FileVersion", "\\StringFileInfo"})
        VerQueryValueA(block, path);
    if (const auto root = readVersionBlock(block))
        walk(*root, 0);
    reportJson(versionBlockReport(QStringLiteral("fuzz"), block));
    reportText(versionBlockReport(QStringLiteral("fuzz"), block));
    return 0;
}
