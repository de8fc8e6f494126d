#include "components/ui/QtDesktopScreen.h"

#include <QGuiApplication>
#include <QScreen>

namespace vestrel {

namespace {
// Without a running GUI application (or without any screen) the components still get a sane desktop.
const QRect kFallbackScreen(0, 0, 1024, 768);
} // namespace

WorkArea QtDesktopScreen::workArea() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return WorkArea::fromRect(screen ? screen->availableGeometry() : kFallbackScreen);
}

TaskbarEdge QtDesktopScreen::taskbarEdge() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return TaskbarEdge::None;
    const QRect full = screen->geometry();
    const QRect avail = screen->availableGeometry();
    if (avail.bottom() < full.bottom())
        return TaskbarEdge::Bottom;
    if (avail.top() > full.top())
        return TaskbarEdge::Top;
    if (avail.left() > full.left())
        return TaskbarEdge::Left;
    if (avail.right() < full.right())
        return TaskbarEdge::Right;
    return TaskbarEdge::None;
}

QList<QRect> QtDesktopScreen::monitors() const {
    QList<QRect> result;
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary)
        result.append(primary->geometry());
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (const QScreen* s : screens) {
        if (s != primary)
            result.append(s->geometry());
    }
    if (result.isEmpty())
        result.append(kFallbackScreen);
    return result;
}

DesktopScreen& systemDesktopScreen() {
    static QtDesktopScreen screen;
    return screen;
}

} // namespace vestrel
