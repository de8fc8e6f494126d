#pragma once

#include "versioninfo/VersionInfoTypes.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace vestrel::versioninfo {

// The little-endian word at `at` of a value; bytes past its end count as 0.
std::uint16_t littleEndianWord(const QByteArray& bytes, qsizetype at);

// The type of the component's file name, which a design environment would offer a file picker for.
using TVersionFilename = QString;

// What the version-information component knows of a file, without the controls it fills: the
// version block, the fixed-file-info view, the translations, the two version numbers and the
// string values. The component adds the linked labels and list view through PopulateControls.
//
// A file without version information, or one that cannot be read, is not an error: every value
// is then empty or 0 and the version numbers are not valid.
class VersionInfoReader {
public:
    VersionInfoReader() = default;
    virtual ~VersionInfoReader() = default;
    VersionInfoReader(const VersionInfoReader&) = delete;
    VersionInfoReader& operator=(const VersionInfoReader&) = delete;

    // The file to read; empty means the running program. Setting it reads the file.
    TVersionFilename Filename() const { return m_filename; }
    void SetFilename(const TVersionFilename& filename);
    // Reads the running program when no file is named. Setting a different value reads again.
    bool ForceEXE() const { return m_forceExe; }
    void SetForceEXE(bool force);

    // (Re)reads everything, then fills the controls.
    void ReadVersionInfoData();
    QString GetResourceFilename() const;

    // The version block as read, and its size (0 without one).
    const QByteArray& VersionBlock() const { return m_block; }
    std::uint32_t VersionBlockSize() const { return std::uint32_t(m_block.size()); }

    const TFixedFileVersionInfo& FixedFileInfo() const { return m_fixed; }
    const TVersionNumberInformation& FileVersion() const { return m_fileVersion; }
    const TVersionNumberInformation& ProductVersion() const { return m_productVersion; }

    // Eight upper-case hex digits each, language then code page ("041004E4").
    const QStringList& GetTranslationIDs() const { return m_translations; }
    int TranslationIDIndex() const { return m_translationIndex; }
    // Accepts only values above 0 and below the number of translations; others are ignored.
    void SetTranslationIDIndex(int index);

    // The value of key-table entry `index` (0 to 10); empty for any other index.
    QString GetVersionInfoString(int index) const;
    // The string value of `key` in the chosen translation ("040904E4" when there is none).
    QString GetResourceStr(const QString& key) const;
    // The names of the build flags present, in flag order, joined by ", ".
    QString BuildFlags() const;

    QString CompanyName() const { return GetVersionInfoString(pdCompanyName); }
    QString FileDescription() const { return GetVersionInfoString(pdFileDescription); }
    QString InternalName() const { return GetVersionInfoString(pdInternalName); }
    QString LegalCopyright() const { return GetVersionInfoString(pdLegalCopyright); }
    QString LegalTrademarks() const { return GetVersionInfoString(pdLegalTrademarks); }
    QString OriginalFilename() const { return GetVersionInfoString(pdOriginalFilename); }
    QString ProductName() const { return GetVersionInfoString(pdProductName); }
    QString Comments() const { return GetVersionInfoString(pdComments); }
    static QString Version() { return QStringLiteral("TVersionInfoResource v2.36"); }

    // Which values the list view shows; all eleven by default. A different value fills the controls.
    TPreDefs ShowResource() const { return m_showResource; }
    void SetShowResource(TPreDefs show);

    // The rows the list view shows, in its order: caption and value of each value that is not
    // empty and is in ShowResource.
    struct ListRow {
        QString caption;
        QString value;
        bool operator==(const ListRow&) const = default;
    };
    std::vector<ListRow> ListViewRows() const;

protected:
    // Fills the linked controls; the component that has them overrides it.
    virtual void PopulateControls() {}
    // Leaves `index` out of the list view without filling the controls.
    void HideFromListView(TPreDef index) { m_showResource.reset(index); }

private:
    TVersionFilename m_filename;
    bool m_forceExe = false;
    QByteArray m_block;
    TFixedFileVersionInfo m_fixed;
    QStringList m_translations;
    int m_translationIndex = 0;
    TVersionNumberInformation m_fileVersion;
    TVersionNumberInformation m_productVersion;
    TPreDefs m_showResource = TPreDefs().set();
};

} // namespace vestrel::versioninfo
