#include "backup/BackupState.h"

#include "platform/IniFile.h"
#include "platform/ProgramDir.h"

using namespace Qt::StringLiterals;

namespace vestrel::backup {

namespace {

constexpr char Run[] = "Run";
constexpr char Schedule[] = "Schedule";

QDateTime readTime(const IniFile& ini, const char* key) {
    return QDateTime::fromString(QString::fromLatin1(ini.ReadString(Run, key, {})), Qt::ISODate);
}

QByteArray timeText(const QDateTime& when) {
    return when.toString(Qt::ISODate).toLatin1();
}

} // namespace

QString BackupState::path() {
    return programFile(u"backup.state"_s);
}

QDateTime BackupState::unfinishedRun() {
    const IniFile ini(path());
    const QDateTime started = readTime(ini, "Started");
    const QDateTime ended = readTime(ini, "Ended");
    if (!started.isValid() || (ended.isValid() && ended >= started))
        return {};
    return started;
}

void BackupState::markRunStarted(const QDateTime& when) {
    IniFile ini(path());
    ini.WriteString(Run, "Started", timeText(when));
}

void BackupState::markRunEnded(const QDateTime& when) {
    IniFile ini(path());
    // Never before the start, even when the clock went back during the run.
    const QDateTime started = readTime(ini, "Started");
    ini.WriteString(Run, "Ended", timeText(started.isValid() && when < started ? started : when));
}

QDate BackupState::lastScheduledDay() {
    const IniFile ini(path());
    return QDate::fromString(QString::fromLatin1(ini.ReadString(Schedule, "LastRun", {})), Qt::ISODate);
}

QString BackupState::lastScheduledPeriod() {
    const IniFile ini(path());
    return QString::fromLatin1(ini.ReadString(Schedule, "Period", {}));
}

void BackupState::markScheduledRun(QDate day, const QString& period) {
    IniFile ini(path());
    ini.WriteString(Schedule, "LastRun", day.toString(Qt::ISODate).toLatin1());
    ini.WriteString(Schedule, "Period", period.toLatin1());
}

QByteArray BackupState::lockedDatabase() {
    const IniFile ini(path());
    return ini.ReadString(Run, "Locked", {});
}

void BackupState::setLockedDatabase(const QByteArray& connection) {
    IniFile ini(path());
    if (connection.isEmpty())
        ini.DeleteKey(Run, "Locked");
    else
        ini.WriteString(Run, "Locked", connection);
}

} // namespace vestrel::backup
