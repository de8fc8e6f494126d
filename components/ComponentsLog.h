#pragma once

#include <QLoggingCategory>

namespace vestrel {

// The desktop components' log: layouts and language choices that could not be read or kept.
Q_DECLARE_LOGGING_CATEGORY(lcComponents)

} // namespace vestrel
