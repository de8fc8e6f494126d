#pragma once

#include <QByteArray>
#include <QString>

namespace vestrel::backup {

// Checks of a backup before it replaces the previous one. Each raises BackupError saying what failed.

// Restores the server backup `backupFile` (as the server sees it) through the services manager of
// `server` into a scratch database beside it, reads every user table of the restored database to its
// end, and drops the scratch database.
void VerifyServerBackup(const QByteArray& server, const QByteArray& user, const QByteArray& password,
                        const QByteArray& backupFile, bool local);

// Validates the copied database file `copy` (on this machine) through the services manager of the
// local server, with the checks of a full validation that changes nothing.
void VerifyCopy(const QString& copy, const QByteArray& user, const QByteArray& password);

} // namespace vestrel::backup
