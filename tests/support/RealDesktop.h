#pragma once

// Helpers for the tests that run on a real X screen with a window manager and a bottom panel
// (tests/components/run-under-xvfb.sh). With VESTREL_SCREENSHOT_DIR set, screenshots are saved there.

#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QString>
#include <QSystemTrayIcon>
#include <QTest>

namespace vestrel::testing {

// Whether the test runs on an X server rather than the offscreen platform.
inline bool onRealDisplay() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

// The run without a tray (VESTREL_XVFB_NO_TRAY=1) says so; every other run expects one.
inline bool trayExpected() {
    return qEnvironmentVariable("VESTREL_XVFB_NO_TRAY") != QLatin1String("1");
}

// Waits until the panel's tray answers: it comes up a moment after the panel starts, so each test that
// needs it waits for it itself rather than relying on an earlier test having waited.
[[nodiscard]] inline bool waitForTray(int timeoutMs = 20000) {
    return QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, timeoutMs);
}

// The whole screen as it is now.
inline QPixmap grabScreen() {
    return QGuiApplication::primaryScreen()->grabWindow(0);
}

// Saves `picture` as `name` in VESTREL_SCREENSHOT_DIR, when that is set; the test fails when it cannot.
inline void saveScreenshot(const QPixmap& picture, const QString& name) {
    const QString dir = qEnvironmentVariable("VESTREL_SCREENSHOT_DIR");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    QVERIFY2(picture.save(QDir(dir).filePath(name)), qPrintable(name));
}

} // namespace vestrel::testing
