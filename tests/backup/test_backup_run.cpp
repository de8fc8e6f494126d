// Whole backup runs of VEBackupd against the Firebird server on 127.0.0.1:3050 (scripts/test.sh starts
// one): server backups that restore, failures in the log and the exit status, copy backups, an
// interrupted copy, and the daemon's start and stop lines.

#include "backup/BackupLog.h"
#include "backup/BackupPaths.h"
#include "backup/BackupPlan.h"
#include "backup/BackupVerify.h"
#include "backup/backupFunction.h"
#include "fb/Attachment.h"
#include "fb/Query.h"
#include "fb/Script.h"
#include "fb/ServiceManager.h"
#include "fb/Transaction.h"
#include "tests/support/TestFiles.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>

using namespace Qt::StringLiterals;
using namespace vestrel;
using namespace vestrel::backup;

namespace {

const QByteArray Password = "tavernfog";
const QByteArrayList ServerUser{"user_name=SYSDBA", "password=" + Password};

QByteArray serverName(const QString& path) {
    return "127.0.0.1:" + QFile::encodeName(path);
}

// A database made by the server (so the server owns its file) from the schema and `sql`.
void createServerDatabase(const QString& path, const QByteArray& sql) {
    QFile schema(qEnvironmentVariable("VESTREL_TEST_DATA") + u"/schema.sql"_s);
    QVERIFY(schema.open(QIODevice::ReadOnly));
    fb::createDatabaseFromScript(serverName(path), ServerUser, schema.readAll() + sql + "\nCOMMIT;\n");
}

int rowCount(const QByteArray& databaseName, const QByteArray& table) {
    fb::Attachment attachment = fb::Attachment::attach(databaseName, ServerUser);
    fb::Transaction transaction(attachment);
    fb::Query query(attachment, transaction, "select count(*) from " + table);
    query.Open();
    query.First();
    return query.Current().at(0).asInteger();
}

QByteArray inserts(const QByteArray& table, int count) {
    QByteArray sql;
    for (int i = 1; i <= count; ++i) {
        if (table == "RICORRENZE")
            sql += "INSERT INTO RICORRENZE (ID, DESCRIZIONE, CRITERIO) VALUES (" + QByteArray::number(i) +
                   ", 'Scadenza " + QByteArray::number(i) + "', 1);\n";
        else
            sql += "INSERT INTO OPERATORI (SIGLA, DESCRIZIONE) VALUES ('" + QByteArray::number(i) + "', 'Op');\n";
    }
    return sql;
}

// A database with a connect trigger that refuses every file but its own, as a restored copy would be.
void createDatabaseOpenOnlyUnderItsName(const QString& path) {
    createServerDatabase(path, inserts("OPERATORI", 3));
    fb::Attachment attachment = fb::Attachment::attach(serverName(path), ServerUser);
    fb::Transaction transaction(attachment);
    const QByteArray name = QFile::encodeName(QFileInfo(path).fileName());
    attachment.execute(transaction, "CREATE EXCEPTION ALTROVE 'si apre solo da " + name + "'");
    transaction.commit();
    transaction.start(attachment);
    attachment.execute(transaction, "CREATE TRIGGER SOLO_QUI ON CONNECT AS BEGIN "
                                    "IF (RDB$GET_CONTEXT('SYSTEM', 'DB_NAME') NOT CONTAINING '" +
                                        name + "') THEN EXCEPTION ALTROVE; END");
    transaction.commit();
}

QList<QByteArray> logLines() {
    QList<QByteArray> lines;
    for (const QByteArray& line : testing::readFile(BackupLogPath()).split('\n')) {
        if (!line.isEmpty())
            lines.append(line.chopped(line.endsWith('\r') ? 1 : 0));
    }
    return lines;
}

} // namespace

