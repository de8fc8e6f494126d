#include "components/ui/TrayIcon.h"

#include <QEvent>
#include <QMenu>
#include <QWidget>
#include <QWindow>
#include <QWindowStateChangeEvent>

#include <algorithm>
#include <climits>

namespace vestrel {

namespace {

std::unique_ptr<TTrayIconHandler>& handlerInstance() {
    static std::unique_ptr<TTrayIconHandler> instance;
    return instance;
}

constexpr int kLeaveIntervalMs = 20;
constexpr int kTipLength = 127;
constexpr int kBalloonTextLength = 255;
constexpr int kBalloonTitleLength = 63;
constexpr int kNotifyIconVersion = 3;

} // namespace

// ---------------------------------------------------------------------------------------------------

void TTrayIconHandler::AttachTrayHandler(TTrayIcon* icon) {
    auto& instance = handlerInstance();
    if (!instance)
        instance.reset(new TTrayIconHandler);
    ++instance->m_users;
    instance->m_icons.insert(icon->uID(), icon);
}

void TTrayIconHandler::DetachTrayHandler(TTrayIcon* icon) {
    auto& instance = handlerInstance();
    if (!instance)
        return;
    instance->m_icons.remove(icon->uID());
    if (instance->m_users > 0)
        --instance->m_users;
    if (instance->m_users == 0)
        instance.reset();
}

int TTrayIconHandler::UserCount() {
    const auto& instance = handlerInstance();
    return instance ? instance->m_users : 0;
}

void TTrayIconHandler::Deliver(quintptr uID, TrayMessage message) {
    const auto& instance = handlerInstance();
    if (!instance)
        return;
    if (TTrayIcon* icon = instance->m_icons.value(uID))
        icon->HandleTrayMessage(message);
}

namespace {

// Calls `action` for every registered icon. It may run program code that adds or removes icons, or
// ends the handler: the walk goes over a copy of the ids and looks each icon up again.
template <typename Action> void forEachRegisteredIcon(const QHash<quintptr, TTrayIcon*>* (*icons)(), Action action) {
    const QHash<quintptr, TTrayIcon*>* registered = icons();
    if (!registered)
        return;
    const QList<quintptr> ids = registered->keys();
    for (quintptr id : ids) {
        registered = icons();
        if (!registered)
            return;
        if (TTrayIcon* icon = registered->value(id))
            action(*icon);
    }
}

} // namespace

const QHash<quintptr, TTrayIcon*>* TTrayIconHandler::registeredIcons() {
    const auto& instance = handlerInstance();
    return instance ? &instance->m_icons : nullptr;
}

void TTrayIconHandler::TaskbarCreated() {
    forEachRegisteredIcon(&TTrayIconHandler::registeredIcons, [](TTrayIcon& icon) {
        if (icon.IconVisible())
            icon.ShowTrayIcon();
    });
}

void TTrayIconHandler::TrayHostLost() {
    forEachRegisteredIcon(&TTrayIconHandler::registeredIcons, [](TTrayIcon& icon) { icon.TrayHostLost(); });
}

// ---------------------------------------------------------------------------------------------------

TTrayIcon::TTrayIcon(QWidget* owner, TrayShell* shell)
    : QObject(owner)
    , m_owner(owner)
    , m_shell(shell ? shell : &systemTrayShell()) {
    TTrayIconHandler::AttachTrayHandler(this);
    m_notifyData.uID = uID();

    m_iconCycleTimer = std::make_unique<TMessageTimer>(1000, [this](TMessageTimer*) { CycleTick(); });
    m_singleClickTimer = std::make_unique<TMessageTimer>(1000, [this](TMessageTimer*) { SingleClickTick(); });
    m_leaveTimer = std::make_unique<TMessageTimer>(kLeaveIntervalMs, [this](TMessageTimer*) { LeaveTick(); });

    if (m_owner)
        m_owner->installEventFilter(this);
}

TTrayIcon::~TTrayIcon() {
    SetIconVisible(false);
    m_iconCycleTimer.reset();
    m_singleClickTimer.reset();
    m_leaveTimer.reset();
    if (m_owner)
        m_owner->removeEventFilter(this);
    TTrayIconHandler::DetachTrayHandler(this);
}

void TTrayIcon::Loaded() {
    if (m_owner) {
        bool showMainForm = true;
        if (OnStartup)
            OnStartup(this, showMainForm);
        if (!showMainForm) {
            m_showMainForm = false;
            HideApplication();
        }
    }
    UpdateTrayIcon();
    SetIconVisible(m_iconVisible);
    SetCycleIcons(m_cycleIcons);
    SetWantEnterExitEvents(m_wantEnterExitEvents);
    SetShellMessageStyle(m_shellMessageStyle);
}

// Properties ----------------------------------------------------------------------------------------

void TTrayIcon::SetIconList(const QList<QIcon>& list) {
    m_iconList = list;
    SetIconIndex(0);
}

void TTrayIcon::SetCycleIcons(bool value) {
    m_cycleIcons = value;
    if (value) {
        SetIconIndex(0);
        m_iconCycleTimer->SetInterval(int(std::min<uint>(m_cycleInterval, uint(INT_MAX))));
        m_iconCycleTimer->SetEnabled(true);
    } else {
        m_iconCycleTimer->SetEnabled(false);
    }
}

void TTrayIcon::SetCycleInterval(uint value) {
    m_cycleInterval = value;
    SetCycleIcons(m_cycleIcons);
}

void TTrayIcon::SetHint(const QString& value) {
    m_hint = value;
    UpdateTrayIcon();
}

void TTrayIcon::SetShowHint(bool value) {
    m_showHint = value;
    UpdateTrayIcon();
}

void TTrayIcon::SetIcon(const QIcon& value) {
    m_icon = value;
    UpdateTrayIcon();
}

void TTrayIcon::SetIconVisible(bool value) {
    if (value)
        ShowTrayIcon();
    else
        HideTrayIcon();
}

void TTrayIcon::SetIconIndex(int value) {
    if (!m_iconList.isEmpty()) {
        m_iconIndex = std::clamp(value, 0, int(m_iconList.size()) - 1);
        m_icon = m_iconList.at(m_iconIndex);
    } else {
        m_iconIndex = 0;
    }
    UpdateTrayIcon();
}

void TTrayIcon::SetWantEnterExitEvents(bool value) {
    m_wantEnterExitEvents = value;
    m_leaveTimer->SetEnabled(value);
}

void TTrayIcon::SetShellMessageStyle(quint8 value) {
    m_shellMessageStyle = value;
    m_shell->setVersion(uID(), value == 1 ? kNotifyIconVersion : 0);
}

// Shell calls ---------------------------------------------------------------------------------------

bool TTrayIcon::FillNotifyData() {
    m_notifyData.icon = m_icon;
    m_notifyData.tip = (!m_hint.isEmpty() && m_showHint) ? m_hint.left(kTipLength) : QString();
    return true;
}

bool TTrayIcon::ShowTrayIcon() {
    m_iconVisible = true;
    return FillNotifyData() && m_shell->add(m_notifyData);
}

bool TTrayIcon::HideTrayIcon() {
    m_iconVisible = false;
    return FillNotifyData() && m_shell->remove(uID());
}

bool TTrayIcon::UpdateTrayIcon() {
    return FillNotifyData() && m_shell->modify(m_notifyData);
}

bool TTrayIcon::DisplayBalloon(const QString& Title, const QString& Text, quint8 IconKind, quint8 TimeoutSeconds) {
    static constexpr int kIconKinds[] = {NIIF_NONE, NIIF_INFO, NIIF_WARNING, NIIF_ERROR};
    ClearBalloon();
    m_notifyData.withInfo = true;
    m_notifyData.info = Text.left(kBalloonTextLength);
    m_notifyData.infoTitle = Title.left(kBalloonTitleLength);
    m_notifyData.timeoutMs = TimeoutSeconds * 1000;
    m_notifyData.infoFlags = IconKind < 4 ? kIconKinds[IconKind] : NIIF_NONE;
    const bool result = UpdateTrayIcon();
    m_notifyData.withInfo = false;
    return result;
}

bool TTrayIcon::ClearBalloon() {
    m_notifyData.withInfo = true;
    m_notifyData.info.clear();
    const bool result = UpdateTrayIcon();
    m_notifyData.withInfo = false;
    return result;
}

// Main window ---------------------------------------------------------------------------------------

QWidget* TTrayIcon::mainForm() const {
    return m_owner ? m_owner->window() : nullptr;
}

void TTrayIcon::HideTaskbarButton() {
    QWidget* form = mainForm();
    if (form && form->isVisible())
        m_shell->setTaskbarButtonVisible(form, false);
}

void TTrayIcon::TrayHostLost() {
    QWidget* form = mainForm();
    if (form && form->isHidden())
        form->showMinimized();
}

void TTrayIcon::HideApplication() {
    QWidget* form = mainForm();
    if (!form)
        return;
    if (m_shell->isAvailable()) {
        // On this desktop the taskbar button belongs to the window: hiding the window takes both away.
        form->hide();
    } else {
        // No tray host to come back from: keep the window reachable on the taskbar.
        form->showMinimized();
    }
}

void TTrayIcon::RestoreApplication() {
    QWidget* form = mainForm();
    if (!form)
        return;
    if (form->windowState() & Qt::WindowMinimized)
        form->setWindowState(form->windowState() & ~Qt::WindowMinimized);
    // A window hidden while minimised keeps the minimised state in its native window too; mapped so,
    // it would come back iconic and go straight back to the tray.
    if (QWindow* native = form->windowHandle(); native && (native->windowStates() & Qt::WindowMinimized))
        native->setWindowStates(native->windowStates() & ~Qt::WindowMinimized);
    m_restoring.start();
    form->show();
    m_shell->setTaskbarButtonVisible(form, true);
    form->raise();
    form->activateWindow();
}

void TTrayIcon::GoToTray() {
    HideApplication();
    SetIconVisible(true);
}

bool TTrayIcon::TryMinimizeToTray() {
    if (!MinimizeToTray || !OnMinimizeToTray)
        return false;
    OnMinimizeToTray(this);
    GoToTray();
    return true;
}

bool TTrayIcon::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_owner && event->type() == QEvent::Show) {
        // Once the window is on screen, put it in front of the others.
        QMetaObject::invokeMethod(
            this,
            [this] {
                QWidget* form = mainForm();
                if (form && form->isVisible() && !(form->windowState() & Qt::WindowMinimized)) {
                    form->raise();
                    form->activateWindow();
                }
            },
            Qt::QueuedConnection);
    }
    if (watched == m_owner && event->type() == QEvent::WindowStateChange && !m_goingToTray) {
        const QWidget* form = mainForm();
        const bool minimised = form && (form->windowState() & Qt::WindowMinimized);
        const auto* change = static_cast<QWindowStateChangeEvent*>(event);
        if (minimised && !event->spontaneous())
            m_restoring.invalidate(); // the program minimises the window itself: that is meant
        if (minimised && event->spontaneous() && m_restoring.isValid() && !m_restoring.hasExpired(RestoreSettleMs)) {
            // The window manager still answers the minimise that sent the window to the tray: the
            // window was just brought back, so it stays.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    QWidget* form = mainForm();
                    if (!form || !(form->windowState() & Qt::WindowMinimized))
                        return;
                    form->setWindowState(form->windowState() & ~Qt::WindowMinimized);
                    form->show();
                    form->raise();
                    form->activateWindow();
                },
                Qt::QueuedConnection);
            return QObject::eventFilter(watched, event);
        }
        if (minimised && !(change->oldState() & Qt::WindowMinimized) && MinimizeToTray) {
            // The window is still being minimised (showMinimized shows it once the state is set): hide it
            // once that has finished.
            m_goingToTray = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    m_goingToTray = false;
                    const QWidget* form = mainForm();
                    if (!form || !(form->windowState() & Qt::WindowMinimized))
                        return;
                    if (!TryMinimizeToTray())
                        GoToTray();
                },
                Qt::QueuedConnection);
        }
    }
    return QObject::eventFilter(watched, event);
}

