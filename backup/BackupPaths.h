#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>

namespace vestrel::backup {

// The folder of one run: the backup root ("Path") without one trailing "\", the separator ("/" when the
// root starts with "/", "\" otherwise) and the rotating sub-folder of the day.
QByteArray BackupTargetFolder(const QByteArray& root, int freq, QDate day);

// Creates `folder` (a composed path; "\" and "/" both separate) with its missing parents. New folders
// take the permissions of the nearest folder that already exists, so that a database server allowed
// to write in the backup root may also write in the rotation folders. Raises std::runtime_error.
void CreateBackupFolder(const QByteArray& folder);

// The part of `path` after its last "\", "/" or ":".
QByteArray ExtractFileName(const QByteArray& path);

// The backup file of a server backup of `databasePath`: with a "/" in the path, folder "/" and the part
// after the last "/", else folder "\" and the file-name part; the extension becomes ".gbk".
QByteArray ServerBackupFileName(const QByteArray& folder, const QByteArray& databasePath);

// The destination of a copy backup: the folder, its separator ("/" for a folder that starts with "/",
// else "\") and the file-name part, extension kept.
QByteArray CopyBackupFileName(const QByteArray& folder, const QByteArray& databasePath);

// A composed path made usable on this system.
QString LocalBackupPath(const QByteArray& composed);

} // namespace vestrel::backup
