#include "chat/ui/ClientFrmMain.h"

#include "chat/ChatLog.h"
#include "chat/ChatTexts.h"
#include "chat/ClientHandleThread.h"
#include "chat/Composer.h"
#include "chat/ConnectAttempt.h"
#include "chat/Dispatch.h"
#include "chat/GroupStore.h"
#include "chat/ui/ConnectionPictures.h"
#include "chat/ui/LocalTexts.h"
#include "components/csLocale.h"
#include "components/ui/MessageBoxes.h"
#include "platform/Cp1252.h"
#include "platform/IniFile.h"
#include "platform/ResponsiveCall.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QScreen>
#include <QSplitter>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <utility>

using namespace Qt::StringLiterals;

namespace vestrel::chat {

namespace {

QString text(const QByteArray& bytes) {
    return cp1252::toUnicode(bytes);
}

QByteArray bytes(const QString& text) {
    return cp1252::fromUnicode(text);
}

// The port as the connect converts it: decimal text, blanks around it allowed; anything else fails.
int portNumber(const QByteArray& porta) {
    bool ok = false;
    const int port = porta.trimmed().toInt(&ok, 10);
    if (!ok)
        throw ConversionError("'" + porta.toStdString() + "' is not a valid integer value");
    return port;
}

// The text `ident` of the language library, or the built-in Italian one when no library gives it.
QString localised(int ident, const QString& italian) {
    const QString text = LocalString(ident);
    return text.isEmpty() ? italian : text;
}

// The client list's and the group selector's entries that address everybody, as the user reads them.
QString shownEverybody() {
    return localText(ChatMessage::Everybody, text(ChatText::Everybody));
}
QString shownAllClients() {
    return localText(ChatMessage::AllClients, text(ChatText::AllClients));
}

const QColor skyBlue(0xA6, 0xCA, 0xF0);

// The group selector shows at least this many pixels of a long group name.
constexpr int MinGroupTextWidth = 200;

// Where the connection pictures sit in the last status panel.
constexpr int pictureSize = 15;
constexpr int pictureInset = 6;

} // namespace

TClientFrmMain::TClientFrmMain(TUserConfig& config, MessageBoxes& boxes, Dialogs dialogs, QWidget* parent)
    : QMainWindow(parent)
    , m_config(config)
    , m_boxes(boxes)
    , m_dialogs(std::move(dialogs)) {
    buildWindow();
    // The event may be raised on the receiving thread; menus and the status bar change here only.
    connect(m_client.get(), &TcpClient::disconnected, this, &TClientFrmMain::ClientDisconnected, Qt::QueuedConnection);
    m_retryTimer = new QTimer(this);
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, &TClientFrmMain::retryDue);
    m_groups = std::make_unique<IniFile>(GroupStore::openGroupFile());
}

TClientFrmMain::~TClientFrmMain() {
    m_closing = true;
    stopReceiving();
    m_client->Disconnect();
    // Asked to stop, the receiving thread ends within moments even while it waits for a dispatch here,
    // so waiting for it needs no events served. A connect attempt still running keeps the client alive
    // by itself and is not waited for.
    if (ReceiverThread) {
        ReceiverThread->wait();
        delete ReceiverThread.data();
    }
}

void TClientFrmMain::buildWindow() {
    setObjectName(u"ClientFrmMain"_s);
    setWindowTitle(u"Chat Vestrel"_s);
    setWindowIcon(chatWindowIcon());
    setGeometry(345, 135, 365, 510);
    QPalette sky = palette();
    sky.setColor(QPalette::Window, skyBlue);
    setPalette(sky);
    setAutoFillBackground(true);

    buildMenu();

    Splitter1 = new QSplitter(Qt::Vertical, this);
    Splitter1->setChildrenCollapsible(false);
    Splitter1->addWidget(buildUpperPanel());
    Splitter1->addWidget(buildComposer());
    Splitter1->setSizes({297, 140});
    setCentralWidget(Splitter1);

    buildStatusBar();
    Memo1->setFocus();
}

