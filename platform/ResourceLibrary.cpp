#include "platform/ResourceLibrary.h"

#include "platform/FileDescriptor.h"
#include "platform/ProgramDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cstring>

#include <set>
#include <unordered_map>

using namespace Qt::StringLiterals;

namespace vestrel {

// Where the bytes of a PE file come from: a whole image in memory, or a file read page by page.
class PeImageSource {
public:
    virtual ~PeImageSource() = default;
    virtual std::uint64_t size() const = 0;
    // Copies [offset, offset + length) to `out`; false when the range is not all within the file.
    virtual bool read(std::uint64_t offset, std::uint64_t length, unsigned char* out) const = 0;

    // A hint that [offset, offset + length) will be read soon.
    virtual void prefetch(std::uint64_t offset, std::uint64_t length) const {
        Q_UNUSED(offset);
        Q_UNUSED(length);
    }

    // The bytes of [offset, offset + length); empty when the range is not all within the file.
    QByteArray bytes(std::uint64_t offset, std::uint64_t length) const {
        if (offset > size() || length > size() - offset)
            return QByteArray();
        QByteArray result(qsizetype(length), Qt::Uninitialized);
        if (!read(offset, length, reinterpret_cast<unsigned char*>(result.data())))
            return QByteArray();
        return result;
    }
};

namespace {

class MemorySource : public PeImageSource {
public:
    explicit MemorySource(QByteArray image)
        : m_image(std::move(image)) {}
    std::uint64_t size() const override { return std::uint64_t(m_image.size()); }
    bool read(std::uint64_t offset, std::uint64_t length, unsigned char* out) const override {
        if (offset > size() || length > size() - offset)
            return false;
        std::memcpy(out, m_image.constData() + offset, length);
        return true;
    }

private:
    QByteArray m_image;
};

// Reads a file in pages of 4 KiB, keeping the last few: the header, directory and data reads of a
// resource lookup touch a handful of pages of files that may be tens of megabytes. A small range
// known to be needed soon (a resource section of a few pages) is read in one go.
class PagedFileSource : public PeImageSource {
public:
    static constexpr std::uint64_t kPage = 4096;
    static constexpr std::uint64_t kMaxPrefetch = 16 * kPage;
    static constexpr std::size_t kKeptChunks = 32;

    PagedFileSource(std::shared_ptr<const FileDescriptor> file, std::uint64_t size)
        : m_file(std::move(file))
        , m_size(size) {}
    std::uint64_t size() const override { return m_size; }
    bool read(std::uint64_t offset, std::uint64_t length, unsigned char* out) const override {
        if (offset > m_size || length > m_size - offset)
            return false;
        if (length > kPage)
            return readFile(offset, length, out);
        while (length > 0) {
            const Chunk* chunk = chunkAt(offset);
            if (!chunk)
                return false;
            const std::uint64_t within = offset - chunk->start;
            const std::uint64_t n = std::min<std::uint64_t>(length, chunk->length - within);
            std::memcpy(out, chunk->bytes.get() + within, n);
            out += n;
            offset += n;
            length -= n;
        }
        return true;
    }
    void prefetch(std::uint64_t offset, std::uint64_t length) const override {
        if (offset >= m_size || length == 0 || length > kMaxPrefetch)
            return;
        const std::uint64_t start = offset - offset % kPage;
        const std::uint64_t end = std::min(offset + length, m_size);
        if (chunkAt(start, false) && chunkAt(end - 1, false))
            return;
        keep(start, end - start);
    }

private:
    // Bytes [start, start + length) of the file.
    struct Chunk {
        std::uint64_t start;
        std::uint64_t length;
        std::unique_ptr<unsigned char[]> bytes;
        bool holds(std::uint64_t offset) const { return offset >= start && offset - start < length; }
    };

