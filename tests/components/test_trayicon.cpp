#include "components/ui/TrayIcon.h"
#include "tests/components/FakeTrayShell.h"

#include <QMenu>
#include <QPixmap>
#include <QTest>
#include <QWidget>

using namespace vestrel;
using namespace Qt::StringLiterals;

namespace {

QIcon colouredIcon(Qt::GlobalColor colour) {
    QPixmap pixmap(16, 16);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

QRgb iconColour(const QIcon& icon) {
    return icon.pixmap(16, 16).toImage().pixel(0, 0);
}

// Runs a script of shell reports and timer ticks: "down", "up", "dbl", "tick" (the double-click time passed).
void play(TTrayIcon& icon, const QString& script) {
    const QStringList steps = script.split(u' ', Qt::SkipEmptyParts);
    for (const QString& step : steps) {
        if (step == u"down")
            TTrayIconHandler::Deliver(icon.uID(), TrayMessage::LButtonDown);
        else if (step == u"up")
            TTrayIconHandler::Deliver(icon.uID(), TrayMessage::LButtonUp);
        else if (step == u"dbl")
            TTrayIconHandler::Deliver(icon.uID(), TrayMessage::LButtonDblClk);
        else if (step == u"tick" && icon.SingleClickTimer().Enabled())
            icon.SingleClickTick();
    }
}

} // namespace

class TestTrayIcon : public QObject {
    Q_OBJECT

private slots:
    void hintReachesTheShellCut_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("showHint");
        QTest::addColumn<int>("tipLength");
        QTest::newRow("200 characters") << 200 << true << 127;
        QTest::newRow("127 characters") << 127 << true << 127;
        QTest::newRow("short") << 12 << true << 12;
        QTest::newRow("empty") << 0 << true << 0;
        QTest::newRow("ShowHint off") << 50 << false << 0;
    }
    void hintReachesTheShellCut() {
        QFETCH(int, length);
        QFETCH(bool, showHint);
        QFETCH(int, tipLength);
        test::FakeTrayShell shell;
        TTrayIcon icon(nullptr, &shell);
        icon.SetShowHint(showHint);
        icon.SetHint(QString(length, u'h'));
        icon.SetIconVisible(true);
        QCOMPARE(shell.calls.last().tip, QString(tipLength, u'h'));
    }

    void balloonFieldsAreCutAndReplaceTheShowingOne() {
        test::FakeTrayShell shell;
        TTrayIcon icon(nullptr, &shell);
        icon.SetIconVisible(true);
        QVERIFY(icon.DisplayBalloon(QString(80, u't'), QString(300, u'x'), 1, 20));
        TrayNotifyData b = shell.lastBalloon();
        QCOMPARE(b.infoTitle.size(), 63);
        QCOMPARE(b.info.size(), 255);
        QCOMPARE(b.timeoutMs, 20000);
        QCOMPARE(b.infoFlags, int(NIIF_INFO));
        // The next balloon first removes the one showing, then shows itself.
        const qsizetype before = shell.calls.size();
        QVERIFY(icon.DisplayBalloon(u"Chat Vestrel"_s, u"second"_s, 3, 5));
        QCOMPARE(shell.calls.size(), before + 2);
        QVERIFY(shell.calls.at(before).withInfo && shell.calls.at(before).info.isEmpty());
        QCOMPARE(shell.calls.at(before + 1).info, u"second"_s);
        QCOMPARE(shell.calls.at(before + 1).infoFlags, int(NIIF_ERROR));
        // Later updates of the icon carry no balloon.
        icon.SetHint(u"x"_s);
        QVERIFY(!shell.calls.last().withInfo);
        // An unknown icon kind shows no icon rather than reading past the table.
        icon.DisplayBalloon(u"t"_s, u"x"_s, 200, 1);
        QCOMPARE(shell.lastBalloon().infoFlags, int(NIIF_NONE));
    }

