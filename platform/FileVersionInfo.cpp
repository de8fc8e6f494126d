#include "platform/FileVersionInfo.h"

#include "platform/Cp1252.h"
#include "platform/ElfSection.h"
#include "platform/FileDescriptor.h"
#include "platform/FileName.h"
#include "platform/ProgramDir.h"
#include "platform/ResourceLanguage.h"
#include "platform/ResourceLibrary.h"
#include "platform/VersionBlock.h"

#include <QLoggingCategory>
#include <QtEndian>

#include <algorithm>
#include <cerrno>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace vestrel {

namespace {

// Files without version information are common and no fault: their reasons show only when asked for
// (QT_LOGGING_RULES="vestrel.platform.versioninfo.debug=true").
Q_LOGGING_CATEGORY(lcVersionInfo, "vestrel.platform.versioninfo", QtInfoMsg)

constexpr std::uint16_t kVersionResourceId = 1;
// A version block says its length in 16 bits: no more of a section is ever read.
constexpr std::uint64_t kMaxVersionBlock = 0xFFFF;

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

// The version block at the start of an ELF section: the section may be padded (sanitizers add room after
// globals), and the block says its length.
QByteArrayView versionBlockOfSection(QByteArrayView section) {
    section.truncate(qsizetype(std::min<std::uint64_t>(std::uint64_t(section.size()), kMaxVersionBlock)));
    if (section.size() >= 2) {
        const auto length = qFromLittleEndian<std::uint16_t>(section.data());
        if (length > 0 && length < section.size())
            section.truncate(length);
    }
    return section;
}

VersionResourceRead fromElf(QByteArrayView image) {
    return found(versionBlockOfSection(elfSection(image, kElfVersionSection).value_or(QByteArrayView())));
}

// Reads the section's first bytes only: the block, never the rest of the file.
VersionResourceRead fromElfFile(const FileDescriptor& file, std::uint64_t size) {
    int readError = 0;
    const ElfRead read = [&](std::uint64_t offset, std::uint64_t length, char* out) {
        const std::int64_t got = file.readAt(offset, out, std::size_t(length));
        if (got < 0)
            readError = errno;
        return got == std::int64_t(length);
    };
    const auto place = findElfSection(read, size, kElfVersionSection);
    if (readError != 0)
        return failed(VersionResourceRead::Status::Unreadable, qt_error_string(readError));
    if (!place)
        return found(QByteArrayView());
    QByteArray section(qsizetype(std::min(place->size, kMaxVersionBlock)), Qt::Uninitialized);
    if (!read(place->offset, std::uint64_t(section.size()), section.data()))
        return failed(VersionResourceRead::Status::Unreadable, qt_error_string(readError ? readError : EIO));
    return found(versionBlockOfSection(section));
}

VersionResourceRead fromPe(const std::optional<PeResources>& pe, const QString& why, const QLocale& locale) {
    if (!pe)
        return failed(VersionResourceRead::Status::NotAProgram,
                      why.isEmpty() ? u"not a PE or ELF program file"_s : why);
    // Of several languages, the one the Windows loader would give this user.
    const std::vector<std::uint16_t> languages = pe->languages(RT_VERSION_TYPE, kVersionResourceId);
    std::optional<QByteArray> block;
    if (languages.size() > 1) {
        const auto chosen = loaderLanguageChoice(languages, windowsLanguageId(locale));
        block = pe->find(RT_VERSION_TYPE, kVersionResourceId, languages[*chosen]);
    } else {
        block = pe->find(RT_VERSION_TYPE, kVersionResourceId);
    }
    if (!block)
        block = pe->first(RT_VERSION_TYPE);
    return found(block ? QByteArrayView(*block) : QByteArrayView());
}

} // namespace

VersionResourceRead readVersionResourceFromImage(QByteArrayView image, const QLocale& locale) {
    if (isElfImage(image))
        return fromElf(image);
    // The PE reader works on a QByteArray; this one borrows the bytes and lives only here.
    QString why;
    const auto pe = PeResources::fromBytes(QByteArray::fromRawData(image.data(), image.size()), &why);
    return fromPe(pe, why, locale);
}

VersionResourceRead readVersionResource(const QString& path, const QLocale& locale) {
    return readVersionResource(encodeFileName(path), locale);
}

VersionResourceRead readVersionResource(const QByteArray& nativePath, const QLocale& locale) {
    // Only regular files are opened: a pipe or a device would block or never end.
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
    QString why;
    const auto pe = PeResources::fromFileOnDemand(file, size, RT_VERSION_TYPE, &why);
    if (pe)
        return fromPe(pe, why, locale);

    char magic[4] = {};
    const std::int64_t got = file->readAt(0, magic, sizeof magic);
    if (got < 0)
        return failed(VersionResourceRead::Status::Unreadable, qt_error_string(errno));
    // Our own programs: the header, the section table and the block are read, nothing else.
    if (isElfImage(QByteArrayView(magic, got)))
        return fromElfFile(*file, size);
    return fromPe(pe, why, locale);
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
