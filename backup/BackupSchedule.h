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

// When a tick runs the plan: on a backup day, once the window has opened, and at most once that day.
// A tick that comes late (the machine was busy or asleep) still runs the day's backup; a service that
// was started after the day's window had closed leaves that day alone, so that restarting the service
// does not repeat a backup already made.
class BackupDayGate {
public:
    explicit BackupDayGate(QDateTime serviceStarted)
        : m_serviceStarted(std::move(serviceStarted)) {}

    // True when a plan due today at `start` should run now; `now` must be on a backup day.
    bool shouldRun(const QDateTime& now, QTime start) const;
    // Records that the day's run has been made (also when it failed: a failing run is not repeated
    // every five minutes).
    void markRun(QDate day) { m_lastRun = day; }
    QDate lastRun() const { return m_lastRun; }

private:
    QDateTime m_serviceStarted;
    QDate m_lastRun;
};

// The week of the month for the weekly rotation (1..5): weeks start on Monday, and a week belongs to
// the month that holds its Thursday.
int WeekOfMonth(QDate day);

// The rotating sub-folder of a run on `day`: "1d".."7d" (ISO weekday) for Freq 0, "1w".."5w" for Freq 1,
// "1m".."12m" for Freq 2. Other frequencies never run on schedule; a run started by hand then uses
// the daily name.
QString RotationFolderName(int freq, QDate day);

} // namespace vestrel::backup
