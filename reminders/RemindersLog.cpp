#include "reminders/RemindersLog.h"

namespace vestrel {

Q_LOGGING_CATEGORY(lcReminders, "vestrel.reminders")

} // namespace vestrel
