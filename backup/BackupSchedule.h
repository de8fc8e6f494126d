#pragma once

#include "platform/IniFile.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

namespace vestrel::backup {

// Whether `day` is a backup day for the plan: with Freq 0 the [Daily] flag of its weekday ("0" Monday
// ... "6" Sunday, default on), with Freq 1 the [Week] "Day", with Freq 2 the [Month] "Day" (0..27 the
// 1st..28th, 28 the last day of the month). Any other Freq is never due.
bool IsBackupDay(const IniFile& backupIni, QDate day);

// The daily window in which a due backup starts: from "Ora" for five minutes, both ends included, and
// never past midnight.
inline constexpr int BackupWindowMinutes = 5;
QTime BackupWindowEnd(QTime start);

// The due day of the period that holds `day`: `day` itself when it is a backup day (Freq 0), the
// day [Week] "Day" of its week, Monday to Sunday (Freq 1), the day [Month] "Day" of its month (Freq
// 2). Invalid when the period has none (a day off, an unknown frequency, a day number out of range).
QDate DueDayOfPeriod(const IniFile& backupIni, QDate day);
// A name for the period that holds `day`: "2026-12-07" (daily), "2026-W50" (weekly), "2026-12" (monthly).
QString PeriodName(int freq, QDate day);
// Due days after `after` and before `before` (both excluded): periods that had no run at all.
QList<QDate> MissedDueDays(const IniFile& backupIni, QDate after, QDate before);

struct ScheduleDecision {
    bool run = false;
    // The run comes after its window: the machine was off or asleep, or busy.
    bool late = false;
    QDate dueDay;
    QString period;
};

// When a tick runs the plan: once per period, from the due day's window on. A tick that comes late
// (the machine was off, asleep or busy) still runs the period's backup, as long as the period lasts:
// the same day for daily, the same week for weekly, the same month for monthly. `lastDueDay` is the due
// day of the last scheduled run: a period already served is never run again, also when the clock goes
// back. Without any record of a run (a new installation), a service started after a window leaves that
// window's backup alone.
class BackupDayGate {
public:
    explicit BackupDayGate(QDateTime serviceStarted)
        : m_serviceStarted(std::move(serviceStarted)) {}

    ScheduleDecision decide(const IniFile& backupIni, const QDateTime& now, QDate lastDueDay) const;

private:
    QDateTime m_serviceStarted;
};

// The week of the month for the weekly rotation (1..5): weeks start on Monday, and a week belongs to
// the month that holds its Thursday.
int WeekOfMonth(QDate day);

// The rotating sub-folder of a run on `day`: "1d".."7d" (ISO weekday) for Freq 0, "1w".."5w" for Freq 1,
// "1m".."12m" for Freq 2. Other frequencies never run on schedule; a run started by hand then uses
// the daily name.
QString RotationFolderName(int freq, QDate day);

} // namespace vestrel::backup
