// The reminders editor's rules, driven without its dialog: posting and committing, lock conflicts, two
// editors on one row, text the database cannot hold, and a connection lost and restored.

#include "fb/Query.h"
#include "platform/Registry.h"
#include "reminders/DMMain.h"
#include "reminders/RicorrEditor.h"
#include "tests/fb/SchemaDatabase.h"
#include "tests/reminders/LoopbackProxy.h"
#include "tests/reminders/VERicorrTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace vestrel;
using namespace vestrel::reminders;
using namespace vestrel::testing;
using namespace Qt::StringLiterals;

namespace {

class NoPopups : public ReminderPopups {
public:
    bool ShowPopUp(qint32, const QString&, const QString&) override { return true; }
    int PopupCount() const override { return 0; }
};

// One workstation's editor: its own data module on its own connection, RICORRENZE open.
struct Workstation {
    FixedClock clock{QDate(2024, 3, 15)};
    NoPopups popups;
    TDMCltRicorr dm{clock, popups};
    std::unique_ptr<TRicorrEditor> editor;

    Workstation(const QByteArray& database, const QByteArrayList& params) {
        dm.IBDatabaseConfig.setDatabaseName(database);
        dm.IBDatabaseConfig.setParams(params);
        dm.IBDatabaseConfig.Open();
        dm.IBRicorr.Open();
        editor = std::make_unique<TRicorrEditor>(dm.IBRicorr, dm.IBDatabaseConfig);
    }
    bool moveTo(qint64 id) { return editor->MoveTo(*dm.IBRicorr.Locate("ID", QByteArray::number(id))); }
    QByteArray field(const char* name) const { return dm.IBRicorr.FieldByName(name).asText(); }
};

const QByteArrayList ServerUser{"user_name=SYSDBA", "password=tavernfog"};

} // namespace

class TestRicorrEditor : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void newRowIsStoredAtOnceAndDiscardRollsBack();
    void lockConflictKeepsTheEdit();
    void secondEditorSeesBothVersions_data();
    void secondEditorSeesBothVersions();
    void lockConflictThenRetryDoesNotPutBackOldValues();
    void twoEditorsChangingOnlyTheMessageConflict();
    void textOutsideWin1252IsRefusedByName();
    void lostConnectionKeepsEveryEdit();
    void dismissalIsRetriedAtTheNextTick();

private:
    QTemporaryDir m_dir;
    QByteArray m_path;
};

void TestRicorrEditor::initTestCase() {
    QVERIFY(m_dir.isValid());
    useTestFolders(m_dir);
    m_path = QFile::encodeName(m_dir.filePath(u"office.fdb"_s));
    createSchemaDatabase(m_path);
    fb::Attachment att = fb::Attachment::attach(m_path, SchemaUser);
    fb::Transaction tr(att);
    att.execute(tr, "set generator RICORR_ID_GEN to 100");
    tr.commit();
}

void TestRicorrEditor::init() {
    storeReminders(m_path, SchemaUser, {{1, 1, {}, "Uno"}, {2, 1, {}, "Due"}});
}

void TestRicorrEditor::newRowIsStoredAtOnceAndDiscardRollsBack() {
    Workstation ws(m_path, SchemaUser);
    fb::DataSet& ricorr = ws.dm.IBRicorr;
    QVERIFY(!ws.editor->HasUnsavedEdits());
    QVERIFY(ws.editor->Append());
    QCOMPARE(ricorr.state(), fb::DataSet::State::Browse); // stored at once
    QCOMPARE(ws.field("DESCRIZIONE"), QByteArray("Memo"));
    QCOMPARE(ricorr.FieldByName("CRITERIO").asInteger(), 1);
    QCOMPARE(ws.field("FINACTIVE"), QByteArray("0"));
    QVERIFY(ricorr.FieldByName("ID").asInteger() > 100); // from the generator
    QVERIFY(ws.editor->HasUnsavedEdits());

    QVERIFY(ws.moveTo(1));
    QVERIFY(ws.editor->Delete());
    QCOMPARE(ricorr.RecordCount(), 2);
    QVERIFY(ws.editor->SetText("DESCRIZIONE", u"Cambiato"_s));
    QVERIFY(ws.editor->Editing());
    QVERIFY(ws.editor->Discard());
    QVERIFY(!ws.editor->Editing());

    // Everything posted while the editor was open is rolled back.
    QCOMPARE(committedField(m_path, SchemaUser, 1, "DESCRIZIONE"), QByteArray("Uno"));
    fb::Attachment att = fb::Attachment::attach(m_path, SchemaUser);
    fb::Transaction tr(att);
    fb::Query count(att, tr, "select count(*) from RICORRENZE");
    count.Open();
    QCOMPARE(count.Current().at(0).asInteger(), 2);
}

