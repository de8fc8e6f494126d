// vestrel-db as an administrator runs it: create, check, add-user and --help, and the reminders tool
// on the database it made.

#include "fb/Attachment.h"
#include "fb/FbError.h"
#include "fb/Statement.h"
#include "fb/Transaction.h"
#include "tests/fb/SchemaDatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using namespace vestrel;
using namespace vestrel::testing;
using namespace Qt::StringLiterals;

namespace {

struct Run {
    int status = -1;
    QString out, err;
};

Run run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(QDir(qEnvironmentVariable("VESTREL_BIN_DIR")).filePath(program), arguments);
    Run result;
    if (!process.waitForFinished(60000))
        return result;
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

const QByteArrayList ServerUser{"user_name=SYSDBA", "password=tavernfog"};

} // namespace

class TestVestrelDb : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void helpOnBothTools();
    void createCheckAndListDueReminders();
    void createRefusesAnExistingDatabase();
    void checkTellsWhatIsMissingOrDifferent();
    void addUserGrantsOnlyWhatTheProgramsNeed();

private:
    QTemporaryDir m_dir;
};

void TestVestrelDb::initTestCase() {
    QVERIFY(m_dir.isValid());
    useTestFolders(m_dir);
    // The tool finds the installed schema beside the programs' folder.
    QVERIFY(QFile::exists(QDir(qEnvironmentVariable("VESTREL_BIN_DIR")).filePath(u"../share/vestrel/schema.sql"_s)));
}

void TestVestrelDb::helpOnBothTools() {
    for (const QString& tool : {u"vestrel-db"_s, u"vericorr-due"_s}) {
        const Run help = run(tool, {u"--help"_s});
        QCOMPARE(help.status, 0);
        QVERIFY2(help.out.startsWith(u"Usage: "_s + tool), qPrintable(help.out));
        QVERIFY(help.err.isEmpty());
    }
    QCOMPARE(run(u"vestrel-db"_s, {u"frobnicate"_s, u"x.fdb"_s}).status, 2);
    QCOMPARE(run(u"vestrel-db"_s, {}).status, 2);
}

void TestVestrelDb::createCheckAndListDueReminders() {
    const QString path = m_dir.filePath(u"nuovo.fdb"_s);
    const Run created = run(u"vestrel-db"_s, {u"create"_s, path});
    QVERIFY2(created.status == 0, qPrintable(created.err));
    const Run checked = run(u"vestrel-db"_s, {u"check"_s, path});
    QVERIFY2(checked.status == 0, qPrintable(checked.out + checked.err));

    // A WIN1252, dialect 1 database the programs can use as it is.
    {
        fb::Attachment att = fb::Attachment::attach(QFile::encodeName(path), SchemaUser);
        QCOMPARE(att.dialect(), 1);
        fb::Transaction tr(att);
        fb::Statement charset(att, tr, "select trim(RDB$CHARACTER_SET_NAME) from RDB$DATABASE");
        auto cursor = charset.openCursor();
        fb::Row row;
        QVERIFY(cursor->fetch(row));
        QCOMPARE(row.at(0).asText(), QByteArray("WIN1252"));
        att.execute(tr, "insert into RICORRENZE (ID, DESCRIZIONE, CRITERIO, FINACTIVE) "
                        "values (gen_id(RICORR_ID_GEN, 1), 'Caff\xe8', 1, '0')");
        tr.commit();
    }
    QFile config(m_dir.filePath(u"config.ini"_s));
    QVERIFY(config.open(QIODevice::WriteOnly | QIODevice::Truncate));
    config.write("[Database]\r\nFile=" + QFile::encodeName(path) + "\r\nuser=SYSDBA\r\npwd=x\r\n");
    config.close();
    const Run due = run(u"vericorr-due"_s, {});
    QVERIFY2(due.status == 0, qPrintable(due.err));
    QCOMPARE(due.out, u"1\t1\tCaffè\n"_s);
}

void TestVestrelDb::createRefusesAnExistingDatabase() {
    const QString path = m_dir.filePath(u"esistente.fdb"_s);
    QVERIFY(run(u"vestrel-db"_s, {u"create"_s, path}).status == 0);
    const QByteArray before = [&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    const Run again = run(u"vestrel-db"_s, {u"create"_s, path});
    QCOMPARE(again.status, 1);
    QVERIFY2(again.err.contains(u"exists already"_s), qPrintable(again.err));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);
}

