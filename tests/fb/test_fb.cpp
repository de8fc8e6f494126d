#include "fb/Attachment.h"
#include "fb/Connection.h"
#include "fb/DataSet.h"
#include "fb/Query.h"
#include "fb/Script.h"
#include "fb/Statement.h"
#include "fb/Transaction.h"
#include "tests/fb/SchemaDatabase.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace vestrel;
using namespace vestrel::fb;

namespace {

const QByteArrayList& user = testing::SchemaUser;

} // namespace

class TestFb : public QObject {
    Q_OBJECT

private slots:
    void init();
    void textBlobAndNullsRoundTrip();
    void namedParametersAndGenerator();
    void transactionsCommitRetainingAndRollback();
    void nowaitReportsLockConflictAtOnce();
    void connectionRunsInWin1252Dialect1ReadCommitted();
    void textParametersAreBounded();
    void lazyBlobsAndTheDataSet();
    void errorsCarryFirebirdsMessage_data();
    void errorsCarryFirebirdsMessage();
    void connectionOwnsDefaultTransaction();
    void remoteNames_data();
    void remoteNames();
    void parameterTranslationLeavesQuotesAlone();
    void scriptSplitting();

private:
    QByteArray m_path;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestFb::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_path = QFile::encodeName(m_dir->filePath(QStringLiteral("test.fdb")));
    testing::createSchemaDatabase(m_path);
}

void TestFb::textBlobAndNullsRoundTrip() {
    Attachment att = Attachment::attach(m_path, user);
    Transaction tr(att);
    const QByteArray title = "Caff\xe8 e tÃ"; // cp1252 bytes, including 0xE8 ("è")
    const QByteArray message = QByteArray("riga uno\r\nriga due \xe8\n").repeated(3000); // > one blob segment
    Statement insert(att, tr,
                     "insert into RICORRENZE (ID, DESCRIZIONE, MESSAGGIO, CRITERIO, FINACTIVE, UTENTE) "
                     "values (:ID, :DESCRIZIONE, :MESSAGGIO, :CRITERIO, :FINACTIVE, :UTENTE)");
    insert.setParam("ID", Value::fromInteger(1));
    insert.setParam("DESCRIZIONE", Value::fromText(title));
    insert.setParam("MESSAGGIO", Value::fromText(message));
    insert.setParam("CRITERIO", Value::fromText(" 3 ")); // text converted by the engine
    insert.setParam("FINACTIVE", Value());
    insert.setParam("UTENTE", Value::fromText(""));
    insert.execute();
    tr.commit();

    Transaction reader(att);
    Query q(att, reader, "select * from RICORRENZE");
    q.Open();
    QVERIFY(!q.Eof());
    QCOMPARE(q.FieldByName("descrizione").asText(), title);
    QCOMPARE(q.FieldByName("MESSAGGIO").asText(), message);
    QCOMPARE(q.FieldByName("CRITERIO").asInteger(), 3);
    QVERIFY(q.FieldByName("FINACTIVE").isNull());
    QCOMPARE(q.FieldByName("FINACTIVE").asText(), QByteArray());
    QCOMPARE(q.FieldByName("FINACTIVE").asInteger(), 0);
    QVERIFY(q.FieldByName("POSTAZIONE").isNull());
    QVERIFY(!q.FieldByName("UTENTE").isNull());
    QVERIFY_THROWS_EXCEPTION(FbError, q.FieldByName("NOPE"));
    QVERIFY_THROWS_EXCEPTION(FbError, q.FieldByName("DESCRIZIONE").asInteger());
    q.Next();
    QVERIFY(q.Eof());
    QVERIFY_THROWS_EXCEPTION(FbError, q.Current());
    q.First();
    QCOMPARE(q.FieldByName("ID").asInteger(), 1);
}

