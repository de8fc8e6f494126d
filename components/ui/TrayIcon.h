#pragma once

#include "components/MessageTimer.h"
#include "components/ui/TrayShell.h"

#include <QElapsedTimer>
#include <QFlags>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QWidget;

namespace vestrel {

class TTrayIcon;

enum TShiftStateFlag { ssShift = 0x01, ssAlt = 0x02, ssCtrl = 0x04, ssLeft = 0x08, ssRight = 0x10, ssMiddle = 0x20 };
Q_DECLARE_FLAGS(TShiftState, TShiftStateFlag)

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

using TTrayNotifyEvent = std::function<void(QObject* Sender)>;
using TMouseEvent = std::function<void(QObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(QObject* Sender, TShiftState Shift, int X, int Y)>;
using TCycleEvent = std::function<void(QObject* Sender, int NextIndex)>;
using TStartupEvent = std::function<void(QObject* Sender, bool& ShowMainForm)>;

// Routes the shell's reports to the tray icons of the process. One instance serves every icon; it
// exists while at least one icon does.
class TTrayIconHandler {
public:
    static void AttachTrayHandler(TTrayIcon* icon);
    static void DetachTrayHandler(TTrayIcon* icon);
    static int UserCount();

    // Called by the shell: `message` happened to the icon `uID`. Unknown identifiers are ignored.
    static void Deliver(quintptr uID, TrayMessage message);
    // Called by the shell when the tray host has (re)started: visible icons are added again.
    static void TaskbarCreated();
    // Called by the shell when the tray host has gone away: windows hidden in the tray come back.
    static void TrayHostLost();

private:
    int m_users = 0;
    // The icons of the one handler; null when there is none.
    static const QHash<quintptr, TTrayIcon*>* registeredIcons();
    QHash<quintptr, TTrayIcon*> m_icons;
};

// One icon in the notification area, turning the shell's reports into events, and the means for a
// program to live there: hiding its main window into the tray on minimise and bringing it back.
// Whenever the main window is shown, it is brought to the front.
//
// The owner is the program's main window. Where the desktop has no tray host, "going to the tray"
// minimises the window to the taskbar instead, so it can always be reached again.
class TTrayIcon : public QObject {
public:
    // `shell` null means the desktop's notification area.
    explicit TTrayIcon(QWidget* owner, TrayShell* shell = nullptr);
    ~TTrayIcon() override;

    // Applies the properties set so far, as a form does once it has been read; lets OnStartup keep the
    // main window hidden. Call it before showing the main window, and show it only if ShowMainForm().
    void Loaded();
    bool ShowMainForm() const { return m_showMainForm; }

    bool DesignPreview() const { return m_designPreview; }
    void SetDesignPreview(bool value) { m_designPreview = value; } // no design environment here

    const QList<QIcon>& IconList() const { return m_iconList; }
    void SetIconList(const QList<QIcon>& list);
    bool CycleIcons() const { return m_cycleIcons; }
    void SetCycleIcons(bool value);
    uint CycleInterval() const { return m_cycleInterval; }
    void SetCycleInterval(uint value);
    QString Hint() const { return m_hint; }
    void SetHint(const QString& value);
    bool ShowHint() const { return m_showHint; }
    void SetShowHint(bool value);
    QIcon Icon() const { return m_icon; }
    void SetIcon(const QIcon& value);
    bool IconVisible() const { return m_iconVisible; }
    void SetIconVisible(bool value);
    int IconIndex() const { return m_iconIndex; }
    void SetIconIndex(int value);
    QMenu* PopupMenu() const { return m_popupMenu; }
    void SetPopupMenu(QMenu* menu) { m_popupMenu = menu; }
    bool WantEnterExitEvents() const { return m_wantEnterExitEvents; }
    void SetWantEnterExitEvents(bool value);
    quint8 ShellMessageStyle() const { return m_shellMessageStyle; }
    void SetShellMessageStyle(quint8 value);

    bool Enabled = true;
    bool LeftPopup = false;
    bool MinimizeToTray = false;

    TTrayNotifyEvent OnClick;
    TTrayNotifyEvent OnDblClick;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;
    TTrayNotifyEvent OnMouseEnter;
    TTrayNotifyEvent OnMouseExit;
    TCycleEvent OnCycle;
    TTrayNotifyEvent OnBalloonHintShow;
    TTrayNotifyEvent OnBalloonHintHide;
    TTrayNotifyEvent OnBalloonHintTimeout;
    TTrayNotifyEvent OnBalloonHintClick;
    TTrayNotifyEvent OnMinimizeToTray;
    TStartupEvent OnStartup;

    // Shows a balloon at the icon, replacing one still showing. IconKind: 0 none, 1 information,
    // 2 warning, 3 error. The title is cut to 63 characters and the text to 255.
    bool DisplayBalloon(const QString& Title, const QString& Text, quint8 IconKind, quint8 TimeoutSeconds);
    bool ClearBalloon();

    void RestoreApplication();
    void HideApplication();
    // Takes the main window's taskbar button away; the window itself stays as it is.
    void HideTaskbarButton();
    // The tray host went away: a main window hidden in the tray comes back, minimised on the taskbar,
    // so the user can still reach it.
    void TrayHostLost();

    virtual bool ShowTrayIcon();
    virtual bool HideTrayIcon();
    virtual bool UpdateTrayIcon();

    // What the handler calls for one report of the shell.
    void HandleTrayMessage(TrayMessage message);

    // Timer handlers; tests call them instead of waiting.
    void CycleTick();
    void SingleClickTick();
    void LeaveTick();
    const TMessageTimer& IconCycleTimer() const { return *m_iconCycleTimer; }
    const TMessageTimer& SingleClickTimer() const { return *m_singleClickTimer; }
    const TMessageTimer& LeaveTimer() const { return *m_leaveTimer; }

    quintptr uID() const { return reinterpret_cast<quintptr>(this); }

protected:
    virtual void FireClick();
    virtual void FireDblClick();
    virtual void FireCycle(int NextIndex);
    virtual void FireMouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    virtual void FireMouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    virtual void FireMouseMove(TShiftState Shift, int X, int Y);
    virtual void FireMouseEnter();
    virtual void FireMouseExit();
    virtual void GoToTray();

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool FillNotifyData();
    void ShowTrayMenu();
    bool TryMinimizeToTray();
    TShiftState currentShift() const;
    QWidget* mainForm() const;

    QPointer<QWidget> m_owner;
    TrayShell* m_shell;
    TrayNotifyData m_notifyData;

    bool m_designPreview = false;
    QList<QIcon> m_iconList;
    bool m_cycleIcons = false;
    uint m_cycleInterval = 0;
    QString m_hint;
    bool m_showHint = true;
    QIcon m_icon;
    bool m_iconVisible = false;
    int m_iconIndex = 0;
    QPointer<QMenu> m_popupMenu;
    bool m_wantEnterExitEvents = false;
    quint8 m_shellMessageStyle = 0;

    std::unique_ptr<TMessageTimer> m_iconCycleTimer;
    std::unique_ptr<TMessageTimer> m_singleClickTimer;
    std::unique_ptr<TMessageTimer> m_leaveTimer;

    bool m_leftDown = false;
    bool m_clickWaiting = false;
    bool m_doubleClicked = false;
    bool m_mouseOutside = true;
    bool m_showMainForm = true;
    bool m_goingToTray = false;
    // Since the last RestoreApplication(); a minimise within RestoreSettleMs of it is undone.
    QElapsedTimer m_restoring;
    static constexpr qint64 RestoreSettleMs = 1000;
    QPoint m_lastMousePos;
};

} // namespace vestrel

Q_DECLARE_OPERATORS_FOR_FLAGS(vestrel::TShiftState)
