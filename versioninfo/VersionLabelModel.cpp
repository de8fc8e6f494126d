#include "versioninfo/VersionLabelModel.h"

#include "platform/Cp1252.h"
#include "platform/FileDescriptor.h"
#include "platform/FileName.h"
#include "platform/FileVersionInfo.h"
#include "platform/ProgramDir.h"
#include "platform/VersionBlock.h"
#include "versioninfo/RunningProgram.h"
#include "versioninfo/VersionInfoReader.h"

#include <QDateTime>

#include <cmath>
#include <optional>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace vestrel::versioninfo {

const std::array<VersionLookupRow, 13> VersionLookup = {{
    {vrCompanyName, "CompanyName", "Company Name:"},
    {vrFileDescription, "FileDescription", "File Description:"},
    {vrFileVersion, "FileVersion", "File Version:"},
    {vrInternalName, "InternalName", "Internal Name:"},
    {vrLegalCopyright, "LegalCopyright", "Legal Copyright:"},
    {vrOriginalFilename, "OriginalFilename", "Original Filename:"},
    {vrProductName, "ProductName", "Product Name:"},
    {vrProductVersion, "ProductVersion", "Product Version:"},
    {vrComments, "Comments", "Comments:"},
    {vrFlags, "Flags", "Flags:"},
    {vrShortFileVersion, "FileVersion", "v"},
    {vrDateTime, "DateTime", "File Date/Time:"},
    {vrFileSize, "Filesize", "File Size:"},
}};

namespace {

// LangCharset's value that means: take the file's first translation.
const QString kFirstTranslation = u"-1"_s;

const char* const kNoDesignInfo = "< No design info >";
const char* const kNoData = "< No Data Available >";
const char* const kNoVersionInfo = "< Error retrieving version info >";
const char* const kNoFixedInfo = "< Error retrieving fixed version info >";
const char* const kNoTranslation = "< Error retrieving translation info >";
const char* const kNoStringInfo = "< Error retrieving string version info >";
const char* const kNoValue = "< No Version Info >";
const char* const kNoFileHandle = "<Error getting file handle>";

// The status of the file opened for reading, or nullopt when it cannot be opened. The name goes to the
// file system as its bytes, so names that are not UTF-8 open too.
std::optional<struct stat> openedFileStatus(const QString& file) {
    const FileDescriptor fd = FileDescriptor::openForReading(encodeFileName(file).constData());
    struct stat info {};
    if (!fd.isOpen() || ::fstat(fd.get(), &info) != 0)
        return std::nullopt;
    return info;
}

struct FlagText {
    std::uint32_t bit;
    const char* text;
};
constexpr FlagText kFlagTexts[] = {{0x01, ", Debug Build"},   {0x02, ", Pre-Release Build"}, {0x04, ", Patched Build"},
                                   {0x08, ", Private Build"}, {0x10, ", InfoInferred"},      {0x20, ", Special Build"}};

} // namespace

QString Slice(QString& text, const QString& separator) {
    const qsizetype at = text.indexOf(separator);
    if (at < 0) {
        QString whole = text;
        text.clear();
        return whole;
    }
    const QString part = text.left(at);
    text.remove(0, at + separator.size());
    return part;
}

