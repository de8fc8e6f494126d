// The chat client end to end: windows talking through the real relay server on loopback, and a
// fake server for exact records and bad input.
#include "ChatTestSupport.h"

#include "chat/GroupStore.h"
#include "components/ui/QtItalianTranslations.h"
#include "platform/IniFile.h"
#include "platform/ProgramDir.h"
#include "platform/Registry.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolButton>

using namespace vestrel;
using namespace vestrel::chat;
using namespace vestrel::chat::test;
using namespace Qt::StringLiterals;

namespace {

const QString entryNoticeOf = u": \u00e8 entrato in chat"_s;

// Messages are sent with a final CR LF, so each shows as its line followed by an empty line.
QString line(const QString& nick, const QString& text) {
    return nick + u": "_s + text;
}

void connectAndWaitForList(Peer& peer, int clients) {
    peer.window->Connect();
    QTRY_COMPARE(peer.window->StatusPanels[2]->text(), u"Client connessi: "_s + QString::number(clients));
}

// Everything a peer sent before this call has been handled by the server once the marker comes back.
void barrier(Peer& peer) {
    static int serial = 0;
    const QString marker = u"barrier-"_s + QString::number(++serial);
    peer.type(marker, u"Tutti"_s);
    QTRY_COMPARE(peer.paneCount(line(QString::fromLatin1(peer.config.Nick), marker)), 1);
}

} // namespace