    bool readFile(std::uint64_t offset, std::uint64_t length, unsigned char* out) const {
        return m_file->readAt(offset, out, length) == std::int64_t(length);
    }
    // The chunk that holds `offset`, read as its page when missing and `load` is set.
    const Chunk* chunkAt(std::uint64_t offset, bool load = true) const {
        // Reads of one structure fall in the chunk of the read before.
        if (m_last < m_chunks.size() && m_chunks[m_last].holds(offset))
            return &m_chunks[m_last];
        for (std::size_t i = 0; i < m_chunks.size(); ++i) {
            if (m_chunks[i].holds(offset)) {
                m_last = i;
                return &m_chunks[i];
            }
        }
        if (!load)
            return nullptr;
        const std::uint64_t start = offset - offset % kPage;
        return keep(start, std::min(kPage, m_size - start));
    }
    const Chunk* keep(std::uint64_t start, std::uint64_t length) const {
        Chunk chunk{start, length, std::make_unique_for_overwrite<unsigned char[]>(length)};
        if (!readFile(start, length, chunk.bytes.get()))
            return nullptr;
        if (m_chunks.size() >= kKeptChunks)
            m_chunks.erase(m_chunks.begin());
        m_chunks.push_back(std::move(chunk));
        m_last = m_chunks.size() - 1;
        return &m_chunks.back();
    }

