// Real-window checks on an X screen with a window manager and a bottom panel (run-under-xvfb.sh).
// With VESTREL_SCREENSHOT_DIR set, screenshots of the screen are saved there.
#include "components/ui/QtDesktopScreen.h"
#include "components/ui/QtTrayShell.h"
#include "components/ui/SlidePopUp.h"
#include "components/ui/TrayIcon.h"
#include "tests/components/ShowPopUp.h"
#include "tests/support/RealDesktop.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <QWindow>

using namespace vestrel;
using namespace vestrel::testing;
using namespace Qt::StringLiterals;

namespace {

void screenshot(const QString& name) {
    testing::saveScreenshot(testing::grabScreen(), name);
}

// The tray's balloon is a top-level tool tip window of the toolkit while it shows.
bool balloonShowing() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && QByteArray(widget->metaObject()->className()) == "QBalloonTip")
            return true;
    }
    return false;
}

// The window manager's state atoms of a window, as xprop prints them.
QByteArray netWmState(const QWidget& window) {
    QProcess xprop;
    xprop.start(u"xprop"_s, {u"-id"_s, QString::number(window.winId()), u"_NET_WM_STATE"_s});
    xprop.waitForFinished(5000);
    return xprop.readAllStandardOutput();
}

QImage twoToneIcon() {
    QImage icon(32, 32, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    for (int y = 4; y < 28; ++y) {
        for (int x = 4; x < 28; ++x)
            icon.setPixel(x, y, (x + y) % 8 < 4 ? qRgb(0x1B, 0x3C, 0x78) : qRgb(0xF2, 0xA9, 0x00));
    }
    return icon;
}

} // namespace

