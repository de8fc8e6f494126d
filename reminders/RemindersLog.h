#pragma once

#include <QLoggingCategory>

namespace vestrel::reminders {

// The reminders client's log: skipped rows, failed dismissals, connection failures.
Q_DECLARE_LOGGING_CATEGORY(lcReminders)

} // namespace vestrel::reminders