void TestVestrelDb::checkTellsWhatIsMissingOrDifferent() {
    const QByteArray path = QFile::encodeName(m_dir.filePath(u"vecchio.fdb"_s));
    createSchemaDatabase(path);
    {
        fb::Attachment att = fb::Attachment::attach(path, SchemaUser);
        fb::Transaction tr(att);
        att.execute(tr, "alter table RICORRENZE drop FINACTIVE");
        att.execute(tr, "alter table OPERATORI alter DESCRIZIONE type varchar(60)"); // longer is fine
        att.execute(tr, "alter table DB drop HOST");
        att.execute(tr, "alter table DB add HOST integer");
        att.execute(tr, "drop table IMP_CONTAB");
        att.execute(tr, "drop generator RICORR_ID_GEN");
        tr.commit();
    }
    const Run checked = run(u"vestrel-db"_s, {u"check"_s, QFile::decodeName(path)});
    QCOMPARE(checked.status, 1);
    QStringList lines = checked.out.split(u'\n', Qt::SkipEmptyParts);
    lines.sort();
    QCOMPARE(lines,
             (QStringList{u"generator RICORR_ID_GEN missing"_s, u"table DB: column HOST is INTEGER, needs VARCHAR"_s,
                          u"table IMP_CONTAB missing"_s, u"table RICORRENZE: column FINACTIVE missing"_s}));
}

void TestVestrelDb::addUserGrantsOnlyWhatTheProgramsNeed() {
    const QByteArray file = "/tmp/vestrel-db-" + QByteArray::number(QCoreApplication::applicationPid()) + ".fdb";
    const QString onServer = u"127.0.0.1:"_s + QString::fromLatin1(file);
    QFile::remove(QString::fromLatin1(file));
    const auto cleanup = qScopeGuard([&] { QFile::remove(QString::fromLatin1(file)); });
    const Run created = run(u"vestrel-db"_s, {u"create"_s, u"--password"_s, u"tavernfog"_s, onServer});
    if (created.status != 0)
        QSKIP(qPrintable(u"no Firebird server on 127.0.0.1:3050: "_s + created.err));

    const QString name = u"VT"_s + QString::number(QCoreApplication::applicationPid());
    const Run added = run(u"vestrel-db"_s, {u"add-user"_s, u"--password"_s, u"tavernfog"_s, u"--new-password"_s,
                                            u"segreta"_s, name, onServer});
    QVERIFY2(added.status == 0, qPrintable(added.err));
    const auto dropUser = qScopeGuard([&] {
        try {
            fb::Attachment admin = fb::Attachment::attach(onServer.toLatin1(), ServerUser);
            fb::Transaction tr(admin);
            admin.execute(tr, "drop user " + name.toLatin1());
            tr.commit();
        } catch (const fb::FbError& e) {
            qWarning() << "cannot drop the test user:" << e.what();
        }
    });

    const QByteArrayList user{"user_name=" + name.toLatin1(), "password=segreta"};
    fb::Attachment att = fb::Attachment::attach(onServer.toLatin1(), user);
    fb::Transaction tr(att);
    // What the programs do works...
    att.execute(tr, "insert into RICORRENZE (ID, DESCRIZIONE) values (gen_id(RICORR_ID_GEN, 1), 'x')");
    att.execute(tr, "update RICORRENZE set CRITERIO = 1");
    att.execute(tr, "delete from RICORRENZE");
    fb::Statement select(att, tr, "select count(*) from OPERATORI");
    select.openCursor();
    // ...and nothing more.
    QVERIFY_THROWS_EXCEPTION(fb::FbError, att.execute(tr, "delete from OPERATORI"));
    QVERIFY_THROWS_EXCEPTION(fb::FbError, att.execute(tr, "update DB set PWD = 'x'"));
    QVERIFY_THROWS_EXCEPTION(fb::FbError, att.execute(tr, "create table T (A integer)"));
    tr.rollback();

    // A name that is not a plain identifier is refused before anything reaches the server.
    const Run bad = run(u"vestrel-db"_s, {u"add-user"_s, u"--password"_s, u"tavernfog"_s, u"--new-password"_s, u"x"_s,
                                          u"a'; drop"_s, onServer});
    QCOMPARE(bad.status, 1);
}

QTEST_GUILESS_MAIN(TestVestrelDb)
#include "test_vestreldb.moc"
