// The chat client's shell on a real desktop (run-under-xvfb.sh: Xvfb, openbox, a tint2 panel with a
// tray): started hidden with one argument, a message from another client raises one popup at the bottom
// right of the work area. With VESTREL_SCREENSHOT_DIR set, the windows are saved there as pictures.
#include "ChatTestSupport.h"

#include "chat/ui/AddClientDialog.h"
#include "chat/ui/ChatShell.h"
#include "chat/ui/GroupEditorDialog.h"
#include "chat/ui/GroupListDialog.h"
#include "chat/ui/InfoDialog.h"
#include "chat/ui/NotifySound.h"
#include "chat/ui/SettingsDialog.h"
#include "components/DesktopScreen.h"
#include "components/csLocale.h"
#include "components/ui/QtDesktopScreen.h"
#include "components/ui/SlidePopUp.h"
#include "components/ui/TrayIcon.h"
#include "platform/ProgramDir.h"
#include "platform/Registry.h"
#include "tests/support/RealDesktop.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTimer>

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

// Stored settings for a client of `port`; `check` as the close command reads it, null for never saved.
void storeSettings(quint16 port, const char* check, const QByteArray& mostra = "0") {
    TUserConfig stored;
    stored.Nick = "anna";
    stored.Host = "host-anna";
    stored.Server = "127.0.0.1";
    stored.Porta = QByteArray::number(port);
    stored.Notifica = "0";
    stored.Mostra = mostra;
    stored.Check = check ? QByteArray(check) : QByteArray("0");
    UserConfigStore::save(stored);
    if (!check) {
        Registry registry(RegistryHive::LocalMachine);
        QVERIFY(registry.OpenKey(UserConfigStore::RegistryKey, false));
        registry.DeleteValue("Check");
    }
}

// Runs the program's event loop until an exit command ends it; 1 when it is still running after 10 s.
int runUntilExit(const std::function<void()>& command) {
    QTimer::singleShot(300, command);
    QTimer::singleShot(10000, [] { QCoreApplication::exit(1); });
    return QApplication::exec();
}

// The texts `window` shows cut off: a label or button narrower than its text (a word-wrapped label
// shorter than its lines), or reaching past its window's edge.
QStringList clippedTexts(QWidget* window) {
    QStringList clipped;
    const auto check = [&](QWidget* widget, const QString& text, int needed) {
        const QRect inWindow(widget->mapTo(window, QPoint(0, 0)), widget->size());
        if (widget->width() < needed || !window->rect().contains(inWindow))
            clipped.append(u"%1 (%2 < %3)"_s.arg(text).arg(widget->width()).arg(needed));
    };
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (!label->isVisibleTo(window) || label->text().isEmpty() || !label->pixmap().isNull())
            continue;
        const QString text = QString(label->text()).remove(u'&');
        if (label->wordWrap()) {
            if (label->height() < label->heightForWidth(label->width()))
                clipped.append(text);
            continue;
        }
        const int margins = label->contentsMargins().left() + label->contentsMargins().right() + 2 * label->margin();
        check(label, text, label->fontMetrics().horizontalAdvance(text) + margins);
    }
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        if (!button->isVisibleTo(window) || button->text().isEmpty())
            continue;
        const QString text = QString(button->text()).remove(u'&');
        // A push button's frame takes a few pixels each side; a check box needs its box besides.
        const int extra = qobject_cast<QCheckBox*>(button) ? 20 : 6;
        check(button, text, button->fontMetrics().horizontalAdvance(text) + extra);
    }
    return clipped;
}

// Whether the window is on screen, in front and focused, and stays so for a while.
bool cameBack(ChatShell& shell) {
    const auto showing = [&shell] {
        return shell.windowShowing() && QApplication::activeWindow() == &shell.window();
    };
    if (!QTest::qWaitFor(showing, 5000))
        return false;
    QTest::qWait(700); // a stale minimise from the window manager would hide it again by now
    return showing();
}

} // namespace

class TestChatShellX11 : public QObject {
    Q_OBJECT
private slots:
    void cleanup() {
        // Each case starts without a kept layout or settings.
        QFile::remove(registryHiveFile(RegistryHive::CurrentUser));
        QFile::remove(registryHiveFile(RegistryHive::LocalMachine));
    }

