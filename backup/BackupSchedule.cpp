#include "backup/BackupSchedule.h"

#include "backup/BackupSettings.h"

using namespace Qt::StringLiterals;

namespace vestrel::backup {

using namespace backupini;

bool IsBackupDay(const IniFile& backupIni, QDate day) {
    const int weekday = day.dayOfWeek() - 1; // Monday 0 ... Sunday 6
    switch (ReadFreq(backupIni)) {
    case FreqDaily:
        return backupIni.ReadBool(Daily, QByteArray::number(weekday), DefaultDailyDue);
    case FreqWeekly:
        return backupIni.ReadInteger(Week, "Day", DefaultWeekDay) == weekday;
    case FreqMonthly: {
        const int monthDay = backupIni.ReadInteger(Month, "Day", DefaultMonthDay);
        if (monthDay == LastDayOfMonth)
            return day.day() == day.daysInMonth();
        return day.day() - 1 == monthDay;
    }
    default:
        return false;
    }
}

QTime BackupWindowEnd(QTime start) {
    const int startSeconds = start.msecsSinceStartOfDay() / 1000;
    const int endSeconds = startSeconds + BackupWindowMinutes * 60;
    if (endSeconds >= 24 * 3600)
        return QTime(23, 59, 59, 999);
    return start.addSecs(BackupWindowMinutes * 60);
}

bool BackupDayGate::shouldRun(const QDateTime& now, QTime start) const {
    const QDate today = now.date();
    if (m_lastRun == today)
        return false;
    if (now.time() < start)
        return false;
    if (m_serviceStarted.date() == today && m_serviceStarted.time() > BackupWindowEnd(start))
        return false;
    return true;
}

int WeekOfMonth(QDate day) {
    const QDate thursday = day.addDays(4 - day.dayOfWeek());
    return (thursday.day() - 1) / 7 + 1;
}

QString RotationFolderName(int freq, QDate day) {
    switch (freq) {
    case FreqWeekly:
        return QString::number(WeekOfMonth(day)) + u'w';
    case FreqMonthly:
        return QString::number(day.month()) + u'm';
    default:
        return QString::number(day.dayOfWeek()) + u'd';
    }
}

} // namespace vestrel::backup
