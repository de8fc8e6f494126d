#pragma once

#include <QByteArray>

namespace vestrel::backup {

// How long the command of [Setup] "OnFailure" may run before it is ended.
inline constexpr int FailureCommandTimeoutMs = 60000;

// Runs the command named by backup.ini [Setup] "OnFailure", if any, after a run with failures: a
// shell command line that gets `summary` on its standard input and as "$1". Its own failure (cannot
// start, non-zero status, no end within FailureCommandTimeoutMs) is logged, never raised.
void RunFailureCommand(const QByteArray& summary);

} // namespace vestrel::backup
