#include "components/ui/SlidePopUp.h"

#include "components/ui/PopupWindowHints.h"
#include "components/ui/QtDesktopScreen.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFrame>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <algorithm>
#include <climits>

namespace vestrel {

namespace {

// Text beyond this is never visible in a popup; cutting it keeps word wrapping of a huge text cheap.
constexpr int kMaxPopupText = 4096;
constexpr int kSlideStepMs = 25;
constexpr int kBevel = 2;

// a * b / c rounded half away from zero, -1 for c = 0, as the system's MulDiv gives it.
int mulDiv(int a, int b, int c) {
    if (c == 0)
        return -1;
    long long num = static_cast<long long>(a) * b;
    long long den = c;
    if (den < 0) {
        num = -num;
        den = -den;
    }
    return static_cast<int>(num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den));
}

QImage transparentCopy(const QImage& image) {
    // A bitmap without alpha is drawn transparent the toolkit's way: its bottom-left pixel's colour is see-through.
    if (image.isNull() || image.hasAlphaChannel())
        return image;
    QImage result = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = result.pixel(0, result.height() - 1);
    for (int y = 0; y < result.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x) {
            if (line[x] == key)
                line[x] = 0;
        }
    }
    return result;
}

} // namespace

QColor colorFromTColor(TColor color) {
    if (color & 0x80000000u) {
        const QPalette palette = QGuiApplication::palette();
        switch (color & 0xFF) {
        case 0x05:
            return palette.color(QPalette::Base);
        case 0x08:
            return palette.color(QPalette::WindowText);
        case 0x0F:
            return palette.color(QPalette::Button);
        default:
            return palette.color(QPalette::Window);
        }
    }
    return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF));
}

QRgb BlendColor(TColor c1, TColor c2, int i, int n) {
    const QColor a = colorFromTColor(c1);
    const QColor b = colorFromTColor(c2);
    if (n == 0)
        return a.rgb();
    const auto channel = [&](int x, int y) {
        return (x + mulDiv(i, y - x, n)) & 0xFF;
    };
    return qRgb(channel(a.red(), b.red()), channel(a.green(), b.green()), channel(a.blue(), b.blue()));
}

QImage DrawGradient(TColor c1, TColor c2, TOrientation orientation, int w, int h) {
    if (w <= 0 || h <= 0)
        return {};
    QImage image(w, h, QImage::Format_RGB32);
    if (orientation == TOrientation::mbVertical) {
        for (int y = 0; y < h; ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            std::fill(line, line + w, BlendColor(c1, c2, y, h));
        }
    } else {
        auto* first = reinterpret_cast<QRgb*>(image.scanLine(0));
        for (int x = 0; x < w; ++x)
            first[x] = BlendColor(c1, c2, x, w);
        for (int y = 1; y < h; ++y)
            std::copy(first, first + w, reinterpret_cast<QRgb*>(image.scanLine(y)));
    }
    return image;
}

QImage StripBitmap() {
    QImage strip(138, 3, QImage::Format_RGB32);
    const QRgb rows[3] = {qRgb(0x5A, 0x8D, 0xC8), qRgb(0x2E, 0x5E, 0xA6), qRgb(0x1B, 0x3C, 0x78)};
    for (int y = 0; y < 3; ++y) {
        auto* line = reinterpret_cast<QRgb*>(strip.scanLine(y));
        std::fill(line, line + 138, rows[y]);
    }
    return strip;
}

// ---------------------------------------------------------------------------------------------------

TSlidePopUp::TSlidePopUp(QObject* owner, DesktopScreen* screen)
    : QObject(owner)
    , m_screen(screen ? screen : &systemDesktopScreen()) {
    HoverFont.Font.setUnderline(true);
    HoverFont.Color = clBlue;
    TitleFont.Font.setBold(true);
    OpenURL = [](const QString& url) {
        QDesktopServices::openUrl(QUrl(url));
    };
}

TSlidePopUp::~TSlidePopUp() {
    // Popups still open lose their component; they are freed with it rather than left behind.
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* w : windows) {
        auto* popup = qobject_cast<TfrmSlidePopUp*>(w);
        if (popup && popup->m_component == this) {
            popup->m_component = nullptr;
            popup->hide();
            popup->deleteLater();
        }
    }
}