void TClientFrmMain::buildMenu() {
    QMenu* file = File1 = menuBar()->addMenu(u"&File"_s);
    Impostazioni1 = file->addAction(u"&Impostazioni"_s, this, &TClientFrmMain::Impostazioni1Click);
    Impostazioni1->setEnabled(bool(m_dialogs.settings));
    file->addSeparator();
    GestioneGruppi1 = file->addAction(u"&Gestione Gruppi"_s, this, &TClientFrmMain::GestioneGruppi1Click);
    GestioneGruppi1->setShortcut(QKeySequence(u"Ctrl+G"_s));
    GestioneGruppi1->setEnabled(bool(m_dialogs.groups));
    buildHistoryMenu(file);
    file->addSeparator();
    Connetti1 = file->addAction(u"&Connetti"_s, this, &TClientFrmMain::Connetti1Click);
    Connetti1->setShortcut(QKeySequence(u"Ctrl+S"_s));
    Disconnetti1 = file->addAction(u"&Disconnetti"_s, this, &TClientFrmMain::Disconnetti1Click);
    Disconnetti1->setShortcut(QKeySequence(u"Ctrl+D"_s));
    Disconnetti1->setEnabled(false);
    file->addSeparator();
    RiduciaIcona1 = file->addAction(u"&Riduci a icona"_s, this, &QWidget::showMinimized);
    EsciDalProgramma1 = file->addAction(u"&Esci dal programma"_s, this, &TClientFrmMain::EsciDalProgramma1Click);
    DisconnettiEdEsci1 = file->addAction(u"Disco&nnetti ed Esci"_s, this, &TClientFrmMain::DisconnettiEdEsci1Click);
    DisconnettiEdEsci1->setEnabled(false);
}

QWidget* TClientFrmMain::buildUpperPanel() {
    auto* panel = new QWidget;
    panel->setMinimumHeight(120);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(6, 4, 6, 2);

    auto* header = new QHBoxLayout;
    LabelMessaggi = new QLabel(u"Messaggi inviati e ricevuti :"_s);
    header->addWidget(LabelMessaggi);
    Pulisci = new QToolButton;
    Pulisci->setText(u"Pulisci"_s);
    Pulisci->setAutoRaise(true);
    connect(Pulisci, &QToolButton::clicked, this, &TClientFrmMain::Pulisci1Click);
    header->addWidget(Pulisci);
    header->addStretch();
    LabelClientConnessi = new QLabel(u"Client Connessi"_s);
    header->addWidget(LabelClientConnessi);
    layout->addLayout(header);

    // Labels that are never shown; the localisation still gives them their texts.
    LabelHostServer = new QLabel(u"Host Server:"_s, panel);
    LabelPortaServer = new QLabel(u"Porta Server:"_s, panel);
    for (QLabel* hidden : {LabelHostServer, LabelPortaServer, new QLabel(panel), new QLabel(panel)})
        hidden->hide();

    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    auto* body = new QHBoxLayout;
    IncomingMessages = new QPlainTextEdit;
    IncomingMessages->setObjectName(u"IncomingMessages"_s);
    IncomingMessages->setReadOnly(true);
    IncomingMessages->setUndoRedoEnabled(false); // nobody edits the pane: no undo history to grow with it
    IncomingMessages->setFont(fixed);
    IncomingMessages->setLineWrapMode(QPlainTextEdit::NoWrap);
    IncomingMessages->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    IncomingMessages->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    IncomingMessages->setToolTip(u"Messaggi inviati e ricevuti"_s);
    connect(IncomingMessages, &QPlainTextEdit::textChanged, this, &TClientFrmMain::conversationChanged);
    body->addWidget(IncomingMessages, 1);
    ListBox1 = new QListWidget;
    ListBox1->setObjectName(u"ListBox1"_s);
    ListBox1->setFont(fixed);
    ListBox1->setFixedWidth(110);
    ListBox1->setToolTip(u"Client connessi"_s);
    connect(ListBox1, &QListWidget::itemClicked, this, &TClientFrmMain::ListBox1Click);
    body->addWidget(ListBox1);
    layout->addLayout(body, 1);
    return panel;
}