// Shell reports -------------------------------------------------------------------------------------

TShiftState TTrayIcon::currentShift() const {
    const Qt::KeyboardModifiers keys = m_shell->keyboardModifiers();
    TShiftState shift;
    if (keys & Qt::ShiftModifier)
        shift |= ssShift;
    if (keys & Qt::AltModifier)
        shift |= ssAlt;
    if (keys & Qt::ControlModifier)
        shift |= ssCtrl;
    return shift;
}

void TTrayIcon::HandleTrayMessage(TrayMessage message) {
    QPoint pos;
    m_shell->cursorPos(pos);
    const TShiftState shift = currentShift();
    const int x = pos.x();
    const int y = pos.y();

    switch (message) {
    case TrayMessage::MouseMove:
        if (!Enabled)
            return;
        if (m_wantEnterExitEvents && m_mouseOutside) {
            FireMouseEnter();
            m_mouseOutside = false;
        }
        FireMouseMove(shift, x, y);
        m_lastMousePos = pos;
        return;
    case TrayMessage::LButtonDown:
        if (!Enabled)
            return;
        if (OnDblClick) {
            m_singleClickTimer->SetInterval(m_shell->doubleClickTime());
            m_singleClickTimer->SetEnabled(true);
        }
        FireMouseDown(TMouseButton::mbLeft, shift | ssLeft, x, y);
        m_leftDown = true;
        if (LeftPopup)
            ShowTrayMenu();
        return;
    case TrayMessage::LButtonUp:
        if (!Enabled)
            return;
        if (m_leftDown)
            m_clickWaiting = true;
        if (m_leftDown && !m_singleClickTimer->Enabled()) {
            m_leftDown = false;
            m_clickWaiting = false;
            FireClick();
        }
        m_leftDown = false;
        FireMouseUp(TMouseButton::mbLeft, shift | ssLeft, x, y);
        return;
    case TrayMessage::LButtonDblClk:
        if (!Enabled)
            return;
        m_clickWaiting = false;
        m_doubleClicked = true;
        FireDblClick();
        if (m_popupMenu && !LeftPopup) {
            if (QAction* item = m_popupMenu->defaultAction(); item && item->isEnabled())
                item->trigger();
        }
        return;
    case TrayMessage::RButtonDown:
        if (!Enabled)
            return;
        FireMouseDown(TMouseButton::mbRight, shift | ssRight, x, y);
        ShowTrayMenu();
        return;
    case TrayMessage::RButtonUp:
        if (m_shellMessageStyle == 0 && Enabled)
            FireMouseUp(TMouseButton::mbRight, shift | ssRight, x, y);
        return;
    case TrayMessage::ContextMenu:
    case TrayMessage::Select:
    case TrayMessage::KeySelect:
        if (m_shellMessageStyle == 1 && Enabled)
            FireMouseUp(TMouseButton::mbRight, shift | ssRight, x, y);
        return;
    case TrayMessage::MButtonDown:
        if (Enabled)
            FireMouseDown(TMouseButton::mbMiddle, shift | ssMiddle, x, y);
        return;
    case TrayMessage::MButtonUp:
        if (Enabled)
            FireMouseUp(TMouseButton::mbMiddle, shift | ssMiddle, x, y);
        return;
    case TrayMessage::BalloonShow:
        if (OnBalloonHintShow)
            OnBalloonHintShow(this);
        return;
    case TrayMessage::BalloonHide:
        if (OnBalloonHintHide)
            OnBalloonHintHide(this);
        return;
    case TrayMessage::BalloonTimeout:
        if (OnBalloonHintTimeout)
            OnBalloonHintTimeout(this);
        return;
    case TrayMessage::BalloonUserClick:
        if (OnBalloonHintClick)
            OnBalloonHintClick(this);
        return;
    }
}