void TestFb::namedParametersAndGenerator() {
    Attachment att = Attachment::attach(m_path, user);
    Transaction tr(att);
    QCOMPARE(att.generatorValue(tr, "RICORR_ID_GEN"), 1);
    QCOMPARE(att.generatorValue(tr, "RICORR_ID_GEN"), 2);
    QCOMPARE(att.generatorValue(tr, "RICORR_ID_GEN", 0), 2);
    QVERIFY_THROWS_EXCEPTION(FbError, att.generatorValue(tr, "X); drop table DB; --"));

    // One name used twice fills both places.
    Statement insert(att, tr, "insert into OPERATORI (SIGLA, DESCRIZIONE) values (:S, :S || '-' || ?)");
    QCOMPARE(insert.paramCount(), 3);
    insert.setParam("s", Value::fromText("AB"));
    insert.setParam(2, Value::fromText("x"));
    insert.execute();
    QVERIFY_THROWS_EXCEPTION(FbError, insert.setParam("MISSING", Value()));
    QVERIFY_THROWS_EXCEPTION(FbError, insert.setParam(3, Value()));

    Statement select(att, tr, "select DESCRIZIONE from OPERATORI where SIGLA = :SIGLA");
    select.setParam("SIGLA", Value::fromText("AB"));
    auto cursor = select.openCursor();
    Row row;
    QVERIFY(cursor->fetch(row));
    QCOMPARE(row.at(0).asText(), QByteArray("AB-x"));
    QVERIFY(!cursor->fetch(row));
}

void TestFb::transactionsCommitRetainingAndRollback() {
    Attachment att = Attachment::attach(m_path, user);
    Transaction tr(att);
    att.execute(tr, "insert into POSTAZIONI (SIGLA) values ('01')");
    att.execute(tr, "insert into POSTAZIONI (SIGLA) values ('02')");
    Statement select(att, tr, "select SIGLA from POSTAZIONI order by SIGLA");
    auto cursor = select.openCursor();
    Row row;
    QVERIFY(cursor->fetch(row));
    tr.commitRetaining(); // the cursor stays usable
    QVERIFY(tr.isActive());
    QVERIFY(cursor->fetch(row));
    QCOMPARE(row.at(0).asText(), QByteArray("02"));
    cursor.reset();
    att.execute(tr, "insert into POSTAZIONI (SIGLA) values ('03')");
    tr.rollback();
    QVERIFY(!tr.isActive());
    QVERIFY_THROWS_EXCEPTION(FbError, tr.commit());

    Transaction check(att);
    Query q(att, check, "select count(*) from POSTAZIONI");
    q.Open();
    QCOMPARE(q.Current().at(0).asInteger(), 2); // the retained commit kept two, the rollback dropped one
}

void TestFb::nowaitReportsLockConflictAtOnce() {
    Attachment att = Attachment::attach(m_path, user);
    {
        Transaction tr(att);
        att.execute(tr, "insert into POSTAZIONI (SIGLA, DESCRIZIONE) values ('01', 'a')");
        tr.commit();
    }
    // The holder of the row is another attachment, as another workstation would be.
    Attachment other = Attachment::attach(m_path, user);
    Transaction first(other);
    other.execute(first, "update POSTAZIONI set DESCRIZIONE = 'b'");

    Transaction second(att);
    // The engine records the transaction's lock time-out: 0 for one that does not wait.
    Query mode(att, second,
               "select MON$LOCK_TIMEOUT, MON$ISOLATION_MODE from MON$TRANSACTIONS "
               "where MON$TRANSACTION_ID = current_transaction");
    mode.Open();
    QCOMPARE(mode.Current().at(0).asInteger(), 0);
    QCOMPARE(mode.Current().at(1).asInteger(), 2); // read committed, record version
    QElapsedTimer clock;
    clock.start();
    try {
        att.execute(second, "update POSTAZIONI set DESCRIZIONE = 'c'");
        QFAIL("the second update should meet the first one's lock");
    } catch (const FbError& e) {
        QVERIFY2(QByteArray(e.what()).contains("update conflicts with concurrent update"), e.what());
        QVERIFY(e.isLockConflict());
    }
    QVERIFY2(clock.elapsed() < 2000, "the conflict must come at once, not after waiting");
}

