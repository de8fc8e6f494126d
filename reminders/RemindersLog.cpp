#include "reminders/RemindersLog.h"

namespace vestrel::reminders {

Q_LOGGING_CATEGORY(lcReminders, "vestrel.reminders")

} // namespace vestrel::reminders