TaskbarEdge TSlidePopUp::GetTaskbarEdge() const {
    return effectiveTaskbarEdge(m_screen->taskbarEdge());
}

bool TSlidePopUp::ShowPopUp() {
    const TaskbarEdge edge = GetTaskbarEdge();
    const WorkArea workArea = m_screen->workArea();
    const std::optional<int> offset = m_stack.reserve(edge, workArea, Height, PopupStartY);
    if (!offset)
        return false;

    auto* popup = new TfrmSlidePopUp(this, Tag); // frees itself when closed
    popup->hide();
    popup->copySettings(*this);
    m_stack.placed(edge, popup->m_targetHeight, PopupMarge, Options.testFlag(spCascadePopups));
    popup->Display(edge, workArea, *offset);
    return true;
}

QList<TfrmSlidePopUp*> openSlidePopUps() {
    QList<TfrmSlidePopUp*> popups;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* w : windows) {
        if (auto* popup = qobject_cast<TfrmSlidePopUp*>(w); popup && !popup->isClosed())
            popups.append(popup);
    }
    return popups;
}

void TSlidePopUp::ClosePopUps() {
    if (PopupCount() < 0)
        return;
    // A popup's close may run handlers that close or free others.
    const QList<TfrmSlidePopUp*> open = openSlidePopUps();
    const QList<QPointer<TfrmSlidePopUp>> popups(open.cbegin(), open.cend());
    for (const QPointer<TfrmSlidePopUp>& popup : popups) {
        if (popup)
            popup->close();
    }
}

// ---------------------------------------------------------------------------------------------------

TMouseLabel::TMouseLabel(QWidget* parent)
    : QLabel(parent) {
    setTextFormat(Qt::PlainText); // text from the network is shown as written, never as markup
}

void TMouseLabel::enterEvent(QEnterEvent* event) {
    QLabel::enterEvent(event);
    if (OnMouseEnter)
        OnMouseEnter(this);
}

void TMouseLabel::leaveEvent(QEvent* event) {
    QLabel::leaveEvent(event);
    if (OnMouseLeave)
        OnMouseLeave(this);
}

void TMouseLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        m_leftPressed = true;
    event->accept();
}

void TMouseLabel::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    const bool click =
        event->button() == Qt::LeftButton && m_leftPressed && rect().contains(event->position().toPoint());
    if (event->button() == Qt::LeftButton)
        m_leftPressed = false;
    QPointer<TMouseLabel> self(this);
    if (click && OnClick)
        OnClick(this);
    if (self && OnMouseUp)
        OnMouseUp(this, event->button());
}

TPopupImage::TPopupImage(QWidget* parent)
    : QWidget(parent) {}

void TPopupImage::paintEvent(QPaintEvent*) {
    if (Picture.isNull())
        return;
    QPainter painter(this);
    if (Stretch)
        painter.drawImage(rect(), Picture);
    else
        painter.drawImage(0, 0, Picture);
}

void TPopupImage::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (OnMouseUp)
        OnMouseUp(this, event->button());
}

// ---------------------------------------------------------------------------------------------------

