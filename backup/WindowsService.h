#pragma once

// The service shell on Windows: registration with the service control manager and its stop control.
// Linux runs the service as a foreground daemon instead; this file is built for Windows only.

#ifdef _WIN32

#include <functional>
#include <optional>

namespace vestrel::backup {

// Runs the process as the service `name` of the service control manager. `run` is called on the
// service's thread, runs the service until it has stopped and returns the exit status; the manager's
// stop control calls `requestStop` on the manager's dispatcher thread. Pause and continue are not
// offered. Returns the status of `run`, or nothing when the process was not started by the manager
// (started from a console), in which case nothing was called.
std::optional<int> RunWindowsService(const wchar_t* name, std::function<int()> run, std::function<void()> requestStop);

} // namespace vestrel::backup

#endif