QWidget* TClientFrmMain::buildComposer() {
    auto* panel = new QWidget;
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(6, 2, 6, 4);

    auto* row = new QHBoxLayout;
    LabelComando = new QLabel(u"Comando:"_s);
    row->addWidget(LabelComando);
    EditCommand = new QComboBox;
    // Each item carries its command word, so the choice still works when the items show localised texts.
    for (const char* command : {ChatCommand::Message, ChatCommand::Dialog})
        EditCommand->addItem(QString::fromLatin1(command), QByteArray(command));
    EditCommand->setCurrentIndex(-1);
    EditCommand->setToolTip(u"Scegli il tipo di messaggio"_s);
    connect(EditCommand, &QComboBox::activated, this, [this] { Memo1->setFocus(); });
    row->addWidget(EditCommand);
    LabelInviaA = new QLabel(u"Invia A: "_s);
    row->addWidget(LabelInviaA);
    // The recipient box and the group selector share one place; the "Gruppo" box picks which shows.
    auto* recipientPlace = new QStackedWidget;
    Edit1 = new QLineEdit;
    Edit1->setToolTip(u"Scegliere dalla lista il client al quale inviare il messaggio"_s);
    recipientPlace->addWidget(Edit1);
    ComboBox1 = new QComboBox;
    ComboBox1->setToolTip(u"Scegli il gruppo al quale inviare il messaggio"_s);
    connect(ComboBox1, &QComboBox::activated, this, &TClientFrmMain::ComboBox1Click);
    recipientPlace->addWidget(ComboBox1);
    row->addWidget(recipientPlace, 1);
    layout->addLayout(row);

    auto* checks = new QHBoxLayout;
    CheckBox1 = new QCheckBox(u"Gruppo"_s);
    CheckBox1->setToolTip(u"Invia il messaggio ad un gruppo"_s);
    connect(CheckBox1, &QCheckBox::clicked, this, &TClientFrmMain::CheckBox1Click);
    checks->addWidget(CheckBox1);
    CheckBox2 = new QCheckBox(u"Richiedi Notifica Messaggio"_s);
    CheckBox2->setToolTip(u"Richiedi notifica di ricezione"_s);
    connect(CheckBox2, &QCheckBox::clicked, this, [this] { Memo1->setFocus(); });
    checks->addWidget(CheckBox2);
    checks->addStretch();
    layout->addLayout(checks);

    LabelMessaggio = new QLabel(u"Messaggio:"_s);
    layout->addWidget(LabelMessaggio);
    auto* input = new QHBoxLayout;
    Memo1 = new QPlainTextEdit;
    Memo1->setObjectName(u"Memo1"_s);
    Memo1->setToolTip(u"Scrivi il messaggio da inviare"_s);
    Memo1->setTabChangesFocus(true);
    Memo1->installEventFilter(this);
    input->addWidget(Memo1, 1);
    SpeedButton3 = new QToolButton;
    SpeedButton3->setAutoRaise(true);
    SpeedButton3->setIcon(sendButtonIcon());
    SpeedButton3->setIconSize(QSize(24, 24));
    SpeedButton3->setToolTip(u"Invia Messaggio"_s);
    SpeedButton3->setEnabled(false);
    connect(SpeedButton3, &QToolButton::clicked, this, &TClientFrmMain::SpeedButton3Click);
    input->addWidget(SpeedButton3, 0, Qt::AlignBottom);
    layout->addLayout(input, 1);
    return panel;
}

void TClientFrmMain::buildStatusBar() {
    for (int i = 0; i < 4; ++i) {
        StatusPanels[i] = new QLabel;
        StatusPanels[i]->setFrameShape(QFrame::Panel);
        StatusPanels[i]->setFrameShadow(QFrame::Sunken);
    }
    for (int i = 0; i < 3; ++i)
        statusBar()->addWidget(StatusPanels[i]);
    fitToTexts();
    StatusPanels[0]->setText(u"Chat Vestrel"_s);
    StatusPanels[1]->setText(connectionStateText(false));
    StatusPanels[3]->setMinimumWidth(2 * pictureInset + pictureSize);
    statusBar()->addWidget(StatusPanels[3], 1);
    statusBar()->setSizeGripEnabled(false);
    // The two connection pictures share one place in panel 3; exactly one of them is visible.
    auto* pictures = new QHBoxLayout(StatusPanels[3]);
    pictures->setContentsMargins(pictureInset, 0, 0, 0);
    Image1 = new QLabel;
    Image1->setPixmap(connectionPicture(false));
    Image2 = new QLabel;
    Image2->setPixmap(connectionPicture(true));
    for (QLabel* picture : {Image1, Image2})
        pictures->addWidget(picture, 0, Qt::AlignLeft | Qt::AlignVCenter);
    pictures->addStretch();
    showConnectionPicture(false);
}

