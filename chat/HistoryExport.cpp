#include "chat/HistoryExport.h"

#include "platform/Cp1252.h"

#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace vestrel::chat {

namespace {

QString csvField(QString text) {
    return u'"' + text.replace(u'"', u"\"\""_s) + u'"';
}

} // namespace

QByteArray formatHistory(const QList<HistoryLine>& lines, HistoryExportFormat format) {
    QString out;
    if (format == HistoryExportFormat::Csv)
        out += u"\"Data\";\"Ora\";\"Mittente\";\"Destinatario\";\"Privato\";\"Messaggio\"\r\n"_s;
    for (const HistoryLine& line : lines) {
        const QDateTime when = line.when.toLocalTime();
        const QString date = when.toString(u"dd/MM/yyyy"_s);
        const QString time = when.toString(u"HH:mm:ss"_s);
        if (format == HistoryExportFormat::PlainText) {
            out += date + u' ' + time + u' ' + line.paneText() + u"\r\n"_s;
        } else {
            const QStringList fields{csvField(date),
                                     csvField(time),
                                     csvField(line.sender),
                                     csvField(line.recipient),
                                     csvField(line.isPrivate ? u"s\u00EC"_s : u"no"_s),
                                     csvField(line.body)};
            out += fields.join(u';') + u"\r\n"_s;
        }
    }
    return cp1252::fromUnicode(out);
}

bool writeHistoryExport(const QString& path, const QList<HistoryLine>& lines, HistoryExportFormat format,
                        QString* error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(formatHistory(lines, format)) < 0 || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace vestrel::chat