QString formatNumber(double value, const QString& format, const QLocale& locale) {
    const QString section = format.section(u';', 0, 0);
    QString before;
    QString after;
    int minIntegerDigits = 0;
    int minDecimals = 0;
    int maxDecimals = 0;
    bool grouping = false;
    bool inDecimals = false;
    bool seenDigits = false;
    for (qsizetype i = 0; i < section.size(); ++i) {
        const QChar c = section.at(i);
        QString literal;
        if (c == u'"' || c == u'\'') {
            const qsizetype end = section.indexOf(c, i + 1);
            literal = section.mid(i + 1, end < 0 ? -1 : end - i - 1);
            i = end < 0 ? section.size() : end;
        } else if (c == u'#' || c == u'0') {
            seenDigits = true;
            if (inDecimals) {
                ++maxDecimals;
                if (c == u'0')
                    minDecimals = maxDecimals;
            } else if (c == u'0') {
                ++minIntegerDigits;
            }
            continue;
        } else if (c == u',' && !inDecimals) {
            grouping = true;
            continue;
        } else if (c == u'.' && !inDecimals) {
            inDecimals = true;
            continue;
        } else {
            literal = c;
        }
        (seenDigits ? after : before) += literal;
    }
    if (!seenDigits)
        return before + after;

    const double factor = std::pow(10.0, maxDecimals);
    const double rounded = std::round(std::fabs(value) * factor) / factor;
    QString digits = QString::number(rounded, 'f', maxDecimals);
    QString integerPart = Slice(digits, u"."_s);
    QString decimals = digits;
    while (decimals.size() > minDecimals && decimals.endsWith(u'0'))
        decimals.chop(1);
    if (integerPart == u"0"_s && minIntegerDigits == 0)
        integerPart.clear();
    while (integerPart.size() < minIntegerDigits)
        integerPart.prepend(u'0');
    if (grouping) {
        for (qsizetype at = integerPart.size() - 3; at > 0; at -= 3)
            integerPart.insert(at, locale.groupSeparator());
    }
    QString number = integerPart;
    if (!decimals.isEmpty())
        number += locale.decimalPoint() + decimals;
    if (value < 0 && rounded != 0)
        number.prepend(locale.negativeSign());
    return before + number + after;
}

VersionLabelModel::VersionLabelModel()
    : m_key(QString::fromLatin1(VersionLookup[vrFileVersion].key))
    , m_prefix(QString::fromLatin1(VersionLookup[vrFileVersion].prefix))
    , m_langCharset(kFirstTranslation)
    , m_dateTimeFormat(QLocale().dateFormat(QLocale::ShortFormat))
    , m_fileSizeFormat(u"#,#0\" Bytes\""_s) {}

void VersionLabelModel::SetVersionResource(TVersionResources resource) {
    m_resource = resource;
    const quint64 captionsBefore = m_captionCount;
    SetVersionResourceKey(QString::fromLatin1(VersionLookup[resource].key));
    SetInfoPrefix(QString::fromLatin1(VersionLookup[resource].prefix));
    // The member decides how the item is read, also when key and prefix stay the same.
    if (m_captionCount == captionsBefore)
        SetupCaption();
}

void VersionLabelModel::SetVersionResourceKey(const QString& key) {
    if (key == m_key)
        return;
    m_key = key;
    SetInfoPrefix(key);
}

void VersionLabelModel::SetInfoPrefix(const QString& prefix) {
    if (prefix == m_prefix)
        return;
    m_prefix = prefix;
    SetupCaption();
}

void VersionLabelModel::SetShowInfoPrefix(bool show) {
    if (show == m_showPrefix)
        return;
    m_showPrefix = show;
    SetupCaption();
}

void VersionLabelModel::SetLangCharset(const QString& langCharset) {
    if (langCharset == m_langCharset)
        return;
    m_langCharset = langCharset;
    m_langCharsetLearnt = false;
    SetupCaption();
}

void VersionLabelModel::SetFilename(const QString& filename) {
    m_filename = filename;
    // A translation learnt from the previous file need not exist in this one; one set by hand stays.
    if (m_langCharsetLearnt) {
        m_langCharset = kFirstTranslation;
        m_langCharsetLearnt = false;
    }
    SetupCaption();
}

void VersionLabelModel::SetDateTimeFormat(const QString& format) {
    if (format.isEmpty())
        return;
    m_dateTimeFormat = format;
    SetupCaption();
}

void VersionLabelModel::SetFileSizeFormat(const QString& format) {
    if (format.isEmpty())
        return;
    m_fileSizeFormat = format;
    SetupCaption();
}