TfrmSlidePopUp::TfrmSlidePopUp(TSlidePopUp* component, int tag)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus)
    , Tag(tag)
    , m_component(component) {
    setObjectName(QStringLiteral("TfrmSlidePopUp"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);

    pnlBorder = new QFrame(this);
    pnlBorder->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pnlBorder->setLineWidth(kBevel);
    pnlBorder->setAutoFillBackground(true);

    imgGradient = new TPopupImage(pnlBorder);
    imgGradient->OnMouseUp = [this](QObject*, Qt::MouseButton b) {
        imgGradientMouseUp(b);
    };

    imgIcon = new TPopupImage(pnlBorder);
    imgIcon->setGeometry(3, 8, 32, 32);
    imgIcon->OnMouseUp = [this](QObject*, Qt::MouseButton b) {
        imgIconMouseUp(b);
    };

    lblText = new TMouseLabel(pnlBorder);
    lblText->Tag = tag;
    lblText->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    lblText->setWordWrap(true);
    lblText->setCursor(Qt::PointingHandCursor);
    lblText->setGeometry(9, 49, 3, 13);
    lblText->OnMouseEnter = [this](QObject*) {
        lblTextMouseEnter();
    };
    lblText->OnMouseLeave = [this](QObject*) {
        lblTextMouseLeave();
    };
    lblText->OnClick = [this](QObject*) {
        lblTextClick();
    };
    lblText->OnMouseUp = [this](QObject*, Qt::MouseButton b) {
        lblTextMouseUp(b);
    };

    lblTitle = new TMouseLabel(pnlBorder);
    lblTitle->move(48, 8);
    lblTitle->OnMouseUp = [this](QObject*, Qt::MouseButton b) {
        lblTitleMouseUp(b);
    };

    tmrExit = new QTimer(this);
    tmrExit->setInterval(10000);
    connect(tmrExit, &QTimer::timeout, this, &TfrmSlidePopUp::tmrExitTimer);
    tmrScroll = new QTimer(this);
    tmrScroll->setInterval(kSlideStepMs);
    connect(tmrScroll, &QTimer::timeout, this, &TfrmSlidePopUp::tmrScrollTimer);
    tmrScrollDown = new QTimer(this);
    tmrScrollDown->setInterval(kSlideStepMs);
    connect(tmrScrollDown, &QTimer::timeout, this, &TfrmSlidePopUp::tmrscrollDownTimer);
}

TfrmSlidePopUp::~TfrmSlidePopUp() = default;

void TfrmSlidePopUp::copySettings(const TSlidePopUp& c) {
    m_targetWidth = std::max(1, c.Width);
    m_targetHeight = std::max(1, c.Height);
    m_text = c.Text.left(kMaxPopupText);
    m_url = c.URL;
    m_title = c.Title.left(kMaxPopupText);
    m_timeOut = c.TimeOut;
    // Made transparent once here rather than on every repaint of a slide step.
    m_iconBitmap = transparentCopy(c.IconBitmap);
    m_iconLeft = c.IconLeft;
    m_iconTop = c.IconTop;
    m_backgroundImage = transparentCopy(c.BackgroundImage);
    m_backgroundTile = c.Options.testFlag(spBackgroundTile);
    m_allowScroll = c.Options.testFlag(spAllowScroll);
    m_allowHyperlink = c.Options.testFlag(spAllowHyperlink);
    m_autoOpenURL = c.Options.testFlag(spAutoOpenURL);
    m_scrollSpeed = std::clamp(c.ScrollSpeed, 1, 50);
    m_font = c.Font;
    m_hoverFont = c.HoverFont;
    m_titleFont = c.TitleFont;
    m_textCursor = c.TextCursor;
    m_gradientColor1 = c.GradientColor1;
    m_gradientColor2 = c.GradientColor2;
    m_gradientOrientation = c.GradientOrientation;
    m_defaultMonitor = c.DefaultMonitor;
}

PopupRect TfrmSlidePopUp::popupGeometry() const {
    return m_rect;
}

void TfrmSlidePopUp::setPopupGeometry(const PopupRect& r) {
    // The popup's own rectangle leads: a window manager that places new windows its own way is
    // corrected on the next step instead of being followed.
    m_rect = r;
    m_rect.width = std::max(1, r.width);
    m_rect.height = std::max(1, r.height);
    setGeometry(m_rect.left, m_rect.top, m_rect.width, m_rect.height);
}

void TfrmSlidePopUp::Display(TaskbarEdge edge, const WorkArea& workArea, int startOffset) {
    // A popup larger than the work area would hang off the screen: keep it within.
    const int startX = m_component ? std::max(0, m_component->PopupStartX) : 0;
    const int startY = m_component ? std::max(0, m_component->PopupStartY) : 0;
    m_targetWidth = std::clamp(m_targetWidth, 1, std::max(1, workArea.width() - startX));
    m_targetHeight = std::clamp(m_targetHeight, 1, std::max(1, workArea.height() - startY));
    resize(m_targetWidth, m_targetHeight);

    imgStrip = new TPopupImage(pnlBorder);
    imgStrip->Stretch = true;
    imgStrip->OnMouseUp = [this](QObject*, Qt::MouseButton b) {
        imgGradientMouseUp(b);
    };
    lblText->setCursor(m_textCursor);

    m_freeOnClose = true;
    m_slide.emplace(PopupSlide::Settings{edge, workArea, m_targetWidth, m_targetHeight,
                                         m_component ? m_component->PopupStartX : 0,
                                         m_component ? m_component->PopupStartY : 0, startOffset, m_scrollSpeed});
    const PopupRect placed = m_slide->placed();

    lblTitle->setFont(m_titleFont.Font);
    QPalette titlePalette = lblTitle->palette();
    titlePalette.setColor(QPalette::WindowText, colorFromTColor(m_titleFont.Color));
    lblTitle->setPalette(titlePalette);
    layoutTitle();

    // The native window and the layout exist before the first frame is shown, so the slide starts clean.
    setPopupGeometry(placed);
    createNativeWindow();
    pnlBorder->setGeometry(0, 0, m_targetWidth, m_targetHeight);
    imgGradient->setGeometry(kBevel, kBevel, std::max(0, m_targetWidth - 5), m_targetHeight);
    imgStrip->setGeometry(kBevel, m_targetHeight - kBevel - 3, std::max(0, m_targetWidth - 10), 3);

    paintBackground();

    if (m_timeOut > 0)
        tmrExit->setInterval(int(std::min<long long>(static_cast<long long>(m_timeOut) * 1000, INT_MAX)));

    if (m_allowScroll) {
        setPopupGeometry(m_slide->collapsed(placed));
        tmrScroll->start();
    } else {
        m_resizeHandler = true;
        if (m_timeOut > 0)
            tmrExit->start();
    }

    show();
    // Window managers may place a newly mapped window where they like; ask again for our place.
    if (QWindow* window = windowHandle())
        window->setGeometry(m_rect.left, m_rect.top, m_rect.width, m_rect.height);

    applyTextFont(m_hoverFont);
    applyTextFont(m_font);
}

void TfrmSlidePopUp::createNativeWindow() {
    winId();
    keepOffTaskbar(this);
}

void TfrmSlidePopUp::paintBackground() {
    const int panelW = pnlBorder->width();
    const int panelH = pnlBorder->height();
    const QSize size(std::max(1, panelW - 5), std::max(1, panelH));
    QImage picture;
    if (m_backgroundImage.isNull()) {
        imgStrip->Picture = StripBitmap();
        // The gradient spans one pixel more than the image shows, so its last column is cut off.
        picture = DrawGradient(m_gradientColor1, m_gradientColor2, m_gradientOrientation, std::max(1, panelW - 4),
                               size.height())
                      .copy(QRect(QPoint(0, 0), size));
    } else {
        picture = QImage(size, QImage::Format_RGB32);
        picture.fill(Qt::white);
        QPainter painter(&picture);
        const QImage& bg = m_backgroundImage;
        if (m_backgroundTile) {
            for (int x = 0; x < picture.width(); x += bg.width()) {
                for (int y = 0; y < picture.height(); y += bg.height())
                    painter.drawImage(x, y, bg);
            }
        } else {
            painter.drawImage(0, 0, bg);
        }
    }
    if (m_iconBitmap.isNull()) {
        lblTitle->move(8, lblTitle->y());
        layoutTitle();
    } else {
        QPainter painter(&picture);
        painter.drawImage(m_iconLeft, m_iconTop, m_iconBitmap);
    }
    imgGradient->Picture = picture;
    imgGradient->update();
}

void TfrmSlidePopUp::PopupResize() {
    if (pnlBorder->size() != size())
        pnlBorder->resize(size());
    if (m_backgroundImage.isNull())
        imgGradient->resize(std::max(0, pnlBorder->width() - 5), pnlBorder->height());
    paintBackground();
    LayoutText();
}

void TfrmSlidePopUp::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_resizeHandler && !m_closed)
        PopupResize();
}

