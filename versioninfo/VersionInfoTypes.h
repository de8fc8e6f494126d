#pragma once

#include "platform/VersionBlock.h"

#include <QDateTime>
#include <QString>

#include <bitset>
#include <cstdint>

namespace vestrel::versioninfo {

// The build flags of the fixed-file-info block (VS_FF_ bits), as members in this order.
enum TFixedFileInfoFlag { ffDebug, ffInfoInferred, ffPatched, ffPreRelease, ffPrivateBuild, ffSpecialBuild };
using TFixedFileInfoFlags = std::bitset<6>;

enum TVersionOperatingSystemFlag {
    vosUnknown,
    vosDOS,
    vosOS2_16,
    vosOS2_32,
    vosNT,
    vosWindows16,
    vosPresentationManager16,
    vosPresentationManager32,
    vosWindows32
};
using TVersionOperatingSystemFlags = std::bitset<9>;

enum TVersionFileType { vftUnknown, vftApplication, vftDLL, vftDriver, vftFont, vftVXD, vftStaticLib };

// Index into the key table.
enum TPreDef {
    pdCompanyName,
    pdFileDescription,
    pdFileVersion,
    pdInternalName,
    pdLegalCopyright,
    pdLegalTrademarks,
    pdOriginalFilename,
    pdProductName,
    pdProductVersion,
    pdComments,
    pdBuildFlags
};
inline constexpr int kPreDefCount = 11;
using TPreDefs = std::bitset<kPreDefCount>;

TFixedFileInfoFlags fixedFileInfoFlags(std::uint32_t raw);
// Always one member for the high word (the system) and one for the low word (the window layer).
TVersionOperatingSystemFlags versionOperatingSystemFlags(std::uint32_t raw);
TVersionFileType versionFileType(std::uint32_t raw);

// The StringFileInfo key of an index of the key table ("CompanyName"); empty outside 0 to 10.
QString preDefKey(int index);
// The caption the list view shows for it ("Company Name"), localisable.
QString preDefCaption(int index);
// "Debug", "Info Inferred", "Patched", "Pre-Release", "Private", "Special", localisable.
QString fixedFileInfoFlagName(TFixedFileInfoFlag flag);
// The names of the flags in `flags`, in member order, joined by ", ".
QString fixedFileInfoFlagNames(const TFixedFileInfoFlags& flags);

// A four-part version number from two dwords, with an optional text form that wins when present.
class TVersionNumberInformation {
public:
    TVersionNumberInformation(std::uint32_t ms = 0, std::uint32_t ls = 0)
        : m_ms(ms)
        , m_ls(ls) {}

    void Set(bool valid, std::uint32_t ms, std::uint32_t ls, const QString& text);
    bool Valid() const { return m_valid; }
    void SetValid(bool valid) { m_valid = valid; }
    QString Text() const { return m_text; }

    // 0 and 1: the high and low word of the high dword; 2 and 3: those of the low dword; any other
    // index, or an invalid object, gives 0.
    std::uint16_t GetVersionNumber(int index) const;
    // Empty when not valid; the text form when it has one; else "1.2.3.4".
    QString GetVersionNumberString() const;

private:
    bool m_valid = false;
    std::uint32_t m_ms;
    std::uint32_t m_ls;
    QString m_text;
};

// The fixed-file-info block of a version block, as typed values; all 0 (or empty) without one.
class TFixedFileVersionInfo {
public:
    void Reset() { *this = TFixedFileVersionInfo(); }
    void SetBlock(const FixedFileInfo& info) {
        m_info = info;
        m_present = true;
    }
    bool HasBlock() const { return m_present; }

    std::uint32_t GetSignature() const { return m_info.signature; }
    std::uint32_t GetStructureVersion() const { return m_info.structureVersion; }
    std::uint32_t GetFileVersionMS() const { return m_info.fileVersionMS; }
    std::uint32_t GetFileVersionLS() const { return m_info.fileVersionLS; }
    std::uint32_t GetProductVersionMS() const { return m_info.productVersionMS; }
    std::uint32_t GetProductVersionLS() const { return m_info.productVersionLS; }
    TFixedFileInfoFlags GetValidFlags() const { return fixedFileInfoFlags(m_info.fileFlagsMask); }
    TFixedFileInfoFlags GetFlags() const { return fixedFileInfoFlags(m_info.fileFlags); }
    TVersionOperatingSystemFlags GetFileOperatingSystem() const {
        return m_present ? versionOperatingSystemFlags(m_info.fileOS) : TVersionOperatingSystemFlags();
    }
    TVersionFileType GetFileType() const { return versionFileType(m_info.fileType); }
    std::uint32_t GetFileSubType() const { return m_info.fileSubtype; }
    // The file date as a 64-bit file time (100 ns since 1601, UTC); an invalid date-time when there
    // is no block or the time cannot be a calendar date (beyond the year 9999).
    QDateTime GetCreationDate() const;

private:
    FixedFileInfo m_info;
    bool m_present = false;
};

// The calendar time of a 64-bit file time, UTC; invalid beyond what a calendar date can hold.
QDateTime fileTimeToDateTime(std::uint64_t fileTime);

} // namespace vestrel::versioninfo
