// The chat client's shell on a real desktop (run-under-xvfb.sh: Xvfb, openbox, a tint2 panel with a
// tray): started hidden with one argument, a message from another client raises one popup at the bottom
// right of the work area. With VESTREL_SCREENSHOT_DIR set, the windows are saved there as pictures.
#include "ChatTestSupport.h"

#include "chat/ui/ChatShell.h"
#include "chat/ui/GroupEditorDialog.h"
#include "chat/ui/NotifySound.h"
#include "chat/ui/SettingsDialog.h"
#include "components/DesktopScreen.h"
#include "components/ui/QtDesktopScreen.h"
#include "components/ui/SlidePopUp.h"
#include "components/ui/TrayIcon.h"
#include "platform/ProgramDir.h"
#include "tests/support/RealDesktop.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

using namespace vestrel;
using namespace vestrel::chat;
using namespace vestrel::chat::test;
using namespace Qt::StringLiterals;

namespace {

class SilentSound : public NotifySound {
public:
    int played = 0;
    void play(const QString&) override { ++played; }
};

} // namespace

class TestChatShellX11 : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!vestrel::testing::onRealDisplay())
            QSKIP("needs a real X display (run under run-under-xvfb.sh)");
        QVERIFY(m_dir.isValid());
        qputenv("VESTREL_PROGRAM_DIR", m_dir.filePath(u"prog"_s).toLocal8Bit());
        qputenv("VESTREL_REGISTRY_DIR", m_dir.filePath(u"reg"_s).toLocal8Bit());
        qputenv("XDG_DATA_HOME", m_dir.filePath(u"data"_s).toLocal8Bit());
        QDir(m_dir.path()).mkpath(u"prog"_s);
        QDir(m_dir.path()).mkpath(u"reg"_s);
        QVERIFY(vestrel::testing::waitForTray());
    }

    void startedHiddenAMessageRaisesOnePopup() {
        RelayProcess relay;
        TUserConfig stored;
        stored.Nick = "anna";
        stored.Host = "host-anna";
        stored.Server = "127.0.0.1";
        stored.Porta = QByteArray::number(relay.port());
        stored.Notifica = "0";
        stored.Check = "0";
        UserConfigStore::save(stored);

        TUserConfig config;
        RecordingBoxes boxes;
        SilentSound sound;
        ChatShell::Seams seams;
        seams.sound = &sound;
        ChatShell shell(config, boxes, seams);
        shell.window().Client().setLocalName("pc-anna");
        shell.start({u"chatclient"_s, u"/min"_s});
        QCoreApplication::processEvents(); // the queued start-up steps
        QVERIFY(shell.window().isHidden());
        QVERIFY(shell.trayIcon().IconVisible());
        // The icon sits in the panel's tray at the bottom of the screen.
        QWidget* trayWindow = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (QByteArray(widget->metaObject()->className()) == "QSystemTrayIconSys")
                trayWindow = widget;
        }
        QVERIFY(trayWindow);
        QTRY_VERIFY(trayWindow->isVisible() && trayWindow->mapToGlobal(QPoint(0, 0)).y() >= 994);

        Peer bob("bob", "pcB", relay.port());
        bob.window->Connect();
        QTRY_COMPARE(bob.listBox(), QStringList({u"anna"_s, u"Tutti"_s}));
        bob.type(u"ciao anna"_s, u"anna"_s);
        QTRY_COMPARE(openSlidePopUps().size(), 1);
        TfrmSlidePopUp* popup = openSlidePopUps().first();
        const WorkArea area = systemDesktopScreen().workArea();
        QTRY_COMPARE_WITH_TIMEOUT(popup->frameGeometry(), QRect(area.right - 16 - 185, area.bottom - 2 - 121, 185, 121),
                                  5000);
        QCOMPARE(sound.played, 1);
        QTest::qWait(300);
        vestrel::testing::saveScreenshot(vestrel::testing::grabScreen(), u"chat-popup.png"_s);

        // The link shows the window; the popup closes.
        popup->lblTextClick();
        QTRY_VERIFY(shell.windowShowing());
        QTRY_VERIFY(openSlidePopUps().isEmpty());
        QVERIFY(QTest::qWaitForWindowExposed(&shell.window()));
        QTest::qWait(300);
        vestrel::testing::saveScreenshot(shell.window().grab(), u"chat-window.png"_s);

        TForm1 settings(
            config, [] { return QByteArray("pc-anna"); }, &shell.window());
        settings.show();
        QVERIFY(QTest::qWaitForWindowExposed(&settings));
        vestrel::testing::saveScreenshot(settings.grab(), u"chat-settings.png"_s);
        settings.reject();

        TCreaGruppi editor(boxes, &shell.window());
        editor.ListBox1->addItems({u"bob"_s, u"carl\u00e8"_s});
        editor.ListBox2->addItem(u"luca"_s);
        editor.Edit1->setText(u"Ufficio"_s);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        vestrel::testing::saveScreenshot(editor.grab(), u"chat-group-editor.png"_s);
        editor.reject();
        shell.window().FormCloseQuery();
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestChatShellX11)
#include "tst_chatshell_x11.moc"
