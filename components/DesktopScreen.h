#pragma once

#include <QList>
#include <QRect>

namespace vestrel {

// Where the taskbar sits on the primary screen. `None` is what a screen without a panel reports.
enum class TaskbarEdge { None = -1, Left = 0, Top = 1, Right = 2, Bottom = 3 };

// A screen rectangle with exclusive right and bottom edges, as the desktop's work area is given:
// a 1280 x 994 area at the origin has right 1280 and bottom 994.
struct WorkArea {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    static WorkArea fromRect(const QRect& r) { return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()}; }
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    friend bool operator==(const WorkArea&, const WorkArea&) = default;
};

// What the desktop components need to know about the screens. Tests replace it with fixed answers.
class DesktopScreen {
public:
    virtual ~DesktopScreen() = default;
    // The primary screen's area not covered by panels.
    virtual WorkArea workArea() const = 0;
    virtual TaskbarEdge taskbarEdge() const = 0;
    // Full geometry of every monitor; index 0 is the primary one. Never empty.
    virtual QList<QRect> monitors() const = 0;
};

} // namespace vestrel
