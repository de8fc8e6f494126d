#include "backup/backupFunction.h"

#include "backup/BackupLog.h"
#include "backup/BackupLogging.h"
#include "backup/BackupPaths.h"
#include "backup/BackupSettings.h"
#include "backup/FileCopy.h"
#include "fb/Connection.h"
#include "fb/DatabaseName.h"
#include "fb/FbError.h"
#include "fb/Query.h"
#include "fb/ServiceManager.h"
#include "platform/Cp1252.h"
#include "platform/ProgramDir.h"
#include "reminders/dbNameUtils.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QSysInfo>
#include <QThread>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace vestrel::backup {

namespace {

constexpr int BackupOptions = fb::ServiceManager::IgnoreLimbo | fb::ServiceManager::NonTransportable;

QByteArray programDatabaseFolder() {
#ifdef _WIN32
    return cp1252::fromUnicode(QDir::toNativeSeparators(programDirectory())) + "database\\";
#else
    return cp1252::fromUnicode(programDirectory()) + "database/";
#endif
}

// The pause follows every attached backup, also a failed one, as the server may still be busy.
void pause(int ms) {
    if (ms > 0)
        QThread::msleep(ulong(ms));
}

bool backupThroughServer(const QByteArray& host, const QByteArray& path, const QByteArray& user,
                         const QByteArray& password, const QByteArray& folder, int pauseMs) {
    const QByteArray backupFile = ServerBackupFileName(folder, path);
    const QByteArray server = host.isEmpty() ? QByteArray("127.0.0.1") : host;
    fb::ServiceManager manager;
    try {
        manager = fb::ServiceManager::attach(server, user, password);
    } catch (const fb::FbError& e) {
        throw BackupError(path.toStdString() + ": " + e.what());
    }

    // A server on this machine writes into a temporary file that replaces the last backup only once
    // the server reports success, so a failed backup never destroys the previous one. A remote server
    // writes into its own file system, where only it can rename; it writes the final name directly.
    const bool local = IsLocalHost(host);
    const QString finalLocal = LocalBackupPath(backupFile);
    const QString partLocal = finalLocal + u".part"_s;
    const QByteArray target = local ? QFile::encodeName(partLocal) : QFile::encodeName(finalLocal);
    try {
        manager.startBackup(path, target, BackupOptions);
        WriteBackupLog(backupFile);
        manager.waitForEnd();
    } catch (const std::exception& e) {
        if (local)
            QFile::remove(partLocal);
        manager = fb::ServiceManager(); // detaches; the backup's own failure is the one to report
        pause(pauseMs);
        throw BackupError(path.toStdString() + ": " + e.what());
    }
    // The server has reported success; a detach that fails changes nothing about the backup.
    manager = fb::ServiceManager();
    if (local) {
#ifdef _WIN32
        QFile::remove(finalLocal);
        const bool replaced = QFile::rename(partLocal, finalLocal);
#else
        // rename() replaces the old backup in one step: there is always one complete backup.
        const bool replaced =
            std::rename(QFile::encodeName(partLocal).constData(), QFile::encodeName(finalLocal).constData()) == 0;
#endif
        if (!replaced)
            throw BackupError("cannot replace " + finalLocal.toStdString() + " with the new backup");
    }
    pause(pauseMs);
    return true;
}

bool backupByCopy(const QByteArray& host, const QByteArray& path, const QByteArray& folder) {
    const QByteArray destination = CopyBackupFileName(folder, path);
    QByteArray source = reminders::ComposeDatabaseName(host, path, 1);
    if (!host.isEmpty()) {
        const qsizetype colon = source.indexOf(':');
        if (colon >= 0)
            source.remove(colon, 1);
    }
    QString sourceLocal = LocalBackupPath(path);
    if (!host.isEmpty() && !IsLocalHost(host)) {
#ifdef _WIN32
        sourceLocal = cp1252::toUnicode(source);
#else
        throw BackupError(source.toStdString() + ": a copy backup reads only files of this machine; " +
                          "back up the database on " + host.toStdString() + " through its server instead");
#endif
    }
    const QString failure = CopyFileAtomically(sourceLocal, LocalBackupPath(destination));
    if (!failure.isEmpty())
        throw BackupError(source.toStdString() + ": " + failure.toStdString());
    WriteBackupLog(destination);
    return true;
}

bool stopping(const BackupRunOptions& options) {
    return options.stopRequested && options.stopRequested();
}

// Steps 5 to 8: the databases listed in the main database.
void backupCatalogue(const ConfiguredDatabase& main, const IniFile& backupIni, const QByteArray& folder,
                     bool serverRoute, const BackupRunOptions& options, BackupRunResult& result) {
    fb::Connection connection;
    connection.setDatabaseName(reminders::ComposeDatabaseName(main.host, main.file, main.protocol));
    connection.setParams({"user_name=" + main.user, "password=" + main.password});
    connection.Open();
    connection.StartTransaction();
    {
        fb::Query query(connection.attachment(), connection.transaction(), "select * from DB where FINACTIVE = 0");
        query.Open();
        for (query.First(); !query.Eof(); query.Next()) {
            if (stopping(options)) {
                result.stopped = true;
                return;
            }
            BackupDatabase(query.FieldByName("HOST").asText(), query.FieldByName("FILEDB").asText(),
                           query.FieldByName("UID").asText(), query.FieldByName("PWD").asText(), folder, serverRoute,
                           options.pauseMs);
            ++result.backedUp;
        }
        query.Close();
    }
    connection.Commit();
    connection.StartTransaction();

    // The accounting database is optional: no table or no row means nothing to back up. Its backup
    // failing is logged but does not end the run.
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
    if (!accounting.trimmed().isEmpty() && !stopping(options)) {
        const fb::DatabaseNameParts parts = fb::DecomposeDatabaseName(accounting);
        try {
            BackupDatabase(parts.server, parts.path,
                           backupIni.ReadString(backupini::Database, "user", backupini::DefaultUser),
                           backupIni.ReadString(backupini::Database, "pwd", backupini::DefaultPassword), folder,
                           serverRoute, options.pauseMs);
            ++result.backedUp;
        } catch (const std::exception& e) {
            qCWarning(lcBackup) << "backup of the accounting database failed:" << e.what();
            WriteBackupLog("Error " + QByteArray(e.what()));
            ++result.failed;
        }
    }
    if (connection.InTransaction())
        connection.Commit();
    connection.Close();
}

} // namespace

