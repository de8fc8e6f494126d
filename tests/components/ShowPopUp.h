#pragma once

#include "components/ui/SlidePopUp.h"

namespace vestrel::test {

// Shows one popup and returns its window, or null when ShowPopUp refused.
inline TfrmSlidePopUp* showPopUp(TSlidePopUp& component) {
    const QList<TfrmSlidePopUp*> before = openSlidePopUps();
    if (!component.ShowPopUp())
        return nullptr;
    for (TfrmSlidePopUp* popup : openSlidePopUps()) {
        if (!before.contains(popup))
            return popup;
    }
    return nullptr;
}

} // namespace vestrel::test
