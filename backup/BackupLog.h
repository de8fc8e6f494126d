#pragma once

#include <QByteArray>
#include <QString>

#include <stdexcept>

namespace vestrel::backup {

// Raised when a line cannot be added to backup.log.
class BackupLogError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// backup.log in the program directory. Every line is appended on its own (the file is opened, written,
// flushed and closed each time, never held open) and ends with CR LF; text is cp1252.
QString BackupLogPath();

// How a line also reaches the journal (and stderr): "Error " lines as errors, so that a filter on
// errors shows every failure.
enum class LogLevel { Info, Warning, Error };

// A backup or error line: the locale's short date, its long time and `text`, separated by blanks. The
// text also goes to the logging category at `level`.
void WriteBackupLog(const QByteArray& text, LogLevel level = LogLevel::Info);
void WriteBackupLog(const QString& text, LogLevel level = LogLevel::Info);

// "Service started <date> <time>" (true) or "Service stopped <date> <time>" (false).
void WriteServiceLog(bool started);

} // namespace vestrel::backup