void TestRicorrEditor::lockConflictKeepsTheEdit() {
    fb::Attachment other = fb::Attachment::attach(m_path, SchemaUser);
    auto otherTr = std::make_unique<fb::Transaction>(other);
    other.execute(*otherTr, "update RICORRENZE set CRITERIO = 2 where ID = 1");

    Workstation ws(m_path, SchemaUser);
    QVERIFY(ws.moveTo(1));
    QVERIFY(ws.editor->SetText("DESCRIZIONE", u"Mio"_s));
    QVERIFY(!ws.editor->Save());
    QCOMPARE(ws.editor->LastFailure().kind, EditorFailure::Kind::LockConflict);
    QVERIFY(ws.editor->LastFailure().text.contains(u"altra postazione"_s));
    QCOMPARE(ws.field("DESCRIZIONE"), QByteArray("Mio")); // nothing typed is lost
    otherTr->commit();
    // The other change touched another column: saving writes only this editor's, over it... but the
    // row no longer holds what was read, so the user is asked first.
    QVERIFY(!ws.editor->Save());
    QCOMPARE(ws.editor->LastFailure().kind, EditorFailure::Kind::RowChanged);
    QVERIFY(ws.editor->ResolveConflict(true));
    QVERIFY(ws.editor->Save());
    QCOMPARE(committedField(m_path, SchemaUser, 1, "DESCRIZIONE"), QByteArray("Mio"));
    QCOMPARE(committedField(m_path, SchemaUser, 1, "CRITERIO"), QByteArray("2")); // the other's change stays
}

void TestRicorrEditor::secondEditorSeesBothVersions_data() {
    QTest::addColumn<bool>("keepMine");
    QTest::newRow("keep mine") << true;
    QTest::newRow("take theirs") << false;
}

void TestRicorrEditor::secondEditorSeesBothVersions() {
    QFETCH(bool, keepMine);
    Workstation a(m_path, SchemaUser);
    Workstation b(m_path, SchemaUser);
    QVERIFY(a.moveTo(1) && b.moveTo(1));

    // A renames the reminder and switches it off, and saves.
    QVERIFY(a.editor->SetText("DESCRIZIONE", u"Di A"_s));
    QVERIFY(a.editor->SetValue("FINACTIVE", fb::Value::fromText("1")));
    QVERIFY(a.editor->Save());
    // B, who read it before, renames it too and changes its message.
    QVERIFY(b.editor->SetText("DESCRIZIONE", u"Di B"_s));
    QVERIFY(b.editor->SetText("MESSAGGIO", u"Nuovo messaggio"_s));
    QVERIFY(!b.editor->Save());
    QCOMPARE(b.editor->LastFailure().kind, EditorFailure::Kind::RowChanged);
    QVERIFY(b.editor->Conflict());
    QCOMPARE(b.editor->Conflict()->id, 1);
    QStringList shown;
    for (const RowConflict::Column& column : b.editor->Conflict()->columns)
        shown << QString::fromLatin1(column.name + '=' + column.theirs + '/' + column.mine);
    QVERIFY2(shown.contains(u"DESCRIZIONE=Di A/Di B"_s), qPrintable(shown.join(u", "_s)));
    QVERIFY2(shown.contains(u"FINACTIVE=1/0"_s), qPrintable(shown.join(u", "_s)));
    QCOMPARE(committedField(m_path, SchemaUser, 1, "DESCRIZIONE"), QByteArray("Di A")); // nothing written yet

    QVERIFY(b.editor->ResolveConflict(keepMine));
    QVERIFY(b.editor->Save());
    // Either way A's other change (switched off) stays: B wrote only what B changed.
    QCOMPARE(committedField(m_path, SchemaUser, 1, "FINACTIVE"), QByteArray("1"));
    QCOMPARE(committedField(m_path, SchemaUser, 1, "DESCRIZIONE"), keepMine ? QByteArray("Di B") : QByteArray("Di A"));
    QCOMPARE(committedField(m_path, SchemaUser, 1, "MESSAGGIO"),
             keepMine ? QByteArray("Nuovo messaggio") : QByteArray("Messaggio"));
    QCOMPARE(b.field("DESCRIZIONE"), keepMine ? QByteArray("Di B") : QByteArray("Di A"));
    QCOMPARE(b.field("FINACTIVE"), QByteArray("1"));
}