void TClientFrmMain::fitToTexts() {
    // The panels were laid out for a narrower font than ours and for Italian: each text panel keeps its
    // design width unless one of the texts it shows, in the language in force, needs more. Panel 3
    // holds only the connection picture and takes what is left.
    static constexpr int designWidths[3] = {80, 110, 110};
    static constexpr int textPadding = 6; // a text never touches its panel's edge
    const QStringList texts[3] = {
        {localText(49787, u"Chat Vestrel"_s)},
        {connectionStateText(false), connectionStateText(true)},
        {localText(49789, u"Client connessi : 0"_s), connectedClientsText(99)},
    };
    for (int i = 0; i < 3; ++i) {
        QLabel* panel = StatusPanels[i];
        const int frame = panel->sizeHint().width() - panel->fontMetrics().horizontalAdvance(panel->text());
        int width = designWidths[i];
        for (const QString& shown : texts[i])
            width = std::max(width, frame + panel->fontMetrics().horizontalAdvance(shown) + textPadding);
        panel->setFixedWidth(width);
    }
    // The list of clients is as wide as its heading.
    const int listWidth = std::max(110, LabelClientConnessi->sizeHint().width());
    LabelClientConnessi->setFixedWidth(listWidth);
    ListBox1->setFixedWidth(listWidth);
    // The window grows where the panels and the picture need more than it has (the main window's own
    // minimum leaves the status bar's width out).
    const int needed = std::max(minimumSizeHint().width(), statusBar()->minimumSizeHint().width());
    setMinimumWidth(needed);
    if (needed > width())
        resize(needed, height());
}

void TClientFrmMain::showConnectionPicture(bool connected) {
    Image1->setVisible(!connected);
    Image2->setVisible(connected);
}

void TClientFrmMain::guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& failure) {
        qCWarning(lcChat) << failure.what();
        m_boxes.error(failureMessage(failure));
    }
}

ChatSender TClientFrmMain::sender(const QByteArray& nick) const {
    return {nick, m_config.Host, m_client->LocalName()};
}

void TClientFrmMain::writeRecord(const TChatRecord& record) {
    m_client->WriteBuffer(record.data(), TChatRecord::Size,
                          [](const std::function<void()>& job) { runKeepingUiResponsive(job); });
}

void TClientFrmMain::addLine(const QByteArray& line) {
    // A line that carries line breaks becomes several lines, as the pane always showed it.
    QString shown = text(line);
    shown.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n');
    IncomingMessages->appendPlainText(shown);
    QTextDocument* pane = IncomingMessages->document();
    if (pane->blockCount() > MaxConversationLines + ConversationTrimBatch) {
        QTextCursor oldest(pane);
        oldest.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, pane->blockCount() - MaxConversationLines);
        oldest.removeSelectedText();
    }
}

// Start-up ------------------------------------------------------------------------------------------

void TClientFrmMain::FormCreate() {
    guarded([this] {
        m_clientList.clear();
        m_config = UserConfigStore::load();
        reloadGroups();
        openHistory();
        if (isOn(m_config.Mostra))
            Connect();
    });
}

void TClientFrmMain::reloadGroups() {
    m_groups = std::make_unique<IniFile>(GroupStore::openGroupFile());
    ComboBox1->clear();
    ComboBox1->addItem(shownAllClients(), QByteArray(ChatText::AllClients));
    // Each item carries its group's stored name; a long one shows shortened, whole in its hint, so
    // that the selector's list never grows wider than the screen.
    const int widest = std::max(MinGroupTextWidth, screen() ? screen()->availableGeometry().width() / 3 : 0);
    for (const QByteArray& name : GroupStore::LoadGroupList(*m_groups)) {
        const QString whole = text(name);
        const QString shown = ComboBox1->fontMetrics().elidedText(whole, Qt::ElideMiddle, widest);
        ComboBox1->addItem(shown, name);
        if (shown != whole)
            ComboBox1->setItemData(ComboBox1->count() - 1, whole, Qt::ToolTipRole);
    }
}