    void initTestCase() {
        if (!vestrel::testing::onRealDisplay())
            QSKIP("needs a real X display (run under run-under-xvfb.sh)");
        QVERIFY(m_dir.isValid());
        useChatTestFolders(m_dir);
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

    // Every exit command ends the program, the window shown or hidden, and logs out when connected.
    void exitCommandsEndTheProgram_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("hidden");
        for (const bool hidden : {false, true}) {
            const char* shown = hidden ? "hidden" : "shown";
            for (const char* command : {"Esci dal programma", "Chiudi il programma", "Disconnetti ed Esci",
                                        "Disconnetti ed Esci (icona)", "Annulla alla prima partenza"})
                QTest::addRow("%s, %s", command, shown) << QString::fromLatin1(command) << hidden;
        }
    }
    void exitCommandsEndTheProgram() {
        QFETCH(QString, command);
        QFETCH(bool, hidden);
        const bool connects = command.startsWith(u"Disconnetti"_s);
        const bool firstStart = command.startsWith(u"Annulla"_s);
        FakeChatServer server;
        server.setGreeting(makeChatRecord(ChatCommand::Login, {}, "anna=pc-anna\r\nbob=pc-bob\r\n").toByteArray());
        QFile::remove(programFile(QString::fromLatin1(UserConfigStore::IniFileName)));
        if (!firstStart)
            storeSettings(server.port(), "0", connects ? "1" : "0");

        TUserConfig config;
        RecordingBoxes boxes;
        ChatShell::Seams seams;
        SilentSound sound;
        seams.sound = &sound;
        seams.runModal = [](QDialog&) {
            return int(QDialog::Rejected);
        };
        ChatShell shell(config, boxes, seams);
        shell.window().Client().setLocalName("pc-anna");
        const QStringList arguments = hidden ? QStringList{u"chatclient"_s, u"/min"_s} : QStringList{u"chatclient"_s};
        if (firstStart) {
            // The prompt comes with the start-up steps, which run once the program's event loop does.
            QCOMPARE(runUntilExit([&shell, arguments] { shell.start(arguments); }), 0);
            QCOMPARE(boxes.texts(u"information"_s).first(), u"Inserire i valori per la connessione"_s);
            return;
        }
        shell.start(arguments);
        if (!hidden)
            QVERIFY(QTest::qWaitForWindowExposed(&shell.window()));
        if (connects)
            QTRY_COMPARE(shell.window().ListBox1->count(), 2);

        // While connected, the tray's "Chiudi il programma" is disabled, as "Esci dal programma" is.
        emit shell.trayMenu().aboutToShow();
        QCOMPARE(shell.ChiudiIlProgramma1->isEnabled(), !connects);

        std::function<void()> run = [] {
        };
        if (command == u"Esci dal programma"_s)
            run = [&shell] {
                shell.window().EsciDalProgramma1->trigger();
            };
        else if (command == u"Chiudi il programma"_s)
            run = [&shell] {
                shell.ChiudiIlProgramma1->trigger();
            };
        else if (command == u"Disconnetti ed Esci"_s)
            run = [&shell] {
                shell.window().DisconnettiEdEsci1->trigger();
            };
        else if (command.startsWith(u"Disconnetti ed Esci"_s))
            run = [&shell] {
                shell.DisconnettiEdEsci2->trigger();
            };
        QCOMPARE(runUntilExit(run), 0);
        if (connects)
            QTRY_COMPARE(server.commands(0).mid(1), QByteArrayList{"Logout"});
    }

    // One double click on the icon (or "Visualizza", or a click on the balloon) brings the window back
    // in front and focused, whatever "Check" holds and however the window went away.
    void theWindowComesBackAtTheFirstRequest_data() {
        QTest::addColumn<QString>("check");
        QTest::addColumn<QString>("how");
        for (const char* check : {"1", "0", "never saved", "minimised layout"})
            for (const char* how : {"double click", "Visualizza", "balloon"})
                QTest::addRow("%s, %s", check, how) << QString::fromLatin1(check) << QString::fromLatin1(how);
    }
    void theWindowComesBackAtTheFirstRequest() {
        QFETCH(QString, check);
        QFETCH(QString, how);
        const bool layout = check == u"minimised layout"_s;
        storeSettings(1, check == u"never saved"_s ? nullptr : layout ? "0" : qPrintable(check));

        TUserConfig config;
        RecordingBoxes boxes;
        SilentSound sound;
        ChatShell::Seams seams;
        seams.sound = &sound;
        int infoShown = 0;
        seams.runModal = [&infoShown](QDialog&) {
            ++infoShown;
            return int(QDialog::Accepted);
        };
        if (layout) {
            // A run that ended minimised in the tray keeps that layout; the next one starts hidden.
            ChatShell before(config, boxes, seams);
            before.start({u"chatclient"_s});
            QVERIFY(QTest::qWaitForWindowExposed(&before.window()));
            before.minimiseWindow();
            QTRY_VERIFY(before.window().isHidden());
            before.saveLayout();
        }
        ChatShell shell(config, boxes, seams);
        shell.start(layout ? QStringList{u"chatclient"_s, u"/min"_s} : QStringList{u"chatclient"_s});
        if (layout) {
            QTest::qWait(300);
            QVERIFY(shell.window().isHidden());
        } else {
            QVERIFY(QTest::qWaitForWindowExposed(&shell.window()));
            QTRY_VERIFY(QApplication::activeWindow() == &shell.window());
            shell.window().close(); // the title bar's close button
            QTRY_VERIFY(shell.window().isHidden());
            QCOMPARE(infoShown, check == u"1"_s ? 1 : 0);
            QTest::qWait(300); // the window manager's answer to the minimise has arrived
        }

        if (how == u"double click"_s)
            TTrayIconHandler::Deliver(shell.trayIcon().uID(), TrayMessage::LButtonDblClk);
        else if (how == u"Visualizza"_s)
            shell.Visualizza1->trigger();
        else
            TTrayIconHandler::Deliver(shell.trayIcon().uID(), TrayMessage::BalloonUserClick);
        QVERIFY(cameBack(shell));
    }