class TestComponentsX11 : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (!onRealDisplay())
            QSKIP("needs a real X display (run under run-under-xvfb.sh)");
    }

    void realScreenHasABottomTaskbar() {
        const WorkArea area = systemDesktopScreen().workArea();
        QCOMPARE(area, (WorkArea{0, 0, 1280, 994}));
        QCOMPARE(systemDesktopScreen().taskbarEdge(), TaskbarEdge::Bottom);
    }

    void threeCascadedPopupsSlideIntoPlace() {
        TSlidePopUp component;
        component.Width = 185;
        component.Title = u"Nuovo Messaggio"_s;
        component.TimeOut = 0;
        component.IconBitmap = twoToneIcon();
        component.Font.Color = clBlue;
        component.HoverFont.Color = clRed;
        const QStringList texts = {u"Mario: ci vediamo alle 15 in sala riunioni"_s,
                                   u"Lucia: il backup di stanotte è andato a buon fine"_s,
                                   u"Paolo: è entrato in chat"_s};
        QList<QPointer<TfrmSlidePopUp>> popups;
        for (const QString& text : texts) {
            component.Text = text;
            TfrmSlidePopUp* popup = test::showPopUp(component);
            QVERIFY(popup);
            popups << popup;
        }
        QCOMPARE(popups.size(), 3);

        // The first popup starts as a one-pixel line on the taskbar edge and grows upwards.
        QTRY_VERIFY(popups[0]->windowHandle() && popups[0]->windowHandle()->isExposed());
        int seenHeights = 0;
        int lastHeight = 0;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const int h = popups[0]->windowHandle()->geometry().height();
                if (h != lastHeight) {
                    ++seenHeights;
                    lastHeight = h;
                }
                return !popups[0]->tmrScroll->isActive();
            }(),
            5000);
        QVERIFY2(seenHeights > 2, "the popup did not slide");

        for (int i = 0; i < 3; ++i) {
            TfrmSlidePopUp* popup = popups[i];
            QTRY_VERIFY(!popup->tmrScroll->isActive());
            const QRect expected(1280 - 185 - 16, 994 - 123 * (i + 1), 185, 121);
            QTRY_COMPARE(popup->windowHandle()->geometry(), expected);
            QTRY_COMPARE(popup->frameGeometry(), expected); // no frame was added by the window manager
            QVERIFY(!popup->isActiveWindow());
        }
        QTest::qWait(300); // let the last frame reach the screen before it is captured
        screenshot(u"popups-cascaded.png"_s);

        // Sliding out shrinks each popup back into the taskbar edge until it frees itself.
        for (const QPointer<TfrmSlidePopUp>& popup : std::as_const(popups))
            popup->tmrExitTimer();
        QTRY_VERIFY_WITH_TIMEOUT(popups[0].isNull() && popups[1].isNull() && popups[2].isNull(), 5000);
        QCOMPARE(component.PopupCount(), 0);
    }

    void theTrayIsThereWhenThePanelHasOne() {
        // The panel may register its tray a moment after it reserved its strip: wait for it, but a tray
        // that was expected and never comes is a failure, not the other branch of a test.
        QCOMPARE(waitForTray(trayExpected() ? 20000 : 2000), trayExpected());
    }

    void balloonsOnTheRealTray() {
        if (!trayExpected())
            QSKIP("the panel has no tray");
        QVERIFY(waitForTray());
        QWidget form;
        TTrayIcon icon(&form);
        QPixmap pixmap(22, 22);
        pixmap.fill(QColor(0x1B, 0x3C, 0x78));
        icon.SetIcon(QIcon(pixmap));
        icon.SetIconVisible(true);
        QStringList events;
        icon.OnBalloonHintShow = [&](QObject*) {
            events << u"show"_s;
        };
        icon.OnBalloonHintHide = [&](QObject*) {
            events << u"hide"_s;
        };
        icon.OnBalloonHintTimeout = [&](QObject*) {
            events << u"timeout"_s;
        };

        // A balloon replaced before its time-out is reported hidden, and its time-out never comes.
        QVERIFY(icon.DisplayBalloon(u"Chat Vestrel"_s, u"primo"_s, 1, 1));
        QVERIFY(icon.DisplayBalloon(u"Chat Vestrel"_s, u"secondo"_s, 1, 3));
        QTest::qWait(1500);
        QCOMPARE(events, QStringList({u"show"_s, u"hide"_s, u"show"_s}));
        QVERIFY(balloonShowing());
        screenshot(u"tray-balloon.png"_s);

        // Clearing takes the balloon off the screen and reports it hidden; no time-out follows.
        QVERIFY(icon.ClearBalloon());
        QTRY_VERIFY(!balloonShowing());
        QTest::qWait(2000);
        QCOMPARE(events, QStringList({u"show"_s, u"hide"_s, u"show"_s, u"hide"_s}));

        // Left alone, a balloon times out.
        events.clear();
        QVERIFY(icon.DisplayBalloon(u"Chat Vestrel"_s, u"terzo"_s, 1, 1));
        QTRY_COMPARE_WITH_TIMEOUT(events, QStringList({u"show"_s, u"timeout"_s}), 5000);
    }

    void hidingTheTaskbarButtonKeepsTheWindow() {
        QWidget form;
        form.setWindowTitle(u"Chat Vestrel"_s);
        form.resize(365, 510);
        TTrayIcon icon(&form);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        icon.HideTaskbarButton();
        QTRY_VERIFY(netWmState(form).contains("_NET_WM_STATE_SKIP_TASKBAR"));
        QVERIFY(form.isVisible());
        icon.RestoreApplication();
        QTRY_VERIFY(!netWmState(form).contains("_NET_WM_STATE_SKIP_TASKBAR"));
    }

    void showingTheOwnerBringsItToTheFront() {
        QWidget form;
        form.setWindowTitle(u"Chat Vestrel"_s);
        form.setGeometry(100, 100, 300, 200);
        TTrayIcon icon(&form);
        QWidget other;
        other.setWindowTitle(u"Altro"_s);
        other.setGeometry(150, 150, 300, 200);
        other.show();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        form.show();
        QTRY_VERIFY(form.isActiveWindow());
        form.hide();
        other.activateWindow();
        QTRY_VERIFY(other.isActiveWindow());
        form.show();
        QTRY_VERIFY(form.isActiveWindow());
    }

    void goingToTheTrayLeavesTheWindowReachable() {
        QWidget form;
        form.setWindowTitle(u"Chat Vestrel"_s);
        form.resize(365, 510);
        form.move(345, 135);
        form.setStyleSheet(u"background: #87CEEB"_s);
        auto* label = new QLabel(u"Chat Vestrel"_s, &form);
        label->move(20, 20);
        TTrayIcon icon(&form);
        QPixmap pixmap(22, 22);
        pixmap.fill(QColor(0x1B, 0x3C, 0x78));
        icon.SetIcon(QIcon(pixmap));
        icon.SetHint(u"Chat Vestrel"_s);
        icon.MinimizeToTray = true;
        icon.Loaded();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        form.showMinimized();
        QTRY_VERIFY(icon.IconVisible());
        if (trayExpected()) {
            QTRY_VERIFY(form.isHidden());
            QTest::qWait(500);
            screenshot(u"tray-icon.png"_s);
        } else {
            // No tray host: the window stays on the taskbar, minimised, never hidden.
            QTest::qWait(500);
            QVERIFY(!form.isHidden());
            QVERIFY(form.windowState() & Qt::WindowMinimized);
            screenshot(u"tray-fallback.png"_s);
        }
        icon.RestoreApplication();
        QTRY_VERIFY(form.isVisible() && !(form.windowState() & Qt::WindowMinimized));
    }
};

QTEST_MAIN(TestComponentsX11)
#include "test_components_x11.moc"
