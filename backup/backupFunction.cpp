#include "backup/backupFunction.h"

#include "backup/BackupLog.h"
#include "backup/BackupLogging.h"
#include "backup/BackupPaths.h"
#include "backup/BackupPlan.h"
#include "backup/BackupSettings.h"
#include "backup/BackupState.h"
#include "backup/BackupVerify.h"
#include "backup/FailureCommand.h"
#include "backup/FileCopy.h"
#include "fb/Attachment.h"
#include "fb/FbError.h"
#include "fb/ServiceManager.h"
#include "fb/Transaction.h"
#include "platform/Cp1252.h"
#include "platform/FileLock.h"
#include "platform/ProgramDir.h"
#include "reminders/dbNameUtils.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QSysInfo>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <optional>

using namespace Qt::StringLiterals;

namespace vestrel::backup {

namespace {

constexpr int BackupOptions = fb::ServiceManager::IgnoreLimbo | fb::ServiceManager::NonTransportable;
// How long the fix-up of a copy may take; it only rewrites the header page.
constexpr int FixUpTimeoutMs = 60000;

void logQuietly(const QByteArray& text, LogLevel level) {
    try {
        WriteBackupLog(text, level);
    } catch (const BackupLogError& e) {
        qCCritical(lcBackup) << e.what();
    }
}

// The pause follows every attached backup, also a failed one, as the server may still be busy.
void pause(int ms) {
    if (ms > 0)
        QThread::msleep(ulong(ms));
}

QByteArray serverOf(const QByteArray& host) {
    return host.isEmpty() ? QByteArray("127.0.0.1") : host;
}

qint64 backupThroughServer(const PlannedBackup& entry, bool verify, int pauseMs) {
    const QByteArray server = serverOf(entry.host);
    fb::ServiceManager manager;
    try {
        manager = fb::ServiceManager::attach(server, entry.user, entry.password);
    } catch (const fb::FbError& e) {
        throw BackupError(entry.path.toStdString() + ": " + e.what());
    }

    // A server on this machine writes into a temporary file that replaces the last backup only once
    // the server reports success (and the check passed), so a failed backup never destroys the
    // previous one. A remote server writes into its own file system, where only it can rename; it
    // writes the final name directly.
    const bool local = IsLocalHost(entry.host);
    const QString finalLocal = LocalBackupPath(entry.backupFile);
    const QString partLocal = TemporaryNameFor(finalLocal);
    const QByteArray target = local ? QFile::encodeName(partLocal) : entry.backupFile;
    try {
        WriteBackupLog(entry.backupFile);
        manager.startBackup(entry.path, target, BackupOptions);
        manager.waitForEnd();
        manager = fb::ServiceManager(); // detaches; the backup's own failure is the one to report
        if (verify)
            VerifyServerBackup(server, entry.user, entry.password, target, local);
    } catch (const std::exception& e) {
        if (local)
            QFile::remove(partLocal);
        manager = fb::ServiceManager();
        pause(pauseMs);
        throw BackupError(entry.path.toStdString() + ": " + e.what());
    }
    qint64 size = -1;
    if (local) {
        size = QFileInfo(partLocal).size();
#ifdef _WIN32
        QFile::remove(finalLocal);
        const bool replaced = QFile::rename(partLocal, finalLocal);
#else
        // rename() replaces the old backup in one step: there is always one complete backup.
        const bool replaced =
            std::rename(QFile::encodeName(partLocal).constData(), QFile::encodeName(finalLocal).constData()) == 0;
#endif
        if (!replaced) {
            QFile::remove(partLocal);
            throw BackupError("cannot replace " + finalLocal.toStdString() + " with the new backup");
        }
    }
    pause(pauseMs);
    return size;
}

// The database's own physical-backup lock: while it is held the server writes no page of the main
// file (changes wait in a side file), so a copy of the file is consistent. It is always released.
class PhysicalBackupLock {
public:
    PhysicalBackupLock(const QByteArray& databaseName, const PlannedBackup& entry) {
        m_attachment = fb::Attachment::attach(databaseName, {"user_name=" + entry.user, "password=" + entry.password});
        if (lockedDatabase() == databaseName)
            endLeftOverLock(databaseName);
        rememberLocked(databaseName);
        try {
            alter("ALTER DATABASE BEGIN BACKUP");
        } catch (const std::exception&) {
            rememberLocked({});
            throw;
        }
        m_held = true;
    }
    ~PhysicalBackupLock() {
        if (!m_held)
            return;
        try {
            release();
        } catch (const std::exception& e) {
            qCCritical(lcBackup) << "cannot end the backup lock:" << e.what();
        }
    }
    PhysicalBackupLock(const PhysicalBackupLock&) = delete;
    PhysicalBackupLock& operator=(const PhysicalBackupLock&) = delete;