void TestFb::connectionRunsInWin1252Dialect1ReadCommitted() {
    Connection connection;
    connection.setDatabaseName(m_path);
    connection.setParams(user);
    connection.Open();
    Query info(connection.attachment(), connection.transaction(),
               "select trim(c.RDB$CHARACTER_SET_NAME), d.MON$SQL_DIALECT, t.MON$ISOLATION_MODE, t.MON$LOCK_TIMEOUT "
               "from MON$ATTACHMENTS a join RDB$CHARACTER_SETS c on c.RDB$CHARACTER_SET_ID = a.MON$CHARACTER_SET_ID "
               "cross join MON$DATABASE d join MON$TRANSACTIONS t on t.MON$TRANSACTION_ID = current_transaction "
               "where a.MON$ATTACHMENT_ID = current_connection");
    info.Open();
    QCOMPARE(info.Current().at(0).asText(), QByteArray("WIN1252"));
    QCOMPARE(info.Current().at(1).asInteger(), 1);
    QCOMPARE(info.Current().at(2).asInteger(), 2);
    QCOMPARE(info.Current().at(3).asInteger(), 0);
    // The connection's own dialect: in dialect 1 an integer division gives a fraction.
    Query division(connection.attachment(), connection.transaction(), "select 1 / 2 from RDB$DATABASE");
    division.Open();
    QCOMPARE(division.Current().at(0).asDouble(), 0.5);
}

void TestFb::textParametersAreBounded() {
    Attachment att = Attachment::attach(m_path, user);
    Transaction tr(att);
    Statement insert(att, tr, "insert into POSTAZIONI (SIGLA, DESCRIZIONE) values (:SIGLA, :DESCRIZIONE)");
    insert.setParam("SIGLA", Value::fromText("01"));
    insert.setParam("DESCRIZIONE", Value::fromText(QByteArray(41, 'x'))); // the column holds 40
    QVERIFY_THROWS_EXCEPTION(FbError, insert.execute());
    // 65 536 + 5 bytes would wrap to 5 in a 16-bit length and store a cut text without a word.
    insert.setParam("DESCRIZIONE", Value::fromText(QByteArray(65541, 'y')));
    QVERIFY_THROWS_EXCEPTION(FbError, insert.execute());
    Statement compare(att, tr, "select count(*) from POSTAZIONI where DESCRIZIONE = ? || ''");
    compare.setParam(0, Value::fromText(QByteArray(32766, 'z')));
    QVERIFY_THROWS_EXCEPTION(FbError, compare.openCursor());
    insert.setParam("DESCRIZIONE", Value::fromText(QByteArray(40, 'x')));
    insert.execute();
}

