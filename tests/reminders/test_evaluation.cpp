#include "fb/Attachment.h"
#include "fb/Connection.h"
#include "fb/Query.h"
#include "fb/Statement.h"
#include "fb/Transaction.h"
#include "platform/ProgramDir.h"
#include "platform/Registry.h"
#include "reminders/DatabaseSettings.h"
#include "reminders/DismissalRecord.h"
#include "reminders/ReminderMessages.h"
#include "reminders/RicThread.h"
#include "tests/fb/SchemaDatabase.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

using namespace vestrel;
using namespace vestrel::reminders;
using namespace vestrel::fb;
using namespace Qt::StringLiterals;

namespace {

const QByteArrayList& user = testing::SchemaUser;

struct Reminder {
    qint64 id;
    Value criterio;
    QByteArray detail;
    Value finactive = Value::fromText("0");
    QByteArray utente = {};
    QByteArray postazione = {};
    Value descrizione = Value::fromText("Promemoria");
};

QList<qint32> ids(const MemTable& table) {
    QList<qint32> result;
    for (const MemTBRow& row : table.rows())
        result.append(row.ID);
    return result;
}

void writeRaw(qint64 id, RegistryType type, const QByteArray& data) {
    Registry registry;
    QVERIFY(registry.OpenKey(AlertKey, true));
    if (type == RegistryType::String)
        registry.WriteString(QByteArray::number(id), data);
    else
        registry.WriteBinaryData(QByteArray::number(id), data);
}

} // namespace

class TestEvaluation : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void rules_data();
    void rules();
    void inactiveRowsNullsAndTheTableRow();
    void filters_data();
    void filters();
    void badRowsAreSkipped();
    void badDismissalValues();
    void dismissalsOfOtherTypesSkipTheRow();
    void aMessageThatCannotBeReadSkipsOnlyItsRow();
    void dismissalBinaryFormat();
    void walkStopsWhenTerminated();
    void loadDatabaseSettings();

private:
    void setRows(const QList<Reminder>& rows);
    MemTable evaluate(QDate today, const ReminderFilters& filters = {},
                      const QByteArray& sql = "select * from RICORRENZE");

    QTemporaryDir m_dir;
    QByteArray m_path;
    Attachment m_att;
    QList<QByteArray> m_skipped; // IDs the last evaluate() reported as skipped
};

void TestEvaluation::initTestCase() {
    QVERIFY(m_dir.isValid());
    testing::useTestFolders(m_dir);
    m_path = QFile::encodeName(m_dir.filePath(QStringLiteral("ricorr.fdb")));
    testing::createSchemaDatabase(m_path);
    m_att = Attachment::attach(m_path, user);
}

void TestEvaluation::init() {
    QFile::remove(registryHiveFile(RegistryHive::CurrentUser));
}

void TestEvaluation::setRows(const QList<Reminder>& rows) {
    Transaction tr(m_att);
    m_att.execute(tr, "delete from RICORRENZE");
    Statement insert(m_att, tr,
                     "insert into RICORRENZE (ID, POSTAZIONE, UTENTE, DESCRIZIONE, MESSAGGIO, CRITERIO, "
                     "SOTTOCRITERIO, FINACTIVE) values (?, ?, ?, ?, ?, ?, ?, ?)");
    for (const Reminder& r : rows) {
        // Empty texts are stored as NULL, as the editor leaves untouched columns.
        auto text = [](const QByteArray& t) {
            return t.isEmpty() ? Value() : Value::fromText(t);
        };
        const Value values[] = {Value::fromInteger(r.id),
                                text(r.postazione),
                                text(r.utente),
                                r.descrizione,
                                text(r.id == 5 ? QByteArray() : "Testo\r\nsu due righe"),
                                r.criterio,
                                text(r.detail),
                                r.finactive};
        for (int i = 0; i < 8; ++i)
            insert.setParam(i, values[i]);
        insert.execute();
    }
    tr.commit();
}

MemTable TestEvaluation::evaluate(QDate today, const ReminderFilters& filters, const QByteArray& sql) {
    Transaction tr(m_att);
    Query ricorr(m_att, tr, sql);
    ricorr.Open();
    MemTable table;
    FixedClock clock(today);
    m_skipped.clear();
    ReminderEvaluation evaluation(table, ricorr, filters, clock);
    evaluation.setSkippedRowReport([this](const QByteArray& id, const QString&) { m_skipped.append(id); });
    evaluation.Execute([] { return false; });
    return table;
}

