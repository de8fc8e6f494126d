#include "chat/ChatLog.h"

namespace vestrel {

Q_LOGGING_CATEGORY(lcChat, "vestrel.chat")

} // namespace vestrel
