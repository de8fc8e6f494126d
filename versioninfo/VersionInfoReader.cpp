#include "versioninfo/VersionInfoReader.h"

#include "platform/Cp1252.h"
#include "platform/FileVersionInfo.h"
#include "versioninfo/RunningProgram.h"

using namespace Qt::StringLiterals;

namespace vestrel::versioninfo {

namespace {

// Looked up when the file lists no translation: U.S. English, Windows Latin-1.
constexpr auto kDefaultTranslation = "040904E4";
// Used with a translation value too short for one entry, whose first word is taken as code page.
constexpr std::uint16_t kEnglishUS = 0x0409;

} // namespace

std::uint16_t littleEndianWord(const QByteArray& bytes, qsizetype at) {
    const auto byte = [&](qsizetype i) {
        return i < bytes.size() ? std::uint16_t(std::uint8_t(bytes[i])) : std::uint16_t(0);
    };
    return std::uint16_t(byte(at) | (byte(at + 1) << 8));
}

void VersionInfoReader::SetFilename(const TVersionFilename& filename) {
    m_filename = filename;
    ReadVersionInfoData();
}

void VersionInfoReader::SetForceEXE(bool force) {
    if (force == m_forceExe)
        return;
    m_forceExe = force;
    ReadVersionInfoData();
}

QString VersionInfoReader::GetResourceFilename() const {
    if (!m_filename.isEmpty())
        return m_filename;
    return runningProgramPath();
}

void VersionInfoReader::ReadVersionInfoData() {
    m_translations.clear();
    m_fixed.Reset();
    m_block.clear();

    const QString file = GetResourceFilename();
    const std::uint32_t size = GetFileVersionInfoSizeA(file);
    if (size == 0 || !GetFileVersionInfoA(file, size, m_block) || m_block.isEmpty()) {
        m_block.clear();
        m_fileVersion.SetValid(false);
        m_productVersion.SetValid(false);
        PopulateControls();
        return;
    }
    if (const auto root = VerQueryValueA(m_block, "\\"))
        m_fixed.SetBlock(vestrel::FixedFileInfo::fromBytes(root->data));

    if (const auto translation = VerQueryValueA(m_block, "\\VarFileInfo\\Translation")) {
        const QByteArray& t = translation->data;
        for (qsizetype at = 0; at + 4 <= t.size(); at += 4) {
            m_translations.append(QString::asprintf("%.4X%.4X", littleEndianWord(t, at), littleEndianWord(t, at + 2)));
        }
        if (m_translations.isEmpty() && !t.isEmpty()) {
            const std::uint16_t codePage = littleEndianWord(t, 0);
            m_translations.append(QString::asprintf("%.4X%.4X", kEnglishUS, codePage));
        }
    }
    if (m_translationIndex >= m_translations.size())
        m_translationIndex = 0;

    m_fileVersion.Set(true, m_fixed.GetFileVersionMS(), m_fixed.GetFileVersionLS(),
                      GetVersionInfoString(pdFileVersion));
    m_productVersion.Set(true, m_fixed.GetProductVersionMS(), m_fixed.GetProductVersionLS(),
                         GetVersionInfoString(pdProductVersion));
    PopulateControls();
}

void VersionInfoReader::SetTranslationIDIndex(int index) {
    if (index > 0 && index < m_translations.size())
        m_translationIndex = index;
}

QString VersionInfoReader::GetVersionInfoString(int index) const {
    const QString key = preDefKey(index);
    return key.isEmpty() ? QString() : GetResourceStr(key);
}

QString VersionInfoReader::GetResourceStr(const QString& key) const {
    if (m_block.isEmpty())
        return QString();
    const QString translation = m_translationIndex < m_translations.size() ? m_translations.at(m_translationIndex)
                                                                           : QString::fromLatin1(kDefaultTranslation);
    const auto value =
        VerQueryValueA(m_block, cp1252::fromUnicode(u"\\StringFileInfo\\"_s + translation + u'\\' + key));
    return value ? cp1252::toUnicode(value->data) : QString();
}

QString VersionInfoReader::BuildFlags() const {
    return fixedFileInfoFlagNames(m_fixed.GetFlags());
}

void VersionInfoReader::SetShowResource(TPreDefs show) {
    if (show == m_showResource)
        return;
    m_showResource = show;
    PopulateControls();
}

std::vector<VersionInfoReader::ListRow> VersionInfoReader::ListViewRows() const {
    static constexpr TPreDef kOrder[] = {pdProductName,      pdProductVersion,  pdCompanyName, pdLegalCopyright,
                                         pdLegalTrademarks,  pdFileDescription, pdFileVersion, pdInternalName,
                                         pdOriginalFilename, pdBuildFlags,      pdComments};
    std::vector<ListRow> rows;
    for (const TPreDef index : kOrder) {
        QString value;
        if (index == pdProductVersion)
            value = m_productVersion.GetVersionNumberString();
        else if (index == pdFileVersion)
            value = m_fileVersion.GetVersionNumberString();
        else if (index == pdBuildFlags)
            value = BuildFlags();
        else
            value = GetVersionInfoString(index);
        if (!value.isEmpty() && m_showResource.test(index))
            rows.push_back(ListRow{preDefCaption(index), value});
    }
    return rows;
}

} // namespace vestrel::versioninfo
