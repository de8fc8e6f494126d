#pragma once

#include <QString>

namespace vestrel::versioninfo {

// The path of the running program's executable: where the version components look when no file
// is named. The components are a shared library, but the module they serve is always the program
// that loaded them.
QString runningProgramPath();

} // namespace vestrel::versioninfo
