#pragma once

#include <QDateTime>

namespace vestrel::backup {

// Where the backup schedule takes the current day and time from. The service uses the system clock;
// tests set the time they need.
class BackupClock {
public:
    virtual ~BackupClock() = default;
    virtual QDateTime now() const = 0;
};

class SystemBackupClock final : public BackupClock {
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
};

} // namespace vestrel::backup
