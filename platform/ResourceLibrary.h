#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace vestrel {

// Resource types used by the programs, as numbered in PE files.
inline constexpr std::uint16_t RT_STRING_TYPE = 6;
inline constexpr std::uint16_t RT_VERSION_TYPE = 16;

// A read-only view of the resources of a PE file (.exe or .dll of any origin). Every offset is
// checked against the real size of the file; resource directories that loop or nest too deep are cut
// short; a damaged PE file opens with the resources that can be read (maybe none) rather than failing.
// Bytes without the DOS and PE signatures are no PE file at all: fromFile/fromBytes give std::nullopt.
class PeImageSource;
class FileDescriptor;

class PeResources {
public:
    static std::optional<PeResources> fromFile(const QString& path);
    // `why` (when given) receives the reason for std::nullopt: no PE file, or one the Windows loader
    // would refuse (more than 96 sections).
    static std::optional<PeResources> fromBytes(QByteArray image, QString* why = nullptr);
    // Reads only what the lookups need (headers, the resource directory, the data asked for), page by
    // page, instead of the whole file: for reading one resource out of many large files. `file` is
    // open for reading, `size` its size in bytes; it stays open while the object (or a copy) lives.
    // With `onlyType`, the resources of other types are skipped.
    static std::optional<PeResources> fromFileOnDemand(std::shared_ptr<const FileDescriptor> file, std::uint64_t size,
                                                       std::optional<std::uint16_t> onlyType = {},
                                                       QString* why = nullptr);

    // Raw data of resource (type, id) in `language`; when the file has no entry in that language,
    // the first language it has. std::nullopt when missing.
    std::optional<QByteArray> find(std::uint16_t type, std::uint16_t id,
                                   std::optional<std::uint16_t> language = {}) const;
    // Raw data of the first resource of `type` in directory order; std::nullopt when there is none.
    std::optional<QByteArray> first(std::uint16_t type) const;
    // Languages present for (type, id), in directory order.
    std::vector<std::uint16_t> languages(std::uint16_t type, std::uint16_t id) const;
    // The language of the file's string tables: the first language of its first string table block.
    std::optional<std::uint16_t> defaultLanguage() const;

    // The string `id` from the RT_STRING tables, UTF-16 as stored; empty when missing.
    QString string(std::uint32_t id) const;

private:
    explicit PeResources(std::shared_ptr<const PeImageSource> source);
    std::shared_ptr<const PeImageSource> m_source;
    struct Entry {
        std::uint16_t type;
        std::uint16_t id;
        std::uint16_t language;
        std::uint64_t offset; // file offset of the data
        std::uint32_t size;
    };
    std::vector<Entry> m_entries;
    std::optional<std::uint16_t> m_onlyType;
    // Collects the resource entries; false when the image is no PE file at all.
    bool parse(QString* why);
    QByteArray data(const Entry& e) const;
};

// The stand-in for LoadLibrary / LoadString / FreeLibrary on resource-only libraries.
class ResourceLibrary {
public:
    // Finds `fileName` the way the system's library search would: the program directory first (after
    // the user's own folder once the program is installed, see programFileToRead), then the current
    // directory. A bare file name or a path. nullptr when missing or not a PE file.
    static std::unique_ptr<ResourceLibrary> LoadLibrary(const QString& fileName);

    QString FileName() const { return m_path; }
    const PeResources& resources() const { return m_resources; }

    // LoadString into a buffer of `bufferChars` characters: at most bufferChars - 1 come back; an id
    // the library does not have gives an empty text.
    QString LoadString(std::uint32_t id, int bufferChars = 1024) const;

private:
    ResourceLibrary(QString path, PeResources resources);
    QString m_path;
    PeResources m_resources;
};

} // namespace vestrel