void TestEvaluation::rules_data() {
    QTest::addColumn<int>("criterio");
    QTest::addColumn<QByteArray>("detail");
    QTest::addColumn<QDate>("today");
    QTest::addColumn<QDate>("dismissed"); // invalid: never dismissed
    QTest::addColumn<bool>("due");
    const QDate never;
    auto row = [](const char* name, int c, const char* detail, QDate today, QDate dismissed, bool due) {
        QTest::newRow(name) << c << QByteArray(detail) << today << dismissed << due;
    };
    row("once, never dismissed", 0, "", QDate(2024, 3, 15), never, true);
    row("once, dismissed years ago", 0, "", QDate(2024, 3, 15), QDate(2001, 1, 1), false);
    row("daily, dismissed today", 1, "", QDate(2024, 3, 15), QDate(2024, 3, 15), false);
    row("daily, dismissed yesterday", 1, "", QDate(2024, 3, 16), QDate(2024, 3, 15), true);
    row("daily, across the year", 1, "", QDate(2025, 1, 1), QDate(2024, 12, 31), true);
    // 2024-03-11 is a Monday; w = 2 is Wednesday.
    row("weekly, Monday before", 2, "2", QDate(2024, 3, 11), never, false);
    row("weekly, Tuesday before", 2, "2", QDate(2024, 3, 12), never, false);
    row("weekly, Wednesday", 2, "2", QDate(2024, 3, 13), never, true);
    row("weekly, Sunday", 2, "2", QDate(2024, 3, 17), never, true);
    row("weekly, dismissed Friday, Sunday", 2, "2", QDate(2024, 3, 17), QDate(2024, 3, 15), false);
    row("weekly, dismissed Friday, next Tuesday", 2, "2", QDate(2024, 3, 19), QDate(2024, 3, 15), false);
    row("weekly, dismissed Friday, next Wednesday", 2, "2", QDate(2024, 3, 20), QDate(2024, 3, 15), true);
    // 1 January 2021 lies in ISO week 53 of 2020, whose Monday is 28 December 2020.
    row("weekly, week 53, dismissed before its Monday", 2, "0", QDate(2021, 1, 1), QDate(2020, 12, 27), true);
    row("weekly, week 53, dismissed on its Monday", 2, "0", QDate(2021, 1, 1), QDate(2020, 12, 28), false);
    row("weekly, detail 7", 2, "7", QDate(2024, 3, 17), never, false);
    row("weekly, negative detail", 2, "-1", QDate(2024, 3, 17), never, false);
    row("weekly, garbage detail is Monday", 2, "mercoledi", QDate(2024, 3, 11), never, true);
    row("monthly 30, February common year, 27th", 3, "30", QDate(2023, 2, 27), never, false);
    row("monthly 30, February common year, 28th", 3, "30", QDate(2023, 2, 28), never, true);
    row("monthly 30, February leap year, 28th", 3, "30", QDate(2024, 2, 28), never, false);
    row("monthly 30, February leap year, 29th", 3, "30", QDate(2024, 2, 29), never, true);
    row("monthly 30, April 29th", 3, "30", QDate(2024, 4, 29), never, false);
    row("monthly 30, April 30th", 3, "30", QDate(2024, 4, 30), never, true);
    row("monthly 9, dismissed on the 20th, same month", 3, "9", QDate(2024, 3, 31), QDate(2024, 3, 20), false);
    row("monthly 9, dismissed on the 20th, next 9th", 3, "9", QDate(2024, 4, 9), QDate(2024, 3, 20), false);
    row("monthly 9, dismissed on the 20th, next 10th", 3, "9", QDate(2024, 4, 10), QDate(2024, 3, 20), true);
    row("monthly 9, dismissed in December, 10 January", 3, "9", QDate(2025, 1, 10), QDate(2024, 12, 20), true);
    row("monthly, empty detail is the 1st", 3, "", QDate(2024, 3, 1), never, true);
    row("monthly, negative detail", 3, "-5", QDate(2024, 3, 31), never, false);
    row("monthly, huge detail is the last day", 3, "2147483647", QDate(2024, 2, 29), never, true);
    row("yearly 29 February, leap year", 4, "28 1", QDate(2024, 2, 29), never, true);
    row("yearly 29 February, leap year, 28th", 4, "28 1", QDate(2024, 2, 28), never, false);
    row("yearly 29 February, common year", 4, "28 1", QDate(2023, 12, 31), never, false);
    row("yearly 14 2, 14 March", 4, "14 2", QDate(2024, 3, 14), never, false);
    row("yearly 14 2, 15 March", 4, "14 2", QDate(2024, 3, 15), never, true);
    row("yearly 14 2, 31 December", 4, "14 2", QDate(2024, 12, 31), never, true);
    row("yearly 14 2, dismissed, 31 December", 4, "14 2", QDate(2024, 12, 31), QDate(2024, 3, 16), false);
    row("yearly 14 2, dismissed, next year", 4, "14 2", QDate(2025, 3, 15), QDate(2024, 3, 16), true);
    row("yearly, one number is January", 4, "5", QDate(2024, 1, 6), never, true);
    row("yearly, one number, day before", 4, "5", QDate(2024, 1, 5), never, false);
    row("yearly 31 April is never", 4, "30 3", QDate(2024, 12, 31), never, false);
    row("criterion 5", 5, "", QDate(2024, 3, 15), never, false);
    row("criterion -1", -1, "", QDate(2024, 3, 15), never, false);
}