    // Every window and dialog of the client, in Italian and in English: no text is cut off, and none
    // is left in the other language. The pictures go to VESTREL_SCREENSHOT_DIR when it is set.
    void everyDialogFitsItsTexts_data() {
        QTest::addColumn<int>("language");
        QTest::newRow("italiano") << 0;
        QTest::newRow("english") << 1;
    }
    void everyDialogFitsItsTexts() {
        QFETCH(int, language);
        const QString suffix = language == 1 ? u"eng"_s : u"ita"_s;
        const QString library = u"DAVerOdov_"_s + suffix + u".dll"_s;
        QFile::remove(programFile(library));
        QVERIFY(QFile::copy(qEnvironmentVariable("VESTREL_BIN_DIR") + u'/' + library, programFile(library)));
        Registry user(RegistryHive::CurrentUser);
        QVERIFY(user.OpenKey(csLocale::LocaleKey, true));
        user.WriteInteger(csLocale::LocaleValue, language);
        storeSettings(1, "1");

        TUserConfig config;
        RecordingBoxes boxes;
        SilentSound sound;
        ChatShell::Seams seams;
        seams.sound = &sound;
        // The information on closing shows modally: it is looked at from inside its run.
        int infoShown = 0;
        QStringList infoClipped;
        seams.runModal = [&](QDialog& dialog) {
            ++infoShown;
            dialog.show();
            if (QTest::qWaitForWindowExposed(&dialog)) {
                QTest::qWait(100);
                vestrel::testing::saveScreenshot(dialog.grab(), u"chat-info-"_s + suffix + u".png"_s);
                infoClipped = clippedTexts(&dialog);
            }
            return int(QDialog::Accepted);
        };
        ChatShell shell(config, boxes, seams);
        shell.start({u"chatclient"_s});
        QVERIFY(QTest::qWaitForWindowExposed(&shell.window()));
        QTest::qWait(200);
        const auto checkWindow = [&](QWidget* window, const QString& name) {
            QVERIFY(QTest::qWaitForWindowExposed(window));
            QTest::qWait(100);
            vestrel::testing::saveScreenshot(window->grab(), u"chat-"_s + name + u'-' + suffix + u".png"_s);
            const QStringList clipped = clippedTexts(window);
            QVERIFY2(clipped.isEmpty(), qPrintable(name + u": "_s + clipped.join(u", "_s)));
        };
        checkWindow(&shell.window(), u"window"_s);
        QLabel* picturePanel = shell.window().StatusPanels[3];
        QVERIFY(picturePanel->width() >= picturePanel->minimumWidth());
        QVERIFY(picturePanel->geometry().right() < shell.window().width());
        const QString everybody = language == 1 ? u"All Clients"_s : u"Tutti i Client"_s;
        QCOMPARE(shell.window().ComboBox1->itemText(0), everybody);
        const QString yes = QCoreApplication::translate("QPlatformTheme", "&Yes");
        QCOMPARE(yes, language == 1 ? u"&Yes"_s : u"&S\u00ec"_s);

        TForm1 settings(
            config, [] { return QByteArray("pc-anna"); }, &shell.window());
        settings.show();
        checkWindow(&settings, u"settings"_s);
        settings.reject();

        TFrmGruppi::Context context;
        TFrmGruppi groups(context, boxes, &shell.window());
        groups.show();
        checkWindow(&groups, u"groups"_s);
        TCreaGruppi editor(boxes, &groups);
        editor.show();
        checkWindow(&editor, u"group-editor"_s);
        Taggiungi add(&editor);
        add.FormShow();
        add.show();
        checkWindow(&add, u"add-client"_s);
        add.reject();
        editor.reject();
        groups.reject();

        shell.window().close(); // "Check" is on: the information on closing
        QTRY_COMPARE(infoShown, 1);
        QVERIFY2(infoClipped.isEmpty(), qPrintable(infoClipped.join(u", "_s)));
        user.DeleteValue(csLocale::LocaleValue);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(TestChatShellX11)
#include "tst_chatshell_x11.moc"
