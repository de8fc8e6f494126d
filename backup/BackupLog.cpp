#include "backup/BackupLog.h"

#include "backup/BackupLogging.h"
#include "platform/Cp1252.h"
#include "platform/ProgramDir.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcBackup, "vestrel.backup")

namespace vestrel::backup {

namespace {

void appendLine(const QByteArray& line) {
    QFile file(BackupLogPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        throw BackupLogError("cannot open " + file.fileName().toStdString() + ": " + file.errorString().toStdString());
    const QByteArray bytes = line + "\r\n";
    if (file.write(bytes) != bytes.size() || !file.flush())
        throw BackupLogError("cannot write " + file.fileName().toStdString() + ": " + file.errorString().toStdString());
    file.close();
}

QByteArray dateText(const QDateTime& now) {
    return cp1252::fromUnicode(QLocale::system().toString(now.date(), QLocale::ShortFormat));
}

// The locale's long time form without the time zone, which the Windows form never shows.
QByteArray timeText(const QDateTime& now) {
    const QLocale locale = QLocale::system();
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(u" t"_s).remove(u't');
    return cp1252::fromUnicode(locale.toString(now.time(), format.trimmed()));
}

} // namespace

QString BackupLogPath() {
    return programFile(u"backup.log"_s);
}

void WriteBackupLog(const QByteArray& text, LogLevel level) {
    const QDateTime now = QDateTime::currentDateTime();
    // One event, one line: a server message of several lines is joined.
    QByteArray oneLine = text;
    oneLine.replace("\r\n", " ").replace('\n', ' ').replace('\r', ' ');
    const QString shown = cp1252::toUnicode(oneLine);
    switch (level) {
    case LogLevel::Error:
        qCCritical(lcBackup).noquote() << shown;
        break;
    case LogLevel::Warning:
        qCWarning(lcBackup).noquote() << shown;
        break;
    case LogLevel::Info:
        qCInfo(lcBackup).noquote() << shown;
        break;
    }
    appendLine(dateText(now) + ' ' + timeText(now) + ' ' + oneLine);
}

void WriteBackupLog(const QString& text, LogLevel level) {
    WriteBackupLog(cp1252::fromUnicode(text), level);
}

void WriteServiceLog(bool started) {
    const QDateTime now = QDateTime::currentDateTime();
    appendLine(QByteArray(started ? "Service started " : "Service stopped ") + dateText(now) + ' ' + timeText(now));
}

} // namespace vestrel::backup