void VersionLabelModel::SetupCaption() {
    m_infoString = GetInfo();
    ++m_captionCount;
    if (m_onCaption)
        m_onCaption(m_infoString);
}

QString VersionLabelModel::GetInfo() {
    QString item;
    if (m_designing) {
        item = QString::fromLatin1(kNoDesignInfo);
    } else {
        const QString file = m_filename.isEmpty() ? runningProgramPath() : m_filename;
        const std::uint32_t size = GetFileVersionInfoSizeA(file);
        QByteArray block;
        if (size == 0)
            item = QString::fromLatin1(kNoData);
        else if (!GetFileVersionInfoA(file, size + 1, block))
            item = QString::fromLatin1(kNoVersionInfo);
        else if (m_resource == vrFlags)
            item = GetFixedFileInfo(block);
        else if (m_resource == vrDateTime)
            item = GetDateTimeInfo(localPath(file));
        else if (m_resource == vrFileSize)
            item = GetFileSizeInfo(localPath(file));
        else
            item = GetStringFileInfo(block);
    }
    return m_showPrefix ? m_prefix + u' ' + item : item;
}

QString VersionLabelModel::GetFixedFileInfo(const QByteArray& block) const {
    const auto root = VerQueryValueA(block, "\\");
    if (!root)
        return QString::fromLatin1(kNoFixedInfo);
    if (root->length < 2)
        return QString();
    const std::uint32_t flags = vestrel::FixedFileInfo::fromBytes(root->data).fileFlags;
    QString text;
    for (const FlagText& f : kFlagTexts) {
        if (flags & f.bit)
            text += QString::fromLatin1(f.text);
    }
    if (text.startsWith(u','))
        text.remove(0, 2);
    return text;
}

QString VersionLabelModel::GetStringFileInfo(const QByteArray& block) {
    if (m_langCharset == kFirstTranslation) {
        const auto translation = VerQueryValueA(block, "\\VarFileInfo\\Translation");
        if (!translation || translation->length < 4)
            return QString::fromLatin1(kNoTranslation);
        const QByteArray& t = translation->data;
        // Learnt once; later reads of the same file use it directly.
        m_langCharset = QString::asprintf("%4.4X%4.4X", littleEndianWord(t, 0), littleEndianWord(t, 2));
        m_langCharsetLearnt = true;
    }
    const auto value =
        VerQueryValueA(block, cp1252::fromUnicode(u"\\StringFileInfo\\"_s + m_langCharset + u'\\' + m_key));
    if (!value)
        return QString::fromLatin1(kNoStringInfo);
    if (value->length < 2)
        return QString::fromLatin1(kNoValue);
    QString item = cp1252::toUnicode(value->data);
    if (m_resource == vrShortFileVersion) {
        QString rest = item;
        const int major = Slice(rest, u"."_s).toInt();
        const int minor = Slice(rest, u"."_s).toInt();
        item = QString::asprintf("%d.%.2d", major, minor);
    }
    return item;
}

QString VersionLabelModel::GetDateTimeInfo(const QString& file) const {
    const auto info = openedFileStatus(file);
    if (!info)
        return QString::fromLatin1(kNoFileHandle);
    const qint64 ms = qint64(info->st_mtim.tv_sec) * 1000 + info->st_mtim.tv_nsec / 1000000;
    return QLocale().toString(QDateTime::fromMSecsSinceEpoch(ms).toLocalTime(), m_dateTimeFormat);
}

QString VersionLabelModel::GetFileSizeInfo(const QString& file) const {
    const auto info = openedFileStatus(file);
    if (!info)
        return QString::fromLatin1(kNoFileHandle);
    // The whole size: files past 4 GiB are not cut to 32 bits.
    return formatNumber(double(info->st_size), m_fileSizeFormat);
}

} // namespace vestrel::versioninfo
