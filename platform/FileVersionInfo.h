#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QLocale>
#include <QString>

#include <cstdint>
#include <optional>

namespace vestrel {

// The name of the ELF section that carries the version block of our own Linux programs and
// libraries: the same bytes as a Windows version resource.
inline constexpr char kElfVersionSection[] = ".version_info";

// What reading a file's version block found.
struct VersionResourceRead {
    enum class Status {
        Found,         // `block` holds the version block
        NoVersionInfo, // a program file (PE or ELF) without one
        NotAProgram,   // readable, but neither a PE nor an ELF file, or a PE file Windows would not load
        Unreadable,    // missing, a directory or another special file, or not readable
    };
    Status status = Status::Unreadable;
    QByteArray block;
    QString error; // for NotAProgram and Unreadable: why, in words
};

// Reads the version block of `path` as given (no Windows path conversion): RT_VERSION resource 1
// of a PE32 or PE32+ file, else its first version resource; the version section of an ELF file.
// Of a resource held in several languages, the one the Windows loader gives a user of `locale`'s
// language (see loaderLanguageChoice). Only the parts of the file the lookup needs are read, never
// the whole file. The path is a file name as decodeFileName gives it, or the file system's bytes.
VersionResourceRead readVersionResource(const QString& path, const QLocale& locale = QLocale());
VersionResourceRead readVersionResource(const QByteArray& nativePath, const QLocale& locale = QLocale());
// The same for the bytes of a whole file.
VersionResourceRead readVersionResourceFromImage(QByteArrayView image, const QLocale& locale = QLocale());

// The version-query functions of the platform, for our own programs and PE files of any origin.
// File names may be written Windows-style ("\" separators). The language is the user's: QLocale()'s,
// which QLocale::setDefault changes.
//
// The size of the file's version information in bytes; 0 when it has none or cannot be read.
std::uint32_t GetFileVersionInfoSizeA(const QString& fileName);
// Reads at most `length` bytes of the file's version information into `data`. False when the file
// has none or cannot be read.
bool GetFileVersionInfoA(const QString& fileName, std::uint32_t length, QByteArray& data);

// What VerQueryValueA finds for a sub-block of a version block.
struct VersionValue {
    // "\": the fixed-file-info record; a binary value (such as "\VarFileInfo\Translation"): its
    // bytes; a text value: the string in cp1252, without its NUL.
    QByteArray data;
    // As the platform reports it: bytes for the root and binary values; for a text value its
    // characters with the NUL, 0 when the node stores no value at all.
    std::uint32_t length = 0;
};
// Looks `subBlock` ("\", "\VarFileInfo\Translation", "\StringFileInfo\040904E4\CompanyName") up in
// `block`, comparing keys without regard to case. nullopt when no such node exists.
std::optional<VersionValue> VerQueryValueA(QByteArrayView block, const QByteArray& subBlock);

} // namespace vestrel
