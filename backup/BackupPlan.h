#pragma once

#include "platform/IniFile.h"

#include <QByteArray>
#include <QByteArrayList>

#include <vector>

namespace vestrel::backup {

// One database a run backs up, as the plan names it.
struct PlannedBackup {
    QByteArray origin; // where the plan names it, for messages: "config.ini [Database]", "table DB", ...
    QByteArray host;   // empty for this machine
    QByteArray path;   // as the server sees it; a bare file name is already taken from the "database" folder
    QByteArray user;
    QByteArray password;
    // The backup file (a composed path) in the run's folder.
    QByteArray backupFile;
    // Set when another database of the plan has the same file name: the backup file carries it.
    QByteArray distinguisher;
    // The same database named a second time: backed up once, this entry is skipped.
    bool repeated = false;
    // Set when the entry could not be read from the plan (the catalogue could not be opened): the run
    // reports this failure in its place.
    QByteArray failure;

    // The whole connection string: "host:path", or the path alone.
    QByteArray connection() const { return host.isEmpty() ? path : host + ':' + path; }
};

struct BackupPlan {
    QByteArray root;   // [Setup] "Path"
    QByteArray folder; // the run's rotation folder
    bool serverRoute = true;
    std::vector<PlannedBackup> databases;
};

// Reads the list of databases: the main database of config.ini, the databases of its catalogue (table
// DB, then the first row of IMP_CONTAB), the database of [Database Ag] and the [File] entries, in that
// order. A catalogue that cannot be read becomes one failed entry; the rest of the plan stands. With
// `readCatalogue` false the catalogue is named but not read (the configuration check makes no
// connection).
BackupPlan CollectBackupPlan(const IniFile& backupIni, const IniFile& configIni, const QByteArray& folder,
                             bool readCatalogue = true);

// Gives every database its backup file in `plan.folder`: the usual name where it is unique; where two
// databases would share a file (the same file name in two folders or on two hosts), each gets a short
// distinguisher derived from its whole connection string before the extension. A database named twice
// is marked repeated.
void AssignBackupFiles(BackupPlan& plan);

// The distinguisher of a connection string: eight hexadecimal digits, the same in every run.
QByteArray Distinguisher(const QByteArray& connection);

} // namespace vestrel::backup
