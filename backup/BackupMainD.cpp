#include "backup/BackupMainD.h"

#include "backup/BackupLog.h"
#include "backup/BackupLogging.h"
#include "backup/BackupSettings.h"
#include "backup/BackupState.h"

#include <QLocale>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace vestrel::backup {

void LogRunFailure(const QByteArray& message) {
    try {
        WriteBackupLog("Error " + message, LogLevel::Error);
    } catch (const BackupLogError& e) {
        qCCritical(lcBackup) << e.what();
    }
}

TVEBackup::TVEBackup(const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_clock(clock)
    , m_gate(std::make_unique<BackupDayGate>(clock.now())) {}

TVEBackup::~TVEBackup() = default;

void TVEBackup::ServiceExecute() {
    if (!m_backupTimer)
        m_backupTimer =
            std::make_unique<TMessageTimer>(BackupTimerInterval, [this](TMessageTimer*) { BackupTimerTick(); });
    m_gate = std::make_unique<BackupDayGate>(m_clock.now());
    m_backupTimer->SetEnabled(true);
    WriteServiceLog(true);
    qCInfo(lcBackup) << "service started";
    ReportUnfinishedRun();

    QEventLoop loop;
    m_loop = &loop;
    // A stop requested before the loop runs is already waiting in the queue and ends it at once.
    if (!m_terminated)
        loop.exec();
    m_loop = nullptr;

    m_backupTimer->SetEnabled(false);
    WriteServiceLog(false);
    qCInfo(lcBackup) << "service stopped";
}

void TVEBackup::ServiceStop() {
    if (m_backupTimer)
        m_backupTimer->SetEnabled(false);
    m_terminated = true;
    if (m_loop)
        m_loop->quit();
}

void TVEBackup::RequestStop() {
    m_stopRequested = true;
    QMetaObject::invokeMethod(this, &TVEBackup::ServiceStop, Qt::QueuedConnection);
}

void TVEBackup::BackupTimerTick() {
    try {
        const std::unique_ptr<IniFile> backupIni = OpenBackupIni();
        RequireReadable(backupIni->FileName());
        m_lastTickError.clear();
        CheckBackupTime(*backupIni);
    } catch (const std::exception& e) {
        if (m_lastTickError != e.what())
            LogRunFailure(e.what());
        m_lastTickError = e.what();
    }
}

void TVEBackup::CheckBackupTime(const IniFile& backupIni) {
    const QDateTime now = m_clock.now();
    QDate lastDue = m_lastDueDay;
    try {
        lastDue = std::max(lastDue, BackupState::lastScheduledDay());
    } catch (const std::exception& e) {
        qCWarning(lcBackup) << "cannot read the record of the last run:" << e.what();
    }
    const ScheduleDecision decision = m_gate->decide(backupIni, now, lastDue);
    if (!decision.run)
        return;
    m_lastDueDay = decision.dueDay;
    try {
        BackupState::markScheduledRun(decision.dueDay, decision.period);
    } catch (const std::exception& e) {
        qCWarning(lcBackup) << "cannot record the run:" << e.what();
    }
    try {
        const QList<QDate> missed = MissedDueDays(backupIni, lastDue, decision.dueDay);
        if (!missed.isEmpty()) {
            QStringList days;
            for (QDate day : missed)
                days.append(QLocale::system().toString(day, QLocale::ShortFormat));
            WriteBackupLog(u"Warning no backup was made on %1: the service was not running"_s.arg(days.join(u", "_s)),
                           LogLevel::Warning);
        }
        if (decision.late)
            WriteBackupLog(u"Late run: the backup due %1 at %2 runs now"_s.arg(
                               QLocale::system().toString(decision.dueDay, QLocale::ShortFormat),
                               ReadOra(backupIni).toString(u"HH:mm"_s)),
                           LogLevel::Warning);
    } catch (const BackupLogError& e) {
        qCCritical(lcBackup) << e.what();
    }

    if (m_backupTimer)
        m_backupTimer->SetEnabled(false);
    try {
        BackupRunOptions options;
        options.pauseMs = m_pauseMs;
        options.stopRequested = [this] {
            return StopRequested();
        };
        const BackupRunResult result = m_runPlan(options);
        qCInfo(lcBackup) << "run ended:" << result.backedUp << "backed up," << result.failed << "failed"
                         << (result.stopped ? "(stopped)" : "");
    } catch (const std::exception& e) {
        LogRunFailure(e.what());
    }
    if (m_backupTimer && !m_terminated)
        m_backupTimer->SetEnabled(true);
}

} // namespace vestrel::backup