class TestBackupRun : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_restored = 0;

    QString dbPath(const QString& name) const { return m_dir.filePath(u"database/"_s + name); }
    QString rotationFolder() const {
        return m_dir.filePath(u"database/backup/%1d"_s.arg(QDate::currentDate().dayOfWeek()));
    }
    void writeIni(const QString& name, const QByteArray& text) { testing::writeFile(m_dir.filePath(name), text); }

    // Starts VEBackupd with `arguments` in the test's program folder, without waiting for it.
    void startVEBackupd(QProcess& process, const QStringList& arguments, const QStringList& wrapper = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"VESTREL_PROGRAM_DIR"_s, m_dir.path());
        process.setProcessEnvironment(env);
        const QString program = qEnvironmentVariable("VESTREL_BIN_DIR") + u"/VEBackupd"_s;
        if (wrapper.isEmpty())
            process.start(program, arguments);
        else
            process.start(wrapper.first(), wrapper.mid(1) + QStringList{program} + arguments);
    }

    // VEBackupd in the test's program folder; returns its exit code (-1 when it crashed).
    int runVEBackupd(const QStringList& arguments, const QStringList& wrapper = {}) {
        QProcess process;
        startVEBackupd(process, arguments, wrapper);
        if (!process.waitForFinished(120000))
            return -2;
        if (process.exitStatus() != QProcess::NormalExit)
            return -1;
        return process.exitCode();
    }

    // Restores `gbk` through the server and counts the rows of `table` in the restored database.
    int restoredRows(const QString& gbk, const QByteArray& table) {
        const QString restored = m_dir.filePath(u"restored-%1.fdb"_s.arg(++m_restored));
        QProcess gbak;
        gbak.start(u"gbak"_s, {u"-c"_s, u"-user"_s, u"SYSDBA"_s, u"-password"_s, QString::fromLatin1(Password), gbk,
                               QString::fromLatin1(serverName(restored))});
        if (!gbak.waitForFinished(60000) || gbak.exitCode() != 0) {
            qWarning() << "gbak -c failed:" << gbak.readAllStandardError();
            return -1;
        }
        return rowCount(serverName(restored), table);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        try {
            fb::ServiceManager::attach("127.0.0.1", "SYSDBA", Password).detach();
        } catch (const std::exception& e) {
            const QString why = u"no Firebird server with SYSDBA/tavernfog on 127.0.0.1:3050 "
                                "(scripts/firebird-server.sh starts one): "_s +
                                QString::fromLocal8Bit(e.what());
            // The test script starts the server and asks for it: there a missing server is a failure.
            if (qEnvironmentVariableIsSet("VESTREL_REQUIRE_FIREBIRD_SERVER"))
                QFAIL(qPrintable(why));
            QSKIP(qPrintable(why));
        }
        // The server runs under its own user: it must reach the databases and the backup folders.
        QFile::setPermissions(m_dir.path(), QFileDevice::Permissions(0x7777));
        QVERIFY(QDir(m_dir.path()).mkdir(u"database"_s));
        QFile::setPermissions(m_dir.filePath(u"database"_s), QFileDevice::Permissions(0x7777));
        qputenv("VESTREL_PROGRAM_DIR", QFile::encodeName(m_dir.path()));

        createServerDatabase(dbPath(u"magazzino.fdb"_s), inserts("OPERATORI", 2));
        createServerDatabase(dbPath(u"contab.fdb"_s), inserts("OPERATORI", 1));
        createServerDatabase(dbPath(u"extra.fdb"_s), inserts("OPERATORI", 3));
        const QByteArray catalogue =
            "INSERT INTO DB (ID, DESCRIZIONE, HOST, FILEDB, UID, PWD, FINACTIVE) VALUES (1, 'Magazzino', '', '" +
            QFile::encodeName(dbPath(u"magazzino.fdb"_s)) + "', 'SYSDBA', 'tavernfog', 0);\n" +
            "INSERT INTO DB (ID, DESCRIZIONE, HOST, FILEDB, UID, PWD, FINACTIVE) VALUES (2, 'Vecchio', "
            "'127.0.0.1', '/nowhere/vecchio.fdb', 'SYSDBA', 'tavernfog', 1);\n" +
            "INSERT INTO IMP_CONTAB (ID, GDB_CONT) VALUES (1, '" + serverName(dbPath(u"contab.fdb"_s)) + "');\n";
        createServerDatabase(dbPath(u"main.fdb"_s), inserts("RICORRENZE", 300) + catalogue);
        // The main database through the server, user and password left to their defaults.
        writeIni(u"config.ini"_s,
                 "[Database]\r\nhost=127.0.0.1\r\nFile=" + QFile::encodeName(dbPath(u"main.fdb"_s)) + "\r\n");
    }

    void init() {
        QFile::remove(BackupLogPath());
        QFile::remove(m_dir.filePath(u"backup.state"_s));
    }

    // The main database, its catalogue, the accounting database and a bare [File] name: every .gbk
    // restores with all its rows; the inactive catalogue row and the unset second database are skipped.
    void serverBackupsRestore() {
        writeIni(u"backup.ini"_s, "[Setup]\r\nFreq=0\r\n[File]\r\nextra.fdb=\r\n");
        QCOMPARE(runVEBackupd({u"--run-now"_s, u"--pause-ms"_s, u"0"_s}), 0);

        const QString folder = rotationFolder();
        const QList<QByteArray> lines = logLines();
        // A start line and a result line per database, then the summary.
        QCOMPARE(lines.size(), 9);
        const QStringList names{u"main.gbk"_s, u"magazzino.gbk"_s, u"contab.gbk"_s, u"extra.gbk"_s};
        for (int i = 0; i < names.size(); ++i) {
            const QByteArray file = QFile::encodeName(folder + u'/' + names.at(i));
            QVERIFY2(lines.at(2 * i).endsWith(file), lines.at(2 * i).constData());
            QVERIFY2(lines.at(2 * i + 1).contains(QByteArray(" Done " + file + ", ")), lines.at(2 * i + 1).constData());
        }
        QVERIFY2(lines.last().contains(" Run ended: 4 backed up, 0 failed, 0 skipped"), lines.last().constData());

        QCOMPARE(restoredRows(folder + u"/main.gbk"_s, "RICORRENZE"), 300);
        QCOMPARE(restoredRows(folder + u"/main.gbk"_s, "DB"), 2);
        QCOMPARE(restoredRows(folder + u"/magazzino.gbk"_s, "OPERATORI"), 2);
        QCOMPARE(restoredRows(folder + u"/contab.gbk"_s, "OPERATORI"), 1);
        QCOMPARE(restoredRows(folder + u"/extra.gbk"_s, "OPERATORI"), 3);
        QVERIFY(QDir(folder).entryList({u"*.part*"_s}, QDir::Files).isEmpty());
    }

    // A backup the server cannot make is an "Error " line with the server's message; the run goes on
    // with the next database, the summary names the failure, the exit status says so, and last
    // week's backup of the failed database survives.
    void failingDatabaseDoesNotEndTheRun() {
        writeIni(u"backup.ini"_s, "[Setup]\r\nFile default=0\r\n[File]\r\nmissing.fdb=\r\nextra.fdb=\r\n");
        QDir().mkpath(rotationFolder());
        const QString previous = rotationFolder() + u"/missing.gbk"_s;
        testing::writeFile(previous, "last week's backup");
        QFile::remove(rotationFolder() + u"/extra.gbk"_s);

        QCOMPARE(runVEBackupd({u"--run-now"_s, u"--pause-ms"_s, u"0"_s}), 1);
        const QList<QByteArray> lines = logLines();
        QCOMPARE(lines.size(), 5);
        QVERIFY(lines.at(0).endsWith("/missing.gbk"));
        QVERIFY2(lines.at(1).contains(" Error ") && lines.at(1).contains("missing.fdb") &&
                     lines.at(1).contains("No such file"),
                 lines.at(1).constData());
        QVERIFY(lines.at(3).contains(" Done ") && lines.at(3).contains("/extra.gbk"));
        QVERIFY2(lines.at(4).contains(" Run ended: 1 backed up, 1 failed, 0 skipped; failed: ") &&
                     lines.at(4).contains("missing.fdb"),
                 lines.at(4).constData());
        QCOMPARE(testing::readFile(previous), QByteArray("last week's backup"));
        QCOMPARE(restoredRows(rotationFolder() + u"/extra.gbk"_s, "OPERATORI"), 3);
    }

    // Copies are databases of their own with all their rows; the log names the destinations.
    void copyBackups() {
        writeIni(u"backup.ini"_s, "[Setup]\r\nCompressed=1\r\n");
        QCOMPARE(runVEBackupd({u"--run-now"_s}), 0);
        const QList<QByteArray> lines = logLines();
        QCOMPARE(lines.size(), 7);
        QVERIFY(lines.at(0).endsWith("/main.fdb"));
        QCOMPARE(rowCount(serverName(rotationFolder() + u"/main.fdb"_s), "RICORRENZE"), 300);
        QCOMPARE(rowCount(serverName(rotationFolder() + u"/magazzino.fdb"_s), "OPERATORI"), 2);
        QCOMPARE(rowCount(serverName(rotationFolder() + u"/contab.fdb"_s), "OPERATORI"), 1);
        // The source databases are out of backup mode: they take writes to their own file again.
        QVERIFY(!QFile::exists(dbPath(u"main.fdb.delta"_s)));
    }

    // A copy cut short, by the process being killed or by a write that fails: the previous backup
    // stays as it was, the database is not left in backup mode, and a failure the program sees is an
    // "Error " line naming the source. The next run reports the killed run and removes its leftovers.
    void interruptedCopy() {
        createServerDatabase(dbPath(u"grande.fdb"_s), inserts("RICORRENZE", 3000));
        writeIni(u"backup.ini"_s, "[Setup]\r\nCompressed=1\r\nFile default=0\r\n[File]\r\ngrande.fdb=\r\n");
        QDir().mkpath(rotationFolder());
        const QString previous = rotationFolder() + u"/grande.fdb"_s;
        testing::writeFile(previous, "previous backup");

        const QStringList limit{u"prlimit"_s, u"--fsize=1048576"_s, u"--"_s};
        QCOMPARE(runVEBackupd({u"--run-now"_s}, limit), -1); // killed by SIGXFSZ in mid-copy
        QCOMPARE(testing::readFile(previous), QByteArray("previous backup"));
        QCOMPARE(QDir(rotationFolder()).entryList({u"grande.fdb.part-*"_s}, QDir::Files).size(), 1);

        const QStringList ignoringSignal{u"sh"_s, u"-c"_s, u"trap '' XFSZ; exec prlimit --fsize=1048576 -- \"$@\""_s,
                                         u"sh"_s};
        QCOMPARE(runVEBackupd({u"--run-now"_s}, ignoringSignal), 1);
        QCOMPARE(testing::readFile(previous), QByteArray("previous backup"));
        QVERIFY(QDir(rotationFolder()).entryList({u"grande.fdb.part-*"_s}, QDir::Files).isEmpty());
        QList<QByteArray> lines = logLines();
        const auto contains = [&lines](const QByteArray& text) {
            return std::any_of(lines.begin(), lines.end(), [&](const QByteArray& l) { return l.contains(text); });
        };
        QVERIFY(contains(" Error the run started "));
        QVERIFY(contains(" Warning ended the backup lock that an interrupted run left on "));
        QVERIFY(contains(" Error " + QFile::encodeName(dbPath(u"grande.fdb"_s)) + ": File too large"));

        QCOMPARE(runVEBackupd({u"--run-now"_s}), 0);
        QCOMPARE(rowCount(serverName(previous), "RICORRENZE"), 3000);
        QVERIFY(!QFile::exists(dbPath(u"grande.fdb.delta"_s)));
    }

    // Two databases with the same file name (two folders, and the same name on a port given
    // explicitly) keep a backup each, with their own rows.
    void sameNameDatabasesKeepTheirBackups() {
        QDir().mkpath(m_dir.filePath(u"a"_s));
        QDir().mkpath(m_dir.filePath(u"b"_s));
        QFile::setPermissions(m_dir.filePath(u"a"_s), QFileDevice::Permissions(0x7777));
        QFile::setPermissions(m_dir.filePath(u"b"_s), QFileDevice::Permissions(0x7777));
        createServerDatabase(m_dir.filePath(u"a/ditta.fdb"_s), inserts("OPERATORI", 4));
        createServerDatabase(m_dir.filePath(u"b/ditta.fdb"_s), inserts("OPERATORI", 7));
        const QByteArray a = serverName(m_dir.filePath(u"a/ditta.fdb"_s));
        const QByteArray b = "127.0.0.1/3050:" + QFile::encodeName(m_dir.filePath(u"b/ditta.fdb"_s));
        writeIni(u"backup.ini"_s, "[Setup]\r\nFile default=0\r\n[File]\r\n" + a + "=\r\n" + b + "=\r\n");
        QCOMPARE(runVEBackupd({u"--run-now"_s, u"--pause-ms"_s, u"0"_s}), 0);

        const QString gbkA = rotationFolder() + u"/ditta-"_s + QString::fromLatin1(Distinguisher(a)) + u".gbk"_s;
        const QString gbkB = rotationFolder() + u"/ditta-"_s + QString::fromLatin1(Distinguisher(b)) + u".gbk"_s;
        QCOMPARE(restoredRows(gbkA, "OPERATORI"), 4);
        QCOMPARE(restoredRows(gbkB, "OPERATORI"), 7);
        QVERIFY(!QFile::exists(rotationFolder() + u"/ditta.gbk"_s));
        const QList<QByteArray> lines = logLines();
        QCOMPARE(std::count_if(lines.begin(), lines.end(),
                               [](const QByteArray& l) { return l.contains("shares its file name"); }),
                 2);
        QVERIFY(lines.last().contains(" Run ended: 2 backed up, 0 failed, 0 skipped"));
    }

    // A copy taken while another connection commits all the time passes a full validation and opens.
    void copyWhileWriting() {
        createServerDatabase(dbPath(u"vivo.fdb"_s), inserts("RICORRENZE", 2000));
        writeIni(u"backup.ini"_s, "[Setup]\r\nCompressed=1\r\nFile default=0\r\nVerify=0\r\n[File]\r\nvivo.fdb=\r\n");
        std::atomic<bool> done{false};
        std::atomic<int> commits{0};
        std::unique_ptr<QThread> writer(QThread::create([&] {
            fb::Attachment attachment = fb::Attachment::attach(serverName(dbPath(u"vivo.fdb"_s)), ServerUser);
            for (int id = 100000; !done; ++id) {
                fb::Transaction transaction(attachment);
                attachment.execute(transaction,
                                   "INSERT INTO RICORRENZE (ID, DESCRIZIONE, MESSAGGIO, CRITERIO) VALUES (" +
                                       QByteArray::number(id) + ", 'Nuova', '" + QByteArray(200, 'x') + "', 1)");
                attachment.execute(transaction, "UPDATE RICORRENZE SET DESCRIZIONE = 'Cambiata' WHERE ID = " +
                                                    QByteArray::number(id % 2000 + 1));
                transaction.commit();
                ++commits;
            }
        }));
        writer->start();
        QTRY_VERIFY_WITH_TIMEOUT(commits > 50, 20000);
        const int status = runVEBackupd({u"--run-now"_s});
        const int before = commits;
        QTRY_VERIFY_WITH_TIMEOUT(commits > before + 20, 20000); // the writer went on during and after
        done = true;
        QVERIFY(writer->wait(20000));
        QCOMPARE(status, 0);

        const QString copy = rotationFolder() + u"/vivo.fdb"_s;
        QProcess gfix;
        gfix.start(u"gfix"_s, {u"-v"_s, u"-full"_s, u"-user"_s, u"SYSDBA"_s, u"-password"_s,
                               QString::fromLatin1(Password), QString::fromLatin1(serverName(copy))});
        QVERIFY(gfix.waitForFinished(60000));
        QVERIFY2(gfix.exitCode() == 0 && gfix.readAll().isEmpty(), gfix.readAllStandardError().constData());
        QVERIFY(rowCount(serverName(copy), "RICORRENZE") >= 2000);
        QVERIFY(!QFile::exists(dbPath(u"vivo.fdb.delta"_s)));
    }

    // Two runs at once take turns: both finish and their backups restore. With --no-wait the second
    // says so and leaves with status 3.
    void runsTakeTurns() {
        writeIni(u"backup.ini"_s, "[Setup]\r\nFile default=0\r\nVerify=0\r\n[File]\r\nextra.fdb=\r\n");
        QProcess first;
        startVEBackupd(first, {u"--run-now"_s, u"--pause-ms"_s, u"3000"_s});
        QTRY_VERIFY_WITH_TIMEOUT(!logLines().isEmpty(), 20000); // the first run holds the plan
        QCOMPARE(runVEBackupd({u"--run-now"_s, u"--no-wait"_s}), 3);
        QElapsedTimer waited;
        waited.start();
        QCOMPARE(runVEBackupd({u"--run-now"_s, u"--pause-ms"_s, u"0"_s}), 0);
        QVERIFY(first.waitForFinished(60000));
        QCOMPARE(first.exitCode(), 0);
        QVERIFY(waited.elapsed() > 1000); // the second run waited for the pause of the first

        const QList<QByteArray> lines = logLines();
        QCOMPARE(std::count_if(lines.begin(), lines.end(),
                               [](const QByteArray& l) { return l.contains(" Run ended: 1 backed up, 0 failed"); }),
                 2);
        // The first run's summary comes before the second run's start line.
        const auto firstEnd =
            std::find_if(lines.begin(), lines.end(), [](const QByteArray& l) { return l.contains(" Run ended: "); });
        QVERIFY(std::none_of(lines.begin(), firstEnd, [](const QByteArray& l) { return l.contains(" Run ended"); }));
        QCOMPARE(std::count_if(lines.begin(), firstEnd, [](const QByteArray& l) { return l.endsWith("/extra.gbk"); }),
                 1);
        QCOMPARE(restoredRows(rotationFolder() + u"/extra.gbk"_s, "OPERATORI"), 3);
    }

    // A run killed in the middle: the next run says so, removes the leftovers in every rotation folder,
    // and makes its backups.
    void killedRunIsReported() {
        writeIni(u"backup.ini"_s, "[Setup]\r\nFile default=0\r\n[File]\r\nextra.fdb=\r\nmagazzino.fdb=\r\n");
        const QString otherFolder =
            m_dir.filePath(u"database/backup/%1d"_s.arg(QDate::currentDate().dayOfWeek() % 7 + 1));
        QDir().mkpath(otherFolder);
        const QString leftover = otherFolder + u"/vecchio.gbk.part-Ab12Cd"_s;
        testing::writeFile(leftover, "half a backup");
        QProcess victim;
        startVEBackupd(victim, {u"--run-now"_s, u"--pause-ms"_s, u"30000"_s});
        QTRY_VERIFY_WITH_TIMEOUT(logLines().join('\n').contains(" Done "), 30000);
        victim.kill(); // SIGKILL: no summary line
        QVERIFY(victim.waitForFinished(10000));
        QVERIFY(!logLines().last().contains("Run ended"));

        QCOMPARE(runVEBackupd({u"--run-now"_s, u"--pause-ms"_s, u"0"_s}), 0);
        const QList<QByteArray> lines = logLines();
        QVERIFY(std::any_of(lines.begin(), lines.end(), [](const QByteArray& l) {
            return l.contains(" Error the run started ") && l.contains(" did not end");
        }));
        QVERIFY(std::any_of(lines.begin(), lines.end(), [&](const QByteArray& l) {
            return l.contains(QByteArray(" Removed " + QFile::encodeName(leftover)));
        }));
        QVERIFY(!QFile::exists(leftover));
        QVERIFY(lines.last().contains(" Run ended: 2 backed up, 0 failed"));
        QCOMPARE(restoredRows(rotationFolder() + u"/magazzino.gbk"_s, "OPERATORI"), 2);
    }

    // A copy that fails its check (a damaged data page) is an "Error " line and the previous backup
    // stays.
    void failedCheckKeepsThePreviousBackup() {
        createServerDatabase(dbPath(u"guasto.fdb"_s), inserts("RICORRENZE", 500));
        // Damage the first data page of a user table; the server has closed the file by now.
        QFile file(dbPath(u"guasto.fdb"_s));
        QVERIFY(file.open(QIODevice::ReadWrite));
        const QByteArray header = file.read(64);
        const int pageSize = int(quint8(header[16])) | int(quint8(header[17])) << 8;
        bool damaged = false;
        for (qint64 page = 1; !damaged && page * pageSize < file.size(); ++page) {
            file.seek(page * pageSize);
            const QByteArray bytes = file.read(pageSize);
            const int relation = int(quint8(bytes[20])) | int(quint8(bytes[21])) << 8;
            if (bytes[0] == 5 && relation >= 128) { // a data page of a user table
                file.seek(page * pageSize + 24);
                file.write(QByteArray(pageSize - 24, '\xA5'));
                damaged = true;
            }
        }
        file.close();
        QVERIFY(damaged);
        writeIni(u"backup.ini"_s, "[Setup]\r\nCompressed=1\r\nFile default=0\r\n[File]\r\nguasto.fdb=\r\n");
        QDir().mkpath(rotationFolder());
        const QString previous = rotationFolder() + u"/guasto.fdb"_s;
        testing::writeFile(previous, "last good backup");
        QCOMPARE(runVEBackupd({u"--run-now"_s}), 1);
        QCOMPARE(testing::readFile(previous), QByteArray("last good backup"));
        const QList<QByteArray> lines = logLines();
        QVERIFY2(lines.at(1).contains(" Error ") && lines.at(1).contains("validation"), lines.at(1).constData());
        QVERIFY(QDir(rotationFolder()).entryList({u"guasto.fdb.part-*"_s}, QDir::Files).isEmpty());
    }

    // A server backup whose test restore cannot be opened (a connect trigger that refuses every file
    // but the original, as a restored copy would) is an "Error " line; last week's backup stays and
    // neither the new backup nor the scratch database is left behind.
    void failedServerCheckKeepsThePreviousBackup() {
        createDatabaseOpenOnlyUnderItsName(dbPath(u"solo.fdb"_s));
        writeIni(u"backup.ini"_s, "[Setup]\r\nFile default=0\r\n[File]\r\nsolo.fdb=\r\n");
        QDir().mkpath(rotationFolder());
        const QString previous = rotationFolder() + u"/solo.gbk"_s;
        testing::writeFile(previous, "last week's backup");

        QCOMPARE(runVEBackupd({u"--run-now"_s, u"--pause-ms"_s, u"0"_s}), 1);
        QCOMPARE(testing::readFile(previous), QByteArray("last week's backup"));
        const QList<QByteArray> lines = logLines();
        QVERIFY2(lines.at(1).contains(" Error ") && lines.at(1).contains("does not restore") &&
                     lines.at(1).contains("ALTROVE"),
                 lines.at(1).constData());
        QCOMPARE(QDir(rotationFolder()).entryList({u"solo.gbk?*"_s}, QDir::Files | QDir::Hidden), QStringList());
    }

    // The check of a backup on another machine's server names its scratch database after the backup:
    // one left by a killed run is replaced, and the scratch is dropped through the server whether the
    // check passes or not (here the loopback server stands in for the other machine).
    void checkOnAnotherServerLeavesNoScratch() {
        const QString gbk = dbPath(u"altrove.gbk"_s);
        const QString scratch = gbk + u".part-check"_s;
        auto serverBackup = [](const QString& database, const QString& target) {
            QFile::remove(target);
            return QProcess::execute(u"gbak"_s, {u"-b"_s, u"-se"_s, u"127.0.0.1:service_mgr"_s, u"-user"_s, u"SYSDBA"_s,
                                                 u"-password"_s, QString::fromLatin1(Password), database, target});
        };
        QCOMPARE(serverBackup(dbPath(u"magazzino.fdb"_s), gbk), 0);
        QCOMPARE(QProcess::execute(u"gbak"_s,
                                   {u"-c"_s, u"-user"_s, u"SYSDBA"_s, u"-password"_s, QString::fromLatin1(Password),
                                    gbk, QString::fromLatin1(serverName(scratch))}),
                 0);
        QCOMPARE(serverBackup(dbPath(u"extra.fdb"_s), gbk), 0);
        VerifyServerBackup("127.0.0.1", "SYSDBA", Password, QFile::encodeName(gbk), false);
        QVERIFY(!QFile::exists(scratch));

        createDatabaseOpenOnlyUnderItsName(dbPath(u"altrove.fdb"_s));
        QCOMPARE(serverBackup(dbPath(u"altrove.fdb"_s), gbk), 0);
        QVERIFY_THROWS_EXCEPTION(BackupError,
                                 VerifyServerBackup("127.0.0.1", "SYSDBA", Password, QFile::encodeName(gbk), false));
        QVERIFY(!QFile::exists(scratch));
    }

    // Settings that would hide the plan stop the run visibly; --check-config prints the plan.
    void badSettingsAreVisible() {
        writeIni(u"backup.ini"_s, "[Setup]\r\nPath=\r\n");
        QCOMPARE(runVEBackupd({u"--run-now"_s}), 1);
        QList<QByteArray> lines = logLines();
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.at(0).contains(" Error backup.ini [Setup] Path is empty"), lines.at(0).constData());
        QVERIFY(lines.at(1).contains(" Run ended: 0 backed up, 1 failed"));

        QFile::remove(BackupLogPath());
        writeIni(u"backup.ini"_s, "[Setup]\r\nFreq=1\r\n");
        QFile::setPermissions(m_dir.filePath(u"backup.ini"_s), QFileDevice::Permissions{});
        if (!QFile(m_dir.filePath(u"backup.ini"_s)).open(QIODevice::ReadOnly)) { // root reads anything
            QCOMPARE(runVEBackupd({u"--run-now"_s}), 1);
            QVERIFY(logLines().at(0).contains(" Error cannot read "));
        }
        QFile::setPermissions(m_dir.filePath(u"backup.ini"_s), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QFile::remove(BackupLogPath());
    }

    void checkConfig() {
        const QStringList before = QDir(rotationFolder()).entryList(QDir::Files);
        writeIni(u"backup.ini"_s, "[Setup]\r\nFile default=0\r\n[File]\r\nextra.fdb=\r\n127.0.0.1:/x/extra.fdb=\r\n");
        QProcess check;
        startVEBackupd(check, {u"--check-config"_s});
        QVERIFY(check.waitForFinished(30000));
        QCOMPARE(check.exitCode(), 0);
        const QByteArray out = check.readAllStandardOutput();
        QVERIFY2(
            out.contains(QByteArray("  " + QFile::encodeName(dbPath(u"extra.fdb"_s)) + " (backup.ini [File]) -> ")),
            out.constData());
        QVERIFY2(out.contains("127.0.0.1:/x/extra.fdb (backup.ini [File]) -> ") && out.contains("/extra-"),
                 out.constData());
        QVERIFY(out.contains("The plan can run."));
        QVERIFY(logLines().isEmpty());
        QCOMPARE(QDir(rotationFolder()).entryList(QDir::Files), before);

        writeIni(u"backup.ini"_s, "[Setup]\r\nOra=25.00\r\n");
        startVEBackupd(check, {u"--check-config"_s});
        QVERIFY(check.waitForFinished(30000));
        QCOMPARE(check.exitCode(), 1);
        QVERIFY(check.readAllStandardOutput().contains("Problem: backup.ini [Setup] Ora=25.00: not a time of day"));
    }

    // After a run with failures the OnFailure command gets the summary as "$1" and on its input; a
    // command that fails is logged and changes nothing else.
    void failureCommand() {
        const QString out = m_dir.filePath(u"avviso.txt"_s);
        writeIni(u"backup.ini"_s, "[Setup]\r\nFile default=0\r\nOnFailure=printf '%s|' \"$1\" > " +
                                      QFile::encodeName(out) + "; cat >> " + QFile::encodeName(out) +
                                      "\r\n[File]\r\nmissing.fdb=\r\n");
        QCOMPARE(runVEBackupd({u"--run-now"_s, u"--pause-ms"_s, u"0"_s}), 1);
        const QByteArray summary = logLines().last().mid(logLines().last().indexOf("Run ended"));
        QCOMPARE(testing::readFile(out), summary + '|' + summary + '\n');

        writeIni(u"backup.ini"_s, "[Setup]\r\nFile default=0\r\nOnFailure=exit 7\r\n[File]\r\nmissing.fdb=\r\n");
        QCOMPARE(runVEBackupd({u"--run-now"_s, u"--pause-ms"_s, u"0"_s}), 1);
        QVERIFY(logLines().last().contains(" Warning the OnFailure command failed with status 7"));
    }

    // A file the server cannot lock for a backup is never copied live: an "Error " line, no copy.
    void copyWithoutTheLockIsRefused() {
        testing::writeFile(dbPath(u"nonundb.fdb"_s), QByteArray(64 << 10, 'x'));
        writeIni(u"backup.ini"_s, "[Setup]\r\nCompressed=1\r\nFile default=0\r\n[File]\r\nnonundb.fdb=\r\n");
        QCOMPARE(runVEBackupd({u"--run-now"_s}), 1);
        const QList<QByteArray> lines = logLines();
        QCOMPARE(lines.size(), 2);
        QVERIFY2(
            lines.at(0).contains(QByteArray(" Error " + QFile::encodeName(dbPath(u"nonundb.fdb"_s)) +
                                            ": the database's backup lock cannot be taken, so no copy was made: ")),
            lines.at(0).constData());
        QVERIFY(!QFile::exists(rotationFolder() + u"/nonundb.fdb"_s));
        QFile::remove(dbPath(u"nonundb.fdb"_s));
    }

    void copyFromAnotherHostIsRefused() {
        writeIni(u"backup.ini"_s, "[Setup]\r\nCompressed=1\r\nFile default=0\r\n[File]\r\nufficio2:/dati/a.fdb=\r\n");
        QCOMPARE(runVEBackupd({u"--run-now"_s}), 1);
        const QList<QByteArray> lines = logLines();
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.at(0).contains(" Error \\\\ufficio2\\/dati/a.fdb: "), lines.at(0).constData());
    }

    // The daemon: SIGTERM ends it between runs with the stop line after the start line.
    void daemonStartAndStop() {
        writeIni(u"backup.ini"_s, "[Setup]\r\nFreq=9\r\n");
        QProcess daemon;
        startVEBackupd(daemon, QStringList{});
        QVERIFY(daemon.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(logLines().size(), 1, 10000);
        daemon.terminate();
        QVERIFY(daemon.waitForFinished(10000));
        QCOMPARE(daemon.exitStatus(), QProcess::NormalExit);
        QCOMPARE(daemon.exitCode(), 0);
        const QList<QByteArray> lines = logLines();
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.at(0).startsWith("Service started "));
        QVERIFY(lines.at(1).startsWith("Service stopped "));
    }

    // The machine lost power during a run: the service reports it as it starts, once.
    void daemonReportsARunThatDidNotEnd() {
        writeIni(u"backup.ini"_s, "[Setup]\r\nFreq=9\r\n");
        writeIni(u"backup.state"_s, "[Run]\r\nStarted=2026-12-07T09:00:00\r\nEnded=2026-12-06T09:00:40\r\n");
        for (int start = 0; start < 2; ++start) {
            QProcess daemon;
            startVEBackupd(daemon, QStringList{});
            QVERIFY(daemon.waitForStarted());
            QTRY_VERIFY_WITH_TIMEOUT(logLines().size() >= 2 + 2 * start, 10000);
            daemon.terminate();
            QVERIFY(daemon.waitForFinished(10000));
        }
        const QList<QByteArray> lines = logLines();
        QCOMPARE(lines.size(), 5);
        QVERIFY2(lines.at(1).contains(" Error the run started ") && lines.at(1).contains(" did not end"),
                 lines.at(1).constData());
        QVERIFY(lines.at(3).startsWith("Service started "));
    }

    void commandLine() {
        QCOMPARE(runVEBackupd({u"--help"_s}), 0);
        QCOMPARE(runVEBackupd({u"--now"_s}), 2);
        QCOMPARE(runVEBackupd({u"--run-now"_s, u"extra"_s}), 2);
        QCOMPARE(runVEBackupd({u"--run-now"_s, u"--pause-ms"_s, u"soon"_s}), 2);
        QVERIFY(logLines().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestBackupRun)
#include "test_backup_run.moc"