    void iconIndexIsClamped_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("expected");
        QTest::newRow("7 of 5") << 5 << 7 << 4;
        QTest::newRow("2 of 5") << 5 << 2 << 2;
        QTest::newRow("negative") << 5 << -3 << 0;
        QTest::newRow("no list") << 0 << 3 << 0;
    }
    void iconIndexIsClamped() {
        QFETCH(int, count);
        QFETCH(int, index);
        QFETCH(int, expected);
        test::FakeTrayShell shell;
        TTrayIcon icon(nullptr, &shell);
        const Qt::GlobalColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::cyan};
        QList<QIcon> list;
        for (int i = 0; i < count; ++i)
            list << colouredIcon(colours[i]);
        icon.SetIconList(list);
        icon.SetIconIndex(index);
        QCOMPARE(icon.IconIndex(), expected);
        if (count > 0)
            QCOMPARE(iconColour(icon.Icon()), QColor(colours[expected]).rgb());
    }

    void cycleReportsTheNextIndex() {
        test::FakeTrayShell shell;
        TTrayIcon icon(nullptr, &shell);
        const Qt::GlobalColor colours[] = {Qt::red, Qt::green, Qt::blue};
        icon.SetIconList({colouredIcon(Qt::red), colouredIcon(Qt::green), colouredIcon(Qt::blue)});
        icon.SetCycleInterval(300);
        icon.SetCycleIcons(true);
        QVERIFY(icon.IconCycleTimer().Enabled());
        QCOMPARE(icon.IconCycleTimer().Interval(), 300);
        QList<int> reported;
        QList<int> shownIcons;
        icon.OnCycle = [&](QObject* sender, int next) {
            QCOMPARE(sender, &icon);
            reported << next;
            for (int i = 0; i < 3; ++i) {
                if (iconColour(icon.Icon()) == QColor(colours[i]).rgb())
                    shownIcons << i;
            }
        };
        for (int i = 0; i < 5; ++i)
            icon.CycleTick();
        QCOMPARE(reported, (QList<int>{1, 2, 0, 1, 2}));
        QCOMPARE(shownIcons, (QList<int>{0, 1, 2, 0, 1}));
        icon.SetCycleIcons(false);
        QVERIFY(!icon.IconCycleTimer().Enabled());
    }

    void clickSequences_data() {
        QTest::addColumn<bool>("withDblClick");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("events");
        QTest::newRow("single, waits for the double-click time") << true << true << u"down up"_s << u""_s;
        QTest::newRow("single, then the time passes") << true << true << u"down up tick"_s << u"click"_s;
        QTest::newRow("double click") << true << true << u"down up dbl up tick"_s << u"dbl"_s;
        QTest::newRow("two separate clicks") << true << true << u"down up tick down up tick"_s << u"click click"_s;
        QTest::newRow("press held past the time") << true << true << u"down tick up"_s << u"click"_s;
        QTest::newRow("no OnDblClick: at once") << false << true << u"down up"_s << u"click"_s;
        QTest::newRow("no OnDblClick: double") << false << true << u"down up dbl up"_s << u"click"_s;
        QTest::newRow("disabled") << true << false << u"down up dbl up tick"_s << u""_s;
    }
    void clickSequences() {
        QFETCH(bool, withDblClick);
        QFETCH(bool, enabled);
        QFETCH(QString, script);
        QFETCH(QString, events);
        test::FakeTrayShell shell;
        TTrayIcon icon(nullptr, &shell);
        icon.Enabled = enabled;
        QStringList seen;
        icon.OnClick = [&](QObject*) {
            seen << u"click"_s;
        };
        if (withDblClick)
            icon.OnDblClick = [&](QObject*) {
                seen << u"dbl"_s;
            };
        play(icon, script);
        QCOMPARE(seen.join(u' '), events);
        if (withDblClick && enabled && script.startsWith(u"down"_s))
            QCOMPARE(icon.SingleClickTimer().Interval(), 400);
    }

    void mouseEventsCarryButtonShiftAndCursor() {
        test::FakeTrayShell shell;
        shell.modifiers = Qt::ShiftModifier | Qt::ControlModifier;
        shell.cursor = QPoint(640, 1010);
        TTrayIcon icon(nullptr, &shell);
        QStringList seen;
        icon.OnMouseDown = [&](QObject*, TMouseButton b, TShiftState s, int x, int y) {
            seen << u"down %1 %2 %3,%4"_s.arg(int(b)).arg(s.toInt()).arg(x).arg(y);
        };
        icon.OnMouseUp = [&](QObject*, TMouseButton b, TShiftState s, int, int) {
            seen << u"up %1 %2"_s.arg(int(b)).arg(s.toInt());
        };
        TTrayIconHandler::Deliver(icon.uID(), TrayMessage::MButtonDown);
        TTrayIconHandler::Deliver(icon.uID(), TrayMessage::MButtonUp);
        TTrayIconHandler::Deliver(icon.uID(), TrayMessage::LButtonDown);
        QCOMPARE(seen, (QStringList{u"down 2 37 640,1010"_s, u"up 2 37"_s, u"down 0 13 640,1010"_s}));
    }

    void rightButtonFollowsTheMessageStyle_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("message");
        QTest::addColumn<bool>("raised");
        QTest::newRow("classic: release") << 0 << int(TrayMessage::RButtonUp) << true;
        QTest::newRow("classic: context menu") << 0 << int(TrayMessage::ContextMenu) << false;
        QTest::newRow("v3: release") << 1 << int(TrayMessage::RButtonUp) << false;
        QTest::newRow("v3: context menu") << 1 << int(TrayMessage::ContextMenu) << true;
        QTest::newRow("v3: select") << 1 << int(TrayMessage::Select) << true;
        QTest::newRow("v3: key select") << 1 << int(TrayMessage::KeySelect) << true;
    }
    void rightButtonFollowsTheMessageStyle() {
        QFETCH(int, style);
        QFETCH(int, message);
        QFETCH(bool, raised);
        test::FakeTrayShell shell;
        TTrayIcon icon(nullptr, &shell);
        icon.SetShellMessageStyle(quint8(style));
        QCOMPARE(shell.log.last(), style == 1 ? u"version 3"_s : u"version 0"_s);
        bool up = false;
        icon.OnMouseUp = [&](QObject*, TMouseButton b, TShiftState s, int, int) {
            up = b == TMouseButton::mbRight && s.testFlag(ssRight);
        };
        TTrayIconHandler::Deliver(icon.uID(), TrayMessage(message));
        QCOMPARE(up, raised);
    }

    void menuAndItsDefaultItem() {
        test::FakeTrayShell shell;
        TTrayIcon icon(nullptr, &shell);
        QMenu menu;
        QStringList triggered;
        for (int i = 0; i < 4; ++i) {
            QAction* a = menu.addAction(u"item %1"_s.arg(i));
            connect(a, &QAction::triggered, this, [&triggered, i] { triggered << QString::number(i); });
        }
        menu.setDefaultAction(menu.actions().at(1));
        icon.SetPopupMenu(&menu);

        TTrayIconHandler::Deliver(icon.uID(), TrayMessage::RButtonDown);
        QCOMPARE(shell.lastMenu, &menu);
        TTrayIconHandler::Deliver(icon.uID(), TrayMessage::LButtonDown);
        QCOMPARE(shell.log.count(u"menu"_s), 1); // left press shows the menu only with LeftPopup

        TTrayIconHandler::Deliver(icon.uID(), TrayMessage::LButtonDblClk);
        QCOMPARE(triggered, QStringList{u"1"_s});

        icon.LeftPopup = true;
        TTrayIconHandler::Deliver(icon.uID(), TrayMessage::LButtonDown);
        QCOMPARE(shell.log.count(u"menu"_s), 2);
        TTrayIconHandler::Deliver(icon.uID(), TrayMessage::LButtonDblClk);
        QCOMPARE(triggered, QStringList{u"1"_s});
    }

    void enterAndExit() {
        test::FakeTrayShell shell;
        TTrayIcon icon(nullptr, &shell);
        QStringList seen;
        icon.OnMouseEnter = [&](QObject*) {
            seen << u"enter"_s;
        };
        icon.OnMouseExit = [&](QObject*) {
            seen << u"exit"_s;
        };
        icon.OnMouseMove = [&](QObject*, TShiftState, int, int) {
            seen << u"move"_s;
        };
        TTrayIconHandler::Deliver(icon.uID(), TrayMessage::MouseMove);
        QCOMPARE(seen, QStringList{u"move"_s}); // without WantEnterExitEvents

        icon.SetWantEnterExitEvents(true);
        QVERIFY(icon.LeaveTimer().Enabled());
        QCOMPARE(icon.LeaveTimer().Interval(), 20);
        seen.clear();
        TTrayIconHandler::Deliver(icon.uID(), TrayMessage::MouseMove);
        TTrayIconHandler::Deliver(icon.uID(), TrayMessage::MouseMove);
        icon.LeaveTick(); // the cursor has not moved: still over the icon
        shell.cursor += QPoint(30, 0);
        icon.LeaveTick();
        icon.LeaveTick();
        QCOMPARE(seen, (QStringList{u"enter"_s, u"move"_s, u"move"_s, u"exit"_s}));
    }

    void balloonReportsIgnoreEnabled() {
        test::FakeTrayShell shell;
        TTrayIcon icon(nullptr, &shell);
        icon.Enabled = false;
        QStringList seen;
        icon.OnBalloonHintShow = [&](QObject*) {
            seen << u"show"_s;
        };
        icon.OnBalloonHintHide = [&](QObject*) {
            seen << u"hide"_s;
        };
        icon.OnBalloonHintTimeout = [&](QObject*) {
            seen << u"timeout"_s;
        };
        icon.OnBalloonHintClick = [&](QObject*) {
            seen << u"click"_s;
        };
        for (TrayMessage m : {TrayMessage::BalloonShow, TrayMessage::BalloonHide, TrayMessage::BalloonTimeout,
                              TrayMessage::BalloonUserClick})
            TTrayIconHandler::Deliver(icon.uID(), m);
        QCOMPARE(seen, (QStringList{u"show"_s, u"hide"_s, u"timeout"_s, u"click"_s}));
    }

    void restartedTrayGetsVisibleIconsBack() {
        test::FakeTrayShell shell;
        TTrayIcon visible(nullptr, &shell);
        TTrayIcon hidden(nullptr, &shell);
        visible.SetIconVisible(true);
        hidden.SetIconVisible(true);
        hidden.SetIconVisible(false);
        shell.shown.clear(); // the tray host went away and forgot everything
        TTrayIconHandler::TaskbarCreated();
        QVERIFY(shell.shown.contains(visible.uID()));
        QVERIFY(!shell.shown.contains(hidden.uID()));
    }

    void handlerLivesWhileIconsDo() {
        test::FakeTrayShell shell;
        QCOMPARE(TTrayIconHandler::UserCount(), 0);
        {
            TTrayIcon a(nullptr, &shell);
            auto b = std::make_unique<TTrayIcon>(nullptr, &shell);
            QCOMPARE(TTrayIconHandler::UserCount(), 2);
            const quintptr gone = b->uID();
            b->SetIconVisible(true);
            b.reset();
            QVERIFY(!shell.shown.contains(gone));
            TTrayIconHandler::Deliver(gone, TrayMessage::LButtonDown); // ignored, no crash
        }
        QCOMPARE(TTrayIconHandler::UserCount(), 0);
    }

    void minimiseGoesToTheTray_data() {
        QTest::addColumn<bool>("minimizeToTray");
        QTest::addColumn<bool>("trayHost");
        QTest::addColumn<bool>("withHandler");
        QTest::newRow("tray, no OnMinimizeToTray") << true << true << false;
        QTest::newRow("tray, OnMinimizeToTray") << true << true << true;
        QTest::newRow("no tray host") << true << false << false;
        QTest::newRow("MinimizeToTray off") << false << true << true;
    }
    void minimiseGoesToTheTray() {
        QFETCH(bool, minimizeToTray);
        QFETCH(bool, trayHost);
        QFETCH(bool, withHandler);
        test::FakeTrayShell shell;
        shell.available = trayHost;
        QWidget form;
        TTrayIcon icon(&form, &shell);
        icon.MinimizeToTray = minimizeToTray;
        int handlerCalls = 0;
        if (withHandler)
            icon.OnMinimizeToTray = [&](QObject*) {
                ++handlerCalls;
            };
        form.show();
        QVERIFY(!icon.IconVisible());
        form.showMinimized();
        if (!minimizeToTray) { // the window takes the usual way to the taskbar
            QCoreApplication::processEvents();
            QVERIFY(!form.isHidden());
            QVERIFY(!icon.IconVisible());
            QCOMPARE(handlerCalls, 0);
            return;
        }
        QTRY_VERIFY(icon.IconVisible());
        QCOMPARE(handlerCalls, withHandler ? 1 : 0);
        if (trayHost) {
            QVERIFY(form.isHidden());
            QVERIFY(shell.shown.contains(icon.uID()));
        } else {
            // Nowhere to come back from: the window stays on the taskbar, minimised.
            QVERIFY(form.isVisible());
            QVERIFY(form.windowState() & Qt::WindowMinimized);
        }
        icon.RestoreApplication();
        QVERIFY(form.isVisible());
        QVERIFY(!(form.windowState() & Qt::WindowMinimized));
        QVERIFY(icon.IconVisible()); // the icon stays after a restore
    }

    void hidingTheTaskbarButtonKeepsTheWindowShown() {
        test::FakeTrayShell shell;
        QWidget form;
        TTrayIcon icon(&form, &shell);
        form.show();
        icon.HideTaskbarButton();
        QVERIFY(form.isVisible());
        QCOMPARE(shell.taskbarButtons, (QList<QPair<QWidget*, bool>>{{&form, false}}));
        icon.RestoreApplication(); // the button comes back with the window
        QCOMPARE(shell.taskbarButtons.last(), (QPair<QWidget*, bool>{&form, true}));
    }

    void aLostTrayHostBringsAHiddenWindowBack() {
        test::FakeTrayShell shell;
        QWidget form;
        TTrayIcon icon(&form, &shell);
        icon.MinimizeToTray = true;
        form.show();
        form.showMinimized();
        QTRY_VERIFY(form.isHidden());
        shell.available = false;
        TTrayIconHandler::TrayHostLost();
        QVERIFY(form.isVisible());
        QVERIFY(form.windowState() & Qt::WindowMinimized);
    }

    void startupCanKeepTheMainWindowHidden_data() {
        QTest::addColumn<bool>("show");
        QTest::addColumn<bool>("trayHost");
        QTest::newRow("show") << true << true;
        QTest::newRow("hidden in the tray") << false << true;
        QTest::newRow("hidden, no tray host") << false << false;
    }
    void startupCanKeepTheMainWindowHidden() {
        QFETCH(bool, show);
        QFETCH(bool, trayHost);
        test::FakeTrayShell shell;
        shell.available = trayHost;
        QWidget form;
        TTrayIcon icon(&form, &shell);
        icon.SetIconVisible(true);
        icon.OnStartup = [&](QObject* sender, bool& showMainForm) {
            QCOMPARE(sender, &icon);
            showMainForm = show;
        };
        QVERIFY(form.isHidden());
        icon.Loaded();
        // What the program does next: show the main window only when the start-up left it to be shown.
        if (icon.ShowMainForm())
            form.show();
        QCOMPARE(icon.ShowMainForm(), show);
        if (show) {
            QVERIFY(form.isVisible());
            QVERIFY(!(form.windowState() & Qt::WindowMinimized));
        } else if (trayHost) {
            QVERIFY(form.isHidden());
        } else {
            // No tray to come back from: on the taskbar, minimised.
            QVERIFY(form.isVisible());
            QVERIFY(form.windowState() & Qt::WindowMinimized);
        }
        if (trayHost)
            QVERIFY(shell.shown.contains(icon.uID()));
    }
};

QTEST_MAIN(TestTrayIcon)
#include "test_trayicon.moc"