void TestEvaluation::rules() {
    QFETCH(int, criterio);
    QFETCH(QByteArray, detail);
    QFETCH(QDate, today);
    QFETCH(QDate, dismissed);
    QFETCH(bool, due);
    setRows({{42, Value::fromInteger(criterio), detail}});
    if (dismissed.isValid())
        WriteDismissal(42, dismissed);
    QCOMPARE(evaluate(today).RecordCount(), due ? 1 : 0);
}

void TestEvaluation::inactiveRowsNullsAndTheTableRow() {
    const QByteArray longTitle = "Scadenza IVA trimestrale \xe8 imminente";
    setRows({{1, Value::fromInteger(1), "", Value::fromText("1")},
             {2, Value::fromInteger(1), "", Value::fromText("")},
             {3, Value::fromInteger(1), "", Value(), {}, {}, Value::fromText(longTitle)},
             {4, Value::fromInteger(2), "", Value::fromText("x")},
             {5, Value(), "", Value(), {}, {}, Value()}}); // all NULL; a NULL criterion reads as 0: once
    const MemTable table = evaluate(QDate(2024, 3, 11));
    QCOMPARE(ids(table), (QList<qint32>{2, 3, 4, 5}));
    const MemTBRow& row = table.at(1);
    QCOMPARE(row.Descrizione, longTitle.left(30));
    QCOMPARE(row.Messaggio, QByteArray("Testo\r\nsu due righe"));
    QCOMPARE(row.CRITERIO, qint16(1));
    QCOMPARE(table.at(3).Descrizione, QByteArray());
    QCOMPARE(table.at(3).Messaggio, QByteArray());
    QCOMPARE(table.at(3).CRITERIO, qint16(0));
}

void TestEvaluation::filters_data() {
    QTest::addColumn<QByteArray>("utente");
    QTest::addColumn<QByteArray>("postazione");
    QTest::addColumn<QByteArray>("operatorFilter");
    QTest::addColumn<QByteArray>("workstationFilter");
    QTest::addColumn<bool>("shown");
    QTest::newRow("operator differs") << QByteArray("AB") << QByteArray() << QByteArray("CD") << QByteArray() << false;
    QTest::newRow("no operator code") << QByteArray("AB") << QByteArray() << QByteArray() << QByteArray() << true;
    QTest::newRow("operator equal") << QByteArray("AB") << QByteArray() << QByteArray("AB") << QByteArray() << true;
    QTest::newRow("case matters") << QByteArray("AB") << QByteArray() << QByteArray("ab") << QByteArray() << false;
    QTest::newRow("row for everyone") << QByteArray() << QByteArray() << QByteArray("CD") << QByteArray("01") << true;
    QTest::newRow("workstation differs") << QByteArray() << QByteArray("01") << QByteArray() << QByteArray("02")
                                         << false;
    QTest::newRow("both equal") << QByteArray("AB") << QByteArray("01") << QByteArray("AB") << QByteArray("01") << true;
    QTest::newRow("operator ok, workstation not")
        << QByteArray("AB") << QByteArray("01") << QByteArray("AB") << QByteArray("02") << false;
}

