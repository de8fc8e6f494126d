#pragma once

#include <QLocale>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>

namespace vestrel::versioninfo {

// Which item of a file's version information the version label shows.
enum TVersionResources {
    vrCompanyName,
    vrFileDescription,
    vrFileVersion,
    vrInternalName,
    vrLegalCopyright,
    vrOriginalFilename,
    vrProductName,
    vrProductVersion,
    vrComments,
    vrFlags,
    vrShortFileVersion,
    vrDateTime,
    vrFileSize
};

struct VersionLookupRow {
    TVersionResources member;
    const char* key;
    const char* prefix;
};
// One row per member, in member order: the StringFileInfo key and the prefix of each.
extern const std::array<VersionLookupRow, 13> VersionLookup;

// The part of `text` before the first `separator`, removed from `text` with the separator;
// without a separator the whole text, leaving `text` empty.
QString Slice(QString& text, const QString& separator);

// A number in the style of a display format: "#" and "0" are digit places (a "0" always shows a
// digit), "," among them asks for thousands separators, "." starts the decimals, text in double or
// single quotes and any other character is shown as is. Only the first ";"-separated section is used.
QString formatNumber(double value, const QString& format, const QLocale& locale = QLocale());

// The rules of the version label, without the label: its settings, the text it shows and when
// that text is computed again. `onCaption` receives every newly computed caption.
class VersionLabelModel {
public:
    VersionLabelModel();

    void SetCaptionHandler(std::function<void(const QString&)> onCaption) { m_onCaption = std::move(onCaption); }
    // In a design environment no file is read.
    void SetDesigning(bool designing) { m_designing = designing; }

    TVersionResources VersionResource() const { return m_resource; }
    void SetVersionResource(TVersionResources resource);
    QString VersionResourceKey() const { return m_key; }
    void SetVersionResourceKey(const QString& key);
    QString InfoPrefix() const { return m_prefix; }
    void SetInfoPrefix(const QString& prefix);
    bool ShowInfoPrefix() const { return m_showPrefix; }
    void SetShowInfoPrefix(bool show);
    QString LangCharset() const { return m_langCharset; }
    void SetLangCharset(const QString& langCharset);
    QString Filename() const { return m_filename; }
    void SetFilename(const QString& filename);
    QString DateTimeFormat() const { return m_dateTimeFormat; }
    void SetDateTimeFormat(const QString& format);
    QString FileSizeFormat() const { return m_fileSizeFormat; }
    void SetFileSizeFormat(const QString& format);
    QString InfoString() const { return m_infoString; }

    // Computes the caption and hands it on.
    void SetupCaption();
    // The caption for the current settings; may learn LangCharset from the file.
    QString GetInfo();

private:
    QString GetFixedFileInfo(const QByteArray& block) const;
    QString GetStringFileInfo(const QByteArray& block);
    QString GetDateTimeInfo(const QString& file) const;
    QString GetFileSizeInfo(const QString& file) const;

    TVersionResources m_resource = vrFileVersion;
    QString m_key;
    QString m_prefix;
    bool m_showPrefix = true;
    QString m_langCharset;
    bool m_langCharsetLearnt = false; // taken from the file rather than set
    QString m_filename;
    QString m_dateTimeFormat;
    QString m_fileSizeFormat;
    QString m_infoString;
    bool m_designing = false;
    quint64 m_captionCount = 0;
    std::function<void(const QString&)> m_onCaption;
};

} // namespace vestrel::versioninfo