    void release() {
        m_held = false;
        alter("ALTER DATABASE END BACKUP");
        rememberLocked({});
        m_attachment.detach();
    }

    static QByteArray lockedDatabase() {
        try {
            return BackupState::lockedDatabase();
        } catch (const std::exception& e) {
            qCWarning(lcBackup) << "cannot read the record of backup locks:" << e.what();
            return {};
        }
    }

    // Noted so that a run killed while it holds the lock does not leave the database locked for good;
    // a state file that cannot be written does not stop the backup.
    static void rememberLocked(const QByteArray& databaseName) {
        try {
            BackupState::setLockedDatabase(databaseName);
        } catch (const std::exception& e) {
            qCWarning(lcBackup) << "cannot record the backup lock:" << e.what();
        }
    }

private:
    // A run killed while it held the lock left the database writing into its side file: end that first.
    void endLeftOverLock(const QByteArray& databaseName) {
        try {
            alter("ALTER DATABASE END BACKUP");
            logQuietly("Warning ended the backup lock that an interrupted run left on " + databaseName,
                       LogLevel::Warning);
        } catch (const fb::FbError& e) {
            qCInfo(lcBackup) << "no backup lock left on" << databaseName << ":" << e.what();
        }
    }

    void alter(const QByteArray& sql) {
        fb::Transaction transaction(m_attachment);
        m_attachment.execute(transaction, sql);
        transaction.commit();
    }
    fb::Attachment m_attachment;
    bool m_held = false;
};

// The copy of a locked main file still says it is locked; the fix-up marks it as a database of its own.
void fixUpCopy(const QString& copy) {
    QProcess nbackup;
    nbackup.start(u"nbackup"_s, {u"-F"_s, copy});
    if (!nbackup.waitForFinished(FixUpTimeoutMs) || nbackup.exitStatus() != QProcess::NormalExit ||
        nbackup.exitCode() != 0) {
        const QByteArray why = nbackup.error() == QProcess::FailedToStart ? QByteArray("nbackup cannot be started")
                                                                          : nbackup.readAllStandardError().trimmed();
        throw BackupError("the copy cannot be made usable on its own: " + why.toStdString());
    }
}

qint64 backupByCopy(const PlannedBackup& entry, bool verify) {
    QByteArray source = reminders::ComposeDatabaseName(entry.host, entry.path, 1);
    if (!entry.host.isEmpty()) {
        const qsizetype colon = source.indexOf(':');
        if (colon >= 0)
            source.remove(colon, 1);
    }
    QString sourceLocal = LocalBackupPath(entry.path);
    if (!IsLocalHost(entry.host)) {
#ifdef _WIN32
        sourceLocal = cp1252::toUnicode(source);
#else
        throw BackupError(source.toStdString() + ": a copy backup reads only files of this machine; " +
                          "back up the database on " + entry.host.toStdString() + " through its server instead");
#endif
    }
    // The lock is taken through the server that has the database open.
    const QByteArray lockName = serverOf(entry.host) + ':' + entry.path;
    std::optional<PhysicalBackupLock> lock;
    try {
        lock.emplace(lockName, entry);
    } catch (const std::exception& e) {
        throw BackupError(source.toStdString() +
                          ": the database's backup lock cannot be taken, so no copy was made: " + e.what());
    }
    WriteBackupLog(entry.backupFile);
    PendingCopy copy(sourceLocal, LocalBackupPath(entry.backupFile));
    try {
        lock->release();
    } catch (const std::exception& e) {
        throw BackupError(source.toStdString() + ": the database's backup lock cannot be ended: " + e.what());
    }
    if (!copy.error().isEmpty())
        throw BackupError(source.toStdString() + ": " + copy.error().toStdString());
    copy.unlock(); // the fix-up and the check open the file
    try {
        fixUpCopy(copy.temporaryPath());
        if (verify)
            VerifyCopy(copy.temporaryPath(), entry.user, entry.password);
    } catch (const std::exception& e) {
        throw BackupError(source.toStdString() + ": " + e.what());
    }
    const qint64 size = QFileInfo(copy.temporaryPath()).size();
    const QString failure = copy.commit();
    if (!failure.isEmpty())
        throw BackupError(source.toStdString() + ": " + failure.toStdString());
    return size;
}

qint64 backupOne(const PlannedBackup& entry, bool serverRoute, bool verify, int pauseMs) {
    if (serverRoute)
        return backupThroughServer(entry, verify, pauseMs);
    return backupByCopy(entry, verify);
}

bool stopping(const BackupRunOptions& options) {
    return options.stopRequested && options.stopRequested();
}

QByteArray doneLine(const PlannedBackup& entry, qint64 size, qint64 elapsedMs) {
    QByteArray line = "Done " + entry.backupFile;
    if (size >= 0)
        line += ", " + QByteArray::number(size) + " bytes";
    return line + ", " + QByteArray::number(double(elapsedMs) / 1000.0, 'f', 1) + " s";
}

QByteArray summaryLine(const BackupRunResult& result) {
    QByteArray line = "Run ended: " + QByteArray::number(result.backedUp) + " backed up, " +
                      QByteArray::number(result.failed) + " failed, " + QByteArray::number(result.skipped) + " skipped";
    if (!result.failures.isEmpty())
        line += "; failed: " + result.failures.join(", ");
    if (result.stopped)
        line += "; stopped before: " + (result.leftOut.isEmpty() ? QByteArray("none") : result.leftOut.join(", "));
    return line;
}

// The rotation folders under the backup root that exist on this machine ("1d" ... "12m").
QStringList rotationFolders(const QByteArray& root) {
    QByteArray trimmed = root;
    if (trimmed.endsWith('\\') || trimmed.endsWith('/'))
        trimmed.chop(1);
    const QDir dir(LocalBackupPath(trimmed));
    static const QRegularExpression rotation(u"^[0-9]{1,2}[dwm]$"_s);
    QStringList folders;
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (rotation.match(name).hasMatch())
            folders.append(dir.filePath(name));
    }
    return folders;
}

// Temporary files of a run that was killed: with the plan's lock held no other run writes any.
void removeOrphans(const QByteArray& root) {
    for (const QString& folder : rotationFolders(root)) {
        const QDir dir(folder);
        for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden)) {
            if (!IsTemporaryName(name) && !name.endsWith(u".part"_s))
                continue;
            const QString path = dir.filePath(name);
            if (QFile::remove(path))
                logQuietly("Removed " + QFile::encodeName(path) + ", left by an interrupted run", LogLevel::Warning);
            else
                qCWarning(lcBackup).noquote() << "cannot remove" << path;
        }
    }
}

