#pragma once

#include "chat/ChatRecord.h"
#include "chat/ClientList.h"
#include "chat/ConnectionMachine.h"
#include "chat/NoticeQueue.h"
#include "chat/UserConfig.h"
#include "chat/ui/SecureConnect.h"
#include "platform/TcpClient.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QListWidget;
class QPlainTextEdit;
class QSplitter;
class QTimer;
class QToolButton;

namespace vestrel {
class IniFile;
class MessageBoxes;
} // namespace vestrel

namespace vestrel::chat {

class HistorySearchDialog;
class HistoryStore;
class TClientHandleThread;
struct ComposerState;

// The chat client's main window: the conversation pane, the list of connected clients, the composer,
// the File menu and the status bar, and the connection they drive. The rules it follows live in plain
// helpers (dispatchRecord, planSend, GroupStore, UserConfigStore); this class wires them to widgets.
class TClientFrmMain : public QMainWindow {
    Q_OBJECT
public:
    // Dialogs that other parts of the program provide. Without one, its menu command stays disabled.
    struct Dialogs {
        // Edits `config` modally; true when closed with OK (the dialog has then saved the settings).
        std::function<bool(TUserConfig& config, QWidget* owner)> settings;
        // Lets the user edit the groups in "gruppi.ini" modally.
        std::function<void(QWidget* owner)> groups;
        // Asks for the file a history export goes to (`csv` says which kind); empty when given up.
        // A save-file dialog when not set.
        std::function<QString(QWidget* owner, bool csv)> historyExportFile;
    };

    // The conversation pane keeps this many lines; older ones give way, so a day-long flood cannot
    // grow the program without end. They go a few hundred at a time: dropping the first line on every
    // new one would cost more than the new line itself.
    static constexpr int MaxConversationLines = 10000;
    static constexpr int ConversationTrimBatch = 500;

    TClientFrmMain(TUserConfig& config, MessageBoxes& boxes, Dialogs dialogs = {}, QWidget* parent = nullptr);
    ~TClientFrmMain() override;

    // The start-up steps: settings from their stores, the group file and selector, and the
    // automatic connect when "Mostra" is on.
    void FormCreate();
    // What the window does before the program ends: logs out, ignoring any failure.
    void FormCloseQuery();
    // Ends the program: logs out when connected and asks the event loop to end; the window may close.
    void exitProgram();

    // Connection operations and menu commands. Connect() starts the connect and returns at once; the
    // window follows the connection's states as the attempt ends, the server answers or goes away.
    void Connect();
    void Disconnect(const QByteArray& nick);
    void Connetti1Click() {
        guarded([this] { Connect(); });
    }
    void Disconnetti1Click();
    void DisconnettiEdEsci1Click();
    void EsciDalProgramma1Click();
    void Impostazioni1Click();
    void GestioneGruppi1Click();
    void Pulisci1Click();
    // File > Cronologia: search (Ctrl+F), export, clearing.
    void CercaCronologia1Click();
    void EsportaCronologia1Click();
    void SvuotaCronologia1Click();

    // Composer.
    void SendMessage();
    void SpeedButton3Click() {
        guarded([this] { SendMessage(); });
    }

    // Rereads "gruppi.ini" and refills the group selector.
    void reloadGroups();
    void bringToFront();

    TcpClient& Client() { return *m_client; }
    const ConnectionMachine& connection() const { return m_machine; }
    // The longest wait for the server to accept a connect.
    static constexpr int ConnectTimeoutMs = 10000;
    const ClientList& clientList() const { return m_clientList; }
    // The history of this run; null before the start-up steps.
    HistoryStore* history() const { return m_history; }
    HistorySearchDialog* historySearch() const { return m_historySearch; }

