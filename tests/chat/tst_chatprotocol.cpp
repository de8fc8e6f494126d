// The wire record, the client list, the dispatch rules and the composer's send plans.
#include "chat/ChatRecord.h"
#include "chat/ClientList.h"
#include "chat/ClientListParts.h"
#include "chat/Composer.h"
#include "chat/Dispatch.h"
#include "chat/NoticeQueue.h"
#include "platform/IniFile.h"

#include <QTemporaryDir>
#include <QTest>

using namespace vestrel;
using namespace vestrel::chat;

namespace {

const ChatSender me{"anna", "hostA", "pcA"};

TChatRecord received(const QByteArray& command, const QByteArray& text, const QByteArray& machine = "pcB") {
    return makeChatRecord(command.constData(), {"bob", "hostB", machine}, text);
}

} // namespace

class TestChatProtocol : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void recordLayout() {
        const TChatRecord record = makeChatRecord(ChatCommand::Message, me, "", "pcB");
        const QByteArray bytes = record.toByteArray();
        QCOMPARE(bytes.size(), 1536);
        QCOMPARE(bytes.at(0), char(7));
        QCOMPARE(bytes.mid(1, 7), QByteArray("MESSAGE"));
        QCOMPARE(bytes.mid(256, 5), QByteArray("\x04"
                                               "anna"));
        QCOMPARE(bytes.mid(768, 4), QByteArray("\x03"
                                               "pcA"));
        // An empty text is one zero length byte followed by zero bytes.
        QCOMPARE(bytes.mid(1024, 256), QByteArray(256, '\0'));
        QCOMPARE(bytes.mid(1280, 4), QByteArray("\x03"
                                                "pcB"));
        QCOMPARE(bytes.mid(1284, 252), QByteArray(252, '\0'));
    }

    void fieldLength_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("stored");
        QTest::newRow("empty") << 0 << 0;
        QTest::newRow("254") << 254 << 254;
        QTest::newRow("exactly 255") << 255 << 255;
        QTest::newRow("256 is cut") << 256 << 255;
        QTest::newRow("300 is cut") << 300 << 255;
    }
    void fieldLength() {
        QFETCH(int, length);
        QFETCH(int, stored);
        QByteArray text(length, 'x');
        for (int i = 0; i < length; ++i)
            text[i] = char('a' + i % 26);
        TChatRecord record;
        record.setField(TChatRecord::Text, text);
        QCOMPARE(record.field(TChatRecord::Text), text.left(stored));
        QCOMPARE(static_cast<unsigned char>(record.toByteArray().at(1024)), stored);
        // Neighbouring fields are untouched.
        QCOMPARE(record.field(TChatRecord::Recipient), QByteArray());
    }

    void receivedBytesPastTheLengthAreIgnored() {
        QByteArray bytes(1536, '\xAA');
        bytes[0] = 5;
        bytes.replace(1, 5, "Login");
        bytes[1024] = 3;
        bytes.replace(1025, 3, "\xE8\x0D\x0A");
        const TChatRecord record = TChatRecord::fromBytes(bytes.constData());
        QVERIFY(record.hasCommand(ChatCommand::Login));
        QCOMPARE(record.field(TChatRecord::Text), QByteArray("\xE8\r\n"));
        QCOMPARE(record.field(TChatRecord::SenderNick).size(), 0xAA);
    }

    void commandWordsMatchExactly_data() {
        QTest::addColumn<QByteArray>("word");
        QTest::addColumn<bool>("isMessage");
        QTest::newRow("exact") << QByteArray("MESSAGE") << true;
        QTest::newRow("lower case") << QByteArray("message") << false;
        QTest::newRow("longer") << QByteArray("MESSAGES") << false;
        QTest::newRow("trailing blank") << QByteArray("MESSAGE ") << false;
    }
    void commandWordsMatchExactly() {
        QFETCH(QByteArray, word);
        QFETCH(bool, isMessage);
        TChatRecord record;
        record.setField(TChatRecord::Command, word);
        QCOMPARE(record.hasCommand(ChatCommand::Message), isMessage);
    }

    void clientListLines_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArrayList>("names");
        QTest::newRow("empty") << QByteArray() << QByteArrayList{};
        QTest::newRow("CR LF with final break") << QByteArray("a=1\r\nb=2\r\n") << QByteArrayList{"a", "b"};
        QTest::newRow("no final break") << QByteArray("a=1\r\nb=2") << QByteArrayList{"a", "b"};
        QTest::newRow("lone LF and CR") << QByteArray("a=1\nb=2\rc=3") << QByteArrayList{"a", "b", "c"};
        QTest::newRow("empty line kept") << QByteArray("a=1\r\n\r\nb=2") << QByteArrayList{"a", "", "b"};
        QTest::newRow("line without =") << QByteArray("anna\r\nb=2") << QByteArrayList{"", "b"};
        QTest::newRow("first = splits") << QByteArray("a=b=c") << QByteArrayList{"a"};
    }
    void clientListLines() {
        QFETCH(QByteArray, text);
        QFETCH(QByteArrayList, names);
        ClientList list;
        list.setText(text);
        QCOMPARE(list.names(), names);
        QCOMPARE(list.count(), names.size());
    }

    void clientListKeys() {
        ClientList list;
        list.setText("Anna=pc1\r\nbob=pc2\r\nanna=pc3\r\nnoequals\r\n\xC8lia=pc4");
        QCOMPARE(list.keyFor("anna"), QByteArray("pc1")); // first match, case ignored
        QCOMPARE(list.keyFor("BOB"), QByteArray("pc2"));
        QCOMPARE(list.keyFor("\xE8LIA"), QByteArray("pc4")); // cp1252 letters too
        QCOMPARE(list.keyFor("carlo"), QByteArray());
        QCOMPARE(list.keyFor("noequals"), QByteArray());
    }

    void listUpdate_data() {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QByteArrayList>("shown");
        QTest::addColumn<int>("count");
        QTest::newRow("own nick removed") << QByteArray("Login") << QByteArray("bob=pcB\r\nanna=pcA\r\ncarlo=pcC\r\n")
                                          << QByteArrayList{"bob", "carlo", "Tutti"} << 3;
        QTest::newRow("own nick in other case")
            << QByteArray("Logout") << QByteArray("ANNA=pcA\r\nbob=pcB") << QByteArrayList{"bob", "Tutti"} << 2;
        QTest::newRow("without own nick") << QByteArray("Logout") << QByteArray("bob=pcB\r\ncarlo=pcC")
                                          << QByteArrayList{"bob", "carlo", "Tutti"} << 2;
        QTest::newRow("only the first own entry")
            << QByteArray("Login") << QByteArray("anna=pcA\r\nanna=pcZ") << QByteArrayList{"anna", "Tutti"} << 2;
        QTest::newRow("empty list") << QByteArray("Login") << QByteArray() << QByteArrayList{"Tutti"} << 0;
    }
    void listUpdate() {
        QFETCH(QByteArray, command);
        QFETCH(QByteArray, list);
        QFETCH(QByteArrayList, shown);
        QFETCH(int, count);
        ClientList clients;
        clients.setText("old=entry");
        const DispatchOutcome outcome = dispatchRecord(received(command, list), clients, "anna");
        QCOMPARE(outcome.kind, DispatchOutcome::ListUpdate);
        QCOMPARE(outcome.listBoxNames, shown);
        QCOMPARE(outcome.clientCount, count);
        QCOMPARE(clients.count(), count);
    }

    void listsInSeveralRecords() {
        QByteArrayList lines;
        for (int i = 0; i < 40; ++i)
            lines.append("utente" + QByteArray::number(i) + "=pc" + QByteArray::number(i));
        const QByteArray tooLong = QByteArray(200, 'n') + '=' + QByteArray(60, 'k');
        lines.insert(3, tooLong);
        QByteArrayList unfit;
        const QByteArrayList texts = packClientListLines(lines, TChatRecord::MaxText, &unfit);
        QCOMPARE(unfit, QByteArrayList{tooLong});
        QVERIFY(texts.size() > 1);
        QByteArray joinedText;
        for (const QByteArray& text : texts) {
            QVERIFY(text.size() <= TChatRecord::MaxText);
            QVERIFY(text.endsWith("\r\n"));
            joinedText += text;
        }
        QCOMPARE(joinedText.count('\n'), 40);
        QCOMPARE(packClientListLines({}, TChatRecord::MaxText), QByteArrayList{QByteArray()});

        // The parts are joined; until the last one the previous list stays in place.
        ClientList clients;
        clients.setText("old=entry");
        const int parts = int(texts.size());
        for (int i = 0; i < parts; ++i) {
            TChatRecord record = received("Login", texts[i]);
            record.setField(TChatRecord::SenderHost, clientListPartMarker({i + 1, parts}));
            const DispatchOutcome outcome = dispatchRecord(record, clients, "utente7");
            if (i + 1 < parts) {
                QCOMPARE(outcome.kind, DispatchOutcome::Nothing);
                QCOMPARE(clients.lines(), QByteArrayList{"old=entry"});
            } else {
                QCOMPARE(outcome.kind, DispatchOutcome::ListUpdate);
                QCOMPARE(outcome.clientCount, 40);
                QCOMPARE(outcome.listBoxNames.size(), 40); // own nick out, "Tutti" in
                QCOMPARE(clients.keyFor("utente39"), QByteArray("pc39"));
            }
        }

        // A run that breaks off (a part missing, or a new list starting) never half replaces the list.
        ClientListAssembler assembler;
        QVERIFY(!assembler.add("1/3", "a=1\r\n"));
        QVERIFY(!assembler.add("3/3", "c=3\r\n"));
        QVERIFY(!assembler.add("2/3", "b=2\r\n"));
        QVERIFY(!assembler.add("1/2", "a=1"));
        QCOMPARE(assembler.add("2/2", "b=2\r\n"), std::optional<QByteArray>("a=1\r\nb=2\r\n"));
        // Markers that are not ours mean a whole list, as a host name there always did.
        for (const QByteArray& marker : {QByteArray(), QByteArray("pc-host"), QByteArray("0/2"), QByteArray("3/2"),
                                         QByteArray("1/x"), QByteArray("1/1")})
            QCOMPARE(assembler.add(marker, "z=9"), std::optional<QByteArray>("z=9"));
    }

    void noticeFloodIsBounded() {
        NoticeQueue notices(3);
        for (int i = 0; i < 50; ++i)
            notices.add({ChatNotice::Information, QByteArray::number(i), {}, 0});
        QCOMPARE(notices.waiting(), 3);
        QCOMPARE(notices.leftOut(), 47);
        QCOMPARE(notices.takeNext()->text, QByteArray("0"));
        // Once some were left out, later ones are counted too, so the summary follows the waiting ones.
        notices.add({ChatNotice::Information, "late", {}, 0});
        QCOMPARE(notices.takeNext()->text, QByteArray("1"));
        QCOMPARE(notices.takeNext()->text, QByteArray("2"));
        const std::optional<ChatNotice> summary = notices.takeNext();
        QCOMPARE(summary->kind, ChatNotice::Summary);
        QCOMPARE(summary->leftOut, 48);
        QVERIFY(!notices.takeNext());
        notices.add({ChatNotice::Error, "again", {}, 0});
        QCOMPARE(notices.takeNext()->text, QByteArray("again"));
    }

    void messages() {
        ClientList clients;
        auto outcome = dispatchRecord(received("MESSAGE", "ciao\r\n"), clients, "anna");
        QCOMPARE(outcome.kind, DispatchOutcome::Line);
        QCOMPARE(outcome.text, QByteArray("bob: ciao\r\n"));
        QVERIFY(!outcome.askReceipt);

        outcome = dispatchRecord(received("MSGNOTIFY", "leggi"), clients, "anna");
        QCOMPARE(outcome.kind, DispatchOutcome::Line);
        QCOMPARE(outcome.text, QByteArray("bob: leggi"));
        QVERIFY(outcome.askReceipt);

        // A dialog names the sender's machine, not the nick.
        outcome = dispatchRecord(received("DIALOG", "apri", "pcB"), clients, "anna");
        QCOMPARE(outcome.kind, DispatchOutcome::Dialog);
        QCOMPARE(outcome.text, QByteArray("\"pcB\" Ti manda questo messaggio:\rapri"));

        outcome = dispatchRecord(received("Message", "x"), clients, "anna");
        QCOMPARE(outcome.kind, DispatchOutcome::UnknownCommand);
        QCOMPARE(outcome.text, QByteArray("Comando sconosciuto \"Message\" Contenente il messaggio:\rx"));
        QCOMPARE(clients.count(), 0);
    }

    void commandChoice_data() {
        QTest::addColumn<QByteArray>("chosen");
        QTest::addColumn<bool>("receipt");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("nothing chosen") << QByteArray() << false << QByteArray("MESSAGE") << true;
        QTest::newRow("dialog") << QByteArray("DIALOG") << false << QByteArray("DIALOG") << false;
        QTest::newRow("receipt wins over dialog") << QByteArray("DIALOG") << true << QByteArray("MSGNOTIFY") << false;
        QTest::newRow("localised item") << QByteArray("Messaggio") << false << QByteArray("MESSAGE") << true;
        QTest::newRow("case differs") << QByteArray("dialog") << false << QByteArray("MESSAGE") << true;
    }
    void commandChoice() {
        QFETCH(QByteArray, chosen);
        QFETCH(bool, receipt);
        QFETCH(QByteArray, command);
        QFETCH(bool, replaced);
        ComposerState state;
        state.commandText = chosen;
        state.requestReceipt = receipt;
        bool wasReplaced = false;
        QCOMPARE(chooseCommand(state, &wasReplaced), command);
        QCOMPARE(wasReplaced, replaced);
    }

    void singleRecipient() {
        ClientList clients;
        clients.setText("bob=pcB\r\nanna=pcA");
        IniFile groups(m_dir.filePath(QStringLiteral("none.ini")));
        ComposerState state;
        state.typedText = typedTextFromLines({"ciao"});
        QCOMPARE(state.typedText, QByteArray("ciao\r\n"));

        state.recipientText = "BOB";
        SendPlan plan = planSend(state, clients, groups, me);
        QCOMPARE(plan.steps.size(), 1);
        QCOMPARE(plan.steps[0].localLine, std::optional<QByteArray>("anna: ciao\r\n"));
        QCOMPARE(plan.steps[0].record.field(TChatRecord::Recipient), QByteArray("pcB"));
        QCOMPARE(plan.steps[0].record.field(TChatRecord::Command), QByteArray("MESSAGE"));
        QCOMPARE(plan.commandTextAfter, std::optional<QByteArray>("MESSAGE"));
        QVERIFY(plan.clearInput);

        // A name the list gives no routing key for is refused: an empty recipient would reach everybody.
        for (const QByteArray& unknown : {QByteArray("sconosciuto"), QByteArray("bob=pcB")}) {
            state.recipientText = unknown;
            plan = planSend(state, clients, groups, me);
            QVERIFY(plan.steps.isEmpty());
            QVERIFY(!plan.clearInput);
            QCOMPARE(plan.unreachable, QByteArrayList{unknown});
        }
        clients.setText("bob=\r\n=pcX");
        for (const QByteArray& keyless : {QByteArray("bob"), QByteArray("")}) {
            state.recipientText = keyless.isEmpty() ? QByteArray("Tutti") : keyless;
            plan = planSend(state, clients, groups, me);
            if (keyless.isEmpty()) // "Tutti" is everybody, by the empty key
                QCOMPARE(plan.steps.size(), 1);
            else
                QCOMPARE(plan.unreachable, QByteArrayList{keyless});
        }
        clients.setText("bob=pcB\r\nanna=pcA");

        // The record carries 255 characters; the local line keeps the whole text.
        state.recipientText = "bob";
        state.typedText = QByteArray(300, 'z');
        plan = planSend(state, clients, groups, me);
        QCOMPARE(plan.steps[0].record.field(TChatRecord::Text), QByteArray(255, 'z'));
        QCOMPARE(plan.steps[0].localLine->size(), 306);

        state.typedText.clear();
        QVERIFY(planSend(state, clients, groups, me).steps.isEmpty());
    }

    void groupSends() {
        const QString path = m_dir.filePath(QStringLiteral("gruppi.ini"));
        IniFile groups(path);
        groups.WriteString("Team", "0", "bob");
        groups.WriteString("Team", "count", "2");
        groups.WriteString("Team", "1", "carlo");
        groups.WriteString("Team", "2", "assente");
        groups.WriteString("Vuoto", "count", "-1");
        groups.WriteString("Rotto", "count", "due");
        groups.WriteString("Rotto", "0", "bob");
        ClientList clients;
        clients.setText("bob=pcB\r\ncarlo=pcC\r\nanna=pcA");

        ComposerState state;
        state.toGroup = true;
        state.commandText = "DIALOG";
        state.typedText = "riunione\r\n";
        state.groupText = "team";
        SendPlan plan = planSend(state, clients, groups, me);
        // The member nobody is connected as is left out and named; the others get their records.
        QCOMPARE(plan.steps.size(), 2);
        QCOMPARE(plan.unreachable, QByteArrayList{"assente"});
        const QByteArrayList keys{"pcB", "pcC"};
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(plan.steps[i].record.field(TChatRecord::Recipient), keys[i]);
            QCOMPARE(plan.steps[i].record.field(TChatRecord::Text), QByteArray("riunione\r\n"));
            QCOMPARE(plan.steps[i].record.field(TChatRecord::Command), QByteArray("DIALOG"));
            QCOMPARE(plan.steps[i].localLine, std::optional<QByteArray>("anna: riunione\r\n"));
        }
        QVERIFY(plan.clearInput);

        // Group sends leave the command list as it is, even when its choice was replaced.
        state.commandText = "";
        QVERIFY(!planSend(state, clients, groups, me).commandTextAfter);

        for (const QByteArray& everybody : {QByteArray("Tutti i Client"), QByteArray()}) {
            state.groupText = everybody;
            plan = planSend(state, clients, groups, me);
            QCOMPARE(plan.steps.size(), 1);
            QVERIFY(!plan.steps[0].localLine);
            QCOMPARE(plan.steps[0].record.field(TChatRecord::Recipient), QByteArray());
        }

        state.groupText = "Vuoto";
        plan = planSend(state, clients, groups, me);
        QVERIFY(plan.steps.isEmpty());
        QVERIFY(!plan.clearInput);

        for (const QByteArray& broken : {QByteArray("Rotto"), QByteArray("Inesistente")}) {
            state.groupText = broken;
            QVERIFY_THROWS_EXCEPTION(ConversionError, planSend(state, clients, groups, me));
            QVERIFY_THROWS_EXCEPTION(ConversionError, groupSelectorHint(broken, groups));
        }

        // The selector's hint names the members in index order, or says what the entry sends to.
        QCOMPARE(groupSelectorHint("team", groups), QStringLiteral("bob, carlo, assente"));
        QCOMPARE(groupSelectorHint("Vuoto", groups), QString());
        QCOMPARE(groupSelectorHint("Tutti i Client", groups), QStringLiteral("Invia il messaggio a tutti i client"));
        QCOMPARE(groupSelectorHint("", groups), QStringLiteral("Scegli il gruppo al quale inviare il messaggio"));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestChatProtocol)
#include "tst_chatprotocol.moc"