    std::shared_ptr<const FileDescriptor> m_file;
    std::uint64_t m_size;
    mutable std::vector<Chunk> m_chunks;
    mutable std::size_t m_last = 0;
};

// Larger files are not read: no resource library comes near this.
constexpr qint64 kMaxImageSize = 512 * 1024 * 1024;
// The Windows loader refuses images with more sections than this; so do we, since a crafted count of
// 65 535 would otherwise be walked for every address the resources name.
constexpr std::uint16_t kMaxSections = 96;
// A directory walk reads at most this many entries, so crafted counts cannot make it crawl.
constexpr std::uint32_t kEntryBudget = 1u << 20;
constexpr std::uint32_t kHighBit = 0x80000000u;

// Little-endian reads that yield nothing past the end of the image.
class Reader {
public:
    explicit Reader(const PeImageSource& source)
        : m_source(source) {}
    std::uint64_t size() const { return m_source.size(); }
    bool has(std::uint64_t offset, std::uint64_t length) const { return offset <= size() && length <= size() - offset; }
    std::optional<std::uint16_t> u16(std::uint64_t offset) const {
        unsigned char b[2];
        if (!m_source.read(offset, 2, b))
            return std::nullopt;
        return std::uint16_t(b[0] | (b[1] << 8));
    }
    std::optional<std::uint32_t> u32(std::uint64_t offset) const {
        unsigned char b[4];
        if (!m_source.read(offset, 4, b))
            return std::nullopt;
        return le32(b);
    }
    // A record of N bytes in one read; nullopt when it does not lie all within the image.
    template <std::size_t N> std::optional<std::array<unsigned char, N>> record(std::uint64_t offset) const {
        std::array<unsigned char, N> bytes;
        if (!m_source.read(offset, N, bytes.data()))
            return std::nullopt;
        return bytes;
    }
    static std::uint32_t le32(const unsigned char* b) {
        return std::uint32_t(b[0]) | (std::uint32_t(b[1]) << 8) | (std::uint32_t(b[2]) << 16) |
               (std::uint32_t(b[3]) << 24);
    }

private:
    const PeImageSource& m_source;
};

struct Section {
    std::uint32_t virtualAddress;
    std::uint32_t virtualSize;
    std::uint32_t rawOffset;
    std::uint32_t rawSize;
};

struct Layout {
    std::vector<Section> sections;
    std::uint32_t resourceRva = 0;
    std::uint32_t resourceSize = 0;
};

// DOS header → PE signature → file header → optional header → section table. nullopt when the
// signatures are missing (the file is no PE file at all) or the loader would refuse the image; `why`
// then says which.
std::optional<Layout> readLayout(const Reader& r, QString* why) {
    const auto refuse = [&](QString reason) -> std::optional<Layout> {
        if (why)
            *why = std::move(reason);
        return std::nullopt;
    };
    const QString notPe = u"not a PE or ELF program file"_s;
    if (r.u16(0) != 0x5A4D) // "MZ"
        return refuse(notPe);
    const auto peOffset = r.u32(0x3C);
    if (!peOffset || r.u32(*peOffset) != 0x00004550) // "PE\0\0"
        return refuse(notPe);
    const std::uint64_t fileHeader = std::uint64_t(*peOffset) + 4;
    const auto sectionCount = r.u16(fileHeader + 2);
    const auto optionalSize = r.u16(fileHeader + 16);
    if (!sectionCount || !optionalSize)
        return refuse(notPe);
    if (*sectionCount > kMaxSections)
        return refuse(
            u"a PE file with %1 sections, more than the %2 Windows loads"_s.arg(*sectionCount).arg(kMaxSections));
    const std::uint64_t optional = fileHeader + 20;

    Layout layout;
    const auto magic = r.u16(optional);
    std::uint64_t countField = 0;
    if (magic == 0x10B)
        countField = 92; // PE32
    else if (magic == 0x20B)
        countField = 108; // PE32+
    if (countField != 0) {
        const std::uint64_t directories = countField + 4;
        const auto count = r.u32(optional + countField);
        const std::uint64_t resourceEntry = directories + 2 * 8;
        if (count && *count > 2 && resourceEntry + 8 <= *optionalSize) {
            layout.resourceRva = r.u32(optional + resourceEntry).value_or(0);
            layout.resourceSize = r.u32(optional + resourceEntry + 4).value_or(0);
        }
    }

    const std::uint64_t table = optional + *optionalSize;
    for (std::uint64_t i = 0; i < *sectionCount; ++i) {
        const auto header = r.record<40>(table + i * 40);
        if (!header)
            break;
        const unsigned char* h = header->data();
        layout.sections.push_back(
            Section{Reader::le32(h + 12), Reader::le32(h + 8), Reader::le32(h + 20), Reader::le32(h + 16)});
    }
    return layout;
}

// The file range [offset, offset + length) that holds `rva` onwards within its section, clamped to
// the section's raw data and the file (length 0 past its end). nullopt when no section holds the
// address in the file's part of it.
struct FileRange {
    std::uint64_t offset;
    std::uint64_t length;
};

std::optional<FileRange> mapRva(const std::vector<Section>& sections, const Reader& r, std::uint32_t rva) {
    for (const Section& s : sections) {
        const std::uint64_t span = std::max(s.virtualSize, s.rawSize);
        if (rva < s.virtualAddress || rva - s.virtualAddress >= span)
            continue;
        const std::uint64_t delta = rva - s.virtualAddress;
        if (delta >= s.rawSize)
            return std::nullopt; // zero-filled memory that the file does not hold
        const std::uint64_t offset = std::uint64_t(s.rawOffset) + delta;
        // A file cut short keeps its entry, so that what the directory says (which languages there
        // are) does not change with the cut; the data is what the file still holds of it.
        if (offset >= r.size())
            return FileRange{offset, 0};
        const std::uint64_t length = std::min<std::uint64_t>(s.rawSize - delta, r.size() - offset);
        return FileRange{offset, length};
    }
    return std::nullopt;
}

} // namespace

PeResources::PeResources(std::shared_ptr<const PeImageSource> source)
    : m_source(std::move(source)) {}

std::optional<PeResources> PeResources::fromFile(const QString& path) {
    QFile file(localPath(path));
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxImageSize)
        return std::nullopt;
    return fromBytes(file.readAll());
}

std::optional<PeResources> PeResources::fromFileOnDemand(std::shared_ptr<const FileDescriptor> file, std::uint64_t size,
                                                         std::optional<std::uint16_t> onlyType, QString* why) {
    if (!file || !file->isOpen())
        return std::nullopt;
    PeResources resources(std::make_shared<PagedFileSource>(std::move(file), size));
    resources.m_onlyType = onlyType;
    if (!resources.parse(why))
        return std::nullopt;
    return resources;
}

