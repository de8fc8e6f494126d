#pragma once

#include "platform/VersionBlock.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace vestrel::versioninfo {

// Everything the verinfo tool prints of one file. Texts are taken straight from the file's UTF-16.
struct FileVersionReport {
    QString file;
    QString error; // not empty when the file could not be read
    std::optional<FixedFileInfo> fixed;
    std::vector<VersionTranslation> translations;
    // One table per translation, in translation order (empty when the file has no table for it),
    // then the tables no translation names; each with its key → value pairs in file order.
    struct Table {
        QString id;
        std::vector<std::pair<QString, QString>> values;
    };
    std::vector<Table> strings;
};

FileVersionReport readFileVersionReport(const QString& path);
// The report of a version block already read (empty for a block that holds nothing).
FileVersionReport versionBlockReport(const QString& file, const QByteArray& block);
// One line of JSON, without the line end: the text QJsonDocument writes in compact form.
QByteArray reportJson(const FileVersionReport& report);
// The same, appended to `out`.
void appendReportJson(QByteArray& out, const FileVersionReport& report);
// A readable block of lines; errors are left to the caller.
QByteArray reportText(const FileVersionReport& report);

} // namespace vestrel::versioninfo
