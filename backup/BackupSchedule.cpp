#include "backup/BackupSchedule.h"

#include "backup/BackupSettings.h"

#include <algorithm>

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

QDate DueDayOfPeriod(const IniFile& backupIni, QDate day) {
    switch (ReadFreq(backupIni)) {
    case FreqDaily:
        return IsBackupDay(backupIni, day) ? day : QDate();
    case FreqWeekly: {
        const int weekday = backupIni.ReadInteger(Week, "Day", DefaultWeekDay);
        if (weekday < 0 || weekday > 6)
            return {};
        return day.addDays(weekday - (day.dayOfWeek() - 1));
    }
    case FreqMonthly: {
        const int monthDay = backupIni.ReadInteger(Month, "Day", DefaultMonthDay);
        if (monthDay < 0 || monthDay > LastDayOfMonth)
            return {};
        const QDate first(day.year(), day.month(), 1);
        return monthDay == LastDayOfMonth ? QDate(day.year(), day.month(), day.daysInMonth()) : first.addDays(monthDay);
    }
    default:
        return {};
    }
}

QString PeriodName(int freq, QDate day) {
    switch (freq) {
    case FreqWeekly: {
        int year = 0;
        const int week = day.weekNumber(&year);
        return u"%1-W%2"_s.arg(year).arg(week, 2, 10, QChar(u'0'));
    }
    case FreqMonthly:
        return day.toString(u"yyyy-MM"_s);
    default:
        return day.toString(Qt::ISODate);
    }
}

QList<QDate> MissedDueDays(const IniFile& backupIni, QDate after, QDate before) {
    // A year back at most: an older gap says nothing more.
    constexpr int MaxDays = 366;
    QList<QDate> missed;
    if (!after.isValid() || !before.isValid())
        return missed;
    for (QDate day = std::max(after.addDays(1), before.addDays(-MaxDays)); day < before; day = day.addDays(1)) {
        if (DueDayOfPeriod(backupIni, day) == day)
            missed.append(day);
    }
    return missed;
}

ScheduleDecision BackupDayGate::decide(const IniFile& backupIni, const QDateTime& now, QDate lastDueDay) const {
    ScheduleDecision decision;
    const QDate today = now.date();
    const QDate due = DueDayOfPeriod(backupIni, today);
    if (!due.isValid() || due > today)
        return decision;
    const QTime start = ReadOra(backupIni);
    const QTime windowEnd = BackupWindowEnd(start);
    if (due == today && now.time() < start)
        return decision;
    if (lastDueDay.isValid() && lastDueDay >= due)
        return decision;
    if (!lastDueDay.isValid() &&
        (m_serviceStarted.date() > due || (m_serviceStarted.date() == due && m_serviceStarted.time() > windowEnd)))
        return decision;
    decision.run = true;
    decision.late = due < today || now.time() > windowEnd;
    decision.dueDay = due;
    decision.period = PeriodName(ReadFreq(backupIni), due);
    return decision;
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
