#pragma once

#include "chat/HistoryLine.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace vestrel::chat {

enum class HistoryExportFormat { PlainText, Csv };

// The lines as the chosen format writes them, in cp1252 with CR LF line ends as every text file of the
// office. Plain text: date, time and the line as the pane showed it. CSV: one row per line, fields
// separated by ";" (what spreadsheets expect in an Italian office) and always quoted.
QByteArray formatHistory(const QList<HistoryLine>& lines, HistoryExportFormat format);

// Writes the export atomically; false with `error` set when the file cannot be written.
bool writeHistoryExport(const QString& path, const QList<HistoryLine>& lines, HistoryExportFormat format,
                        QString* error);

} // namespace vestrel::chat