void TClientFrmMain::bringToFront() {
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

// Connection ----------------------------------------------------------------------------------------

void TClientFrmMain::Connect() {
    if (m_busy || m_machine.state() != ConnectionMachine::State::Disconnected)
        return; // a connect is already under way or open, or its settings prompt is open

    if (m_config.Nick.isEmpty() || m_config.Host.isEmpty() || m_config.Porta.isEmpty()) {
        m_busy = true;
        const auto done = qScopeGuard([this] { m_busy = false; });
        m_boxes.information(localText(ChatMessage::EnterConnectionValues, u"Inserire i valori per la connessione"_s));
        if (m_dialogs.settings && !m_dialogs.settings(m_config, this))
            exitProgram();
    }
    if (m_config.Server.isEmpty() || m_config.Porta.isEmpty() || m_config.Nick.isEmpty()) {
        m_boxes.information(
            localText(ChatMessage::ConnectionValuesMissing, u"Parametri per la connessione non inseriti"_s));
        return;
    }
    if (m_closing)
        return; // the program is ending: it must not log in any more
    if (m_machine.attemptRunning()) {
        // A connect given up a moment ago still runs on the client: the new one starts, with the
        // settings as they are now, once that one has ended.
        m_connectWhenIdle = true;
        return;
    }
    try {
        m_client->setHost(m_config.Server);
        m_client->setPort(portNumber(m_config.Porta));
        m_secure.prepare(*m_client, m_config, m_boxes);
    } catch (const std::exception& failure) {
        qCWarning(lcChat) << "connect failed:" << failure.what();
        m_boxes.warning(localText(ChatMessage::ServerDisconnected, u"Server disconnesso o Impostazioni errate"_s));
        addLine(m_config.Nick + ChatText::NotConnected);
        return;
    }
    perform(m_machine.connectRequested());
}

void TClientFrmMain::perform(ConnectionMachine::Action action, const QString& failure) {
    using Action = ConnectionMachine::Action;
    switch (action) {
    case Action::None:
        break;
    case Action::StartConnect:
        m_retryTimer->stop();
        startConnectAttempt(m_client, ConnectTimeoutMs, this,
                            [this](bool ok, const QString& why) { connectAttemptFinished(ok, why); });
        break;
    case Action::LogIn:
        logIn();
        break;
    case Action::CloseConnection:
        m_client->Disconnect(); // a connect given up that succeeded after all
        break;
    case Action::ReportFailure:
        qCInfo(lcChat) << "cannot connect:" << failure;
        if (bool retry = false; m_secure.explainFailure(m_boxes, retry)) {
            // An unknown or changed certificate, or a refused account: the user has been told why.
            if (retry)
                QTimer::singleShot(0, this, &TClientFrmMain::Connect);
            break;
        }
        m_boxes.warning(localText(ChatMessage::CannotConnect,
                                  u"Impossibile connettersi, controllare che tutti i parametri siano corretti"_s));
        m_boxes.warning(localText(ChatMessage::ServerDisconnected, u"Server disconnesso o Impostazioni errate"_s));
        addLine(m_config.Nick + ChatText::NotConnected);
        break;
    case Action::ScheduleRetry:
        qCInfo(lcChat).nospace() << "server unreachable" << (failure.isEmpty() ? QString() : u" ("_s + failure + u')')
                                 << ", calling again in " << m_machine.retryDelay().count() << " ms";
        m_retryTimer->start(m_machine.retryDelay());
        break;
    }
    showConnectionState();
}

void TClientFrmMain::connectAttemptFinished(bool ok, const QString& failure) {
    if (m_closing) {
        if (ok)
            m_client->Disconnect(); // the program began to end while the connect was waiting
        return;
    }
    // A certificate not trusted for the server, or a refused account, ends the calls to a lost server
    // too: it is shown once, not retried.
    perform(m_machine.connectFinished(ok, !ok && m_secure.failureIsLasting()), failure);
    if (std::exchange(m_connectWhenIdle, false) && m_machine.state() == ConnectionMachine::State::Disconnected)
        guarded([this] { Connect(); });
}

void TClientFrmMain::retryDue() {
    if (!m_closing)
        perform(m_machine.retryDue());
}

void TClientFrmMain::logIn() {
    auto* thread =
        new TClientHandleThread(*m_client, this, [this](const TChatRecord& record) { ClientHandleDispatch(record); });
    ReceiverThread = thread;
    thread->start();
    try {
        writeRecord(makeChatRecord(ChatCommand::Login, sender()));
        if (isOn(m_config.Notifica)) {
            // Addressed like a message to the client chosen in the recipient box: by that client's
            // routing key, since a nickname in the recipient field would reach nobody.
            const QByteArray recipient = recipientBytes();
            const bool everybody = recipient.isEmpty() || recipient == ChatText::Everybody;
            writeRecord(makeChatRecord(ChatCommand::Message, sender(), ChatText::EntryNotice,
                                       everybody ? QByteArray() : m_clientList.keyFor(recipient)));
        }
    } catch (const std::exception& failure) {
        // The server went away at once; its disconnected event follows and calls it again.
        qCWarning(lcChat) << "login failed:" << failure.what();
    }
}

void TClientFrmMain::stopReceiving() {
    if (ReceiverThread)
        ReceiverThread->Terminate();
}

void TClientFrmMain::Disconnect(const QByteArray& nick) {
    m_connectWhenIdle = false;
    const bool open = m_machine.disconnectRequested() == ConnectionMachine::Action::CloseConnection;
    // The clean-up steps run even when logging out fails or there was nothing to close: the user
    // asked to be disconnected.
    const auto cleanUp = qScopeGuard([this] {
        m_retryTimer->stop();
        stopReceiving();
        if (m_client->Connected())
            m_client->Disconnect();
        m_machine.disconnectFinished();
        forgetClients();
        showConnectionState();
    });
    if (open && ListBox1->count() >= 1) {
        writeRecord(makeChatRecord(ChatCommand::Logout, sender(nick)));
        if (isOn(m_config.Notifica))
            writeRecord(makeChatRecord(ChatCommand::Message, sender(nick), ChatText::ExitNotice));
    }
}

void TClientFrmMain::forgetClients() {
    ListBox1->clear();
    m_clientList.clear();
    StatusPanels[2]->setText(connectedClientsText(0));
}

void TClientFrmMain::ClientDisconnected() {
    if (m_client->Connected())
        return; // a newer connection is open: this event belongs to the previous one
    const ConnectionMachine::Action action = m_machine.connectionLost();
    if (action != ConnectionMachine::Action::None) {
        qCWarning(lcChat) << "connection to the server lost";
        stopReceiving();
        forgetClients(); // the names are stale the moment the server is gone
    }
    perform(action);
}

void TClientFrmMain::showConnectionState() {
    using State = ConnectionMachine::State;
    const bool connected = m_machine.connected();
    // Disconnecting also stops a connect under way and the calls to a lost server.
    Disconnetti1->setEnabled(connected || m_machine.state() == State::Connecting || m_machine.reconnecting());
    DisconnettiEdEsci1->setEnabled(connected);
    Connetti1->setEnabled(m_machine.state() == State::Disconnected);
    EsciDalProgramma1->setEnabled(!connected);
    SpeedButton3->setEnabled(connected);
    StatusPanels[1]->setText(connectionStateText(connected));
    showConnectionPicture(connected);
    if (connected != m_shownConnected) {
        m_shownConnected = connected;
        emit connectionStateChanged(connected);
    }
}

void TClientFrmMain::Disconnetti1Click() {
    guarded([this] { Disconnect(m_config.Nick); });
}

void TClientFrmMain::DisconnettiEdEsci1Click() {
    exitProgram();
}

void TClientFrmMain::EsciDalProgramma1Click() {
    if (m_machine.connected()) {
        EsciDalProgramma1->setEnabled(false);
        return;
    }
    exitProgram();
}

void TClientFrmMain::exitProgram() {
    FormCloseQuery();
    emit applicationTerminateRequested();
}

void TClientFrmMain::Impostazioni1Click() {
    if (!m_dialogs.settings || m_busy)
        return;
    guarded([this] {
        const QByteArray previousServer = m_config.Server;
        const QByteArray previousNick = m_config.Nick;
        if (!m_dialogs.settings(m_config, this))
            return;
        applyHistoryRetention();
        if (m_config.Nick == previousNick && m_config.Server == previousServer)
            return;
        Disconnect(previousNick);
        // The server gets a moment to take the logout before the new login.
        QTimer::singleShot(500, this, [this] { guarded([this] { Connect(); }); });
    });
}

void TClientFrmMain::GestioneGruppi1Click() {
    if (!m_dialogs.groups)
        return;
    guarded([this] {
        m_dialogs.groups(this);
        reloadGroups();
    });
}

void TClientFrmMain::Pulisci1Click() {
    IncomingMessages->clear();
    Memo1->setFocus();
}

void TClientFrmMain::FormCloseQuery() {
    if (m_closing)
        return;
    m_closing = true;
    try {
        Disconnect(m_config.Nick);
    } catch (const std::exception& failure) {
        qCWarning(lcChat) << "logout on close failed:" << failure.what();
    }
    m_clientList.clear();
}

void TClientFrmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    FormShow();
}

