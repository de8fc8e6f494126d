#pragma once

#include <functional>

namespace vestrel {

// Runs a blocking `job` on a worker thread while the calling thread keeps processing its events, so
// a window stays responsive during a connect or a stalled write. Rethrows what the job threw.
// Event handlers may run meanwhile: callers guard against re-entering what they are doing.
void runKeepingUiResponsive(const std::function<void()>& job);

// Waits `milliseconds` while the calling thread keeps processing its events.
void waitKeepingUiResponsive(int milliseconds);

} // namespace vestrel