void TestEvaluation::filters() {
    QFETCH(QByteArray, utente);
    QFETCH(QByteArray, postazione);
    QFETCH(QByteArray, operatorFilter);
    QFETCH(QByteArray, workstationFilter);
    QFETCH(bool, shown);
    setRows({{7, Value::fromInteger(1), "", Value::fromText("0"), utente, postazione}});
    QCOMPARE(evaluate(QDate(2024, 3, 15), {operatorFilter, workstationFilter}).RecordCount(), shown ? 1 : 0);
}

void TestEvaluation::badRowsAreSkipped() {
    setRows({{1, Value::fromInteger(1), ""}, {2, Value::fromInteger(2), "3"}, {3, Value::fromInteger(1), ""}});
    // A criterion of text that is no number skips only that row.
    QCOMPARE(ids(evaluate(QDate(2024, 3, 15), {},
                          "select ID, POSTAZIONE, UTENTE, DESCRIZIONE, MESSAGGIO, SOTTOCRITERIO, FINACTIVE, "
                          "iif(ID = 1, 'uno', CRITERIO) as CRITERIO from RICORRENZE order by ID")),
             (QList<qint32>{2, 3}));
    QCOMPARE(m_skipped, QList<QByteArray>{"1"});
    // Without SOTTOCRITERIO the weekly row is skipped and reported, the daily ones are still due.
    QCOMPARE(ids(evaluate(QDate(2024, 3, 15), {},
                          "select ID, POSTAZIONE, UTENTE, DESCRIZIONE, MESSAGGIO, CRITERIO, FINACTIVE "
                          "from RICORRENZE order by ID")),
             (QList<qint32>{1, 3}));
    QCOMPARE(m_skipped, QList<QByteArray>{"2"});
}

void TestEvaluation::badDismissalValues() {
    setRows({{1, Value::fromInteger(1), ""},
             {2, Value::fromInteger(1), ""},
             {3, Value::fromInteger(1), ""},
             {4, Value::fromInteger(3), "0"},
             {5, Value::fromInteger(0), ""},
             {6, Value::fromInteger(1), ""}});
    const double nan = std::numeric_limits<double>::quiet_NaN();
    writeRaw(1, RegistryType::String, "2024-03-01");
    writeRaw(2, RegistryType::Binary, QByteArray(4, '\0'));
    writeRaw(3, RegistryType::Binary, QByteArray(reinterpret_cast<const char*>(&nan), 8));
    writeRaw(4, RegistryType::String, "x");
    writeRaw(5, RegistryType::String, "x"); // once: any value counts as dismissed
    QCOMPARE(ids(evaluate(QDate(2024, 3, 15))), (QList<qint32>{6}));

    // A store damaged beyond reading holds no dismissals: everything is due.
    QFile hive(registryHiveFile(RegistryHive::CurrentUser));
    QVERIFY(hive.open(QIODevice::WriteOnly));
    hive.write(
        QByteArray("\x00\xff garbage [HKEY_CURRENT_USER\\software\\pelk software\\vestrel\\alert\n\"1\"=hex:zz", 72));
    hive.close();
    QCOMPARE(evaluate(QDate(2024, 3, 15)).RecordCount(), 6);
}

