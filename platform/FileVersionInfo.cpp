#include "platform/FileVersionInfo.h"

#include "platform/Cp1252.h"
#include "platform/ElfSection.h"
#include "platform/ProgramDir.h"
#include "platform/ResourceLibrary.h"
#include "platform/VersionBlock.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QtEndian>

#include <algorithm>

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
    const QFileInfo info(path);
    if (!info.isFile()) {
        if (!info.exists())
            return failed(VersionResourceRead::Status::Unreadable, u"no such file"_s);
        if (info.isDir())
            return failed(VersionResourceRead::Status::Unreadable, u"is a directory"_s);
        return failed(VersionResourceRead::Status::Unreadable, u"not a regular file"_s);
    }
    auto opened = std::make_unique<QFile>(path);
    if (!opened->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return failed(VersionResourceRead::Status::Unreadable, opened->errorString());
    // PE files of others can be large: only the pages the lookup needs are read.
    if (const auto pe = PeResources::fromFileOnDemand(std::move(opened), RT_VERSION_TYPE))
        return fromPe(pe);

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failed(VersionResourceRead::Status::Unreadable, file.errorString());
    char magic[4] = {};
    const qint64 got = file.read(magic, sizeof magic);
    if (got < 0)
        return failed(VersionResourceRead::Status::Unreadable, file.errorString());
    if (!isElfImage(QByteArrayView(magic, got)))
        return fromPe(std::nullopt);
    // Our own programs: the section table lies at the end, so the file is mapped.
    const qint64 size = file.size();
    if (const uchar* mapped = file.map(0, size)) {
        VersionResourceRead result = fromElf(QByteArrayView(mapped, size));
        file.unmap(const_cast<uchar*>(mapped));
        return result;
    }
    file.seek(0);
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return failed(VersionResourceRead::Status::Unreadable, file.errorString());
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
