#include "backup/BackupPlan.h"

#include "backup/BackupLogging.h"
#include "backup/BackupPaths.h"
#include "backup/BackupSettings.h"
#include "fb/Connection.h"
#include "fb/DatabaseName.h"
#include "fb/FbError.h"
#include "fb/Query.h"
#include "platform/Cp1252.h"
#include "platform/ProgramDir.h"
#include "reminders/dbNameUtils.h"

#include <QCryptographicHash>
#include <QDir>
#include <QHash>

namespace vestrel::backup {

namespace {

QByteArray programDatabaseFolder() {
#ifdef _WIN32
    return cp1252::fromUnicode(QDir::toNativeSeparators(programDirectory())) + "database\\";
#else
    return cp1252::fromUnicode(programDirectory()) + "database/";
#endif
}

PlannedBackup planned(const QByteArray& origin, const QByteArray& host, const QByteArray& path, const QByteArray& user,
                      const QByteArray& password) {
    PlannedBackup entry;
    entry.origin = origin;
    entry.host = host;
    entry.path = path;
    if (!entry.path.contains('/') && !entry.path.contains('\\'))
        entry.path = programDatabaseFolder() + entry.path;
    entry.user = user;
    entry.password = password;
    return entry;
}

// Steps of the catalogue: the active rows of DB, then the first row of IMP_CONTAB.
void readCatalogue(const ConfiguredDatabase& main, const IniFile& backupIni, std::vector<PlannedBackup>& out) {
    fb::Connection connection;
    connection.setDatabaseName(reminders::ComposeDatabaseName(main.host, main.file, main.protocol));
    connection.setParams({"user_name=" + main.user, "password=" + main.password});
    connection.Open();
    connection.StartTransaction();
    {
        fb::Query query(connection.attachment(), connection.transaction(), "select * from DB where FINACTIVE = 0");
        query.Open();
        for (query.First(); !query.Eof(); query.Next())
            out.push_back(planned("table DB", query.FieldByName("HOST").asText(), query.FieldByName("FILEDB").asText(),
                                  query.FieldByName("UID").asText(), query.FieldByName("PWD").asText()));
        query.Close();
    }
    connection.Commit();
    connection.StartTransaction();

    // The accounting database is optional: no table or no row means nothing to back up.
    QByteArray accounting;
    try {
        fb::Query query(connection.attachment(), connection.transaction(), "select GDB_CONT from IMP_CONTAB");
        query.Open();
        query.First();
        if (!query.Eof())
            accounting = query.FieldByName("GDB_CONT").asText();
        query.Close();
    } catch (const fb::FbError& e) {
        qCInfo(lcBackup) << "no accounting database to back up:" << e.what();
    }
    if (!accounting.trimmed().isEmpty()) {
        const fb::DatabaseNameParts parts = fb::DecomposeDatabaseName(accounting);
        out.push_back(planned("table IMP_CONTAB", parts.server, parts.path,
                              backupIni.ReadString(backupini::Database, "user", backupini::DefaultUser),
                              backupIni.ReadString(backupini::Database, "pwd", backupini::DefaultPassword)));
    }
    if (connection.InTransaction())
        connection.Commit();
    connection.Close();
}

QByteArray defaultBackupFile(const BackupPlan& plan, const PlannedBackup& entry) {
    return plan.serverRoute ? ServerBackupFileName(plan.folder, entry.path)
                            : CopyBackupFileName(plan.folder, entry.path);
}

QByteArray withDistinguisher(const QByteArray& file, const QByteArray& distinguisher) {
    const qsizetype separator = std::max(file.lastIndexOf('/'), file.lastIndexOf('\\'));
    const qsizetype dot = file.lastIndexOf('.');
    if (dot <= separator + 1)
        return file + '-' + distinguisher;
    return file.left(dot) + '-' + distinguisher + file.mid(dot);
}

} // namespace

BackupPlan CollectBackupPlan(const IniFile& backupIni, const IniFile& configIni, const QByteArray& folder,
                             bool withCatalogue) {
    BackupPlan plan;
    plan.root = ReadBackupRoot(backupIni);
    plan.folder = folder;
    plan.serverRoute = ReadServerRoute(backupIni);
    const ConfiguredDatabase main = ReadConfiguredDatabase(configIni, "Database");
    if (ReadFileDefault(backupIni)) {
        if (main.file.isEmpty()) {
            PlannedBackup missing;
            missing.origin = "config.ini [Database]";
            missing.failure = "config.ini names no database file in section [Database]";
            plan.databases.push_back(missing);
        } else {
            plan.databases.push_back(planned("config.ini [Database]", main.host, main.file, main.user, main.password));
            if (withCatalogue) {
                try {
                    readCatalogue(main, backupIni, plan.databases);
                } catch (const std::exception& e) {
                    PlannedBackup catalogue;
                    catalogue.origin = "table DB";
                    catalogue.failure = "the list of databases in " + main.file + " cannot be read: " + e.what();
                    plan.databases.push_back(catalogue);
                }
            }
        }
        // The second database is optional: without a file name there is nothing to back up.
        const ConfiguredDatabase second = ReadConfiguredDatabase(configIni, "Database Ag");
        if (!second.file.isEmpty())
            plan.databases.push_back(
                planned("config.ini [Database Ag]", second.host, second.file, second.user, second.password));
    }
    for (const QByteArray& key : backupIni.ReadSection(backupini::File)) {
        const fb::DatabaseNameParts parts = fb::DecomposeDatabaseName(key);
        plan.databases.push_back(planned("backup.ini [File]", parts.server, parts.path, main.user, main.password));
    }
    return plan;
}

QByteArray Distinguisher(const QByteArray& connection) {
    return QCryptographicHash::hash(connection, QCryptographicHash::Sha256).toHex().left(8);
}

void AssignBackupFiles(BackupPlan& plan) {
    // File names compare without regard to case: Windows folders and shared folders do so.
    QHash<QByteArray, QList<qsizetype>> byFile;
    QHash<QByteArray, qsizetype> byConnection;
    for (qsizetype i = 0; i < qsizetype(plan.databases.size()); ++i) {
        PlannedBackup& entry = plan.databases[size_t(i)];
        if (!entry.failure.isEmpty())
            continue;
        const QByteArray connection = entry.connection().toLower();
        if (byConnection.contains(connection)) {
            entry.repeated = true;
            continue;
        }
        byConnection.insert(connection, i);
        entry.backupFile = defaultBackupFile(plan, entry);
        byFile[entry.backupFile.toLower()].append(i);
    }
    for (const QList<qsizetype>& sharing : std::as_const(byFile)) {
        if (sharing.size() < 2)
            continue;
        for (qsizetype i : sharing) {
            PlannedBackup& entry = plan.databases[size_t(i)];
            entry.distinguisher = Distinguisher(entry.connection());
            entry.backupFile = withDistinguisher(entry.backupFile, entry.distinguisher);
        }
    }
    for (PlannedBackup& entry : plan.databases) {
        if (entry.repeated)
            entry.backupFile = plan.databases[size_t(byConnection.value(entry.connection().toLower()))].backupFile;
    }
}

} // namespace vestrel::backup
