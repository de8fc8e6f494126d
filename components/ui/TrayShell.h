#pragma once

#include <QIcon>
#include <QPoint>
#include <QString>
#include <QtGlobal>

class QMenu;
class QWidget;

namespace vestrel {

// What the shell reports about one tray icon, in the order of the notification-area callback codes.
enum class TrayMessage {
    MouseMove,
    LButtonDown,
    LButtonUp,
    LButtonDblClk,
    RButtonDown,
    RButtonUp,
    MButtonDown,
    MButtonUp,
    ContextMenu, // version-3 style: the menu key or a right click
    Select,      // version-3 style: a click selected the icon
    KeySelect,   // version-3 style: the keyboard selected the icon
    BalloonShow,
    BalloonHide,
    BalloonTimeout,
    BalloonUserClick,
};

// Balloon icon kinds as the shell numbers them.
enum TrayBalloonIcon { NIIF_NONE = 0, NIIF_INFO = 1, NIIF_WARNING = 2, NIIF_ERROR = 3 };

// One icon's record as handed to the shell.
struct TrayNotifyData {
    quintptr uID = 0;      // identifies the icon; the shell reports events with it
    QIcon icon;            // null when the icon could not be read
    QString tip;           // at most 127 characters, empty for none
    bool withInfo = false; // the balloon fields below are meant
    QString info;          // balloon text, at most 255 characters; empty removes the balloon
    QString infoTitle;     // at most 63 characters
    int timeoutMs = 0;
    int infoFlags = NIIF_NONE;
};

// The notification area of the desktop. The shell reports what happens to an icon through
// TTrayIconHandler::Deliver, and a restarted tray host through TTrayIconHandler::TaskbarCreated.
class TrayShell {
public:
    virtual ~TrayShell() = default;

    // Whether a tray host runs now. Without one, hiding a window into the tray would lose it.
    virtual bool isAvailable() const = 0;
    virtual bool add(const TrayNotifyData& data) = 0;
    // Fails for an icon that was never added.
    virtual bool modify(const TrayNotifyData& data) = 0;
    virtual bool remove(quintptr uID) = 0;
    // 0 for the classic callback messages, 3 for the version-3 ones.
    virtual bool setVersion(quintptr uID, int version) = 0;

    // Screen position of the mouse cursor; false when it cannot be read.
    virtual bool cursorPos(QPoint& pos) const = 0;
    // The Shift, Ctrl and Alt keys held down now.
    virtual Qt::KeyboardModifiers keyboardModifiers() const = 0;
    virtual int doubleClickTime() const = 0;
    // Shows `menu` at `pos` and returns at once.
    virtual void popupMenu(QMenu* menu, const QPoint& pos) = 0;
    // Takes a shown window's taskbar button away (or gives it back) while the window stays on screen;
    // false where the desktop offers no such thing.
    virtual bool setTaskbarButtonVisible(QWidget* window, bool visible) {
        Q_UNUSED(window);
        Q_UNUSED(visible);
        return false;
    }
};

// The notification area of this desktop session (QSystemTrayIcon); never null while the application runs.
TrayShell& systemTrayShell();

} // namespace vestrel