std::optional<PeResources> PeResources::fromBytes(QByteArray image, QString* why) {
    PeResources resources(std::make_shared<MemorySource>(std::move(image)));
    if (!resources.parse(why))
        return std::nullopt;
    return resources;
}

bool PeResources::parse(QString* why) {
    const Reader r(*m_source);
    auto layout = readLayout(r, why);
    if (!layout)
        return false;
    const std::vector<Section>& sections = layout->sections;
    if (layout->resourceRva == 0)
        return true;
    const auto root = mapRva(sections, r, layout->resourceRva);
    if (!root)
        return true;
    // Every directory offset is relative to the root and must stay within the root's section.
    const std::uint64_t base = root->offset;
    const std::uint64_t limit = root->length;
    // A small resource section holds the directories and the data: one read instead of several.
    m_source->prefetch(base, std::min<std::uint64_t>(limit, layout->resourceSize));
    std::set<std::uint32_t> visited;
    std::unordered_map<std::uint32_t, std::optional<FileRange>> mappedRvas;
    std::uint32_t budget = kEntryBudget;

    struct Path {
        std::uint16_t type = 0;
        std::uint16_t id = 0;
    };
    // Level 0 names types, level 1 resources, level 2 languages.
    const auto walk = [&](auto&& self, std::uint32_t dirOffset, int level, Path path) -> void {
        if (level > 2 || !visited.insert(dirOffset).second)
            return;
        if (std::uint64_t(dirOffset) + 16 > limit)
            return;
        const std::uint64_t at = base + dirOffset;
        const std::uint32_t named = r.u16(at + 12).value_or(0);
        const std::uint32_t ids = r.u16(at + 14).value_or(0);
        const std::uint64_t roomForEntries = (limit - dirOffset - 16) / 8;
        const std::uint64_t count = std::min<std::uint64_t>(named + ids, roomForEntries);
        for (std::uint64_t i = 0; i < count && budget > 0; ++i, --budget) {
            const auto entry = r.record<8>(at + 16 + i * 8);
            if (!entry)
                continue;
            const std::uint32_t name = Reader::le32(entry->data());
            const std::uint32_t target = Reader::le32(entry->data() + 4);
            if (name & kHighBit)
                continue; // named entries: the programs look resources up by number only
            const auto id = std::uint16_t(name & 0xFFFF);
            Path next = path;
            if (level == 0 && m_onlyType && id != *m_onlyType)
                continue;
            if (level == 0)
                next.type = id;
            else if (level == 1)
                next.id = id;

            if (target & kHighBit) {
                self(self, target & ~kHighBit, level + 1, next);
                continue;
            }
            if (level != 2)
                continue; // data where a directory belongs
            if (std::uint64_t(target) + 16 > limit)
                continue;
            const auto dataRva = r.u32(base + target);
            const auto dataSize = r.u32(base + target + 4);
            if (!dataRva || !dataSize)
                continue;
            // Crafted files point many entries at one address: each is looked up in the sections once.
            auto mapped = mappedRvas.find(*dataRva);
            if (mapped == mappedRvas.end())
                mapped = mappedRvas.emplace(*dataRva, mapRva(sections, r, *dataRva)).first;
            const std::optional<FileRange>& data = mapped->second;
            if (!data)
                continue;
            const auto size = std::uint32_t(std::min<std::uint64_t>(*dataSize, data->length));
            m_entries.push_back(Entry{next.type, next.id, id, data->offset, size});
        }
    };
    walk(walk, 0, 0, Path{});
    return true;
}

