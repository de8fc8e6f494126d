// The chat history: what the pane shows is kept across runs, found again whatever the case and accents,
// bounded by its retention, and its failures never stop the chat.
#include "ChatTestSupport.h"

#include "chat/HistoryExport.h"
#include "chat/HistoryStore.h"
#include "chat/ui/HistoryExportDialog.h"
#include "chat/ui/HistorySearchDialog.h"
#include "chat/ui/SettingsDialog.h"
#include "platform/Clock.h"

#include <QDateEdit>
#include <QFile>
#include <QLabel>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTreeWidget>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace vestrel::chat;
using namespace vestrel::chat::test;

namespace {

HistoryLine line(const QString& sender, const QString& body, const QDateTime& when = {}) {
    HistoryLine l;
    l.sender = sender;
    l.body = body;
    l.when = when.isValid() ? when : QDateTime(QDate(2026, 12, 1), QTime(9, 30));
    return l;
}

QStringList bodies(const QList<HistoryLine>& lines) {
    QStringList result;
    for (const HistoryLine& l : lines)
        result.append(l.body);
    return result;
}

} // namespace

class TestChatHistory : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        useChatTestFolders(*m_dir);
    }

    void linesKeptAcrossRestartInOrder() {
        QCOMPARE(historyFilePath(), m_dir->filePath(u"data/vestrel/chat-history.sqlite"_s));
        HistoryLine privateLine = line(u"bob"_s, u"a te sola"_s);
        privateLine.recipient = u"anna"_s;
        privateLine.isPrivate = true;
        const QList<HistoryLine> kept{line(u"anna"_s, u"primo"_s), privateLine, line(u"carlo"_s, u"terzo"_s)};
        {
            HistoryStore store({});
            QCOMPARE(store.open(), HistoryStore::OpenResult::Opened);
            for (const HistoryLine& l : kept)
                store.keep(l);
        } // the store writes what is queued before it goes
        struct stat status {};
        QCOMPARE(::stat(QFile::encodeName(historyFilePath()).constData(), &status), 0);
        QCOMPARE(status.st_mode & 0777, 0600u);
        HistoryStore again({});
        QCOMPARE(again.open(), HistoryStore::OpenResult::Opened);
        QList<HistoryLine> read = again.lastLines(HistoryStore::LinesShownAtStart);
        QCOMPARE(read.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QVERIFY(read[i].id > 0);
            read[i].id = 0;
            QCOMPARE(read[i], kept[i]);
        }
        QCOMPARE(bodies(again.lastLines(2)), (QStringList{u"a te sola"_s, u"terzo"_s}));
    }

    void searchIgnoresCaseAndAccents_data() {
        QTest::addColumn<QString>("words");
        QTest::addColumn<QStringList>("found");
        const QString supplier = u"Il numero del FORNITORE \u00E8 0444 a Citt\u00E0"_s;
        const QString why = u"perch\u00E9 no"_s;
        QTest::newRow("other case") << u"fornitore"_s << QStringList{supplier};
        QTest::newRow("accent typed, none stored") << u"perche"_s << QStringList{why};
        QTest::newRow("accent stored, none typed") << u"citta"_s << QStringList{supplier};
        QTest::newRow("capital with accent") << u"CITT\u00C0"_s << QStringList{supplier};
        QTest::newRow("start of a word") << u"forn"_s << QStringList{supplier};
        QTest::newRow("every word needed") << u"numero fornitore"_s << QStringList{supplier};
        QTest::newRow("one word missing") << u"numero cliente"_s << QStringList{};
        QTest::newRow("sender's nick") << u"BOB"_s << QStringList{why};
        QTest::newRow("quotes and operators are words") << u"\"fornitore OR NEAR("_s << QStringList{};
        QTest::newRow("punctuation only") << u"- \" *"_s << QStringList{};
        QTest::newRow("newest first") << u"n"_s << QStringList{why, supplier};
    }
    void searchIgnoresCaseAndAccents() {
        QFETCH(QString, words);
        QFETCH(QStringList, found);
        HistoryStore store({});
        QCOMPARE(store.open(), HistoryStore::OpenResult::Opened);
        store.keep(line(u"anna"_s, u"Il numero del FORNITORE \u00E8 0444 a Citt\u00E0"_s));
        store.keep(line(u"bob"_s, u"perch\u00E9 no"_s));
        store.waitUntilWritten();
        QCOMPARE(bodies(store.search(words)), found);
    }

    void retentionRemovesWhatIsOlder() {
        const QDateTime now(QDate(2026, 12, 9), QTime(8, 0));
        vestrel::FixedClock clock(now);
        {
            HistoryStore store({{}, 365, &clock});
            QCOMPARE(store.open(), HistoryStore::OpenResult::Opened);
            store.keep(line(u"anna"_s, u"troppo vecchio"_s, now.addDays(-366)));
            store.keep(line(u"anna"_s, u"ancora valido"_s, now.addDays(-364)));
            store.keep(line(u"anna"_s, u"di oggi"_s)); // stamped by the clock below
        }
        {
            HistoryStore store({{}, 365, &clock});
            QCOMPARE(store.open(), HistoryStore::OpenResult::Opened);
            store.waitUntilWritten();
            QCOMPARE(bodies(store.lastLines(10)), (QStringList{u"ancora valido"_s, u"di oggi"_s}));
            QCOMPARE(store.search(u"vecchio"_s).size(), 0); // gone from the index as well
        }
        {
            HistoryStore store({{}, 30, &clock});
            QCOMPARE(store.open(), HistoryStore::OpenResult::Opened);
            store.waitUntilWritten();
            QCOMPARE(bodies(store.lastLines(10)), QStringList{u"di oggi"_s});
        }
        // 0 keeps nothing: the file goes and nothing new is written.
        HistoryStore none({{}, 0, &clock});
        QCOMPARE(none.open(), HistoryStore::OpenResult::Off);
        none.keep(line(u"anna"_s, u"non resta"_s));
        none.waitUntilWritten();
        QVERIFY(!QFile::exists(historyFilePath()));
    }

    void clearingEmptiesLinesAndIndex() {
        HistoryStore store({});
        QCOMPARE(store.open(), HistoryStore::OpenResult::Opened);
        store.keep(line(u"anna"_s, u"segreto"_s));
        store.waitUntilWritten();
        store.keep(line(u"anna"_s, u"ancora in coda"_s));
        store.clearAll();
        store.keep(line(u"anna"_s, u"dopo"_s));
        store.waitUntilWritten();
        QCOMPARE(bodies(store.lastLines(10)), QStringList{u"dopo"_s});
        QVERIFY(store.search(u"segreto"_s).isEmpty());
        QCOMPARE(bodies(store.search(u"dopo"_s)), QStringList{u"dopo"_s});
    }

    void contextRangeAndExport() {
        HistoryStore store({});
        QCOMPARE(store.open(), HistoryStore::OpenResult::Opened);
        for (int day = 1; day <= 9; ++day)
            store.keep(line(u"anna"_s, u"giorno %1"_s.arg(day), QDateTime(QDate(2026, 12, day), QTime(23, 59))));
        store.waitUntilWritten();
        const QList<HistoryLine> found = store.search(u"giorno"_s);
        QCOMPARE(found.size(), 9);
        const QList<HistoryLine> around = store.context(found[4].id, 2); // "giorno 5"
        QCOMPARE(bodies(around),
                 (QStringList{u"giorno 3"_s, u"giorno 4"_s, u"giorno 5"_s, u"giorno 6"_s, u"giorno 7"_s}));
        QCOMPARE(bodies(store.context(found.last().id, 2)), (QStringList{u"giorno 1"_s, u"giorno 2"_s, u"giorno 3"_s}));
        // Whole days at both ends: the last minute of the 4th and of the 6th belong in.
        const QList<HistoryLine> range = store.between(QDate(2026, 12, 4), QDate(2026, 12, 6));
        QCOMPARE(bodies(range), (QStringList{u"giorno 4"_s, u"giorno 5"_s, u"giorno 6"_s}));

        HistoryLine tricky = line(u"bob"_s, u"dice \"s\u00EC\"; poi\r\nva"_s);
        tricky.recipient = u"anna"_s;
        tricky.isPrivate = true;
        QCOMPARE(
            formatHistory({tricky}, HistoryExportFormat::Csv),
            QByteArray("\"Data\";\"Ora\";\"Mittente\";\"Destinatario\";\"Privato\";\"Messaggio\"\r\n"
                       "\"01/12/2026\";\"09:30:00\";\"bob\";\"anna\";\"s\xEC\";\"dice \"\"s\xEC\"\"; poi\r\nva\"\r\n"));
        QCOMPARE(formatHistory({tricky}, HistoryExportFormat::PlainText),
                 QByteArray("01/12/2026 09:30:00 bob: dice \"s\xEC\"; poi\r\nva\r\n"));
        QString error;
        QVERIFY(!writeHistoryExport(m_dir->filePath(u"missing/folder/out.txt"_s), range, HistoryExportFormat::PlainText,
                                    &error));
        QVERIFY(!error.isEmpty());
    }

    void fullDiskStopsWritingWithOneWarning() {
        HistoryStore::Options options;
        options.maxPages = 40; // about 160 KiB: the "disk" fills up within the lines below
        HistoryStore store(options);
        QSignalSpy failed(&store, &HistoryStore::writeFailed);
        QCOMPARE(store.open(), HistoryStore::OpenResult::Opened);
        const QString big(2000, u'x');
        for (int batch = 0; batch < 10; ++batch) {
            for (int i = 0; i < 50; ++i)
                store.keep(line(u"anna"_s, big + QString::number(i)));
            store.waitUntilWritten();
        }
        QCOMPARE(failed.size(), 1);
        store.keep(line(u"anna"_s, u"dopo il guasto"_s)); // ignored without a second warning
        store.waitUntilWritten();
        QCOMPARE(failed.size(), 1);
    }

    // A window that starts with the settings `peer` holds, through the start-up steps.
    static void startUp(Peer& peer) {
        peer.config.Mostra = "0";
        UserConfigStore::save(peer.config);
        peer.window->FormCreate();
    }

    void windowShowsEarlierLinesAboveTheSeparator() {
        FakeChatServer server;
        {
            Peer anna("anna", "pcA", server.port());
            startUp(anna);
            anna.window->Connect();
            QTRY_COMPARE(server.connections(), 1);
            server.sendList(0, "anna=pcA\r\nbob=pcB\r\n");
            server.send(0, makeChatRecord(ChatCommand::Message, {"bob", "h", "pcB"}, "ciao a tutti").toByteArray());
            QTRY_COMPARE(anna.paneCount(u"bob: ciao a tutti"_s), 1);
            anna.type(u"ciao bob"_s, u"bob"_s);
            QCOMPARE(anna.paneCount(u"anna: ciao bob"_s), 1);
            anna.window->Disconnect(anna.config.Nick);
        }
        Peer again("anna", "pcA", server.port());
        startUp(again);
        // The typed text ends with its line break, in the pane as in the history.
        QCOMPARE(again.pane(), (QStringList{u"bob: ciao a tutti"_s, u"anna: ciao bob"_s, QString(),
                                            u"----- messaggi delle sessioni precedenti -----"_s}));
        QVERIFY(again.boxes.shown.isEmpty());
        const QList<HistoryLine> kept = again.window->history()->lastLines(2);
        QCOMPARE(kept[0].recipient, QString()); // to everybody
        QVERIFY(!kept[0].isPrivate && !kept[0].outgoing);
        QCOMPARE(kept[1].recipient, u"bob"_s);
        QVERIFY(kept[1].isPrivate && kept[1].outgoing);

        // Ctrl+F finds the line whatever the case; choosing it shows it among its neighbours.
        again.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(again.window.get()));
        QTest::keyClick(again.window.get(), Qt::Key_F, Qt::ControlModifier);
        HistorySearchDialog* search = again.window->historySearch();
        QVERIFY(search && search->isVisible());
        QTest::keyClicks(search->SearchEdit, u"CIÀO"_s);
        QTest::keyClick(search->SearchEdit, Qt::Key_Return);
        QCOMPARE(search->Results->topLevelItemCount(), 2); // newest first
        QCOMPARE(search->Results->topLevelItem(0)->text(2), u"anna"_s);
        search->Results->setCurrentItem(search->Results->topLevelItem(0));
        QVERIFY(search->Context->toPlainText().contains(u"bob: ciao a tutti"_s));
        QCOMPARE(search->Context->textCursor().block().text().right(14), u"anna: ciao bob"_s);
    }

    void damagedFileMovedAsideAndTheChatGoesOn() {
        QDir().mkpath(QFileInfo(historyFilePath()).absolutePath());
        QFile damaged(historyFilePath());
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write(QByteArray(8192, 'z'));
        damaged.close();

        FakeChatServer server;
        Peer anna("anna", "pcA", server.port());
        startUp(anna);
        QCOMPARE(anna.boxes.shown.size(), 1);
        QCOMPARE(anna.boxes.shown[0].kind, u"warning"_s);
        const QString movedTo = anna.window->history()->movedTo();
        QVERIFY(anna.boxes.shown[0].text.contains(movedTo));
        QVERIFY(movedTo.contains(u".danneggiato-"_s));
        QFile kept(movedTo);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray(8192, 'z')); // nothing of it is lost

        anna.window->Connect();
        QTRY_COMPARE(server.connections(), 1);
        server.send(0, makeChatRecord(ChatCommand::Message, {"bob", "h", "pcB"}, "ancora qui").toByteArray());
        QTRY_COMPARE(anna.paneCount(u"bob: ancora qui"_s), 1);
        anna.window->history()->waitUntilWritten();
        QCOMPARE(bodies(anna.window->history()->search(u"ancora"_s)), QStringList{u"ancora qui"_s});
        QCOMPARE(anna.boxes.shown.size(), 1);
    }

    void unwritableFolderOneWarningAndTheChatGoesOn() {
        // A file where the history's folder should be: no user, not even root, can write there.
        QDir().mkpath(m_dir->filePath(u"data"_s));
        QFile blocker(m_dir->filePath(u"data/vestrel"_s));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();

        FakeChatServer server;
        Peer anna("anna", "pcA", server.port());
        startUp(anna);
        QCOMPARE(anna.boxes.shown.size(), 1);
        QCOMPARE(anna.boxes.shown[0].kind, u"warning"_s);
        anna.window->Connect();
        QTRY_COMPARE(server.connections(), 1);
        for (int i = 0; i < 3; ++i)
            server.send(0, makeChatRecord(ChatCommand::Message, {"bob", "h", "pcB"}, "riga").toByteArray());
        QTRY_COMPARE(anna.paneCount(u"bob: riga"_s), 3);
        QCOMPARE(anna.boxes.shown.size(), 1);
    }

    void readOnlyFolderOneWarningAndTheChatGoesOn() {
        const QString folder = QFileInfo(historyFilePath()).absolutePath();
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        const auto restore =
            qScopeGuard([&] { QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); });
        if (QFileInfo(folder).isWritable())
            QSKIP("this user writes into read-only folders (root)");
        FakeChatServer server;
        Peer anna("anna", "pcA", server.port());
        startUp(anna);
        QCOMPARE(anna.boxes.shown.size(), 1);
        anna.window->Connect();
        QTRY_COMPARE(server.connections(), 1);
        server.send(0, makeChatRecord(ChatCommand::Message, {"bob", "h", "pcB"}, "riga").toByteArray());
        QTRY_COMPARE(anna.paneCount(u"bob: riga"_s), 1);
        QCOMPARE(anna.boxes.shown.size(), 1);
    }

    void retentionSettingTurnsHistoryOff() {
        QCOMPARE(HistoryRetention::load(), HistoryRetention::DefaultDays);
        QVERIFY(HistoryRetention::save(0));
        QCOMPARE(HistoryRetention::load(), 0);
        FakeChatServer server;
        Peer anna("anna", "pcA", server.port());
        startUp(anna);
        anna.window->Connect();
        QTRY_COMPARE(server.connections(), 1);
        server.send(0, makeChatRecord(ChatCommand::Message, {"bob", "h", "pcB"}, "non resta").toByteArray());
        QTRY_COMPARE(anna.paneCount(u"bob: non resta"_s), 1);
        anna.window->history()->waitUntilWritten();
        QVERIFY(!QFile::exists(historyFilePath()));
        QVERIFY(anna.boxes.shown.isEmpty());
    }

    void settingsDialogEditsTheRetention() {
        QVERIFY(HistoryRetention::save(90));
        TUserConfig config;
        TForm1 dialog(config, {});
        dialog.show();
        QCOMPARE(dialog.HistoryDays->value(), 90);
        QCOMPARE(dialog.HistoryDays->suffix(), u" giorni"_s);
        dialog.HistoryDays->setValue(0);
        dialog.accept();
        QCOMPARE(HistoryRetention::load(), 0);
    }

    void exportDialogWritesTheChosenDays() {
        HistoryStore store({});
        QCOMPARE(store.open(), HistoryStore::OpenResult::Opened);
        store.keep(line(u"anna"_s, u"fuori"_s, QDateTime(QDate(2026, 11, 30), QTime(18, 0))));
        store.keep(line(u"bob"_s, u"dentro"_s, QDateTime(QDate(2026, 12, 1), QTime(8, 5))));
        RecordingBoxes boxes;
        const QString path = m_dir->filePath(u"export.csv"_s);
        bool askedCsv = false;
        HistoryExportDialog dialog(store, boxes, [&](QWidget*, bool csv) {
            askedCsv = csv;
            return path;
        });
        dialog.From->setDate(QDate(2026, 12, 2)); // the ends given the wrong way round still make a range
        dialog.To->setDate(QDate(2026, 12, 1));
        dialog.Csv->setChecked(true);
        dialog.accept(); // the lines still queued are written first
        QVERIFY(askedCsv);
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(written.readAll().split('\n').size(), 3); // header, one line, the end
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown[0].kind, u"information"_s);
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_MAIN(TestChatHistory)
#include "tst_chathistory.moc"
