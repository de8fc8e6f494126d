#pragma once

#include <QByteArray>

namespace vestrel::backup {

struct PlanCheck {
    bool ok = true;  // the plan can run as written: files readable, nothing ignored or replaced by a default
    QByteArray text; // the report, one item per line
};

// What a run started now would do, without backing anything up: the settings files, the schedule, the
// rotation folder, the route, and each database with its backup file; then every problem found.
PlanCheck CheckConfiguration();

} // namespace vestrel::backup
