#pragma once

class QWidget;

namespace vestrel {

// Keeps a notification window off the taskbar and the pager, as a tool window is kept off the taskbar
// on Windows. Call it after the native window exists and before it is first shown; it does nothing
// where the desktop needs no such hint.
void keepOffTaskbar(QWidget* window);

} // namespace vestrel
