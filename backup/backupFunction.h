#pragma once

#include <QByteArray>

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
};

struct BackupRunResult {
    int backedUp = 0;
    // Backups that failed without ending the run (the accounting database of IMP_CONTAB).
    int failed = 0;
    bool stopped = false;
};

// One whole run of the plan in backup.ini and config.ini: the main database, the databases of its
// catalogue (table DB, then the first row of IMP_CONTAB), the database of [Database Ag] and the
// [File] entries, all into the run's rotation folder. Writes a log line per backup. A failure that
// ends the run raises its error; the caller logs it.
BackupRunResult RunBackupPlan(const BackupRunOptions& options);

// Backs up one database into `folder`. `serverRoute` true: through the services manager of `host`
// ("127.0.0.1" when empty) into a ".gbk" file, waiting for the server to finish; false: a copy of the
// database file (meant for databases nobody has open: a copy of a file in use may not be consistent).
// A bare file name is taken from the program directory's "database" folder. Logs the backup file name
// when the backup starts; raises BackupError when it fails. Returns true when the backup was made.
bool BackupDatabase(const QByteArray& host, const QByteArray& path, const QByteArray& user, const QByteArray& password,
                    const QByteArray& folder, bool serverRoute, int pauseMs);

// Whether `host` names this machine (empty, "localhost", a loopback address or the machine's name).
bool IsLocalHost(const QByteArray& host);

} // namespace vestrel::backup