void reportUnfinishedRun() {
    const QDateTime started = BackupState::unfinishedRun();
    if (!started.isValid())
        return;
    try {
        BackupState::markRunEnded(QDateTime::currentDateTime()); // reported once
    } catch (const std::exception& e) {
        qCWarning(lcBackup) << "cannot note the end of the interrupted run:" << e.what();
    }
    logQuietly("Error the run started " +
                   cp1252::fromUnicode(QLocale::system().toString(started, QLocale::ShortFormat)) +
                   " did not end (the service was killed or the machine stopped): its backups may be missing",
               LogLevel::Error);
}

void runPlan(const BackupRunOptions& options, BackupRunResult& result) {
    const std::unique_ptr<IniFile> backupIni = OpenBackupIni();
    const std::unique_ptr<IniFile> configIni = reminders::OpenConfigIni();
    RequireReadable(backupIni->FileName());
    RequireReadable(configIni->FileName());
    for (const QByteArray& problem : CheckBackupIni(*backupIni))
        logQuietly("Warning " + problem, LogLevel::Warning);

    const QByteArray root = ReadBackupRoot(*backupIni);
    const QByteArray folder = BackupTargetFolder(root, ReadFreq(*backupIni), QDate::currentDate());
    CreateBackupFolder(folder);
    removeOrphans(root);

    BackupPlan plan = CollectBackupPlan(*backupIni, *configIni, folder);
    AssignBackupFiles(plan);
    const QByteArray leftLocked = PhysicalBackupLock::lockedDatabase();
    const bool stillCopied =
        !plan.serverRoute && std::any_of(plan.databases.begin(), plan.databases.end(), [&](const PlannedBackup& e) {
            return serverOf(e.host) + ':' + e.path == leftLocked;
        });
    if (!leftLocked.isEmpty() && !stillCopied) {
        logQuietly("Warning an interrupted run left " + leftLocked +
                       " in backup mode and the plan no longer copies it: end it with ALTER DATABASE END BACKUP",
                   LogLevel::Warning);
        PhysicalBackupLock::rememberLocked({}); // said once
    }
    const bool verify = ReadVerify(*backupIni);

    for (size_t i = 0; i < plan.databases.size(); ++i) {
        const PlannedBackup& entry = plan.databases[i];
        if (stopping(options)) {
            result.stopped = true;
            for (size_t j = i; j < plan.databases.size(); ++j)
                result.leftOut.append(plan.databases[j].connection());
            return;
        }
        if (!entry.failure.isEmpty()) {
            logQuietly("Error " + entry.failure, LogLevel::Error);
            ++result.failed;
            result.failures.append(entry.origin);
            continue;
        }
        if (entry.repeated) {
            logQuietly("Skipped " + entry.connection() + ": named twice in the plan, backed up once", LogLevel::Info);
            ++result.skipped;
            continue;
        }
        if (!entry.distinguisher.isEmpty())
            logQuietly(entry.connection() + " shares its file name with another database: backed up as " +
                           entry.backupFile,
                       LogLevel::Info);
        QElapsedTimer timer;
        timer.start();
        try {
            const qint64 size = backupOne(entry, plan.serverRoute, verify, options.pauseMs);
            logQuietly(doneLine(entry, size, timer.elapsed()), LogLevel::Info);
            ++result.backedUp;
        } catch (const std::exception& e) {
            logQuietly("Error " + QByteArray(e.what()), LogLevel::Error);
            ++result.failed;
            result.failures.append(entry.connection());
        }
    }
}

} // namespace

