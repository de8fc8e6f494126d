#pragma once

#include "components/ui/TrayShell.h"

#include <QList>
#include <QSet>
#include <QStringList>

namespace vestrel::test {

// A notification area that records every call and answers from its fields.
class FakeTrayShell final : public TrayShell {
public:
    bool available = true;
    QPoint cursor{100, 200};
    Qt::KeyboardModifiers modifiers;
    int doubleClick = 400;

    QSet<quintptr> shown;        // icons in the area now
    QList<TrayNotifyData> calls; // every add and modify, in order
    QStringList log;             // "add", "modify", "remove", "version 3", "menu"
    QMenu* lastMenu = nullptr;
    QList<QPair<QWidget*, bool>> taskbarButtons; // each window's taskbar button taken away or given back

    bool isAvailable() const override { return available; }
    bool add(const TrayNotifyData& data) override {
        log << QStringLiteral("add");
        calls << data;
        if (!available)
            return false;
        shown.insert(data.uID);
        return true;
    }
    bool modify(const TrayNotifyData& data) override {
        log << QStringLiteral("modify");
        calls << data;
        return shown.contains(data.uID);
    }
    bool remove(quintptr uID) override {
        log << QStringLiteral("remove");
        return shown.remove(uID);
    }
    bool setVersion(quintptr, int version) override {
        log << QStringLiteral("version %1").arg(version);
        return true;
    }
    bool cursorPos(QPoint& pos) const override {
        pos = cursor;
        return true;
    }
    Qt::KeyboardModifiers keyboardModifiers() const override { return modifiers; }
    int doubleClickTime() const override { return doubleClick; }
    bool setTaskbarButtonVisible(QWidget* window, bool visible) override {
        taskbarButtons.append({window, visible});
        return true;
    }
    void popupMenu(QMenu* menu, const QPoint&) override {
        log << QStringLiteral("menu");
        lastMenu = menu;
    }

    // The most recent record handed over with balloon fields.
    TrayNotifyData lastBalloon() const {
        for (auto it = calls.crbegin(); it != calls.crend(); ++it) {
            if (it->withInfo)
                return *it;
        }
        return {};
    }
};

} // namespace vestrel::test
