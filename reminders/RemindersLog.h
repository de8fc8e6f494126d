#pragma once

#include <QLoggingCategory>

namespace vestrel {

// The reminders client's log: skipped rows, failed dismissals, connection failures.
Q_DECLARE_LOGGING_CATEGORY(lcReminders)

} // namespace vestrel