void TestRicorrEditor::lockConflictThenRetryDoesNotPutBackOldValues() {
    // B posts while A's change is not committed yet, gets the lock conflict, and retries after A saved.
    Workstation a(m_path, SchemaUser);
    Workstation b(m_path, SchemaUser);
    QVERIFY(a.moveTo(2) && b.moveTo(2));
    QVERIFY(a.editor->SetCriterion(3)); // posted, not committed
    QVERIFY(b.editor->SetText("DESCRIZIONE", u"Nome di B"_s));
    QVERIFY(!b.editor->Post());
    QCOMPARE(b.editor->LastFailure().kind, EditorFailure::Kind::LockConflict);
    QVERIFY(a.editor->Save());
    QVERIFY(!b.editor->Save());
    QCOMPARE(b.editor->LastFailure().kind, EditorFailure::Kind::RowChanged);
    QVERIFY(b.editor->ResolveConflict(true));
    QVERIFY(b.editor->Save());
    QCOMPARE(committedField(m_path, SchemaUser, 2, "DESCRIZIONE"), QByteArray("Nome di B"));
    QCOMPARE(committedField(m_path, SchemaUser, 2, "CRITERIO"), QByteArray("3")); // A's change not undone
}

void TestRicorrEditor::twoEditorsChangingOnlyTheMessageConflict() {
    Workstation a(m_path, SchemaUser);
    Workstation b(m_path, SchemaUser);
    QVERIFY(a.moveTo(1) && b.moveTo(1));
    // Both show the stored message, as the dialog does, then type a new one.
    QCOMPARE(a.field("MESSAGGIO"), QByteArray("Messaggio"));
    QCOMPARE(b.field("MESSAGGIO"), QByteArray("Messaggio"));
    QVERIFY(a.editor->SetText("MESSAGGIO", u"Messaggio di A"_s));
    QVERIFY(a.editor->Save());
    QVERIFY(b.editor->SetText("MESSAGGIO", u"Messaggio di B"_s));
    QVERIFY(!b.editor->Save());
    QCOMPARE(b.editor->LastFailure().kind, EditorFailure::Kind::RowChanged);
    QCOMPARE(committedField(m_path, SchemaUser, 1, "MESSAGGIO"), QByteArray("Messaggio di A"));
    QVERIFY(b.editor->ResolveConflict(true));
    QVERIFY(b.editor->Save());
    QCOMPARE(committedField(m_path, SchemaUser, 1, "MESSAGGIO"), QByteArray("Messaggio di B"));
}

void TestRicorrEditor::textOutsideWin1252IsRefusedByName() {
    Workstation ws(m_path, SchemaUser);
    QVERIFY(ws.moveTo(1));
    QVERIFY(!ws.editor->SetText("DESCRIZIONE", u"Vai \u2192 \u6F22 \U0001F600 è"_s));
    QCOMPARE(ws.editor->LastFailure().kind, EditorFailure::Kind::Refused);
    for (const QString& c : {u"\u2192"_s, u"\u6F22"_s, u"\U0001F600"_s})
        QVERIFY2(ws.editor->LastFailure().text.contains(c), qPrintable(ws.editor->LastFailure().text));
    QVERIFY(!ws.editor->LastFailure().text.contains(u"è"_s)); // cp1252 holds it
    QCOMPARE(ws.field("DESCRIZIONE"), QByteArray("Uno"));     // the buffer keeps its last good value
    QVERIFY(ws.editor->HasUnsavedEdits());
    // Neither saving nor moving away stores anything while the text is refused.
    QVERIFY(!ws.editor->Save());
    QCOMPARE(ws.editor->LastFailure().kind, EditorFailure::Kind::Refused);
    QVERIFY(!ws.editor->MoveTo(1));
    QCOMPARE(committedField(m_path, SchemaUser, 1, "DESCRIZIONE"), QByteArray("Uno"));
    // Mended, it saves as typed.
    QVERIFY(ws.editor->SetText("DESCRIZIONE", u"Vai -> è"_s));
    QVERIFY(ws.editor->Save());
    QCOMPARE(committedField(m_path, SchemaUser, 1, "DESCRIZIONE"), QByteArray("Vai -> \xe8"));
}

