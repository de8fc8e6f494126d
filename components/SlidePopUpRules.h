#pragma once

#include "components/DesktopScreen.h"

#include <optional>

namespace vestrel {

// Outer geometry of a popup window.
struct PopupRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const PopupRect&, const PopupRect&) = default;
};

// The taskbar edge popups are laid out against. A desktop without a taskbar uses the bottom edge,
// so popups are still placed, stacked and slid where the user expects them.
TaskbarEdge effectiveTaskbarEdge(TaskbarEdge reported);

// Half of `n`, rounded to the nearest integer with ties going to the even one.
int halfRoundedToEven(int n);

// Where a popup's text label goes on a panel of the given size: as wide as the panel less 15, centred,
// vertically centred but never above 30. When that would cover the icon (`icon`, in panel coordinates,
// empty when there is none), the text starts below it instead, so several lines never overlap it.
PopupRect popupTextRect(int panelWidth, int panelHeight, int labelHeight, const PopupRect& icon);

// The width the title may take from its left edge to the panel's right border; a longer title is
// shortened to it with an ellipsis.
int popupTitleWidth(int panelWidth, int titleLeft);

// The memory a popup component keeps of its open popups: how many there are and where the next one
// goes. It holds no list of windows; a closing popup only lowers the count.
class PopupStack {
public:
    int PopupCount() const { return m_popupCount; }
    int CascadeOffset() const { return m_cascadeOffset; }
    TaskbarEdge LastTaskbarEdge() const { return m_lastTaskbarEdge; }

    // Counts one more popup of `height` when there is room for it above (or below) those still open.
    // Returns the offset from the start position at which it goes, or nothing when there is no room;
    // a refusal changes nothing but the remembered edge.
    std::optional<int> reserve(TaskbarEdge edge, const WorkArea& workArea, int height, int popupStartY);
    // Moves the next popup's offset past the one just placed, or back to the start without cascading.
    void placed(TaskbarEdge edge, int height, int popupMarge, bool cascade);
    // A popup has closed.
    void released();

private:
    int m_popupCount = 0;
    int m_cascadeOffset = 0;
    TaskbarEdge m_lastTaskbarEdge = TaskbarEdge::Left; // the component starts with edge value 0
};

// Geometry of one popup from placement through sliding in and out. Steps follow the taskbar edge the
// popup was displayed against: the window grows out of that edge and shrinks back into it.
class PopupSlide {
public:
    struct Settings {
        TaskbarEdge edge = TaskbarEdge::Bottom;
        WorkArea workArea;
        int targetWidth = 0;
        int targetHeight = 0;
        int popupStartX = 0;
        int popupStartY = 0;
        int startOffset = 0;
        int scrollSpeed = 1;
    };

    explicit PopupSlide(const Settings& settings);

    const Settings& settings() const { return m_s; }
    // Full-size position next to the taskbar, `startOffset` away from the start position.
    PopupRect placed() const;
    // The placed window squeezed to one pixel against the taskbar edge, where the slide-in starts.
    PopupRect collapsed(const PopupRect& placed) const;
    // One slide-in step. Returns true when the window has reached its full size (the last step).
    bool stepIn(PopupRect& r) const;
    // One slide-out step. Returns true when the window has no room left and should close.
    bool stepOut(PopupRect& r) const;

private:
    Settings m_s;
};

} // namespace vestrel
