#pragma once

#include "components/DesktopScreen.h"

namespace vestrel::test {

// A desktop with fixed answers: a 1280 x 1024 primary monitor with a 30-pixel taskbar at the bottom
// unless a test says otherwise.
class FakeDesktopScreen final : public DesktopScreen {
public:
    WorkArea area{0, 0, 1280, 994};
    TaskbarEdge edge = TaskbarEdge::Bottom;
    QList<QRect> screens{QRect(0, 0, 1280, 1024)};

    WorkArea workArea() const override { return area; }
    TaskbarEdge taskbarEdge() const override { return edge; }
    QList<QRect> monitors() const override { return screens; }
};

} // namespace vestrel::test