void TClientFrmMain::closeEvent(QCloseEvent* event) {
    // The close command only hides the window; the program ends through its exit commands, and a
    // window whose close query has run (the session ends) may close.
    if (m_closing) {
        event->accept();
        return;
    }
    event->ignore();
    emit closeCommand();
}

// Receiving -----------------------------------------------------------------------------------------

void TClientFrmMain::ClientHandleDispatch(const TChatRecord& record) {
    if (m_closing)
        return;
    const DispatchOutcome outcome = dispatchRecord(record, m_clientList, m_config.Nick);
    switch (outcome.kind) {
    case DispatchOutcome::ListUpdate:
        ListBox1->clear();
        for (const QByteArray& name : outcome.listBoxNames)
            ListBox1->addItem(text(name));
        if (QListWidgetItem* everybody = ListBox1->item(ListBox1->count() - 1))
            everybody->setText(shownEverybody()); // the entry the dispatch adds last, in the user's language
        StatusPanels[2]->setText(connectedClientsText(int(outcome.clientCount)));
        break;
    case DispatchOutcome::Line:
        addLine(outcome.text);
        keepReceivedLine(record);
        if (outcome.askReceipt)
            m_notices.add({ChatNotice::ReceiptQuestion,
                           "Il mittente richiede la notifica di lettura del messaggio,inviarla?", record, 0});
        break;
    case DispatchOutcome::Dialog:
        m_notices.add({ChatNotice::Information, outcome.text, {}, 0});
        break;
    case DispatchOutcome::UnknownCommand:
        m_notices.add({ChatNotice::Error, outcome.text, {}, 0});
        break;
    case DispatchOutcome::Nothing:
        break;
    }
    // Boxes open after the dispatch has returned, so the records behind this one go on being read.
    if (!m_noticeOpen && m_notices.waiting() + m_notices.leftOut() > 0)
        QMetaObject::invokeMethod(this, &TClientFrmMain::showNextNotice, Qt::QueuedConnection);
    emit recordDispatched(record);
}

