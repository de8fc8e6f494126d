#include "platform/FileVersionInfo.h"

#include "platform/Cp1252.h"
#include "platform/ElfSection.h"
#include "platform/FileDescriptor.h"
#include "platform/ProgramDir.h"
#include "platform/ResourceLibrary.h"
#include "platform/VersionBlock.h"

#include <QFile>
#include <QLoggingCategory>
#include <QtEndian>

#include <algorithm>
#include <cerrno>

#include <sys/mman.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace vestrel {

namespace {

Q_LOGGING_CATEGORY(lcVersionInfo, "vestrel.platform.versioninfo")

constexpr std::uint16_t kVersionResourceId = 1;

VersionResourceRead failed(VersionResourceRead::Status status, QString error) {
    VersionResourceRead result;
    result.status = status;
    result.error = std::move(error);
    return result;
}

// A copy that owns its bytes: the image it came from is unmapped afterwards.
VersionResourceRead found(QByteArrayView block) {
    VersionResourceRead result;
    if (block.isEmpty()) {
        result.status = VersionResourceRead::Status::NoVersionInfo;
        return result;
    }
    result.status = VersionResourceRead::Status::Found;
    result.block = QByteArray(block.data(), block.size());
    return result;
}

} // namespace

namespace {

VersionResourceRead fromElf(QByteArrayView image) {
    QByteArrayView section = elfSection(image, kElfVersionSection).value_or(QByteArrayView());
    // The section may be padded (sanitizers add room after globals); the block says its length.
    if (section.size() >= 2) {
        const auto length = qFromLittleEndian<std::uint16_t>(section.data());
        if (length > 0 && length < section.size())
            section.truncate(length);
    }
    return found(section);
}

VersionResourceRead fromPe(const std::optional<PeResources>& pe) {
    if (!pe)
        return failed(VersionResourceRead::Status::NotAProgram, u"not a PE or ELF program file"_s);
    auto block = pe->find(RT_VERSION_TYPE, kVersionResourceId);
    if (!block)
        block = pe->first(RT_VERSION_TYPE);
    return found(block ? QByteArrayView(*block) : QByteArrayView());
}

} // namespace

VersionResourceRead readVersionResourceFromImage(QByteArrayView image) {
    if (isElfImage(image))
        return fromElf(image);
    // The PE reader works on a QByteArray; this one borrows the bytes and lives only here.
    return fromPe(PeResources::fromBytes(QByteArray::fromRawData(image.data(), image.size())));
}

VersionResourceRead readVersionResource(const QString& path) {
    // Only regular files are opened: a pipe or a device would block or never end.
    const QByteArray nativePath = QFile::encodeName(path);
    struct stat info {};
    if (::stat(nativePath.constData(), &info) != 0)
        return failed(VersionResourceRead::Status::Unreadable, u"no such file"_s);
    if (S_ISDIR(info.st_mode))
        return failed(VersionResourceRead::Status::Unreadable, u"is a directory"_s);
    if (!S_ISREG(info.st_mode))
        return failed(VersionResourceRead::Status::Unreadable, u"not a regular file"_s);
    QString error;
    auto file = std::make_shared<FileDescriptor>(FileDescriptor::openForReading(nativePath.constData(), &error));
    if (!file->isOpen())
        return failed(VersionResourceRead::Status::Unreadable, error);
    const auto size = std::uint64_t(info.st_size);
    // PE files of others can be large: only the pages the lookup needs are read.
    if (const auto pe = PeResources::fromFileOnDemand(file, size, RT_VERSION_TYPE))
        return fromPe(pe);

    char magic[4] = {};
    const std::int64_t got = file->readAt(0, magic, sizeof magic);
    if (got < 0)
        return failed(VersionResourceRead::Status::Unreadable, qt_error_string(errno));
    if (!isElfImage(QByteArrayView(magic, got)))
        return fromPe(std::nullopt);
    // Our own programs: the section table lies at the end, so the file is mapped.
    if (void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file->get(), 0); mapped != MAP_FAILED) {
        VersionResourceRead result = fromElf(QByteArrayView(static_cast<const char*>(mapped), qsizetype(size)));
        ::munmap(mapped, size);
        return result;
    }
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    const std::int64_t read = file->readAt(0, bytes.data(), std::size_t(size));
    if (read < 0)
        return failed(VersionResourceRead::Status::Unreadable, qt_error_string(errno));
    bytes.truncate(qsizetype(read));
    return fromElf(bytes);
}

std::uint32_t GetFileVersionInfoSizeA(const QString& fileName) {
    const VersionResourceRead read = readVersionResource(localPath(fileName));
    if (read.status == VersionResourceRead::Status::Unreadable ||
        read.status == VersionResourceRead::Status::NotAProgram)
        qCDebug(lcVersionInfo) << "no version information in" << fileName << ':' << read.error;
    return std::uint32_t(read.block.size());
}

bool GetFileVersionInfoA(const QString& fileName, std::uint32_t length, QByteArray& data) {
    const VersionResourceRead read = readVersionResource(localPath(fileName));
    if (read.status != VersionResourceRead::Status::Found)
        return false;
    data = read.block.left(qsizetype(std::min<std::uint64_t>(length, std::uint64_t(read.block.size()))));
    return true;
}

std::optional<VersionValue> VerQueryValueA(QByteArrayView block, const QByteArray& subBlock) {
    const auto node = findVersionNode(block, cp1252::toUnicode(subBlock));
    if (!node)
        return std::nullopt;
    VersionValue result;
    if (node->isText) {
        const QString text = node->text();
        result.data = cp1252::fromUnicode(text);
        result.length = node->valueLength == 0 ? 0 : std::uint32_t(text.size() + 1);
    } else {
        result.data = QByteArray(node->value.data(), node->value.size());
        result.length = std::uint32_t(node->value.size());
    }
    return result;
}

} // namespace vestrel
