#include "components/SlidePopUpRules.h"

namespace vestrel {

TaskbarEdge effectiveTaskbarEdge(TaskbarEdge reported) {
    return reported == TaskbarEdge::None ? TaskbarEdge::Bottom : reported;
}

int halfRoundedToEven(int n) {
    const int floorHalf = (n >= 0 || n % 2 == 0) ? n / 2 : n / 2 - 1;
    if (n % 2 == 0)
        return floorHalf;
    // n is odd: the half lies exactly between floorHalf and floorHalf + 1.
    return (floorHalf % 2 == 0) ? floorHalf : floorHalf + 1;
}

PopupRect popupTextRect(int panelWidth, int panelHeight, int labelHeight, const PopupRect& icon) {
    PopupRect text;
    text.width = std::max(1, panelWidth - 15);
    text.height = std::max(1, labelHeight);
    text.left = halfRoundedToEven(panelWidth - text.width);
    text.top = std::max(halfRoundedToEven(panelHeight - text.height), 30);
    const bool overlaps = icon.width > 0 && icon.height > 0 && text.left < icon.left + icon.width &&
                          icon.left < text.left + text.width && text.top < icon.top + icon.height &&
                          icon.top < text.top + text.height;
    if (overlaps)
        text.top = icon.top + icon.height + 2;
    return text;
}

int popupTitleWidth(int panelWidth, int titleLeft) {
    constexpr int RightBorder = 6; // bevel and a little air before the edge
    return std::max(0, panelWidth - titleLeft - RightBorder);
}

std::optional<int> PopupStack::reserve(TaskbarEdge edge, const WorkArea& workArea, int height, int popupStartY) {
    if (edge != m_lastTaskbarEdge) {
        m_lastTaskbarEdge = edge;
        m_popupCount = 0;
    }
    if (m_popupCount <= 0) {
        m_cascadeOffset = 0;
    } else {
        // Computed in 64 bits: huge sizes or offsets must refuse, not wrap round.
        const long long offset = m_cascadeOffset;
        switch (edge) {
        case TaskbarEdge::Left:
        case TaskbarEdge::Right:
        case TaskbarEdge::Bottom:
            if (workArea.bottom - offset - height - popupStartY < 0)
                return std::nullopt;
            break;
        case TaskbarEdge::Top:
            if (offset + height + popupStartY > workArea.bottom)
                return std::nullopt;
            break;
        case TaskbarEdge::None:
            break;
        }
    }
    ++m_popupCount;
    return m_cascadeOffset;
}

void PopupStack::placed(TaskbarEdge edge, int height, int popupMarge, bool cascade) {
    if (!cascade)
        m_cascadeOffset = 0;
    else if (edge != TaskbarEdge::None)
        m_cascadeOffset += height + popupMarge;
}

void PopupStack::released() {
    if (m_popupCount > 0)
        --m_popupCount;
}

PopupSlide::PopupSlide(const Settings& settings)
    : m_s(settings) {
    if (m_s.scrollSpeed < 1)
        m_s.scrollSpeed = 1;
}

PopupRect PopupSlide::placed() const {
    const WorkArea& wa = m_s.workArea;
    const int w = m_s.targetWidth;
    const int h = m_s.targetHeight;
    const int o = m_s.startOffset;
    switch (m_s.edge) {
    case TaskbarEdge::Left:
        return {wa.left + m_s.popupStartX, wa.bottom - m_s.popupStartY - h - o, w, h};
    case TaskbarEdge::Top:
        return {wa.right - w - m_s.popupStartX, wa.top + m_s.popupStartY + o, w, h};
    case TaskbarEdge::Right:
    case TaskbarEdge::Bottom:
        return {wa.right - w - m_s.popupStartX, wa.bottom - m_s.popupStartY - h - o, w, h};
    case TaskbarEdge::None:
        break;
    }
    return {0, 0, w, h};
}

PopupRect PopupSlide::collapsed(const PopupRect& placed) const {
    PopupRect r = placed;
    switch (m_s.edge) {
    case TaskbarEdge::Left:
        r.width = 1;
        break;
    case TaskbarEdge::Top:
        r.height = 1;
        break;
    case TaskbarEdge::Right:
        r.left += r.width;
        r.width = 1;
        break;
    case TaskbarEdge::Bottom:
        r.top += r.height;
        r.height = 1;
        break;
    case TaskbarEdge::None:
        break;
    }
    return r;
}

bool PopupSlide::stepIn(PopupRect& r) const {
    const int s = m_s.scrollSpeed;
    switch (m_s.edge) {
    case TaskbarEdge::Left:
        if (r.width + s < m_s.targetWidth) {
            r.width += s;
            return false;
        }
        r.width = m_s.targetWidth;
        return true;
    case TaskbarEdge::Top:
        if (r.height + s < m_s.targetHeight) {
            r.height += s;
            return false;
        }
        r.height = m_s.targetHeight;
        return true;
    case TaskbarEdge::Right:
        if (r.width + s < m_s.targetWidth) {
            r.left -= s;
            r.width += s;
            return false;
        }
        r.width = m_s.targetWidth;
        r.left = m_s.workArea.right - m_s.popupStartX - r.width;
        return true;
    case TaskbarEdge::Bottom:
        if (r.height + s < m_s.targetHeight) {
            r.top -= s;
            r.height += s;
            return false;
        }
        r.height = m_s.targetHeight;
        r.top = m_s.workArea.bottom - m_s.popupStartY - r.height - m_s.startOffset;
        return true;
    case TaskbarEdge::None:
        break;
    }
    return false;
}

bool PopupSlide::stepOut(PopupRect& r) const {
    const int s = m_s.scrollSpeed;
    switch (m_s.edge) {
    case TaskbarEdge::Left:
        if (r.width - s <= 0)
            return true;
        r.width -= s;
        return false;
    case TaskbarEdge::Top:
        if (r.height - s <= 0)
            return true;
        r.height -= s;
        return false;
    case TaskbarEdge::Right:
        if (r.width - s <= 0)
            return true;
        r.left += s;
        r.width -= s;
        return false;
    case TaskbarEdge::Bottom:
        if (r.height - s <= 0)
            return true;
        r.top += s;
        r.height -= s;
        return false;
    case TaskbarEdge::None:
        break;
    }
    return false;
}

} // namespace vestrel