void TClientFrmMain::showNextNotice() {
    if (m_noticeOpen || m_closing)
        return;
    const std::optional<ChatNotice> notice = m_notices.takeNext();
    if (!notice)
        return;
    m_noticeOpen = true;
    using Kind = MessageBoxes::NoticeKind;
    const auto closed = [this, notice = *notice](bool yes) {
        m_noticeOpen = false;
        if (notice.kind == ChatNotice::ReceiptQuestion && yes && !m_closing)
            guarded([&] { writeRecord(makeReadReceipt(notice.request, sender())); });
        QMetaObject::invokeMethod(this, &TClientFrmMain::showNextNotice, Qt::QueuedConnection);
    };
    switch (notice->kind) {
    case ChatNotice::Information:
        m_boxes.notify(Kind::Information, text(notice->text), closed);
        break;
    case ChatNotice::Error:
        m_boxes.notify(Kind::Error, text(notice->text), closed);
        break;
    case ChatNotice::ReceiptQuestion:
        m_boxes.notify(Kind::Question, localText(ChatMessage::ReadReceiptQuestion, text(notice->text)), closed);
        break;
    case ChatNotice::Summary:
        m_boxes.notify(Kind::Information,
                       localised(ChatMessage::MoreNotices, u"\u2026 e altri %1 messaggi"_s).arg(notice->leftOut),
                       closed);
        break;
    }
}

