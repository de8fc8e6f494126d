#pragma once

#include <QString>

namespace vestrel {

// Copies `source` over `destination` without ever leaving a half-written destination: the bytes go to
// a temporary file in the destination's folder, which is flushed to disk and then renamed over the old
// file. On failure the previous destination is untouched, the temporary file is removed, and the
// result is the system's text for the failure; an empty result means success.
QString CopyFileAtomically(const QString& source, const QString& destination);

} // namespace vestrel
