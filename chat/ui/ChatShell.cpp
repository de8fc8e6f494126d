#include "chat/ui/ChatShell.h"

#include "chat/ChatLog.h"
#include "chat/ShellRules.h"
#include "chat/ui/ClientFrmMain.h"
#include "chat/ui/ConnectionPictures.h"
#include "chat/ui/GroupEditorDialog.h"
#include "chat/ui/GroupListDialog.h"
#include "chat/ui/HiddenPaneLayout.h"
#include "chat/ui/InfoDialog.h"
#include "chat/ui/LocalTexts.h"
#include "chat/ui/NotifySound.h"
#include "chat/ui/SettingsDialog.h"
#include "components/csLocale.h"
#include "components/ui/FormSaver.h"
#include "components/ui/MessageBoxes.h"
#include "components/ui/QtItalianTranslations.h"
#include "components/ui/SlidePopUp.h"
#include "components/ui/TrayIcon.h"
#include "platform/ProgramDir.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QLayout>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTextBlock>

using namespace Qt::StringLiterals;

namespace vestrel::chat {

namespace {

constexpr quint8 balloonInformation = 1;
constexpr quint8 balloonSeconds = 20;
constexpr int popupWidth = 185;
constexpr int popupHeight = 121;
constexpr TColor popupGradientStart = 16764057; // light blue
constexpr int popupScrollSpeed = 9;
const char layoutKey[] = "Software\\Pelk Software\\Vestrel\\Chat";
const char notifySoundFile[] = "Notify.wav";

} // namespace

ChatShell::ChatShell(TUserConfig& config, MessageBoxes& boxes, Seams seams, QObject* parent)
    : QObject(parent)
    , m_config(config)
    , m_boxes(boxes)
    , m_seams(std::move(seams)) {
    if (!m_seams.sound) {
        m_ownSound = std::make_unique<DesktopNotifySound>();
        m_seams.sound = m_ownSound.get();
    }
    TClientFrmMain::Dialogs dialogs;
    dialogs.settings = [this](TUserConfig& edited, QWidget* owner) {
        return runSettingsDialog(edited, owner);
    };
    dialogs.groups = [this](QWidget* owner) {
        runGroupDialog(owner);
    };
    m_window = std::make_unique<TClientFrmMain>(m_config, m_boxes, std::move(dialogs));

    // Kept before the tray icon takes over minimising, restored before the window is first shown.
    FormSaver1 = new TFormSaver(m_window.get(), m_seams.screen);
    FormSaver1->regKey = QString::fromLatin1(layoutKey);
    const QString panelNames[2] = {u"Panel1"_s, u"Panel2"_s};
    for (int i = 0; i < 2; ++i) {
        QWidget* panel = m_window->Splitter1->widget(i);
        panel->setObjectName(panelNames[i]);
        FormSaver1->ChildToSave().Add().SetControl(panel);
    }

    buildTrayMenu();
    buildTrayIcon();
    buildPopup();

    new HiddenPaneLayout(m_window->IncomingMessages);
    connect(m_window.get(), &TClientFrmMain::conversationChanged, this, &ChatShell::IncomingMessagesChange);
    connect(m_window.get(), &TClientFrmMain::closeCommand, this, &ChatShell::FormCloseCommand);
    connect(m_window.get(), &TClientFrmMain::formShown, this, &ChatShell::applyShellTexts);
    connect(m_window.get(), &TClientFrmMain::connectionStateChanged, this, &ChatShell::showTrayConnectionState);
    // Every exit command ends the event loop itself: quit() would first try to close the windows, and
    // the main window refuses a close that does not come from an exit command.
    connect(
        m_window.get(), &TClientFrmMain::applicationTerminateRequested, this, [] { QCoreApplication::exit(0); },
        Qt::QueuedConnection);
}

ChatShell::~ChatShell() {
    saveLayout();
}

int ChatShell::runModal(QDialog& dialog) {
    return m_seams.runModal ? m_seams.runModal(dialog) : dialog.exec();
}

void ChatShell::start(const QStringList& arguments) {
    const int language = SelectLanguage(u"DAVerOdov"_s);
    // Qt's own texts (standard buttons, the text boxes' menus) in the same language as ours.
    if (!installQtTranslations(*QCoreApplication::instance(), language == 1 ? QLocale::English : QLocale::Italian))
        qCWarning(lcChat) << "Qt's own texts stay English: their Italian catalogue is missing";
    QSplitter* splitter = m_window->Splitter1;
    const QList<int> designHeights{splitter->widget(0)->height(), splitter->widget(1)->height()};
    FormSaver1->Loaded();
    // The splitter lays its panels out itself: give it the heights the layout kept, if any.
    const QList<int> keptHeights{splitter->widget(0)->height(), splitter->widget(1)->height()};
    if (keptHeights != designHeights) {
        // Lay the restored window out first, so the splitter divides its real height.
        m_window->layout()->activate();
        splitter->setSizes(
            {keptHeights[0], std::max(0, splitter->height() - splitter->handleWidth() - keptHeights[0])});
    }
    TrayIcon1->OnStartup = [arguments](QObject*, bool& showMainForm) {
        showMainForm = !ShellRules::startsHidden(arguments);
    };
    TrayIcon1->Loaded();
    if (TrayIcon1->ShowMainForm())
        m_window->show();
    // The start-up steps (with the connect, up to ten seconds when the server does not answer) run once
    // the window is on screen and its events are served.
    QMetaObject::invokeMethod(m_window.get(), &TClientFrmMain::FormCreate, Qt::QueuedConnection);
}

void ChatShell::saveLayout() {
    if (FormSaver1 && m_window)
        FormSaver1->SaveOnDestroy(m_window.get());
}

bool ChatShell::windowShowing() const {
    return m_window->isVisible() && !m_window->isMinimized();
}

// Dialogs -------------------------------------------------------------------------------------------

bool ChatShell::runSettingsDialog(TUserConfig& config, QWidget* owner) {
    TForm1 dialog(
        config, [this] { return m_window->Client().LocalName(); }, owner);
    dialog.setMessageBoxes(&m_boxes);
    const bool ok = runModal(dialog) == QDialog::Accepted;
    if (ok && !dialog.saveError().isEmpty()) // the reason is in the log
        m_boxes.error(localText(ChatMessage::CannotSave,
                                u"Impossibile salvare: il file o il registro non si pu\u00F2 scrivere."_s));
    return ok;
}

void ChatShell::runGroupDialog(QWidget* owner) {
    TFrmGruppi::Context context;
    context.clientNicks = m_window->clientList().names();
    context.ownNick = m_config.Nick;
    context.refillGroupSelector = [this](const QByteArrayList&) {
        m_window->reloadGroups();
    };
    TFrmGruppi dialog(std::move(context), m_boxes, owner);
    dialog.runEditor = [this](TCreaGruppi& editor) {
        return runModal(editor);
    };
    runModal(dialog);
}

// Tray icon and menu --------------------------------------------------------------------------------

void ChatShell::buildTrayMenu() {
    PopupMenu1 = std::make_unique<QMenu>();
    QMenu* menu = PopupMenu1.get();
    TClientFrmMain* window = m_window.get();
    Impostazioni2 = menu->addAction(u"Impostazioni"_s, window, &TClientFrmMain::Impostazioni1Click);
    menu->addSeparator();
    Connetti2 = menu->addAction(u"Connetti"_s, window, &TClientFrmMain::Connetti1Click);
    Disconnetti2 = menu->addAction(u"Disconnetti"_s, window, &TClientFrmMain::Disconnetti1Click);
    menu->addSeparator();
    Visualizza1 = menu->addAction(u"Visualizza"_s, this, &ChatShell::showWindow);
    RiduciaIcona2 = menu->addAction(u"Riduci a icona"_s, this, &ChatShell::minimiseWindow);
    AttivaPopUp1 = menu->addAction(u"Attiva PopUp"_s, this, &ChatShell::AttivaPopUp1Click);
    AttivaPopUp1->setCheckable(true);
    menu->addSeparator();
    ChiudiIlProgramma1 = menu->addAction(u"Chiudi il programma"_s, this, &ChatShell::ChiudiIlProgramma1Click);
    DisconnettiEdEsci2 = menu->addAction(u"Disconnetti ed Esci"_s, window, &TClientFrmMain::DisconnettiEdEsci1Click);
    connect(menu, &QMenu::aboutToShow, this, &ChatShell::PopupMenu1Popup);
}

void ChatShell::buildTrayIcon() {
    TrayIcon1 = new TTrayIcon(m_window.get(), m_seams.tray);
    TrayIcon1->SetIcon(disconnectedTrayIcon());
    TrayIcon1->SetHint(trayHint(false));
    TrayIcon1->SetPopupMenu(PopupMenu1.get());
    TrayIcon1->MinimizeToTray = true;
    TrayIcon1->SetIconVisible(true);
    TrayIcon1->OnClick = [this](QObject*) {
        TrayIcon1Click();
    };
    TrayIcon1->OnDblClick = [this](QObject*) {
        TrayIcon1DblClick();
    };
    TrayIcon1->OnBalloonHintClick = [this](QObject*) {
        showWindow();
    };
}

void ChatShell::PopupMenu1Popup() {
    const bool connected = m_window->connection().connected();
    const ShellRules::TrayMenuState state =
        ShellRules::trayMenuState(UserConfigStore::readRegistryString("Popup"), connected, windowShowing());
    AttivaPopUp1->setChecked(state.popupTicked);
    Connetti2->setEnabled(state.connectEnabled);
    Disconnetti2->setEnabled(state.disconnectEnabled);
    DisconnettiEdEsci2->setEnabled(state.disconnectEnabled);
    Visualizza1->setEnabled(state.showEnabled);
    RiduciaIcona2->setEnabled(state.minimiseEnabled);
    ChiudiIlProgramma1->setEnabled(!connected);
    // Disconnecting also stops the calls to a lost server.
    Disconnetti2->setEnabled(state.disconnectEnabled || m_window->connection().reconnecting());
}

void ChatShell::AttivaPopUp1Click() {
    // The checkable item has already flipped its tick.
    m_config.Popup = AttivaPopUp1->isChecked() ? "1" : "0";
    AttivaPopUp1->setChecked(isOn(m_config.Popup));
    try {
        UserConfigStore::save(m_config);
    } catch (const std::exception& failure) {
        qCWarning(lcChat) << "popup switch not saved:" << failure.what();
        m_boxes.error(failureMessage(failure));
    }
}

void ChatShell::TrayIcon1Click() {
    const bool showing = windowShowing();
    const QString text =
        showing
            ? localText(ChatMessage::BalloonWhenVisible, u"Per ridurre a icona la chat fare doppio click sull'icona"_s)
            : localText(ChatMessage::BalloonWhenHidden, u"Per Visualizzare la chat fare doppio click sull'icona"_s);
    TrayIcon1->DisplayBalloon(localText(49750, u"Chat Vestrel"_s), text, balloonInformation, balloonSeconds);
}

void ChatShell::TrayIcon1DblClick() {
    if (windowShowing())
        minimiseWindow();
    else
        showWindow();
}

void ChatShell::showWindow() {
    TrayIcon1->RestoreApplication();
}

void ChatShell::minimiseWindow() {
    // The tray icon hides a minimised window into the notification area (or leaves it on the taskbar
    // where there is no notification area).
    m_window->showMinimized();
}

void ChatShell::ChiudiIlProgramma1Click() {
    if (m_window->connection().connected())
        return;
    TrayIcon1->SetIconVisible(false);
    m_window->exitProgram();
}

void ChatShell::showTrayConnectionState(bool connected) {
    TrayIcon1->SetIcon(connected ? chatWindowIcon() : disconnectedTrayIcon());
    TrayIcon1->SetHint(trayHint(connected));
}

QString ChatShell::trayHint(bool connected) const {
    const QString state = connected ? localText(ChatMessage::ClientConnected, u"Client Connesso"_s)
                                    : localText(49788, u"Client Disconnesso"_s);
    return localText(49751, u"Chat Vestrel"_s) + u" - "_s + state;
}

void ChatShell::FormCloseCommand() {
    minimiseWindow();
    if (UserConfigStore::readRegistryString("Check") != "1")
        return;
    TOKBottomDlg dialog(m_window.get());
    runModal(dialog);
}

// New-line notification -----------------------------------------------------------------------------

void ChatShell::buildPopup() {
    SlidePopUp1 = new TSlidePopUp(m_window.get(), m_seams.screen);
    SlidePopUp1->Title = u"Nuovo Messaggio"_s;
    SlidePopUp1->TimeOut = m_config.Timer;
    SlidePopUp1->Width = popupWidth;
    SlidePopUp1->Height = popupHeight;
    SlidePopUp1->GradientColor1 = popupGradientStart;
    SlidePopUp1->GradientColor2 = clWhite;
    SlidePopUp1->ScrollSpeed = popupScrollSpeed;
    SlidePopUp1->Options = {spCascadePopups, spBackgroundTile, spAllowScroll, spAllowHyperlink};
    SlidePopUp1->Font.Color = clBlue;
    SlidePopUp1->HoverFont.Color = clRed;
    SlidePopUp1->HoverFont.Font.setUnderline(true);
    SlidePopUp1->OnClick = [this](QObject*) {
        SlidePopUp1->ClosePopUps();
    };
    SlidePopUp1->OnURLClick = [this](QObject*, const QString&) {
        showWindow();
    };
}

void ChatShell::IncomingMessagesChange() {
    if (windowShowing() || !isOn(m_config.Popup))
        return; // the common case, decided before the pane is read
    // The last line of the pane, read from its last two blocks, so a long pane costs nothing extra.
    const QTextBlock last = m_window->IncomingMessages->document()->lastBlock();
    const QString line = ShellRules::announcedLine(last.text(), last.previous().text());
    const ShellRules::NewLineAction action = ShellRules::newLineAction(false, m_config, line);
    if (action == ShellRules::NewLineAction::None)
        return;
    SlidePopUp1->TimeOut = m_config.Timer;
    SlidePopUp1->Text = line;
    if (action == ShellRules::NewLineAction::PopupWithSound)
        m_seams.sound->play(programFileToRead(QString::fromLatin1(notifySoundFile)));
    TrayIcon1->ClearBalloon(); // the balloon sits where the newest popup slides in: it must not cover it
    SlidePopUp1->ShowPopUp();  // refused when the screen holds no more: the flood stops there
}

// Localised texts -----------------------------------------------------------------------------------

void ChatShell::applyShellTexts() {
    TrayIcon1->SetHint(trayHint(m_window->connection().connected()));
    QAction* items[8] = {Impostazioni2, Connetti2,    Disconnetti2,       Visualizza1,
                         RiduciaIcona2, AttivaPopUp1, ChiudiIlProgramma1, DisconnettiEdEsci2};
    for (int i = 0; i < 8; ++i)
        applyText(items[i], 49779 + i);
    SlidePopUp1->Title = localText(ChatMessage::PopupTitle, SlidePopUp1->Title);
}

} // namespace vestrel::chat