bool IsLocalHost(const QByteArray& host) {
    if (host.isEmpty())
        return true;
    QString name = cp1252::toUnicode(host);
    // "host/port": the port does not change the machine.
    name = name.section(u'/', 0, 0);
    if (name.compare(u"localhost"_s, Qt::CaseInsensitive) == 0 ||
        name.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) == 0)
        return true;
    const QHostAddress address(name);
    return !address.isNull() && address.isLoopback();
}

void ReportUnfinishedRun() {
    // A run in progress (an administrator's --run-now) holds the lock and is not a killed one.
    FileLock lock(programFile(u"backup.lock"_s), FileLock::Wait::No);
    if (lock.isLocked())
        reportUnfinishedRun();
}

qint64 BackupDatabase(const QByteArray& host, const QByteArray& path, const QByteArray& user,
                      const QByteArray& password, const QByteArray& folder, bool serverRoute, int pauseMs,
                      bool verify) {
    BackupPlan plan;
    plan.folder = folder;
    plan.serverRoute = serverRoute;
    PlannedBackup entry;
    entry.host = host;
    entry.path = path;
    if (!entry.path.contains('/') && !entry.path.contains('\\'))
        entry.path = cp1252::fromUnicode(programDirectory()) + "database/" + entry.path;
    entry.user = user;
    entry.password = password;
    plan.databases.push_back(entry);
    AssignBackupFiles(plan);
    return backupOne(plan.databases.front(), serverRoute, verify, pauseMs);
}

BackupRunResult RunBackupPlan(const BackupRunOptions& options) {
    BackupRunResult result;
    const QString lockPath = programFile(u"backup.lock"_s);
    FileLock lock(lockPath, options.waitForOtherRun ? FileLock::Wait::UntilFree : FileLock::Wait::No);
    if (lock.heldElsewhere()) {
        result.busy = true;
        return result;
    }
    if (!lock.isLocked()) {
        // Without the lock another run could write the same files: none is started.
        logQuietly("Error cannot lock " + QFile::encodeName(lockPath) + ": " + cp1252::fromUnicode(lock.errorString()),
                   LogLevel::Error);
        result.failed = 1;
        result.summary = summaryLine(result);
        logQuietly(result.summary, LogLevel::Error);
        return result;
    }

    reportUnfinishedRun();
    try {
        BackupState::markRunStarted(QDateTime::currentDateTime());
    } catch (const std::exception& e) {
        qCWarning(lcBackup) << "cannot note the start of the run:" << e.what();
    }
    try {
        runPlan(options, result);
    } catch (const std::exception& e) {
        logQuietly("Error " + QByteArray(e.what()), LogLevel::Error);
        ++result.failed;
        result.failures.append("the plan");
    }
    result.summary = summaryLine(result);
    logQuietly(result.summary, result.failed > 0 ? LogLevel::Error : LogLevel::Info);
    try {
        BackupState::markRunEnded(QDateTime::currentDateTime());
    } catch (const std::exception& e) {
        qCWarning(lcBackup) << "cannot note the end of the run:" << e.what();
    }
    if (result.failed > 0)
        RunFailureCommand(result.summary);
    return result;
}

} // namespace vestrel::backup
