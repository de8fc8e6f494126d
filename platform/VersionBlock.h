#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <vector>

namespace vestrel {

// One node of a version block (VS_VERSIONINFO and everything below it): the 32-bit layout Windows
// resource compilers write, a UTF-16 key, a value and, for the block, StringFileInfo, its tables and
// VarFileInfo, child nodes. Views point into the bytes the node was read from.
//
// Real files disagree on details, so reading is lenient and bounded: every length is clamped to the
// bytes at hand and to the parent node; a wLength of 0 ends a list of children; keys and text values
// end at their NUL or at the end of their node, whatever wValueLength says (some compilers count it
// in words, others in bytes).
struct VersionNode {
    QString key;
    bool isText = false;           // wType 1: the value is a UTF-16 string
    std::uint16_t valueLength = 0; // wValueLength as stored
    QByteArrayView value;          // the value's bytes, clamped to the node
    // Where the children lie: offsets into the whole block, whose start alignment counts from.
    QByteArrayView block;
    qsizetype childBegin = 0;
    qsizetype childEnd = 0;

    // A text value up to its NUL; for a binary value, empty.
    QString text() const;
    // The node's children in file order.
    std::vector<VersionNode> children() const;
    // The first child whose key equals `key` without regard to case.
    std::optional<VersionNode> child(QStringView key) const;
};

// The root node of a version block, or nullopt when the bytes cannot hold one.
std::optional<VersionNode> readVersionBlock(QByteArrayView block);

// The node a VerQueryValue path names ("\", "\VarFileInfo\Translation",
// "\StringFileInfo\040904E4\CompanyName"): segments separated by "\", compared without regard to case.
std::optional<VersionNode> findVersionNode(QByteArrayView block, QStringView path);

// Translations of "\VarFileInfo\Translation": pairs of (language, code page).
struct VersionTranslation {
    std::uint16_t language;
    std::uint16_t codePage;
    // Eight upper-case hex digits, language first: "041004E4".
    QString id() const;
    bool operator==(const VersionTranslation&) const = default;
};
std::vector<VersionTranslation> versionTranslations(QByteArrayView block);
// The same under a root node already read.
std::vector<VersionTranslation> versionTranslations(const VersionNode& root);

// The fixed-file-info record (VS_FIXEDFILEINFO) as stored in the root node's value. Fields the
// value is too short to hold read as 0.
struct FixedFileInfo {
    static constexpr std::uint32_t kSignature = 0xFEEF04BD;
    static constexpr int kSize = 52;
    std::uint32_t signature = 0;
    std::uint32_t structureVersion = 0;
    std::uint32_t fileVersionMS = 0;
    std::uint32_t fileVersionLS = 0;
    std::uint32_t productVersionMS = 0;
    std::uint32_t productVersionLS = 0;
    std::uint32_t fileFlagsMask = 0;
    std::uint32_t fileFlags = 0;
    std::uint32_t fileOS = 0;
    std::uint32_t fileType = 0;
    std::uint32_t fileSubtype = 0;
    std::uint32_t fileDateMS = 0;
    std::uint32_t fileDateLS = 0;

    static FixedFileInfo fromBytes(QByteArrayView value);
};

} // namespace vestrel
