#include "fb/Attachment.h"
#include "fb/Statement.h"
#include "fb/Transaction.h"
#include "platform/Registry.h"
#include "reminders/DismissalRecord.h"
#include "tests/fb/SchemaDatabase.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace vestrel;
using namespace vestrel::reminders;
using namespace vestrel::fb;

namespace {

const QByteArrayList& user = testing::SchemaUser;

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

} // namespace

class TestDueTool : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void printsDueRemindersInOrder();
    void dismissRecordsTodayAndHidesTheReminder();
    void failuresAndUsage_data();
    void failuresAndUsage();
    void twoProcessesReadOneDatabaseAtOnce();
    void anUnconvertibleTitleHidesOnlyItsReminder();

private:
    void writeConfig(const QByteArray& text);
    QProcess* start(const QStringList& arguments, const QString& outputFile = {});
    Run run(const QStringList& arguments);

    QTemporaryDir m_dir;
    QByteArray m_path;
};

void TestDueTool::initTestCase() {
    QVERIFY(m_dir.isValid());
    testing::useTestFolders(m_dir);
    m_path = QFile::encodeName(m_dir.filePath(QStringLiteral("ricorr.fdb")));
    testing::createSchemaDatabase(m_path);

    Attachment att = Attachment::attach(m_path, user);
    Transaction tr(att);
    Statement insert(att, tr,
                     "insert into RICORRENZE (ID, UTENTE, DESCRIZIONE, CRITERIO, SOTTOCRITERIO, FINACTIVE) "
                     "values (?, ?, ?, ?, ?, '0')");
    const struct {
        int id;
        const char* utente;
        const char* title;
        int criterio;
        const char* detail;
    } rows[] = {
        {5, "", "Caff\xe8 con il commercialista per la dichiarazione", 1, ""}, // cut to 30
        {3, "AB", "Solo per AB", 1, ""},
        {9, "", "Settimana:\tgioved\xec", 2, "3"}, // Thursdays
        {4, "", "Sabato", 2, "5"},                 // Saturdays: not yet due on Friday 15 March 2024
        {8, "", "Mensile", 3, "14"},               // the 15th
    };
    for (const auto& r : rows) {
        insert.setParam(0, Value::fromInteger(r.id));
        insert.setParam(1, Value::fromText(r.utente));
        insert.setParam(2, Value::fromText(r.title));
        insert.setParam(3, Value::fromInteger(r.criterio));
        insert.setParam(4, Value::fromText(r.detail));
        insert.execute();
    }
    tr.commit();
}

void TestDueTool::init() {
    QFile::remove(registryHiveFile(RegistryHive::CurrentUser));
    writeConfig("[Database]\r\nFile=" + m_path + "\r\nuser=SYSDBA\r\n");
}

void TestDueTool::writeConfig(const QByteArray& text) {
    QFile config(m_dir.filePath(QStringLiteral("config.ini")));
    QVERIFY(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
    config.write(text);
}

QProcess* TestDueTool::start(const QStringList& arguments, const QString& outputFile) {
    auto* process = new QProcess(this);
    if (!outputFile.isEmpty())
        process->setStandardOutputFile(outputFile);
    process->start(qEnvironmentVariable("VESTREL_BIN_DIR") + QStringLiteral("/vericorr-due"), arguments);
    return process;
}

Run TestDueTool::run(const QStringList& arguments) {
    std::unique_ptr<QProcess> process(start(arguments));
    Run result;
    if (!process->waitForFinished(60000))
        return result;
    result.exitCode = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -2;
    result.out = process->readAllStandardOutput();
    result.err = process->readAllStandardError();
    return result;
}

void TestDueTool::printsDueRemindersInOrder() {
    const QString friday = QStringLiteral("2024-03-15");
    Run r = run({QStringLiteral("--date"), friday});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QStringLiteral("5\t1\tCaffè con il commercialista pe\n"
                                   "3\t1\tSolo per AB\n"
                                   "9\t2\tSettimana: giovedì\n"
                                   "8\t3\tMensile\n")
                        .toUtf8());
    QCOMPARE(r.err, QByteArray());

    // Output that cannot be written is a failure, not an empty list.
    std::unique_ptr<QProcess> full(start({}, QStringLiteral("/dev/full")));
    QVERIFY(full->waitForFinished(60000));
    QCOMPARE(full->exitCode(), 1);

    // Codes are read as the reminders client reads them: "op=ab" is no code, a later code wins.
    r = run({QStringLiteral("OP=CD"), QStringLiteral("--date"), friday});
    QCOMPARE(
        r.out,
        QByteArray("5\t1\tCaff\xc3\xa8 con il commercialista pe\n9\t2\tSettimana: gioved\xc3\xac\n8\t3\tMensile\n"));
    r = run({QStringLiteral("op=cd"), QStringLiteral("PC=01"), QStringLiteral("--date"), friday});
    QVERIFY(r.out.contains("3\t1\tSolo per AB"));

    r = run({QStringLiteral("--date"), QStringLiteral("2024-03-14")});
    QCOMPARE(r.out, QByteArray("5\t1\tCaff\xc3\xa8 con il commercialista pe\n3\t1\tSolo per AB\n"
                               "9\t2\tSettimana: gioved\xc3\xac\n")); // the monthly rule waits for the 15th
}

