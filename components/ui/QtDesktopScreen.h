#pragma once

#include "components/DesktopScreen.h"

namespace vestrel {

// The screens of the running Qt application. The taskbar edge is the side where the available
// geometry of the primary screen falls short of its full geometry.
class QtDesktopScreen final : public DesktopScreen {
public:
    WorkArea workArea() const override;
    TaskbarEdge taskbarEdge() const override;
    QList<QRect> monitors() const override;
};

// The instance production code uses; never null.
DesktopScreen& systemDesktopScreen();

} // namespace vestrel
