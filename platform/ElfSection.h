#pragma once

#include <QByteArrayView>

#include <cstdint>
#include <functional>
#include <optional>

namespace vestrel {

// Whether the bytes start like an ELF file (program, shared library or object).
bool isElfImage(QByteArrayView image);

// Where a section's contents lie in an ELF file, clamped to the file.
struct ElfSectionPlace {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};
// Copies [offset, offset + length) of the file to `out`; false when the range is not all there.
using ElfRead = std::function<bool(std::uint64_t offset, std::uint64_t length, char* out)>;

// The place of the section called `name` in an ELF file of `fileSize` bytes (32 or 64 bits, either byte
// order) read through `read`, which is asked only for the header, the section headers and the names
// it compares: never for the whole file. nullopt when the file is no ELF file or has no such section
// with contents.
std::optional<ElfSectionPlace> findElfSection(const ElfRead& read, std::uint64_t fileSize, QByteArrayView name);

// The contents of the section called `name` in an ELF image; nullopt as above. The view points into
// `image` and is clamped to it: a section header pointing past the end gives what the file holds.
std::optional<QByteArrayView> elfSection(QByteArrayView image, QByteArrayView name);

} // namespace vestrel