void TestEvaluation::dismissalsOfOtherTypesSkipTheRow() {
    setRows({{1, Value::fromInteger(1), ""}, {2, Value::fromInteger(3), "0"}, {3, Value::fromInteger(1), ""}});
    // REG_QWORD (hex(b)) and REG_NONE (hex(0)) holding 8 bytes of a valid date are no dismissal date.
    QFile hive(registryHiveFile(RegistryHive::CurrentUser));
    QVERIFY(hive.open(QIODevice::WriteOnly));
    hive.write("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\software\\pelk software\\vestrel\\alert]\r\n"
               "\"1\"=hex(b):00,00,00,00,c0,26,e6,40\r\n\"2\"=hex(0):00,00,00,00,c0,26,e6,40\r\n");
    hive.close();
    Registry registry;
    QVERIFY(registry.OpenKey(AlertKey, false));
    QCOMPARE(registry.ReadValue("1")->type, RegistryType::QWord);
    QVERIFY_THROWS_EXCEPTION(DismissalError, DecodeDismissalDate(*registry.ReadValue("1")));

    QList<QByteArray> skipped;
    Transaction tr(m_att);
    Query ricorr(m_att, tr, "select * from RICORRENZE order by ID");
    ricorr.Open();
    MemTable table;
    FixedClock clock(QDate(2024, 3, 16));
    ReminderEvaluation evaluation(table, ricorr, {}, clock);
    evaluation.setSkippedRowReport([&](const QByteArray& id, const QString&) { skipped.append(id); });
    evaluation.Execute([] { return false; });
    QCOMPARE(ids(table), (QList<qint32>{3}));
    // The monthly row's unreadable dismissal is reported like the daily row's.
    QCOMPARE(skipped, (QList<QByteArray>{"1", "2"}));
}

void TestEvaluation::aMessageThatCannotBeReadSkipsOnlyItsRow() {
    // An office database whose messages are UTF8: one holds a character WIN1252 lacks, which the
    // program's connection cannot read. That row is skipped and reported; the others are shown.
    const QByteArray path = QFile::encodeName(m_dir.filePath(QStringLiteral("utf8.fdb")));
    testing::createSchemaDatabase(path);
    {
        Attachment utf8 = Attachment::attach(path, {"user_name=SYSDBA", "password=x", "lc_ctype=UTF8"});
        Transaction tr(utf8);
        utf8.execute(tr, "recreate table RICORRENZE (ID integer, POSTAZIONE varchar(2), UTENTE varchar(2), "
                         "DESCRIZIONE varchar(60), MESSAGGIO blob sub_type text character set UTF8, "
                         "CRITERIO smallint, SOTTOCRITERIO varchar(20), FINACTIVE varchar(1))");
        tr.commit();
        Transaction rows(utf8);
        Statement insert(utf8, rows,
                         "insert into RICORRENZE (ID, DESCRIZIONE, MESSAGGIO, CRITERIO, FINACTIVE) "
                         "values (?, ?, ?, 1, ?)");
        const QByteArray messages[] = {"primo", "\xd0\x96 cirillico", "terzo", "\xd0\x96 inattivo"};
        for (int id = 1; id <= 4; ++id) {
            insert.setParam(0, Value::fromInteger(id));
            insert.setParam(1, Value::fromText("Promemoria " + QByteArray::number(id)));
            insert.setParam(2, Value::fromText(messages[id - 1]));
            insert.setParam(3, Value::fromText(id == 4 ? "1" : "0")); // not due: its message is never read
            insert.execute();
        }
        rows.commit();
    }
    Attachment att = Attachment::attach(path, user);
    Transaction tr(att);
    // Selecting the message with the row fails the whole cursor at that row.
    Query everything(att, tr, "select * from RICORRENZE order by ID");
    QVERIFY_THROWS_EXCEPTION(FbError, {
        everything.Open();
        while (!everything.Eof())
            everything.Next();
    });

    Query ricorr(att, tr, QByteArray(ReminderMessages::WalkSQL) + " order by ID");
    ricorr.Open();
    ReminderMessages messages(att, tr);
    MemTable table;
    FixedClock clock(QDate(2024, 3, 15));
    ReminderEvaluation evaluation(table, ricorr, {}, clock);
    evaluation.setMessageReader([&](qint64 id) { return messages.Read(id); });
    QStringList reasons;
    QList<QByteArray> skipped;
    evaluation.setSkippedRowReport([&](const QByteArray& id, const QString& reason) {
        skipped.append(id);
        reasons.append(reason);
    });
    evaluation.Execute([] { return false; });
    QCOMPARE(ids(table), (QList<qint32>{1, 3}));
    QCOMPARE(table.at(1).Messaggio, QByteArray("terzo"));
    QCOMPARE(skipped, (QList<QByteArray>{"2"}));
    QVERIFY2(reasons.value(0).contains(u"transliterate"_s), qPrintable(reasons.value(0)));
}

