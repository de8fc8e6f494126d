#pragma once

// The X connection and atom lookup shared by the components that give the window manager hints.
// Only for builds with xcb; callers keep their own fallback for other platforms.

#ifdef VESTREL_HAVE_XCB
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace vestrel::x11 {

// The application's X connection; null on any other platform.
inline xcb_connection_t* connection() {
    if (QGuiApplication::platformName() != QLatin1StringView("xcb"))
        return nullptr;
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

inline xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

} // namespace vestrel::x11
#endif
