#include "versioninfo/RunningProgram.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace vestrel::versioninfo {

QString runningProgramPath() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
    // No application object (tools, early start-up): ask the kernel.
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}

} // namespace vestrel::versioninfo
