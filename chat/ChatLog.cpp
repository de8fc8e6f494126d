#include "chat/ChatLog.h"

namespace vestrel::chat {

Q_LOGGING_CATEGORY(lcChat, "vestrel.chat")

} // namespace vestrel::chat
