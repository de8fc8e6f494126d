#include "components/ui/PopupWindowHints.h"

#include <QGuiApplication>
#include <QWidget>

#include "components/ui/X11Atoms.h"

namespace vestrel {

void keepOffTaskbar(QWidget* window) {
#ifdef VESTREL_HAVE_XCB
    xcb_connection_t* connection = window ? x11::connection() : nullptr;
    if (!connection)
        return;
    // The toolkit adds its own states (above, ...) to these when it maps the window.
    const xcb_atom_t states[] = {x11::internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                 x11::internAtom(connection, "_NET_WM_STATE_SKIP_PAGER")};
    const xcb_atom_t property = x11::internAtom(connection, "_NET_WM_STATE");
    if (property == XCB_ATOM_NONE || states[0] == XCB_ATOM_NONE || states[1] == XCB_ATOM_NONE)
        return;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()), property, XCB_ATOM_ATOM, 32,
                        2, states);
    xcb_flush(connection);
#else
    Q_UNUSED(window);
#endif
}

} // namespace vestrel