void TestDueTool::dismissRecordsTodayAndHidesTheReminder() {
    const Run dismiss =
        run({QStringLiteral("--dismiss"), QStringLiteral("5"), QStringLiteral("--date"), QStringLiteral("2024-03-15")});
    QCOMPARE(dismiss.exitCode, 0);
    Registry registry;
    QVERIFY(registry.OpenKey(AlertKey, false));
    QCOMPARE(registry.ReadValue("5")->type, RegistryType::Binary);
    QCOMPARE(registry.ReadBinaryData("5").toHex(), QByteArray("00000000c026e640"));

    QVERIFY(!run({QStringLiteral("--date"), QStringLiteral("2024-03-15")}).out.startsWith("5\t"));
    QVERIFY(run({QStringLiteral("--date"), QStringLiteral("2024-03-16")}).out.startsWith("5\t"));
}

void TestDueTool::failuresAndUsage_data() {
    QTest::addColumn<QByteArray>("config"); // "-" : no config.ini at all
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("message");
    const QStringList none;
    QTest::newRow("no config.ini") << QByteArray("-") << none << 1 << QByteArray("config.ini");
    QTest::newRow("no File") << QByteArray("[Database]\r\nuser=SYSDBA\r\n") << none << 1
                             << QByteArray("no database file is set in");
    QTest::newRow("not a database") << QByteArray("[Database]\r\nFile=/etc/hostname\r\n") << none << 1
                                    << QByteArray("cannot open the database /etc/hostname");
    QTest::newRow("missing database") << QByteArray("[Database]\r\nFile=/nonexistent/x.fdb\r\n") << none << 1
                                      << QByteArray("cannot open the database");
    QTest::newRow("bad date") << QByteArray() << QStringList{QStringLiteral("--date"), QStringLiteral("2024-02-30")}
                              << 2 << QByteArray("not a date");
    QTest::newRow("date without value") << QByteArray() << QStringList{QStringLiteral("--date")} << 2
                                        << QByteArray("needs a value");
    QTest::newRow("unknown option") << QByteArray() << QStringList{QStringLiteral("--all")} << 2
                                    << QByteArray("unknown option");
    QTest::newRow("three codes") << QByteArray()
                                 << QStringList{QStringLiteral("OP=AB"), QStringLiteral("PC=01"), QStringLiteral("x")}
                                 << 2 << QByteArray("usage");
    QTest::newRow("bad ID") << QByteArray() << QStringList{QStringLiteral("--dismiss"), QStringLiteral("5x")} << 2
                            << QByteArray("not a reminder ID");
}

void TestDueTool::failuresAndUsage() {
    QFETCH(QByteArray, config);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, message);
    if (config == "-")
        QFile::remove(m_dir.filePath(QStringLiteral("config.ini")));
    else if (!config.isEmpty())
        writeConfig(config);
    const Run r = run(arguments);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(r.err.contains(message), r.err.constData());
    QVERIFY2(r.err.count('\n') == 1 && r.err.endsWith('\n'), r.err.constData()); // one line, for scripts
    QCOMPARE(r.out, QByteArray());
}

void TestDueTool::twoProcessesReadOneDatabaseAtOnce() {
    // This process keeps the file open through the embedded engine while two more read it.
    Attachment holder = Attachment::attach(m_path, user);
    Transaction tr(holder);
    const QStringList arguments{QStringLiteral("--date"), QStringLiteral("2024-03-15")};
    std::unique_ptr<QProcess> first(start(arguments));
    std::unique_ptr<QProcess> second(start(arguments));
    for (QProcess* p : {first.get(), second.get()}) {
        QVERIFY(p->waitForFinished(60000));
        QVERIFY2(p->exitCode() == 0, p->readAllStandardError().constData());
        QCOMPARE(p->readAllStandardOutput().count('\n'), 4);
    }
}

void TestDueTool::anUnconvertibleTitleHidesOnlyItsReminder() {
    // A database whose titles are UTF8: one of them has no WIN1252 form.
    const QByteArray path = QFile::encodeName(m_dir.filePath(QStringLiteral("utf8.fdb")));
    testing::createSchemaDatabase(path);
    const QByteArrayList utf8 = user + QByteArrayList{"lc_ctype=UTF8"};
    {
        Attachment att = Attachment::attach(path, utf8);
        Transaction tr(att);
        att.execute(tr, "recreate table RICORRENZE (ID integer not null primary key, POSTAZIONE varchar(2), "
                        "UTENTE varchar(2), DESCRIZIONE varchar(60) character set UTF8, MESSAGGIO blob sub_type text, "
                        "CRITERIO smallint, SOTTOCRITERIO varchar(20), FINACTIVE varchar(1))");
        tr.commit();
        Transaction fill(att);
        att.execute(fill, "insert into RICORRENZE (ID, DESCRIZIONE, CRITERIO, FINACTIVE) values (1, 'Primo', 1, '0')");
        att.execute(fill, "insert into RICORRENZE (ID, DESCRIZIONE, CRITERIO, FINACTIVE) "
                          "values (2, 'Kanji \xe6\xbc\xa2', 1, '0')");
        att.execute(fill, "insert into RICORRENZE (ID, DESCRIZIONE, CRITERIO, FINACTIVE) values (3, 'Terzo', 1, '0')");
        fill.commit();
    }
    writeConfig("[Database]\r\nFile=" + path + "\r\nuser=SYSDBA\r\n");
    const Run r = run({QStringLiteral("--date"), QStringLiteral("2024-03-15")});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QByteArray("1\t1\tPrimo\n3\t1\tTerzo\n"));
    QVERIFY2(r.err.startsWith("vericorr-due: reminder 2 skipped:"), r.err.constData());
}

QTEST_GUILESS_MAIN(TestDueTool)
#include "test_duetool.moc"
