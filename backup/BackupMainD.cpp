#include "backup/BackupMainD.h"

#include "backup/BackupLog.h"
#include "backup/BackupLogging.h"
#include "backup/BackupSettings.h"

namespace vestrel::backup {

void LogRunFailure(const QByteArray& message) {
    qCWarning(lcBackup).noquote() << "backup run failed:" << QString::fromLatin1(message);
    try {
        WriteBackupLog("Error " + message);
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
        if (IsBackupDay(*backupIni, m_clock.now().date()))
            CheckBackupTime(*backupIni);
    } catch (const std::exception& e) {
        LogRunFailure(e.what());
    }
}

void TVEBackup::CheckBackupTime(const IniFile& backupIni) {
    const QDateTime now = m_clock.now();
    if (!m_gate->shouldRun(now, ReadOra(backupIni)))
        return;
    m_gate->markRun(now.date());

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
