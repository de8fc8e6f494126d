#pragma once

#include "components/ui/TrayShell.h"

#include <QObject>
#include <QSystemTrayIcon>

#include <map>
#include <memory>

class QTimer;

namespace vestrel {

// The notification area of the desktop session through QSystemTrayIcon. Its activation reasons become
// the shell's reports: a click is a left press and release, a double click a double click and release,
// the context request a right press followed by the release (classic style) or the context-menu
// report, a middle click a middle press and release; balloons are the icon's messages.
// It watches the tray host: one appearing again is reported as a restarted taskbar, one going away as a
// lost tray host (windows hidden in the tray must then come back).
class QtTrayShell final : public QObject, public TrayShell {
public:
    explicit QtTrayShell(QObject* parent = nullptr);
    ~QtTrayShell() override;

    bool isAvailable() const override;
    bool add(const TrayNotifyData& data) override;
    bool modify(const TrayNotifyData& data) override;
    bool remove(quintptr uID) override;
    bool setVersion(quintptr uID, int version) override;
    bool cursorPos(QPoint& pos) const override;
    Qt::KeyboardModifiers keyboardModifiers() const override;
    int doubleClickTime() const override;
    void popupMenu(QMenu* menu, const QPoint& pos) override;
    bool setTaskbarButtonVisible(QWidget* window, bool visible) override;

private:
    struct Entry {
        std::unique_ptr<QSystemTrayIcon> icon;
        int version = 0;
        // Runs while a balloon shows; its end is the balloon's time-out. Stopped when the balloon is
        // replaced, cleared or clicked, so a time-out is never reported for a balloon already gone.
        std::unique_ptr<QTimer> balloonTimer;
        bool balloonShowing = false;
    };
    // The balloon of `uID` went away before its time-out: report it hidden.
    void endBalloon(quintptr uID, Entry& entry, TrayMessage report);
    void apply(QSystemTrayIcon& icon, const TrayNotifyData& data);
    void activated(quintptr uID, QSystemTrayIcon::ActivationReason reason);
    void deliverLater(quintptr uID, TrayMessage message);
    void pollHost();

    std::map<quintptr, Entry> m_icons;
    QTimer* m_hostWatch = nullptr;
    bool m_hostSeen = false;
};

} // namespace vestrel