void TfrmSlidePopUp::LayoutText() {
    const int panelW = pnlBorder->width();
    const int panelH = pnlBorder->height();
    lblText->setText(m_text);
    const int labelW = std::max(1, panelW - 15);
    const PopupRect icon = m_iconBitmap.isNull() ? PopupRect{}
                                                 : PopupRect{kBevel + m_iconLeft, kBevel + m_iconTop,
                                                             m_iconBitmap.width(), m_iconBitmap.height()};
    const PopupRect text = popupTextRect(panelW, panelH, lblText->heightForWidth(labelW), icon);
    lblText->setGeometry(text.left, text.top, text.width, text.height);
}

void TfrmSlidePopUp::layoutTitle() {
    // A title longer than the popup ends in an ellipsis instead of being cut by the edge mid-word.
    const int room = popupTitleWidth(m_targetWidth, lblTitle->x());
    const QString shown = lblTitle->fontMetrics().elidedText(m_title, Qt::ElideRight, room);
    lblTitle->setText(shown);
    lblTitle->setToolTip(shown == m_title ? QString() : m_title);
    lblTitle->adjustSize();
}

void TfrmSlidePopUp::applyTextFont(const TFont& font) {
    lblText->setFont(font.Font);
    QPalette palette = lblText->palette();
    palette.setColor(QPalette::WindowText, colorFromTColor(font.Color));
    lblText->setPalette(palette);
    LayoutText();
}

