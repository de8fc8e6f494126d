#include "backup/ConfigCheck.h"

#include "backup/BackupPaths.h"
#include "backup/BackupPlan.h"
#include "backup/BackupSettings.h"
#include "reminders/dbNameUtils.h"

#include <QDate>
#include <QFile>

namespace vestrel::backup {

namespace {

QByteArray frequencyText(int freq) {
    switch (freq) {
    case backupini::FreqDaily:
        return "daily";
    case backupini::FreqWeekly:
        return "weekly";
    case backupini::FreqMonthly:
        return "monthly";
    default:
        return "never (Freq " + QByteArray::number(freq) + ")";
    }
}

} // namespace

PlanCheck CheckConfiguration() {
    PlanCheck check;
    QByteArrayList problems;
    const std::unique_ptr<IniFile> backupIni = OpenBackupIni();
    const std::unique_ptr<IniFile> configIni = reminders::OpenConfigIni();
    check.text += "backup.ini: " + QFile::encodeName(backupIni->FileName()) +
                  (QFile::exists(backupIni->FileName()) ? "" : " (missing: every key has its default)") + '\n';
    check.text += "config.ini: " + QFile::encodeName(configIni->FileName()) +
                  (QFile::exists(configIni->FileName()) ? "" : " (missing)") + '\n';
    try {
        RequireReadable(backupIni->FileName());
        RequireReadable(configIni->FileName());
        problems += CheckBackupIni(*backupIni);
        const int freq = ReadFreq(*backupIni);
        check.text +=
            "Schedule: " + frequencyText(freq) + " at " + ReadOra(*backupIni).toString(u"HH:mm").toLatin1() + '\n';
        const QByteArray folder = BackupTargetFolder(ReadBackupRoot(*backupIni), freq, QDate::currentDate());
        check.text += "Folder of a run today: " + folder + '\n';
        BackupPlan plan = CollectBackupPlan(*backupIni, *configIni, folder);
        AssignBackupFiles(plan);
        check.text += QByteArray("Route: ") +
                      (plan.serverRoute ? "through the database server's backup service (.gbk)"
                                        : "copy of the database file under its backup lock") +
                      '\n';
        check.text += QByteArray("Verify: ") + (ReadVerify(*backupIni) ? "on" : "off") + '\n';
        const QByteArray onFailure = ReadOnFailure(*backupIni);
        check.text += "OnFailure: " + (onFailure.isEmpty() ? QByteArray("none") : onFailure) + '\n';
        check.text += "Databases: " + QByteArray::number(qsizetype(plan.databases.size())) + '\n';
        for (const PlannedBackup& entry : plan.databases) {
            if (!entry.failure.isEmpty()) {
                problems.append(entry.failure);
                continue;
            }
            check.text += "  " + entry.connection() + " (" + entry.origin + ") -> " + entry.backupFile;
            if (entry.repeated)
                check.text += " (named twice: backed up once)";
            check.text += '\n';
        }
    } catch (const std::exception& e) {
        problems.append(e.what());
    }
    for (const QByteArray& problem : std::as_const(problems))
        check.text += "Problem: " + problem + '\n';
    check.ok = problems.isEmpty();
    check.text += check.ok ? "The plan can run.\n" : "The plan has problems.\n";
    return check;
}

} // namespace vestrel::backup
