#include "platform/ElfSection.h"

#include <QByteArray>
#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace vestrel {

namespace {

constexpr std::uint32_t kNoBits = 8; // SHT_NOBITS: the section takes no room in the file
constexpr std::uint64_t kHeaderSize = 0x40;
// A section header table up to this size is read in one go; a larger (crafted) one entry by entry.
constexpr std::uint64_t kTableReadAtOnce = 256 * 1024;

template <typename T> std::uint64_t field(const char* at, bool bigEndian) {
    return bigEndian ? qFromBigEndian<T>(at) : qFromLittleEndian<T>(at);
}

} // namespace

bool isElfImage(QByteArrayView image) {
    return image.size() >= 4 && std::memcmp(image.data(),
                                            "\x7F"
                                            "ELF",
                                            4) == 0;
}

std::optional<ElfSectionPlace> findElfSection(const ElfRead& read, std::uint64_t fileSize, QByteArrayView name) {
    char elf[kHeaderSize];
    if (fileSize < kHeaderSize || !read(0, kHeaderSize, elf) || !isElfImage(QByteArrayView(elf, kHeaderSize)))
        return std::nullopt;
    const char elfClass = elf[4];
    const char byteOrder = elf[5];
    if ((elfClass != 1 && elfClass != 2) || (byteOrder != 1 && byteOrder != 2))
        return std::nullopt;
    const bool wide = elfClass == 2;
    const bool big = byteOrder == 2;
    const auto u16 = [&](const char* at) {
        return field<std::uint16_t>(at, big);
    };
    const auto u32 = [&](const char* at) {
        return field<std::uint32_t>(at, big);
    };
    const auto u64 = [&](const char* at) {
        return field<std::uint64_t>(at, big);
    };

    const std::uint64_t tableOffset = wide ? u64(elf + 0x28) : u32(elf + 0x20);
    const std::uint64_t entrySize = u16(elf + (wide ? 0x3A : 0x2E));
    const std::uint64_t count = u16(elf + (wide ? 0x3C : 0x30));
    const std::uint64_t namesIndex = u16(elf + (wide ? 0x3E : 0x32));
    const std::uint64_t minimumEntry = wide ? 64 : 40;
    if (entrySize < minimumEntry || namesIndex >= count)
        return std::nullopt;
    const auto within = [&](std::uint64_t offset, std::uint64_t length) {
        return offset <= fileSize && length <= fileSize - offset;
    };

    // The table in one read when it is of a sane size and all in the file.
    QByteArray table;
    const std::uint64_t tableSize = count * entrySize;
    if (tableSize <= kTableReadAtOnce && within(tableOffset, tableSize)) {
        table.resize(qsizetype(tableSize));
        if (!read(tableOffset, tableSize, table.data()))
            table.clear();
    }
    struct Header {
        std::uint64_t name, type, offset, size;
    };
    const auto header = [&](std::uint64_t index) -> std::optional<Header> {
        char entry[64];
        const char* at = entry;
        if (!table.isEmpty()) {
            at = table.constData() + index * entrySize;
        } else {
            const std::uint64_t offset = tableOffset + index * entrySize;
            if (!within(offset, minimumEntry) || !read(offset, minimumEntry, entry))
                return std::nullopt;
        }
        if (wide)
            return Header{u32(at), u32(at + 4), u64(at + 24), u64(at + 32)};
        return Header{u32(at), u32(at + 4), u32(at + 16), u32(at + 20)};
    };
    // The part of the file a section holds, clamped to the file.
    const auto contents = [&](const Header& h) -> ElfSectionPlace {
        if (h.type == kNoBits || h.offset >= fileSize)
            return {};
        return ElfSectionPlace{h.offset, std::min(h.size, fileSize - h.offset)};
    };

    const auto names = header(namesIndex);
    if (!names)
        return std::nullopt;
    const ElfSectionPlace nameTable = contents(*names);
    // A section's name matches when the table holds `name` and its NUL at the section's name offset.
    QByteArray wanted(name.data(), name.size());
    wanted.append('\0');
    QByteArray candidate(wanted.size(), Qt::Uninitialized);
    for (std::uint64_t i = 0; i < count; ++i) {
        const auto h = header(i);
        if (!h)
            break;
        if (h->name >= nameTable.size || std::uint64_t(wanted.size()) > nameTable.size - h->name)
            continue;
        if (!read(nameTable.offset + h->name, std::uint64_t(wanted.size()), candidate.data()) || candidate != wanted)
            continue;
        const ElfSectionPlace data = contents(*h);
        if (data.size == 0)
            return std::nullopt;
        return data;
    }
    return std::nullopt;
}

std::optional<QByteArrayView> elfSection(QByteArrayView image, QByteArrayView name) {
    const auto read = [image](std::uint64_t offset, std::uint64_t length, char* out) {
        const auto size = std::uint64_t(image.size());
        if (offset > size || length > size - offset)
            return false;
        std::memcpy(out, image.data() + offset, length);
        return true;
    };
    const auto place = findElfSection(read, std::uint64_t(image.size()), name);
    if (!place)
        return std::nullopt;
    return image.sliced(qsizetype(place->offset), qsizetype(place->size));
}

} // namespace vestrel
