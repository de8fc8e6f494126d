#pragma once

#include "platform/IniFile.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QTime>

#include <memory>

namespace vestrel::backup {

// backup.ini: the backup plan, prepared by the administrator and only read here. Every key is
// optional; these are the keys and their defaults.
namespace backupini {

inline constexpr char Setup[] = "Setup";
inline constexpr char Daily[] = "Daily";
inline constexpr char Week[] = "Week";
inline constexpr char Month[] = "Month";
inline constexpr char Database[] = "Database";
inline constexpr char File[] = "File";

enum Frequency { FreqDaily = 0, FreqWeekly = 1, FreqMonthly = 2 };
inline constexpr int DefaultFreq = FreqDaily;
inline const QTime DefaultOra{9, 0};
inline constexpr int DefaultCompressed = 0;
inline constexpr bool DefaultFileDefault = true;
inline constexpr bool DefaultDailyDue = true;
inline constexpr int DefaultWeekDay = 0;  // Monday
inline constexpr int DefaultMonthDay = 0; // the 1st
inline constexpr int LastDayOfMonth = 28;
inline constexpr char DefaultUser[] = "SYSDBA";
inline constexpr char DefaultPassword[] = "tavernfog";
inline constexpr bool DefaultVerify = true;

} // namespace backupini

// "backup.ini" in the program directory; a missing file reads as empty. The caller owns the reader.
std::unique_ptr<IniFile> OpenBackupIni();

int ReadFreq(const IniFile& backupIni);
// [Setup] "Ora": hours and minutes separated by "." or ":"; a value that does not read is 09:00.
QTime ReadOra(const IniFile& backupIni);
// [Setup] "Path" as written; the default is the program directory's "database\backup". A Path that is
// present but empty raises BackupError: it would put the backups at the top of the file system.
QByteArray ReadBackupRoot(const IniFile& backupIni);
// True when [Setup] "Compressed" is 0: back up through the server's backup service.
bool ReadServerRoute(const IniFile& backupIni);
bool ReadFileDefault(const IniFile& backupIni);
// [Setup] "Verify": check every backup after it is written (default on).
bool ReadVerify(const IniFile& backupIni);
// [Setup] "OnFailure": the command to run after a run with failures; empty for none.
QByteArray ReadOnFailure(const IniFile& backupIni);

// Raises BackupError when the settings file `path` exists but cannot be read: the run must not fall
// back to the defaults of a plan it could not see.
void RequireReadable(const QString& path);

// What in backup.ini the service does not take as written: a value that falls back to its default
// ("backup.ini [Setup] Freq=abc: not a number, 0 is used"), a key or section it does not know, a line
// it ignores. Empty for a clean file.
QByteArrayList CheckBackupIni(const IniFile& backupIni);
// The database settings in config.ini that the service reads, with the service's own defaults.
struct ConfiguredDatabase {
    QByteArray host;
    QByteArray file;
    int protocol = 0;
    QByteArray user;
    QByteArray password;
};
// Section "Database" (with "protocollo") or "Database Ag".
ConfiguredDatabase ReadConfiguredDatabase(const IniFile& configIni, const QByteArray& section);

} // namespace vestrel::backup