class TestChatClient : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        useChatTestFolders(m_dir);
    }
    void init() {
        // Each test starts with no chat history of its own.
        qputenv("XDG_DATA_HOME", m_dir.filePath(u"data%1"_s.arg(++m_dataDirs)).toLocal8Bit());
    }

    void clientListsFollowLoginsAndLogouts() {
        RelayProcess relay;
        Peer anna("anna", "pcA", relay.port());
        Peer bob("bob", "pcB", relay.port());
        connectAndWaitForList(anna, 1);
        QCOMPARE(anna.listBox(), QStringList{u"Tutti"_s}); // only the own entry: nothing to pick
        QVERIFY(!anna.window->Image2->isHidden());
        QTRY_VERIFY(anna.window->SpeedButton3->isEnabled());
        QVERIFY(!anna.window->Connetti1->isEnabled());
        // While connected, "Esci dal programma" only greys itself out.
        QSignalSpy terminate(anna.window.get(), &TClientFrmMain::applicationTerminateRequested);
        anna.window->EsciDalProgramma1Click();
        QVERIFY(!anna.window->EsciDalProgramma1->isEnabled());
        QCOMPARE(terminate.count(), 0);

        connectAndWaitForList(bob, 2);
        QTRY_COMPARE(anna.listBox(), QStringList({u"bob"_s, u"Tutti"_s}));
        QCOMPARE(bob.listBox(), QStringList({u"anna"_s, u"Tutti"_s}));

        bob.window->Disconnetti1Click();
        QTRY_COMPARE(anna.listBox(), QStringList{u"Tutti"_s});
        QCOMPARE(anna.window->StatusPanels[2]->text(), u"Client connessi: 1"_s);
        QVERIFY(bob.listBox().isEmpty());
        QTRY_VERIFY(bob.window->Connetti1->isEnabled());
    }

    void directBroadcastAndGroupMessages() {
        RelayProcess relay;
        Peer anna("anna", "pcA", relay.port());
        Peer bob("bob", "pcB", relay.port());
        Peer carlo("carlo", "pcC", relay.port());
        Peer dario("dario", "pcD", relay.port());
        for (Peer* peer : {&anna, &bob, &carlo, &dario})
            peer->window->Connect();
        QTRY_COMPARE(anna.window->StatusPanels[2]->text(), u"Client connessi: 4"_s);

        // Direct: the sender keeps a local copy, only the addressee receives it.
        anna.type(u"ciao bob"_s, u"bob"_s);
        QCOMPARE(anna.window->EditCommand->currentText(), u"MESSAGE"_s);
        QVERIFY(anna.window->Memo1->toPlainText().isEmpty());
        QTRY_COMPARE(bob.paneCount(line(u"anna"_s, u"ciao bob"_s)), 1);
        barrier(anna);
        barrier(carlo);
        QCOMPARE(anna.paneCount(line(u"anna"_s, u"ciao bob"_s)), 1);
        QCOMPARE(carlo.paneCount(line(u"anna"_s, u"ciao bob"_s)), 0);

        // Broadcast: no local copy, the server's echo is the sender's only line.
        bob.type(u"a tutti"_s, u"Tutti"_s);
        for (Peer* peer : {&anna, &bob, &carlo, &dario})
            QTRY_COMPARE(peer->paneCount(line(u"bob"_s, u"a tutti"_s)), 1);
        barrier(bob);
        QCOMPARE(bob.paneCount(line(u"bob"_s, u"a tutti"_s)), 1);

        // A group of three: three records, three local lines, one line at each member.
        IniFile groups = GroupStore::openGroupFile();
        QByteArrayList names;
        GroupStore::CreateOrReplaceGroup(groups, "Magazzino", {"bob", "carlo", "dario"}, names);
        anna.window->reloadGroups();
        QCOMPARE(anna.window->ComboBox1->count(), 2);
        anna.window->CheckBox1->click();
        QVERIFY(anna.window->CheckBox1->isChecked());
        anna.window->ComboBox1->setCurrentIndex(1);
        QSignalSpy received(bob.window.get(), &TClientFrmMain::recordDispatched);
        QTest::keyClicks(anna.window->Memo1, u"inventario"_s);
        QTest::keyClick(anna.window->Memo1, Qt::Key_Return);
        QCOMPARE(anna.paneCount(line(u"anna"_s, u"inventario"_s)), 3);
        for (Peer* peer : {&bob, &carlo, &dario})
            QTRY_COMPARE(peer->paneCount(line(u"anna"_s, u"inventario"_s)), 1);
        barrier(bob);
        QCOMPARE(bob.paneCount(line(u"anna"_s, u"inventario"_s)), 1);
        QCOMPARE(received.count(), 2); // the group message and bob's own barrier
        for (Peer* peer : {&anna, &bob, &carlo, &dario})
            QVERIFY(peer->boxes.shown.isEmpty());
    }

    void readReceiptAndDialog() {
        RelayProcess relay;
        Peer anna("anna", "pcA", relay.port());
        Peer bob("bob", "pcB", relay.port());
        anna.window->Connect();
        connectAndWaitForList(bob, 2);
        QTRY_COMPARE(anna.listBox(), QStringList({u"bob"_s, u"Tutti"_s}));

        bob.boxes.answer = true;
        anna.window->CheckBox2->setChecked(true);
        anna.window->EditCommand->setCurrentIndex(1); // DIALOG, overridden by the receipt request
        anna.type(u"leggimi"_s, u"bob"_s);
        QTRY_COMPARE(anna.boxes.texts(u"information"_s).size(), 1);
        QCOMPARE(anna.boxes.texts(u"information"_s).first(),
                 u"\"pcB\" Ti manda questo messaggio:\rIl messaggio inviato a bob \u00e8 stato letto!"_s);
        QCOMPARE(bob.boxes.texts(u"question"_s),
                 QStringList{u"Il mittente richiede la notifica di lettura del messaggio,inviarla?"_s});
        QCOMPARE(bob.paneCount(line(u"anna"_s, u"leggimi"_s)), 1);
    }

    // A lost server empties the list at once, keeps what cannot be sent, and is called again by
    // itself: the server comes back on the same port and the client is back, logged in, on its own.
    void aLostServerIsShownAndCalledAgain() {
        auto relay = std::make_unique<RelayProcess>();
        const quint16 port = relay->port();
        Peer anna("anna", "pcA", port);
        QSignalSpy states(anna.window.get(), &TClientFrmMain::connectionStateChanged);
        connectAndWaitForList(anna, 1);
        QCOMPARE(anna.listBox(), QStringList{u"Tutti"_s});
        relay->kill();
        QTRY_VERIFY(anna.window->Connetti1->isEnabled());
        QVERIFY(anna.window->Disconnetti1->isEnabled()); // stops the calls to the lost server
        QVERIFY(!anna.window->DisconnettiEdEsci1->isEnabled());
        QVERIFY(anna.window->EsciDalProgramma1->isEnabled());
        QVERIFY(!anna.window->SpeedButton3->isEnabled());
        QCOMPARE(anna.window->StatusPanels[1]->text(), u"Client Disconnesso"_s);
        QCOMPARE(anna.window->StatusPanels[2]->text(), u"Client connessi: 0"_s);
        QVERIFY(anna.listBox().isEmpty());
        QVERIFY(!anna.window->Image1->isHidden());
        QCOMPARE(states.count(), 2);
        QCOMPARE(states.last().first().toBool(), false);
        QVERIFY(anna.window->connection().reconnecting());

        // Enter while offline sends nothing and shows nothing as sent: the text stays and the user is told.
        anna.window->Edit1->setText(u"anna"_s);
        QTest::keyClicks(anna.window->Memo1, u"perso"_s);
        QTest::keyClick(anna.window->Memo1, Qt::Key_Return);
        QCOMPARE(anna.boxes.texts(u"warning"_s),
                 QStringList{u"Il messaggio non \u00e8 stato inviato: il client non \u00e8 connesso al server."_s});
        QCOMPARE(anna.paneCount(line(u"anna"_s, u"perso"_s)), 0);
        QCOMPARE(anna.window->Memo1->toPlainText(), u"perso"_s);

        // Back on the same port a few seconds later: within the backoff (1, 2, 4 s, each up to a fifth
        // longer) the client is connected and logged in again, without a box.
        QTest::qWait(2500);
        relay = std::make_unique<RelayProcess>(QStringList{u"--port"_s, QString::number(port)});
        QCOMPARE(relay->port(), port);
        Peer bob("bob", "pcB", port);
        connectAndWaitForList(bob, 1);
        QTRY_COMPARE_WITH_TIMEOUT(anna.listBox(), QStringList({u"bob"_s, u"Tutti"_s}), 8000);
        QVERIFY(anna.window->SpeedButton3->isEnabled());
        QCOMPARE(states.last().first().toBool(), true);
        QCOMPARE(anna.boxes.texts(u"warning"_s).size(), 1);
        anna.window->Edit1->setText(u"bob"_s);
        QTest::keyClick(anna.window->Memo1, Qt::Key_Return);
        QTRY_COMPARE(bob.paneCount(line(u"anna"_s, u"perso"_s)), 1);
        QVERIFY(anna.window->Memo1->toPlainText().isEmpty());

        // Disconnecting on purpose while the server is away stops the calls for good.
        relay->kill();
        QTRY_VERIFY(anna.window->connection().reconnecting());
        anna.window->Disconnetti1Click();
        QVERIFY(!anna.window->connection().reconnecting());
        QVERIFY(!anna.window->Disconnetti1->isEnabled());
        relay = std::make_unique<RelayProcess>(QStringList{u"--port"_s, QString::number(port)});
        QTest::qWait(2500);
        QVERIFY(!anna.window->Client().Connected());
    }

    // The window goes away at any moment without serving events: while its connect runs, and while its
    // receiving thread waits for a dispatch.
    void theWindowGoesAwayWithoutWaitingForEvents() {
        FakeChatServer server;
        {
            Peer anna("anna", "pcA", server.port());
            anna.window->Connect();
        }
        QByteArray flood;
        for (int i = 0; i < 500; ++i)
            flood += makeChatRecord(ChatCommand::Message, {"bob", "h", "pcB"}, "riga").toByteArray();
        server.setGreeting(flood);
        auto anna = std::make_unique<Peer>("anna", "pcA", server.port());
        anna->window->Connect();
        QTRY_VERIFY(anna->paneCount(u"bob: riga"_s) > 0);
        QElapsedTimer timer;
        timer.start();
        anna.reset();
        QVERIFY(timer.elapsed() < 2000);
    }

    void noticesFollowNotifica_data() {
        QTest::addColumn<QByteArray>("notifica");
        QTest::newRow("on") << QByteArray("1");
        QTest::newRow("off") << QByteArray("0");
    }
    void noticesFollowNotifica() {
        QFETCH(QByteArray, notifica);
        FakeChatServer server;
        Peer anna("anna", "pcA", server.port(), notifica);
        anna.window->Connect();
        QTRY_COMPARE(server.connections(), 1);
        const QByteArrayList login = notifica == "1" ? QByteArrayList{"Login", "MESSAGE"} : QByteArrayList{"Login"};
        QTRY_COMPARE(server.commands(0), login);
        const TChatRecord first = server.received(0).first();
        QCOMPARE(first.field(TChatRecord::SenderNick), QByteArray("anna"));
        QCOMPARE(first.field(TChatRecord::SenderHost), QByteArray("host-anna"));
        QCOMPARE(first.field(TChatRecord::SenderMachine), QByteArray("pcA"));
        if (notifica == "1") {
            QCOMPARE(server.received(0)[1].field(TChatRecord::Text), QByteArray(" \xE8 entrato in chat"));
            QCOMPARE(server.received(0)[1].field(TChatRecord::Recipient), QByteArray());
        }

        server.sendList(0, "anna=pcA\r\nbob=pcB\r\n");
        QTRY_COMPARE(anna.listBox(), QStringList({u"bob"_s, u"Tutti"_s}));
        anna.window->Disconnetti1Click();
        const QByteArrayList logout = notifica == "1" ? QByteArrayList{"Logout", "MESSAGE"} : QByteArrayList{"Logout"};
        QTRY_COMPARE(server.commands(0).mid(login.size()), logout);
        if (notifica == "1")
            QCOMPARE(server.received(0).last().field(TChatRecord::Text), QByteArray("\xE8 uscito dalla chat"));
    }

    void disconnectBeforeAnyListSendsNothing() {
        FakeChatServer server;
        Peer anna("anna", "pcA", server.port(), "1");
        anna.window->Connect();
        QTRY_COMPARE(server.received(0).size(), 2);
        anna.window->Disconnetti1Click();
        QTRY_VERIFY(!anna.window->Client().Connected());
        QTRY_COMPARE(anna.window->StatusPanels[1]->text(), u"Client Disconnesso"_s);
        QCOMPARE(server.received(0).size(), 2);
    }

    void settingsChangeReconnectsOnlyForNickOrServer() {
        FakeChatServer server;
        QByteArray newPort = "1";
        QByteArray newNick;
        int opened = 0;
        TClientFrmMain::Dialogs dialogs;
        dialogs.settings = [&](TUserConfig& config, QWidget*) {
            ++opened;
            config.Porta = newPort;
            if (!newNick.isEmpty())
                config.Nick = newNick;
            return true;
        };
        Peer anna("anna", "pcA", server.port(), "1", dialogs);
        anna.window->Connect();
        QTRY_COMPARE(server.received(0).size(), 2);
        server.sendList(0, "anna=pcA\r\n");
        QTRY_COMPARE(anna.listBox(), QStringList{u"Tutti"_s});

        anna.window->Impostazioni1->trigger();
        QCOMPARE(opened, 1);
        QCOMPARE(anna.config.Porta, QByteArray("1"));
        QVERIFY(anna.window->Client().Connected());
        QCOMPARE(server.connections(), 1);
        QCOMPARE(server.received(0).size(), 2);

        newPort = QByteArray::number(server.port());
        newNick = "annalisa";
        anna.window->Impostazioni1->trigger();
        QTRY_COMPARE(server.connections(), 2);
        QTRY_COMPARE(server.commands(1), QByteArrayList({"Login", "MESSAGE"}));
        QCOMPARE(server.commands(0), QByteArrayList({"Login", "MESSAGE", "Logout", "MESSAGE"}));
        QCOMPARE(server.received(0)[2].field(TChatRecord::SenderNick), QByteArray("anna"));
        QCOMPARE(server.received(0)[3].field(TChatRecord::SenderNick), QByteArray("anna"));
        QCOMPARE(server.received(1)[0].field(TChatRecord::SenderNick), QByteArray("annalisa"));
        QVERIFY(anna.boxes.shown.isEmpty());
    }

    void badInputFromTheServer() {
        FakeChatServer server;
        Peer anna("anna", "pcA", server.port());
        QSignalSpy dispatched(anna.window.get(), &TClientFrmMain::recordDispatched);
        anna.window->Connect();
        QTRY_COMPARE(server.received(0).size(), 1);

        // Unknown commands, case included, are reported with their text.
        server.send(0, makeChatRecord("message", {"bob", "", "pcB"}, "testo").toByteArray());
        server.send(0, makeChatRecord("", {}, "").toByteArray());
        QTRY_COMPARE(anna.boxes.texts(u"error"_s).size(), 2);
        QCOMPARE(anna.boxes.texts(u"error"_s).first(),
                 u"Comando sconosciuto \"message\" Contenente il messaggio:\rtesto"_s);

        // List lines without "=" give empty names; the count is the server's.
        server.sendList(0, "solo\r\nanna=pcA\r\nbob=pcB");
        QTRY_COMPARE(anna.listBox(), QStringList({QString(), u"bob"_s, u"Tutti"_s}));
        QCOMPARE(anna.window->StatusPanels[2]->text(), u"Client connessi: 3"_s);

        // A field holds 255 characters at most, so a flood of list updates, each with as many lines
        // as a field can carry, stands in for a huge list.
        const int before = int(dispatched.count());
        QByteArray flood;
        for (int i = 0; i < 10000; ++i)
            flood += makeChatRecord("Login", {}, QByteArray(255, '\n')).toByteArray();
        flood += makeChatRecord("Login", {}, "anna=pcA\r\nbob=pcB\r\ncarlo=pcC").toByteArray();
        server.send(0, flood);
        QTRY_COMPARE_WITH_TIMEOUT(int(dispatched.count()), before + 10001, 60000);
        QCOMPARE(anna.listBox(), QStringList({u"bob"_s, u"carlo"_s, u"Tutti"_s}));

        // Half a record, then the server goes: nothing is dispatched, the menus follow.
        const int afterFlood = int(dispatched.count());
        server.send(0, makeChatRecord("MESSAGE", {"bob", "", "pcB"}, "mezzo").toByteArray().left(700));
        server.close(0);
        QTRY_VERIFY(anna.window->Connetti1->isEnabled());
        QCOMPARE(int(dispatched.count()), afterFlood);
        QCOMPARE(anna.window->StatusPanels[1]->text(), u"Client Disconnesso"_s);
        QCOMPARE(anna.paneCount(line(u"bob"_s, u"mezzo"_s)), 0);
    }

    // Named sends never become broadcasts: nobody in the list means nothing is written.
    void unknownAddresseesAreRefused() {
        FakeChatServer server;
        Peer anna("anna", "pcA", server.port());
        anna.window->Connect();
        QTRY_COMPARE(server.received(0).size(), 1);
        server.sendList(0, "anna=pcA\r\nbob=pcB\r\nsenzachiave=");
        QTRY_COMPARE(anna.window->StatusPanels[2]->text(), u"Client connessi: 3"_s);

        for (const QString& unknown : {u"zoe"_s, u"senzachiave"_s}) {
            anna.type(u"solo per te"_s, unknown);
            QCOMPARE(anna.boxes.texts(u"warning"_s).last(),
                     unknown + u" non \u00e8 connesso: il messaggio non \u00e8 stato inviato."_s);
            QCOMPARE(anna.window->Memo1->toPlainText(), u"solo per te"_s); // kept, to send later
            QCOMPARE(anna.paneCount(line(u"anna"_s, u"solo per te"_s)), 0);
            anna.window->Memo1->clear();
        }

        // A group with members nobody is connected as: the others get it, the rest are named.
        IniFile groups = GroupStore::openGroupFile();
        QByteArrayList names;
        GroupStore::CreateOrReplaceGroup(groups, "Misto", {"bob", "zoe", "senzachiave"}, names);
        anna.window->reloadGroups();
        anna.window->CheckBox1->click();
        anna.window->ComboBox1->setCurrentText(u"Misto"_s);
        QTest::keyClicks(anna.window->Memo1, u"al gruppo"_s);
        QTest::keyClick(anna.window->Memo1, Qt::Key_Return);
        QCOMPARE(anna.boxes.texts(u"warning"_s).last(),
                 u"Il messaggio non \u00e8 stato inviato a: zoe, senzachiave (non connessi)."_s);
        QCOMPARE(anna.paneCount(line(u"anna"_s, u"al gruppo"_s)), 1);
        QTRY_COMPARE(server.received(0).size(), 2);
        QTest::qWait(100);
        const QList<TChatRecord> sent = server.received(0);
        QCOMPARE(sent.size(), 2); // the Login and bob's record, nothing with an empty recipient
        QCOMPARE(sent[1].field(TChatRecord::Recipient), QByteArray("pcB"));
        anna.window->CheckBox1->click();
    }

    // A flood of boxes: one open at a time, a few waiting, the rest summed up in one box, and the
    // records behind them go on being read and shown meanwhile.
    void dialogFloodIsBoundedAndTheWindowStaysUsable() {
        FakeChatServer server;
        Peer anna("anna", "pcA", server.port());
        anna.boxes.holdNotices = true;
        anna.window->Connect();
        QTRY_COMPARE(server.received(0).size(), 1);
        QByteArray flood;
        for (int i = 0; i < 500; ++i)
            flood += makeChatRecord("DIALOG", {"bob", "", "pcB"}, "apri " + QByteArray::number(i)).toByteArray();
        flood += makeChatRecord("MSGNOTIFY", {"bob", "", "pcB"}, "dopo").toByteArray();
        server.send(0, flood);
        QTRY_COMPARE(anna.paneCount(line(u"bob"_s, u"dopo"_s)), 1);
        QCOMPARE(anna.boxes.openNotices.size(), 1);
        QCOMPARE(anna.boxes.shown.last().text, u"\"pcB\" Ti manda questo messaggio:\rapri 0"_s);

        int clicks = 0;
        while (!anna.boxes.openNotices.isEmpty()) {
            anna.boxes.closeNotice();
            ++clicks;
            QTest::qWait(1);
        }
        // Records that arrive together are dispatched together, before the first box opens: the open
        // box then comes out of the bounded queue rather than beside it.
        QVERIFY2(clicks == NoticeQueue::DefaultBound + 1 || clicks == NoticeQueue::DefaultBound + 2,
                 qPrintable(QString::number(clicks)));
        const int boxesShown = clicks - 1; // the last click closes the summary
        QCOMPARE(anna.boxes.shown.last().text,
                 u"\u2026 e altri %1 messaggi"_s.arg(501 - boxesShown)); // 500 boxes and the receipt question
        // The question for the read receipt was among those left out: no receipt was sent.
        QTest::qWait(100);
        QCOMPARE(server.received(0).size(), 1);
    }

    void conversationPaneKeepsABoundedNumberOfLines() {
        FakeChatServer server;
        Peer anna("anna", "pcA", server.port());
        anna.window->Connect();
        QTRY_COMPARE(server.received(0).size(), 1);
        QByteArray lines;
        const int sent = TClientFrmMain::MaxConversationLines + 2 * TClientFrmMain::ConversationTrimBatch;
        for (int i = 0; i < sent; ++i)
            lines += makeChatRecord("MESSAGE", {"bob", "", "pcB"}, "riga " + QByteArray::number(i)).toByteArray();
        server.send(0, lines);
        QTRY_COMPARE_WITH_TIMEOUT(anna.paneCount(line(u"bob"_s, u"riga %1"_s.arg(sent - 1))), 1, 60000);
        QVERIFY(anna.window->IncomingMessages->blockCount() >= TClientFrmMain::MaxConversationLines);
        QVERIFY(anna.window->IncomingMessages->blockCount() <=
                TClientFrmMain::MaxConversationLines + TClientFrmMain::ConversationTrimBatch);
        QCOMPARE(anna.paneCount(line(u"bob"_s, u"riga 0"_s)), 0);
    }

    void failedConnects_data() {
        QTest::addColumn<QByteArray>("porta");
        QTest::addColumn<QStringList>("warnings");
        const QString notConnected = u"Server disconnesso o Impostazioni errate"_s;
        QTest::newRow("port not a number") << QByteArray("47x") << QStringList{notConnected};
        QTest::newRow("nobody listening")
            << QByteArray("closed")
            << QStringList{u"Impossibile connettersi, controllare che tutti i parametri siano corretti"_s,
                           notConnected};
    }
    void failedConnects() {
        QFETCH(QByteArray, porta);
        QFETCH(QStringList, warnings);
        quint16 closedPort = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            closedPort = probe.serverPort();
        }
        Peer anna("anna", "pcA", closedPort);
        if (porta != "closed")
            anna.config.Porta = porta;
        anna.window->Connect();
        QTRY_COMPARE(anna.boxes.texts(u"warning"_s), warnings);
        QCOMPARE(anna.paneCount(u"anna: non connesso!"_s), 1);
        QVERIFY(!anna.window->Client().Connected());
        QVERIFY(anna.window->Connetti1->isEnabled());
    }

    void missingParameters() {
        Peer anna("", "pcA", 1);
        anna.window->Connect();
        QCOMPARE(anna.boxes.texts(u"information"_s), QStringList({u"Inserire i valori per la connessione"_s,
                                                                  u"Parametri per la connessione non inseriti"_s}));

        // A settings dialog closed without OK asks the program to end; the connect still goes on.
        TClientFrmMain::Dialogs cancelled;
        cancelled.settings = [](TUserConfig&, QWidget*) {
            return false;
        };
        Peer bob("", "pcB", 1, "0", cancelled);
        QSignalSpy terminate(bob.window.get(), &TClientFrmMain::applicationTerminateRequested);
        bob.window->Connect();
        QCOMPARE(terminate.count(), 1);
        QCOMPARE(bob.boxes.texts(u"information"_s).size(), 2);
    }

    void startUpReadsSettingsAndGroups() {
        FakeChatServer server;
        IniFile ini(programFile(u"DovuziZez.ini"_s));
        ini.WriteString("Server", "Host", "127.0.0.1");
        ini.WriteString("Porta", "Porta", QByteArray::number(server.port()));
        Registry registry(RegistryHive::LocalMachine);
        QVERIFY(registry.OpenKey(UserConfigStore::RegistryKey, true));
        registry.WriteString("Nick", "avvio");
        registry.WriteString("Host", "host-avvio");
        registry.WriteString("Notifica", "0");
        IniFile groups = GroupStore::openGroupFile();
        QByteArrayList names;
        GroupStore::CreateOrReplaceGroup(groups, "Uno", {"a"}, names);
        GroupStore::CreateOrReplaceGroup(groups, "Due", {"b"}, names);

        TUserConfig config;
        RecordingBoxes boxes;
        TClientFrmMain window(config, boxes);
        window.FormCreate();
        QCOMPARE(config.Nick, QByteArray("avvio"));
        QCOMPARE(window.ComboBox1->count(), 3);
        QCOMPARE(window.ComboBox1->itemText(0), u"Tutti i Client"_s);
        QCOMPARE(window.ComboBox1->itemText(2), u"Due"_s);
        QTRY_COMPARE(server.commands(0), QByteArrayList{"Login"});
        QVERIFY(window.DisconnettiEdEsci1->isEnabled());

        // Choosing a group shows its members as the selector's hint.
        window.ComboBox1->setCurrentIndex(1);
        emit window.ComboBox1->activated(1);
        QCOMPARE(window.ComboBox1->toolTip(), u"a"_s);

        // A damaged group list is an error at start-up, and the automatic connect is skipped.
        groups.WriteString("GRCREATI", "Count", "x");
        TUserConfig other;
        RecordingBoxes otherBoxes;
        TClientFrmMain broken(other, otherBoxes);
        broken.FormCreate();
        QCOMPARE(otherBoxes.texts(u"error"_s).size(), 1);
        QCOMPARE(server.connections(), 1);
        groups.EraseSection("GRCREATI");
        registry.DeleteValue("Nick");
    }

    void shiftEnterAddsALineAndEmptyInputSendsNothing() {
        FakeChatServer server;
        Peer anna("anna", "pcA", server.port());
        anna.window->Connect();
        QTRY_COMPARE(server.received(0).size(), 1);
        QTest::keyClick(anna.window->Memo1, Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClick(anna.window->Memo1, Qt::Key_Return);
        QVERIFY(anna.window->Memo1->toPlainText().isEmpty());
        QTest::keyClicks(anna.window->Memo1, u"uno"_s);
        QTest::keyClick(anna.window->Memo1, Qt::Key_Return, Qt::ShiftModifier);
        QTest::keyClicks(anna.window->Memo1, u"due"_s);
        QTest::keyClick(anna.window->Memo1, Qt::Key_Return);
        QTRY_COMPARE(server.received(0).size(), 2);
        QCOMPARE(server.received(0)[1].field(TChatRecord::Text), QByteArray("uno\r\ndue\r\n"));
    }

    void terminationLogsOut() {
        FakeChatServer server;
        server.setGreeting(makeChatRecord(ChatCommand::Login, {}, "segnale=pcSig\r\n").toByteArray());
        QTemporaryDir dir;
        QDir(dir.path()).mkpath(u"prog"_s);
        QDir(dir.path()).mkpath(u"reg"_s);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"VESTREL_PROGRAM_DIR"_s, dir.filePath(u"prog"_s));
        env.insert(u"VESTREL_REGISTRY_DIR"_s, dir.filePath(u"reg"_s));
        env.insert(u"XDG_DATA_HOME"_s, dir.filePath(u"data"_s));
        env.insert(u"VESTREL_HOSTNAME"_s, u"pcSig"_s);
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        qputenv("VESTREL_PROGRAM_DIR", env.value(u"VESTREL_PROGRAM_DIR"_s).toLocal8Bit());
        qputenv("VESTREL_REGISTRY_DIR", env.value(u"VESTREL_REGISTRY_DIR"_s).toLocal8Bit());
        TUserConfig config;
        config.Server = "127.0.0.1";
        config.Porta = QByteArray::number(server.port());
        config.Nick = "segnale";
        config.Host = "h";
        UserConfigStore::save(config);
        initTestCase(); // back to this test program's own folders

        QProcess client;
        client.setProcessEnvironment(env);
        client.start(qEnvironmentVariable("VESTREL_BIN_DIR") + u"/chatclient"_s);
        QVERIFY(client.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(server.commands(0).size(), 2, 20000);
        // The client logs out only once it has a list, which it read before its Login went out; the
        // pause lets that list's dispatch, queued before the signal's, finish in the other process.
        QTest::qWait(200);
        client.terminate();
        QVERIFY(client.waitForFinished(10000));
        QTRY_COMPARE(server.commands(0), QByteArrayList({"Login", "MESSAGE", "Logout", "MESSAGE"}));
        QCOMPARE(server.received(0)[3].field(TChatRecord::Text), QByteArray("\xE8 uscito dalla chat"));
        QCOMPARE(client.exitStatus(), QProcess::NormalExit);
    }

    // At the window's design size every status text the panels show fits whole, and the last panel
    // still has room for the connection picture inside the window.
    void statusPanelsShowTheirTextsWhole() {
        Peer anna("anna", "pcA", 1);
        anna.window->resize(365, 510);
        anna.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(anna.window.get()));
        const QStringList texts[3] = {{u"Chat Vestrel"_s},
                                      {u"Client Disconnesso"_s, u"Client Connesso"_s},
                                      {u"Client connessi : 0"_s, u"Client connessi: 0"_s, u"Client connessi: 42"_s}};
        for (int i = 0; i < 3; ++i) {
            QLabel* panel = anna.window->StatusPanels[i];
            for (const QString& text : texts[i]) {
                panel->setText(text);
                QVERIFY2(panel->width() >= panel->sizeHint().width(), qPrintable(text));
            }
        }
        QLabel* last = anna.window->StatusPanels[3];
        QVERIFY(last->width() >= anna.window->Image1->width());
        QVERIFY(last->mapTo(anna.window.get(), QPoint(last->width(), 0)).x() <= anna.window->width());
        QVERIFY(last->isAncestorOf(anna.window->Image1) && last->isAncestorOf(anna.window->Image2));
    }

    void standardButtonsSpeakItalian() {
        QVERIFY(installQtItalianTranslations(*QCoreApplication::instance()));
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&Yes"), u"&S\u00ec"_s);
    }

private:
    QTemporaryDir m_dir;
    int m_dataDirs = 0;
};

QTEST_MAIN(TestChatClient)
#include "tst_chatclient.moc"
