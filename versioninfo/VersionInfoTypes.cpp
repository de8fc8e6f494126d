#include "versioninfo/VersionInfoTypes.h"

#include <QCoreApplication>
#include <QStringList>

#include <array>

namespace vestrel::versioninfo {

namespace {

struct KeyRow {
    const char* key;
    const char* caption;
};

constexpr std::array<KeyRow, kPreDefCount> kKeyTable = {{
    {"CompanyName", QT_TRANSLATE_NOOP("TVersionInfoResource", "Company Name")},
    {"FileDescription", QT_TRANSLATE_NOOP("TVersionInfoResource", "File Description")},
    {"FileVersion", QT_TRANSLATE_NOOP("TVersionInfoResource", "File Version")},
    {"InternalName", QT_TRANSLATE_NOOP("TVersionInfoResource", "Internal Name")},
    {"LegalCopyright", QT_TRANSLATE_NOOP("TVersionInfoResource", "Legal Copyright")},
    {"LegalTrademarks", QT_TRANSLATE_NOOP("TVersionInfoResource", "Legal Trademarks")},
    {"OriginalFilename", QT_TRANSLATE_NOOP("TVersionInfoResource", "Original Filename")},
    {"ProductName", QT_TRANSLATE_NOOP("TVersionInfoResource", "Product Name")},
    {"ProductVersion", QT_TRANSLATE_NOOP("TVersionInfoResource", "Product Version")},
    {"Comments", QT_TRANSLATE_NOOP("TVersionInfoResource", "Comments")},
    {"BuildFlags", QT_TRANSLATE_NOOP("TVersionInfoResource", "Build Flags")},
}};

struct FlagRow {
    TFixedFileInfoFlag flag;
    std::uint32_t bit;
    const char* name;
};

// In member order, with the VS_FF_ bit of each.
constexpr std::array<FlagRow, 6> kFlags = {{
    {ffDebug, 0x01, QT_TRANSLATE_NOOP("TVersionInfoResource", "Debug")},
    {ffInfoInferred, 0x10, QT_TRANSLATE_NOOP("TVersionInfoResource", "Info Inferred")},
    {ffPatched, 0x04, QT_TRANSLATE_NOOP("TVersionInfoResource", "Patched")},
    {ffPreRelease, 0x02, QT_TRANSLATE_NOOP("TVersionInfoResource", "Pre-Release")},
    {ffPrivateBuild, 0x08, QT_TRANSLATE_NOOP("TVersionInfoResource", "Private")},
    {ffSpecialBuild, 0x20, QT_TRANSLATE_NOOP("TVersionInfoResource", "Special")},
}};

// 100-ns ticks from 1 January 1601 to 1 January 1970.
constexpr std::uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;

} // namespace

TFixedFileInfoFlags fixedFileInfoFlags(std::uint32_t raw) {
    TFixedFileInfoFlags flags;
    for (const FlagRow& row : kFlags) {
        if (raw & row.bit)
            flags.set(row.flag);
    }
    return flags;
}

TVersionOperatingSystemFlags versionOperatingSystemFlags(std::uint32_t raw) {
    TVersionOperatingSystemFlags flags;
    switch (raw >> 16) {
    case 1:
        flags.set(vosDOS);
        break;
    case 2:
        flags.set(vosOS2_16);
        break;
    case 3:
        flags.set(vosOS2_32);
        break;
    case 4:
        flags.set(vosNT);
        break;
    default:
        flags.set(vosUnknown);
        break;
    }
    switch (raw & 0xFFFF) {
    case 1:
        flags.set(vosWindows16);
        break;
    case 2:
        flags.set(vosPresentationManager16);
        break;
    case 3:
        flags.set(vosPresentationManager32);
        break;
    case 4:
        flags.set(vosWindows32);
        break;
    default:
        flags.set(vosUnknown);
        break;
    }
    return flags;
}

TVersionFileType versionFileType(std::uint32_t raw) {
    switch (raw) {
    case 1:
        return vftApplication;
    case 2:
        return vftDLL;
    case 3:
        return vftDriver;
    case 4:
        return vftFont;
    case 5:
        return vftVXD;
    case 7:
        return vftStaticLib;
    default:
        return vftUnknown;
    }
}

QString preDefKey(int index) {
    if (index < 0 || index >= kPreDefCount)
        return QString();
    return QString::fromLatin1(kKeyTable[std::size_t(index)].key);
}

QString preDefCaption(int index) {
    if (index < 0 || index >= kPreDefCount)
        return QString();
    return QCoreApplication::translate("TVersionInfoResource", kKeyTable[std::size_t(index)].caption);
}

QString fixedFileInfoFlagName(TFixedFileInfoFlag flag) {
    return QCoreApplication::translate("TVersionInfoResource", kFlags[std::size_t(flag)].name);
}

QString fixedFileInfoFlagNames(const TFixedFileInfoFlags& flags) {
    QStringList names;
    for (const FlagRow& row : kFlags) {
        if (flags.test(row.flag))
            names.append(fixedFileInfoFlagName(row.flag));
    }
    return names.join(QStringLiteral(", "));
}

void TVersionNumberInformation::Set(bool valid, std::uint32_t ms, std::uint32_t ls, const QString& text) {
    m_valid = valid;
    m_ms = ms;
    m_ls = ls;
    m_text = text;
}

std::uint16_t TVersionNumberInformation::GetVersionNumber(int index) const {
    if (!m_valid)
        return 0;
    switch (index) {
    case 0:
        return std::uint16_t(m_ms >> 16);
    case 1:
        return std::uint16_t(m_ms & 0xFFFF);
    case 2:
        return std::uint16_t(m_ls >> 16);
    case 3:
        return std::uint16_t(m_ls & 0xFFFF);
    default:
        return 0;
    }
}

QString TVersionNumberInformation::GetVersionNumberString() const {
    if (!m_valid)
        return QString();
    if (!m_text.isEmpty())
        return m_text;
    return QString::asprintf("%d.%d.%d.%d", GetVersionNumber(0), GetVersionNumber(1), GetVersionNumber(2),
                             GetVersionNumber(3));
}

QDateTime fileTimeToDateTime(std::uint64_t fileTime) {
    // Dates past 9999-12-31 have no calendar form.
    constexpr std::uint64_t kLastTick = 2650467743999999999ULL;
    if (fileTime > kLastTick)
        return QDateTime();
    const auto sinceUnix = qint64(fileTime) - qint64(kFileTimeUnixEpoch);
    // Milliseconds, rounded toward the past so that a time never moves to the next day.
    const qint64 ms = sinceUnix >= 0 ? sinceUnix / 10000 : -((-sinceUnix + 9999) / 10000);
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

QDateTime TFixedFileVersionInfo::GetCreationDate() const {
    if (!m_present)
        return QDateTime();
    return fileTimeToDateTime((std::uint64_t(m_info.fileDateMS) << 32) | m_info.fileDateLS);
}

} // namespace vestrel::versioninfo
