#include "versioninfo/VersionReport.h"

#include "platform/FileName.h"
#include "platform/FileVersionInfo.h"
#include "versioninfo/VersionInfoTypes.h"

#include "versioninfo/CompactJson.h"

#include <QStringList>

#include <algorithm>
#include <numeric>

using namespace Qt::StringLiterals;

namespace vestrel::versioninfo {

namespace {

// The key/value pairs of one string table; a key that appears twice keeps its first value, as a
// query by key finds it.
std::vector<std::pair<QString, QString>> tableValues(const VersionNode& table) {
    std::vector<std::pair<QString, QString>> values;
    for (const VersionNode& entry : table.children()) {
        // Keys are compared unit by unit, so keys of different lengths never match.
        const bool seen = std::any_of(values.begin(), values.end(), [&](const auto& kv) {
            return kv.first.size() == entry.key.size() && kv.first.compare(entry.key, Qt::CaseInsensitive) == 0;
        });
        if (!seen)
            values.emplace_back(entry.key, entry.text());
    }
    return values;
}

void appendVersionArray(QByteArray& out, std::uint32_t ms, std::uint32_t ls) {
    out += '[';
    appendJsonNumber(out, ms >> 16);
    out += ',';
    appendJsonNumber(out, ms & 0xFFFF);
    out += ',';
    appendJsonNumber(out, ls >> 16);
    out += ',';
    appendJsonNumber(out, ls & 0xFFFF);
    out += ']';
}

// The positions of `count` members in the order a JSON object lists them; of members with the same
// key only the last, which is the one such an object keeps.
template <typename KeyOf> std::vector<std::size_t> jsonKeyOrder(std::size_t count, KeyOf keyOf) {
    std::vector<std::size_t> order(count);
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return jsonKeyLess(keyOf(a), keyOf(b)); });
    std::vector<std::size_t> kept;
    kept.reserve(count);
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (i + 1 == order.size() || jsonKeyLess(keyOf(order[i]), keyOf(order[i + 1])))
            kept.push_back(order[i]);
    }
    return kept;
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
    report.translations = versionTranslations(*root);

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
    QByteArray out;
    appendReportJson(out, report);
    return out;
}

void appendReportJson(QByteArray& out, const FileVersionReport& report) {
    // Keys in the order a JSON object keeps them.
    if (!report.error.isEmpty()) {
        out += "{\"error\":";
        appendJsonString(out, report.error);
        out += ",\"file\":";
        appendJsonString(out, report.file);
        out += '}';
        return;
    }
    out += "{\"file\":";
    appendJsonString(out, report.file);
    out += ",\"fixed\":";
    if (report.fixed) {
        const FixedFileInfo& f = *report.fixed;
        out += "{\"file_version\":";
        appendVersionArray(out, f.fileVersionMS, f.fileVersionLS);
        out += ",\"flags\":";
        appendJsonNumber(out, f.fileFlags);
        out += ",\"os\":";
        appendJsonNumber(out, f.fileOS);
        out += ",\"product_version\":";
        appendVersionArray(out, f.productVersionMS, f.productVersionLS);
        out += ",\"subtype\":";
        appendJsonNumber(out, f.fileSubtype);
        out += ",\"type\":";
        appendJsonNumber(out, f.fileType);
        out += '}';
    } else {
        out += "null";
    }
    out += ",\"strings\":{";
    const auto& tables = report.strings;
    bool firstTable = true;
    for (const std::size_t t : jsonKeyOrder(tables.size(), [&](std::size_t i) { return QStringView(tables[i].id); })) {
        if (!firstTable)
            out += ',';
        firstTable = false;
        appendJsonString(out, tables[t].id);
        out += ":{";
        const auto& values = tables[t].values;
        bool firstValue = true;
        for (const std::size_t v :
             jsonKeyOrder(values.size(), [&](std::size_t i) { return QStringView(values[i].first); })) {
            if (!firstValue)
                out += ',';
            firstValue = false;
            appendJsonString(out, values[v].first);
            out += ':';
            appendJsonString(out, values[v].second);
        }
        out += '}';
    }
    out += "},\"translations\":[";
    for (std::size_t i = 0; i < report.translations.size(); ++i) {
        if (i > 0)
            out += ',';
        appendJsonString(out, report.translations[i].id());
    }
    out += "]}";
}

QByteArray reportText(const FileVersionReport& report) {
    QString text;
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
    // The name as the file system holds it, also when it is not UTF-8.
    return encodeFileName(report.file) + ":\n" + text.toUtf8();
}

} // namespace vestrel::versioninfo