void TfrmSlidePopUp::tmrScrollTimer() {
    if (!m_slide || m_closed)
        return;
    PopupRect r = popupGeometry();
    const bool done = m_slide->stepIn(r);
    setPopupGeometry(r);
    if (done) {
        tmrScroll->stop();
        m_resizeHandler = true;
        if (m_timeOut > 0)
            tmrExit->start();
    }
}

void TfrmSlidePopUp::tmrExitTimer() {
    tmrExit->stop();
    if (!m_closed)
        tmrScrollDown->start();
}

void TfrmSlidePopUp::tmrscrollDownTimer() {
    if (!m_slide || m_closed)
        return;
    PopupRect r = popupGeometry();
    if (m_slide->stepOut(r)) {
        tmrScrollDown->stop();
        DoClose();
        return;
    }
    setPopupGeometry(r);
}

void TfrmSlidePopUp::lblTextMouseEnter() {
    if (m_allowHyperlink)
        applyTextFont(m_hoverFont);
}

void TfrmSlidePopUp::lblTextMouseLeave() {
    if (m_allowHyperlink)
        applyTextFont(m_font);
}

void TfrmSlidePopUp::raiseAndClose(const std::function<void()>& event) {
    if (m_closed)
        return;
    m_freeOnClose = false;
    event();
    m_freeOnClose = true;
    DoClose();
}

void TfrmSlidePopUp::lblTextClick() {
    raiseAndClose([this] {
        if (m_allowHyperlink) {
            if (m_component && m_component->OnURLClick)
                m_component->OnURLClick(this, m_url);
            if (m_autoOpenURL && m_component && m_component->OpenURL)
                m_component->OpenURL(m_url);
        } else if (m_component && m_component->OnClick) {
            m_component->OnClick(this);
        }
    });
}

void TfrmSlidePopUp::lblTextMouseUp(Qt::MouseButton button) {
    if (button == Qt::RightButton)
        imgGradientMouseUp(button);
}

void TfrmSlidePopUp::lblTitleMouseUp(Qt::MouseButton button) {
    imgGradientMouseUp(button);
}

void TfrmSlidePopUp::imgIconMouseUp(Qt::MouseButton button) {
    imgGradientMouseUp(button);
}

void TfrmSlidePopUp::imgGradientMouseUp(Qt::MouseButton) {
    raiseAndClose([this] {
        if (m_component && m_component->OnClick)
            m_component->OnClick(m_component);
    });
}

void TfrmSlidePopUp::DoClose() {
    if (m_closed)
        return;
    if (m_freeOnClose) {
        m_closed = true;
        tmrExit->stop();
        tmrScroll->stop();
        tmrScrollDown->stop();
        if (m_component)
            m_component->popupReleased();
        hide();
        deleteLater();
    } else {
        hide();
    }
}

void TfrmSlidePopUp::closeEvent(QCloseEvent* event) {
    DoClose();
    event->accept();
}

} // namespace vestrel