std::optional<QByteArray> PeResources::find(std::uint16_t type, std::uint16_t id,
                                            std::optional<std::uint16_t> language) const {
    const Entry* first = nullptr;
    for (const Entry& e : m_entries) {
        if (e.type != type || e.id != id)
            continue;
        if (!language || e.language == *language)
            return data(e);
        if (!first)
            first = &e;
    }
    if (!first)
        return std::nullopt;
    return data(*first);
}

QByteArray PeResources::data(const Entry& e) const {
    return m_source->bytes(e.offset, e.size);
}

std::optional<QByteArray> PeResources::first(std::uint16_t type) const {
    for (const Entry& e : m_entries) {
        if (e.type == type)
            return data(e);
    }
    return std::nullopt;
}

std::vector<std::uint16_t> PeResources::languages(std::uint16_t type, std::uint16_t id) const {
    std::vector<std::uint16_t> result;
    for (const Entry& e : m_entries) {
        if (e.type == type && e.id == id)
            result.push_back(e.language);
    }
    return result;
}

std::optional<std::uint16_t> PeResources::defaultLanguage() const {
    const Entry* first = nullptr;
    for (const Entry& e : m_entries) {
        if (e.type == RT_STRING_TYPE && (!first || e.id < first->id))
            first = &e;
    }
    if (!first)
        return std::nullopt;
    return first->language;
}

QString PeResources::string(std::uint32_t id) const {
    if (id > 0xFFFF)
        return QString();
    const auto block = find(RT_STRING_TYPE, std::uint16_t(id / 16 + 1), defaultLanguage());
    if (!block)
        return QString();
    // Sixteen strings, each a length in UTF-16 units followed by that many units.
    const MemorySource blockSource(*block);
    const Reader r(blockSource);
    std::uint64_t at = 0;
    for (std::uint32_t i = 0; i < id % 16; ++i) {
        const auto length = r.u16(at);
        if (!length)
            return QString();
        at += 2 + std::uint64_t(*length) * 2;
    }
    const auto length = r.u16(at);
    if (!length)
        return QString();
    const std::uint64_t available = r.has(at + 2, 0) ? (r.size() - at - 2) / 2 : 0;
    const auto units = qsizetype(std::min<std::uint64_t>(*length, available));
    QString text(units, Qt::Uninitialized);
    for (qsizetype i = 0; i < units; ++i)
        text[i] = QChar(*r.u16(at + 2 + std::uint64_t(i) * 2));
    return text;
}

ResourceLibrary::ResourceLibrary(QString path, PeResources resources)
    : m_path(std::move(path))
    , m_resources(std::move(resources)) {}

namespace {

// Windows file names ignore case: "VE_ita.dll" finds "ve_ITA.DLL".
QString findInFolder(const QString& folder, const QString& name) {
    const QDir dir(folder);
    if (QFileInfo(dir.filePath(name)).isFile())
        return dir.filePath(name);
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden);
    for (const QString& entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return dir.filePath(entry);
    }
    return QString();
}

} // namespace

std::unique_ptr<ResourceLibrary> ResourceLibrary::LoadLibrary(const QString& fileName) {
    if (fileName.isEmpty())
        return nullptr;
    QString path;
    if (fileName.contains(u'/') || fileName.contains(u'\\')) {
        path = localPath(fileName);
    } else {
        if (!programDirectoryWritable())
            path = findInFolder(userFilesDirectory(), fileName);
        if (path.isEmpty())
            path = findInFolder(programDirectory(), fileName);
        if (path.isEmpty())
            path = findInFolder(QDir::currentPath(), fileName);
    }
    if (path.isEmpty())
        return nullptr;
    auto resources = PeResources::fromFile(path);
    if (!resources)
        return nullptr;
    return std::unique_ptr<ResourceLibrary>(new ResourceLibrary(path, std::move(*resources)));
}

QString ResourceLibrary::LoadString(std::uint32_t id, int bufferChars) const {
    if (bufferChars <= 0)
        return QString();
    return m_resources.string(id).left(bufferChars - 1);
}

} // namespace vestrel
