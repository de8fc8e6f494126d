// The chat client's shell on the offscreen platform: its dialogs, the tray icon and menu, hiding on
// close, the new-line popup and sound, the kept settings and the localised texts. The tray, the screen,
// the sound and modal loops are replaced; the settings and group files are real.
#include "ChatTestSupport.h"

#include "../components/FakeDesktopScreen.h"
#include "../components/FakeTrayShell.h"

#include "chat/GroupStore.h"
#include "chat/ui/AddClientDialog.h"
#include "chat/ui/ChatShell.h"
#include "chat/ui/GroupEditorDialog.h"
#include "chat/ui/GroupListDialog.h"
#include "chat/ui/InfoDialog.h"
#include "chat/ui/NotifySound.h"
#include "chat/ui/SettingsDialog.h"
#include "components/csLocale.h"
#include "components/ui/SlidePopUp.h"
#include "components/ui/TrayIcon.h"
#include "platform/IniFile.h"
#include "platform/ProgramDir.h"
#include "platform/Registry.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>

using namespace vestrel;
using namespace vestrel::chat;
using namespace vestrel::chat::test;
using namespace vestrel::test;
using namespace Qt::StringLiterals;

namespace {

class RecordingSound : public NotifySound {
public:
    QStringList played;
    void play(const QString& path) override { played << path; }
};

// What the modal dialogs are answered with: each handler gets the dialog shown and returns its result.
struct ModalAnswers {
    QList<std::function<int(QDialog&)>> next;
    QStringList shown; // object names of the dialogs shown, in order
    int run(QDialog& dialog) {
        shown << dialog.objectName();
        dialog.show(); // shown as the modal loop would, so each dialog applies its texts
        const int result = next.isEmpty() ? int(QDialog::Rejected) : next.takeFirst()(dialog);
        dialog.hide();
        return result;
    }
};

QByteArray registryString(const char* name) {
    Registry registry(RegistryHive::LocalMachine);
    if (!registry.OpenKey(UserConfigStore::RegistryKey, false))
        return "<no key>";
    return registry.ValueExists(name) ? registry.ReadString(name) : QByteArray("<none>");
}

void writeRegistryString(const char* name, const QByteArray& value) {
    QVERIFY(UserConfigStore::writeRegistryString(name, value));
}

// One shell with fake tray, screen and sound, its own program and registry folders.
struct Shell {
    TUserConfig config;
    RecordingBoxes boxes;
    FakeTrayShell tray;
    FakeDesktopScreen screen;
    RecordingSound sound;
    ModalAnswers modal;
    std::unique_ptr<ChatShell> shell;

    explicit Shell(bool trayHost = true) {
        tray.available = trayHost;
        ChatShell::Seams seams;
        seams.tray = &tray;
        seams.screen = &screen;
        seams.sound = &sound;
        seams.runModal = [this](QDialog& dialog) {
            return modal.run(dialog);
        };
        shell = std::make_unique<ChatShell>(config, boxes, seams);
        shell->window().Client().setLocalName("pc-test");
    }
    ~Shell() {
        for (TfrmSlidePopUp* popup : openSlidePopUps())
            delete popup;
    }
    TClientFrmMain& window() { return shell->window(); }
    // Starts the shell and lets its queued start-up steps run.
    void start(const QStringList& arguments) {
        shell->start(arguments);
        QCoreApplication::processEvents();
    }
    void hide() {
        window().showMinimized();
        QTRY_VERIFY(window().isHidden() || !tray.available);
    }
    void addLine(const QString& line) { window().IncomingMessages->appendPlainText(line); }
};

} // namespace