bool IsLocalHost(const QByteArray& host) {
    if (host.isEmpty())
        return true;
    const QString name = cp1252::toUnicode(host);
    if (name.compare(u"localhost"_s, Qt::CaseInsensitive) == 0 ||
        name.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(name);
    return !address.isNull() && address.isLoopback();
}

bool BackupDatabase(const QByteArray& host, const QByteArray& path, const QByteArray& user, const QByteArray& password,
                    const QByteArray& folder, bool serverRoute, int pauseMs) {
    QByteArray databasePath = path;
    if (!databasePath.contains('/') && !databasePath.contains('\\'))
        databasePath = programDatabaseFolder() + databasePath;
    if (serverRoute)
        return backupThroughServer(host, databasePath, user, password, folder, pauseMs);
    return backupByCopy(host, databasePath, folder);
}

BackupRunResult RunBackupPlan(const BackupRunOptions& options) {
    const std::unique_ptr<IniFile> backupIni = OpenBackupIni();
    const std::unique_ptr<IniFile> configIni = reminders::OpenConfigIni();
    const bool serverRoute = ReadServerRoute(*backupIni);
    const QByteArray folder =
        BackupTargetFolder(ReadBackupRoot(*backupIni), ReadFreq(*backupIni), QDate::currentDate());
    CreateBackupFolder(folder);

    BackupRunResult result;
    const ConfiguredDatabase main = ReadConfiguredDatabase(*configIni, "Database");
    if (ReadFileDefault(*backupIni)) {
        if (main.file.isEmpty())
            throw BackupError("config.ini names no database file in section [Database]");
        if (!BackupDatabase(main.host, main.file, main.user, main.password, folder, serverRoute, options.pauseMs))
            return result;
        ++result.backedUp;
        backupCatalogue(main, *backupIni, folder, serverRoute, options, result);
        if (result.stopped)
            return result;

        // The second database is optional: without a file name there is nothing to back up.
        const ConfiguredDatabase second = ReadConfiguredDatabase(*configIni, "Database Ag");
        if (!second.file.isEmpty()) {
            if (stopping(options)) {
                result.stopped = true;
                return result;
            }
            BackupDatabase(second.host, second.file, second.user, second.password, folder, serverRoute,
                           options.pauseMs);
            ++result.backedUp;
        }
    }

    for (const QByteArray& key : backupIni->ReadSection(backupini::File)) {
        if (stopping(options)) {
            result.stopped = true;
            return result;
        }
        const fb::DatabaseNameParts parts = fb::DecomposeDatabaseName(key);
        BackupDatabase(parts.server, parts.path, main.user, main.password, folder, serverRoute, options.pauseMs);
        ++result.backedUp;
    }
    return result;
}

} // namespace vestrel::backup