void TestFb::lazyBlobsAndTheDataSet() {
    Connection connection;
    connection.setDatabaseName(m_path);
    connection.setParams(user);
    connection.Open();
    DataSet ricorr(connection);
    ricorr.SelectSQL = "select ID, DESCRIZIONE, MESSAGGIO from RICORRENZE";
    ricorr.InsertSQL = "insert into RICORRENZE (ID, DESCRIZIONE, MESSAGGIO) values (:ID, :DESCRIZIONE, :MESSAGGIO)";
    ricorr.ModifySQL = "update RICORRENZE set ID = :ID, DESCRIZIONE = :DESCRIZIONE, MESSAGGIO = :MESSAGGIO "
                       "where ID = :OLD_ID";
    ricorr.DeleteSQL = "delete from RICORRENZE where ID = :OLD_ID";
    ricorr.RefreshSQL = "select ID, DESCRIZIONE, MESSAGGIO from RICORRENZE where ID = :ID";
    ricorr.GeneratorField = "ID";
    ricorr.GeneratorName = "RICORR_ID_GEN";
    ricorr.Open();
    QCOMPARE(ricorr.RecordCount(), 0);
    QCOMPARE(ricorr.FieldNames(), (QByteArrayList{"ID", "DESCRIZIONE", "MESSAGGIO"}));

    ricorr.Append();
    ricorr.SetFieldValue("DESCRIZIONE", Value::fromText("Nuovo"));
    ricorr.SetFieldValue("MESSAGGIO", Value::fromText("Testo \xe8"));
    ricorr.Post();
    QCOMPARE(ricorr.FieldByName("ID").asInteger(), 1);
    QCOMPARE(ricorr.FieldByName("MESSAGGIO").asText(), QByteArray("Testo \xe8"));

    // A failed post keeps the edit: the key changed to one that is taken.
    ricorr.Append();
    ricorr.SetFieldValue("ID", Value::fromInteger(5));
    ricorr.Post();
    ricorr.Edit();
    ricorr.SetFieldValue("ID", Value::fromInteger(1));
    ricorr.SetFieldValue("DESCRIZIONE", Value::fromText("Doppio"));
    QVERIFY_THROWS_EXCEPTION(FbError, ricorr.Post());
    QCOMPARE(ricorr.state(), DataSet::State::Edit);
    QCOMPARE(ricorr.FieldByName("DESCRIZIONE").asText(), QByteArray("Doppio"));
    ricorr.SetFieldValue("ID", Value::fromInteger(6));
    ricorr.Post();
    QCOMPARE(ricorr.FieldByName("ID").asInteger(), 6);

    ricorr.First();
    ricorr.Delete();
    QCOMPARE(ricorr.RecordCount(), 1);
    QCOMPARE(ricorr.FieldByName("ID").asInteger(), 6);
    connection.Commit();
    // A blob value outlives the query that fetched it: read later, it reads as written.
    Transaction tr(connection.attachment());
    Statement insert(connection.attachment(), tr, "update RICORRENZE set MESSAGGIO = 'dopo'");
    insert.execute();
    Query q(connection.attachment(), tr, "select MESSAGGIO from RICORRENZE");
    q.Open();
    const Value message = q.FieldByName("MESSAGGIO");
    q.Close();
    QCOMPARE(message.asText(), QByteArray("dopo"));
}

void TestFb::errorsCarryFirebirdsMessage_data() {
    QTest::addColumn<QByteArray>("what");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("syntax") << QByteArray("syntax") << QByteArray("Token unknown");
    QTest::newRow("missing table") << QByteArray("table") << QByteArray("NO_SUCH_TABLE");
    QTest::newRow("missing file") << QByteArray("missing") << QByteArray("nothere.fdb");
    QTest::newRow("not a database") << QByteArray("garbage") << QByteArray("not a valid database");
    QTest::newRow("unknown parameter") << QByteArray("dpb") << QByteArray("unknown database parameter");
    QTest::newRow("unknown transaction parameter") << QByteArray("tpb") << QByteArray("unknown transaction parameter");
}

void TestFb::errorsCarryFirebirdsMessage() {
    QFETCH(QByteArray, what);
    QFETCH(QByteArray, expected);
    try {
        if (what == "missing") {
            Attachment::attach(QFile::encodeName(m_dir->filePath(QStringLiteral("nothere.fdb"))), user);
        } else if (what == "garbage") {
            const QString path = m_dir->filePath(QStringLiteral("garbage.fdb"));
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(16384, 'x'));
            f.close();
            Attachment::attach(QFile::encodeName(path), user);
        } else if (what == "dpb") {
            Attachment::attach(m_path, {"user_name=SYSDBA", "colour=blue"});
        } else {
            Attachment att = Attachment::attach(m_path, user);
            if (what == "tpb") {
                Transaction tr(att, {"read_committed", "sometimes"});
            } else {
                Transaction tr(att);
                Statement s(att, tr, what == "syntax" ? "selec * from DB" : "select * from NO_SUCH_TABLE");
            }
        }
        QFAIL("no error raised");
    } catch (const FbError& e) {
        QVERIFY2(QByteArray(e.what()).contains(expected), e.what());
    }
}

