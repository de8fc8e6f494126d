#pragma once

#include "components/DesktopScreen.h"
#include "components/SlidePopUpRules.h"

#include <QColor>
#include <QFlags>
#include <QFont>
#include <QImage>
#include <QLabel>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QFrame;
class QTimer;

namespace vestrel {

class TfrmSlidePopUp;

using TPopupNotifyEvent = std::function<void(QObject* Sender)>;
using TURLEvent = std::function<void(QObject* Sender, const QString& URL)>;

// A colour in the toolkit's layout: blue in the high byte (0x00BBGGRR); values with the top bit set
// name system colours.
using TColor = quint32;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clWindowText = 0x80000008;
inline constexpr TColor clWindow = 0x80000005;
inline constexpr TColor clBtnFace = 0x8000000F;

// The RGB colour a TColor stands for, system colours taken from the application palette.
QColor colorFromTColor(TColor color);

// channel of c1 + MulDiv(i, channel of c2 - channel of c1, n), for each of red, green and blue:
// step i of n from c1 (i = 0) to c2 (i = n).
QRgb BlendColor(TColor c1, TColor c2, int i, int n);

// A font with its colour, as the popup's text and title use them.
struct TFont {
    QFont Font;
    TColor Color = clWindowText;
};

enum class TOrientation { mbHorizontal, mbVertical };

enum TSlidePopupOption : quint8 {
    spAutoOpenURL = 0x01,
    spSystemFont = 0x02, // kept with the options; nothing depends on it
    spCascadePopups = 0x04,
    spBackgroundTile = 0x08,
    spAllowScroll = 0x10,
    spAllowHyperlink = 0x20,
};
Q_DECLARE_FLAGS(TSlidePopupOptions, TSlidePopupOption)

enum class TDefaultMonitor { dmDesktop, dmPrimary, dmMainForm, dmActiveForm };

// Paints a W x H gradient from c1 to c2, one line per pixel row (vertical) or column (horizontal).
QImage DrawGradient(TColor c1, TColor c2, TOrientation orientation, int w, int h);

// The decorative 138 x 3 strip painted along the bottom of every popup without a background image.
QImage StripBitmap();

// The popup windows of this process that are open, in no particular order.
QList<TfrmSlidePopUp*> openSlidePopUps();

// Shows small always-on-top notification windows that slide out of the taskbar edge, wait `TimeOut`
// seconds, slide back and free themselves. Each ShowPopUp makes one window from the current values of
// the fields below; changing them later does not touch popups already shown.
class TSlidePopUp : public QObject {
public:
    // `screen` answers the work area and the taskbar edge; null means the real screen.
    explicit TSlidePopUp(QObject* owner = nullptr, DesktopScreen* screen = nullptr);
    ~TSlidePopUp() override;

    QString Text = QStringLiteral("text");
    QString URL = QStringLiteral("https://vestrel.invalid/");
    QImage IconBitmap;
    int IconLeft = 8;
    int IconTop = 8;
    int TimeOut = 10; // seconds; 0 or less: until clicked
    int Width = 148;
    int Height = 121;
    TColor GradientColor1 = 16764057; // light blue
    TColor GradientColor2 = clWhite;
    TOrientation GradientOrientation = TOrientation::mbVertical;
    int ScrollSpeed = 9; // pixels per step; used within 1..50
    TFont Font;
    TFont HoverFont;
    QString Title = QStringLiteral("title");
    TFont TitleFont;
    TSlidePopupOptions Options = {spAutoOpenURL, spCascadePopups, spAllowScroll, spAllowHyperlink};
    Qt::CursorShape TextCursor = Qt::ArrowCursor;
    int PopupMarge = 2;
    int PopupStartX = 16;
    int PopupStartY = 2;
    TDefaultMonitor DefaultMonitor = TDefaultMonitor::dmDesktop;
    QImage BackgroundImage; // replaces the gradient when not null
    int Tag = 0;            // given to each new popup window and its text label

    TPopupNotifyEvent OnClick;
    TURLEvent OnURLClick;
    // Opens a clicked link with spAutoOpenURL; the desktop's URL handler unless replaced.
    std::function<void(const QString& url)> OpenURL;

    // Shows one popup; false when there is no room for another one.
    bool ShowPopUp();
    // Closes every popup window of this process.
    void ClosePopUps();

    int PopupCount() const { return m_stack.PopupCount(); }
    int CascadeOffset() const { return m_stack.CascadeOffset(); }
    TaskbarEdge LastTaskbarEdge() const { return m_stack.LastTaskbarEdge(); }

private:
    friend class TfrmSlidePopUp;
    TaskbarEdge GetTaskbarEdge() const;
    void popupReleased() { m_stack.released(); }

