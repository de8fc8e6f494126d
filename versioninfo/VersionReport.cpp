#include "versioninfo/VersionReport.h"

#include "platform/FileVersionInfo.h"
#include "versioninfo/VersionInfoTypes.h"

#include <QJsonArray>
#include <QStringList>

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace vestrel {

namespace {

// The key/value pairs of one string table; a key that appears twice keeps its first value, as a
// query by key finds it.
std::vector<std::pair<QString, QString>> tableValues(const VersionNode& table) {
    std::vector<std::pair<QString, QString>> values;
    for (const VersionNode& entry : table.children()) {
        const bool seen = std::any_of(values.begin(), values.end(), [&](const auto& kv) {
            return kv.first.compare(entry.key, Qt::CaseInsensitive) == 0;
        });
        if (!seen)
            values.emplace_back(entry.key, entry.text());
    }
    return values;
}

QJsonArray versionArray(std::uint32_t ms, std::uint32_t ls) {
    return QJsonArray{int(ms >> 16), int(ms & 0xFFFF), int(ls >> 16), int(ls & 0xFFFF)};
}

QString versionText(std::uint32_t ms, std::uint32_t ls) {
    return QString::asprintf("%u.%u.%u.%u", ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF);
}

} // namespace

FileVersionReport readFileVersionReport(const QString& path) {
    FileVersionReport report;
    report.file = path;
    const VersionResourceRead read = readVersionResource(path);
    if (read.status == VersionResourceRead::Status::Unreadable ||
        read.status == VersionResourceRead::Status::NotAProgram) {
        report.error = read.error;
        return report;
    }
    return versionBlockReport(path, read.block);
}

FileVersionReport versionBlockReport(const QString& file, const QByteArray& block) {
    FileVersionReport report;
    report.file = file;
    const auto root = readVersionBlock(block);
    if (!root)
        return report;
    if (!root->value.isEmpty())
        report.fixed = FixedFileInfo::fromBytes(root->value);
    report.translations = versionTranslations(block);

    const auto stringInfo = root->child(u"StringFileInfo");
    const std::vector<VersionNode> tables = stringInfo ? stringInfo->children() : std::vector<VersionNode>();
    std::vector<bool> listed(tables.size(), false);
    for (const VersionTranslation& t : report.translations) {
        const QString id = t.id();
        if (std::any_of(report.strings.begin(), report.strings.end(), [&](const auto& s) { return s.id == id; }))
            continue;
        FileVersionReport::Table table{id, {}};
        bool matched = false; // a query finds the first table of that name
        for (std::size_t i = 0; i < tables.size(); ++i) {
            if (tables[i].key.compare(id, Qt::CaseInsensitive) == 0) {
                if (!matched)
                    table.values = tableValues(tables[i]);
                matched = true;
                listed[i] = true;
            }
        }
        report.strings.push_back(std::move(table));
    }
    for (std::size_t i = 0; i < tables.size(); ++i) {
        if (listed[i])
            continue;
        const QString id = tables[i].key.toUpper();
        if (std::any_of(report.strings.begin(), report.strings.end(), [&](const auto& s) { return s.id == id; }))
            continue;
        report.strings.push_back(FileVersionReport::Table{id, tableValues(tables[i])});
    }
    return report;
}

QByteArray reportJson(const FileVersionReport& report) {
    QJsonObject object{{u"file"_s, report.file}};
    if (!report.error.isEmpty()) {
        object.insert(u"error"_s, report.error);
        return QJsonDocument(object).toJson(QJsonDocument::Compact);
    }
    if (report.fixed) {
        const FixedFileInfo& f = *report.fixed;
        object.insert(u"fixed"_s,
                      QJsonObject{{u"file_version"_s, versionArray(f.fileVersionMS, f.fileVersionLS)},
                                  {u"product_version"_s, versionArray(f.productVersionMS, f.productVersionLS)},
                                  {u"flags"_s, qint64(f.fileFlags)},
                                  {u"os"_s, qint64(f.fileOS)},
                                  {u"type"_s, qint64(f.fileType)},
                                  {u"subtype"_s, qint64(f.fileSubtype)}});
    } else {
        object.insert(u"fixed"_s, QJsonValue::Null);
    }
    QJsonArray translations;
    for (const VersionTranslation& t : report.translations)
        translations.append(t.id());
    object.insert(u"translations"_s, translations);
    QJsonObject strings;
    for (const FileVersionReport::Table& table : report.strings) {
        QJsonObject values;
        for (const auto& [key, value] : table.values)
            values.insert(key, value);
        strings.insert(table.id, values);
    }
    object.insert(u"strings"_s, strings);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray reportText(const FileVersionReport& report) {
    QString text = report.file + u":\n"_s;
    const auto line = [&](const QString& label, const QString& value) {
        text += u"  "_s + label.leftJustified(17) + value + u'\n';
    };
    if (!report.fixed) {
        line(u"fixed info"_s, u"none"_s);
    } else {
        const FixedFileInfo& f = *report.fixed;
        line(u"file version"_s, versionText(f.fileVersionMS, f.fileVersionLS));
        line(u"product version"_s, versionText(f.productVersionMS, f.productVersionLS));
        const QString flagNames = fixedFileInfoFlagNames(fixedFileInfoFlags(f.fileFlags));
        line(u"flags"_s,
             QString::asprintf("0x%08X", f.fileFlags) + (flagNames.isEmpty() ? QString() : u" ("_s + flagNames + u')'));
        line(u"OS"_s, QString::asprintf("0x%08X", f.fileOS));
        line(u"type"_s, QString::asprintf("0x%08X", f.fileType));
        line(u"subtype"_s, QString::asprintf("0x%08X", f.fileSubtype));
        const std::uint64_t fileTime = (std::uint64_t(f.fileDateMS) << 32) | f.fileDateLS;
        const QDateTime date = fileTimeToDateTime(fileTime);
        line(u"date"_s, fileTime == 0    ? u"none"_s
                        : date.isValid() ? date.toString(Qt::ISODate)
                                         : QString::asprintf("0x%016llX", static_cast<unsigned long long>(fileTime)));
    }
    QStringList ids;
    for (const VersionTranslation& t : report.translations)
        ids.append(t.id());
    line(u"translations"_s, ids.isEmpty() ? u"none"_s : ids.join(u' '));
    for (const FileVersionReport::Table& table : report.strings) {
        text += u"  strings "_s + table.id + u":\n"_s;
        for (const auto& [key, value] : table.values)
            text += u"    "_s + key + u": "_s + value + u'\n';
    }
    return text.toUtf8();
}

} // namespace vestrel
