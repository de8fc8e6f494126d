#include "platform/ElfSection.h"

#include <QtEndian>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace vestrel {

namespace {

constexpr std::uint32_t kNoBits = 8; // SHT_NOBITS: the section takes no room in the file

class ElfReader {
public:
    ElfReader(QByteArrayView image, bool bigEndian)
        : m_image(image)
        , m_bigEndian(bigEndian) {}

    bool has(std::uint64_t offset, std::uint64_t length) const {
        const auto size = std::uint64_t(m_image.size());
        return offset <= size && length <= size - offset;
    }
    std::uint64_t u16(std::uint64_t at) const { return read<std::uint16_t>(at); }
    std::uint64_t u32(std::uint64_t at) const { return read<std::uint32_t>(at); }
    std::uint64_t u64(std::uint64_t at) const { return read<std::uint64_t>(at); }

private:
    // The caller has checked the range.
    template <typename T> T read(std::uint64_t at) const {
        const char* p = m_image.data() + at;
        return m_bigEndian ? qFromBigEndian<T>(p) : qFromLittleEndian<T>(p);
    }
    QByteArrayView m_image;
    bool m_bigEndian;
};

} // namespace

bool isElfImage(QByteArrayView image) {
    return image.size() >= 4 && std::memcmp(image.data(),
                                            "\x7F"
                                            "ELF",
                                            4) == 0;
}

std::optional<QByteArrayView> elfSection(QByteArrayView image, QByteArrayView name) {
    if (!isElfImage(image) || image.size() < 0x40)
        return std::nullopt;
    const char elfClass = image[4];
    const char byteOrder = image[5];
    if ((elfClass != 1 && elfClass != 2) || (byteOrder != 1 && byteOrder != 2))
        return std::nullopt;
    const bool wide = elfClass == 2;
    const ElfReader r(image, byteOrder == 2);

    const std::uint64_t tableOffset = wide ? r.u64(0x28) : r.u32(0x20);
    const std::uint64_t entrySize = r.u16(wide ? 0x3A : 0x2E);
    const std::uint64_t count = r.u16(wide ? 0x3C : 0x30);
    const std::uint64_t namesIndex = r.u16(wide ? 0x3E : 0x32);
    const std::uint64_t minimumEntry = wide ? 64 : 40;
    if (entrySize < minimumEntry || namesIndex >= count)
        return std::nullopt;

    struct Header {
        std::uint64_t name, type, offset, size;
    };
    const auto header = [&](std::uint64_t index) -> std::optional<Header> {
        const std::uint64_t at = tableOffset + index * entrySize;
        if (!r.has(at, minimumEntry))
            return std::nullopt;
        if (wide)
            return Header{r.u32(at), r.u32(at + 4), r.u64(at + 24), r.u64(at + 32)};
        return Header{r.u32(at), r.u32(at + 4), r.u32(at + 16), r.u32(at + 20)};
    };
    // The part of the file a section holds, clamped to the file.
    const auto contents = [&](const Header& h) -> QByteArrayView {
        if (h.type == kNoBits || h.offset >= std::uint64_t(image.size()))
            return {};
        const std::uint64_t length = std::min<std::uint64_t>(h.size, std::uint64_t(image.size()) - h.offset);
        return image.sliced(qsizetype(h.offset), qsizetype(length));
    };

    const auto names = header(namesIndex);
    if (!names)
        return std::nullopt;
    const QByteArrayView nameTable = contents(*names);
    for (std::uint64_t i = 0; i < count; ++i) {
        const auto h = header(i);
        if (!h)
            break;
        if (h->name >= std::uint64_t(nameTable.size()))
            continue;
        const QByteArrayView rest = nameTable.sliced(qsizetype(h->name));
        const qsizetype nul = rest.indexOf('\0');
        if (nul < 0 || rest.first(nul) != name)
            continue;
        const QByteArrayView data = contents(*h);
        if (data.isEmpty())
            return std::nullopt;
        return data;
    }
    return std::nullopt;
}

} // namespace vestrel