void TestRicorrEditor::lostConnectionKeepsEveryEdit() {
    // A database on the server, reached through a proxy this test can cut.
    const QByteArray file = "/tmp/vestrel-editor-" + QByteArray::number(QCoreApplication::applicationPid()) + ".fdb";
    QFile::remove(QFile::decodeName(file));
    try {
        QFile schema(qEnvironmentVariable("VESTREL_TEST_DATA") + u"/schema.sql"_s);
        QVERIFY(schema.open(QIODevice::ReadOnly));
        fb::createDatabaseFromScript("127.0.0.1:" + file, ServerUser, schema.readAll());
    } catch (const fb::FbError& e) {
        QSKIP(qPrintable(u"no Firebird server on 127.0.0.1:3050: "_s + QString::fromLocal8Bit(e.what())));
    }
    const auto cleanup = qScopeGuard([&] { QFile::remove(QFile::decodeName(file)); });
    const QByteArray onServer = "127.0.0.1:" + file;
    storeReminders(onServer, ServerUser, {{1, 1, {}, "Uno"}, {2, 2, "0", "Due"}, {3, 1, {}, "Tre"}});
    {
        fb::Attachment att = fb::Attachment::attach(onServer, ServerUser);
        fb::Transaction tr(att);
        att.execute(tr, "set generator RICORR_ID_GEN to 100");
        tr.commit();
    }

    LoopbackProxy proxy(3050);
    const QByteArray viaProxy = "127.0.0.1/" + QByteArray::number(proxy.port()) + ':' + file;
    Workstation ws(viaProxy, ServerUser);
    // Posted edits, a new row, a deletion, and an edit still in the buffer.
    QVERIFY(ws.moveTo(2));
    QVERIFY(ws.editor->SetCriterion(3));
    QVERIFY(ws.editor->Append());
    const qint64 added = ws.dm.IBRicorr.FieldByName("ID").asInt64();
    QVERIFY(ws.moveTo(3));
    QVERIFY(ws.editor->Delete());
    QVERIFY(ws.moveTo(1));
    QVERIFY(ws.editor->SetText("DESCRIZIONE", u"Uno bis"_s));

    proxy.Cut();
    QVERIFY(!ws.editor->Save());
    QCOMPARE(ws.editor->LastFailure().kind, EditorFailure::Kind::ConnectionLost);
    QVERIFY(ws.editor->LastFailure().text.contains(u"non sono state salvate"_s));
    QVERIFY(!ws.editor->LastFailure().details.isEmpty()); // the server's own words
    QVERIFY(ws.editor->ConnectionLost());
    QCOMPARE(ws.field("DESCRIZIONE"), QByteArray("Uno bis"));
    // Cancel would throw the edits away: the caller must ask first.
    QVERIFY(!ws.editor->Discard());
    QVERIFY(ws.editor->HasUnsavedEdits());
    // Still down: the retry fails the same way and keeps everything.
    QVERIFY(!ws.editor->Reconnect());
    QCOMPARE(ws.editor->LastFailure().kind, EditorFailure::Kind::ConnectionLost);

    proxy.Restore();
    // The server may take a moment to let the old connection's locks go.
    QTRY_VERIFY_WITH_TIMEOUT(ws.editor->Save(), 10000);
    QVERIFY(!ws.editor->ConnectionLost());
    QVERIFY(!ws.editor->HasUnsavedEdits());
    QCOMPARE(committedField(onServer, ServerUser, 1, "DESCRIZIONE"), QByteArray("Uno bis"));
    QCOMPARE(committedField(onServer, ServerUser, 2, "CRITERIO"), QByteArray("3"));
    QCOMPARE(committedField(onServer, ServerUser, added, "DESCRIZIONE"), QByteArray("Memo"));
    QCOMPARE(committedField(onServer, ServerUser, 3, "DESCRIZIONE"), QByteArray("<missing>"));
    ws.dm.IBDatabaseConfig.Close();
}

void TestRicorrEditor::dismissalIsRetriedAtTheNextTick() {
    FixedClock clock{QDate(2024, 3, 15)};
    NoPopups popups;
    TDMCltRicorr dm{clock, popups};
    QSignalSpy failed(&dm, &TDMCltRicorr::dismissalFailed);
    // The registry store cannot be written while a folder stands where its file goes.
    const QString hive = registryHiveFile(RegistryHive::CurrentUser);
    QFile::remove(hive);
    QVERIFY(QDir().mkpath(hive));
    QVERIFY(!dm.RecordDismissal(7));
    QCOMPARE(dm.PendingDismissals(), QList<qint32>{7});
    // Mended before the tick: written then, nothing shown.
    QVERIFY(QDir(hive).removeRecursively());
    dm.Timer1Timer();
    QCOMPARE(failed.size(), 0);
    QVERIFY(dm.PendingDismissals().isEmpty());
    // Failing at the tick too: reported once.
    QFile::remove(hive);
    QVERIFY(QDir().mkpath(hive));
    QVERIFY(!dm.RecordDismissal(8));
    dm.Timer1Timer();
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.at(0).at(0).toInt(), 8);
    dm.Timer1Timer();
    QCOMPARE(failed.size(), 1);
    QVERIFY(QDir(hive).removeRecursively());
}

QTEST_GUILESS_MAIN(TestRicorrEditor)
#include "test_ricorreditor.moc"