class TestChatShell : public QObject {
    Q_OBJECT
private slots:
    void cleanup() {
        qunsetenv("VESTREL_PROGRAM_DIR_READONLY");
        qunsetenv("XDG_CONFIG_HOME");
    }

    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        useChatTestFolders(*m_dir);
        // Italian unless a test says otherwise; no language library in the program folder.
        Registry user(RegistryHive::CurrentUser);
        QVERIFY(user.OpenKey(csLocale::LocaleKey, true));
        user.WriteInteger(csLocale::LocaleValue, 0);
        writeRegistryString("Mostra", "0");
    }

    // Settings dialog ------------------------------------------------------------------------------

    void settingsDialogShowsTheRecordAndSavesOnOk() {
        TUserConfig config;
        config.Server = "srv";
        config.Porta = "47110";
        config.Nick = "Niccol\xF2"; // cp1252 "ò"
        config.Host = "h";
        config.Check = "0";
        config.Popup = "yes"; // only "1" counts as on
        config.Timer = 0;
        TForm1 dialog(config, [] { return QByteArray("macchina"); });
        dialog.show();
        QCOMPARE(dialog.Edit3->text(), u"Niccol\u00f2"_s);
        QVERIFY(!dialog.CheckBox1->isChecked()); // the record, not the design's ticked box
        QVERIFY(dialog.CheckBox2->isChecked());
        QVERIFY(!dialog.CheckBox4->isChecked());
        QVERIFY(!dialog.Edit5->isEnabled()); // the timer follows the popup box
        QCOMPARE(dialog.Edit5->value(), 0);
        dialog.CheckBox4->click();
        QVERIFY(dialog.Edit5->isEnabled());
        dialog.CheckBox4->click();
        dialog.Edit5->setValue(77); // greyed out, still saved
        dialog.SpeedButton2->click();
        QCOMPARE(dialog.Edit4->text(), u"macchina"_s);

        TUserConfig untouched = config;
        dialog.Button2->click(); // Annulla: nothing changes, nothing is written
        QCOMPARE(config.Host, untouched.Host);
        QVERIFY(!QFile::exists(programFile(u"DovuziZez.ini"_s)));

        TForm1 again(config, [] { return QByteArray("macchina"); });
        again.show();
        again.Edit5->setValue(77);
        again.Edit4->setText(u"postazione-\u00e8"_s);
        again.Button1->click();
        QCOMPARE(config.Timer, 77);
        QCOMPARE(config.Popup, QByteArray("0"));
        QCOMPARE(config.Host, QByteArray("postazione-\xE8"));
        const TUserConfig stored = UserConfigStore::load();
        QCOMPARE(stored.Host, config.Host);
        QCOMPARE(stored.Nick, config.Nick);
        QCOMPARE(stored.Server, QByteArray("srv"));
        QCOMPARE(stored.Timer, 77);
        QCOMPARE(registryString("Check"), QByteArray("0"));
    }

    void settingsOkWithAnUnwritableRegistryStillSavesTheFile() {
        // A file where the registry folder should be: no hive can be written there.
        const QString blocked = m_dir->filePath(u"blocked"_s);
        QFile file(blocked);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        qputenv("VESTREL_REGISTRY_DIR", blocked.toLocal8Bit());
        TUserConfig config;
        TForm1 dialog(config, {});
        dialog.show();
        dialog.Edit1->setText(u"server-\u00e8"_s);
        dialog.Button1->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY2(dialog.saveError().contains(blocked), qPrintable(dialog.saveError())); // said, not fatal
        IniFile ini(programFile(u"DovuziZez.ini"_s));
        QCOMPARE(ini.ReadString("Server", "Host", {}), QByteArray("server-\xE8"));
    }

    // Installed where the user's own folder cannot be made either: the error box names the file and
    // the reason, the registry part and the running settings keep the edits.
    void settingsThatCannotBeSavedAreShownAndKept() {
        installedWithoutAUserFolder();
        Shell s;
        s.config.Porta = "1";
        s.modal.next << [](QDialog& dialog) {
            auto* settings = qobject_cast<TForm1*>(&dialog);
            settings->Edit2->setText(u"4712"_s);
            settings->CheckBox5->setChecked(false);
            settings->Button1->click();
            return settings->result();
        };
        s.window().Impostazioni1Click();
        const QStringList errors = s.boxes.texts(u"error"_s);
        QCOMPARE(errors.size(), 1);
        // Said in the user's language; the file and the reason go to the log.
        QCOMPARE(errors[0], cannotSave);
        QCOMPARE(s.config.Porta, QByteArray("4712"));
        QCOMPARE(registryString("Suono"), QByteArray("0"));
    }

    void startWithMissingParametersOpensTheRealDialog() {
        FakeChatServer server;
        writeRegistryString("Mostra", "1");
        Shell s;
        s.modal.next << [&](QDialog& dialog) {
            auto* settings = qobject_cast<TForm1*>(&dialog);
            if (!settings)
                return int(QDialog::Rejected);
            settings->Edit1->setText(u"127.0.0.1"_s);
            settings->Edit2->setText(QString::number(server.port()));
            settings->Edit3->setText(u"anna"_s);
            settings->SpeedButton2->click();
            settings->Button1->click();
            return settings->result();
        };
        s.start({u"chatclient"_s});
        QCOMPARE(s.modal.shown, QStringList{u"Form1"_s});
        QCOMPARE(s.boxes.texts(u"information"_s), QStringList{u"Inserire i valori per la connessione"_s});
        QCOMPARE(s.config.Host, QByteArray("pc-test"));
        QTRY_VERIFY(!server.commands(0).isEmpty());
        QCOMPARE(server.commands(0).first(), QByteArray("Login"));

        // Only a new nick or server reconnects; a new port alone keeps the connection.
        s.modal.next << [](QDialog& dialog) {
            auto* settings = qobject_cast<TForm1*>(&dialog);
            settings->Edit2->setText(u"1"_s);
            settings->Button1->click();
            return settings->result();
        };
        s.window().Impostazioni1Click();
        QTest::qWait(100);
        QCOMPARE(server.connections(), 1);
        s.config.Porta = QByteArray::number(server.port());
        s.modal.next << [](QDialog& dialog) {
            auto* settings = qobject_cast<TForm1*>(&dialog);
            settings->Edit3->setText(u"anna2"_s);
            settings->Button1->click();
            return settings->result();
        };
        s.window().Impostazioni1Click();
        QTRY_COMPARE(server.connections(), 2);
    }

    void cancellingTheMissingParametersDialogEndsTheProgram() {
        writeRegistryString("Mostra", "1");
        Shell s;
        QSignalSpy terminate(&s.window(), &TClientFrmMain::applicationTerminateRequested);
        s.start({u"chatclient"_s});
        QCOMPARE(s.modal.shown, QStringList{u"Form1"_s});
        QCOMPARE(terminate.count(), 1);
    }

    // Start-up, tray and closing ------------------------------------------------------------------

    void startsHiddenInTheTrayWithExactlyOneArgument_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("trayHost");
        QTest::addColumn<bool>("shown");
        QTest::newRow("no argument") << QStringList{u"chatclient"_s} << true << true;
        QTest::newRow("one argument") << QStringList{u"chatclient"_s, u"/min"_s} << true << false;
        QTest::newRow("two arguments") << QStringList{u"chatclient"_s, u"a"_s, u"b"_s} << true << true;
        QTest::newRow("one argument, no tray") << QStringList{u"chatclient"_s, u"/min"_s} << false << false;
    }
    void startsHiddenInTheTrayWithExactlyOneArgument() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, trayHost);
        QFETCH(bool, shown);
        Shell s(trayHost);
        QVERIFY(s.window().isHidden()); // nothing is shown before the start decides
        s.start(arguments);
        QCOMPARE(s.shell->windowShowing(), shown);
        if (trayHost) {
            QVERIFY(s.tray.shown.contains(s.shell->trayIcon().uID()));
            QCOMPARE(s.window().isHidden(), !shown);
        } else {
            QVERIFY(s.window().isVisible()); // on the taskbar, minimised: never out of reach
        }
        QCOMPARE(s.shell->trayIcon().Hint(), u"Chat Vestrel - Client Disconnesso"_s);
    }

    void trayHostGoingAwayBringsTheWindowBack() {
        Shell s;
        s.start({u"chatclient"_s, u"x"_s});
        QVERIFY(s.window().isHidden());
        s.tray.available = false;
        TTrayIconHandler::TrayHostLost();
        QVERIFY(s.window().isVisible());
        QVERIFY(s.window().isMinimized());
    }

    void trayMenuStatesAreSetEachTimeItOpens_data() {
        QTest::addColumn<QByteArray>("popup");
        QTest::addColumn<bool>("hidden");
        QTest::addColumn<bool>("ticked");
        QTest::newRow("popup 1, visible") << QByteArray("1") << false << true;
        QTest::newRow("popup yes, hidden") << QByteArray("yes") << true << false;
        QTest::newRow("popup 0, hidden") << QByteArray("0") << true << false;
    }
    void trayMenuStatesAreSetEachTimeItOpens() {
        QFETCH(QByteArray, popup);
        QFETCH(bool, hidden);
        QFETCH(bool, ticked);
        Shell s;
        s.start({u"chatclient"_s});
        if (hidden)
            s.hide();
        writeRegistryString("Popup", popup); // read when the menu opens, not at start
        emit s.shell->trayMenu().aboutToShow();
        QCOMPARE(s.shell->AttivaPopUp1->isChecked(), ticked);
        QVERIFY(s.shell->Connetti2->isEnabled()); // not connected
        QVERIFY(!s.shell->Disconnetti2->isEnabled());
        QVERIFY(!s.shell->DisconnettiEdEsci2->isEnabled());
        QCOMPARE(s.shell->Visualizza1->isEnabled(), hidden);
        QCOMPARE(s.shell->RiduciaIcona2->isEnabled(), !hidden);
        const QList<QAction*> items = s.shell->trayMenu().actions();
        QStringList order;
        for (QAction* item : items)
            order << (item->isSeparator() ? u"-"_s : item->text());
        QCOMPARE(order, QStringList({u"Impostazioni"_s, u"-"_s, u"Connetti"_s, u"Disconnetti"_s, u"-"_s,
                                     u"Visualizza"_s, u"Riduci a icona"_s, u"Attiva PopUp"_s, u"-"_s,
                                     u"Chiudi il programma"_s, u"Disconnetti ed Esci"_s}));
    }

    void attivaPopUpTwiceReturnsToTheFirstStateAndSavesEachTime() {
        writeRegistryString("Popup", "1");
        Shell s;
        s.start({u"chatclient"_s});
        QCOMPARE(s.config.Popup, QByteArray("1"));
        emit s.shell->trayMenu().aboutToShow();
        s.shell->AttivaPopUp1->trigger();
        QCOMPARE(s.config.Popup, QByteArray("0"));
        QCOMPARE(registryString("Popup"), QByteArray("0"));
        QVERIFY(!s.shell->AttivaPopUp1->isChecked());
        s.shell->AttivaPopUp1->trigger();
        QCOMPARE(s.config.Popup, QByteArray("1"));
        QCOMPARE(registryString("Popup"), QByteArray("1"));
        QVERIFY(s.shell->AttivaPopUp1->isChecked());
    }

    void clicksOnTheIcon() {
        Shell s;
        s.start({u"chatclient"_s});
        TTrayIcon& icon = s.shell->trayIcon();
        s.shell->TrayIcon1Click();
        TrayNotifyData balloon = s.tray.lastBalloon();
        QCOMPARE(balloon.infoTitle, u"Chat Vestrel"_s);
        QCOMPARE(balloon.info, u"Per ridurre a icona la chat fare doppio click sull'icona"_s);
        QCOMPARE(balloon.infoFlags, int(NIIF_INFO));
        QCOMPARE(balloon.timeoutMs, 20000);
        TTrayIconHandler::Deliver(icon.uID(), TrayMessage::LButtonDblClk); // visible: minimise into the tray
        QTRY_VERIFY(s.window().isHidden());
        s.shell->TrayIcon1Click();
        QCOMPARE(s.tray.lastBalloon().info, u"Per Visualizzare la chat fare doppio click sull'icona"_s);
        TTrayIconHandler::Deliver(icon.uID(), TrayMessage::LButtonDblClk); // hidden: show
        QVERIFY(s.shell->windowShowing());
        s.hide();
        TTrayIconHandler::Deliver(icon.uID(), TrayMessage::BalloonUserClick);
        QVERIFY(s.shell->windowShowing());
    }

    void closeCommandHidesAndInformsWhileCheckIsOn() {
        writeRegistryString("Check", "1");
        Shell s;
        s.start({u"chatclient"_s});
        s.modal.next << [](QDialog& dialog) {
            auto* info = qobject_cast<TOKBottomDlg*>(&dialog);
            info->CheckBox1->setChecked(true); // "Non mostrare più questo messaggio"
            info->OKBtn->click();
            return info->result();
        };
        QVERIFY(!s.window().close());       // the window refuses to close...
        QTRY_VERIFY(s.window().isHidden()); // ...and goes to the tray
        QCOMPARE(s.modal.shown, QStringList{u"OKBottomDlg"_s});
        QCOMPARE(registryString("Check"), QByteArray("0"));
        QCOMPARE(s.config.Check, QByteArray("1")); // the record keeps its own value

        s.shell->showWindow();
        QVERIFY(!s.window().close());
        QTRY_VERIFY(s.window().isHidden());
        QCOMPARE(s.modal.shown.size(), 1); // not shown again
    }

    void closeWithoutATrayLeavesTheWindowOnTheTaskbar() {
        writeRegistryString("Check", "0");
        Shell s(false);
        s.start({u"chatclient"_s});
        QVERIFY(!s.window().close());
        QTRY_VERIFY(s.window().isMinimized());
        QVERIFY(s.window().isVisible());
        QVERIFY(s.modal.shown.isEmpty());
    }

    // New-line notification ------------------------------------------------------------------------

    void newLineNotification_data() {
        QTest::addColumn<bool>("hidden");
        QTest::addColumn<QByteArray>("popup");
        QTest::addColumn<QByteArray>("suono");
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("popupShown");
        QTest::addColumn<bool>("soundPlayed");
        const QString message = u"bob: ciao"_s;
        QTest::newRow("visible") << false << QByteArray("1") << QByteArray("1") << message << false << false;
        QTest::newRow("hidden") << true << QByteArray("1") << QByteArray("1") << message << true << true;
        QTest::newRow("hidden, silent") << true << QByteArray("1") << QByteArray("0") << message << true << false;
        QTest::newRow("hidden, popup off") << true << QByteArray("0") << QByteArray("1") << message << false << false;
        QTest::newRow("own entry notice")
            << true << QByteArray("1") << QByteArray("1") << u"anna:  \u00e8 entrato in chat"_s << false << false;
        QTest::newRow("another's entry notice")
            << true << QByteArray("1") << QByteArray("1") << u"bob:  \u00e8 entrato in chat"_s << true << true;
    }
    void newLineNotification() {
        QFETCH(bool, hidden);
        QFETCH(QByteArray, popup);
        QFETCH(QByteArray, suono);
        QFETCH(QString, line);
        QFETCH(bool, popupShown);
        QFETCH(bool, soundPlayed);
        writeRegistryString("Popup", popup);
        writeRegistryString("Suono", suono);
        writeRegistryString("Nick", "anna");
        Shell s;
        s.start({u"chatclient"_s});
        s.config.Timer = 7;
        if (hidden)
            s.hide();
        s.shell->TrayIcon1Click(); // a balloon at the icon
        QVERIFY(!s.tray.calls.last().info.isEmpty());
        s.addLine(line + u"\n"_s); // a message ends with a line break: the trailing empty line does not count
        const QList<TfrmSlidePopUp*> popups = openSlidePopUps();
        QCOMPARE(popups.size(), popupShown ? 1 : 0);
        QCOMPARE(s.sound.played, soundPlayed ? QStringList{programFile(u"Notify.wav"_s)} : QStringList());
        if (!popupShown)
            return;
        QCOMPARE(s.shell->slidePopUp().Text, line);
        QCOMPARE(s.shell->slidePopUp().TimeOut, 7);
        QCOMPARE(s.shell->slidePopUp().Title, u"Nuovo Messaggio"_s);
        QVERIFY(s.tray.calls.last().info.isEmpty()); // the balloon gave way to the popup
        // Slid fully out, it is 185 x 121 at the bottom right of the work area.
        QTRY_COMPARE_WITH_TIMEOUT(popups.first()->geometry(), QRect(1280 - 16 - 185, 994 - 2 - 121, 185, 121), 3000);
        // A click on the popup closes it; a click on its text shows the window.
        popups.first()->lblTextClick();
        QTRY_VERIFY(openSlidePopUps().isEmpty());
        QVERIFY(s.shell->windowShowing());
    }

    void theDesktopSoundNeverHoldsTheWindowUp() {
        // Here there may be no sound device at all: a missing file or device plays nothing, and the
        // call returns at once either way.
        DesktopNotifySound sound;
        QElapsedTimer clock;
        clock.start();
        sound.play(programFile(u"Notify.wav"_s)); // missing
        sound.play(qEnvironmentVariable("VESTREL_BIN_DIR") + u"/Notify.wav"_s);
        sound.play(qEnvironmentVariable("VESTREL_BIN_DIR") + u"/Notify.wav"_s); // still playing, or no device
        QVERIFY2(clock.elapsed() < 3000, "starting a sound must not wait for it");
    }

    void aFloodOfLinesStopsWhenTheScreenIsFull() {
        Shell s;
        s.start({u"chatclient"_s});
        s.hide();
        for (int i = 0; i < 500; ++i)
            s.addLine(u"bob: messaggio "_s + QString::number(i));
        // 121-pixel popups 2 pixels apart above a 994-pixel work area: eight fit.
        QCOMPARE(openSlidePopUps().size(), 8);
        QCOMPARE(s.shell->slidePopUp().PopupCount(), 8);
        s.shell->slidePopUp().ClosePopUps();
        QTRY_VERIFY(openSlidePopUps().isEmpty());
    }

    void linesAddedWhileHiddenAreInTheViewWhenShown() {
        writeRegistryString("Popup", "0");
        Shell s;
        s.start({u"chatclient"_s});
        QScrollBar* scroll = s.window().IncomingMessages->verticalScrollBar();
        QCOMPARE(scroll->maximum(), 0);
        s.hide();
        for (int i = 0; i < 200; ++i)
            s.addLine(u"bob: riga "_s + QString::number(i));
        s.shell->showWindow();
        QTRY_VERIFY(scroll->maximum() > 150); // one step per line beyond those the view shows
        QCOMPARE(s.window().IncomingMessages->document()->lastBlock().text(), u"bob: riga 199"_s);
        // Shown, the view follows each line again.
        const int before = scroll->maximum();
        for (int i = 0; i < 50; ++i)
            s.addLine(u"bob: ancora "_s + QString::number(i));
        QCOMPARE(scroll->maximum(), before + 50);
    }

    void theLayoutIsKeptBetweenRuns() {
        {
            Shell s;
            s.start({u"chatclient"_s});
            s.window().setGeometry(400, 200, 420, 600);
            QSplitter* splitter = s.window().Splitter1;
            QTRY_COMPARE(s.window().height(), 600);
            splitter->setSizes({330, splitter->height() - 330 - splitter->handleWidth()});
            QTRY_COMPARE(s.window().Splitter1->widget(0)->height(), 330);
        } // the layout is saved as the program ends
        Registry user(RegistryHive::CurrentUser);
        QVERIFY(user.OpenKey("Software\\Pelk Software\\Vestrel\\Chat\\ClientFrmMain\\Panel1", false));
        Shell s;
        s.start({u"chatclient"_s});
        QCOMPARE(s.window().size(), QSize(420, 600));
        QTRY_COMPARE(s.window().Splitter1->widget(0)->height(), 330);
    }

    // Group dialogs ---------------------------------------------------------------------------------

    void groupListCreatesEditsAndDeletes() {
        Shell s;
        s.config.Nick = "anna";
        TFrmGruppi::Context context;
        context.clientNicks = {"anna", "bob", "carl\xE8", "Tutti"};
        context.ownNick = "anna";
        QByteArrayList refilled{"<not refilled>"};
        context.refillGroupSelector = [&](const QByteArrayList& names) {
            refilled = names;
        };
        auto dialog = std::make_unique<TFrmGruppi>(context, s.boxes);
        QList<std::function<int(TCreaGruppi&)>> editors;
        QStringList offered;
        dialog->runEditor = [&](TCreaGruppi& editor) {
            editor.show();
            offered.clear();
            for (int i = 0; i < editor.ListBox1->count(); ++i)
                offered << editor.ListBox1->item(i)->text();
            return editors.takeFirst()(editor);
        };
        dialog->show();
        QCOMPARE(dialog->listGruppi->count(), 0); // no gruppi.ini: empty, no message
        QVERIFY(!dialog->Button3->isEnabled());

        editors << [](TCreaGruppi& editor) {
            editor.Edit1->setText(u"Caff\u00e8"_s);
            editor.ListBox1->setCurrentRow(1); // "carlè"
            editor.Button2->click();
            editor.Button2->click(); // nothing selected any more: nothing moves
            editor.BtOk->click();
            return editor.result();
        };
        dialog->Button1->click();
        QCOMPARE(offered, QStringList({u"bob"_s, u"carl\u00e8"_s})); // neither the own nick nor "Tutti"
        IniFile ini = GroupStore::openGroupFile();
        QCOMPARE(ini.ReadString("GRCREATI", "0", {}), QByteArray("Caff\xE8"));
        QCOMPARE(ini.ReadString("GRCREATI", "Count", {}), QByteArray("0"));
        QCOMPARE(GroupStore::LoadGroupMembers(ini, "Caff\xE8"), QByteArrayList{"carl\xE8"});

        dialog->listGruppi->setCurrentRow(0);
        dialog->listGruppiClick();
        QVERIFY(dialog->Button3->isEnabled());
        QCOMPARE(dialog->ListClient->item(0)->text(), u"carl\u00e8"_s);
        editors << [](TCreaGruppi& editor) {
            editor.ListBox1->setCurrentRow(0); // "anna": offered when editing
            editor.Button2->click();
            editor.ListBox2->setCurrentRow(0); // "carlè" back to the candidates
            editor.Button3->click();
            editor.BtOk->click();
            return editor.result();
        };
        dialog->Button3->click();
        QCOMPARE(offered, QStringList({u"anna"_s, u"bob"_s}));
        ini.Reload();
        QCOMPARE(GroupStore::LoadGroupMembers(ini, "Caff\xE8"), QByteArrayList{"anna"});

        dialog->listGruppi->setCurrentRow(0);
        dialog->Button2->click();
        QCOMPARE(dialog->listGruppi->count(), 0);
        ini.Reload();
        QVERIFY(!ini.SectionExists("GRCREATI"));
        dialog->accept();
        QCOMPARE(refilled, QByteArrayList());
    }

    void groupEditorRefusesWhatTheFileCannotHold_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("withMember");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("empty") << QString() << true << false;
        QTest::newRow("no member") << u"Ufficio"_s << false << false;
        QTest::newRow("bracket") << u"a]b"_s << true << false;
        QTest::newRow("group list") << u"grcreati"_s << true << false;
        QTest::newRow("blank at the end") << u"Ufficio "_s << true << false;
        QTest::newRow("fine") << u"Ufficio"_s << true << true;
    }
    void groupEditorRefusesWhatTheFileCannotHold() {
        QFETCH(QString, name);
        QFETCH(bool, withMember);
        QFETCH(bool, accepted);
        RecordingBoxes boxes;
        TCreaGruppi editor(boxes);
        editor.show();
        editor.Edit1->setText(name);
        if (withMember)
            editor.ListBox2->addItem(u"bob"_s);
        editor.BtOk->click();
        QCOMPARE(editor.isVisible(), !accepted);
        QVERIFY(boxes.shown.isEmpty()); // refused without a message
        editor.BtAnnulla->click();
        QVERIFY(!editor.isVisible());
    }

    // What the wire or the files cannot carry is refused where it is typed, naming the characters.
    void settingsRefuseWhatTheWireCannotCarry_data() {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("refusal");
        const QString cannot = u"Questi caratteri non si possono inviare n\u00e9 salvare: "_s;
        QTest::newRow("nick with =") << 2 << u"car=lo"_s << u"Il nick non pu\u00f2 contenere: ="_s;
        QTest::newRow("nick with ] and =") << 2 << u"a]b=c]"_s << u"Il nick non pu\u00f2 contenere: ] ="_s;
        QTest::newRow("nick in Chinese") << 2 << u"\u674e\u56db"_s << cannot + u"\u674e \u56db"_s;
        QTest::newRow("server host") << 0 << u"srv\u2192b"_s << cannot + u"\u2192"_s;
        QTest::newRow("client host") << 3 << u"pc\U0001F600"_s << cannot + u"\U0001F600"_s;
    }
    void settingsRefuseWhatTheWireCannotCarry() {
        QFETCH(int, field);
        QFETCH(QString, typed);
        QFETCH(QString, refusal);
        TUserConfig config;
        config.Nick = "anna";
        RecordingBoxes boxes;
        TForm1 dialog(config, [] { return QByteArray("pc"); });
        dialog.setMessageBoxes(&boxes);
        dialog.show();
        QLineEdit* edits[4] = {dialog.Edit1, dialog.Edit2, dialog.Edit3, dialog.Edit4};
        edits[field]->setText(typed);
        dialog.Button1->click();
        QCOMPARE(boxes.texts(u"warning"_s), QStringList{refusal});
        QVERIFY(dialog.isVisible()); // open on the field, as typed
        QCOMPARE(edits[field]->text(), typed);
        QCOMPARE(config.Nick, QByteArray("anna"));
        QVERIFY(!QFile::exists(programFile(u"DovuziZez.ini"_s)));
        edits[field]->setText(u"ok-\u00e8"_s);
        dialog.Button1->click();
        QVERIFY(!dialog.isVisible());
    }

    // Two group names that would be stored alike never share one group: the second is refused.
    void groupNamesTheFileWouldMergeAreRefused() {
        Shell s;
        TFrmGruppi::Context context;
        context.clientNicks = {"bob", "carl"};
        TFrmGruppi dialog(context, s.boxes);
        QList<std::function<void(TCreaGruppi&)>> typing;
        dialog.runEditor = [&](TCreaGruppi& editor) {
            editor.show();
            typing.takeFirst()(editor);
            editor.BtOk->click();
            if (editor.isVisible())
                editor.BtAnnulla->click();
            return editor.result();
        };
        dialog.show();
        const auto group = [](const QString& name, int member) {
            return [name, member](TCreaGruppi& editor) {
                editor.Edit1->setText(name);
                editor.ListBox1->setCurrentRow(member);
                editor.Button2->click();
            };
        };
        typing << group(u"\u529e\u516c\u5ba4"_s, 0) << group(u"Ufficio"_s, 0) << group(u"UFFICIO"_s, 1);
        for (int i = 0; i < 3; ++i)
            dialog.Button1->click();
        QCOMPARE(s.boxes.texts(u"warning"_s),
                 QStringList({u"Questi caratteri non si possono inviare n\u00e9 salvare: \u529e \u516c \u5ba4"_s,
                              u"Esiste gi\u00e0 un gruppo che verrebbe salvato con lo stesso nome: Ufficio"_s}));
        IniFile ini(GroupStore::openGroupFile());
        QCOMPARE(GroupStore::LoadGroupList(ini), QByteArrayList{"Ufficio"});
        QCOMPARE(GroupStore::LoadGroupMembers(ini, "Ufficio"), QByteArrayList{"bob"});

        // "Modifica" keeps the name: no refusal. The member list then shows that group, selected.
        dialog.listGruppi->setCurrentRow(0);
        dialog.listGruppiClick();
        typing << [](TCreaGruppi& editor) {
            editor.ListBox1->setCurrentRow(0); // "carl"
            editor.Button2->click();
        };
        dialog.Button3->click();
        QCOMPARE(s.boxes.texts(u"warning"_s).size(), 2);
        QCOMPARE(dialog.listGruppi->currentItem()->text(), u"Ufficio"_s);
        QCOMPARE(dialog.ListClient->count(), 2);
        QCOMPARE(dialog.ListClient->item(1)->text(), u"carl"_s);
    }

    // A message with characters cp1252 cannot hold is not sent; it stays in the box and the characters are named.
    void aMessageTheWireCannotCarryStaysInTheBox() {
        FakeChatServer server;
        Peer anna("anna", "pcA", server.port());
        anna.window->Connect();
        QTRY_COMPARE(server.received(0).size(), 1);
        anna.window->Edit1->setText(u"Tutti"_s);
        anna.window->Memo1->setPlainText(u"ciao \u2192 \u4f60"_s);
        QTest::keyClick(anna.window->Memo1, Qt::Key_Return);
        QCOMPARE(anna.boxes.texts(u"warning"_s),
                 QStringList{u"Questi caratteri non si possono inviare n\u00e9 salvare: \u2192 \u4f60"_s});
        QCOMPARE(anna.window->Memo1->toPlainText(), u"ciao \u2192 \u4f60"_s);
        QTest::qWait(100);
        QCOMPARE(server.received(0).size(), 1);
        QCOMPARE(anna.paneCount(u"anna: ciao ? ?"_s), 0);
    }

    // A very long group name does not make the selector's list wider than a third of the screen.
    void aLongGroupNameIsShortenedInTheSelector() {
        IniFile groups = GroupStore::openGroupFile();
        QByteArrayList names;
        const QByteArray longName(300, 'g');
        GroupStore::CreateOrReplaceGroup(groups, longName, {"bob"}, names);
        Shell s;
        s.window().reloadGroups();
        const QString shown = s.window().ComboBox1->itemText(1);
        const int screenWidth = s.window().screen()->availableGeometry().width();
        QVERIFY(s.window().ComboBox1->fontMetrics().horizontalAdvance(shown) <= std::max(200, screenWidth / 3));
        QCOMPARE(s.window().ComboBox1->itemData(1).toByteArray(), longName);
        QCOMPARE(s.window().ComboBox1->itemData(1, Qt::ToolTipRole).toString(), QString::fromLatin1(longName));
    }

    void addingAClientByNickname() {
        RecordingBoxes boxes;
        TCreaGruppi editor(boxes);
        editor.ListBox2->addItem(u"bob"_s);
        editor.ListBox2->addItem(u"luca"_s);
        QStringList typed{u"bob"_s, u"assente"_s};
        QTimer answer;
        connect(&answer, &QTimer::timeout, &editor, [&] {
            if (auto* add = qobject_cast<Taggiungi*>(QApplication::activeModalWidget())) {
                add->Edit1->setText(typed.takeFirst());
                add->Button1->click();
            }
        });
        answer.start(10);
        editor.SpeedButton1Click();
        QCOMPARE(boxes.texts(u"information"_s), QStringList{u"Client gi\u00e0 inserito"_s});
        editor.SpeedButton1Click();
        answer.stop();
        QCOMPARE(editor.members(), QStringList({u"bob"_s, u"luca"_s, u"assente"_s}));
        editor.ListBox2->setCurrentRow(1);
        editor.SpeedButton2Click(); // "Rimuovi" drops it: it does not go back to the candidates
        QCOMPARE(editor.members(), QStringList({u"bob"_s, u"assente"_s}));
        QCOMPARE(editor.ListBox1->count(), 0);
    }

    void installedGroupsGoToTheUsersCopyAndRefusalsAreShown() {
        QFile file(programFile(u"gruppi.ini"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray admin = "[GRCREATI]\r\n0=Ufficio\r\nCount=0\r\n[Ufficio]\r\n0=anna\r\ncount=0\r\n";
        file.write(admin);
        file.close();
        installedWithoutAUserFolder();
        RecordingBoxes boxes;
        TFrmGruppi groups({{"bob"}, "anna", {}}, boxes);
        groups.runEditor = [](TCreaGruppi& editor) {
            editor.Edit1->setText(u"Magazzino"_s);
            editor.ListBox2->addItem(u"bob"_s);
            return int(QDialog::Accepted);
        };
        groups.show();
        QCOMPARE(groups.listGruppi->count(), 1);

        // The user's folder cannot be made: said in the user's language, the list stays as stored.
        groups.Button1->click();
        const QStringList errors = boxes.texts(u"error"_s);
        QCOMPARE(errors, QStringList{cannotSave});
        QCOMPARE(groups.listGruppi->count(), 1);

        // Once it can be made, the group lands in the user's copy beside the administrator's groups.
        QVERIFY(QFile::remove(m_dir->filePath(u"config"_s)));
        groups.Button1->click();
        QCOMPARE(boxes.texts(u"error"_s).size(), 1);
        QCOMPARE(groups.listGruppi->count(), 2);
        const IniFile seen = GroupStore::openGroupFile();
        QCOMPARE(seen.FileName(), m_dir->filePath(u"config/vestrel/gruppi.ini"_s));
        QCOMPARE(GroupStore::LoadGroupList(seen), QByteArrayList({"Ufficio", "Magazzino"}));
        QCOMPARE(GroupStore::LoadGroupMembers(seen, "Ufficio"), QByteArrayList{"anna"});
        // The user's copy holds only what the user changed.
        const IniFile own(seen.FileName());
        QVERIFY(!own.SectionExists("Ufficio"));
        QVERIFY(!own.ValueExists("GRCREATI", "0"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), admin);
    }

    void groupDialogFromTheMenuRefillsTheSelector() {
        IniFile ini = GroupStore::openGroupFile();
        QByteArrayList names;
        GroupStore::CreateOrReplaceGroup(ini, "Magazzino", {"luca"}, names);
        Shell s;
        s.start({u"chatclient"_s});
        QCOMPARE(s.window().ComboBox1->count(), 2);
        QVERIFY(s.window().GestioneGruppi1->isEnabled());
        QCOMPARE(s.window().GestioneGruppi1->shortcut(), QKeySequence(u"Ctrl+G"_s));
        s.modal.next << [](QDialog& dialog) {
            auto* groups = qobject_cast<TFrmGruppi*>(&dialog);
            groups->listGruppi->setCurrentRow(0);
            groups->Button2->click();
            groups->Button4->click();
            return groups->result();
        };
        s.window().GestioneGruppi1->trigger();
        QCOMPARE(s.modal.shown, QStringList{u"FrmGruppi"_s});
        QCOMPARE(s.window().ComboBox1->count(), 1);
        QCOMPARE(s.window().ComboBox1->itemText(0), u"Tutti i Client"_s);
    }

    void aBadGroupCountIsReportedAndTheProgramGoesOn() {
        QFile file(programFile(u"gruppi.ini"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[GRCREATI]\r\n0=Ufficio\r\nCount=molti\r\n");
        file.close();
        Shell s;
        s.start({u"chatclient"_s});
        QCOMPARE(
            s.boxes.texts(u"error"_s),
            QStringList{
                u"Un numero salvato non \u00e8 valido: il file dei gruppi o delle impostazioni va controllato."_s});
        QVERIFY(s.shell->windowShowing());
        RecordingBoxes boxes;
        TFrmGruppi groups({}, boxes);
        groups.show();
        QCOMPARE(boxes.texts(u"error"_s).size(), 1);
        QCOMPARE(groups.listGruppi->count(), 0);
    }

    // Languages -------------------------------------------------------------------------------------

    void anEnglishRunShowsEnglish() {
        for (const QString& name : {u"DAVerOdov_eng.dll"_s})
            QVERIFY(QFile::copy(qEnvironmentVariable("VESTREL_BIN_DIR") + u'/' + name, programFile(name)));
        Registry user(RegistryHive::CurrentUser);
        QVERIFY(user.OpenKey(csLocale::LocaleKey, true));
        user.WriteInteger(csLocale::LocaleValue, 1);
        writeRegistryString("Mostra", "1");
        Shell s;
        s.start({u"chatclient"_s});
        QCOMPARE(s.boxes.texts(u"information"_s).value(0), u"Enter the connection settings"_s);
        QCOMPARE(s.window().windowTitle(), u"Vestrel Chat"_s);
        QCOMPARE(s.window().Impostazioni1->text(), u"&Settings"_s);
        QCOMPARE(s.shell->Visualizza1->text(), u"Show"_s);
        QCOMPARE(s.window().StatusPanels[1]->text(), u"Client Disconnected"_s);
        QCOMPARE(s.shell->trayIcon().Hint(), u"Vestrel Chat - Client Disconnected"_s);
        QCOMPARE(s.window().ComboBox1->itemText(0), u"All Clients"_s);
        // Qt's own texts follow: no Italian standard buttons in the English interface.
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&Yes"), u"&Yes"_s);
        // The command list keeps working by its items' words, whatever they show.
        s.window().EditCommand->setItemText(0, u"MESSAGGIO"_s);
        s.window().Edit1->setText(u"bob"_s);
        QTest::keyClicks(s.window().Memo1, u"ciao"_s);
        QTest::keyClick(s.window().Memo1, Qt::Key_Return);
        QCOMPARE(s.window().EditCommand->currentIndex(), 0);
        QCOMPARE(s.modal.shown, QStringList{u"Form1"_s});
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    const QString cannotSave = u"Impossibile salvare: il file o il registro non si pu\u00f2 scrivere."_s;

    // The program folder counts as installed, and a file stands where the user's folder would go.
    void installedWithoutAUserFolder() {
        qputenv("VESTREL_PROGRAM_DIR_READONLY", "1");
        qputenv("XDG_CONFIG_HOME", m_dir->filePath(u"config"_s).toLocal8Bit());
        QFile blocker(m_dir->filePath(u"config"_s));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
};

QTEST_MAIN(TestChatShell)
#include "tst_chatshell.moc"
