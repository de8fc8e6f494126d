// Feeds arbitrary bytes to the version reader: as a whole file (PE or ELF) when the first byte is
// even, else as a version block, and asks what verinfo and the components ask.
#include "platform/FileVersionInfo.h"
#include "platform/VersionBlock.h"
#include "versioninfo/VersionReport.h"

#include <cstdint>

using namespace vestrel;

namespace {

// Visits every node the way a reader of all tables would, four levels deep at most.
void walk(const VersionNode& node, int depth) {
    node.text();
    if (depth >= 4)
        return;
    for (const VersionNode& child : node.children())
        walk(child, depth + 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const QByteArray rest(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    QByteArray block = rest;
    if (data[0] % 2 == 0) {
        const VersionResourceRead read = readVersionResourceFromImage(rest);
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