// Composer ------------------------------------------------------------------------------------------

QByteArray TClientFrmMain::recipientBytes() const {
    const QString shown = Edit1->text();
    return shown == shownEverybody() ? QByteArray(ChatText::Everybody) : bytes(shown);
}

QByteArray TClientFrmMain::groupBytes() const {
    if (const QVariant stored = ComboBox1->currentData(); stored.isValid())
        return stored.toByteArray();
    const QString shown = ComboBox1->currentText();
    return shown == shownAllClients() ? QByteArray(ChatText::AllClients) : bytes(shown);
}

void TClientFrmMain::SendMessage() {
    QByteArrayList lines;
    const QString typed = Memo1->toPlainText();
    if (!typed.isEmpty()) {
        for (const QString& line : typed.split(u'\n'))
            lines.append(bytes(line));
    }
    ComposerState state;
    state.commandText = EditCommand->currentData().toByteArray();
    state.requestReceipt = CheckBox2->isChecked();
    state.toGroup = CheckBox1->isChecked();
    state.groupText = groupBytes();
    state.recipientText = recipientBytes();
    state.typedText = typedTextFromLines(lines);

    const SendPlan plan = planSend(state, m_clientList, *m_groups, sender());
    if (plan.commandTextAfter)
        EditCommand->setCurrentIndex(EditCommand->findData(*plan.commandTextAfter));
    // What cannot go out as typed stays in the box, and the user is told why.
    if (!m_machine.connected() && (!plan.steps.isEmpty() || !plan.unreachable.isEmpty())) {
        m_boxes.warning(
            localText(ChatMessage::NotSentOffline,
                      u"Il messaggio non \u00E8 stato inviato: il client non \u00E8 connesso al server."_s));
        return;
    }
    if (const QString refused = unsendableCharactersMessage(typed); !refused.isEmpty()) {
        m_boxes.warning(refused);
        return;
    }
    for (const SendPlan::Step& step : plan.steps) {
        if (step.localLine) {
            addLine(*step.localLine);
            keepSentLine(state);
        }
        writeRecord(step.record);
    }
    if (plan.clearInput) {
        Memo1->clear();
        Memo1->setFocus();
    }
    if (!plan.unreachable.isEmpty())
        reportUnreachable(plan.unreachable, state.toGroup);
}

void TClientFrmMain::reportUnreachable(const QByteArrayList& names, bool toGroup) {
    QStringList shown;
    for (const QByteArray& name : names)
        shown.append(name.isEmpty() ? u"\"\""_s : text(name));
    if (toGroup)
        m_boxes.warning(localised(ChatMessage::NotConnectedMembers,
                                  u"Il messaggio non \u00E8 stato inviato a: %1 (non connessi)."_s)
                            .arg(shown.join(u", "_s)));
    else
        m_boxes.warning(localised(ChatMessage::NotConnectedRecipient,
                                  u"%1 non \u00E8 connesso: il messaggio non \u00E8 stato inviato."_s)
                            .arg(shown.first()));
}

void TClientFrmMain::ListBox1Click() {
    if (QListWidgetItem* item = ListBox1->currentItem())
        Edit1->setText(item->text());
    Memo1->setFocus();
}

void TClientFrmMain::CheckBox1Click() {
    auto* place = qobject_cast<QStackedWidget*>(Edit1->parentWidget());
    place->setCurrentWidget(CheckBox1->isChecked() ? static_cast<QWidget*>(ComboBox1) : Edit1);
    Memo1->setFocus();
}

void TClientFrmMain::ComboBox1Click() {
    guarded([this] { ComboBox1->setToolTip(groupSelectorHint(groupBytes(), *m_groups)); });
}

void TClientFrmMain::memoEnterReleased(bool shift) {
    if (Memo1->toPlainText().isEmpty())
        return;
    if (shift)
        Memo1->appendPlainText(QString());
    else
        SpeedButton3Click();
}

bool TClientFrmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Memo1 && (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            // Enter never breaks the line itself; its release sends, or with Shift adds a line.
            if (event->type() == QEvent::KeyRelease && !key->isAutoRepeat())
                memoEnterReleased(key->modifiers() & Qt::ShiftModifier);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace vestrel::chat