void TestFb::connectionOwnsDefaultTransaction() {
    Connection connection;
    QVERIFY(!connection.Connected());
    QVERIFY_THROWS_EXCEPTION(FbError, connection.attachment());
    connection.setDatabaseName(m_path);
    connection.setParams(user);
    connection.Open();
    QVERIFY(connection.Connected());
    QVERIFY(!connection.InTransaction());
    connection.attachment().execute(connection.transaction(), "insert into POSTAZIONI (SIGLA) values ('09')");
    QVERIFY(connection.InTransaction());
    connection.EndTransaction(); // commit-retaining by default
    QVERIFY(connection.InTransaction());
    connection.attachment().execute(connection.transaction(), "insert into POSTAZIONI (SIGLA) values ('10')");
    connection.Close(); // rolls back what is not committed
    QVERIFY(!connection.Connected());
    connection.Close();

    connection.Open();
    Query q(connection.attachment(), connection.transaction(), "select SIGLA from POSTAZIONI");
    q.Open();
    QCOMPARE(q.FieldByName("SIGLA").asText(), QByteArray("09"));
    q.Next();
    QVERIFY(q.Eof());
}

void TestFb::remoteNames_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("remote");
    QTest::newRow("unix path") << QByteArray("/data/a.fdb") << false;
    QTest::newRow("relative") << QByteArray("a.fdb") << false;
    QTest::newRow("drive") << QByteArray("C:\\dati\\a.gdb") << false;
    QTest::newRow("drive slash") << QByteArray("d:/dati/a.gdb") << false;
    QTest::newRow("tcp") << QByteArray("server:d:/dati/a.gdb") << true;
    QTest::newRow("tcp unix") << QByteArray("127.0.0.1:/data/a.fdb") << true;
    QTest::newRow("named pipe") << QByteArray("\\\\server\\e:\\dati\\a.gdb") << true;
    QTest::newRow("spx") << QByteArray("server@vol1\\a.gdb") << true;
    QTest::newRow("colon after folder") << QByteArray("/data/x:y.fdb") << false;
    QTest::newRow("doubled slash") << QByteArray("//data/a.fdb") << false;
    QTest::newRow("host and port") << QByteArray("server/3051:/data/a.fdb") << true;
    QTest::newRow("host and service") << QByteArray("server/gds_db:C:\\dati\\a.gdb") << true;
    QTest::newRow("one-letter host") << QByteArray("x:path.fdb") << true;
    QTest::newRow("one-letter host, relative folder") << QByteArray("x:dati\\a.gdb") << true;
    QTest::newRow("slash in the path before a colon") << QByteArray("/data/x/3051:y.fdb") << false;
}

void TestFb::remoteNames() {
    QFETCH(QByteArray, name);
    QFETCH(bool, remote);
    QCOMPARE(Attachment::isRemoteName(name), remote);
}

void TestFb::parameterTranslationLeavesQuotesAlone() {
    QByteArrayList names;
    const QByteArray sql = translateNamedParams(
        "update T set A = :A, B = ':NOT' /* :NOR */ where \"X:Y\" = :OLD_ID -- :NEITHER\n and C = ?", names);
    QCOMPARE(sql, QByteArray("update T set A = ?, B = ':NOT' /* :NOR */ where \"X:Y\" = ? -- :NEITHER\n and C = ?"));
    QCOMPARE(names, (QByteArrayList{"A", "OLD_ID", ""}));
}

void TestFb::scriptSplitting() {
    const QByteArrayList parts =
        splitScript("create table A (X varchar(5) default ';'); /* ; */ -- ;\ninsert into A values ('it''s;');\n;  ");
    QCOMPARE(parts, (QByteArrayList{"create table A (X varchar(5) default ';')", "insert into A values ('it''s;')"}));

    Attachment att = Attachment::attach(m_path, user);
    QVERIFY_THROWS_EXCEPTION(FbError, executeScript(att, "SET SQL DIALECT 3;"));
    QVERIFY_THROWS_EXCEPTION(FbError, executeScript(att, "SET TERM ^ ;"));
}

QTEST_GUILESS_MAIN(TestFb)
#include "test_fb.moc"