void TestEvaluation::dismissalBinaryFormat() {
    QVERIFY(!Registry().KeyExists(AlertKey));
    WriteDismissal(7, QDate(2024, 3, 1));
    WriteDismissal(7, QDate(2024, 3, 15)); // a later dismissal overwrites
    Registry registry;
    QVERIFY(registry.OpenKey("\\Software\\Pelk Software\\Vestrel\\Alert", false));
    const std::optional<RegistryValue> value = registry.ReadValue("7");
    QVERIFY(value);
    QCOMPARE(value->type, RegistryType::Binary);
    QCOMPARE(value->data.toHex(), QByteArray("00000000c026e640")); // 45366.0, little-endian
    QCOMPARE(DecodeDismissalDate(*value), QDate(2024, 3, 15));
    QCOMPARE(DecodeDismissalDate({RegistryType::Binary, EncodeDismissalDate(QDate(1899, 12, 30))}),
             QDate(1899, 12, 30));
}

void TestEvaluation::walkStopsWhenTerminated() {
    setRows({{1, Value::fromInteger(1), ""}, {2, Value::fromInteger(1), ""}, {3, Value::fromInteger(1), ""}});
    Transaction tr(m_att);
    Query ricorr(m_att, tr, "select * from RICORRENZE order by ID");
    ricorr.Open();
    MemTable table;
    FixedClock clock(QDate(2024, 3, 15));
    int asked = 0;
    // Asked once before the walk and once before each row: the third answer stops before row 2.
    ReminderEvaluation(table, ricorr, {}, clock).Execute([&] { return ++asked == 3; });
    QCOMPARE(ids(table), (QList<qint32>{1}));

    TRicThread thread(table, ricorr, {}, clock);
    QSignalSpy finished(&thread, &QThread::finished);
    thread.start();
    QVERIFY(finished.wait());
    QCOMPARE(ids(table), (QList<qint32>{1, 2, 3}));
}

void TestEvaluation::loadDatabaseSettings() {
    QFile config(programFile(QStringLiteral("config.ini")));
    auto writeConfig = [&](const QByteArray& text) {
        QVERIFY(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
        config.write(text);
        config.close();
    };
    int messages = 0;
    const ShowMessageFn count = [&](const QString&) {
        ++messages;
    };

    Connection connection;
    writeConfig("[Database]\r\nfile=" + m_path + "\r\nUSER=SYSDBA\r\npwd= segreta \r\n");
    LoadDatabaseSettings(connection, count);
    QCOMPARE(connection.DatabaseName(), m_path);
    QCOMPARE(connection.Params(), (QByteArrayList{"user_name=SYSDBA", "password=segreta"}));

    writeConfig("[Database]\r\nFile=archivio.gdb\r\nhost=server\r\nruolo=CONTABILE\r\nuser=u\r\n");
    LoadDatabaseSettings(connection, count);
    QCOMPARE(connection.DatabaseName(),
             "server:" + QFile::encodeName(programFile(QStringLiteral("database/archivio.gdb"))));
    QCOMPARE(connection.Params(), (QByteArrayList{"user_name=u", "password=", "sql_role_name=CONTABILE"}));
    QCOMPARE(messages, 0);

    // An open connection is committed and closed first; an empty "File" then changes nothing.
    connection.setDatabaseName(m_path);
    connection.setParams(user);
    connection.Open();
    connection.attachment().execute(connection.transaction(), "delete from POSTAZIONI");
    connection.attachment().execute(connection.transaction(), "insert into POSTAZIONI (SIGLA) values ('77')");
    writeConfig("[Database]\r\nFile=\r\n");
    LoadDatabaseSettings(connection, count);
    QCOMPARE(messages, 1);
    QVERIFY(!connection.Connected());
    QCOMPARE(connection.DatabaseName(), m_path);
    QCOMPARE(connection.Params(), user);
    Transaction tr(m_att);
    Query q(m_att, tr, "select SIGLA from POSTAZIONI");
    q.Open();
    QCOMPARE(q.FieldByName("SIGLA").asText(), QByteArray("77"));
}

QTEST_GUILESS_MAIN(TestEvaluation)
#include "test_evaluation.moc"