    // The widgets by the names the rest of the program and the tests use.
    QPlainTextEdit* IncomingMessages = nullptr;
    QListWidget* ListBox1 = nullptr;
    QComboBox* EditCommand = nullptr;
    QLineEdit* Edit1 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QToolButton* SpeedButton3 = nullptr;
    QToolButton* Pulisci = nullptr;
    QLabel* StatusPanels[4] = {};
    QLabel* Image1 = nullptr;
    QLabel* Image2 = nullptr;
    QAction* Impostazioni1 = nullptr;
    QAction* GestioneGruppi1 = nullptr;
    QAction* Connetti1 = nullptr;
    QAction* Disconnetti1 = nullptr;
    QAction* RiduciaIcona1 = nullptr;
    QAction* EsciDalProgramma1 = nullptr;
    QAction* DisconnettiEdEsci1 = nullptr;
    QSplitter* Splitter1 = nullptr;
    // Labels that only take localised texts: "Host Server:", "Porta Server:" (never shown), "Messaggi
    // inviati e ricevuti :", "Client Connessi", "Comando:", "Messaggio:", "Invia A: ".
    QLabel* LabelHostServer = nullptr;
    QLabel* LabelPortaServer = nullptr;
    QLabel* LabelMessaggi = nullptr;
    QLabel* LabelClientConnessi = nullptr;
    QLabel* LabelComando = nullptr;
    QLabel* LabelMessaggio = nullptr;
    QLabel* LabelInviaA = nullptr;
    QMenu* File1 = nullptr;
    QMenu* Cronologia1 = nullptr;
    QAction* CercaCronologia1 = nullptr;
    QAction* EsportaCronologia1 = nullptr;
    QAction* SvuotaCronologia1 = nullptr;

signals:
    // The conversation pane's text changed (new-message notification hooks in here).
    void conversationChanged();
    // A command asked the program to end; the program quits when control returns to its event loop.
    void applicationTerminateRequested();
    // A record the window has just handled (after its lines, dialogs and answers).
    void recordDispatched(const vestrel::chat::TChatRecord& record);
    // The window's close command (title-bar button, Alt+F4): the window stays open, the shell decides.
    void closeCommand();
    // The window has been shown and has taken its localised texts.
    void formShown();
    // The connection opened (true) or is gone (false), whatever the reason.
    void connectionStateChanged(bool connected);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Applies the localised texts each time the window is shown, then focuses the input box.
    void FormShow();
    // Status panel 1 for a connection state, panel 2 for a number of clients, in the user's language.
    static QString connectionStateText(bool connected);
    static QString connectedClientsText(int count);
    void buildWindow();
    QWidget* buildUpperPanel();
    QWidget* buildComposer();
    void buildMenu();
    void buildStatusBar();
    // Widens the status panels and the client list where the texts of the language in force need it.
    void fitToTexts();

    void ClientDisconnected();
    // Carries out what the connection's state machine answered.
    void perform(ConnectionMachine::Action action, const QString& failure = {});
    void connectAttemptFinished(bool ok, const QString& failure);
    void logIn();
    void retryDue();
    // Menus, send button, status panels and picture for the connection's present state.
    void showConnectionState();
    // Empties the client list and its count.
    void forgetClients();
    void ClientHandleDispatch(const TChatRecord& record);
    void showConnectionPicture(bool connected);
    void writeRecord(const TChatRecord& record);
    void addLine(const QByteArray& line);
    void showNextNotice();
    // The recipient field as the wire addresses it ("Tutti" whatever the language shows).
    QByteArray recipientBytes() const;
    // The chosen group as the group file names it ("Tutti i Client" whatever the language shows).
    QByteArray groupBytes() const;
    void reportUnreachable(const QByteArrayList& names, bool toGroup);
    ChatSender sender() const { return sender(m_config.Nick); }
    ChatSender sender(const QByteArray& nick) const;
    void stopReceiving();

    // The history (ClientFrmMainHistory.cpp): every message line the pane shows is kept.
    void buildHistoryMenu(QMenu* file);
    void applyHistoryTexts();
    void openHistory(bool showEarlier = true);
    void applyHistoryRetention();
    void keepReceivedLine(const TChatRecord& record);
    void keepSentLine(const ComposerState& state);

    void ListBox1Click();
    void CheckBox1Click();
    void ComboBox1Click();
    void memoEnterReleased(bool shift);

    // Runs a handler; a failure reaches the error box, as every command's does.
    void guarded(const std::function<void()>& handler);

    TUserConfig& m_config;
    MessageBoxes& m_boxes;
    Dialogs m_dialogs;
    // Shared with a connect attempt's thread, which may outlive the window.
    std::shared_ptr<TcpClient> m_client = std::make_shared<TcpClient>();
    ConnectionMachine m_machine;
    QTimer* m_retryTimer = nullptr;
    SecureConnect m_secure; // TLS, certificate trust and account password of the connection
    ClientList m_clientList;
    NoticeQueue m_notices;
    bool m_noticeOpen = false; // a box raised by a received record is open
    std::unique_ptr<IniFile> m_groups;
    QPointer<TClientHandleThread> ReceiverThread;
    bool m_busy = false; // the connect's settings prompt is open
    bool m_closing = false;
    HistoryStore* m_history = nullptr;              // a child of the window
    HistorySearchDialog* m_historySearch = nullptr; // made on first use, a child of the window
    bool m_connectWhenIdle = false;                 // a connect asked for while a given-up attempt still ran
    bool m_shownConnected = false;                  // the state connectionStateChanged() last announced
};

} // namespace vestrel::chat
