#pragma once

#include "backup/BackupSchedule.h"
#include "backup/backupFunction.h"
#include "components/MessageTimer.h"
#include "platform/Clock.h"
#include "platform/IniFile.h"

#include <QEventLoop>
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

namespace vestrel::backup {

// The backup service object. One thread, the service thread, does all the work: ServiceExecute runs
// its event loop, which delivers the five-minute ticks of BackupTimer and the stop request; a tick
// that finds the day due and the time in its window runs the whole plan with the timer stopped. A stop
// request that arrives during a run lets the run finish the database it is on, then ends the run.
//
// The object must live in the service thread (create it there or move it there before
// ServiceExecute). RequestStop may be called from any thread; everything else only from the service
// thread.
class TVEBackup : public QObject {
    Q_OBJECT

public:
    static constexpr int BackupTimerInterval = 300000;

    using RunPlanFn = std::function<BackupRunResult(const BackupRunOptions&)>;

    explicit TVEBackup(const Clock& clock, QObject* parent = nullptr);
    ~TVEBackup() override;

    // Writes the start line, runs the service loop until a stop request, writes the stop line. A
    // start or stop line that cannot be written raises BackupLogError.
    void ServiceExecute();
    // The stop request on the service thread: the timer stops and the loop of ServiceExecute ends.
    void ServiceStop();
    // Asks for a stop from any thread (the signal handler's thread, the service control manager's).
    void RequestStop();
    bool StopRequested() const { return m_stopRequested.load(); }

    // The timer's tick: on a backup day, CheckBackupTime. Failures are logged, never passed on.
    void BackupTimerTick();
    // Runs the plan when the time has come (see BackupDayGate), with the timer stopped meanwhile. A late
    // run and the periods that had no run are logged first.
    void CheckBackupTime(const IniFile& backupIni);

    TMessageTimer* BackupTimer() const { return m_backupTimer.get(); }
    // Tests replace the run; the service uses RunBackupPlan.
    void setRunPlan(RunPlanFn run) { m_runPlan = std::move(run); }
    int pauseMs() const { return m_pauseMs; }
    void setPauseMs(int ms) { m_pauseMs = ms; }

private:
    const Clock& m_clock;
    std::unique_ptr<TMessageTimer> m_backupTimer;
    std::unique_ptr<BackupDayGate> m_gate;
    QDate m_lastDueDay;           // also kept here, should the state file not be writable
    QByteArray m_lastTickError;   // a failing tick is logged once, not every five minutes
    QEventLoop* m_loop = nullptr; // the loop of ServiceExecute while it runs
    std::atomic<bool> m_stopRequested{false};
    bool m_terminated = false;
    int m_pauseMs = ServiceBackupPauseMs;
    RunPlanFn m_runPlan = RunBackupPlan;
};

// Logs a failure of a run: "Error " and the message in backup.log, and to the logging category. A log
// file that cannot be written is reported to the category only.
void LogRunFailure(const QByteArray& message);

} // namespace vestrel::backup
