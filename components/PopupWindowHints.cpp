#include "components/PopupWindowHints.h"

#include <QGuiApplication>
#include <QWidget>

#ifdef VESTREL_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#endif

namespace vestrel {

#ifdef VESTREL_HAVE_XCB
namespace {

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

} // namespace
#endif

void keepOffTaskbar(QWidget* window) {
#ifdef VESTREL_HAVE_XCB
    if (!window || QGuiApplication::platformName() != QLatin1StringView("xcb"))
        return;
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    // The toolkit adds its own states (above, ...) to these when it maps the window.
    const xcb_atom_t states[] = {internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                 internAtom(connection, "_NET_WM_STATE_SKIP_PAGER")};
    const xcb_atom_t property = internAtom(connection, "_NET_WM_STATE");
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
