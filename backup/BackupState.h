#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>

namespace vestrel::backup {

// What the service remembers between runs, in "backup.state" beside backup.log (written atomically):
// when the last run started and whether it ended, and the day and period of the last scheduled run.
class BackupState {
public:
    static QString path();

    // The start of a run that never wrote its summary (killed, power loss); invalid when none.
    static QDateTime unfinishedRun();
    static void markRunStarted(const QDateTime& when);
    static void markRunEnded(const QDateTime& when);

    // The day of the last scheduled run and the period it belonged to ("2026-12-07", "2026-W50",
    // "2026-12"); invalid / empty when there was none.
    static QDate lastScheduledDay();
    static QString lastScheduledPeriod();
    static void markScheduledRun(QDate day, const QString& period);

    // The database (its connection string) whose backup lock a copy holds: a run killed meanwhile
    // leaves it locked, and the next run ends the lock before anything else.
    static QByteArray lockedDatabase();
    static void setLockedDatabase(const QByteArray& connection);
};

} // namespace vestrel::backup
