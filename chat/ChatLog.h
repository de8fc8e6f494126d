#pragma once

#include <QLoggingCategory>

namespace vestrel::chat {

// Failures the chat client catches and goes on from are written here, so none vanishes without a trace.
Q_DECLARE_LOGGING_CATEGORY(lcChat)

} // namespace vestrel::chat