void TTrayIcon::ShowTrayMenu() {
    QPoint pos;
    if (!m_popupMenu || !m_shell->cursorPos(pos))
        return;
    m_shell->popupMenu(m_popupMenu, pos);
}

// Timers --------------------------------------------------------------------------------------------

void TTrayIcon::SingleClickTick() {
    m_singleClickTimer->SetEnabled(false);
    if (!m_doubleClicked && m_clickWaiting) {
        m_clickWaiting = false;
        FireClick();
    }
    m_doubleClicked = false;
}

void TTrayIcon::LeaveTick() {
    if (m_mouseOutside)
        return;
    QPoint pos;
    if (m_shell->cursorPos(pos) && pos != m_lastMousePos) {
        m_mouseOutside = true;
        FireMouseExit();
    }
}

void TTrayIcon::CycleTick() {
    int next = 0;
    if (!m_iconList.isEmpty()) {
        m_iconIndex = std::clamp(m_iconIndex, 0, int(m_iconList.size()) - 1);
        SetIcon(m_iconList.at(m_iconIndex));
        next = m_iconIndex + 1 < m_iconList.size() ? m_iconIndex + 1 : 0;
        FireCycle(next);
        m_iconIndex = next;
    } else {
        FireCycle(next);
    }
}

// Dispatchers ---------------------------------------------------------------------------------------

void TTrayIcon::FireClick() {
    if (OnClick)
        OnClick(this);
}

void TTrayIcon::FireDblClick() {
    if (OnDblClick)
        OnDblClick(this);
}

void TTrayIcon::FireCycle(int NextIndex) {
    if (OnCycle)
        OnCycle(this, NextIndex);
}

void TTrayIcon::FireMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (OnMouseDown)
        OnMouseDown(this, Button, Shift, X, Y);
}

void TTrayIcon::FireMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (OnMouseUp)
        OnMouseUp(this, Button, Shift, X, Y);
}

void TTrayIcon::FireMouseMove(TShiftState Shift, int X, int Y) {
    if (OnMouseMove)
        OnMouseMove(this, Shift, X, Y);
}

void TTrayIcon::FireMouseEnter() {
    if (OnMouseEnter)
        OnMouseEnter(this);
}

void TTrayIcon::FireMouseExit() {
    if (OnMouseExit)
        OnMouseExit(this);
}

} // namespace vestrel