    DesktopScreen* m_screen;
    PopupStack m_stack;
};

// A label that reports the mouse entering and leaving it, its clicks and its button releases.
class TMouseLabel : public QLabel {
public:
    explicit TMouseLabel(QWidget* parent);

    int Tag = 0;
    TPopupNotifyEvent OnMouseEnter;
    TPopupNotifyEvent OnMouseLeave;
    TPopupNotifyEvent OnClick; // left button pressed and released over the label
    std::function<void(QObject* Sender, Qt::MouseButton button)> OnMouseUp;

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    bool m_leftPressed = false;
};

// A picture painted at its top-left corner (or stretched over the control), reporting button releases.
class TPopupImage : public QWidget {
public:
    explicit TPopupImage(QWidget* parent);

    QImage Picture;
    bool Stretch = false;
    std::function<void(QObject* Sender, Qt::MouseButton button)> OnMouseUp;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// One popup window: frameless, above other windows, never taking the focus, freeing itself on close.
class TfrmSlidePopUp : public QWidget {
    Q_OBJECT
public:
    TfrmSlidePopUp(TSlidePopUp* component, int tag);
    ~TfrmSlidePopUp() override;

    int Tag = 0;

    // Places, paints and shows the popup `startOffset` pixels from the start position of `edge`.
    void Display(TaskbarEdge edge, const WorkArea& workArea, int startOffset);

    // Closes the popup: it frees itself, unless one of its own event handlers is still running, in
    // which case it only hides and is freed when that handler returns.
    void DoClose();
    bool isClosed() const { return m_closed; }

    // Handlers of the window's controls and timers; tests call them instead of waiting.
    void lblTextMouseEnter();
    void lblTextMouseLeave();
    void lblTextClick();
    void lblTextMouseUp(Qt::MouseButton button);
    void lblTitleMouseUp(Qt::MouseButton button);
    void imgIconMouseUp(Qt::MouseButton button);
    void imgGradientMouseUp(Qt::MouseButton button);
    void tmrScrollTimer();
    void tmrExitTimer();
    void tmrscrollDownTimer();

    QFrame* pnlBorder = nullptr;
    TPopupImage* imgIcon = nullptr;
    TMouseLabel* lblText = nullptr;
    TPopupImage* imgGradient = nullptr;
    TPopupImage* imgStrip = nullptr;
    QTimer* tmrExit = nullptr;
    QTimer* tmrScroll = nullptr;
    QTimer* tmrScrollDown = nullptr;
    TMouseLabel* lblTitle = nullptr;

    // The edge and the offset the popup was displayed with.
    TaskbarEdge taskbarEdge() const { return m_slide ? m_slide->settings().edge : TaskbarEdge::Bottom; }
    int startOffset() const { return m_slide ? m_slide->settings().startOffset : 0; }
    PopupRect popupGeometry() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class TSlidePopUp;
    void copySettings(const TSlidePopUp& c);
    void setPopupGeometry(const PopupRect& r);
    void createNativeWindow();
    void paintBackground();
    void PopupResize();
    void LayoutText();
    void layoutTitle();
    void applyTextFont(const TFont& font);
    void raiseAndClose(const std::function<void()>& event);

    QPointer<TSlidePopUp> m_component;
    std::optional<PopupSlide> m_slide;
    PopupRect m_rect;
    bool m_freeOnClose = false;
    bool m_closed = false;
    bool m_resizeHandler = false;

    // Copies taken when the popup is shown.
    int m_targetWidth = 1;
    int m_targetHeight = 1;
    QString m_text;
    QString m_url;
    QString m_title;
    int m_timeOut = 0;
    QImage m_iconBitmap;
    int m_iconLeft = 0;
    int m_iconTop = 0;
    QImage m_backgroundImage;
    bool m_backgroundTile = false;
    bool m_allowScroll = false;
    bool m_allowHyperlink = false;
    bool m_autoOpenURL = false;
    int m_scrollSpeed = 1;
    TFont m_font;
    TFont m_hoverFont;
    TFont m_titleFont;
    Qt::CursorShape m_textCursor = Qt::ArrowCursor;
    TColor m_gradientColor1 = 0;
    TColor m_gradientColor2 = 0;
    TOrientation m_gradientOrientation = TOrientation::mbVertical;
    TDefaultMonitor m_defaultMonitor = TDefaultMonitor::dmDesktop;
};

} // namespace vestrel

Q_DECLARE_OPERATORS_FOR_FLAGS(vestrel::TSlidePopupOptions)
