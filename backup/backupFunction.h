#pragma once

#include <QByteArray>
#include <QByteArrayList>

#include <functional>
#include <stdexcept>

namespace vestrel::backup {

// A backup that did not succeed: the message is the one the log shows after "Error ".
class BackupError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The pause after each backup through the server, as the service passes it.
inline constexpr int ServiceBackupPauseMs = 5000;

struct BackupRunOptions {
    // Milliseconds to wait after each backup through the server.
    int pauseMs = ServiceBackupPauseMs;
    // Asked before each database; when it answers true the run ends there (a stop request).
    std::function<bool()> stopRequested;
    // Another run in progress (the service, an administrator's --run-now): wait for it to end (true),
    // or give up at once and report busy (false).
    bool waitForOtherRun = true;
};

struct BackupRunResult {
    int backedUp = 0;
    int failed = 0;
    // Databases the plan names twice: backed up once.
    int skipped = 0;
    // A stop request ended the run; `leftOut` names the databases not tried.
    bool stopped = false;
    // Another run held the plan and the caller would not wait: nothing was done.
    bool busy = false;
    QByteArrayList failures; // the databases that failed
    QByteArrayList leftOut;
    QByteArray summary; // the summary line as logged
};

// One whole run of the plan in backup.ini and config.ini: the main database, the databases of its
// catalogue (table DB, then the first row of IMP_CONTAB), the database of [Database Ag] and the
// [File] entries, all into the run's rotation folder. Only one run at a time: the run holds a lock
// on the plan. Every database is tried; each gets a start line, then a result line ("Done ..." or
// "Error ..."), and the run ends with a summary line. A run that could not start (unreadable
// settings, no backup folder) is one "Error " line and the summary. Never raises.
BackupRunResult RunBackupPlan(const BackupRunOptions& options);

// Logs an "Error " line when the last run never wrote its summary (the process was killed, the power
// failed) and no run is in progress; the service calls it when it starts, every run before it begins.
void ReportUnfinishedRun();

// Backs up one database into `folder` under its usual file name. `serverRoute` true: through the
// services manager of `host` ("127.0.0.1" when empty) into a ".gbk" file, waiting for the server to
// finish; false: a copy of the database file taken under the database's backup lock. A bare file
// name is taken from the program directory's "database" folder. Logs the backup file name when the
// backup starts; raises BackupError when it fails. Returns the size of the backup in bytes.
qint64 BackupDatabase(const QByteArray& host, const QByteArray& path, const QByteArray& user,
                      const QByteArray& password, const QByteArray& folder, bool serverRoute, int pauseMs,
                      bool verify = false);

// Whether `host` names this machine (empty, "localhost", a loopback address or the machine's name).
bool IsLocalHost(const QByteArray& host);

} // namespace vestrel::backup
