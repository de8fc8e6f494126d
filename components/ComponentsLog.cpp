#include "components/ComponentsLog.h"

namespace vestrel {

Q_LOGGING_CATEGORY(lcComponents, "vestrel.components")

} // namespace vestrel
