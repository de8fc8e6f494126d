// Whole backup runs of VEBackupd against the Firebird server on 127.0.0.1:3050 (scripts/test.sh starts
// one): server backups that restore, failures in the log and the exit status, copy backups, an
// interrupted copy, and the daemon's start and stop lines.

#include "backup/BackupLog.h"
#include "backup/BackupPaths.h"
#include "fb/Attachment.h"
#include "fb/Query.h"
#include "fb/Script.h"
#include "fb/ServiceManager.h"
#include "fb/Transaction.h"
#include "tests/support/TestFiles.h"

#include <QDate>
#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

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

    // VEBackupd in the test's program folder; returns its exit code (-1 when it crashed).
    int runVEBackupd(const QStringList& arguments, const QStringList& wrapper = {}) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"VESTREL_PROGRAM_DIR"_s, m_dir.path());
        process.setProcessEnvironment(env);
        const QString program = qEnvironmentVariable("VESTREL_BIN_DIR") + u"/VEBackupd"_s;
        if (wrapper.isEmpty())
            process.start(program, arguments);
        else
            process.start(wrapper.first(), wrapper.mid(1) + QStringList{program} + arguments);
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

    void init() { QFile::remove(BackupLogPath()); }

    // The main database, its catalogue, the accounting database and a bare [File] name: every .gbk
    // restores with all its rows; the inactive catalogue row and the unset second database are skipped.
    void serverBackupsRestore() {
        writeIni(u"backup.ini"_s, "[Setup]\r\nFreq=0\r\n[File]\r\nextra.fdb=\r\n");
        QCOMPARE(runVEBackupd({u"--run-now"_s, u"--pause-ms"_s, u"0"_s}), 0);

        const QString folder = rotationFolder();
        const QList<QByteArray> lines = logLines();
        QCOMPARE(lines.size(), 4);
        const QStringList names{u"main.gbk"_s, u"magazzino.gbk"_s, u"contab.gbk"_s, u"extra.gbk"_s};
        for (int i = 0; i < names.size(); ++i)
            QVERIFY2(lines.at(i).endsWith(QFile::encodeName(folder + u'/' + names.at(i))), lines.at(i).constData());

        QCOMPARE(restoredRows(folder + u"/main.gbk"_s, "RICORRENZE"), 300);
        QCOMPARE(restoredRows(folder + u"/main.gbk"_s, "DB"), 2);
        QCOMPARE(restoredRows(folder + u"/magazzino.gbk"_s, "OPERATORI"), 2);
        QCOMPARE(restoredRows(folder + u"/contab.gbk"_s, "OPERATORI"), 1);
        QCOMPARE(restoredRows(folder + u"/extra.gbk"_s, "OPERATORI"), 3);
        QVERIFY(QDir(folder).entryList({u"*.part"_s}, QDir::Files).isEmpty());
    }

    // A backup the server cannot make: one "Error " line with the server's message, the run ends,
    // the exit status says so, and last week's backup of that database survives.
    void failingServerBackup() {
        writeIni(u"backup.ini"_s, "[Setup]\r\nFile default=0\r\n[File]\r\nmissing.fdb=\r\nextra.fdb=\r\n");
        QDir().mkpath(rotationFolder());
        const QString previous = rotationFolder() + u"/missing.gbk"_s;
        testing::writeFile(previous, "last week's backup");

        QCOMPARE(runVEBackupd({u"--run-now"_s, u"--pause-ms"_s, u"0"_s}), 1);
        const QList<QByteArray> lines = logLines();
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.at(0).endsWith("/missing.gbk"));
        QVERIFY2(lines.at(1).contains(" Error ") && lines.at(1).contains("missing.fdb") &&
                     lines.at(1).contains("No such file"),
                 lines.at(1).constData());
        QCOMPARE(testing::readFile(previous), QByteArray("last week's backup"));
    }

    // Copies equal their sources byte for byte; the log names the destinations.
    // The service reads the catalogue after copying the main database, which changes that file's
    // header: compare with the files as they were before the run.
    void copyBackups() {
        writeIni(u"backup.ini"_s, "[Setup]\r\nCompressed=1\r\n");
        const QStringList names{u"main.fdb"_s, u"magazzino.fdb"_s, u"contab.fdb"_s};
        QList<QByteArray> sources;
        for (const QString& name : names)
            sources.append(testing::readFile(dbPath(name)));
        QCOMPARE(runVEBackupd({u"--run-now"_s}), 0);
        const QList<QByteArray> lines = logLines();
        QCOMPARE(lines.size(), 3);
        for (qsizetype i = 0; i < names.size(); ++i) {
            const QByteArray copy = testing::readFile(rotationFolder() + u'/' + names.at(i));
            QVERIFY(!copy.isEmpty());
            QVERIFY2(copy == sources.at(i), qPrintable(names.at(i)));
        }
        QVERIFY(lines.at(0).endsWith("/main.fdb"));
    }

    // A copy cut short, by the process being killed or by a write that fails: the previous backup
    // stays as it was; a failure the program sees is an "Error " line naming the source.
    void interruptedCopy() {
        QByteArray big(4 << 20, '\0');
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(big.data()), big.size() / 4);
        testing::writeFile(dbPath(u"grande.fdb"_s), big);
        writeIni(u"backup.ini"_s, "[Setup]\r\nCompressed=1\r\nFile default=0\r\n[File]\r\ngrande.fdb=\r\n");
        QDir().mkpath(rotationFolder());
        const QString previous = rotationFolder() + u"/grande.fdb"_s;
        testing::writeFile(previous, "previous backup");

        const QStringList limit{u"prlimit"_s, u"--fsize=1048576"_s, u"--"_s};
        QCOMPARE(runVEBackupd({u"--run-now"_s}, limit), -1); // killed by SIGXFSZ in mid-copy
        QCOMPARE(testing::readFile(previous), QByteArray("previous backup"));
        // The killed copy's temporary file stays behind until the next copy to the same file.
        const QStringList left = QDir(rotationFolder()).entryList({u"grande.fdb.part-*"_s}, QDir::Files);
        QCOMPARE(left.size(), 1);

        const QStringList ignoringSignal{u"sh"_s, u"-c"_s, u"trap '' XFSZ; exec prlimit --fsize=1048576 -- \"$@\""_s,
                                         u"sh"_s};
        QCOMPARE(runVEBackupd({u"--run-now"_s}, ignoringSignal), 1);
        QCOMPARE(testing::readFile(previous), QByteArray("previous backup"));
        QVERIFY(QDir(rotationFolder()).entryList({u"grande.fdb.part-*"_s}, QDir::Files).isEmpty());
        const QList<QByteArray> lines = logLines();
        QVERIFY(!lines.isEmpty());
        const QByteArray expected = " Error " + QFile::encodeName(dbPath(u"grande.fdb"_s)) + ": File too large";
        QVERIFY2(lines.last().contains(expected), lines.last().constData());

        QCOMPARE(runVEBackupd({u"--run-now"_s}), 0);
        QCOMPARE(testing::readFile(previous), big);
        QFile::remove(dbPath(u"grande.fdb"_s));
    }

    void copyFromAnotherHostIsRefused() {
        writeIni(u"backup.ini"_s, "[Setup]\r\nCompressed=1\r\nFile default=0\r\n[File]\r\nufficio2:/dati/a.fdb=\r\n");
        QCOMPARE(runVEBackupd({u"--run-now"_s}), 1);
        const QList<QByteArray> lines = logLines();
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.at(0).contains(" Error \\\\ufficio2\\/dati/a.fdb: "), lines.at(0).constData());
    }

    // The daemon: SIGTERM ends it between runs with the stop line after the start line.
    void daemonStartAndStop() {
        writeIni(u"backup.ini"_s, "[Setup]\r\nFreq=9\r\n");
        QProcess daemon;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"VESTREL_PROGRAM_DIR"_s, m_dir.path());
        daemon.setProcessEnvironment(env);
        daemon.start(qEnvironmentVariable("VESTREL_BIN_DIR") + u"/VEBackupd"_s, QStringList{});
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
